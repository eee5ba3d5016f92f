// The packet level of the inspector, driven through its interface on small
// files built here: the packet stream over chunks, read pieces and files,
// packets from the caller's memory, word and byte reversal, the tallies
// with the Pelvan rule, and the EoC and ToA reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <iomanip>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "ProblemsAsText.h"
#include "format/ByteOrder.h"
#include "pixel_reports.h"
#include "report/PixelDisplay.h"
#include "report/TallyReports.h"
#include "scan/DataInspector.h"
#include "text/Format.h"

using namespace morven;
using namespace testing_files;

namespace {

uint64_t dataPacket(bool top, uint64_t eoc, uint64_t pixel, uint64_t toa = 0) {
  return (uint64_t(top) << 63) | (eoc << 55) | (pixel << 46) | (toa << 30);
}

uint64_t controlPacket(uint64_t code, uint64_t payload = 0) {
  return (code << 55) | payload;
}

// Index of a packet's hit counter.
uint64_t counterIndex(uint64_t packet) {
  return packet >> VX7_PIXELNR_SHIFT;
}

// A payload of n words, word i being value(i), built straight into bytes
// so that a 24 MiB chunk costs a few milliseconds.
template <class Value>
std::string wordPayload(uint64_t n, Value value) {
  std::string bytes(size_t(n * 8), '\0');
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t w = value(i);
    for (int b = 0; b < 8; ++b) bytes[size_t(i * 8 + b)] = char((w >> (8 * b)) & 0xFF);
  }
  return bytes;
}

uint64_t patternWord(uint64_t i) {
  return i * 0x9E3779B97F4A7C15ULL;
}

// An inspector on a string stream with one file of the test open.
struct Scan {
  TempDir dir;
  std::ostringstream out;
  DataInspector in{true};

  explicit Scan(const FileBuilder& file) {
    problemsAsText(in, out);
    EXPECT_TRUE(in.setFile(dir.write("a.mv", file), true));
  }

  // Opens a further file of the run, without a reset.
  void next(const FileBuilder& file) { EXPECT_TRUE(in.setFile(dir.write("b.mv", file), false)); }

  std::vector<uint64_t> drain() {
    std::vector<uint64_t> packets;
    uint64_t w = 0;
    while (in.stream().nextPixel(&w)) packets.push_back(w);
    return packets;
  }

  void processAll() {
    while (in.processNextPixel()) {
    }
  }
};

std::vector<uint64_t> words(uint64_t from, uint64_t to) {
  std::vector<uint64_t> v(size_t(to - from + 1));
  std::iota(v.begin(), v.end(), from);
  return v;
}

// ---- The packet stream -------------------------------------------------------

TEST(PacketStream, DataChunksOfEveryKindComeBackToBackInFileOrder) {
  Scan s(FileBuilder()
             .header()
             .chunk(MVHDR_VX7TOATOT, {1, 2})
             .chunk(MVHDR_VX7PC24, {3})
             .chunk(MVHDR_VX7FRAME8, {4, 5})
             .chunk(MVHDR_VX7TOATOT_TOP, {6})
             .chunk(MVHDR_VX7FRAME16, {7}));
  EXPECT_EQ(s.drain(), words(1, 7));
  EXPECT_EQ(s.in.stream().delivered(), 7u);
  EXPECT_FALSE(s.in.stream().nextPixel());
  EXPECT_EQ(s.out.str(), "");
}

