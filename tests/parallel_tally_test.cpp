// The parallel tally driven directly, with its test hooks: a flush limit far
// below the 32-bit one, so that small data passes through many flushes of
// the workers' 32-bit tallies into the 64-bit total, and workers held back,
// so that the reader must tally slots itself. Every sum is compared with
// counts made independently: literal counts for a repeated packet, and the
// single-threaded loop (which counts the type of data packets directly, not
// from the pixel tallies) for mixed data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "format/Packet.h"
#include "scan/PacketTally.h"
#include "scan/ParallelTally.h"

using namespace morven;

namespace {

constexpr size_t SLOT = ParallelTally::SLOT_WORDS;
// Ring memory for every case: one slot more than the most any start uses
// with the thread counts below.
constexpr size_t RING_SLOTS = 8;

struct Sums {
  std::vector<uint64_t> types = std::vector<uint64_t>(TYPE_COUNTERS);
  std::vector<uint64_t> pixels = std::vector<uint64_t>(PIXEL_COUNTERS);
  std::vector<uint64_t> toas = std::vector<uint64_t>(TOA_COUNTERS);
  TallyCounters view() { return {types.data(), pixels.data(), toas.data()}; }
};

// "" if a and b hold the same counts, else the first counter that differs.
std::string difference(const Sums& a, const Sums& b) {
  const std::vector<uint64_t> Sums::*tables[] = {&Sums::types, &Sums::pixels, &Sums::toas};
  const char* names[] = {"type", "pixel", "ToA"};
  for (size_t t = 0; t < 3; ++t) {
    const std::vector<uint64_t>& x = a.*tables[t];
    const std::vector<uint64_t>& y = b.*tables[t];
    const auto d = std::mismatch(x.begin(), x.end(), y.begin());
    if (d.first == x.end()) continue;
    std::ostringstream s;
    s << names[t] << " counter " << (d.first - x.begin()) << ": " << *d.first << " against "
      << *d.second;
    return s.str();
  }
  return "";
}

// Words read from one chunk; newSlot hands the slot being filled over
// first, as a read larger than its room does.
struct Piece {
  size_t words;
  bool toaChunk;
  bool newSlot;
};

// Gives words to the tally as the scan's reader does: room, copy, add.
void feed(ParallelTally& t, const uint64_t* words, const std::vector<Piece>& pieces) {
  for (const Piece& p : pieces) {
    size_t left = p.words;
    bool first = true;
    while (left > 0) {
      const ParallelTally::Room r = t.room(first && p.newSlot ? SLOT : left);
      const size_t n = std::min(left, r.capacity);
      std::copy_n(words, n, r.words);
      t.add(n, p.toaChunk ? ChunkKind::ToaTot : ChunkKind::Other, 0);
      words += n;
      left -= n;
      first = false;
    }
  }
}

size_t wordCount(const std::vector<Piece>& pieces) {
  size_t n = 0;
  for (const Piece& p : pieces) n += p.words;
  return n;
}

// The same words tallied on this thread alone, piece by piece.
Sums singleThreaded(const std::vector<uint64_t>& words, const std::vector<Piece>& pieces,
                    uint64_t delivered, PacketForm form) {
  Sums s;
  size_t at = 0;
  for (const Piece& p : pieces) {
    tallyWords<true>(s.view(), words.data() + at, p.words, delivered + at, p.toaChunk, form);
    at += p.words;
  }
  return s;
}

// Packets of every sort, the same for the same seed: pixel data of both
// halves (a hot pixel among them), zero fill words and control codes.
std::vector<uint64_t> mixedWords(uint64_t seed, size_t n) {
  uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
  std::vector<uint64_t> w(n);
  for (uint64_t& v : w) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    switch (x % 8) {
      case 0:
        v = 0;
        break;
      case 1:
        v = controlPacket((x & 2) != 0, VX7_EOC_HEARTBEAT + (x >> 8) % 32, x >> 20);
        break;
      case 2:
        v = toaTotPacket(pixelIndexAt(100, 300), 4321, 1, 2, 3, 4, 55, false);
        break;
      default:
        v = (x & 0x807FFFFFFFFFFFFFULL) | ((x >> 8) % VX7_EOC_MAX_COLS) << 55;
    }
  }
  return w;
}

