// The statistics scan on several cores: one thread (the caller) walks the
// chunks and reads the packet words into a small ring of slots, worker
// threads tally whole slots, each into tallies of its own, and the sums go
// into the run's tallies at the end. The reader tallies too: a slot it has
// just filled while others are still waiting for a worker, it tallies
// itself, while the slot is still in its own cache. So one thread
// fewer than the tallying threads asked for is started, and on a machine
// with as many cores as tallying threads no core waits for another.
//
// Sums do not depend on the order in which slots are tallied, so the result
// is that of the single-threaded scan as long as every word is tallied once,
// with the chunk type and the place in the stream it was read with: each
// slot carries the stream number of its first word and where the ToA/ToT
// chunks begin and end in it. The reader blocks while every slot is taken,
// the workers while none is full; both wait on condition variables.
//
// Memory: the ring lives in memory the caller lends (the packet stream's
// read buffer), and each worker has tallies of its own in 32-bit counters
// (1.25 MiB), added into the run's 64-bit tallies before any of them could
// overflow and at the end of each file.
//
// One object serves a whole run as its pool of tally threads: the threads
// start at the first file scanned on several threads and wait between
// files; each file is one begin() .. end(), after which its sums are in that
// file's totals and every slot is free.
#ifndef MORVEN_PARALLELTALLY_H
#define MORVEN_PARALLELTALLY_H

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "io/Cores.h"
#include "scan/PacketTally.h"

namespace morven {

class ParallelTally {
 public:
  // Words of one slot (256 KiB): a read fills at most one slot. Small
  // slots stay in the processor's caches between the reader's copy and the
  // worker's tally, and one reader's read is then a few system calls per
  // MiB.
  static constexpr size_t SLOT_WORDS = 32 * 1024;
  // ringWords words at ring are lent for the slots, for the object's life.
  // A set of tallies goes into the total once it holds flushWords words:
  // the 32-bit limit, or fewer for tests that want many flushes from little
  // data (more is never allowed).
  ParallelTally(uint64_t* ring, size_t ringWords, uint64_t flushWords = UINT32_MAX);
  // A pool for one file: as the above, then begin(total, form, delivered,
  // hits); finish() ends it.
  ParallelTally(uint64_t* ring, size_t ringWords, TallyCounters total, PacketForm form,
                uint64_t delivered, HitTotals* hits = nullptr, uint64_t flushWords = UINT32_MAX);
  // Ends as finish() does.
  ~ParallelTally();
  ParallelTally(const ParallelTally&) = delete;
  ParallelTally& operator=(const ParallelTally&) = delete;

  // Tallies with `tallying` threads, the reader's included: starts up to
  // tallying - 1 worker threads (at least one); returns how many run (0:
  // none could be started, and nothing may be added). Once only: a later
  // call returns 0.
  int start(int tallying);
  // The threads started run in this process: not so in a process forked
  // from the one that started them, where the pool must not be used (nor
  // destroyed: its locks may have been held at the fork).
  bool usableHere() const;
  // The worker threads running.
  int threads() const { return int(_threads.size()); }

  // A file's words from here to end(): total receives the sums; delivered
  // is the number of words of the stream before the first one that will be
  // added; form, how they are read. With hits, the hit tallies too: the
  // chunk numbers given to add() are indexes into hits->chunkHits.
  void begin(TallyCounters total, PacketForm form, uint64_t delivered, HitTotals* hits);

  // The reader's side: room for at least min(wanted, SLOT_WORDS) words,
  // waiting for a free slot if need be.
  struct Room {
    uint64_t* words;
    size_t capacity;
  };
  Room room(size_t wanted);
  // The first n words of the last room are the next words of the stream,
  // read from a chunk of the given kind, the data chunk numbered chunk.
  void add(size_t n, ChunkKind kind, uint64_t chunk);

  // Hands over the last slot, waits until every slot is tallied and adds
  // every thread's tallies into the file's total. The ring is free again
  // afterwards, and the workers wait for the next file.
  void end();
  // end(), then stops the workers.
  void finish();

