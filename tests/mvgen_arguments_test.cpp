// mvgen's arguments: every refused argument exits with status 1 and one
// message, help and version with status 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"
#include "mvgen_files.h"

using namespace testing_files;
using namespace mvgen_files;

namespace {

#ifdef MVGEN_BINARY

// ---- Arguments ---------------------------------------------------------------

TEST(MvgenArguments, BadArgumentsExitWithStatus1AndAMessage) {
  TempDir dir;
  const std::string f = dir.file("x.mv");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "no output file given (-o file)"},
      {{"-k", "toa", "-o", f},
       "-k: unknown kind 'toa' (toatot, pc24, frame8, frame16, testgen or counter)"},
      {{"-n", "12x", "-o", f}, "-n: not a number of packets: '12x'"},
      {{"-n", "", "-o", f}, "-n: not a number of packets: ''"},
      {{"-n", "99999999999999999999", "-o", f},
       "-n: not a number of packets: '99999999999999999999'"},
      {{"-b", "-8", "-o", f}, "-b: not a size in bytes: '-8'"},
      {{"-b", "1001", "-o", f}, "-b: 1001 is not a multiple of 8"},
      {{"-n", "10", "-b", "800", "-o", f}, "-n and -b exclude each other"},
      {{"-s", "seven", "-o", f}, "-s: not a seed: 'seven'"},
      {{"-k", "testgen", "-L", "0", "-o", f}, "-L: links must be 1..8, not '0'"},
      {{"-k", "counter", "-L", "9", "-o", f}, "-L: links must be 1..8, not '9'"},
      {{"-L", "2", "-o", f}, "-L: links apply to -k testgen and -k counter only"},
      {{"-c", "0", "-o", f}, "-c: packets per chunk must be 1..4294967295, not '0'"},
      {{"-c", "4294967296", "-o", f},
       "-c: packets per chunk must be 1..4294967295, not '4294967296'"},
      {{"-e", "fixed@10", "-o", f},
       "-e: errors can be injected into -k testgen and -k counter only"},
      {{"-k", "counter", "-e", "fixed@10", "-o", f},
       "-e: no error 'fixed' for -k counter (corrupt, missing or repeat)"},
      {{"-k", "testgen", "-e", "repeat@10", "-o", f},
       "-e: no error 'repeat' for -k testgen (fixed, toa or missing)"},
      {{"-k", "testgen", "-e", "fixed", "-o", f}, "-e: expected error@position, not 'fixed'"},
      {{"-k", "testgen", "-e", "fixed@1x", "-o", f}, "-e: expected error@position, not 'fixed@1x'"},
      {{"-k", "testgen", "-e", "fixed@0", "-o", f}, "-e: positions count from 1, not 'fixed@0'"},
      {{"-k", "testgen", "-n", "100", "-e", "toa@101", "-o", f},
       "-e: position 101 is beyond the last packet (100)"},
      {{"-k", "counter", "-W", "-n", "1000", "-e", "corrupt@129", "-o", f},
       "-e: position 129 is a Pelvan header or trailer word"},
      {{"-k", "counter", "-W", "-n", "1000", "-e", "corrupt@256", "-o", f},
       "-e: position 256 is a Pelvan header or trailer word"},
      {{"-k", "testgen", "-e", "toa@5", "-e", "fixed@5", "-o", f}, "-e: two errors at position 5"},
      {{"-o", f, "extra"}, "unexpected argument 'extra'"},
      {{"-o", dir.file("no/such/dir/x.mv")},
       "cannot create '" + dir.file("no/such/dir/x.mv") + "': No such file or directory"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += " " + a;
    SCOPED_TRACE(shown);
    RunResult r = runMvgen(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "mvgen: " + c.message + "\n");
    EXPECT_FALSE(std::filesystem::exists(f));
  }
}

TEST(MvgenArguments, UnknownOptionAndMissingValueExitWithStatus1) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-x", "-o", "/tmp/x"}, {"-o"}}) {
    RunResult r = runMvgen(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // The option parser's own diagnostic comes first.
    const std::string tail = "mvgen: see 'mvgen -h' for the options\n";
    ASSERT_GT(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
  }
}

TEST(MvgenArguments, HelpAndVersionExitWithStatus0) {
  RunResult help = runMvgen({"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  const std::string start =
      "mvgen version 25082700\nWrite a synthetic MORVEN data file of Vexar7 pixel packets.\n\n";
  EXPECT_EQ(help.out.substr(0, start.size()), start);
  EXPECT_NE(help.out.find("\nUsage: mvgen [-k kind] [-n packets | -b bytes]"), std::string::npos);
  RunResult version = runMvgen({"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "mvgen version 25082700\n");
}

#endif  // MVGEN_BINARY

}  // namespace
