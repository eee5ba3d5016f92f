// The test-generator check (-Q): golden cases run through the mvscan binary
// on files built here, compared whole, and the check around them: the
// skip, word reversal and totals over several files.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "check_cases.h"
#include "check_golden.h"

using namespace testing_files;
using namespace morven;
using namespace check_cases;

namespace {

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

INSTANTIATE_TEST_SUITE_P(TestGen, CheckGolden, ::testing::ValuesIn(testGenCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Golden cases around the check: settings and several files ------------------------

// The check takes the words after the skip, reversed as asked; the total
// counts the skipped words too.
TEST(CheckRun, SkipAndWordReversal) {
  std::vector<uint64_t> ws{0xBAD, 0xBAD};
  for (uint64_t w : ramp(5)) ws.push_back(w << 32 | w >> 32);
  FileBuilder file = FileBuilder().header().chunk(MVHDR_VX7TOATOT, ws);
  RunResult r = runOnFiles({"-Q", "-w", "-s", "2"}, {file});
  EXPECT_EQ(r.out, banner('Q', 1) + "(words reversed)\n" + fileLines("a.mv", file.size()) +
                       "Skip to pixel 3 (bytes 10)\n" + totals('Q', 7));
}

TEST(CheckRun, TestGenTotalsOverTwoFiles) {
  FileBuilder a =
      FileBuilder().header().chunk(MVHDR_VX7TOATOT, ramp(3) + std::vector<uint64_t>{heartbeat(0)});
  FileBuilder b = FileBuilder().header().chunk(MVHDR_VX7TOATOT, {IDLE, IDLE});
  RunResult r = runOnFiles({"-Q"}, {a, b});
  // The heartbeat count of the total line is the statistics tally, which
  // the check does not feed.
  EXPECT_EQ(r.out, banner('Q', 1) + "\n" + fileLines("a.mv", a.size()) + "HEARTBEAT packets: 1\n" +
                       totals('Q', 4) + "\n" + fileLines("b.mv", b.size()) + totals('Q', 6) +
                       NOTHING + "\n");
}

}  // namespace
