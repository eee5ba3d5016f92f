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

#include "DataInspector.h"
#include "LineWriter.h"
#include "Packet.h"

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

// ---- Report lines and findings --------------------------------------------------
// Each line is built in a LineWriter and written in one go, flushed. Fields
// of a fixed width take the stream's fill character of the moment: the
// counter check makes it '0', and a chunk-layer message written between two
// lines may set it back to a blank. Every line that reports a finding adds
// the same finding to the CheckFindings, when the caller gave one.

using Line = LineWriter<256>;

// A line that showed numbers in hexadecimal leaves the stream in decimal.
void endHexLine(std::ostream& out, Line& line) {
  out << std::dec;
  line.end(out);
}

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
      if (findings != nullptr)
        findings->runs.push_back(ErrorRun{link, errorRun[link], packetsRead(), atEnd});
    }
    errorRun[link] = 0;
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
      if (findings != nullptr)
        findings->heartbeatErrors.push_back(HeartbeatError{packetsRead(), h, expectedHeartbeat});
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
    const char fill = out.fill();
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
    if (t < e.toa) t += 0x10000;
    const uint64_t since = (read - lastErrorMark[link]) / uint64_t(links);
    if (links > 1) {
      line.text(" (lnk=").hex(uint64_t(link)).text(")");
    } else {
      line.text(" (diffs = ").dec(a - b).text(", ").dec(t - e.toa);
      line.text(", pix=").dec(since).text(")");
    }
    endHexLine(out, line);
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
      const char fill = out.fill();
      Line line;
      line.text("### ").dec(packetsRead(), 7, fill).text(": ").hex(w, 8, fill);
      line.text(", expected ").hex(expected[link], 8, fill);
      endHexLine(out, line);
      if (CheckError* r = newError(link)) {
        r->found = w;
        r->expected = expected[link];
      }
    }
  }
};

int nextLink(int link, int links) {
  return link + 1 == links ? 0 : link + 1;
}

}  // namespace

// The driver passes 1 to 8 links; any other count is taken as the nearest
// one the per-link tables hold.
uint64_t DataInspector::checkAsTestGenPixels(std::ostream& out, int links) {
  if (links < 1) links = 1;
  if (links > MAX_LINKS) links = MAX_LINKS;
  TestGenCheck c{{out, links, _checkFindings}, VX7_EOC_MAX_COLS / uint64_t(links)};

  // Learning: the first pixel word of each link, in link order, sets where
  // the link stands; idle words and heartbeats before it are passed over.
  uint64_t w = 0;
  int link = 0;
  bool more = true;
  WordRun run;
  while (link < links && (more = nextRunWord(run, w))) {
    ++c.learned;
    if (w == IDLE_WORD || isTestGenHeartbeat(w)) continue;
    c.expected[link] = successorWord(testGenFields(w), c.group);
    ++link;
  }

  // A stream that ended while learning is not asked again: after words
  // from memory, a further call would go on in the file.
  link = 0;
  while (more && nextRunWord(run, w)) {
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
  if (_checkFindings != nullptr) {
    _checkFindings->idles += c.idles;
    _checkFindings->heartbeats += c.heartbeats;
  }
  return c.judged;
}

uint64_t DataInspector::checkAsCounters(std::ostream& out, int links) {
  if (links < 1) links = 1;
  if (links > MAX_LINKS) links = MAX_LINKS;
  CounterCheck c{{out, links, _checkFindings}};

  // Learning: the first word of each link, in link order, is its counter.
  uint64_t w = 0;
  int link = 0;
  bool more = true;
  WordRun run;
  while (link < links && (more = nextRunWord(run, w))) {
    ++c.learned;
    c.expected[link++] = w + 1;
  }

  // The counter lines print their numbers zero-filled, and the fill stays
  // with the stream after the call.
  out.fill('0');
  link = 0;
  while (more && nextRunWord(run, w)) {
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
