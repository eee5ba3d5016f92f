// Golden command-line cases of the file-check run and of the option
// handling shared by both runs: arguments, the files each case builds, the
// exit status and the whole expected standard output, byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "ReportLines.h"
#include "RunInProcess.h"
#include "RunTool.h"

using namespace testing_files;
using namespace morven;
using namespace report_lines;

namespace {

const std::string HELP =
    "mvscan version 25082700\n"
    "Inspect the data in a file (or files) containing MORVEN data.\n"
    "\n"
    "Usage: mvscan -h|V -c -C -e -f -j -H<bins> -L<links> -p|P|Q|q|R -s<cnt> -W <filenames>\n"
    "  -h         : Show this help text.\n"
    "  -V         : Show version.\n"
    "  -c         : In case of a chunk containing a Vexar7 configuration,\n"
    "               display the contents, i.e. each register setting.\n"
    "  -C         : Display a pixel packet counter as the first number (with options -P/R/Q).\n"
    "  -e|E       : Display a list of EoC counters (with option -p);\n"
    "               option -E: display only the counter values > 0.\n"
    "  -f         : Display individual chunk headers and sizes (without options -p/P/Q).\n"
    "  -j         : Show JSON string in case of JSON-formatted chunks (without options -p/P/Q).\n"
    "  -H <bins>  : Display a histogram with <bins> bins (lines of text) of:\n"
    "               ToA (with option -p) or data chunk sizes (without -p).\n"
    "  -L <links> : Number of (Vexar7) links (with option -Q or -q) *or*\n"
    "               the stride when displaying pixels (with option -P);\n"
    "               use option -s to start from a pixel other than the first,\n"
    "               to allow display of pixels from a selected link only.\n"
    "  -p         : Scan the pixels, collecting statistics on ToA and EoC and\n"
    "               pixel x/y 'hits' (accumulated in case multiple file names are given).\n"
    "               (a greyscale image representation of the x/y counters is generated).\n"
    "  -P         : Scan the pixels, display individual pixel bit fields.\n"
    "  -R         : Scan the pixels, display raw 64-bit value (hex) of each pixel.\n"
    "  -Q         : Scan the pixels, check for the 'test-generator' format (work-in-progress),\n"
    "               or display 'test-generator pixel' bit fields (with option -P or -R).\n"
    "  -q         : Scan 8-byte packets, checking for being an incrementing counter value per "
    "link.\n"
    "  -s <cnt>   : Skip <cnt> pixels before starting the pixel scan (with option -p/P/Q).\n"
    "  -W         : Expect a 'pelvan' header and trailer (8 bytes) in each 1KB (126 pixels).\n"
    " <filenames> : Name(s) of MORVEN data file(s).\n";

const std::string CHECK = "=> MORVEN data file check\n";

const std::string LIST_HEADING =
    "--> List of chunks:\n"
    "Chunk Header               Size [bytes]\n"
    "------------               ------------\n";

struct CliCase {
  const char* name;
  std::vector<std::string> args;
  std::function<void(const TempDir&)> files;  // builds the case's files
  int status;
  std::string out;
  bool stderrExpected = false;  // the option parser's own diagnostic
};

void PrintTo(const CliCase& c, std::ostream* os) {
  *os << c.name;
}

void none(const TempDir&) {}

// A case's one file, a.mv.
std::function<void(const TempDir&)> fileA(const FileBuilder& file) {
  return [file](const TempDir& d) { d.write("a.mv", file); };
}

// Two PC24 chunks of 3 and 5 words: 88 bytes.
FileBuilder twoChunks() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_VX7PC24, {1, 2, 3})
      .chunk(MVHDR_VX7PC24, {4, 5, 6, 7, 8});
}

const std::string TWO_CHUNKS_END = eofReport(88, 2, 64) + counters({{"MVHDR_VX7PC24", 2}});