// Pieces of irregular sizes, ToA/ToT and counting chunks in turn, some
// larger than a slot, and a stretch of one-word chunks of alternating type
// (slots handed over for their number of segments).
std::vector<Piece> mixedPieces(uint64_t seed, size_t count) {
  std::vector<Piece> p;
  uint64_t x = seed + 12345;
  for (size_t i = 0; i < count; ++i) {
    x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    p.push_back({1 + size_t(x >> 33) % 45000, i % 3 != 1, (x >> 20) % 4 == 0});
    if (i == count / 2) {
      for (size_t k = 0; k < 3000; ++k) p.push_back({1, k % 2 == 0, false});
    }
  }
  return p;
}

// ---- Flushes of a repeated packet: one worker, so every count is known -----

struct RepeatCase {
  const char* name;
  uint64_t flushWords;
  uint64_t flushes;   // 50 slots of 1000 words, flushWords / 1000 at a time
  uint64_t mostHeld;  // words in the worker's tallies before a flush
};

void PrintTo(const RepeatCase& c, std::ostream* os) {
  *os << c.name;
}

class RepeatedPacket : public ::testing::TestWithParam<RepeatCase> {};

// 50 slots, each 600 words of a pixel packet from a ToA/ToT chunk and 400 of
// a control packet from a counting chunk. The total starts at counts near
// and at the 32-bit limit, which every flush carries past.
TEST_P(RepeatedPacket, EveryFlushAddsOnce) {
  const RepeatCase& c = GetParam();
  constexpr uint64_t SLOTS = 50;
  const uint64_t pixel = toaTotPacket(pixelIndexAt(7, 400), 0xBEEF, 1, 2, 3, 4, 5, true);
  const uint64_t control = controlPacket(false, VX7_EOC_HEARTBEAT, 99);
  std::vector<uint64_t> words;
  std::vector<Piece> pieces;
  for (uint64_t i = 0; i < SLOTS; ++i) {
    words.insert(words.end(), 600, pixel);
    words.insert(words.end(), 400, control);
    pieces.push_back({600, true, true});
    pieces.push_back({400, false, false});
  }
  const uint64_t start = UINT32_MAX - 20000;
  Sums expected;
  expected.types[packetType(pixel)] = start + SLOTS * 600;
  expected.types[VX7_EOC_HEARTBEAT] = UINT32_MAX + SLOTS * 400;
  expected.pixels[packetPixelIndex(pixel)] = UINT32_MAX + SLOTS * 600;
  expected.toas[0xBEEF] = start + SLOTS * 600;

  Sums total;
  total.types[packetType(pixel)] = start;
  total.types[VX7_EOC_HEARTBEAT] = UINT32_MAX;
  total.pixels[packetPixelIndex(pixel)] = UINT32_MAX;
  total.toas[0xBEEF] = start;
  std::vector<uint64_t> ring(RING_SLOTS * SLOT);
  ParallelTally t(ring.data(), ring.size(), total.view(), PacketForm{false, false, false}, 0,
                  nullptr, c.flushWords);
  // One tallying thread: one worker, and a reader that only reads.
  ASSERT_EQ(t.start(1), 1);
  feed(t, words.data(), pieces);
  t.finish();
  EXPECT_EQ(difference(total, expected), "");
  EXPECT_EQ(t.counts().flushes, c.flushes);
  EXPECT_EQ(t.counts().mostHeld, c.mostHeld);
  EXPECT_EQ(t.counts().readerSlots, 0u);
}

