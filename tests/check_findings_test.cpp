// The checks' findings as data: each case runs a check with a findings
// record on a string stream and compares the record with the report's own
// lines, on files built here or written by mvgen.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "check_cases.h"
#include "report/CheckFindings.h"
#include "report/Checks.h"
#include "run/Runs.h"
#include "scan/DataInspector.h"

using namespace testing_files;
using namespace morven;
using namespace check_cases;

namespace {

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
    DataInspector inspector(file(tc));
    const uint64_t n = tc.mode == 'Q'
                           ? checkAsTestGenPixels(out, inspector.stream(), tc.links, findings)
                           : checkAsCounters(out, inspector.stream(), tc.links, findings);
    if (checked != nullptr) *checked = n;
    if (total != nullptr) *total = inspector.stream().delivered();
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

// Without a findings object the report is the same, and a run's findings
// object gets nothing from a later run of the same inspector given none.
TEST_P(Findings, NoneRecordedWithoutAFindingsObject) {
  const FindingsCase& tc = GetParam();
  CheckFindings f;
  const std::string withFindings = check(tc, &f);
  EXPECT_EQ(check(tc, nullptr), withFindings);

  RunSettings s;
  s.pixelScan = true;
  s.testGen = tc.mode == 'Q';
  s.counterCheck = !s.testGen;
  s.links = tc.links;
  std::ostringstream out;
  DataInspector inspector(true);
  CheckFindings first;
  scanFiles(s, {file(tc)}, inspector, out, true, &first);
  const CheckFindings kept = first;
  EXPECT_EQ(kept.checked, f.checked);
  EXPECT_EQ(kept.errors.size(), f.errors.size());
  scanFiles(s, {file(tc)}, inspector, out, true, nullptr);
  EXPECT_EQ(first.errors.size(), kept.errors.size());
  EXPECT_EQ(first.runs.size(), kept.runs.size());
  EXPECT_EQ(first.heartbeatErrors.size(), kept.heartbeatErrors.size());
  EXPECT_EQ(first.idles + first.heartbeats + first.learned + first.checked,
            kept.idles + kept.heartbeats + kept.learned + kept.checked);
}

INSTANTIATE_TEST_SUITE_P(Checks, Findings, ::testing::ValuesIn(findingsCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Findings add up over the calls of a run, one call per file, as the
// report's lines do.
TEST(FindingsOverFiles, AddUpOverTheCalls) {
  TempDir dir;
  std::ostringstream out;
  CheckFindings f;
  DataInspector inspector(true);
  ASSERT_TRUE(inspector.setFile(
      dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, eightWrongFixed(13))), true));
  EXPECT_EQ(checkAsTestGenPixels(out, inspector.stream(), 1, &f), 12u);
  ASSERT_TRUE(inspector.setFile(
      dir.write("b.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT,
                                                     {IDLE, tg(0, 0, 0), IDLE, tg(0, 2, 1)})),
      false));
  EXPECT_EQ(checkAsTestGenPixels(out, inspector.stream(), 1, &f), 2u);
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