// Spans: the words of one chunk at a time (a JSON chunk between two data
// chunks of one type still parts them), each with its chunk's type and the
// stream number of its first word, reversed as asked.
TEST(PacketStream, SpansCarryTheirChunkTypeAndStreamNumber) {
  Scan s(FileBuilder()
             .header()
             .chunk(MVHDR_VX7TOATOT, {0x0000000100000002ULL, 3, 4})
             .chunk(MVHDR_VX7PC24, {5, 6})
             .jsonChunk(MVHDR_CHIPINFO, "{}")
             .chunk(MVHDR_VX7PC24, {7})
             .chunk(MVHDR_VX7FRAME16, {}));
  s.in.stream().setReverseWords(true);
  struct Seen {
    std::vector<uint64_t> words;
    uint64_t chunkType, first;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  PacketStream::Span span;
  while (s.in.stream().nextSpan(span)) {
    seen.push_back(
        {std::vector<uint64_t>(span.words, span.words + span.count), span.chunkType, span.first});
  }
  const std::vector<Seen> expected = {
      {{0x0000000200000001ULL, 3ULL << 32, 4ULL << 32}, MVHDR_VX7TOATOT, 1},
      {{5ULL << 32, 6ULL << 32}, MVHDR_VX7PC24, 4},
      {{7ULL << 32}, MVHDR_VX7PC24, 6}};
  EXPECT_TRUE(seen == expected) << seen.size() << " spans";
  EXPECT_EQ(s.in.stream().delivered(), 6u);
  EXPECT_EQ(s.in.stream().current(), 7ULL << 32);
}

TEST(PacketStream, EmptyDataChunksArePassedOverSilently) {
  Scan s(FileBuilder()
             .header()
             .chunk(MVHDR_VX7TOATOT, {})
             .chunk(MVHDR_VX7PC24, {})
             .chunk(MVHDR_VX7TOATOT, {1})
             .chunk(MVHDR_VX7FRAME16, {})
             .chunk(MVHDR_VX7TOATOT, {2}));
  EXPECT_EQ(s.drain(), words(1, 2));
  EXPECT_EQ(s.in.walker().chunkSizes(), (std::deque<uint64_t>{0, 0, 8, 0, 8}));
  EXPECT_EQ(s.out.str(), "");
}

TEST(PacketStream, OtherChunksBetweenDataChunksAreReadOnTheWay) {
  Scan s(FileBuilder()
             .header()
             .chunk(MVHDR_VX7TOATOT, {1, 2})
             .jsonChunk(MVHDR_RUNINFO, "{\"b\": 1, \"a\": [2]}")
             .configChunk({configRecord(0x10, {0xAB})})
             .chunk(MVHDR_VX7PIXCFG, {0xDEAD})
             .chunk(MVHDR_GROUPID_USER | (1ULL << 48), {0xBEEF})
             .chunk(MVHDR_VX7TOATOT, {3}));
  EXPECT_EQ(s.drain(), words(1, 3));
  EXPECT_EQ(s.in.walker().jsonString(), "{\n  \"a\": [\n    2\n  ],\n  \"b\": 1\n}");
  EXPECT_EQ(s.in.walker().configBytes().size(), 16u);
  EXPECT_EQ(s.in.stream().delivered(), 3u);
  EXPECT_EQ(s.out.str(), "");
}

TEST(PacketStream, FilesWithoutPacketsDeliverNothing) {
  const std::vector<std::pair<const char*, FileBuilder>> files = {
      {"header only", FileBuilder().header()},
      {"no data chunk",
       FileBuilder().header().jsonChunk(MVHDR_CHIPINFO, "{}").chunk(MVHDR_VX7PIXCFG, {1, 2})},
      {"partial header word", FileBuilder().header().raw("\x01\x02\x03")},
  };
  for (const auto& [name, file] : files) {
    SCOPED_TRACE(name);
    Scan s(file);
    EXPECT_FALSE(s.in.stream().nextPixel());
    EXPECT_FALSE(s.in.processNextPixel());
    EXPECT_EQ(s.in.stream().delivered(), 0u);
    EXPECT_EQ(s.out.str(), "");
  }
}

// A chunk above 0x200000 words is read in pieces of 16 MiB: every packet
// comes out once, in file order, across the piece boundary.
TEST(PacketStream, LargeChunksAreReadInPiecesOfSixteenMebibytes) {
  for (uint64_t n : {uint64_t(0x200000), uint64_t(0x200001), uint64_t(0x300000)}) {
    SCOPED_TRACE(n);
    Scan s(FileBuilder()
               .header()
               .chunkHeader(MVHDR_VX7TOATOT, n)
               .raw(wordPayload(n, patternWord))
               .chunk(MVHDR_VX7PC24, {0x5A5A}));
    uint64_t w = 0, i = 0, wrong = 0;
    for (; i < n && s.in.stream().nextPixel(&w); ++i) wrong += w != patternWord(i);
    EXPECT_EQ(i, n);
    EXPECT_EQ(wrong, 0u);
    EXPECT_TRUE(s.in.stream().nextPixel(&w));
    EXPECT_EQ(w, 0x5A5Au);
    EXPECT_FALSE(s.in.stream().nextPixel());
    EXPECT_EQ(s.in.stream().delivered(), n + 1);
    EXPECT_EQ(s.out.str(), "");
  }
}

// The file ends inside a data chunk: the whole words that are there come
// out, the last 1 to 7 bytes are dropped, and the stream ends without the
// chunk layer's truncation message.
TEST(PacketStream, ChunkCutShortByTheEndOfTheFile) {
  struct Case {
    uint64_t declared, present, extraBytes;
  };
  for (const Case& c :
       {Case{10, 3, 0}, Case{10, 3, 5}, Case{10, 0, 7}, Case{0x300000, 0x280000, 3}}) {
    SCOPED_TRACE(c.present);
    Scan s(FileBuilder()
               .header()
               .chunkHeader(MVHDR_VX7TOATOT, c.declared)
               .raw(wordPayload(c.present, patternWord))
               .raw(std::string(size_t(c.extraBytes), '\x7F')));
    uint64_t w = 0, i = 0, wrong = 0;
    while (s.in.stream().nextPixel(&w)) wrong += w != patternWord(i++);
    EXPECT_EQ(i, c.present);
    EXPECT_EQ(wrong, 0u);
    EXPECT_FALSE(s.in.stream().nextPixel());
    EXPECT_FALSE(s.in.processNextPixel());
    EXPECT_EQ(s.out.str(), "");
  }
}

// A rejected header whose type is not a data type ends the packet stream,
// even though the file goes on; further calls never read the rejected
// payload as chunk headers (here it holds what would be a data chunk).
TEST(PacketStream, RejectedNonDataHeaderEndsTheStreamForGood) {
  const uint64_t rejected = MVHDR_GROUPID_RES_4;
  Scan s(FileBuilder()
             .header()
             .chunk(MVHDR_VX7TOATOT, {1, 2})
             .chunk(rejected, {chunkWord(MVHDR_VX7TOATOT, 1), 99})
             .chunk(MVHDR_VX7TOATOT, {3}));
  EXPECT_EQ(s.drain(), words(1, 2));
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(s.in.stream().nextPixel());
    EXPECT_FALSE(s.in.processNextPixel());
  }
  EXPECT_EQ(s.out.str(), "### Invalid header 0x4000000000000000 @ index=32\n");
  EXPECT_EQ(s.in.walker().headerTotal(), 2u);
  EXPECT_EQ(s.in.walker().chunkSizes(), (std::deque<uint64_t>{16}));
  EXPECT_EQ(s.in.stream().delivered(), 2u);
  EXPECT_EQ(s.in.tallies().types[0], 0u);
}

