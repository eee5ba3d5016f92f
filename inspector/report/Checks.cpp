// The test-generator check and the counter check.
//
// Both take a file's words straight from nextPixel, learn each link's
// position from the link's first word and then judge every later word
// against the successor of the link's previous word. Captures run to many
// gigabytes, so the loop over the words compares each one with a single
// precomputed word per link; idle words, heartbeats and deviations leave
// the loop for functions of their own, and only those rare cases format
// any text.
#include <cstdint>
#include <ios>
#include <ostream>

#include "format/Packet.h"
#include "report/Checks.h"
#include "text/LineWriter.h"

namespace morven {

namespace {

// The readout has at most 8 links; the per-link tables have this many
// entries, of which the first `links` are used.
constexpr int MAX_LINKS = 8;
// An error run writes at most this many error lines; later errors of the
// same run are only counted, and the count shows in the closing line.
constexpr uint64_t MAX_ERROR_LINES = 5;

// ---- Test-generator packets -------------------------------------------------
// The generator counts in a pixel packet's EoC, pixel-number and ToA fields
// and fills its low 30 bits with a constant; the chip-half bit is not part
// of the pattern (Packet.h).

struct TestGenFields {
  uint64_t eoc, pixnr, toa;
};

TestGenFields testGenFields(uint64_t w) {
  return {packetType(w), packetPixelNumber(w), packetToa(w)};
}

// The word a link must send next, as one value to compare a packet with
// (half bit cleared). An expected EoC of 255 is the heartbeat code, which no
// pixel word carries: such an expectation gets the half bit set, so that no
// word compares equal to it.
uint64_t expectedWord(const TestGenFields& e) {
  const uint64_t w = testGenWord(e.eoc, e.pixnr, e.toa);
  return e.eoc == TESTGEN_HEARTBEAT ? w | PACKET_TOP_BIT : w;
}

// The successor of a pixel word: ToA and pixel number count up; after pixel
// number 511 the EoC counts up, wrapping inside the link's group of g
// consecutive EoC values.
uint64_t successorWord(const TestGenFields& f, uint64_t g) {
  TestGenFields e{f.eoc, (f.pixnr + 1) & 0x1FF, (f.toa + 1) & 0xFFFF};
  if (e.pixnr == 0) {
    e.eoc = f.eoc + 1;
    if (e.eoc % g == 0) e.eoc -= g;
  }
  return expectedWord(e);
}

// The successor of a word that matched its expectation. Away from the wraps
// of the ToA and pixel number, ToA and pixel number both count up by one in
// place, and the EoC stays.
uint64_t successorOfMatch(uint64_t w, uint64_t g) {
  constexpr uint64_t ONE_UP = testGenWord(0, 1, 1) - testGenWord(0, 0, 0);
  if (packetToa(w) != 0xFFFF && packetPixelNumber(w) != 0x1FF) [[likely]]
    return w + ONE_UP;
  return successorWord(testGenFields(w), g);
}

// ---- Stretches of clean words ---------------------------------------------------
// On a clean stream every word is the plain successor of the word its link
// sent before, which stands `links` words back in the buffer. The checks
// take such stretches whole: the first word of each link is held against
// the link's expected word, every later one against the word `links` back,
// a block of words at a time with no branch inside the block (code the
// compiler vectorizes). The word that ends a stretch (a wrap of a counter,
// an idle word, a heartbeat, an error), and every word while an error run
// is open, goes the way of a single word.

constexpr size_t BLOCK_WORDS = 16;

// Where the stretch that has reached p[from] ends: words from on are judged
// by badness(the word links back, the word), 0 for a clean word.
template <class Badness>
size_t stretchEnd(const uint64_t* p, size_t n, size_t links, size_t from, Badness badness) {
  size_t j = from;
  for (; n - j >= BLOCK_WORDS; j += BLOCK_WORDS) {
    uint64_t bad = 0;
    for (size_t k = j; k < j + BLOCK_WORDS; ++k) bad |= badness(p[k - links], p[k]);
    if (bad != 0) break;
  }
  while (j < n && badness(p[j - links], p[j]) == 0) ++j;
  return j;
}

// 0 when w is the successor of prev in place: both test-generator counters
// one up, neither at its wrap, the rest of the word (fixed pattern, EoC)
// the same; the half bit of neither word counts. A counter field with no
// room left (every bit set) makes its room - 1 wrap to a set top bit.
inline uint64_t notTestGenStep(uint64_t prev, uint64_t w) {
  constexpr uint64_t ONE_UP = testGenWord(0, 1, 1) - testGenWord(0, 0, 0);
  constexpr uint64_t TOA_FIELD = testGenWord(0, 0, 0xFFFF) ^ TESTGEN_FIXED;
  constexpr uint64_t PIXNR_FIELD = testGenWord(0, 0x1FF, 0) ^ TESTGEN_FIXED;
  const uint64_t p = prev & ~PACKET_TOP_BIT;
  const uint64_t toaRoom = ~p & TOA_FIELD;
  const uint64_t pixnrRoom = ~p & PIXNR_FIELD;
  return ((w & ~PACKET_TOP_BIT) ^ (p + ONE_UP)) |
         (((toaRoom - 1) | (pixnrRoom - 1)) & PACKET_TOP_BIT);
}

// 0 when w is the counter after prev.
inline uint64_t notCounterStep(uint64_t prev, uint64_t w) {
  return w ^ (prev + 1);
}

int nextLink(int link, int links) {
  return link + 1 == links ? 0 : link + 1;
}

// ---- Report lines and findings --------------------------------------------------
// Each line is built in a LineWriter and written in one go, flushed; the
// stream's formatting state is neither read nor changed. Fields of a fixed
// width are filled with blanks, the counter check's with zeros until the
// first "### Invalid header" line of the chunk walk that comes in the
// middle of the check: from there on its lines are blank-filled too, as the
// tool has always printed them. Every line that reports a finding adds the
// same finding to the CheckFindings, when the caller gave one.

using Line = LineWriter<256>;

// label, the value found and, in parentheses, the value expected, both in
// hexadecimal in the given width.
void putFieldPair(Line& line, const char* label, uint64_t found, uint64_t expected, int width,
                  char fill) {
  line.text(label).hex(found, width, fill).text(" (").hex(expected, width, fill).text(")");
}

// What the two checks share: the links, the counts of words, each link's
// current run of errors, and where the findings go.
struct CheckBase {
  std::ostream& out;
  int links;
  CheckFindings* findings;
  // The inspector's count of "### Invalid header" lines, and its value when
  // the counter check began to zero-fill.
  const uint64_t* invalidHeaderLines;
  uint64_t zeroFillFrom = UINT64_MAX;

