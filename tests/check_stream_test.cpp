// The inspector's checks on a string stream, for what the command line
// cannot show: the stream's state after a call, the results, words given
// from memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <ios>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "ProblemsAsText.h"
#include "check_cases.h"
#include "report/Checks.h"
#include "scan/DataInspector.h"

using namespace testing_files;
using namespace morven;
using namespace check_cases;

namespace {

// ---- The inspector's checks on a string stream -------------------------------------------

class CheckStream : public ::testing::Test {
 protected:
  // An inspector on `out` with the file opened.
  DataInspector& inspect(const FileBuilder& file) {
    _inspector = std::make_unique<DataInspector>(_dir.write("a.mv", file), problemsAsText(out));
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
  EXPECT_EQ(checkAsCounters(out, inspector.stream(), 1, nullptr), 7u);
  EXPECT_EQ(out.str(),
            "### 0000005: 00000040, expected 00000005\n"
            "### 0000006: 00000006, expected 00000041\n"
            "### Consecutive errs : 2 (cnt=7)\n");
  EXPECT_EQ(out.fill(), '.');
  EXPECT_EQ(out.flags() & std::ios::basefield, std::ios::hex);
}

TEST_F(CheckStream, CounterCheckWithNothingJudgedWritesNothing) {
  DataInspector& inspector = inspect(FileBuilder().header().chunk(MVHDR_VX7PC24, {1}));
  EXPECT_EQ(checkAsCounters(out, inspector.stream(), 1, nullptr), 0u);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(out.fill(), ' ');
}

// Blank fill from the invalid header on, in the library as on the command
// line; a second check zero-fills again from its start.
TEST_F(CheckStream, InvalidHeaderInTheMiddleBlankFillsTheRest) {
  DataInspector& inspector = inspect(counterAcrossInvalidHeader());
  EXPECT_EQ(checkAsCounters(out, inspector.stream(), 1, nullptr), 11u);
  EXPECT_EQ(out.str(), ACROSS_INVALID_HEADER);
  EXPECT_EQ(out.fill(), ' ');

  out.str("");
  std::string bytes;
  for (uint64_t w : {1, 2, 9, 4}) bytes += le64(w);
  inspector.stream().setDataChunk(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size());
  EXPECT_EQ(checkAsCounters(out, inspector.stream(), 1, nullptr), 3u);
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
  EXPECT_EQ(checkAsTestGenPixels(out, inspector.stream(), 1, nullptr), 5u);
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
  EXPECT_EQ(checkAsTestGenPixels(out, inspector.stream(), 1, nullptr), 3u);
  EXPECT_EQ(out.str(), "IDLE\nIDLE packets: 1\nHEARTBEAT packets: 1\n");
  EXPECT_EQ(inspector.stream().delivered(), 5u);
  EXPECT_EQ(inspector.tallies().types[VX7_EOC_HEARTBEAT], 0u);
}

// Words given from memory are checked like words of a file.
TEST(CheckMemory, CounterWordsFromMemory) {
  std::ostringstream out;
  DataInspector inspector(false);
  std::string bytes;
  for (uint64_t w : {7, 8, 10, 11}) bytes += le64(w);
  inspector.stream().setDataChunk(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
  EXPECT_EQ(checkAsCounters(out, inspector.stream(), 1, nullptr), 3u);
  EXPECT_EQ(out.str(), "### 0000003: 0000000a, expected 00000009\n");
}

}  // namespace
