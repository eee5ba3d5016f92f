// A file cut short inside a data chunk (a copy interrupted, a disk that
// filled): the file check reports "### Truncated last chunk #N"; the pixel
// modes print nothing of it in their text, which stays as it is, but their
// JSON report, --strict and the status say it, with the chunk's offset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"

using namespace testing_files;
using namespace morven;

namespace {

// Two data chunks of four words; the file ends after the second one's
// second word. The second chunk's header word is at byte 48.
FileBuilder cutFile() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_VX7TOATOT, {1, 2, 3, 4})
      .chunk(MVHDR_VX7TOATOT, {5, 6, 7, 8})
      .truncateTo(8 + 40 + 8 + 16);
}

const std::string CUT_ERROR = "{\"message\":\"Truncated last chunk #2\",\"offset\":48}";

struct Mode {
  const char* name;
  std::vector<std::string> options;
};

class CutFileInPixelMode : public ::testing::TestWithParam<Mode> {};

TEST_P(CutFileInPixelMode, IsAStructuralErrorOutsideTheText) {
  TempDir dir;
  dir.write("cut.mv", cutFile());
  std::vector<std::string> args = GetParam().options;
  args.push_back("cut.mv");

  // The text: not a word about the cut, as before; status 0.
  const RunResult text = runMvscan(args, dir.path());
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out.find("Truncated"), std::string::npos) << text.out;

  // --strict: status 3, the text unchanged.
  std::vector<std::string> strict = args;
  strict.insert(strict.begin(), "--strict");
  const RunResult strictRun = runMvscan(strict, dir.path());
  EXPECT_EQ(strictRun.status, 3);
  EXPECT_EQ(strictRun.out, text.out);

  // JSON: the error of the file check, with the cut chunk's offset.
  std::vector<std::string> json = args;
  json.insert(json.begin(), "--json");
  const RunResult jsonRun = runMvscan(json, dir.path());
  EXPECT_EQ(jsonRun.status, 0);
  const bool lines = GetParam().options[0] == "-P" || GetParam().options[0] == "-R";
  const std::string expected =
      lines ? "{\"error\":" + CUT_ERROR + "}\n" : "\"errors\":[" + CUT_ERROR + "]";
  EXPECT_NE(jsonRun.out.find(expected), std::string::npos) << jsonRun.out;
  EXPECT_EQ(jsonRun.err, "");
}

INSTANTIATE_TEST_SUITE_P(Modes, CutFileInPixelMode,
                         ::testing::Values(Mode{"statistics", {"-p", "--no-image"}},
                                           Mode{"fields", {"-P"}}, Mode{"raw", {"-R"}},
                                           Mode{"testgen", {"-Q"}}, Mode{"counters", {"-q"}},
                                           Mode{"skipping", {"-p", "--no-image", "-s", "3"}}),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return std::string(info.param.name);
                         });

// The file check says the same, at the same offset, as it always did.
TEST(CutFile, FileCheckReportsTheSameProblem) {
  TempDir dir;
  dir.write("cut.mv", cutFile());
  const RunResult check = runMvscan({"--json", "cut.mv"}, dir.path());
  EXPECT_NE(check.out.find("\"errors\":[" + CUT_ERROR + "]"), std::string::npos) << check.out;
  const RunResult text = runMvscan({"cut.mv"}, dir.path());
  EXPECT_NE(text.out.find("### Truncated last chunk #2\n"), std::string::npos) << text.out;
}

// A whole file: no structural error in any mode. Its words count up, a
// sound counter stream; as a test-generator stream they are wrong, a failed
// check, which --strict ends with status 3.
TEST(CutFile, WholeFileHasNoError) {
  TempDir dir;
  dir.write("whole.mv",
            FileBuilder().header().chunk(MVHDR_VX7TOATOT, {1, 2}).chunk(MVHDR_VX7TOATOT, {3}));
  for (const char* mode : {"-p", "-q", "-Q"}) {
    SCOPED_TRACE(mode);
    const RunResult r =
        runMvscan({"--strict", "--json", "--no-image", mode, "whole.mv"}, dir.path());
    EXPECT_EQ(r.status, std::string(mode) == "-Q" ? 3 : 0);
    EXPECT_NE(r.out.find("\"errors\":[]"), std::string::npos) << r.out;
  }
}

}  // namespace
