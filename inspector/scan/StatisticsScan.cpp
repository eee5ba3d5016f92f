// The statistics scan over a packet stream: one thread, or the run's pool
// of tally threads with this one reading.
#include "scan/StatisticsScan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "format/Packet.h"
#include "io/Cores.h"

namespace morven {

namespace {

// Tallies the words waiting in the buffer behind the current packet in one
// run, with the very same steps and results as one tallyNextPacket per
// word; the last of them becomes the current packet.
void tallyWaitingWords(PacketStream& stream, RunTallies& tallies) {
  const uint64_t n = stream.waitingWords();
  if (n == 0) return;
  const PacketForm form = stream.form();
  const uint64_t* const words = stream.currentWord() + 1;
  const ChunkKind kind = stream.chunkKind();
  if (tallies.hits) {
    const WordCounts c = tallyHitWords<true>(tallies.counters(), tallies.hits->counters(kind),
                                             words, n, stream.delivered(), kind, form);
    tallies.hits->addWords(c, kind);
  } else {
    tallyWords<true>(tallies.counters(), words, n, stream.delivered(), kind == ChunkKind::ToaTot,
                     form);
  }
  stream.passWaitingWords();
}

// The rest of the file's stream with `tallying` threads tallying, this one
// among them, which also walks the chunks and reads; false if no thread
// could be had (nothing has been read then).
bool tallyInParallel(PacketStream& stream, RunTallies& tallies, int tallying,
                     std::unique_ptr<ParallelTally>& pool) {
  if (stream.ended() || stream.buffer() == nullptr) return false;
  releasePool(pool);
  if (!pool) {
    // Each tallying thread takes 1.25 MiB of tallies, and one reader keeps
    // only a few of them busy: more would cost memory and gain nothing.
    constexpr int MAX_TALLYING = 16;
    pool = std::make_unique<ParallelTally>(stream.buffer(), PacketStream::BUFFER_WORDS);
    pool->start(std::min(tallying, MAX_TALLYING));
  }
  if (pool->threads() == 0) return false;
  // Every core tallies: a hint thread would take its time from them.
  if (ByteSource* source = stream.walker().source()) source->setHintThread(false);
  HitTotals* const hits = tallies.hits.get();
  pool->begin(tallies.counters(), stream.form(), stream.delivered(), hits);
  uint64_t* last = nullptr;
  while (stream.nextDataChunk()) {
    // A small room is filled only by the end of a chunk.
    const ParallelTally::Room room =
        pool->room(size_t(std::min<uint64_t>(stream.chunkWordsLeft(), 16384)));
    const uint64_t n = stream.readChunkWords(room.words, room.capacity);
    if (n == 0) break;
    pool->add(size_t(n), stream.chunkKind(), hits ? hits->chunkHits.size() - 1 : 0);
    stream.addDelivered(n);
    last = room.words + n - 1;
  }
  pool->end();
  // The last word read is the current packet, as after the single-threaded
  // scan.
  if (last != nullptr) stream.setCurrentWord(last);
  return true;
}

}  // namespace

bool tallyNextPacket(PacketStream& stream, RunTallies& tallies) {
  uint64_t w;
  if (!stream.nextPixel(&w)) return false;
  if (stream.fromPelvan() && notAPelvanPacket(stream.delivered(), w)) return true;
  const ChunkKind kind = stream.chunkKind();
  if (tallies.hits) {
    const WordCounts c = tallyHitWords<true>(tallies.counters(), tallies.hits->counters(kind), &w,
                                             1, 0, kind, PacketForm{false, false, false});
    tallies.hits->addWords(c, kind);
  } else {
    tallyPacket<true>(tallies.counters(), w, kind == ChunkKind::ToaTot);
  }
  return true;
}

void tallyStream(PacketStream& stream, RunTallies& tallies, int threads,
                 std::unique_ptr<ParallelTally>& pool, uint64_t parallelFrom) {
  if (threads == 0) threads = availableCores();
  const ChunkWalker& walker = stream.walker();
  const bool small = walker.sizeKnown() && walker.fileSize() >= walker.fileIndex() &&
                     walker.fileSize() - walker.fileIndex() < parallelFrom;
  // The parallel scan reads the file itself, into the read buffer; words of
  // the caller's memory, and those still waiting in the buffer, are tallied
  // here first.
  if (threads > 1 && !small && !stream.fromMemory()) {
    tallyWaitingWords(stream, tallies);
    if (tallyInParallel(stream, tallies, threads, pool)) return;
  }
  // tallyNextPacket takes the first word of each piece (and finds the end
  // of the stream); the words behind it are tallied in one run.
  while (tallyNextPacket(stream, tallies)) tallyWaitingWords(stream, tallies);
}

void releasePool(std::unique_ptr<ParallelTally>& pool) {
  if (pool && !pool->usableHere()) (void)pool.release();
}

namespace {

uint64_t* zeroedCounters(size_t n) {
  void* p = std::calloc(n, sizeof(uint64_t));
  if (p == nullptr) throw std::bad_alloc();
  return static_cast<uint64_t*>(p);
}

}  // namespace

void RunTallies::Free::operator()(uint64_t* p) const {
  std::free(p);
}

RunTallies::RunTallies()
    : types(TYPE_COUNTERS, 0),
      pixels(zeroedCounters(PIXEL_COUNTERS)),
      toas(zeroedCounters(TOA_COUNTERS)),
      _zero(true) {}

void RunTallies::clear() {
  if (hits) *hits = HitTotals();
  if (_zero) return;
  _zero = true;
  types.assign(TYPE_COUNTERS, 0);
  // memset, not a loop of word stores: a checked build (sanitizers, fuzz
  // targets) checks every store of a loop, and the fuzz targets reset for
  // every input.
  std::memset(pixels.get(), 0, PIXEL_COUNTERS * sizeof(uint64_t));
  std::memset(toas.get(), 0, TOA_COUNTERS * sizeof(uint64_t));
}

void RunTallies::keepHits(bool on) {
  if (!on) {
    hits.reset();
  } else if (!hits) {
    hits = std::make_unique<HitTotals>();
  }
}

void RunTallies::add(RunTallies& more) {
  if (more._zero) return;
  if (_zero) {
    types.swap(more.types);
    pixels.swap(more.pixels);
    toas.swap(more.toas);
    _zero = false;
    more._zero = true;
    return;
  }
  for (size_t i = 0; i < TYPE_COUNTERS; ++i) types[i] += more.types[i];
  for (size_t i = 0; i < PIXEL_COUNTERS; ++i) pixels[i] += more.pixels[i];
  for (size_t i = 0; i < TOA_COUNTERS; ++i) toas[i] += more.toas[i];
}

}  // namespace morven