  // For tests. While held, the workers take no slot (finish() lets them
  // go): the reader, if it tallies, then tallies every slot after the
  // second itself, and if it does not, it waits for good once every slot is
  // full. What the threads did, read after finish().
  void holdWorkers(bool hold);
  struct Counts {
    uint64_t readerSlots = 0;  // slots the reader tallied itself
    uint64_t flushes = 0;      // tallies added into the total
    uint64_t mostHeld = 0;     // the most words one set of tallies held
    uint64_t files = 0;        // begin() .. end() spans
  };
  Counts counts() const { return _counts; }

 private:
  // A run of words from chunks of the same kind, up to slot word `end`;
  // with hit tallies, from one chunk, and its hits once tallied.
  struct Segment {
    size_t end;
    ChunkKind kind;
    uint64_t chunk;
    uint64_t hits;
  };
  struct Slot {
    uint64_t* words;
    size_t count = 0;
    uint64_t delivered = 0;  // stream words before words[0]
    std::vector<Segment> segments;
  };
  // Segments of one slot; a slot of more is handed over early, so a file of
  // tiny alternating chunks costs no more memory than any other.
  static constexpr size_t MAX_SEGMENTS = 1024;

  struct FreeDeleter {
    void operator()(uint32_t* p) const;
  };
  struct Worker {
    std::unique_ptr<uint32_t[], FreeDeleter> counts;  // COUNTER_WORDS counters
    Tallies<uint32_t> tallies;
    HitCounters<uint32_t> hits;
    uint64_t idle[CHUNK_KINDS] = {};
    uint64_t empty = 0;
    bool frames = false;  // frame chunks tallied since the last flush
    uint64_t words = 0;   // tallied since the last flush
  };
  void work(Worker& w);
  // Tallies one slot into w's tallies.
  void tallySlot(Worker& w, Slot& s);
  // The hits of the slot's segments go to their chunks; the reader's
  // alone, for a slot no worker holds.
  void tallyPlainSlot(const Tallies<uint32_t>& t, const Slot& s);
  void takeChunkHits(Slot& s);
  // Tallies made with calloc, so that the system zeroes the pages as they
  // are first touched and tallies that stay empty cost no memory.
  std::unique_ptr<Worker> makeWorker() const;
  void flush(Worker& w);
  void handOver();

  uint64_t* const _ring;
  const size_t _ringWords;
  // The file's: set by begin() while no slot is full and every worker
  // waits, read by the workers only for slots handed over after it.
  TallyCounters _total{};
  PacketForm _form{};
  HitTotals* _hits = nullptr;
  const uint64_t _flushWords;
  uint64_t _delivered;  // the reader's count of stream words added
  std::vector<Slot> _slots;
  int _current = -1;  // the slot the reader fills; the reader's alone

  std::mutex _mutex;
  std::condition_variable _slotFull;  // a slot is waiting for a worker, or the end
  std::condition_variable _slotFree;  // a slot can be filled again
  // Slots by state, each list with room for all of them from the start, so
  // that no step of the scan allocates. The order in which full slots are
  // tallied does not matter.
  std::vector<int> _full;  // guarded by _mutex
  std::vector<int> _free;  // guarded by _mutex
  bool _closing = false;   // guarded by _mutex
  bool _held = false;      // guarded by _mutex
  bool _draining = false;  // guarded by _mutex: end() lets held workers go

  std::mutex _flushMutex;  // guards _total, _counts.flushes and .mostHeld
  Counts _counts;          // readerSlots: the reader's alone
  std::vector<std::unique_ptr<Worker>> _workers;
  std::unique_ptr<Worker> _reader;  // the reader's own tallies
  std::vector<std::thread> _threads;
  pid_t _process = 0;     // the process that started the threads
  bool _started = false;  // start() was called
  bool _inFile = false;   // between begin() and end()
  bool _finished = false;
};

}  // namespace morven

#endif  // MORVEN_PARALLELTALLY_H