// A flush comes before the slot that would take the tallies past the limit:
// at a limit of 3000 the worker holds three slots, one word less and it
// holds two. A limit above the 32-bit one is taken as the 32-bit one.
INSTANTIATE_TEST_SUITE_P(Limits, RepeatedPacket,
                         ::testing::Values(RepeatCase{"OneBelowThreeSlots", 2999, 25, 2000},
                                           RepeatCase{"ThreeSlots", 3000, 17, 3000},
                                           RepeatCase{"OneAboveThreeSlots", 3001, 17, 3000},
                                           RepeatCase{"OneSlot", 1000, 50, 1000},
                                           RepeatCase{"ThirtyTwoBit", UINT32_MAX, 1, 50000},
                                           RepeatCase{"AboveThirtyTwoBit", UINT64_MAX, 1, 50000}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Many flushes on several threads, mixed data ----------------------------

struct MixedCase {
  const char* name;
  int tallying;
  PacketForm form;
  uint64_t flushWords;
};

void PrintTo(const MixedCase& c, std::ostream* os) {
  *os << c.name;
}

class MixedData : public ::testing::TestWithParam<MixedCase> {};

TEST_P(MixedData, SameAsOneThread) {
  const MixedCase& c = GetParam();
  const std::vector<Piece> pieces = mixedPieces(uint64_t(c.tallying), 40);
  const std::vector<uint64_t> words = mixedWords(uint64_t(c.tallying) + 7, wordCount(pieces));
  // Not a multiple of a Pelvan block: the place in the block is counted on
  // from the words before.
  constexpr uint64_t DELIVERED = 1001;
  const Sums expected = singleThreaded(words, pieces, DELIVERED, c.form);
  Sums total;
  std::vector<uint64_t> ring(RING_SLOTS * SLOT);
  ParallelTally t(ring.data(), ring.size(), total.view(), c.form, DELIVERED, nullptr, c.flushWords);
  ASSERT_GT(t.start(c.tallying), 0);
  feed(t, words.data(), pieces);
  t.finish();
  EXPECT_EQ(difference(total, expected), "");
  // Each flush empties tallies of at most flushWords words.
  EXPECT_LE(t.counts().mostHeld, c.flushWords);
  EXPECT_GE(t.counts().flushes, (words.size() + c.flushWords - 1) / c.flushWords);
}

constexpr PacketForm PLAIN{false, false, false};

INSTANTIATE_TEST_SUITE_P(
    Threads, MixedData,
    ::testing::Values(MixedCase{"TwoThreads", 2, PLAIN, 40000},
                      MixedCase{"ThreeThreads", 3, PLAIN, 2 * SLOT},
                      MixedCase{"FiveThreadsSlotLimit", 5, PLAIN, SLOT},
                      MixedCase{"ThreeThreadsReversed", 3, PacketForm{true, true, false}, 50000},
                      MixedCase{"ThreeThreadsPelvan", 3, PacketForm{false, false, true}, 50000}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The reader tallies while the workers are held --------------------------

struct HeldCase {
  const char* name;
  int tallying;
  size_t slots;    // full slots given while held
  size_t partial;  // words of a last slot handed over by finish()
  bool release;    // the workers let go before finish()
  uint64_t flushWords;
};

void PrintTo(const HeldCase& c, std::ostream* os) {
  *os << c.name;
}

class HeldWorkers : public ::testing::TestWithParam<HeldCase> {};

// With the workers held, the first two slots wait for them and every later
// one finds two waiting: the reader tallies it and fills it again.
TEST_P(HeldWorkers, ReaderTalliesTheRest) {
  const HeldCase& c = GetParam();
  std::vector<Piece> pieces;
  for (size_t i = 0; i < c.slots; ++i) {
    pieces.push_back({SLOT / 2 + 1, i % 2 == 0, true});
    pieces.push_back({SLOT / 2 - 1, i % 2 != 0, false});
  }
  if (c.partial > 0) pieces.push_back({c.partial, true, true});
  const std::vector<uint64_t> words = mixedWords(c.slots, wordCount(pieces));
  const Sums expected = singleThreaded(words, pieces, 0, PLAIN);
  Sums total;
  std::vector<uint64_t> ring(RING_SLOTS * SLOT);
  ParallelTally t(ring.data(), ring.size(), total.view(), PLAIN, 0, nullptr, c.flushWords);
  t.holdWorkers(true);
  ASSERT_EQ(t.start(c.tallying), c.tallying - 1);
  feed(t, words.data(), pieces);
  if (c.release) t.holdWorkers(false);
  t.finish();
  EXPECT_EQ(difference(total, expected), "");
  const size_t given = c.slots + (c.partial > 0 ? 1 : 0);
  EXPECT_EQ(t.counts().readerSlots, given - 2);
  EXPECT_LE(t.counts().mostHeld, c.flushWords);
}

INSTANTIATE_TEST_SUITE_P(Slots, HeldWorkers,
                         ::testing::Values(HeldCase{"OneWorker", 2, 10, 0, false, UINT32_MAX},
                                           HeldCase{"OneWorkerLetGo", 2, 10, 0, true, UINT32_MAX},
                                           HeldCase{"ThreeWorkersPartialLastSlot", 4, 9, 777, false,
                                                    UINT32_MAX},
                                           HeldCase{"TwoSlotsOnly", 3, 2, 0, false, UINT32_MAX}),
                         [](const auto& info) { return std::string(info.param.name); });

// The reader's own tallies go through the flush as the workers' do.
TEST(ReaderTally, FlushesItsOwnTallies) {
  std::vector<Piece> pieces;
  for (size_t i = 0; i < 12; ++i) pieces.push_back({SLOT, true, true});
  const std::vector<uint64_t> words = mixedWords(3, wordCount(pieces));
  Sums total;
  std::vector<uint64_t> ring(RING_SLOTS * SLOT);
  ParallelTally t(ring.data(), ring.size(), total.view(), PLAIN, 0, nullptr, 2 * SLOT);
  t.holdWorkers(true);
  ASSERT_EQ(t.start(2), 1);
  feed(t, words.data(), pieces);
  t.finish();
  EXPECT_EQ(difference(total, singleThreaded(words, pieces, 0, PLAIN)), "");
  // The reader tallies slots 3..12 and flushes before slots 5, 7, 9 and 11
  // and at the end; the worker tallies the two held slots and flushes once,
  // at the end.
  EXPECT_EQ(t.counts().readerSlots, 10u);
  EXPECT_EQ(t.counts().flushes, 6u);
  EXPECT_EQ(t.counts().mostHeld, 2 * SLOT);
}

}  // namespace

// ---- One pool for the files of a run ------------------------------------------

// The threads start once and serve file after file: each file's words go
// into that file's totals alone, also when the workers were held through a
// file (end() lets them go) and when the reader tallied slots itself.
TEST(TallyPool, EachFileIntoItsOwnTotals) {
  struct FileCase {
    uint64_t seed;
    PacketForm form;
    uint64_t delivered;
    bool held;
  };
  const FileCase files[] = {{21, PLAIN, 0, false},
                            {22, PacketForm{true, true, false}, 5, true},
                            {23, PacketForm{false, false, true}, 1001, false},
                            {24, PLAIN, 77, true}};
  std::vector<uint64_t> ring(RING_SLOTS * SLOT);
  ParallelTally t(ring.data(), ring.size(), 3 * SLOT);
  ASSERT_EQ(t.start(3), 2);
  uint64_t readerSlots = 0;
  for (const FileCase& f : files) {
    SCOPED_TRACE("file of seed " + std::to_string(f.seed));
    const std::vector<Piece> pieces = mixedPieces(f.seed, 12);
    const std::vector<uint64_t> words = mixedWords(f.seed, wordCount(pieces));
    Sums total;
    t.holdWorkers(f.held);
    t.begin(total.view(), f.form, f.delivered, nullptr);
    feed(t, words.data(), pieces);
    t.end();
    EXPECT_EQ(difference(total, singleThreaded(words, pieces, f.delivered, f.form)), "");
    EXPECT_EQ(t.threads(), 2);
    // Held workers leave every slot after the second to the reader.
    if (f.held) {
      EXPECT_GT(t.counts().readerSlots, readerSlots);
    }
    readerSlots = t.counts().readerSlots;
  }
  EXPECT_EQ(t.counts().files, 4u);
  EXPECT_EQ(t.start(3), 0);  // started once only
}
