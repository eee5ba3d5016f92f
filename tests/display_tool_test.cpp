// The packet display end to end through mvscan: raw words, skip and stride,
// Pelvan blocks and the test-generator layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "display_cases.h"

using namespace testing_files;
using namespace display_cases;

namespace {

// ---- End to end -------------------------------------------------------------------

std::string fileLines(const std::string& path, size_t words) {
  return "File opened: " + path +
         "\nFile header: MORVEN\nFile size  : " + std::to_string(16 + 8 * words) + " bytes (" +
         std::to_string(2 + words) + "*8)\n";
}

TEST(DisplayTool, RawAlone) {
  TempDir dir;
  const std::string f =
      dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, {DATA, IDLE, heartbeat(3)}));
  const RunResult r = runMvscan({"-R", f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> Display pixels (using stride=1)\n" + fileLines(f, 3) +
                       lines({"0287400000000000", "000000000000001e", "7000000000000003"}));
}

// The index goes on from the packets skipped, and the stride shows every
// n-th packet with its own number.
TEST(DisplayTool, SkipAndStride) {
  TempDir dir;
  std::vector<uint64_t> words;
  for (uint64_t i = 1; i <= 12345; ++i) words.push_back(heartbeat(i));
  const std::string f = dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, words));
  RunResult r = runMvscan({"-P", "-C", "-s", "12343", "-L", "2", f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> Display pixels (using stride=2)\n" + fileLines(f, words.size()) +
                       "Skip to pixel 12344 (bytes 181b8)\n12345: HEARTBEAT B 12345\n");
}

// With stride 2 the headers (odd word numbers) are never shown, so the link
// stays 0; the trailers (even numbers) are.
TEST(DisplayTool, PelvanWithStride2) {
  TempDir dir;
  std::vector<uint64_t> words(2 * BLOCK, 0);
  words[0] = pelvanHeader(3, 4, 9);
  words[1] = FRAME_START;
  words[BLOCK - 1] = 77;
  words[BLOCK] = pelvanHeader(3, 5, 9);
  words[BLOCK + 1] = segmentStart(6);
  words[2 * BLOCK - 1] = 78;
  const std::string f = dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, words));
  const RunResult r = runMvscan({"-P", "-W", "-L", "2", f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> Display pixels (using stride=2)\n" + fileLines(f, words.size()) +
                       lines({"FRAME_START #0 link=0 (### Unexpected, chunk = MVHDR_VX7TOATOT) "
                              "bot header=f0 readout_mode=0",
                              "(Pelvan trailer: payload=77)",
                              "SEGMENT_START (### Unexpected, chunk = MVHDR_VX7TOATOT) count=0 "
                              "link=0 bot header=f2 segment_addr=6 readout_mode=0",
                              "(Pelvan trailer: payload=78)"}));
}

TEST(DisplayTool, TestGenLayoutWithRawWord) {
  TempDir dir;
  const std::string f = dir.write(
      "a.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, {heartbeat(100), IDLE, EMPTY}));
  const RunResult r = runMvscan({"-Q", "-R", "-P", f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> Display TestGenerator pixel format (#links=1)\n"
            "=> Display pixels (using stride=1)\n" +
                fileLines(f, 3) +
                lines({"7000000000000064 B cntr30=    0 cntr46= 98304 constant=64",
                       "000000000000001e IDLE", "ffffffff00000000 MORVEN-EMPTY-PACKET"}));
}

}  // namespace
