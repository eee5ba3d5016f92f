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
#include "Format.h"

namespace morven {

namespace {

// The readout has at most 8 links; the per-link tables have this many
// entries, of which the first `links` are used.
constexpr int MAX_LINKS = 8;
// An error run writes at most this many error lines; later errors of the
// same run are only counted, and the count shows in the closing line.
constexpr uint64_t MAX_ERROR_LINES = 5;

// ---- Test-generator packets -------------------------------------------------
// The generator fills a pixel packet's EoC, pixel-number and ToA fields with
// counters and its low 30 bits with a constant; the chip-half bit is not
// part of the pattern.
constexpr uint64_t TOP_BIT = 1ULL << 63;
constexpr int TESTGEN_EOC_SHIFT = 55;
constexpr int TESTGEN_PIXNR_SHIFT = 46;
constexpr int TESTGEN_TOA_SHIFT = 30;
// A heartbeat's counter: bits 53..0 (bit 54 and the half bit are not part of it).
constexpr uint64_t TESTGEN_HEARTBEAT_MASK = (1ULL << 54) - 1;

struct TestGenFields {
  uint64_t eoc, pixnr, toa;
};

TestGenFields testGenFields(uint64_t w) {
  return {(w >> TESTGEN_EOC_SHIFT) & 0xFF, (w >> TESTGEN_PIXNR_SHIFT) & 0x1FF,
          (w >> TESTGEN_TOA_SHIFT) & 0xFFFF};
}

bool isTestGenHeartbeat(uint64_t w) {
  return ((w >> TESTGEN_EOC_SHIFT) & 0xFF) == TESTGEN_HEARTBEAT;
}

// The word a link must send next, as one value to compare a packet with
// (half bit cleared). An expected EoC of 255 is the heartbeat code, which no
// pixel word carries: such an expectation gets the half bit set, so that no
// word compares equal to it.
uint64_t expectedWord(const TestGenFields& e) {
  uint64_t w = e.eoc << TESTGEN_EOC_SHIFT | e.pixnr << TESTGEN_PIXNR_SHIFT |
               e.toa << TESTGEN_TOA_SHIFT | TESTGEN_FIXED;
  return e.eoc == TESTGEN_HEARTBEAT ? w | TOP_BIT : w;
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
  constexpr uint64_t TOA_FIELD = 0xFFFFULL << TESTGEN_TOA_SHIFT;
  constexpr uint64_t PIXNR_FIELD = 0x1FFULL << TESTGEN_PIXNR_SHIFT;
  if ((w & TOA_FIELD) != TOA_FIELD && (w & PIXNR_FIELD) != PIXNR_FIELD) [[likely]] {
    return w + (1ULL << TESTGEN_TOA_SHIFT) + (1ULL << TESTGEN_PIXNR_SHIFT);
  }
  return successorWord(testGenFields(w), g);
}

// ---- Line output --------------------------------------------------------------
// Lines are built in a character buffer and written in one go. Fields of a
// fixed width take the stream's fill character of the moment: the counter
// check makes it '0', and a chunk-layer message written between two lines
// may set it back to a blank.

void endLine(std::ostream& out, char* line, char* end) {
  *end++ = '\n';
  out.write(line, end - line);
  out.flush();
}

// A line that showed numbers in hexadecimal leaves the stream in decimal.
void endHexLine(std::ostream& out, char* line, char* end) {
  out << std::dec;
  endLine(out, line, end);
}

// label, the value found and, in parentheses, the value expected, both in
// hexadecimal in the given width.
char* putFieldPair(char* p, const char* label, uint64_t found, uint64_t expected, int width,
                   char fill) {
  p = putText(p, label);
  p = putHex(p, found, width, fill);
  p = putText(p, " (");
  p = putHex(p, expected, width, fill);
  return putText(p, ")");
}

// The line that closes an error run of 2 or more: when the link matches
// again (link shown only with several links), or at the end of the call
// (link always shown).
void writeConsecutiveErrs(std::ostream& out, bool showLink, int link, uint64_t run,
                          uint64_t count) {
  char line[128];
  char* p = putText(line, "### Consecutive errs ");
  if (showLink) {
    p = putText(p, "(lnk=");
    p = putDec(p, uint64_t(link));
    p = putText(p, ")");
  }
  p = putText(p, ": ");
  p = putDec(p, run);
  p = putText(p, " (cnt=");
  p = putDec(p, count);
  p = putText(p, ")");
  endLine(out, line, p);
}

// A closing line with a count: the text, the count in decimal.
void writeCount(std::ostream& out, const char* text, uint64_t count) {
  char line[64];
  endLine(out, line, putDec(putText(line, text), count));
}

void writeOpenRuns(std::ostream& out, const uint64_t (&errorRun)[MAX_LINKS], uint64_t count) {
  for (int l = 0; l < MAX_LINKS; ++l) {
    if (errorRun[l] > 1) writeConsecutiveErrs(out, true, l, errorRun[l], count);
  }
}

// ---- Test-generator check state -------------------------------------------------

struct TestGenCheck {
  std::ostream& out;
  int links;
  uint64_t group;  // g: EoC values each link cycles through
  uint64_t learned = 0;
  uint64_t judged = 0;
  uint64_t idles = 0;
  uint64_t heartbeats = 0;
  uint64_t expectedHeartbeat = 0;
  uint64_t expected[MAX_LINKS] = {};
  uint64_t errorRun[MAX_LINKS] = {};
  uint64_t lastErrorMark[MAX_LINKS] = {};