std::vector<CliCase> cliCases() {
  std::vector<CliCase> c;
  // ---- Options ------------------------------------------------------------
  c.push_back({"NoFileName", {}, none, 1, "### Provide a file name\n"});
  c.push_back({"OptionsButNoFileName", {"-f", "-j"}, none, 1, "### Provide a file name\n"});
  c.push_back({"Help", {"-h"}, none, 0, HELP});
  c.push_back({"HelpEndsBeforeLaterOptions", {"-h", "-L", "9"}, none, 0, HELP});
  c.push_back({"RangeErrorBeforeHelp",
               {"-L", "9", "-h"},
               none,
               1,
               "### -L: argument not in range (1..8)\n"});
  c.push_back({"Version", {"-V", "x.mv"}, none, 0, "Version 25082700\n"});
  c.push_back({"LinksZero", {"-L", "0", "a"}, none, 1, "### -L: argument not in range (1..8)\n"});
  c.push_back({"LinksNotANumber", {"-Lx", "a"}, none, 1, "### -L: error in argument\n"});
  c.push_back(
      {"BinsTooMany", {"-H", "65537", "a"}, none, 1, "### -H: argument not in range (1..65536)\n"});
  c.push_back({"BinsHugeIsOutOfRange",
               {"-H", "99999999999", "a"},
               none,
               1,
               "### -H: argument not in range (1..65536)\n"});
  c.push_back({"BinsZero", {"-H0", "a"}, none, 1, "### -H: argument not in range (1..65536)\n"});
  c.push_back({"FrameBitsTwelve", {"-F", "12", "a"}, none, 1, "### -F: argument not 8 or 16\n"});
  c.push_back({"FrameBitsNotANumber", {"-F", "abc", "a"}, none, 1, "### -F: error in argument\n"});
  c.push_back({"SkipNotANumber", {"-s", "many", "a"}, none, 1, "### -s: error in argument\n"});
  c.push_back({"UnknownOption", {"-x", "a"}, none, 1, "", true});
  c.push_back({"MissingArgument", {"a", "-L"}, none, 1, "", true});
  // Numbers are read up to the first character that cannot continue them.
  c.push_back({"LinksWithTrailingText",
               {"-R", "-L", " 3x", "missing.mv"},
               none,
               2,
               "=> Display pixels (using stride=3)\n### Failed to open file missing.mv\n"});
  // ---- Banner lines --------------------------------------------------------
  c.push_back({"BannerCounterAndDisplay",
               {"-q", "-P", "missing.mv"},
               none,
               2,
               "=> Check TestGenerator counter (#links=1)\n=> Display pixels (using stride=1)\n"
               "### Failed to open file missing.mv\n"});
  c.push_back({"BannerTestGenDisplay",
               {"-Q", "-R", "-L2", "missing.mv"},
               none,
               2,
               "=> Display TestGenerator pixel format (#links=2)\n"
               "=> Display pixels (using stride=2)\n### Failed to open file missing.mv\n"});
  c.push_back(
      {"BannerTestGenCheck",
       {"-Q", "-q", "missing.mv"},
       none,
       2,
       "=> Check TestGenerator pixel format (#links=1)\n### Failed to open file missing.mv\n"});
  c.push_back({"BannerCounterCheck",
               {"-q", "-L8", "missing.mv"},
               none,
               2,
               "=> Check TestGenerator counter (#links=8)\n### Failed to open file missing.mv\n"});
  c.push_back({"BannerStatisticsReversed",
               {"-p", "-w", "-r", "missing.mv"},
               none,
               2,
               "=> Scan pixels gathering statistics\n(words reversed)\n(bytes reversed)\n"
               "### Failed to open file missing.mv\n"});
  c.push_back({"BannerFileCheckIgnoresReversal",
               {"-w", "-r", "missing.mv"},
               none,
               2,
               CHECK + "### Failed to open file missing.mv\n"});
  // ---- Files that cannot be read ---------------------------------------------
  c.push_back({"FirstOfTwoFilesMissing",
               {"missing.mv", "a.mv"},
               fileA(FileBuilder().header()),
               2,
               CHECK + "\n### Failed to open file missing.mv\n"});
  c.push_back({"SecondOfTwoFilesMissing",
               {"a.mv", "missing.mv"},
               fileA(FileBuilder().header()),
               2,
               CHECK + "\n" + fileLines("a.mv", 8) + eofReport(8, 0, 0) +
                   "\n### Failed to open file missing.mv\n"});
  c.push_back({"ShortFile",
               {"a.mv"},
               fileA(FileBuilder().raw("MORVE")),
               2,
               CHECK + "### Failed to read file header\n"});
  c.push_back({"WrongMagic",
               {"a.mv", "b.mv"},
               [](const TempDir& d) {
                 d.write("a.mv", FileBuilder().raw("MORVEN\x01\x02"));
                 d.write("b.mv", FileBuilder().header());
               },
               2,
               CHECK + "\n### Doesn't look like a MORVEN data file:\n"
                       "    expected header 0x00004e4556524f4d, got 0x02014e4556524f4d\n"});
  // ---- Reports ---------------------------------------------------------------
  c.push_back({"HeaderOnly",
               {"a.mv"},
               fileA(FileBuilder().header()),
               0,
               CHECK + fileLines("a.mv", 8) + eofReport(8, 0, 0)});
  c.push_back({"ChunkList",
               {"-f", "a.mv"},
               fileA(twoChunks()),
               0,
               CHECK + fileLines("a.mv", 88) + LIST_HEADING +
                   "MVHDR_VX7PC24              24\n"
                   "MVHDR_VX7PC24              40\n" +
                   TWO_CHUNKS_END});
  // Options of the other run change nothing here; operands and options mix.
  c.push_back({"OptionsAfterFileName",
               {"a.mv", "-f", "-s", "3", "-e", "-w"},
               fileA(twoChunks()),
               0,
               CHECK + fileLines("a.mv", 88) + LIST_HEADING +
                   "MVHDR_VX7PC24              24\n"
                   "MVHDR_VX7PC24              40\n" +
                   TWO_CHUNKS_END});
  c.push_back({"DoubleHyphenEndsOptions",
               {"--", "-f"},
               [](const TempDir& d) { d.write("-f", twoChunks()); },
               0,
               CHECK + fileLines("-f", 88) + TWO_CHUNKS_END});
  c.push_back({"TwoFilesEachReportedAlone",
               {"a.mv", "a.mv"},
               fileA(twoChunks()),
               0,
               CHECK + "\n" + fileLines("a.mv", 88) + TWO_CHUNKS_END + "\n" +
                   fileLines("a.mv", 88) + TWO_CHUNKS_END + "\n"});
  c.push_back({"JsonSortedAndIndented",
               {"-j", "a.mv"},
               [](const TempDir& d) {
                 d.write("a.mv",
                         FileBuilder().header().jsonChunk(
                             MVHDR_RUNINFO, "{\"b\": \"\xc3\xa9t\xc3\xa9\", \"a\": [1, {}]}"));
               },
               0,
               CHECK + fileLines("a.mv", 48) +
                   "=> MVHDR_RUNINFO:\n{\n  \"a\": [\n    1,\n    {}\n  ],\n  \"b\": "
                   "\"\xc3\xa9t\xc3\xa9\"\n}\n" +
                   eofReport(48, 1, 0) + counters({{"MVHDR_RUNINFO", 1}})});
  c.push_back({"JsonEmptyPayload",
               {"-j", "a.mv"},
               fileA(FileBuilder().header().chunkHeader(MVHDR_CHIPINFO, 0)),
               0,
               CHECK + fileLines("a.mv", 16) +
                   "### Error reading JSON from chunk MVHDR_CHIPINFO\n"
                   "=> MVHDR_CHIPINFO:\n<empty>\n" +
                   eofReport(16, 1, 0) + counters({{"MVHDR_CHIPINFO", 1}})});
  // A chunk that does not parse never shows the text of an earlier chunk.
  c.push_back({"JsonBadAfterGoodWithList",
               {"-f", "-j", "a.mv"},
               fileA(FileBuilder()
                         .header()
                         .jsonChunk(0x7403ULL << 48, "[1]")
                         .jsonChunk(MVHDR_BOARDINFO, "{\"a\":}")),
               0,
               CHECK + fileLines("a.mv", 40) + LIST_HEADING +
                   "USERHDR_JSON_Content3      8\n"
                   "[\n  1\n]\n"
                   "### Error reading JSON from chunk MVHDR_BOARDINFO\n"
                   "MVHDR_BOARDINFO            8\n<empty>\n" +
                   eofReport(40, 2, 0) + counters({{"MVHDR_BOARDINFO", 1}, {"USERHDR", 1}})});
  c.push_back({"ConfigListing",
               {"-c", "a.mv"},
               [](const TempDir& d) {
                 d.write("a.mv",
                         FileBuilder().header().configChunk({configRecord(0x10, {1, 2, 3, 4}),
                                                             configRecord(0x11, {0xAB, 0xCD}),
                                                             configRecord(0x1ABCD, {})}));
               },
               0,
               CHECK + fileLines("a.mv", 56) +
                   "=> MVHDR_VX7CFG (size=40):\n"
                   "0010: 01 02 03 04   (0x04030201)\n"
                   "0011: AB CD         (0xCDAB)\n"
                   "1ABCD:         (0x0)\n" +
                   eofReport(56, 1, 0) + counters({{"MVHDR_VX7CFG", 1}})});
  c.push_back({"ConfigListingWithChunkList",
               {"-f", "-c", "a.mv"},
               fileA(FileBuilder().header().configChunk({configRecord(0x2, {0xFF})})),
               0,
               CHECK + fileLines("a.mv", 32) + LIST_HEADING +
                   "MVHDR_VX7CFG               16\n"
                   "\n0002: FF         (0xFF)\n" +
                   eofReport(32, 1, 0) + counters({{"MVHDR_VX7CFG", 1}})});
  c.push_back({"ConfigEmpty",
               {"-c", "a.mv"},
               fileA(FileBuilder().header().chunkHeader(MVHDR_VX7CFG, 0)),
               0,
               CHECK + fileLines("a.mv", 16) + "=> MVHDR_VX7CFG (size=0):\n" + eofReport(16, 1, 0) +
                   counters({{"MVHDR_VX7CFG", 1}})});
  // The listing's upper-case digits do not leak into later messages.
  c.push_back({"ConfigThenInvalidHeader",
               {"-c", "a.mv"},
               fileA(FileBuilder()
                         .header()
                         .configChunk({configRecord(0xAB, {0xCD})})
                         .chunkHeader(0xABCDULL << 48, 0)),
               0,
               CHECK + fileLines("a.mv", 40) +
                   "=> MVHDR_VX7CFG (size=16):\n00AB: CD         (0xCD)\n"
                   "### Invalid header 0xabcd000000000000 @ index=32\n"
                   "### Not at end-of-file?\n" +
                   chunkTotals(2, 0) + counters({{"MVHDR_VX7CFG", 1}}) + ERRORS});
  c.push_back({"SizeHistogram",
               {"-H", "2", "a.mv"},
               fileA(FileBuilder()
                         .header()
                         .chunk(MVHDR_VX7TOATOT, std::vector<uint64_t>(100, 7))
                         .chunk(MVHDR_VX7FRAME8, {1})
                         .chunk(MVHDR_VX7TOATOT_TOP, {1, 2})),
               0,
               CHECK + fileLines("a.mv", 856) + eofReport(856, 3, 824) +
                   counters({{"MVHDR_VX7TOATOT", 2}, {"MVHDR_VX7FRAME8", 1}}) +
                   "Chunk Size   Bin Count\n----------   ---------\n"
                   "        0           2\n      401           1\n      802\n\n"});
  c.push_back({"SizeHistogramWithoutDataChunks",
               {"-H3", "a.mv"},
               fileA(FileBuilder().header()),
               0,
               CHECK + fileLines("a.mv", 8) + eofReport(8, 0, 0) +
                   "Chunk Size   Bin Count\n----------   ---------\n"
                   "        0           0\n        1           0\n        2           0\n"
                   "        3\n\n"});
  c.push_back({"TruncatedDataChunk",
               {"-H1", "a.mv"},
               fileA(FileBuilder()
                         .header()
                         .chunkHeader(MVHDR_VX7PC24, 100)
                         .words(std::vector<uint64_t>(10, 1))),
               0,
               CHECK + fileLines("a.mv", 96) + "### Truncated last chunk #1\n" +
                   eofReport(96, 1, 800) + counters({{"MVHDR_VX7PC24", 1}}) +
                   "Chunk Size   Bin Count\n----------   ---------\n"
                   "        0           1\n      801\n\n" +
                   ERRORS});
  c.push_back({"JsonCutShort",
               {"-j", "a.mv"},
               fileA(FileBuilder().header().chunkHeader(MVHDR_RUNINFO, 4).raw("{}")),
               0,
               CHECK + fileLines("a.mv", 18) +
                   "### Failed to read JSON chunk MVHDR_RUNINFO\n"
                   "=> MVHDR_RUNINFO:\n<empty>\n"
                   "### Truncated last chunk #1\n" +
                   eofReport(18, 1, 0) + counters({{"MVHDR_RUNINFO", 1}}) + ERRORS});
  // Only the bytes the file holds are listed, and the cut record is marked.
  c.push_back({"ConfigCutMidRecord",
               {"-c", "a.mv"},
               fileA(FileBuilder()
                         .header()
                         .chunkHeader(MVHDR_VX7CFG, 6)
                         .raw(configRecord(0x20, {9, 8}))
                         .raw(le32(0x21) + le32(12) + "\x01\x02\x03")),
               0,
               CHECK + fileLines("a.mv", 43) +
                   "### Failed to read VX7-config chunk MVHDR_VX7CFG\n"
                   "=> MVHDR_VX7CFG (size=48):\n"
                   "0020: 09 08         (0x0809)\n"
                   "0021: 01 02 03 (### cut: 3 of 12 bytes)\n"
                   "### Truncated last chunk #1\n" +
                   eofReport(43, 1, 0) + counters({{"MVHDR_VX7CFG", 1}}) + ERRORS});
  c.push_back({"InvalidHeaderStopsTheWalk",
               {"-f", "a.mv"},
               fileA(FileBuilder()
                         .header()
                         .chunk(0x7001ULL << 48, {1, 2})
                         .chunkHeader(MVHDR_DATA, 0)
                         .chunk(MVHDR_VX7PC24, {1})),
               0,
               CHECK + fileLines("a.mv", 56) + LIST_HEADING +
                   "USERHDR_BIN_Content1       16\n"
                   "### Invalid header 0x03ff000000000000 @ index=32\n"
                   "### Not at end-of-file?\n" +
                   chunkTotals(2, 0) + counters({{"USERHDR", 1}}) + ERRORS});
  c.push_back(
      {"PartialHeaderWordAtEnd",
       {"a.mv"},
       fileA(FileBuilder().header().chunk(MVHDR_VX7PC24, {1}).raw("\x01\x02")),
       0,
       CHECK + fileLines("a.mv", 26) + eofReport(24, 1, 8) + counters({{"MVHDR_VX7PC24", 1}})});
  return c;
}

