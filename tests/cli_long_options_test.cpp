// The long options and the exit statuses, through the mvscan binary: the
// same texts as the short options, usage errors, the picture's place, and
// the statuses of a run that completes, cannot read a file, cannot write
// its report, or (with --strict) found structural errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"

namespace {

using namespace testing_files;
using morven::MVHDR_VX7PC24;
using morven::MVHDR_VX7TOATOT;

uint64_t hit(uint64_t eoc, uint64_t pixel, uint64_t toa) {
  return (eoc << 55) | (pixel << 46) | (toa << 30);
}

// A sound file of hits: its check finds nothing wrong.
FileBuilder soundFile() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_VX7TOATOT, {hit(5, 0x1D, 100), hit(5, 0x1D, 200), hit(9, 3, 7)})
      .chunk(MVHDR_VX7PC24, {hit(7, 1, 0)});
}

// A file with a header word of no known chunk type, and a last chunk cut
// short: structural damage, which both runs report.
FileBuilder damagedFile() {
  FileBuilder b = soundFile().word(0x5555555555555555ULL).chunk(MVHDR_VX7TOATOT, {1, 2, 3, 4});
  return b.truncateTo(b.size() - 12);
}

// --version prints what -V prints; --help adds the long options to the
// text of -h (tests/cli_help_test.cpp).
TEST(LongOptions, SameTextsAsShortOptions) {
  TempDir dir;
  const RunResult l = runMvscan({"--version"}, dir.path());
  const RunResult s = runMvscan({"-V"}, dir.path());
  EXPECT_EQ(l.status, 0);
  EXPECT_EQ(l.out, s.out);
  EXPECT_FALSE(l.out.empty());
  EXPECT_EQ(l.err, "");
}

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  std::string out;  // on standard output
  std::string err;  // what standard error must contain
};

// Each case ends with status 1 and its whole line on standard output.
void expectUsageErrors(const std::vector<UsageCase>& cases, const TempDir& dir) {
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = runMvscan(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
  }
}

TEST(LongOptions, UsageErrors) {
  TempDir dir;
  dir.write("a.mv", soundFile());
  const std::vector<UsageCase> cases = {
      {"UnknownLongOption", {"--bogus", "a.mv"}, "", "unrecognized option '--bogus'"},
      {"MissingArgument", {"a.mv", "--image"}, "", "requires an argument"},
      {"ThreadsZero",
       {"--threads", "0", "a.mv"},
       "### --threads: argument not in range (1..1024)\n",
       ""},
      {"ThreadsNotANumber", {"--threads=x", "a.mv"}, "### --threads: error in argument\n", ""},
      {"EmptyImageName", {"-p", "--image=", "a.mv"}, "### --image: error in argument\n", ""},
      {"NoFileName", {"--json"}, "### Provide a file name\n", ""},
      {"MergeWithoutFile", {"--merge"}, "### Provide a file name\n", ""},
      {"EmptyHtmlName", {"-p", "--html=", "a.mv"}, "### --html: error in argument\n", ""},
      {"EmptyHotPixelsName",
       {"-p", "--hot-pixels=", "a.mv"},
       "### --hot-pixels: error in argument\n",
       ""},
      {"HotFactorOne",
       {"--hot-factor", "1", "-p", "a.mv"},
       "### --hot-factor: argument not in range (above 1, at most 1e9)\n",
       ""},
      {"HotFactorNotANumber",
       {"--hot-factor=5x", "a.mv"},
       "### --hot-factor: error in argument\n",
       ""},
  };
  expectUsageErrors(cases, dir);
}