// A rejected header of a data type (top 4 bits of the type zero) has its
// payload read as packets, and the stream goes on to the next chunk.
TEST(PacketStream, RejectedDataTypeHeaderIsReadAsPackets) {
  for (uint64_t type : {MVHDR_DATA, MVHDR_PC24_TOP, uint64_t(0x0123) << 48}) {
    SCOPED_TRACE(type);
    Scan s(FileBuilder()
               .header()
               .chunk(MVHDR_VX7TOATOT, {1})
               .chunk(type, {2, 3})
               .chunk(MVHDR_VX7PC24, {4}));
    EXPECT_EQ(s.drain(), words(1, 4));
    EXPECT_EQ(s.out.str(), "### Invalid header 0x" + hexString(type, 16) + " @ index=24\n");
  }
}

// Opening a further file without a reset starts a fresh walk, wherever the
// previous file left the stream: nothing of the old chunk is applied to the
// new file.
TEST(PacketStream, NextFileWithoutResetStartsAFreshWalk) {
  const FileBuilder second = FileBuilder().header().chunk(MVHDR_VX7TOATOT, {7, 8});
  struct Case {
    const char* name;
    FileBuilder first;
    uint64_t readFromFirst;
  };
  const std::vector<Case> cases = {
      {"first ended at its end", FileBuilder().header().chunk(MVHDR_VX7TOATOT, {1, 2}), 3},
      {"first cut inside a data chunk",
       FileBuilder().header().chunkHeader(MVHDR_VX7TOATOT, 10).words({1, 2}), 3},
      {"first left with words in the buffer",
       FileBuilder().header().chunk(MVHDR_VX7TOATOT, {1, 2, 3, 4}), 1},
      {"first ended at a rejected header",
       FileBuilder().header().chunk(MVHDR_VX7TOATOT, {1}).chunk(MVHDR_GROUPID_RES_5, {0}), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scan s(c.first);
    uint64_t delivered = 0;
    for (uint64_t i = 0; i < c.readFromFirst; ++i) delivered += s.in.stream().nextPixel() ? 1 : 0;
    s.next(second);
    EXPECT_EQ(s.drain(), (std::vector<uint64_t>{7, 8}));
    EXPECT_EQ(s.in.stream().delivered(), delivered + 2);
  }
}

// ---- Reversal --------------------------------------------------------------

TEST(PacketStream, WordAndByteReversal) {
  struct Case {
    bool words, bytes;
    uint64_t expected;
  };
  const uint64_t raw = 0x0706050403020100;  // bytes 0..7 in file order
  for (const Case& c :
       {Case{false, false, raw}, Case{true, false, 0x0302010007060504},
        Case{false, true, 0x0001020304050607}, Case{true, true, 0x0405060700010203}}) {
    SCOPED_TRACE(testing::Message() << "words " << c.words << " bytes " << c.bytes);
    Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, {raw, raw}));
    s.in.stream().setReverseWords(c.words);
    s.in.stream().setReverseBytes(c.bytes);
    EXPECT_EQ(s.drain(), (std::vector<uint64_t>{c.expected, c.expected}));
  }
}