  char fill() const { return *invalidHeaderLines == zeroFillFrom ? '0' : ' '; }
  uint64_t learned = 0;
  uint64_t judged = 0;
  uint64_t errorRun[MAX_LINKS] = {};

  uint64_t packetsRead() const { return learned + judged; }

  // The line that closes an error run of 2 or more: when the link matches
  // again (link shown only with several links), or at the end of the call
  // (link always shown).
  void closeRun(int link, bool atEnd) {
    if (errorRun[link] > 1) {
      Line line;
      line.text("### Consecutive errs ");
      if (links > 1 || atEnd) line.text("(lnk=").dec(uint64_t(link)).text(")");
      line.text(": ").dec(errorRun[link]).text(" (cnt=").dec(packetsRead()).text(")");
      line.end(out);
      if (findings != nullptr && findings->keepRecords)
        findings->runs.push_back(ErrorRun{link, errorRun[link], packetsRead(), atEnd});
    }
    errorRun[link] = 0;
  }

  bool anyRunOpen() const {
    for (int l = 0; l < links; ++l) {
      if (errorRun[l] != 0) return true;
    }
    return false;
  }

  // Takes the stretch of clean words at the front of [next, end) as the
  // single-word way would take them, each a plain match: the first word of
  // each link matches the link's expected word, and badness judges the
  // rest; then each link expects the successor of its last word taken.
  template <class Badness, class Successor>
  void takeStretch(const uint64_t*& next, const uint64_t* end, int& link, uint64_t* expected,
                   uint64_t ignoredBits, Badness badness, Successor successor) {
    const uint64_t* const p = next;
    const size_t n = size_t(end - next), span = size_t(links);
    size_t k = 0;
    for (int l = link; k < n && k < span && (p[k] & ~ignoredBits) == expected[l]; ++k) {
      l = nextLink(l, links);
    }
    if (k == span) k = stretchEnd(p, n, span, span, badness);
    for (size_t j = k > span ? k - span : 0; j < k; ++j) {
      expected[(size_t(link) + j) % span] = successor(p[j] & ~ignoredBits);
    }
    judged += k;
    next += k;
    link = int((size_t(link) + k) % span);
  }

  // The end of the call: the runs still open, then the counts.
  void finish() {
    for (int l = 0; l < MAX_LINKS; ++l) closeRun(l, true);
    if (findings != nullptr) {
      findings->learned += learned;
      findings->checked += judged;
    }
  }

