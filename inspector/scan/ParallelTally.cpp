#include "scan/ParallelTally.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>
#include <utility>

#include <unistd.h>

namespace morven {

namespace {

constexpr size_t COUNTER_WORDS = TYPE_COUNTERS + PIXEL_COUNTERS + TOA_COUNTERS;
constexpr size_t HIT_COUNTER_WORDS = TOT_COUNTERS + PC_COUNTERS + PIXEL_COUNTERS;

}  // namespace

void ParallelTally::FreeDeleter::operator()(uint32_t* p) const {
  std::free(p);
}

ParallelTally::ParallelTally(uint64_t* ring, size_t ringWords, uint64_t flushWords)
    : _ring(ring),
      _ringWords(ringWords),
      _flushWords(std::min<uint64_t>(flushWords, UINT32_MAX)),
      _delivered(0) {}

ParallelTally::ParallelTally(uint64_t* ring, size_t ringWords, TallyCounters total, PacketForm form,
                             uint64_t delivered, HitTotals* hits, uint64_t flushWords)
    : ParallelTally(ring, ringWords, flushWords) {
  begin(total, form, delivered, hits);
}

ParallelTally::~ParallelTally() {
  finish();
}

// The hit tallies are made for every thread: calloc's pages are zero
// pages of the system until first written, so a run without hit tallies
// pays no memory for them.
std::unique_ptr<ParallelTally::Worker> ParallelTally::makeWorker() const {
  auto w = std::make_unique<Worker>();
  const size_t words = COUNTER_WORDS + HIT_COUNTER_WORDS;
  w->counts.reset(static_cast<uint32_t*>(std::calloc(words, sizeof(uint32_t))));
  if (!w->counts) return nullptr;
  uint32_t* p = w->counts.get();
  w->tallies = {p, p + TYPE_COUNTERS, p + TYPE_COUNTERS + PIXEL_COUNTERS};
  p += COUNTER_WORDS;
  w->hits = {p, p + TOT_COUNTERS, p + TOT_COUNTERS + PC_COUNTERS};
  return w;
}

void ParallelTally::begin(TallyCounters total, PacketForm form, uint64_t delivered,
                          HitTotals* hits) {
  _total = total;
  _form = form;
  _hits = hits;
  _delivered = delivered;
  _inFile = true;
  ++_counts.files;
}

bool ParallelTally::usableHere() const {
  return _threads.empty() || _process == ::getpid();
}

int ParallelTally::start(int tallying) {
  const int workers = std::max(1, tallying - 1);
  if (_ringWords / SLOT_WORDS < 2 || _started) return 0;
  _started = true;
  _process = ::getpid();
  try {
    // A slot for each worker to tally, two waiting and one that the reader
    // fills keep every thread busy; more would only take memory.
    const size_t slots = std::min(_ringWords / SLOT_WORDS, size_t(workers) + 3);
    _slots.resize(slots);
    _free.reserve(slots);
    _full.reserve(slots);
    for (size_t i = 0; i < slots; ++i) {
      _slots[i].words = _ring + i * SLOT_WORDS;
      _slots[i].segments.reserve(MAX_SEGMENTS);
      _free.push_back(int(slots - 1 - i));
    }
    // Without tallies of its own the reader only reads.
    if (tallying > 1) _reader = makeWorker();
    _workers.reserve(size_t(workers));
    _threads.reserve(size_t(workers));
    for (int i = 0; i < workers; ++i) {
      std::unique_ptr<Worker> w = makeWorker();
      if (!w) break;
      _workers.push_back(std::move(w));
      _threads.emplace_back(&ParallelTally::work, this, std::ref(*_workers.back()));
    }
  } catch (const std::exception&) {
    // Fewer threads than asked (at worst none): the scan goes on with those
    // that run. Tallies made for a thread that never ran stay zero.
    if (_workers.size() > _threads.size()) _workers.pop_back();
  }
  if (_threads.empty()) _finished = true;
  return int(_threads.size());
}

ParallelTally::Room ParallelTally::room(size_t wanted) {
  const size_t need = std::min(wanted, SLOT_WORDS);
  if (_current >= 0 && SLOT_WORDS - _slots[size_t(_current)].count < need) handOver();
  if (_current < 0) {
    std::unique_lock<std::mutex> lock(_mutex);
    _slotFree.wait(lock, [this] { return !_free.empty(); });
    _current = _free.back();
    _free.pop_back();
    lock.unlock();
    Slot& s = _slots[size_t(_current)];
    takeChunkHits(s);
    s.count = 0;
    s.delivered = _delivered;
  }
  Slot& s = _slots[size_t(_current)];
  return Room{s.words + s.count, SLOT_WORDS - s.count};
}

void ParallelTally::add(size_t n, ChunkKind kind, uint64_t chunk) {
  if (_current < 0 || n == 0) return;
  Slot& s = _slots[size_t(_current)];
  s.count += n;
  _delivered += n;
  // Without hit tallies, chunks of one kind make one segment.
  if (_hits == nullptr) chunk = 0;
  if (!s.segments.empty() && s.segments.back().kind == kind && s.segments.back().chunk == chunk) {
    s.segments.back().end = s.count;
  } else {
    s.segments.push_back(Segment{s.count, kind, chunk, 0});
  }
  if (s.count == SLOT_WORDS || s.segments.size() == MAX_SEGMENTS) handOver();
}

void ParallelTally::handOver() {
  if (_current < 0) return;
  const int slot = _current;
  Slot& s = _slots[size_t(slot)];
  bool behind = false;
  {
    std::lock_guard<std::mutex> lock(_mutex);
    if (s.count == 0) {
      _current = -1;
      _free.push_back(slot);
      return;
    }
    // The workers are behind while two full slots wait for them: this one
    // is tallied here, and filled again. (With only one waiting, a worker
    // would run out of slots while the reader tallies.)
    behind = _reader != nullptr && _full.size() >= 2 && !_closing;
    if (!behind) {
      _current = -1;
      _full.push_back(slot);
    }
  }
  if (!behind) {
    _slotFull.notify_one();
    return;
  }
  tallySlot(*_reader, s);
  takeChunkHits(s);
  ++_counts.readerSlots;
  s.count = 0;
  s.delivered = _delivered;
}

void ParallelTally::tallySlot(Worker& w, Slot& s) {
  // No 32-bit counter can pass its limit while the worker has tallied
  // fewer words than that since its last flush.
  if (w.words + s.count > _flushWords) flush(w);
  w.words += s.count;
  if (_hits == nullptr) {
    tallyPlainSlot(w.tallies, s);
    return;
  }
  size_t begin = 0;
  for (Segment& seg : s.segments) {
    const uint64_t* words = s.words + begin;
    const uint64_t n = seg.end - begin, delivered = s.delivered + begin;
    begin = seg.end;
    const WordCounts c =
        tallyHitWords<false>(w.tallies, w.hits, words, n, delivered, seg.kind, _form);
    w.empty += c.empty;
    if (seg.kind == ChunkKind::Frame) {
      w.frames = true;
      continue;
    }
    w.idle[size_t(seg.kind)] += c.idle;
    seg.hits = c.data - c.idle;
  }
}

// The slot without the hit tallies: the loop of the plain statistics scan,
// kept in a function of its own so that the hit loop beside it does not
// change how the compiler lays out this one.
[[gnu::noinline]] void ParallelTally::tallyPlainSlot(const Tallies<uint32_t>& t, const Slot& s) {
  size_t begin = 0;
  for (const Segment& seg : s.segments) {
    tallyWords<false>(t, s.words + begin, seg.end - begin, s.delivered + begin,
                      seg.kind == ChunkKind::ToaTot, _form);
    begin = seg.end;
  }
}

void ParallelTally::takeChunkHits(Slot& s) {
  if (_hits != nullptr) {
    for (const Segment& seg : s.segments) _hits->chunkHits[seg.chunk] += seg.hits;
  }
  s.segments.clear();
}

void ParallelTally::work(Worker& w) {
  std::unique_lock<std::mutex> lock(_mutex);
  for (;;) {
    _slotFull.wait(lock, [this] { return (!_full.empty() && (!_held || _draining)) || _closing; });
    if (_full.empty()) return;  // closing, and every slot tallied
    const int slot = _full.back();
    _full.pop_back();
    lock.unlock();
    tallySlot(w, _slots[size_t(slot)]);
    lock.lock();
    _free.push_back(slot);
    _slotFree.notify_one();
  }
}

// Adds a worker's tallies into the total and clears them. The type tally of
// data packets comes from the pixel tallies: pixel number bits 16..9 are the
// type, bit 17 the chip half, bits 8..0 the pixel in the EoC block.
void ParallelTally::flush(Worker& w) {
  std::lock_guard<std::mutex> lock(_flushMutex);
  ++_counts.flushes;
  _counts.mostHeld = std::max(_counts.mostHeld, w.words);
  const Tallies<uint32_t>& c = w.tallies;
  for (size_t t = 0; t < TYPE_COUNTERS; ++t) {
    uint64_t n = c.types[t];
    if (t < VX7_EOC_MAX_COLS) {
      for (size_t half = 0; half < 2; ++half) {
        const uint32_t* p = c.pixels + pixelIndex(half != 0, t, 0);
        for (size_t i = 0; i < 512; ++i) n += p[i];
      }
    }
    _total.types[t] += n;
  }
  for (size_t i = 0; i < PIXEL_COUNTERS; ++i) _total.pixels[i] += c.pixels[i];
  for (size_t i = 0; i < TOA_COUNTERS; ++i) _total.toas[i] += c.toas[i];
  std::fill_n(w.counts.get(), COUNTER_WORDS, uint32_t(0));
  if (_hits != nullptr) {
    const HitCounters<uint32_t>& h = w.hits;
    for (size_t i = 0; i < TOT_COUNTERS; ++i) _hits->tots[i] += h.tots[i];
    for (size_t i = 0; i < PC_COUNTERS; ++i) _hits->pcs[i] += h.pcs[i];
    // The frame tallies are read only when something was tallied there.
    if (w.frames) {
      _hits->haveFramePixels();
      for (size_t i = 0; i < PIXEL_COUNTERS; ++i) _hits->framePixels[i] += h.framePixels[i];
      std::fill_n(h.framePixels, PIXEL_COUNTERS, uint32_t(0));
      w.frames = false;
    }
    for (size_t k = 0; k < CHUNK_KINDS; ++k) _hits->idle[k] += std::exchange(w.idle[k], 0);
    _hits->empty += std::exchange(w.empty, 0);
    std::fill_n(h.tots, TOT_COUNTERS + PC_COUNTERS, uint32_t(0));
  }
  w.words = 0;
}

void ParallelTally::holdWorkers(bool hold) {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _held = hold;
  }
  if (!hold) _slotFull.notify_all();
}

void ParallelTally::end() {
  if (!_inFile) return;
  _inFile = false;
  handOver();
  // A slot the reader tallied itself is still its own, now empty: this
  // hands it back.
  handOver();
  {
    // Every slot back means every worker is done with the file's words and
    // waits: their tallies can be read from here.
    std::unique_lock<std::mutex> lock(_mutex);
    _draining = true;
    _slotFull.notify_all();
    _slotFree.wait(lock, [this] { return _free.size() == _slots.size(); });
    _draining = false;
  }
  for (const std::unique_ptr<Worker>& w : _workers) {
    if (w->words > 0) flush(*w);
  }
  if (_reader && _reader->words > 0) flush(*_reader);
  // Every slot is back, its hits not yet taken.
  for (Slot& s : _slots) takeChunkHits(s);
}

void ParallelTally::finish() {
  if (_finished) return;
  _finished = true;
  end();
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _closing = true;
  }
  _slotFull.notify_all();
  for (std::thread& t : _threads) t.join();
  _threads.clear();
  _workers.clear();
  _reader.reset();
}

}  // namespace morven