// The reversal is done in place, so every later reader of the current
// packet sees the reversed word; a setting applies from the next packet.
TEST(PacketStream, ReversalRewritesTheCurrentPacketAndStartsAtTheNextOne) {
  const uint64_t heartbeat = controlPacket(VX7_EOC_HEARTBEAT);  // 0x7000000000000000
  Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, {heartbeat, heartbeat, heartbeat}));
  ASSERT_TRUE(s.in.stream().nextPixel());
  EXPECT_EQ(packetTypeName(packetType(s.in.stream().current())), "HEARTBEAT");
  s.in.stream().setReverseBytes(true);
  EXPECT_EQ(packetTypeName(packetType(s.in.stream().current())), "HEARTBEAT");
  ASSERT_TRUE(s.in.processNextPixel());
  EXPECT_EQ(packetTypeName(packetType(s.in.stream().current())), "DATA");
  EXPECT_TRUE(packetIsData(s.in.stream().current()));
  EXPECT_EQ(s.in.tallies().types[0], 1u);
  s.in.stream().setReverseBytes(false);
  uint64_t w = 0;
  ASSERT_TRUE(s.in.stream().nextPixel(&w));
  EXPECT_EQ(w, heartbeat);
}

// ---- Packets from the caller's memory ---------------------------------------

// Memory handed to setDataChunk holds the bytes of a data chunk: every word
// little-endian, whatever the host's byte order. Rewrites the words so (the
// conversion is its own inverse) and returns the block's bytes.
unsigned char* asFileBytes(std::vector<uint64_t>& block) {
  wordsFromLE(block.data(), block.size());
  return reinterpret_cast<unsigned char*>(block.data());
}

TEST(ExternalChunk, WordsComeFromMemoryThenTheFileGoesOn) {
  Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, {1, 2, 3, 4}).chunk(MVHDR_VX7PC24, {5, 6}));
  uint64_t w = 0;
  ASSERT_TRUE(s.in.stream().nextPixel(&w));
  EXPECT_EQ(w, 1u);
  std::vector<uint64_t> block = {0x90, 0x91};
  s.in.stream().setDataChunk(asFileBytes(block), 16);
  // Words 2..4 were waiting in the read buffer: they are dropped.
  EXPECT_EQ(s.drain(), (std::vector<uint64_t>{0x90, 0x91}));
  EXPECT_EQ(s.drain(), words(5, 6));
  EXPECT_EQ(s.in.stream().delivered(), 5u);
}

TEST(ExternalChunk, ALeftoverOfSevenBytesDeliversNothing) {
  Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, {1, 2}));
  std::vector<uint64_t> block = {0x90};
  s.in.stream().setDataChunk(reinterpret_cast<unsigned char*>(block.data()), 7);
  EXPECT_FALSE(s.in.stream().nextPixel());
  EXPECT_EQ(s.drain(), words(1, 2));
  s.in.stream().setDataChunk(nullptr, 0);
  EXPECT_FALSE(s.in.stream().nextPixel());
  EXPECT_FALSE(s.in.stream().nextPixel());
  EXPECT_EQ(s.in.stream().delivered(), 2u);
}

// Memory handed in mid-chunk leaves the chunk's unread words in the file:
// after the memory the stream reads on from where the file stood.
TEST(ExternalChunk, FileReadsOnFromWhereItStood) {
  const uint64_t n = 0x200001;  // one piece of 0x200000 words, then one word
  Scan s(FileBuilder().header().chunkHeader(MVHDR_VX7PC24, n).raw(wordPayload(n, patternWord)));
  ASSERT_TRUE(s.in.stream().nextPixel());
  std::vector<uint64_t> block = {0x90, 0x91, 0x92};
  s.in.stream().setDataChunk(asFileBytes(block), 20);
  EXPECT_EQ(s.drain(), (std::vector<uint64_t>{0x90, 0x91}));
  EXPECT_EQ(s.drain(), (std::vector<uint64_t>{patternWord(n - 1)}));
}

