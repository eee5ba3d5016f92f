// --help: the text of -h, byte for byte, then one line for every long
// option of the command line's table; and the man page, the README and the
// bash completion name every one of them, so that none can be added to the
// table and left out of what users read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FileBuilder.h"
#include "RunTool.h"

namespace {

using namespace testing_files;

const std::string LONG_OPTIONS_TEXT =
    "\n"
    "Long options (anywhere among the arguments; a value also as the next argument):\n"
    "  --help              Show this help text, with this list of long options.\n"
    "  --version           Show version (the same as -V).\n"
    "  --json              One JSON document as the report (JSON Lines with -P/-R).\n"
    "  --image=PATH        Write the picture of -p to PATH instead of inspect.png.\n"
    "  --no-image          Write no picture.\n"
    "  --merge             Report the sum of statistics documents of -p --json runs.\n"
    "  --allow-duplicates  With --merge: count a file that two documents hold twice.\n"
    "  --strict            Status 3 on a structural error or a failed -Q/-q check.\n"
    "  --no-progress       Show no progress line on standard error.\n"
    "  --threads=N         Tally the statistics on N threads (default: every core).\n"
    "  --html=PATH         Write the quick-look page of -p or --merge to PATH.\n"
    "  --hot-pixels=PATH   Write the hot pixels of -p or --merge to PATH as CSV.\n"
    "  --hot-factor=K      A pixel is hot above K x the median around it (default 10).\n"
    "  --follow            Follow the last file as it is written (as tail -f does).\n"
    "  --idle=SECONDS      With --follow: end once the file stops growing that long.\n"
    "  --interval=SECONDS  With --follow: renew picture and page this often (2).\n"
    "  --snapshot=PATH     With --follow -p --json: the document so far, to PATH.\n";

TEST(Help, LongOptionsAfterTheShortHelpText) {
  TempDir dir;
  const RunResult h = runMvscan({"-h"}, dir.path());
  ASSERT_EQ(h.status, 0);
  ASSERT_EQ(h.out.rfind("mvscan version ", 0), 0u) << h.out;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, std::vector<std::string>{"-f", "--help", "x.mv"}}) {
    const RunResult r = runMvscan(args, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, h.out + LONG_OPTIONS_TEXT);
    EXPECT_EQ(r.err, "");
  }
}

// The man page with every "-" as groff writes it, "\-".
std::string manName(const std::string& name) {
  std::string t;
  for (char c : "--" + name) {
    if (c == '-') t += '\\';
    t += c;
  }
  return t;
}

// The text of the man page section that starts with heading, up to the next
// section.
std::string manSection(const std::string& page, const std::string& heading) {
  const size_t from = page.find(".SH " + heading + "\n");
  if (from == std::string::npos) return "";
  const size_t to = page.find("\n.SH ", from + 1);
  return page.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// True when text holds word followed by no other letter of a name.
bool holdsWord(const std::string& text, const std::string& word) {
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const size_t end = at + word.size();
    if (end == text.size() || !(std::isalnum((unsigned char)text[end]) || text[end] == '-'))
      return true;
  }
  return false;
}

TEST(Help, EveryLongOptionInHelpManPageReadmeAndCompletion) {
  TempDir dir;
  const std::string help = runMvscan({"--help"}, dir.path()).out;
  const std::string page = readWholeFile(MVSCAN_SOURCE_DIR "/docs/mvscan.1");
  const std::string synopsis = manSection(page, "SYNOPSIS");
  const std::string options = manSection(page, "OPTIONS");
  const std::string readme = readWholeFile(MVSCAN_SOURCE_DIR "/README.md");
  const std::string completion = readWholeFile(MVSCAN_SOURCE_DIR "/completion/mvscan.bash");
  ASSERT_FALSE(synopsis.empty());
  ASSERT_FALSE(options.empty());
  ASSERT_GE(mvscan::longOptions().size(), 9u);
  for (const mvscan::LongOption& o : mvscan::longOptions()) {
    SCOPED_TRACE(o.name);
    const std::string name = std::string("--") + o.name;
    EXPECT_TRUE(holdsWord(help, "\n  " + name)) << help;
    EXPECT_TRUE(holdsWord(synopsis, manName(o.name))) << synopsis;
    EXPECT_TRUE(holdsWord(options, manName(o.name))) << options;
    EXPECT_TRUE(holdsWord(readme, "`" + name)) << "README.md";
    EXPECT_TRUE(holdsWord(completion, name)) << "completion/mvscan.bash";
  }
  // And the other way round: the synopsis names no long option that the
  // command line does not read.
  static const std::regex inSynopsis(R"(\\-\\-([a-z\\-]+))");
  for (auto at = std::sregex_iterator(synopsis.begin(), synopsis.end(), inSynopsis);
       at != std::sregex_iterator(); ++at) {
    std::string name = (*at)[1];
    name.erase(std::remove(name.begin(), name.end(), '\\'), name.end());
    bool known = false;
    for (const mvscan::LongOption& o : mvscan::longOptions()) known = known || name == o.name;
    EXPECT_TRUE(known) << "--" << name << " in the synopsis";
  }
}

}  // namespace