  // A new error line for link, as a finding with the packet count and link
  // filled in.
  CheckError* newError(int link) {
    if (findings == nullptr) return nullptr;
    ++findings->failures;
    if (!findings->keepRecords) return nullptr;
    CheckError& e = findings->errors.emplace_back();
    e.packet = packetsRead();
    e.link = link;
    return &e;
  }
};

// A closing line with a count: the text, the count in decimal.
void writeCount(std::ostream& out, const char* text, uint64_t count) {
  Line line;
  line.text(text).dec(count).end(out);
}

// ---- Test-generator check state -------------------------------------------------

struct TestGenCheck : CheckBase {
  uint64_t group;  // g: EoC values each link cycles through
  uint64_t idles = 0;
  uint64_t heartbeats = 0;
  uint64_t expectedHeartbeat = 0;
  uint64_t expected[MAX_LINKS] = {};
  uint64_t lastErrorMark[MAX_LINKS] = {};

  void idle() {
    ++idles;
    Line line;
    line.text("IDLE").end(out, false);
  }

  void heartbeat(uint64_t w) {
    const uint64_t h = testGenHeartbeatCount(w);
    if (h != expectedHeartbeat) {
      Line line;
      line.text("### HEARTBEAT ").dec(h).text(" (").dec(expectedHeartbeat).text(")").end(out);
      if (findings != nullptr) {
        ++findings->failures;
        if (findings->keepRecords)
          findings->heartbeatErrors.push_back(HeartbeatError{packetsRead(), h, expectedHeartbeat});
      }
    }
    expectedHeartbeat = testGenHeartbeatCount(h + 1);
    ++heartbeats;
  }

  // A pixel word that is not the plain match of the fast path: a match that
  // ends an error run, the tolerated ToA value, or an error.
  void judgePixel(uint64_t w, int link) {
    const TestGenFields f = testGenFields(w);
    const TestGenFields e = testGenFields(expected[link]);
    const uint64_t fixed = testGenFixed(w);
    if (fixed == TESTGEN_FIXED && f.pixnr == e.pixnr && f.eoc == e.eoc && f.toa == e.toa) {
      closeRun(link, false);
    } else if (f.toa == 51 && (e.toa == 50 || e.toa == 52) && f.pixnr == e.pixnr) {
      // The generator is known to send ToA 51 in place of 50 or 52: not
      // counted as an error, and it neither ends nor extends an error run.
    } else {
      if (++errorRun[link] <= MAX_ERROR_LINES) writeError(w, f, e, link);
      lastErrorMark[link] = packetsRead();
    }
    expected[link] = successorWord(f, group);
  }

  void writeError(uint64_t w, const TestGenFields& f, const TestGenFields& e, int link) {
    const char fill = this->fill();
    const uint64_t read = packetsRead();
    const uint64_t fixed = testGenFixed(w);
    Line line;
    line.text("### ").dec(read, 7, fill).text(": ");
    putFieldPair(line, "pixnr=", f.pixnr, e.pixnr, 3, fill);
    putFieldPair(line, ", eoc=", f.eoc, e.eoc, 2, fill);
    putFieldPair(line, ", toa ", f.toa, e.toa, 5, fill);
    if (fixed != TESTGEN_FIXED) line.text(", fixed=").hex(fixed, 8, fill);
    // How far the word is from the expected one, forwards and modulo the
    // pixel and ToA ranges, and how many words ago the previous error was:
    // shown with one link only.
    uint64_t a = f.eoc * 512 + f.pixnr;
    const uint64_t b = e.eoc * 512 + e.pixnr;
    if (a < b) a += N_PIXELS;
    uint64_t t = f.toa;
    if (t < e.toa) t += VX7_TOA_VALUES;
    const uint64_t since = (read - lastErrorMark[link]) / uint64_t(links);
    if (links > 1) {
      line.text(" (lnk=").hex(uint64_t(link)).text(")");
    } else {
      line.text(" (diffs = ").dec(a - b).text(", ").dec(t - e.toa);
      line.text(", pix=").dec(since).text(")");
    }
    line.end(out);
    if (CheckError* r = newError(link)) {
      r->found = w;
      r->expected = expected[link] & ~PACKET_TOP_BIT;
      r->pixel = f.pixnr;
      r->expectedPixel = e.pixnr;
      r->eoc = f.eoc;
      r->expectedEoc = e.eoc;
      r->toa = f.toa;
      r->expectedToa = e.toa;
      r->fixedWrong = fixed != TESTGEN_FIXED;
      r->fixed = fixed;
      r->hasJumps = links == 1;
      if (r->hasJumps) {
        r->pixelJump = a - b;
        r->toaJump = t - e.toa;
        r->sincePrevious = since;
      }
    }
  }
};

// ---- Counter check state ------------------------------------------------------

struct CounterCheck : CheckBase {
  uint64_t expected[MAX_LINKS] = {};