// The caller's memory is only read: reversal applies to the words
// delivered, and the memory may sit at any alignment.
TEST(ExternalChunk, ReversalLeavesTheCallersMemoryAlone) {
  std::ostringstream out;
  DataInspector in(false);
  std::vector<uint64_t> block = {0x0706050403020100, 0x1111111122222222};
  asFileBytes(block);
  std::vector<unsigned char> unaligned(1 + 16);
  std::memcpy(unaligned.data() + 1, block.data(), 16);
  const std::vector<unsigned char> before = unaligned;
  in.stream().setReverseWords(true);
  in.stream().setDataChunk(unaligned.data() + 1, 16);
  uint64_t w = 0;
  EXPECT_TRUE(in.stream().nextPixel(&w));
  EXPECT_EQ(w, 0x0302010007060504u);
  EXPECT_TRUE(in.stream().nextPixel(&w));
  EXPECT_EQ(w, 0x2222222211111111u);
  EXPECT_FALSE(in.stream().nextPixel());
  EXPECT_EQ(unaligned, before);
  // Without a read buffer there is no file to go on with.
  EXPECT_FALSE(in.stream().nextPixel());
  EXPECT_EQ(in.stream().delivered(), 2u);
  EXPECT_EQ(out.str(), "");
}

// Memory of more words than one piece is delivered whole and in order.
TEST(ExternalChunk, LongBlockAcrossPieces) {
  std::ostringstream out;
  DataInspector in(false);
  std::vector<uint64_t> block(20000);
  for (size_t i = 0; i < block.size(); ++i) block[i] = i * 0x9E3779B97F4A7C15ULL;
  const std::vector<uint64_t> expected = block;
  in.stream().setDataChunk(asFileBytes(block), block.size() * 8 + 5);
  std::vector<uint64_t> got;
  uint64_t w = 0;
  while (in.stream().nextPixel(&w)) got.push_back(w);
  EXPECT_EQ(got, expected);
}

TEST(PacketTypes, PredicatesAndNamesOfTheCurrentPacket) {
  struct Case {
    uint64_t packet;
    bool data, top;
    const char* name;
  };
  const std::vector<Case> cases = {
      {0x000000000000001E, true, false, "DATA"},  // IDLE: only a whole-word test tells
      {0xFFFFFFFF00000000, false, true, "MORVEN_EMPTY_PACKET"},
      {dataPacket(true, 223, 0x1FF), true, true, "DATA"},
      {controlPacket(VX7_EOC_SEGMENT_END), false, false, "SEGMENT_END"},
      {controlPacket(0xE6) | (1ULL << 63), false, true, "????"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out;
    DataInspector in(false);
    std::vector<uint64_t> word = {c.packet};
    in.stream().setDataChunk(asFileBytes(word), 8);
    ASSERT_TRUE(in.stream().nextPixel());
    EXPECT_EQ(packetIsData(in.stream().current()), c.data);
    EXPECT_EQ(packetIsTop(in.stream().current()), c.top);
    EXPECT_EQ(packetTypeName(packetType(in.stream().current())), c.name);
  }
}

TEST(PacketTypes, NameOfEveryTypeCode) {
  const auto& named = controlTypeNames();
  for (uint64_t t = 0; t < 300; ++t) {
    std::string expected = t <= 223 ? "DATA" : "????";
    if (named.count(t) != 0) expected = named.at(t);
    EXPECT_EQ(packetTypeName(t), expected) << t;
  }
  EXPECT_EQ(packetTypeName(~uint64_t(0)), "????");
}

// ---- Tallies -------------------------------------------------------------------

// A pixel packet counts per type byte and per pixel in every data chunk, and
// per ToA value only in ToA/ToT chunks (TOP and BOTTOM included).
TEST(Tallies, ToaIsCountedInToaTotChunksOnly) {
  struct Case {
    uint64_t type;
    bool toa;
  };
  for (const Case& c :
       {Case{MVHDR_VX7TOATOT, true}, Case{MVHDR_VX7TOATOT_TOP, true},
        Case{MVHDR_VX7TOATOT_BOTTOM, true}, Case{MVHDR_VX7PC24, false},
        Case{MVHDR_VX7FRAME8, false}, Case{MVHDR_VX7FRAME16, false}, Case{MVHDR_DATA, false}}) {
    SCOPED_TRACE(c.type);
    const uint64_t p = dataPacket(true, 17, 0x123, 0xBEEF);
    Scan s(FileBuilder().header().chunk(c.type, {p}));
    s.processAll();
    EXPECT_EQ(s.in.tallies().types[17], 1u);
    EXPECT_EQ(s.in.tallies().pixels.get()[counterIndex(p)], 1u);
    EXPECT_EQ(s.in.tallies().toas.get()[0xBEEF], c.toa ? 1u : 0u);
  }
}

TEST(Tallies, ControlPacketsCountPerTypeOnly) {
  Scan s(FileBuilder().header().chunk(
      MVHDR_VX7TOATOT, {controlPacket(VX7_EOC_HEARTBEAT, 5), controlPacket(VX7_EOC_SHUTTER_RISE, 6),
                        controlPacket(VX7_EOC_SHUTTER_FALL, 7),
                        controlPacket(VX7_EOC_SHUTTER_FALL, 8), 0xFFFFFFFF00000000}));
  s.processAll();
  EXPECT_EQ(s.in.tallies().types[VX7_EOC_HEARTBEAT], 1u);
  EXPECT_EQ(s.in.tallies().types[VX7_EOC_SHUTTER_RISE], 1u);
  EXPECT_EQ(s.in.tallies().types[VX7_EOC_SHUTTER_FALL], 2u);
  EXPECT_EQ(s.in.tallies().types[255], 1u);
  const uint64_t* pixels = s.in.tallies().pixels.get();
  EXPECT_EQ(std::accumulate(pixels, pixels + 0x40000, uint64_t(0)), 0u);
  const uint64_t* toa = s.in.tallies().toas.get();
  EXPECT_EQ(std::accumulate(toa, toa + 0x10000, uint64_t(0)), 0u);
}

// nextPixel alone delivers and counts packets but tallies nothing.
TEST(Tallies, NextPixelAloneFeedsNoTally) {
  Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, {controlPacket(VX7_EOC_HEARTBEAT), 0}));
  EXPECT_EQ(s.drain().size(), 2u);
  EXPECT_EQ(s.in.tallies().types[VX7_EOC_HEARTBEAT], 0u);
  EXPECT_EQ(s.in.tallies().types[0], 0u);
  EXPECT_EQ(s.in.stream().delivered(), 2u);
}