class CliFileCheck : public ::testing::TestWithParam<CliCase> {};

void expectCase(const CliCase& tc, const RunResult& r) {
  EXPECT_EQ(r.status, tc.status);
  EXPECT_EQ(r.out, tc.out);
  if (tc.stderrExpected) {
    EXPECT_FALSE(r.err.empty());
  } else {
    EXPECT_EQ(r.err, "");
  }
}

TEST_P(CliFileCheck, WholeOutput) {
  const CliCase& tc = GetParam();
  TempDir dir;
  tc.files(dir);
  expectCase(tc, runMvscan(tc.args, dir.path()));
}

// The same case through the command line in this process, on a string
// stream; standard error (getopt's own messages) is caught as the binary's.
TEST_P(CliFileCheck, WholeOutputInProcess) {
  const CliCase& tc = GetParam();
  TempDir dir;
  tc.files(dir);
  expectCase(tc, runInProcess(tc.args, dir.path()));
}

INSTANTIATE_TEST_SUITE_P(Cases, CliFileCheck, ::testing::ValuesIn(cliCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that cannot seek (a pipe) fails at the first step over a payload:
// the report names the system's error and does not claim the end of file.
TEST(CliFileCheckPipe, SeekFailureIsReported) {
  TempDir dir;
  std::string bytes = twoChunks().bytes();
  RunResult r = runMvscan({"/dev/stdin"}, dir.path(), &bytes);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, CHECK +
                       "File opened: /dev/stdin\nFile header: MORVEN\nFile size  : 0 bytes\n"
                       "### Error errno: Illegal seek\n"
                       "### Not at end-of-file?\n" +
                       chunkTotals(0, 0));
}

// Many thousands of lines into a file: every byte arrives, in order.
TEST(CliFileCheckOutput, LongReportIsComplete) {
  TempDir dir;
  FileBuilder b;
  b.header();
  std::string expected = CHECK + "File opened: a.mv\nFile header: MORVEN\n";
  std::string rows;
  const int chunks = 30000;
  for (int i = 0; i < chunks; ++i) {
    b.chunk(MVHDR_VX7FRAME16, std::vector<uint64_t>(size_t(i % 3), 0));
    rows += "MVHDR_VX7FRAME16           " + std::to_string(8 * (i % 3)) + "\n";
  }
  dir.write("a.mv", b);
  uint64_t dataBytes = 0;
  for (int i = 0; i < chunks; ++i) dataBytes += 8 * uint64_t(i % 3);
  expected += "File size  : " + std::to_string(b.size()) + " bytes\n" +
              "--> List of chunks:\n"
              "Chunk Header               Size [bytes]\n"
              "------------               ------------\n" +
              rows + eofReport(b.size(), uint64_t(chunks), dataBytes) +
              counters({{"MVHDR_VX7FRAME16", chunks}});
  RunResult r = runMvscan({"-f", "a.mv"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
}

}  // namespace

namespace {

// A report that cannot be written is not a success.
TEST(CliFileCheckOutput, FullDiskIsAnError) {
  TempDir dir;
  std::string err = dir.file("err");
  std::string cmd = std::string(MVSCAN_BINARY) + " -h >/dev/full 2>" + err;
  int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(readWholeFile(err), "mvscan: cannot write standard output: No space left on device\n");
}

}  // namespace