// A long option that the mode does not use would be silently ignored: it
// is refused, with what it goes with. Those that only turn something off or
// set how the run goes serve every mode.
TEST(LongOptions, ModeOptions) {
  TempDir dir;
  dir.write("a.mv", soundFile());
  dir.write("a.json",
            FileBuilder().raw(runMvscan({"-p", "--json", "--no-image", "a.mv"}, dir.path()).out));
  const std::string html = "### --html goes with -p or --merge\n";
  const std::string hotFactor = "### --hot-factor goes with --html or --hot-pixels\n";
  const std::vector<UsageCase> refused = {
      {"HtmlFileCheck", {"--html", "a.html", "a.mv"}, html, ""},
      {"HtmlDisplay", {"-R", "--html", "a.html", "a.mv"}, html, ""},
      {"HtmlPixelsOverridden", {"-p", "-P", "--html", "a.html", "a.mv"}, html, ""},
      {"HtmlTestGen", {"-Q", "--html=a.html", "a.mv"}, html, ""},
      {"HtmlFollowedCounters",
       {"-q", "--follow", "--idle", "1", "--html", "a.html", "a.mv"},
       html,
       ""},
      {"HotPixelsCounters",
       {"-q", "--hot-pixels", "h.csv", "a.mv"},
       "### --hot-pixels goes with -p or --merge\n",
       ""},
      {"ImageFileCheck",
       {"-f", "--image", "x.png", "a.mv"},
       "### --image goes with -p or --merge\n",
       ""},
      {"ImageDisplayJson",
       {"-P", "--json", "--image", "x.png", "a.mv"},
       "### --image goes with -p or --merge\n",
       ""},
      {"HotFactorFileCheck", {"--hot-factor", "5", "a.mv"}, hotFactor, ""},
      {"HotFactorWithoutPage", {"-p", "--hot-factor", "5", "a.mv"}, hotFactor, ""},
      {"HotFactorMergeWithoutPage", {"--merge", "--hot-factor=10", "a.json"}, hotFactor, ""},
      {"AllowDuplicatesScan",
       {"-p", "--allow-duplicates", "a.mv"},
       "### --allow-duplicates goes with --merge\n",
       ""},
      {"IdleWithoutFollow",
       {"-p", "--idle", "3", "a.mv"},
       "### --idle and --interval go with --follow\n",
       ""},
      {"SnapshotWithoutJson",
       {"-p", "--follow", "--snapshot", "s.json", "a.mv"},
       "### --snapshot goes with --follow, -p and --json\n",
       ""},
      {"FollowMerge",
       {"--merge", "--follow", "a.json"},
       "### --follow goes with a scan, not with --merge\n",
       ""},
  };
  expectUsageErrors(refused, dir);
  for (const char* file : {"a.html", "h.csv", "x.png", "s.json", "inspect.png"})
    EXPECT_FALSE(std::filesystem::exists(dir.file(file))) << file;

  struct Accepted {
    const char* name;
    std::vector<std::string> args;
  };
  const std::vector<Accepted> accepted = {
      {"QuietOptionsFileCheck",
       {"--no-image", "--no-progress", "--threads", "2", "--json", "a.mv"}},
      {"QuietOptionsDisplay", {"-R", "--no-image", "--no-progress", "--threads=1", "a.mv"}},
      {"QuietOptionsCounters", {"-q", "--no-image", "--no-progress", "a.mv"}},
      {"PageWithFactor",
       {"-p", "--no-image", "--hot-factor", "5", "--hot-pixels", "h.csv", "a.mv"}},
      {"MergePage", {"--merge", "--no-image", "--html", "m.html", "--hot-factor", "3", "a.json"}},
      {"MergeImage", {"--merge", "--image", "m.png", "--allow-duplicates", "a.json", "a.json"}},
  };
  for (const Accepted& c : accepted) {
    SCOPED_TRACE(c.name);
    const RunResult r = runMvscan(c.args, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

struct StatusCase {
  const char* name;
  std::vector<std::string> args;
  int status;
};

// A file of counters of one link, 1 to 6: the counter check finds nothing
// wrong (a sound file of hits is all errors to it, and to the test-generator
// check).
FileBuilder counterFile() {
  return FileBuilder().header().chunk(MVHDR_VX7TOATOT, {1, 2, 3}).chunk(MVHDR_VX7PC24, {4, 5, 6});
}

TEST(ExitStatus, Table) {
  TempDir dir;
  dir.write("sound.mv", soundFile());
  dir.write("damaged.mv", damagedFile());
  dir.write("counters.mv", counterFile());
  dir.write("text.txt", FileBuilder().raw("hello world!"));
  for (const std::string f : {"sound", "damaged"}) {
    dir.write(
        f + ".json",
        FileBuilder().raw(runMvscan({"-p", "--json", "--no-image", f + ".mv"}, dir.path()).out));
  }
  const std::vector<StatusCase> cases = {
      {"SoundFile", {"sound.mv"}, 0},
      {"DamagedFileIsContent", {"damaged.mv"}, 0},
      {"DamagedFileScan", {"-p", "--no-image", "damaged.mv"}, 0},
      {"StrictSound", {"--strict", "sound.mv"}, 0},
      {"StrictDamaged", {"--strict", "sound.mv", "damaged.mv"}, 3},
      {"StrictDamagedScan", {"--strict", "-p", "--no-image", "damaged.mv"}, 3},
      {"StrictDamagedJson", {"--strict", "--json", "damaged.mv"}, 3},
      {"MissingFile", {"sound.mv", "missing.mv"}, 2},
      {"MissingFileStrict", {"--strict", "missing.mv"}, 2},
      {"NotADataFile", {"-p", "--no-image", "text.txt"}, 2},
      {"MissingFileJson", {"--json", "missing.mv"}, 2},
      {"ThreadsGiven", {"--threads", "2", "-p", "--no-image", "sound.mv"}, 0},
      // A check that found errors is a failed check, with --strict.
      {"CounterErrors", {"-q", "sound.mv"}, 0},
      {"StrictCounterErrors", {"--strict", "-q", "sound.mv"}, 3},
      {"StrictCounterErrorsJson", {"--strict", "--json", "-q", "sound.mv"}, 3},
      {"StrictCounterErrorsLastFile", {"--strict", "-q", "counters.mv", "sound.mv"}, 3},
      {"StrictCountersSound", {"--strict", "-q", "counters.mv"}, 0},
      {"TestGenErrors", {"-Q", "sound.mv"}, 0},
      {"StrictTestGenErrors", {"--strict", "-Q", "sound.mv"}, 3},
      {"StrictTestGenErrorsJson", {"--strict", "-Q", "--json", "sound.mv"}, 3},
      {"StrictTestGenDisplay", {"--strict", "-Q", "-P", "sound.mv"}, 0},
      // The merge holds the structural errors of the documents' files.
      {"MergeDamaged", {"--merge", "--no-image", "damaged.json"}, 0},
      {"StrictMergeDamaged",
       {"--strict", "--merge", "--no-image", "sound.json", "damaged.json"},
       3},
      {"StrictMergeSound", {"--strict", "--merge", "--no-image", "sound.json"}, 0},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = runMvscan(c.args, dir.path());
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "");
  }
}

// The long options add to the short ones and change none of their bytes:
// a run with --strict, --threads, --no-progress prints what the run
// without them prints, wherever they stand among the file names.
TEST(LongOptions, ShortOptionOutputUnchanged) {
  TempDir dir;
  dir.write("a.mv", soundFile());
  dir.write("b.mv", damagedFile());
  for (const std::vector<std::string>& plain :
       {std::vector<std::string>{"-f", "-H", "4", "a.mv", "b.mv"},
        std::vector<std::string>{"-p", "-e", "-H", "8", "a.mv", "b.mv"},
        std::vector<std::string>{"-P", "-C", "a.mv"}}) {
    std::vector<std::string> withLong = plain;
    withLong.insert(withLong.end() - 1, {"--threads", "1", "--no-progress"});
    withLong.insert(withLong.begin(), "--strict");
    const RunResult a = runMvscan(plain, dir.path());
    const RunResult b = runMvscan(withLong, dir.path());
    EXPECT_EQ(a.out, b.out);
    EXPECT_FALSE(a.out.empty());
  }
}

TEST(Image, PathAndNone) {
  TempDir dir;
  dir.write("a.mv", soundFile());
  const RunResult plain = runMvscan({"-p", "a.mv"}, dir.path());
  ASSERT_EQ(plain.status, 0);
  const std::string picture = readWholeFile(dir.file("inspect.png"));
  ASSERT_FALSE(picture.empty());
  std::filesystem::remove(dir.file("inspect.png"));

  std::filesystem::create_directory(dir.file("out"));
  const RunResult placed = runMvscan({"-p", "--image", "out/hits.image", "a.mv"}, dir.path());
  EXPECT_EQ(placed.status, 0);
  EXPECT_EQ(placed.out, plain.out);
  EXPECT_EQ(readWholeFile(dir.file("out/hits.image")), picture);
  EXPECT_FALSE(std::filesystem::exists(dir.file("inspect.png")));

  const RunResult none = runMvscan({"-p", "--no-image", "a.mv"}, dir.path());
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, plain.out);
  EXPECT_FALSE(std::filesystem::exists(dir.file("inspect.png")));

  // A picture that cannot be written says so, as the default one does, and
  // the run ends with status 2: the report asked for was not all written.
  const RunResult failed = runMvscan({"-p", "--image", "nowhere/x.png", "a.mv"}, dir.path());
  EXPECT_EQ(failed.status, 2);
  EXPECT_NE(failed.out.find("### PNG error: nowhere/x.png: No such file or directory\n"),
            std::string::npos)
      << failed.out;
}

// The quick-look page and list: the text report and the picture stay as
// they are; a page that cannot be written is told at the end of the report,
// and the run ends with status 2, as for a picture.
TEST(LongOptions, QuickLookFiles) {
  TempDir dir;
  dir.write("a.mv", soundFile());
  const RunResult plain = runMvscan({"-p", "-E", "a.mv"}, dir.path());
  const std::string picture = readWholeFile(dir.file("inspect.png"));
  const RunResult look =
      runMvscan({"-p", "-E", "--html", "a.html", "--hot-pixels", "hot.csv", "a.mv"}, dir.path());
  EXPECT_EQ(look.status, 0);
  EXPECT_EQ(look.out, plain.out);
  EXPECT_EQ(readWholeFile(dir.file("inspect.png")), picture);
  EXPECT_EQ(readWholeFile(dir.file("a.html")).rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(readWholeFile(dir.file("hot.csv")).rfind("x,y,index,count\n", 0), 0u);

  const RunResult failed =
      runMvscan({"-p", "--no-image", "--html", "nowhere/a.html", "a.mv"}, dir.path());
  EXPECT_EQ(failed.status, 2);
  const std::string said =
      "### Cannot write the HTML report nowhere/a.html: No such file or "
      "directory\n";
  ASSERT_GE(failed.out.size(), said.size());
  EXPECT_EQ(failed.out.substr(failed.out.size() - said.size()), said);
  // The display and the checks write no page: asked for one, they refuse
  // (LongOptions.ModeOptions).
  EXPECT_EQ(runMvscan({"-R", "--html", "d.html", "a.mv"}, dir.path()).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.file("d.html")));
}

// A report that cannot be written: status 2 and the reason on standard
// error; a reader that went away is no reason to say anything.
TEST(ExitStatus, UnwritableOutput) {
  TempDir dir;
  dir.write("a.mv", soundFile());
  const std::string err = dir.file("err");
  for (const std::string& options : {std::string("-f"), std::string("--json")}) {
    SCOPED_TRACE(options);
    const std::string cmd =
        "cd " + dir.path() + " && " + MVSCAN_BINARY + " " + options + " a.mv >/dev/full 2>" + err;
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(readWholeFile(err),
              "mvscan: cannot write standard output: No space left on device\n");
  }
}

}  // namespace