// Packet n (counted from 1) is the word n of the stream; word 2 is zero.
std::vector<uint64_t> numberedStream(uint64_t count) {
  std::vector<uint64_t> v;
  for (uint64_t n = 1; n <= count; ++n) v.push_back(n == 2 ? 0 : (n << 46) | (n << 30));
  return v;
}

TEST(Tallies, PelvanHeadersTrailersAndZeroWordsAreNotTallied) {
  // Split over two chunks: the Pelvan blocks run over the whole stream.
  std::vector<uint64_t> stream = numberedStream(300);
  FileBuilder file = FileBuilder()
                         .header()
                         .chunk(MVHDR_VX7TOATOT, std::vector<uint64_t>(&stream[0], &stream[100]))
                         .chunk(MVHDR_VX7TOATOT, std::vector<uint64_t>(&stream[100], &stream[300]));
  Scan s(file);
  s.in.stream().setFromPelvan(true);
  s.processAll();
  uint64_t tallied = 0;
  for (uint64_t n = 1; n <= 300; ++n) {
    const bool skipped = n == 1 || n == 2 || n == 128 || n == 129 || n == 256 || n == 257;
    EXPECT_EQ(s.in.tallies().pixels.get()[n], skipped ? 0u : 1u) << n;
    EXPECT_EQ(s.in.tallies().toas.get()[n], skipped ? 0u : 1u) << n;
    tallied += skipped ? 0 : 1;
  }
  EXPECT_EQ(s.in.tallies().types[0], tallied);
  EXPECT_EQ(s.in.tallies().pixels.get()[0], 0u);
  EXPECT_EQ(s.in.stream().delivered(), 300u);
}

TEST(Tallies, WithoutPelvanEveryWordIsTalliedZeroWordsToo) {
  Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, numberedStream(130)));
  s.processAll();
  for (uint64_t n = 1; n <= 130; ++n)
    EXPECT_EQ(s.in.tallies().pixels.get()[n], n == 2 ? 0u : 1u) << n;
  EXPECT_EQ(s.in.tallies().pixels.get()[0], 1u);
  EXPECT_EQ(s.in.tallies().toas.get()[0], 1u);
  EXPECT_EQ(s.in.tallies().types[0], 130u);
}

