// The examples of the man page that check streams (-Q, -q) run clean on a
// clean stream of the kind and links they name, made by mvgen with the same
// -L and -W: an example must not teach a command line that reports errors
// on good data.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"

namespace {

using namespace testing_files;

// The command lines of the man page's EXAMPLES that start with prefix, as
// arguments (after "mvscan"), with groff's "\-" read as "-".
std::vector<std::vector<std::string>> manExamples(const std::string& prefix) {
  const std::string page = readWholeFile(MVSCAN_SOURCE_DIR "/docs/mvscan.1");
  const size_t from = page.find(".SH EXAMPLES\n");
  std::vector<std::vector<std::string>> found;
  if (from == std::string::npos) return found;
  std::istringstream lines(page.substr(from));
  for (std::string line; std::getline(lines, line);) {
    for (size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at))
      line.erase(at, 1);
    if (line.rfind(prefix, 0) != 0) continue;
    std::istringstream words(line.substr(std::string("mvscan ").size()));
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    found.push_back(args);
  }
  return found;
}

TEST(ManPageExamples, ChecksRunCleanOnCleanStreams) {
  struct Kind {
    const char* option;
    const char* kind;
  };
  for (const Kind& k : {Kind{"-Q", "testgen"}, Kind{"-q", "counter"}}) {
    const std::vector<std::vector<std::string>> examples =
        manExamples(std::string("mvscan ") + k.option + " ");
    ASSERT_FALSE(examples.empty()) << k.option;
    for (const std::vector<std::string>& args : examples) {
      SCOPED_TRACE(testing::PrintToString(args));
      TempDir dir;
      // The same links and framing as the example's, whole Pelvan blocks.
      std::vector<std::string> gen = {"-k", k.kind, "-n", "4096", "-o", args.back()};
      for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-W") gen.push_back("-W");
        if (args[i] == "-L" && i + 1 < args.size()) gen.insert(gen.end(), {"-L", args[i + 1]});
      }
      ASSERT_EQ(runTool(MVGEN_BINARY, gen, dir.path()).status, 0);
      const RunResult r = runMvscan(args, dir.path());
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out.find("###"), std::string::npos) << r.out.substr(0, 2000);
      // Every packet was read: "Total 'packets' = 4096" or "Total pixelpackets = 4096 (...".
      EXPECT_TRUE(std::regex_search(r.out, std::regex("\nTotal [a-z']+ = 4096[\n ]"))) << r.out;
    }
  }
}

}  // namespace
