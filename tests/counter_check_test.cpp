// The counter check (-q): golden cases run through the mvscan binary on
// files built here, compared whole, and the check around them: Pelvan
// words, totals over several files and an invalid header inside the check.
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

const std::string FIVE_STUCK =
    "### 0000006: 00000007, expected 00000069\n"
    "### 0000007: 00000007, expected 00000008\n"
    "### 0000008: 00000007, expected 00000008\n"
    "### 0000009: 00000007, expected 00000008\n"
    "### 0000010: 00000007, expected 00000008\n";

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

INSTANTIATE_TEST_SUITE_P(Counter, CheckGolden, ::testing::ValuesIn(counterCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Golden cases around the check: settings and several files ------------------------

// The Pelvan framing of the statistics is not applied: its header and
// trailer words are judged like every other word.
TEST(CheckRun, PelvanWordsAreCounterWords) {
  FileBuilder file = FileBuilder().header().chunk(MVHDR_VX7PC24, count(0, 130));
  RunResult r = runOnFiles({"-q", "-W"}, {file});
  EXPECT_EQ(r.out, banner('q', 1) + fileLines("a.mv", file.size()) + totals('q', 130));
}

// Every file is learned afresh; the totals run on over the files.
TEST(CheckRun, CounterTotalsOverTwoFiles) {
  FileBuilder a = FileBuilder().header().chunk(MVHDR_VX7PC24, count(100, 5));
  FileBuilder b = FileBuilder().header().chunk(MVHDR_VX7PC24, {200, 201, 203});
  RunResult r = runOnFiles({"-q"}, {a, b});
  EXPECT_EQ(r.out, banner('q', 1) + "\n" + fileLines("a.mv", a.size()) + totals('q', 5) + "\n" +
                       fileLines("b.mv", b.size()) + "### 0000003: 000000cb, expected 000000ca\n" +
                       totals('q', 8) + "\n");
}

TEST(CheckRun, InvalidHeaderResetsTheFillInsideTheCounterCheck) {
  FileBuilder file = counterAcrossInvalidHeader();
  RunResult r = runOnFiles({"-q"}, {file});
  EXPECT_EQ(r.out, banner('q', 1) + fileLines("a.mv", file.size()) + ACROSS_INVALID_HEADER +
                       totals('q', 12));
}

}  // namespace