// The Pelvan position comes from the packet count since the reset, which
// runs on over skipped packets and over the files of a run.
TEST(Tallies, PelvanBlocksRunOnOverFiles) {
  Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, std::vector<uint64_t>(100, 1ULL << 46)));
  EXPECT_EQ(s.drain().size(), 100u);
  s.next(FileBuilder().header().chunk(MVHDR_VX7TOATOT, numberedStream(60)));
  s.in.stream().setFromPelvan(true);
  s.processAll();
  // Packets 28 and 29 of the second file are words 128 and 129 of the run.
  for (uint64_t n = 3; n <= 60; ++n) {
    EXPECT_EQ(s.in.tallies().pixels.get()[n], n == 28 || n == 29 ? 0u : 1u) << n;
  }
  EXPECT_EQ(s.in.stream().delivered(), 160u);
}

// processAllPixels is processNextPixel until it returns false: the same
// tallies, packet count, current packet and rewritten words, for every
// setting, over chunk, piece and file boundaries and caller's memory.
TEST(Tallies, ProcessAllPixelsEqualsProcessNextPixelUntilFalse) {
  // Hits spread over both halves, all types, ToA values, and zero words.
  auto word = [](uint64_t i) {
    const uint64_t w = patternWord(i + 1);
    return i % 97 == 5 ? 0 : w;
  };
  const uint64_t big = 0x200000 + 300;  // one whole piece and a part
  const FileBuilder file = FileBuilder()
                               .header()
                               .chunk(MVHDR_VX7TOATOT, {1, 0, 3})
                               .chunk(MVHDR_VX7PC24, {})
                               .chunkHeader(MVHDR_VX7TOATOT_TOP, big)
                               .raw(wordPayload(big, word))
                               .jsonChunk(MVHDR_RUNINFO, "{}")
                               .chunkHeader(MVHDR_DATA, 1000)
                               .raw(wordPayload(1000, word))
                               .chunkHeader(MVHDR_VX7FRAME8, 500)
                               .raw(wordPayload(400, word));  // cut inside the chunk
  struct Setting {
    bool words, bytes, pelvan;
    uint64_t skip;
  };
  for (const Setting& set : {Setting{false, false, false, 0}, Setting{true, false, true, 3},
                             Setting{false, true, true, 200}, Setting{true, true, false, 1}}) {
    SCOPED_TRACE(testing::Message() << set.words << set.bytes << set.pelvan << set.skip);
    Scan one(file), all(file);
    std::vector<uint64_t> memoryOne(777), memoryAll(777);
    for (size_t i = 0; i < memoryOne.size(); ++i) memoryOne[i] = memoryAll[i] = word(i * 31);
    for (Scan* s : {&one, &all}) {
      for (uint64_t i = 0; i < set.skip; ++i) s->in.stream().nextPixel();
      s->in.stream().setReverseWords(set.words);
      s->in.stream().setReverseBytes(set.bytes);
      s->in.stream().setFromPelvan(set.pelvan);
    }
    // First the caller's memory, then the rest of the file, then a second file.
    one.in.stream().setDataChunk(reinterpret_cast<unsigned char*>(memoryOne.data()), 777 * 8);
    all.in.stream().setDataChunk(reinterpret_cast<unsigned char*>(memoryAll.data()), 777 * 8);
    for (int part = 0; part < 3; ++part) {
      if (part == 2) {
        one.next(file);
        all.next(file);
      }
      one.processAll();
      all.in.processAllPixels();
      EXPECT_EQ(all.in.stream().delivered(), one.in.stream().delivered());
      EXPECT_EQ(all.in.tallies().types, one.in.tallies().types);
      EXPECT_TRUE(std::equal(one.in.tallies().pixels.get(), one.in.tallies().pixels.get() + 0x40000,
                             all.in.tallies().pixels.get()));
      EXPECT_TRUE(std::equal(one.in.tallies().toas.get(), one.in.tallies().toas.get() + 0x10000,
                             all.in.tallies().toas.get()));
      EXPECT_EQ(packetTypeName(packetType(all.in.stream().current())),
                packetTypeName(packetType(one.in.stream().current())));
    }
    EXPECT_EQ(memoryAll, memoryOne);
    EXPECT_EQ(all.out.str(), one.out.str());
  }
}

// ---- Reports ---------------------------------------------------------------

TEST(EocList, NothingCounted) {
  std::ostringstream out;
  DataInspector in(false);
  logEocCounters(in.tallies(), out, false);
  EXPECT_EQ(out.str(), "=> EoC counters:\n<none>\n");
  out.str("");
  logEocCounters(in.tallies(), out, true);
  EXPECT_EQ(out.str(), allEocRows({}));
}

