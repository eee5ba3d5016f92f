// The test-generator check (-Q) and the counter check (-q): golden cases run
// through the mvscan binary on files built here, compared whole, and the
// inspector's checks on a string stream for what the command line cannot
// show (the stream's state after a call, the results).
#include <gtest/gtest.h>

#include <cstdint>
#include <ios>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "scan/CheckFindings.h"
#include "scan/DataInspector.h"

using namespace testing_files;
using namespace morven;

namespace {

// ---- Test-generator words ---------------------------------------------------------

constexpr uint64_t FIXED = 0x2AEBA954;
constexpr uint64_t IDLE = 0x1E;
constexpr uint64_t TOP = 1ULL << 63;

uint64_t tg(uint64_t eoc, uint64_t pixnr, uint64_t toa, uint64_t fixed = FIXED) {
  return eoc << 55 | pixnr << 46 | toa << 30 | fixed;
}

uint64_t heartbeat(uint64_t counter) {
  return 0xFFULL << 55 | counter;
}

// n words of one link in EoC 0: pixel number and ToA both k for word k.
std::vector<uint64_t> ramp(size_t n) {
  std::vector<uint64_t> ws;
  for (size_t k = 0; k < n; ++k) ws.push_back(tg(0, k, k));
  return ws;
}

// Links taking turns: word k of every link has ToA k and is pixel k of the
// link's run through the pixels, which starts at pixel 0 of the given EoC.
std::vector<uint64_t> interleaved(const std::vector<uint64_t>& eocs, size_t perLink) {
  std::vector<uint64_t> ws;
  for (size_t k = 0; k < perLink; ++k) {
    for (uint64_t eoc : eocs) ws.push_back(tg(eoc + k / 512, k % 512, k));
  }
  return ws;
}

// A counter from v0 on, n words.
std::vector<uint64_t> count(uint64_t v0, size_t n) {
  std::vector<uint64_t> ws;
  for (size_t k = 0; k < n; ++k) ws.push_back(v0 + k);
  return ws;
}

std::vector<uint64_t> with(std::vector<uint64_t> ws, size_t at, uint64_t w) {
  ws.at(at) = w;
  return ws;
}

std::vector<uint64_t> without(std::vector<uint64_t> ws, size_t at) {
  ws.erase(ws.begin() + long(at));
  return ws;
}

std::vector<uint64_t> repeating(std::vector<uint64_t> ws, size_t at) {
  ws.insert(ws.begin() + long(at), ws.at(at));
  return ws;
}

std::vector<uint64_t> operator+(std::vector<uint64_t> a, const std::vector<uint64_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- Expected output ----------------------------------------------------------------

std::string banner(char mode, int links) {
  return std::string(mode == 'Q' ? "=> Check TestGenerator pixel format (#links="
                                 : "=> Check TestGenerator counter (#links=") +
         std::to_string(links) + ")\n";
}

std::string fileLines(const std::string& name, uint64_t size) {
  return "File opened: " + name + "\nFile header: MORVEN\nFile size  : " + std::to_string(size) +
         " bytes (" + std::to_string(size / 8) + "*8)\n";
}

std::string totals(char mode, uint64_t packets) {
  return mode == 'Q' ? "Total pixelpackets = " + std::to_string(packets) + " (heartbeats = 0)\n"
                     : "Total 'packets' = " + std::to_string(packets) + "\n";
}

const std::string NOTHING = "### Nothing was actually checked: check file contents\n";

// ---- Golden cases: one file, one data chunk -----------------------------------------

struct CheckCase {
  const char* name;
  char mode;  // 'Q' or 'q'
  int links;
  std::vector<uint64_t> words;  // the payload of one ToA/ToT data chunk
  std::string lines;            // what the check writes
  bool nothingChecked = false;
};

void PrintTo(const CheckCase& c, std::ostream* os) {
  *os << c.name;
}

// Words 5 to 12 of a ramp with a wrong fixed field: eight errors in a row,
// of which the first five are written.
std::vector<uint64_t> eightWrongFixed(size_t n) {
  std::vector<uint64_t> ws = ramp(n);
  for (uint64_t k = 5; k < 13; ++k) ws[k] = tg(0, k, k, FIXED + 1);
  return ws;
}

const std::string FIVE_WRONG_FIXED =
    "###       6: pixnr=  5 (  5), eoc= 0 ( 0), toa     5 (    5), fixed=2aeba955 "
    "(diffs = 0, 0, pix=6)\n"
    "###       7: pixnr=  6 (  6), eoc= 0 ( 0), toa     6 (    6), fixed=2aeba955 "
    "(diffs = 0, 0, pix=1)\n"
    "###       8: pixnr=  7 (  7), eoc= 0 ( 0), toa     7 (    7), fixed=2aeba955 "
    "(diffs = 0, 0, pix=1)\n"
    "###       9: pixnr=  8 (  8), eoc= 0 ( 0), toa     8 (    8), fixed=2aeba955 "
    "(diffs = 0, 0, pix=1)\n"
    "###      10: pixnr=  9 (  9), eoc= 0 ( 0), toa     9 (    9), fixed=2aeba955 "
    "(diffs = 0, 0, pix=1)\n";

// A counter that gets stuck at 7 for eight words after 100..104.
std::vector<uint64_t> eightStuck() {
  return count(100, 5) + std::vector<uint64_t>(8, 7);
}

const std::string FIVE_STUCK =
    "### 0000006: 00000007, expected 00000069\n"
    "### 0000007: 00000007, expected 00000008\n"
    "### 0000008: 00000007, expected 00000008\n"
    "### 0000009: 00000007, expected 00000008\n"
    "### 0000010: 00000007, expected 00000008\n";

std::vector<CheckCase> testGenCases() {
  std::vector<CheckCase> c;
  // ---- Clean streams ------------------------------------------------------
  c.push_back({"PerfectOneLinkAcrossEocs", 'Q', 1,
               [] {
                 std::vector<uint64_t> ws;
                 for (uint64_t k = 0; k < 1200; ++k) ws.push_back(tg(k / 512, k % 512, k));
                 return ws;
               }(),
               ""});
  c.push_back({"PerfectThreeLinks", 'Q', 3, interleaved({0, 74, 148}, 600), ""});
  c.push_back({"TopBitIsNotExamined", 'Q', 1, with(ramp(10), 4, TOP | tg(0, 4, 4)), ""});

  // ---- Errors on one link ---------------------------------------------------
  c.push_back({"WrongFixedField", 'Q', 1, with(ramp(10), 5, tg(0, 5, 5, 0x12345678)),
               "###       6: pixnr=  5 (  5), eoc= 0 ( 0), toa     5 (    5), fixed=12345678 "
               "(diffs = 0, 0, pix=6)\n"});
  c.push_back(
      {"WrongToaGivesTwoErrorsAndFormA", 'Q', 1, with(ramp(10), 5, tg(0, 5, 0x100)),
       "###       6: pixnr=  5 (  5), eoc= 0 ( 0), toa   100 (    5) (diffs = 0, 251, pix=6)\n"
       "###       7: pixnr=  6 (  6), eoc= 0 ( 0), toa     6 (  101) (diffs = 0, 65285, "
       "pix=1)\n"
       "### Consecutive errs : 2 (cnt=8)\n"});
  c.push_back(
      {"MissingPacket", 'Q', 1, without(ramp(10), 5),
       "###       6: pixnr=  6 (  5), eoc= 0 ( 0), toa     6 (    5) (diffs = 1, 1, pix=6)\n"});
  c.push_back({"RepeatedPacketJumpsBackwards", 'Q', 1, repeating(ramp(10), 5),
               "###       7: pixnr=  5 (  6), eoc= 0 ( 0), toa     5 (    6) (diffs = 114687, "
               "65535, pix=7)\n"});
  c.push_back({"EightErrorsThenMatch", 'Q', 1, eightWrongFixed(20),
               FIVE_WRONG_FIXED + "### Consecutive errs : 8 (cnt=14)\n"});
  c.push_back({"EightErrorsAtEndOfFile", 'Q', 1, eightWrongFixed(13),
               FIVE_WRONG_FIXED + "### Consecutive errs (lnk=0): 8 (cnt=13)\n"});
  // An expected EoC of 255 (the word before was pixel 511 of EoC 254) is
  // the heartbeat code: a word with those bits is a heartbeat, and the
  // position jump wraps as an unsigned number.
  c.push_back({"ExpectedEocBeyondTheChip",
               'Q',
               1,
               {tg(254, 511, 0), tg(255, 0, 1), tg(0, 0, 1)},
               "### HEARTBEAT 1793829204 (0)\n"
               "###       3: pixnr=  0 (  0), eoc= 0 (ff), toa     1 (    1) (diffs = "
               "18446744073709535744, 0, pix=3)\n"
               "HEARTBEAT packets: 1\n"});

  // ---- The tolerated ToA 51 -------------------------------------------------
  // 51 where 50 is expected (with EoC and fixed field not looked at), then
  // 51 again where 52 is expected, then 52: all silent.
  c.push_back({"Toa51WhereFiftyOrFiftyTwoExpected", 'Q', 1,
               with(with(ramp(60), 50, tg(5, 50, 51, 0)), 51, tg(0, 51, 51)), ""});
  c.push_back({"Toa51KeepsTheErrorRun", 'Q', 1,
               with(with(with(with(ramp(60), 48, tg(0, 48, 48, 0)), 49, tg(0, 49, 49, 0)), 50,
                         tg(0, 50, 51)),
                    51, tg(0, 51, 51)),
               "###      49: pixnr= 30 ( 30), eoc= 0 ( 0), toa    30 (   30), fixed=       0 "
               "(diffs = 0, 0, pix=49)\n"
               "###      50: pixnr= 31 ( 31), eoc= 0 ( 0), toa    31 (   31), fixed=       0 "
               "(diffs = 0, 0, pix=1)\n"
               "### Consecutive errs : 2 (cnt=53)\n"});
  c.push_back({"Toa51WhereFiftyThreeExpectedIsAnError", 'Q', 1, with(ramp(60), 53, tg(0, 53, 51)),
               "###      54: pixnr= 35 ( 35), eoc= 0 ( 0), toa    33 (   35) (diffs = 0, 65534, "
               "pix=54)\n"
               "###      55: pixnr= 36 ( 36), eoc= 0 ( 0), toa    36 (   34) (diffs = 0, 2, "
               "pix=1)\n"
               "### Consecutive errs : 2 (cnt=56)\n"});
  c.push_back({"Toa51WithOtherPixelNumberIsAnError", 'Q', 1, with(ramp(60), 50, tg(0, 60, 51)),
               "###      51: pixnr= 3c ( 32), eoc= 0 ( 0), toa    33 (   32) (diffs = 10, 1, "
               "pix=51)\n"
               "###      52: pixnr= 33 ( 3d), eoc= 0 ( 0), toa    33 (   34) (diffs = 114678, "
               "65535, pix=1)\n"
               "### Consecutive errs : 2 (cnt=53)\n"});

  // ---- EoC groups: a link wraps inside its own g = 224 / links EoCs ----------------
  c.push_back({"EocWrapOneLink", 'Q', 1, {tg(223, 510, 0), tg(223, 511, 1), tg(0, 0, 2)}, ""});
  c.push_back({"EocWrapTwoLinks",
               'Q',
               2,
               {tg(111, 511, 0), tg(223, 511, 0), tg(0, 0, 1), tg(112, 0, 1)},
               ""});
  c.push_back(
      {"EocWrapThreeLinks",
       'Q',
       3,
       {tg(73, 511, 0), tg(147, 511, 0), tg(221, 511, 0), tg(0, 0, 1), tg(74, 0, 1), tg(148, 0, 1)},
       ""});
  c.push_back({"EocWrapThreeLinksNotIntoTheNextGroup",
               'Q',
               3,
               {tg(73, 511, 0), tg(147, 511, 0), tg(221, 511, 0), tg(0, 0, 1), tg(148, 0, 1),
                tg(148, 0, 1)},
               "###       5: pixnr=  0 (  0), eoc=94 (4a), toa     1 (    1) (lnk=1)\n"});

  // ---- Several links ----------------------------------------------------------
  c.push_back({"TwoLinksErrorRunOnLinkOne", 'Q', 2,
               with(interleaved({0, 112}, 6), 5, tg(112, 2, 0x77)),
               "###       6: pixnr=  2 (  2), eoc=70 (70), toa    77 (    2) (lnk=1)\n"
               "###       8: pixnr=  3 (  3), eoc=70 (70), toa     3 (   78) (lnk=1)\n"
               "### Consecutive errs (lnk=1): 2 (cnt=10)\n"});
  c.push_back({"TwoLinksOpenRunAtEnd", 'Q', 2,
               with(with(interleaved({0, 112}, 3), 3, tg(112, 1, 9)), 5, tg(112, 2, 9)),
               "###       4: pixnr=  1 (  1), eoc=70 (70), toa     9 (    1) (lnk=1)\n"
               "###       6: pixnr=  2 (  2), eoc=70 (70), toa     9 (    a) (lnk=1)\n"
               "### Consecutive errs (lnk=1): 2 (cnt=6)\n"});

  // ---- Heartbeats and idle words ------------------------------------------------
  // A heartbeat in the learning phase is passed over; the first one judged
  // is held against 0. Heartbeats belong to no link. Bits 63 and 54 are not
  // part of the counter, which wraps at 2^54.
  c.push_back({"Heartbeats",
               'Q',
               2,
               {heartbeat(3), tg(0, 0, 0), tg(10, 0, 0), TOP | heartbeat(1ULL << 54 | 5),
                tg(0, 1, 1), heartbeat(6), tg(10, 1, 1), tg(0, 2, 2), heartbeat(9), tg(10, 2, 2),
                heartbeat((1ULL << 54) - 1), heartbeat(0)},
               "### HEARTBEAT 5 (0)\n"
               "### HEARTBEAT 9 (7)\n"
               "### HEARTBEAT 18014398509481983 (10)\n"
               "HEARTBEAT packets: 5\n"});
  c.push_back({"IdleWords",
               'Q',
               2,
               {IDLE, tg(0, 0, 0), IDLE, tg(10, 0, 0), IDLE, tg(0, 1, 1), IDLE, IDLE, tg(10, 1, 1)},
               "IDLE\nIDLE\nIDLE\nIDLE packets: 3\n"});
  c.push_back({"IdleAfterLearning", 'Q', 1, {tg(0, 0, 0), IDLE}, "IDLE\nIDLE packets: 1\n"});

  // ---- Nothing to check -----------------------------------------------------------
  c.push_back({"AllIdle", 'Q', 1, {IDLE, IDLE, IDLE, IDLE}, "", true});
  c.push_back(
      {"TwoLinksTwoPixelWords", 'Q', 2, {IDLE, tg(0, 0, 0), heartbeat(1), tg(9, 9, 9)}, "", true});
  c.push_back({"EmptyChunk", 'Q', 1, {}, "", true});
  return c;
}

std::vector<CheckCase> counterCases() {
  std::vector<CheckCase> c;
  c.push_back({"PerfectOneLink", 'q', 1, count(100, 1000), ""});
  c.push_back({"WrapsToZero", 'q', 1, count(~uint64_t(0) - 2, 6), ""});
  c.push_back({"CorruptedWord", 'q', 1, with(count(100, 20), 10, 999),
               "### 0000011: 000003e7, expected 0000006e\n"
               "### 0000012: 0000006f, expected 000003e8\n"
               "### Consecutive errs : 2 (cnt=13)\n"});
  c.push_back({"MissingWord", 'q', 1, without(count(100, 20), 10),
               "### 0000011: 0000006f, expected 0000006e\n"});
  c.push_back({"RepeatedWord", 'q', 1, repeating(count(100, 20), 10),
               "### 0000012: 0000006e, expected 0000006f\n"});
  c.push_back({"WideValuesInFull", 'q', 1, with(count(100, 20), 10, 0x1122334455667788),
               "### 0000011: 1122334455667788, expected 0000006e\n"
               "### 0000012: 0000006f, expected 1122334455667789\n"
               "### Consecutive errs : 2 (cnt=13)\n"});
  // The counter passes 2^64 - 1 on the way; the 42nd word skips 0x1e.
  c.push_back({"FortySecondWord", 'q', 1, without(count(~uint64_t(0) - 10, 60), 41),
               "### 0000042: 0000001f, expected 0000001e\n"});
  c.push_back({"EightErrorsThenMatch", 'q', 1, eightStuck() + count(8, 2),
               FIVE_STUCK + "### Consecutive errs : 8 (cnt=14)\n"});
  c.push_back({"EightErrorsAtEndOfFile", 'q', 1, eightStuck(),
               FIVE_STUCK + "### Consecutive errs (lnk=0): 8 (cnt=13)\n"});
  c.push_back({"TwoLinksPerfect", 'q', 2,
               [] {
                 std::vector<uint64_t> ws;
                 for (uint64_t k = 0; k < 100; ++k)
                   ws = ws + std::vector<uint64_t>{100 + k, 500 + k};
                 return ws;
               }(),
               ""});
  c.push_back({"TwoLinksLinkOneStuck", 'q', 2,
               [] {
                 std::vector<uint64_t> ws;
                 for (uint64_t k = 0; k < 10; ++k) {
                   ws = ws + std::vector<uint64_t>{100 + k, k == 0 ? 500u : 501u};
                 }
                 return ws;
               }(),
               "### 0000006: 000001f5, expected 000001f6\n"
               "### 0000008: 000001f5, expected 000001f6\n"
               "### 0000010: 000001f5, expected 000001f6\n"
               "### 0000012: 000001f5, expected 000001f6\n"
               "### 0000014: 000001f5, expected 000001f6\n"
               "### Consecutive errs (lnk=1): 8 (cnt=20)\n"});
  c.push_back({"TwoLinksFormANamesTheLink",
               'q',
               2,
               {100, 500, 101, 501, 102, 900, 103, 503, 104, 504},
               "### 0000006: 00000384, expected 000001f6\n"
               "### 0000008: 000001f7, expected 00000385\n"
               "### Consecutive errs (lnk=1): 2 (cnt=10)\n"});
  // Idle words and heartbeats are counter words like any other.
  c.push_back({"IdleWordIsACounterWord", 'q', 1, {IDLE - 1, IDLE, IDLE + 1}, ""});

  c.push_back({"OneWordOneLink", 'q', 1, {5}, "", true});
  c.push_back({"ThreeWordsThreeLinks", 'q', 3, {5, 9, 1}, "", true});
  c.push_back({"FewerWordsThanLinks", 'q', 4, {5, 9}, "", true});
  c.push_back({"EmptyChunk", 'q', 1, {}, "", true});
  return c;
}

class CheckGolden : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckGolden, WholeOutput) {
  const CheckCase& tc = GetParam();
  TempDir dir;
  FileBuilder file = FileBuilder().header().chunk(MVHDR_VX7TOATOT, tc.words);
  dir.write("a.mv", file);
  RunResult r =
      runMvscan({std::string("-") + tc.mode, "-L", std::to_string(tc.links), "a.mv"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, banner(tc.mode, tc.links) + fileLines("a.mv", file.size()) + tc.lines +
                       totals(tc.mode, tc.words.size()) + (tc.nothingChecked ? NOTHING : ""));
}

INSTANTIATE_TEST_SUITE_P(TestGen, CheckGolden, ::testing::ValuesIn(testGenCases()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Counter, CheckGolden, ::testing::ValuesIn(counterCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Golden cases around the check: settings and several files ------------------------

// The check takes the words after the skip, reversed as asked; the total
// counts the skipped words too.
TEST(CheckRun, SkipAndWordReversal) {
  TempDir dir;
  std::vector<uint64_t> ws{0xBAD, 0xBAD};
  for (uint64_t w : ramp(5)) ws.push_back(w << 32 | w >> 32);
  FileBuilder file = FileBuilder().header().chunk(MVHDR_VX7TOATOT, ws);
  dir.write("a.mv", file);
  RunResult r = runMvscan({"-Q", "-w", "-s", "2", "a.mv"}, dir.path());
  EXPECT_EQ(r.out, banner('Q', 1) + "(words reversed)\n" + fileLines("a.mv", file.size()) +
                       "Skip to pixel 3 (bytes 10)\n" + totals('Q', 7));
}

// The Pelvan framing of the statistics is not applied: its header and
// trailer words are judged like every other word.
TEST(CheckRun, PelvanWordsAreCounterWords) {
  TempDir dir;
  FileBuilder file = FileBuilder().header().chunk(MVHDR_VX7PC24, count(0, 130));
  dir.write("a.mv", file);
  RunResult r = runMvscan({"-q", "-W", "a.mv"}, dir.path());
  EXPECT_EQ(r.out, banner('q', 1) + fileLines("a.mv", file.size()) + totals('q', 130));
}

// Every file is learned afresh; the totals run on over the files.
TEST(CheckRun, CounterTotalsOverTwoFiles) {
  TempDir dir;
  FileBuilder a = FileBuilder().header().chunk(MVHDR_VX7PC24, count(100, 5));
  FileBuilder b = FileBuilder().header().chunk(MVHDR_VX7PC24, {200, 201, 203});
  dir.write("a.mv", a);
  dir.write("b.mv", b);
  RunResult r = runMvscan({"-q", "a.mv", "b.mv"}, dir.path());
  EXPECT_EQ(r.out, banner('q', 1) + "\n" + fileLines("a.mv", a.size()) + totals('q', 5) + "\n" +
                       fileLines("b.mv", b.size()) + "### 0000003: 000000cb, expected 000000ca\n" +
                       totals('q', 8) + "\n");
}

TEST(CheckRun, TestGenTotalsOverTwoFiles) {
  TempDir dir;
  FileBuilder a =
      FileBuilder().header().chunk(MVHDR_VX7TOATOT, ramp(3) + std::vector<uint64_t>{heartbeat(0)});
  FileBuilder b = FileBuilder().header().chunk(MVHDR_VX7TOATOT, {IDLE, IDLE});
  dir.write("a.mv", a);
  dir.write("b.mv", b);
  RunResult r = runMvscan({"-Q", "a.mv", "b.mv"}, dir.path());
  // The heartbeat count of the total line is the statistics tally, which
  // the check does not feed.
  EXPECT_EQ(r.out, banner('Q', 1) + "\n" + fileLines("a.mv", a.size()) + "HEARTBEAT packets: 1\n" +
                       totals('Q', 4) + "\n" + fileLines("b.mv", b.size()) + totals('Q', 6) +
                       NOTHING + "\n");
}

// A data chunk behind a rejected header of a data type: the chunk layer's
// message comes in the middle of the check, and the counter lines after it
// are filled with blanks.
FileBuilder counterAcrossInvalidHeader() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_VX7TOATOT, {100, 101, 102, 999, 104, 105})
      .chunk(MVHDR_DATA, {106, 107, 5000, 109, 110, 111});
}

const std::string ACROSS_INVALID_HEADER =
    "### 0000004: 000003e7, expected 00000067\n"
    "### 0000005: 00000068, expected 000003e8\n"
    "### Consecutive errs : 2 (cnt=6)\n"
    "### Invalid header 0x03ff000000000000 @ index=64\n"
    "###       9:     1388, expected       6c\n"
    "###      10:       6d, expected     1389\n"
    "### Consecutive errs : 2 (cnt=11)\n";

TEST(CheckRun, InvalidHeaderResetsTheFillInsideTheCounterCheck) {
  TempDir dir;
  FileBuilder file = counterAcrossInvalidHeader();
  dir.write("a.mv", file);
  RunResult r = runMvscan({"-q", "a.mv"}, dir.path());
  EXPECT_EQ(r.out, banner('q', 1) + fileLines("a.mv", file.size()) + ACROSS_INVALID_HEADER +
                       totals('q', 12));
}

// ---- The inspector's checks on a string stream -------------------------------------------

class CheckStream : public ::testing::Test {
 protected:
  // An inspector on `out` with the file opened.
  DataInspector& inspect(const FileBuilder& file) {
    _inspector = std::make_unique<DataInspector>(_dir.write("a.mv", file), out);
    return *_inspector;
  }
  std::ostringstream out;

 private:
  TempDir _dir;
  std::unique_ptr<DataInspector> _inspector;
};

// The checks write their lines whatever state the stream is in, and leave
// that state as it was: the counter check zero-fills its numbers, the
// test-generator check blank-fills its fields.
TEST_F(CheckStream, CounterCheckZeroFillsWithoutTouchingTheStream) {
  DataInspector& inspector =
      inspect(FileBuilder().header().chunk(MVHDR_VX7PC24, with(count(1, 8), 4, 0x40)));
  out << std::hex;
  out.fill('.');
  EXPECT_EQ(inspector.checkAsCounters(out, 1), 7u);
  EXPECT_EQ(out.str(),
            "### 0000005: 00000040, expected 00000005\n"
            "### 0000006: 00000006, expected 00000041\n"
            "### Consecutive errs : 2 (cnt=7)\n");
  EXPECT_EQ(out.fill(), '.');
  EXPECT_EQ(out.flags() & std::ios::basefield, std::ios::hex);
}

TEST_F(CheckStream, CounterCheckWithNothingJudgedWritesNothing) {
  DataInspector& inspector = inspect(FileBuilder().header().chunk(MVHDR_VX7PC24, {1}));
  EXPECT_EQ(inspector.checkAsCounters(out, 1), 0u);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(out.fill(), ' ');
}

// Blank fill from the invalid header on, in the library as on the command
// line; a second check zero-fills again from its start.
TEST_F(CheckStream, InvalidHeaderInTheMiddleBlankFillsTheRest) {
  DataInspector& inspector = inspect(counterAcrossInvalidHeader());
  EXPECT_EQ(inspector.checkAsCounters(out, 1), 11u);
  EXPECT_EQ(out.str(), ACROSS_INVALID_HEADER);
  EXPECT_EQ(out.fill(), ' ');

  out.str("");
  std::string bytes;
  for (uint64_t w : {1, 2, 9, 4}) bytes += le64(w);
  inspector.setDataChunk(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  EXPECT_EQ(inspector.checkAsCounters(out, 1), 3u);
  EXPECT_EQ(out.str(),
            "### 0000003: 00000009, expected 00000003\n"
            "### 0000004: 00000004, expected 0000000a\n"
            "### Consecutive errs (lnk=0): 2 (cnt=4)\n");
}

TEST_F(CheckStream, TestGenBlankFillsWithoutTouchingTheStream) {
  DataInspector& inspector =
      inspect(FileBuilder().header().chunk(MVHDR_VX7TOATOT, with(ramp(6), 3, tg(0, 3, 3, 1))));
  out << std::hex;
  out.fill('.');
  EXPECT_EQ(inspector.checkAsTestGenPixels(out, 1), 5u);
  EXPECT_EQ(out.str(),
            "###       4: pixnr=  3 (  3), eoc= 0 ( 0), toa     3 (    3), fixed=       1 "
            "(diffs = 0, 0, pix=4)\n");
  EXPECT_EQ(out.fill(), '.');
  EXPECT_EQ(out.flags() & std::ios::basefield, std::ios::hex);
}

// The result counts every judged word, idle words and heartbeats included;
// the check feeds no statistics tally.
TEST_F(CheckStream, TestGenResultCountsIdleAndHeartbeats) {
  DataInspector& inspector = inspect(FileBuilder().header().chunk(
      MVHDR_VX7TOATOT, {IDLE, tg(0, 0, 0), IDLE, heartbeat(0), tg(0, 1, 1)}));
  EXPECT_EQ(inspector.checkAsTestGenPixels(out, 1), 3u);
  EXPECT_EQ(out.str(), "IDLE\nIDLE packets: 1\nHEARTBEAT packets: 1\n");
  EXPECT_EQ(inspector.pixelCounterTotal(), 5u);
  EXPECT_EQ(inspector.heartbeatCounter(), 0u);
}

// Words given from memory are checked like words of a file.
TEST(CheckMemory, CounterWordsFromMemory) {
  std::ostringstream out;
  DataInspector inspector(out, false);
  std::string bytes;
  for (uint64_t w : {7, 8, 10, 11}) bytes += le64(w);
  inspector.setDataChunk(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
  EXPECT_EQ(inspector.checkAsCounters(out, 1), 3u);
  EXPECT_EQ(out.str(), "### 0000003: 0000000a, expected 00000009\n");
}

// ---- Findings as data ------------------------------------------------------------
// The checks fill a CheckFindings record for record with their report: each
// case runs a check with findings on a string stream, reads the findings
// back out of the report's own lines and compares them field by field. What
// the lines do not show is given by the case: whether a run was closed by
// the end of the call, and the packet number of each heartbeat error.

// The findings that the lines of a report print.
struct Reported {
  std::vector<CheckError> errors;
  std::vector<ErrorRun> runs;                   // atEnd not known from the line
  std::vector<HeartbeatError> heartbeatErrors;  // packet not known from the line
  uint64_t idleLines = 0;
  uint64_t idles = 0, heartbeats = 0;  // the closing counts, 0 when absent
};

uint64_t number(const std::ssub_match& m, int base = 10) {
  return m.matched ? std::stoull(m.str(), nullptr, base) : 0;
}

// Reads every line of a check's report; a line of no known form fails the
// test. The counter lines do not name the link: every word of the counter
// check belongs to a link in turn, so word n is on link (n - 1) % links.
Reported readReport(const std::string& text, char mode, int links) {
  static const std::regex testGenError(
      R"(### +(\d+): pixnr= *([0-9a-f]+) \( *([0-9a-f]+)\), eoc= *([0-9a-f]+) \( *([0-9a-f]+)\), )"
      R"(toa +([0-9a-f]+) \( *([0-9a-f]+)\)(, fixed= *([0-9a-f]+))?)"
      R"((?: \(lnk=([0-9a-f]+)\)| \(diffs = (\d+), (\d+), pix=(\d+)\)))");
  static const std::regex counterError(
      R"(### ([0-9 ]+): [0 ]*([0-9a-f]+), expected [0 ]*([0-9a-f]+))");
  static const std::regex run(R"(### Consecutive errs (?:\(lnk=(\d+)\))?: (\d+) \(cnt=(\d+)\))");
  static const std::regex heartbeatError(R"(### HEARTBEAT (\d+) \((\d+)\))");
  static const std::regex count(R"((IDLE|HEARTBEAT) packets: (\d+))");
  Reported r;
  std::istringstream in(text);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (line == "IDLE") {
      ++r.idleLines;
    } else if (mode == 'Q' && std::regex_match(line, m, testGenError)) {
      CheckError e{};
      e.packet = number(m[1]);
      e.pixel = number(m[2], 16);
      e.expectedPixel = number(m[3], 16);
      e.eoc = number(m[4], 16);
      e.expectedEoc = number(m[5], 16);
      e.toa = number(m[6], 16);
      e.expectedToa = number(m[7], 16);
      e.fixedWrong = m[8].matched;
      e.fixed = m[8].matched ? number(m[9], 16) : FIXED;
      e.link = int(number(m[10], 16));
      e.hasJumps = m[11].matched;
      e.pixelJump = number(m[11]);
      e.toaJump = number(m[12]);
      e.sincePrevious = number(m[13]);
      r.errors.push_back(e);
    } else if (mode == 'q' && std::regex_match(line, m, counterError)) {
      CheckError e{};
      e.packet = std::stoull(m[1].str());
      e.link = int((e.packet - 1) % uint64_t(links));
      e.found = number(m[2], 16);
      e.expected = number(m[3], 16);
      r.errors.push_back(e);
    } else if (std::regex_match(line, m, run)) {
      r.runs.push_back(ErrorRun{int(number(m[1])), number(m[2]), number(m[3]), false});
    } else if (std::regex_match(line, m, heartbeatError)) {
      r.heartbeatErrors.push_back(HeartbeatError{0, number(m[1]), number(m[2])});
    } else if (std::regex_match(line, m, count)) {
      (m[1] == "IDLE" ? r.idles : r.heartbeats) = number(m[2]);
    } else {
      ADD_FAILURE() << "a line of no known form: " << line;
    }
  }
  return r;
}

struct FindingsCase {
  const char* name;
  char mode;
  int links;
  std::vector<uint64_t> words;             // one ToA/ToT chunk; or, when empty...
  std::vector<std::string> mvgen;          // ...a file written by mvgen with these options
  std::vector<bool> runsAtEnd;             // for each run line in turn
  std::vector<uint64_t> heartbeatPackets;  // for each heartbeat line in turn
  uint64_t learned;
};

void PrintTo(const FindingsCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<FindingsCase> findingsCases() {
  std::vector<FindingsCase> c;
  c.push_back({"TestGenClean", 'Q', 3, interleaved({0, 74, 148}, 600), {}, {}, {}, 3});
  c.push_back({"TestGenOneLinkEveryKindOfError",
               'Q',
               1,
               with(with(without(repeating(eightWrongFixed(60), 30), 40), 45, tg(0, 45, 0x300)), 50,
                    tg(0, 50, 51)),
               {},
               {false, false},
               {},
               1});
  c.push_back({"TestGenFixedRunAtEnd", 'Q', 1, eightWrongFixed(13), {}, {true}, {}, 1});
  c.push_back({"TestGenExpectedEocBeyondTheChip",
               'Q',
               1,
               {tg(254, 511, 0), tg(255, 0, 1), tg(0, 0, 1)},
               {},
               {},
               {2},
               1});
  c.push_back({"TestGenTwoLinksRunClosedByMatch",
               'Q',
               2,
               with(interleaved({0, 112}, 6), 5, tg(112, 2, 0x77)),
               {},
               {false},
               {},
               2});
  c.push_back({"TestGenTwoLinksOpenRunAtEnd",
               'Q',
               2,
               with(with(interleaved({0, 112}, 3), 3, tg(112, 1, 9)), 5, tg(112, 2, 9)),
               {},
               {true},
               {},
               2});
  c.push_back(
      {"TestGenHeartbeatsAndIdleWords",
       'Q',
       2,
       {IDLE, heartbeat(3), tg(0, 0, 0), IDLE, tg(10, 0, 0), TOP | heartbeat(1ULL << 54 | 5),
        tg(0, 1, 1), heartbeat(6), IDLE, tg(10, 1, 1), tg(0, 2, 2), heartbeat(9), tg(10, 2, 2),
        heartbeat((1ULL << 54) - 1), heartbeat(0), IDLE},
       {},
       {},
       {6, 12, 14},
       5});
  c.push_back({"TestGenNothingChecked", 'Q', 2, {IDLE, tg(0, 0, 0), heartbeat(1)}, {}, {}, {}, 3});
  c.push_back(
      {"CounterOneLinkEveryKindOfError",
       'q',
       1,
       with(without(repeating(eightStuck() + count(8, 30), 20), 25), 30, 0x1122334455667788),
       {},
       {false, false},
       {},
       1});
  c.push_back({"CounterStuckAtEnd", 'q', 1, eightStuck(), {}, {true}, {}, 1});
  c.push_back({"CounterTwoLinksLinkOneStuck",
               'q',
               2,
               [] {
                 std::vector<uint64_t> ws;
                 for (uint64_t k = 0; k < 10; ++k) {
                   ws = ws + std::vector<uint64_t>{100 + k, k == 0 ? 500u : 501u};
                 }
                 return ws;
               }(),
               {},
               {true},
               {},
               2});
  c.push_back({"CounterThreeLinksRunsClosedByMatch",
               'q',
               3,
               {100, 500, 900, 101, 7, 901, 102, 9, 902, 103, 10, 903, 104, 11, 2},
               {},
               {false},
               {},
               3});
  c.push_back({"CounterNothingChecked", 'q', 4, {5, 9}, {}, {}, {}, 2});
#ifdef MVGEN_BINARY
  c.push_back({"MvgenTestGenFourLinks",
               'Q',
               4,
               {},
               {"-k", "testgen", "-L", "4", "-n", "40K", "-e", "toa@1000", "-e", "fixed@5000", "-e",
                "missing@9000", "-e", "fixed@9001", "-e", "fixed@9005"},
               {false},
               {},
               4});
  c.push_back({"MvgenTestGenOneLink",
               'Q',
               1,
               {},
               {"-k", "testgen", "-n", "40K", "-e", "toa@1000", "-e", "fixed@5000", "-e",
                "missing@9000", "-e", "fixed@9001", "-e", "fixed@9002", "-e", "fixed@9003"},
               {false},
               {},
               1});
  c.push_back({"MvgenCounterTwoLinks",
               'q',
               2,
               {},
               {"-k", "counter", "-L", "2", "-n", "40K", "-e", "corrupt@100", "-e", "missing@2000",
                "-e", "repeat@3000", "-e", "corrupt@40957"},
               {false, true},
               {},
               2});
#endif
  return c;
}

class Findings : public ::testing::TestWithParam<FindingsCase> {
 protected:
  // The case's file, written into dir.
  std::string file(const FindingsCase& tc) {
    if (tc.mvgen.empty())
      return dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, tc.words));
    std::vector<std::string> args = tc.mvgen;
    args.insert(args.end(), {"-o", dir.file("a.mv")});
#ifdef MVGEN_BINARY
    EXPECT_EQ(runTool(MVGEN_BINARY, args, dir.path()).status, 0);
#endif
    return dir.file("a.mv");
  }
  // The check's report on its own stream; with findings when given.
  std::string check(const FindingsCase& tc, CheckFindings* findings, uint64_t* checked = nullptr,
                    uint64_t* total = nullptr) {
    std::ostringstream out;
    DataInspector inspector(file(tc), out);
    inspector.setCheckFindings(findings);
    const uint64_t n = tc.mode == 'Q' ? inspector.checkAsTestGenPixels(out, tc.links)
                                      : inspector.checkAsCounters(out, tc.links);
    if (checked != nullptr) *checked = n;
    if (total != nullptr) *total = inspector.pixelCounterTotal();
    return out.str();
  }
  TempDir dir;
};

TEST_P(Findings, AreWhatTheReportSays) {
  const FindingsCase& tc = GetParam();
  CheckFindings f;
  uint64_t checked = 0, total = 0;
  const std::string text = check(tc, &f, &checked, &total);
  const Reported r = readReport(text, tc.mode, tc.links);

  ASSERT_EQ(f.errors.size(), r.errors.size()) << text;
  for (size_t i = 0; i < r.errors.size(); ++i) {
    SCOPED_TRACE("error line " + std::to_string(i + 1));
    const CheckError &got = f.errors[i], &want = r.errors[i];
    EXPECT_EQ(got.packet, want.packet);
    EXPECT_EQ(got.link, want.link);
    if (tc.mode == 'q') {
      EXPECT_EQ(got.found, want.found);
      EXPECT_EQ(got.expected, want.expected);
      EXPECT_FALSE(got.hasJumps);
      continue;
    }
    EXPECT_EQ(got.pixel, want.pixel);
    EXPECT_EQ(got.expectedPixel, want.expectedPixel);
    EXPECT_EQ(got.eoc, want.eoc);
    EXPECT_EQ(got.expectedEoc, want.expectedEoc);
    EXPECT_EQ(got.toa, want.toa);
    EXPECT_EQ(got.expectedToa, want.expectedToa);
    EXPECT_EQ(got.fixedWrong, want.fixedWrong);
    EXPECT_EQ(got.fixed, want.fixed);
    // The words hold the fields the line shows (the half bit is no field).
    EXPECT_EQ(got.found & ~TOP, tg(want.eoc, want.pixel, want.toa, want.fixed));
    EXPECT_EQ(got.expected, tg(want.expectedEoc, want.expectedPixel, want.expectedToa));
    EXPECT_EQ(got.hasJumps, want.hasJumps);
    EXPECT_EQ(got.hasJumps, tc.links == 1);
    if (got.hasJumps) {
      EXPECT_EQ(got.pixelJump, want.pixelJump);
      EXPECT_EQ(got.toaJump, want.toaJump);
      EXPECT_EQ(got.sincePrevious, want.sincePrevious);
    }
  }

  ASSERT_EQ(f.runs.size(), r.runs.size()) << text;
  ASSERT_EQ(tc.runsAtEnd.size(), r.runs.size()) << text;
  for (size_t i = 0; i < r.runs.size(); ++i) {
    SCOPED_TRACE("run line " + std::to_string(i + 1));
    EXPECT_EQ(f.runs[i].link, r.runs[i].link);
    EXPECT_EQ(f.runs[i].length, r.runs[i].length);
    EXPECT_EQ(f.runs[i].packet, r.runs[i].packet);
    EXPECT_EQ(f.runs[i].atEnd, tc.runsAtEnd[i]);
  }

  ASSERT_EQ(f.heartbeatErrors.size(), r.heartbeatErrors.size()) << text;
  ASSERT_EQ(tc.heartbeatPackets.size(), r.heartbeatErrors.size()) << text;
  for (size_t i = 0; i < r.heartbeatErrors.size(); ++i) {
    SCOPED_TRACE("heartbeat line " + std::to_string(i + 1));
    EXPECT_EQ(f.heartbeatErrors[i].packet, tc.heartbeatPackets[i]);
    EXPECT_EQ(f.heartbeatErrors[i].found, r.heartbeatErrors[i].found);
    EXPECT_EQ(f.heartbeatErrors[i].expected, r.heartbeatErrors[i].expected);
  }

  EXPECT_EQ(f.idles, r.idles);
  EXPECT_EQ(f.idles, r.idleLines);
  EXPECT_EQ(f.heartbeats, r.heartbeats);
  EXPECT_EQ(f.learned, tc.learned);
  EXPECT_EQ(f.checked, checked);
  EXPECT_EQ(f.learned + f.checked, total);
}

// Without a findings object the report is the same, and a findings object
// set before and taken away again gets nothing.
TEST_P(Findings, NoneRecordedWithoutAFindingsObject) {
  const FindingsCase& tc = GetParam();
  CheckFindings f;
  const std::string withFindings = check(tc, &f);
  EXPECT_EQ(check(tc, nullptr), withFindings);

  std::ostringstream out;
  CheckFindings untouched;
  DataInspector inspector(file(tc), out);
  inspector.setCheckFindings(&untouched);
  inspector.setCheckFindings(nullptr);
  tc.mode == 'Q' ? inspector.checkAsTestGenPixels(out, tc.links)
                 : inspector.checkAsCounters(out, tc.links);
  EXPECT_TRUE(untouched.errors.empty());
  EXPECT_TRUE(untouched.runs.empty());
  EXPECT_TRUE(untouched.heartbeatErrors.empty());
  EXPECT_EQ(untouched.idles + untouched.heartbeats + untouched.learned + untouched.checked, 0u);
}

INSTANTIATE_TEST_SUITE_P(Checks, Findings, ::testing::ValuesIn(findingsCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Findings add up over the calls of a run, one call per file, as the
// report's lines do.
TEST(FindingsOverFiles, AddUpOverTheCalls) {
  TempDir dir;
  std::ostringstream out;
  CheckFindings f;
  DataInspector inspector(out, true);
  inspector.setCheckFindings(&f);
  ASSERT_TRUE(inspector.setFile(
      dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, eightWrongFixed(13))), true));
  EXPECT_EQ(inspector.checkAsTestGenPixels(out, 1), 12u);
  ASSERT_TRUE(inspector.setFile(
      dir.write("b.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT,
                                                     {IDLE, tg(0, 0, 0), IDLE, tg(0, 2, 1)})),
      false));
  EXPECT_EQ(inspector.checkAsTestGenPixels(out, 1), 2u);
  ASSERT_EQ(f.errors.size(), 6u);
  EXPECT_EQ(f.errors[5].packet, 4u);
  EXPECT_EQ(f.errors[5].pixel, 2u);
  EXPECT_EQ(f.errors[5].expectedPixel, 1u);
  ASSERT_EQ(f.runs.size(), 1u);
  EXPECT_EQ(f.runs[0].length, 8u);
  // The idle word read while learning is passed over, not counted.
  EXPECT_EQ(f.idles, 1u);
  EXPECT_EQ(f.learned, 1u + 2u);
  EXPECT_EQ(f.checked, 12u + 2u);
}

}  // namespace