  // A word that is not the plain match of the fast path: a match that ends
  // an error run, or an error.
  void judge(uint64_t w, int link) {
    if (w == expected[link]) {
      closeRun(link, false);
      return;
    }
    if (++errorRun[link] <= MAX_ERROR_LINES) {
      const char fill = this->fill();
      Line line;
      line.text("### ").dec(packetsRead(), 7, fill).text(": ").hex(w, 8, fill);
      line.text(", expected ").hex(expected[link], 8, fill);
      line.end(out);
      if (CheckError* r = newError(link)) {
        r->found = w;
        r->expected = expected[link];
      }
    }
  }
};

}  // namespace

// The driver passes 1 to 8 links; any other count is taken as the nearest
// one the per-link tables hold.
uint64_t checkAsTestGenPixels(std::ostream& out, PacketStream& stream, int links,
                              CheckFindings* findings) {
  if (links < 1) links = 1;
  if (links > MAX_LINKS) links = MAX_LINKS;
  TestGenCheck c{{out, links, findings, &stream.walker().invalidHeaderCounter()},
                 VX7_EOC_MAX_COLS / uint64_t(links)};

  // Learning: the first pixel word of each link, in link order, sets where
  // the link stands; idle words and heartbeats before it are passed over.
  uint64_t w = 0;
  int link = 0;
  bool more = true;
  PacketStream::WordRun run;
  while (link < links && (more = stream.nextRunWord(run, w))) {
    ++c.learned;
    if (w == IDLE_WORD || isTestGenHeartbeat(w)) continue;
    c.expected[link] = successorWord(testGenFields(w), c.group);
    ++link;
  }

  // A stream that ended while learning is not asked again: after words
  // from memory, a further call would go on in the file.
  link = 0;
  const auto successor = [&c](uint64_t pixel) { return successorOfMatch(pixel, c.group); };
  while (more) {
    if (run.end - run.next > 2 * links && !c.anyRunOpen()) {
      c.takeStretch(run.next, run.end, link, c.expected, PACKET_TOP_BIT, notTestGenStep, successor);
    }
    if (!stream.nextRunWord(run, w)) break;
    ++c.judged;
    // The plain match, the whole of the work on a clean stream. The expected
    // word carries the fixed pattern and an EoC below 255, so an idle word
    // or a heartbeat never compares equal.
    const uint64_t pixel = w & ~PACKET_TOP_BIT;
    if (pixel == c.expected[link] && c.errorRun[link] == 0) [[likely]] {
      c.expected[link] = successorOfMatch(pixel, c.group);
    } else if (w == IDLE_WORD) {
      c.idle();
      if (!out) break;  // the report was refused: the run ends here
      continue;         // idle words and heartbeats belong to no link
    } else if (isTestGenHeartbeat(w)) {
      c.heartbeat(w);
      if (!out) break;
      continue;
    } else {
      c.judgePixel(w, link);
      if (!out) break;
    }
    link = nextLink(link, links);
  }

  c.finish();
  if (c.idles != 0) writeCount(out, "IDLE packets: ", c.idles);
  if (c.heartbeats != 0) writeCount(out, "HEARTBEAT packets: ", c.heartbeats);
  if (findings != nullptr) {
    findings->idles += c.idles;
    findings->heartbeats += c.heartbeats;
  }
  return c.judged;
}

uint64_t checkAsCounters(std::ostream& out, PacketStream& stream, int links,
                         CheckFindings* findings) {
  if (links < 1) links = 1;
  if (links > MAX_LINKS) links = MAX_LINKS;
  CounterCheck c{{out, links, findings, &stream.walker().invalidHeaderCounter()}};

  // Learning: the first word of each link, in link order, is its counter.
  uint64_t w = 0;
  int link = 0;
  bool more = true;
  PacketStream::WordRun run;
  while (link < links && (more = stream.nextRunWord(run, w))) {
    ++c.learned;
    c.expected[link++] = w + 1;
  }

  // The counter lines print their numbers zero-filled from here on.
  c.zeroFillFrom = stream.walker().invalidHeaders();
  link = 0;
  const auto successor = [](uint64_t word) { return word + 1; };
  while (more) {
    if (run.end - run.next > 2 * links && !c.anyRunOpen())
      c.takeStretch(run.next, run.end, link, c.expected, 0, notCounterStep, successor);
    if (!stream.nextRunWord(run, w)) break;
    ++c.judged;
    if (w != c.expected[link] || c.errorRun[link] != 0) [[unlikely]] {
      c.judge(w, link);
      if (!out) break;  // the report was refused: the run ends here
    }
    // Every word, right or wrong, is what the link counts on from.
    c.expected[link] = w + 1;
    link = nextLink(link, links);
  }

  c.finish();
  return c.judged;
}

}  // namespace morven