TEST(EocList, CountedTypes) {
  std::vector<uint64_t> stream(1523, dataPacket(false, 0, 3));
  stream.push_back(dataPacket(true, 223, 0x1FF));
  for (int i = 0; i < 12; ++i) stream.push_back(controlPacket(VX7_EOC_HEARTBEAT));
  stream.push_back(controlPacket(230));
  stream.push_back(controlPacket(230));
  stream.push_back(0xFFFFFFFF00000000);
  Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, stream));
  s.processAll();
  // A check may leave the fill character '0' behind; the list does not use it.
  s.out << std::setfill('0');
  logEocCounters(s.in.tallies(), s.out, false);
  EXPECT_EQ(s.out.str(),
            "=> EoC counters:\n"
            "  0  1523\n"
            "223  1\n"
            "224  12  (HEARTBEAT)\n"
            "230  2  (\?\?\?)\n"
            "255  1  (MORVEN_EMPTY_PACKET)\n");
  s.out.str("");
  logEocCounters(s.in.tallies(), s.out, true);
  EXPECT_EQ(s.out.str(), allEocRows({{0, 1523}, {223, 1}, {224, 12}, {230, 2}, {255, 1}}));
  EXPECT_EQ(s.out.flags() & std::ios::basefield, std::ios::dec);
}

// The ToA histogram of hits at the given ToA values, on its own stream.
std::string toaHistogramOf(const std::vector<uint64_t>& toas, int bins) {
  std::vector<uint64_t> stream;
  for (uint64_t t : toas) stream.push_back(dataPacket(false, 1, 1, t));
  Scan s(FileBuilder().header().chunk(MVHDR_VX7TOATOT, stream));
  s.processAll();
  std::ostringstream histogram;
  toaHistogram(s.in.tallies(), histogram, bins);
  EXPECT_EQ(s.out.str(), "");
  EXPECT_EQ(histogram.flags() & std::ios::basefield, std::ios::dec);
  EXPECT_EQ(histogram.fill(), ' ');
  return histogram.str();
}

const std::string TOA_HEADING = "  ToA     Bin Count\n-------   ---------\n";

TEST(ToaHistogram, OneBin) {
  EXPECT_EQ(toaHistogramOf({0, 0, 65535}, 1), TOA_HEADING +
                                                  "     0          3\n"
                                                  " 65536\n\n");
}

TEST(ToaHistogram, ThreeBinsOfWidth21846) {
  EXPECT_EQ(toaHistogramOf({21845, 21846, 43691, 43692, 65535, 65535}, 3), TOA_HEADING +
                                                                               "     0          1\n"
                                                                               " 21846          2\n"
                                                                               " 43692          3\n"
                                                                               " 65538\n\n");
}

TEST(ToaHistogram, FourBins) {
  EXPECT_EQ(toaHistogramOf({16384, 16384, 32767, 32768, 49151}, 4), TOA_HEADING +
                                                                        "     0          0\n"
                                                                        " 16384          3\n"
                                                                        " 32768          2\n"
                                                                        " 49152          0\n"
                                                                        " 65536\n\n");
}

// 65535 bins are 2 wide: the upper half of them lies above the ToA range.
TEST(ToaHistogram, BinsBeyondTheToaRangeStayEmpty) {
  std::string expected = TOA_HEADING;
  for (uint64_t j = 0; j < 65535; ++j) {
    const uint64_t count = j == 0 ? 2 : j == 32767 ? 1 : 0;
    expected += decString(2 * j, 6) + "     " + decString(count, 6) + "\n";
  }
  expected += "131070\n\n";
  EXPECT_EQ(toaHistogramOf({0, 1, 65535}, 65535), expected);
}

TEST(ToaHistogram, CountsAboveSixDigitsWidenTheirField) {
  std::vector<uint64_t> toas(1000000, 7);
  EXPECT_EQ(toaHistogramOf(toas, 1), TOA_HEADING + "     0     1000000\n 65536\n\n");
}

TEST(FrameData, ForcedWidthIsAnnounced) {
  struct Case {
    int bits;
    const char* text;
  };
  for (const Case& c :
       {Case{8, "Force interpretation as frame data (8 bits)\n"},
        Case{16, "Force interpretation as frame data (16 bits)\n"}, Case{12, ""}, Case{0, ""}}) {
    std::ostringstream out;
    DataInspector in(false);
    morven::DisplayState state;
    forceFrameData(state, out, c.bits);
    EXPECT_EQ(out.str(), c.text) << c.bits;
  }
}

}  // namespace