  uint64_t packetsRead() const { return learned + judged; }

  void idle() {
    ++idles;
    out.write("IDLE\n", 5);
  }

  void heartbeat(uint64_t w) {
    const uint64_t h = w & TESTGEN_HEARTBEAT_MASK;
    if (h != expectedHeartbeat) {
      char line[96];
      char* p = putText(line, "### HEARTBEAT ");
      p = putDec(p, h);
      p = putText(p, " (");
      p = putDec(p, expectedHeartbeat);
      p = putText(p, ")");
      endLine(out, line, p);
    }
    expectedHeartbeat = (h + 1) & TESTGEN_HEARTBEAT_MASK;
    ++heartbeats;
  }

  // A pixel word that is not the plain match of the fast path: a match that
  // ends an error run, the tolerated ToA value, or an error.
  void judgePixel(uint64_t w, int link) {
    const TestGenFields f = testGenFields(w);
    const TestGenFields e = testGenFields(expected[link]);
    const uint64_t fixed = w & TESTGEN_FIXED_MASK;
    if (fixed == TESTGEN_FIXED && f.pixnr == e.pixnr && f.eoc == e.eoc && f.toa == e.toa) {
      if (errorRun[link] > 1)
        writeConsecutiveErrs(out, links > 1, link, errorRun[link], packetsRead());
      errorRun[link] = 0;
    } else if (f.toa == 51 && (e.toa == 50 || e.toa == 52) && f.pixnr == e.pixnr) {
      // The generator is known to send ToA 51 in place of 50 or 52: not
      // counted as an error, and it neither ends nor extends an error run.
    } else {
      if (++errorRun[link] <= MAX_ERROR_LINES) writeError(f, e, fixed, link);
      lastErrorMark[link] = packetsRead();
    }
    expected[link] = successorWord(f, group);
  }

  void writeError(const TestGenFields& f, const TestGenFields& e, uint64_t fixed, int link) {
    const char fill = out.fill();
    const uint64_t read = packetsRead();
    char line[256];
    char* p = putText(line, "### ");
    p = putDec(p, read, 7, fill);
    p = putText(p, ": ");
    p = putFieldPair(p, "pixnr=", f.pixnr, e.pixnr, 3, fill);
    p = putFieldPair(p, ", eoc=", f.eoc, e.eoc, 2, fill);
    p = putFieldPair(p, ", toa ", f.toa, e.toa, 5, fill);
    if (fixed != TESTGEN_FIXED) {
      p = putText(p, ", fixed=");
      p = putHex(p, fixed, 8, fill);
    }
    if (links > 1) {
      p = putText(p, " (lnk=");
      p = putHex(p, uint64_t(link));
      p = putText(p, ")");
    } else {
      // How far the word is from the expected one, forwards and modulo the
      // pixel and ToA ranges, and how many words ago the previous error was.
      uint64_t a = f.eoc * 512 + f.pixnr;
      const uint64_t b = e.eoc * 512 + e.pixnr;
      if (a < b) a += N_PIXELS;
      uint64_t t = f.toa;
      if (t < e.toa) t += 0x10000;
      p = putText(p, " (diffs = ");
      p = putDec(p, a - b);
      p = putText(p, ", ");
      p = putDec(p, t - e.toa);
      p = putText(p, ", pix=");
      p = putDec(p, (read - lastErrorMark[link]) / uint64_t(links));
      p = putText(p, ")");
    }
    endHexLine(out, line, p);
  }
};

// ---- Counter check state ------------------------------------------------------

struct CounterCheck {
  std::ostream& out;
  int links;
  uint64_t learned = 0;
  uint64_t judged = 0;
  uint64_t expected[MAX_LINKS] = {};
  uint64_t errorRun[MAX_LINKS] = {};

  uint64_t packetsRead() const { return learned + judged; }

  // A word that is not the plain match of the fast path: a match that ends
  // an error run, or an error.
  void judge(uint64_t w, int link) {
    if (w == expected[link]) {
      if (errorRun[link] > 1)
        writeConsecutiveErrs(out, links > 1, link, errorRun[link], packetsRead());
      errorRun[link] = 0;
      return;
    }
    if (++errorRun[link] <= MAX_ERROR_LINES) {
      const char fill = out.fill();
      char line[128];
      char* p = putText(line, "### ");
      p = putDec(p, packetsRead(), 7, fill);
      p = putText(p, ": ");
      p = putHex(p, w, 8, fill);
      p = putText(p, ", expected ");
      p = putHex(p, expected[link], 8, fill);
      endHexLine(out, line, p);
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
  TestGenCheck c{out, links, VX7_EOC_MAX_COLS / uint64_t(links)};

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
    const uint64_t pixel = w & ~TOP_BIT;
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

  writeOpenRuns(out, c.errorRun, c.packetsRead());
  if (c.idles != 0) writeCount(out, "IDLE packets: ", c.idles);
  if (c.heartbeats != 0) writeCount(out, "HEARTBEAT packets: ", c.heartbeats);
  return c.judged;
}

uint64_t DataInspector::checkAsCounters(std::ostream& out, int links) {
  if (links < 1) links = 1;
  if (links > MAX_LINKS) links = MAX_LINKS;
  CounterCheck c{out, links};

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

  writeOpenRuns(out, c.errorRun, c.packetsRead());
  return c.judged;
}

}  // namespace morven
