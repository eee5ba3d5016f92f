// Damaged and hostile files through the mvscan binary: every case builds its
// files, runs the tool and compares the whole standard output, byte for byte,
// with an empty standard error and exit status 0 (2 where no file header
// can be read: the run cannot do its work). Each case breaks one thing
// (a cut, a broken header field, a size no file can hold) and is run in the
// file-check run and in the pixel-scan modes where the damage shows there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "ReportLines.h"
#include "RunInProcess.h"
#include "RunTool.h"
#include "text/Format.h"

using namespace testing_files;
using namespace morven;
using namespace report_lines;

namespace {

// In the expected texts, @A and @B stand for the paths of the case's first
// and second file.
const std::string CHECK = "=> MORVEN data file check\n";
const std::string STATS = "=> Scan pixels gathering statistics\n";
const std::string RAW = "=> Display pixels (using stride=1)\n";
const std::string COUNTERS = "=> Check TestGenerator counter (#links=1)\n";
const std::string TESTGEN = "=> Check TestGenerator pixel format (#links=1)\n";

const std::string MAGIC = std::string("MORVEN") + std::string(2, '\0');

// A bottom ToA/ToT packet (end-of-column 5, pixel 0x1D) and a test-generator
// pixel with the fixed pattern, as words the cases put in data chunks.
constexpr uint64_t PIXEL = 0x0287400000000000;
uint64_t testGenPixel(uint64_t pixnr, uint64_t toa) {
  return pixnr << 46 | toa << 30 | 0x2AEBA954;
}

// ---- The files ------------------------------------------------------------

// A chunk-header word with a type the reader refuses, then a chunk it would
// take: the walk never gets there.
FileBuilder brokenChunkHeader(uint64_t type) {
  return FileBuilder().header().chunk(type, {1}).chunk(MVHDR_VX7PC24, {2});
}

FileBuilder payloadToTheEnd() {
  return FileBuilder().header().chunk(MVHDR_VX7PC24, {1, 2});
}

FileBuilder payloadOneWordPast() {
  return FileBuilder().header().chunkHeader(MVHDR_VX7PC24, 3).words({1, 2});
}

FileBuilder partialHeaderWord() {
  return FileBuilder().header().chunk(MVHDR_VX7PC24, {1}).raw("\x01\x02\x03");
}

FileBuilder hugeDataChunk() {
  return FileBuilder().header().chunkHeader(MVHDR_VX7PC24, 0xFFFFFFFF).word(PIXEL);
}

FileBuilder hugeJsonChunk() {
  return FileBuilder().header().chunkHeader(MVHDR_RUNINFO, 0xFFFFFFFF).raw("{\"a\":1}");
}

FileBuilder hugeConfigChunk() {
  return FileBuilder()
      .header()
      .chunkHeader(MVHDR_VX7CFG, 0xFFFFFFFF)
      .raw(configRecord(0x10, {1, 2}));
}

FileBuilder jsonTextCutShort() {
  return FileBuilder().header().jsonChunk(MVHDR_CHIPINFO, "{\"a\": [1, 2");
}

// 16 bytes of text declared, 12 in the file.
FileBuilder jsonPayloadCutShort() {
  return FileBuilder().header().jsonChunk(MVHDR_CHIPINFO, "{\"a\": [1, 2, 3]}").truncateTo(28);
}

FileBuilder jsonNested(size_t depth) {
  return FileBuilder().header().jsonChunk(MVHDR_CHIPINFO,
                                          std::string(depth, '[') + std::string(depth, ']'));
}

// Records of 16 and 24 bytes; the file ends after 28 payload bytes, inside
// the value bytes of the second record.
FileBuilder configCutMidRecord(size_t payloadKept) {
  return FileBuilder()
      .header()
      .configChunk({configRecord(0x10, {1, 2, 3, 4}),
                    configRecord(0x11, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11, 0x22, 0x33})})
      .truncateTo(16 + payloadKept);
}

// A whole chunk whose one record declares more value bytes than it holds.
FileBuilder configRecordOverruns() {
  return FileBuilder().header().bytesChunk(
      MVHDR_VX7CFG, le32(0x20) + le32(100) + std::string("\x01\x02\x03\x04\x05\x06\x07\x08"));
}

// Three test-generator pixels; the file ends in the middle of the third.
FileBuilder dataCutMidWord() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_VX7TOATOT, {testGenPixel(0, 0), testGenPixel(1, 1), testGenPixel(2, 2)})
      .truncateTo(8 + 8 + 20);
}

// A data-type header the reader refuses (MVHDR_DATA), then more chunks.
FileBuilder rejectedDataThenMore() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_DATA, {PIXEL, 2})
      .chunk(MVHDR_VX7PC24, {3})
      .jsonChunk(MVHDR_RUNINFO, "{\"run\":1}");
}

// A refused header of another group ends the packet stream.
FileBuilder rejectedOtherThenData() {
  return FileBuilder().header().chunk(0x8002ULL << 48, {1}).chunk(MVHDR_VX7PC24, {2});
}

// Ends inside its data chunk: 4 words declared, 2 there.
FileBuilder endsInsideDataChunk() {
  return FileBuilder().header().chunkHeader(MVHDR_VX7PC24, 4).words({1, 2});
}

FileBuilder secondFile() {
  return FileBuilder().header().chunk(MVHDR_VX7PC24, {10, 11});
}

// ---- The table ------------------------------------------------------------

struct DamagedCase {
  std::string name;
  std::vector<std::string> options;
  std::vector<FileBuilder> files;
  std::string out;
  int status = 0;  // 2: the run could not read a file
};

void PrintTo(const DamagedCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<DamagedCase> fileHeaderCases() {
  std::vector<DamagedCase> cases;
  cases.push_back({"EmptyFile", {}, {FileBuilder()}, CHECK + "### Failed to read file header\n"});
  for (size_t n = 1; n <= 7; ++n) {
    cases.push_back({"FileOf" + std::to_string(n) + "Bytes",
                     {},
                     {FileBuilder().raw(MAGIC.substr(0, n))},
                     CHECK + "### Failed to read file header\n"});
  }
  // Each byte of the file header broken in turn.
  static const char* got[8] = {"00004e4556524fff", "00004e455652ff4d", "00004e4556ff4f4d",
                               "00004e45ff524f4d", "00004eff56524f4d", "0000ff4556524f4d",
                               "00ff4e4556524f4d", "ff004e4556524f4d"};
  for (size_t i = 0; i < 8; ++i) {
    std::string bytes = MAGIC;
    bytes[i] = '\xFF';
    cases.push_back({"MagicByte" + std::to_string(i) + "Broken",
                     {},
                     {FileBuilder().raw(bytes).chunk(MVHDR_VX7PC24, {1})},
                     CHECK +
                         "### Doesn't look like a MORVEN data file:\n"
                         "    expected header 0x00004e4556524f4d, got 0x" +
                         got[i] + "\n"});
  }
  const std::string cut = "### Failed to read file header\n";
  cases.push_back({"ShortFileStatistics", {"-p"}, {FileBuilder().raw("MORV")}, STATS + cut});
  cases.push_back({"ShortFileDisplay", {"-R"}, {FileBuilder().raw("MORV")}, RAW + cut});
  cases.push_back({"ShortFileCounterCheck", {"-q"}, {FileBuilder().raw("MORV")}, COUNTERS + cut});
  cases.push_back({"ShortFileTestGenCheck", {"-Q"}, {FileBuilder().raw("MORV")}, TESTGEN + cut});
  cases.push_back({"WrongMagicEndsTheRun",
                   {"-R"},
                   {FileBuilder().raw("MORVEN\x01").raw(std::string(1, '\0')), secondFile()},
                   RAW + "\n### Doesn't look like a MORVEN data file:\n"
                         "    expected header 0x00004e4556524f4d, got 0x00014e4556524f4d\n"});
  // No file header: the run cannot do its work.
  for (DamagedCase& c : cases) c.status = 2;
  return cases;
}

std::vector<DamagedCase> chunkHeaderCases() {
  std::vector<DamagedCase> cases;
  // Each field of the type broken: a group without chunk types, a data
  // content id without a type, the named but refused MVHDR_DATA, and the
  // reserved encoding in the configuration group.
  const std::vector<std::pair<std::string, uint64_t>> types = {{"Group8", 0x8002},
                                                               {"UnknownDataContent", 0x0010},
                                                               {"NamedButRefused", 0x03FF},
                                                               {"ReservedEncoding", 0x1801}};
  for (const auto& [what, type] : types) {
    cases.push_back({"ChunkType" + what,
                     {},
                     {brokenChunkHeader(type << 48)},
                     CHECK + fileLines("@A", 40) + "### Invalid header 0x" +
                         hexString(type << 48, 16) + " @ index=8\n" + "### Not at end-of-file?\n" +
                         chunkTotals(1, 0) + ERRORS});
  }
  cases.push_back({"StreamIdChangesNothing",
                   {"-f"},
                   {FileBuilder().header().chunk(MVHDR_VX7PC24, {1, 2}, 0xFFFF)},
                   CHECK + fileLines("@A", 32) + "--> List of chunks:\n" + padded("Chunk Header") +
                       "  Size [bytes]\n" + padded("------------") + "  ------------\n" +
                       padded("MVHDR_VX7PC24") + "  16\n" + eofReport(32, 1, 16) +
                       counters({{"MVHDR_VX7PC24", 1}})});
  cases.push_back({"InvalidHeaderAfterAGoodChunk",
                   {},
                   {FileBuilder().header().chunk(MVHDR_VX7PC24, {1}).chunk(0x0011ULL << 48, {})},
                   CHECK + fileLines("@A", 32) +
                       "### Invalid header 0x0011000000000000 @ index=24\n"
                       "### Not at end-of-file?\n" +
                       chunkTotals(2, 8) + counters({{"MVHDR_VX7PC24", 1}}) + ERRORS});
  return cases;
}

std::vector<DamagedCase> payloadBoundaryCases() {
  const std::string pc24 = counters({{"MVHDR_VX7PC24", 1}});
  const std::string truncated = "### Truncated last chunk #1\n";
  return {
      {"PayloadEndsAtEndOfFile",
       {},
       {payloadToTheEnd()},
       CHECK + fileLines("@A", 32) + eofReport(32, 1, 16) + pc24},
      {"PayloadOneWordPastEndOfFile",
       {},
       {payloadOneWordPast()},
       CHECK + fileLines("@A", 32) + truncated + eofReport(32, 1, 24) + pc24 + ERRORS},
      {"PayloadOneWordPastEndOfFileDisplay",
       {"-R"},
       {payloadOneWordPast()},
       RAW + scanLines("@A", 32) + "0000000000000001\n0000000000000002\n"},
      {"PartialHeaderWordAtEnd",
       {},
       {partialHeaderWord()},
       CHECK + fileLines("@A", 27) + eofReport(24, 1, 8) + pc24},
      {"PartialHeaderWordAtEndDisplay",
       {"-R"},
       {partialHeaderWord()},
       RAW + scanLines("@A", 27) + "0000000000000001\n"},
      {"PartialHeaderWordAtEndStatistics",
       {"-p"},
       {partialHeaderWord()},
       STATS + scanLines("@A", 27) + "Total pixelpackets = 1\n\n" + pc24},
      {"HugeDataChunk",
       {"-f", "-H", "2"},
       {hugeDataChunk()},
       CHECK + fileLines("@A", 24) + "--> List of chunks:\n" + padded("Chunk Header") +
           "  Size [bytes]\n" + padded("------------") + "  ------------\n" +
           padded("MVHDR_VX7PC24") + "  34359738360\n" + truncated + eofReport(24, 1, 34359738360) +
           pc24 +
           "Chunk Size   Bin Count\n----------   ---------\n"
           "        0           0\n17179869181           1\n34359738362\n\n" +
           ERRORS},
      {"HugeDataChunkStatistics",
       {"-p"},
       {hugeDataChunk()},
       STATS + scanLines("@A", 24) + "Total pixelpackets = 1\n\n" + pc24},
      {"HugeDataChunkDisplay",
       {"-R"},
       {hugeDataChunk()},
       RAW + scanLines("@A", 24) + "0287400000000000\n"},
      {"HugeJsonChunk",
       {"-j"},
       {hugeJsonChunk()},
       CHECK + fileLines("@A", 23) + "### Failed to read JSON chunk MVHDR_RUNINFO\n" +
           "=> MVHDR_RUNINFO:\n<empty>\n" + truncated + eofReport(23, 1, 0) +
           counters({{"MVHDR_RUNINFO", 1}}) + ERRORS},
      {"HugeConfigChunk",
       {"-c"},
       {hugeConfigChunk()},
       CHECK + fileLines("@A", 32) + "### Failed to read VX7-config chunk MVHDR_VX7CFG\n" +
           "=> MVHDR_VX7CFG (size=34359738360):\n0010: 01 02         (0x0201)\n" + truncated +
           eofReport(32, 1, 0) + counters({{"MVHDR_VX7CFG", 1}}) + ERRORS},
  };
}

std::vector<DamagedCase> payloadContentCases() {
  const std::string chipInfo = counters({{"MVHDR_CHIPINFO", 1}});
  const std::string jsonError = "### Error reading JSON from chunk MVHDR_CHIPINFO\n";
  const std::string cfg = counters({{"MVHDR_VX7CFG", 1}});
  // The two records' chunk cut after payloadKept bytes, in the second
  // record: the listing up to the cut, then what the cut left of it.
  const auto configCut = [&](const char* name, size_t payloadKept, const std::string& cutLine) {
    const uint64_t size = 16 + payloadKept;
    return DamagedCase{
        name,
        {"-c"},
        {configCutMidRecord(payloadKept)},
        CHECK + fileLines("@A", size) + "### Failed to read VX7-config chunk MVHDR_VX7CFG\n" +
            "=> MVHDR_VX7CFG (size=40):\n0010: 01 02 03 04   (0x04030201)\n" + cutLine +
            "### Truncated last chunk #1\n" + eofReport(size, 1, 0) + cfg + ERRORS};
  };
  return {
      {"JsonTextCutShort",
       {"-j"},
       {jsonTextCutShort()},
       CHECK + fileLines("@A", 32) + jsonError + "=> MVHDR_CHIPINFO:\n<empty>\n" +
           eofReport(32, 1, 0) + chipInfo},
      {"JsonPayloadCutShort",
       {"-j"},
       {jsonPayloadCutShort()},
       CHECK + fileLines("@A", 28) + "### Failed to read JSON chunk MVHDR_CHIPINFO\n" +
           "=> MVHDR_CHIPINFO:\n<empty>\n### Truncated last chunk #1\n" + eofReport(28, 1, 0) +
           chipInfo + ERRORS},
      {"JsonNested100000Deep",
       {"-j"},
       {jsonNested(100000)},
       CHECK + fileLines("@A", 200016) + jsonError + "=> MVHDR_CHIPINFO:\n<empty>\n" +
           eofReport(200016, 1, 0) + chipInfo},
      // The packet stream reads the JSON chunks it passes on the way.
      {"JsonNested100000DeepStatistics",
       {"-p"},
       {jsonNested(100000).chunk(MVHDR_VX7PC24, {PIXEL})},
       STATS + scanLines("@A", 200032) + jsonError + "Total pixelpackets = 1\n\n" +
           counters({{"MVHDR_VX7PC24", 1}, {"MVHDR_CHIPINFO", 1}})},
      configCut("ConfigCutMidRecord", 28, "0011: AA BB CC DD (### cut: 4 of 9 bytes)\n"),
      configCut("ConfigCutInRecordHead", 20, "(### cut record: 11 00 00 00)\n"),
      {"ConfigRecordOverrunsPayload",
       {"-c"},
       {configRecordOverruns()},
       CHECK + fileLines("@A", 32) +
           "=> MVHDR_VX7CFG (size=16):\n"
           "0020: 01 02 03 04 05 06 07 08 (### cut: 8 of 100 bytes)\n" +
           eofReport(32, 1, 0) + cfg},
  };
}

std::vector<DamagedCase> packetStreamCases() {
  const std::string toa = counters({{"MVHDR_VX7TOATOT", 1}});
  const std::string pc24 = counters({{"MVHDR_VX7PC24", 1}});
  return {
      {"DataCutMidWord",
       {},
       {dataCutMidWord()},
       CHECK + fileLines("@A", 36) + "### Truncated last chunk #1\n" + eofReport(36, 1, 24) + toa +
           ERRORS},
      {"DataCutMidWordDisplay",
       {"-R"},
       {dataCutMidWord()},
       RAW + scanLines("@A", 36) + "000000002aeba954\n000040006aeba954\n"},
      {"DataCutMidWordStatistics",
       {"-p"},
       {dataCutMidWord()},
       STATS + scanLines("@A", 36) + "Total pixelpackets = 2\n\n" + toa},
      {"DataCutMidWordCounterCheck",
       {"-q"},
       {dataCutMidWord()},
       COUNTERS + scanLines("@A", 36) + "### 0000002: 40006aeba954, expected 2aeba955\n" +
           "Total 'packets' = 2\n"},
      {"DataCutMidWordTestGenCheck",
       {"-Q"},
       {dataCutMidWord()},
       TESTGEN + scanLines("@A", 36) + "Total pixelpackets = 2 (heartbeats = 0)\n"},
      {"DataCutInFirstWordTestGenCheck",
       {"-Q"},
       {dataCutMidWord().truncateTo(20)},
       TESTGEN + scanLines("@A", 20) + "Total pixelpackets = 0 (heartbeats = 0)\n" +
           "### Nothing was actually checked: check file contents\n"},
      {"RejectedDataHeaderThenMore",
       {},
       {rejectedDataThenMore()},
       CHECK + fileLines("@A", 72) + "### Invalid header 0x03ff000000000000 @ index=8\n" +
           "### Not at end-of-file?\n" + chunkTotals(1, 0) + ERRORS},
      {"RejectedDataHeaderThenMoreDisplay",
       {"-R"},
       {rejectedDataThenMore()},
       RAW + scanLines("@A", 72) + "### Invalid header 0x03ff000000000000 @ index=8\n" +
           "0287400000000000\n0000000000000002\n0000000000000003\n"},
      {"RejectedDataHeaderThenMoreStatistics",
       {"-p"},
       {rejectedDataThenMore()},
       STATS + scanLines("@A", 72) + "### Invalid header 0x03ff000000000000 @ index=8\n" +
           "Total pixelpackets = 3\n\n" + counters({{"MVHDR_VX7PC24", 1}, {"MVHDR_RUNINFO", 1}})},
      {"RejectedDataHeaderThenMoreCounterCheck",
       {"-q"},
       {rejectedDataThenMore()},
       COUNTERS + scanLines("@A", 72) + "### Invalid header 0x03ff000000000000 @ index=8\n" +
           "### 0000002: 00000002, expected 287400000000001\n" + "Total 'packets' = 3\n"},
      {"RejectedOtherHeaderEndsPacketStream",
       {"-R"},
       {rejectedOtherThenData()},
       RAW + scanLines("@A", 40) + "### Invalid header 0x8002000000000000 @ index=8\n"},
      {"FirstFileEndsInsideDataChunk",
       {},
       {endsInsideDataChunk(), secondFile()},
       CHECK + "\n" + fileLines("@A", 32) + "### Truncated last chunk #1\n" + eofReport(32, 1, 32) +
           pc24 + ERRORS + "\n" + fileLines("@B", 32) + eofReport(32, 1, 16) + pc24 + "\n"},
      {"FirstFileEndsInsideDataChunkDisplay",
       {"-R"},
       {endsInsideDataChunk(), secondFile()},
       RAW + "\n" + scanLines("@A", 32) + "0000000000000001\n0000000000000002\n\n" +
           scanLines("@B", 32) + "000000000000000a\n000000000000000b\n\n"},
      {"FirstFileEndsInsideDataChunkStatistics",
       {"-p"},
       {endsInsideDataChunk(), secondFile()},
       STATS + "\n" + scanLines("@A", 32) + "Total pixelpackets = 2\n\n" + pc24 + "\n" +
           scanLines("@B", 32) + "Total pixelpackets = 4\n\n" + counters({{"MVHDR_VX7PC24", 2}}) +
           "\n"},
      {"FirstFileEndsInsideDataChunkCounterCheck",
       {"-q"},
       {endsInsideDataChunk(), secondFile()},
       COUNTERS + "\n" + scanLines("@A", 32) + "Total 'packets' = 2\n\n" + scanLines("@B", 32) +
           "Total 'packets' = 4\n\n"},
  };
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

class DamagedFile : public ::testing::TestWithParam<DamagedCase> {};

// Writes the case's files to dir, runs it through run, and compares the
// whole output, with @A, @B, ... replaced by the files' paths.
void expectCase(const DamagedCase& c,
                RunResult (*run)(const std::vector<std::string>&, const std::string&)) {
  TempDir dir;
  std::vector<std::string> args = c.options;
  std::string expected = c.out;
  for (size_t i = 0; i < c.files.size(); ++i) {
    const std::string name = std::string(1, char('a' + i)) + ".mv";
    const std::string path = dir.write(name, c.files[i]);
    args.push_back(path);
    expected = replaceAll(expected, std::string("@") + char('A' + i), path);
  }
  RunResult r = run(args, dir.path());
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, expected);
}

TEST_P(DamagedFile, WholeOutput) {
  expectCase(GetParam(), [](const std::vector<std::string>& args, const std::string& dir) {
    return runMvscan(args, dir);
  });
}

// The same case through the command line in this process, on a string
// stream.
TEST_P(DamagedFile, WholeOutputInProcess) {
  expectCase(GetParam(), runInProcess);
}

std::string caseName(const ::testing::TestParamInfo<DamagedCase>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(FileHeader, DamagedFile, ::testing::ValuesIn(fileHeaderCases()), caseName);
INSTANTIATE_TEST_SUITE_P(ChunkHeader, DamagedFile, ::testing::ValuesIn(chunkHeaderCases()),
                         caseName);
INSTANTIATE_TEST_SUITE_P(PayloadBoundary, DamagedFile, ::testing::ValuesIn(payloadBoundaryCases()),
                         caseName);
INSTANTIATE_TEST_SUITE_P(PayloadContent, DamagedFile, ::testing::ValuesIn(payloadContentCases()),
                         caseName);
INSTANTIATE_TEST_SUITE_P(PacketStream, DamagedFile, ::testing::ValuesIn(packetStreamCases()),
                         caseName);

// Names that open but hold no data file: a folder (its reads fail), an empty
// device. Both end the run at the file header.
TEST(NotADataFile, FolderAndEmptyDevice) {
  TempDir dir;
  for (const bool inProcess : {false, true}) {
    for (const std::string& path : {dir.path(), std::string("/dev/null")}) {
      for (const std::string option : {"-f", "-p", "-R"}) {
        SCOPED_TRACE(path + " " + option + (inProcess ? " in-process" : ""));
        RunResult r = inProcess ? runInProcess({option, path}, dir.path())
                                : runMvscan({option, path}, dir.path());
        const std::string banner = option == "-f" ? CHECK : option == "-p" ? STATS : RAW;
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, banner + "### Failed to read file header\n");
      }
    }
  }
}

// ---- Sizes no file holds, in a sparse 5 GiB file -------------------------------

constexpr uint64_t FIVE_GIB = 5ULL << 30;

// A run of mvscan like runMvscan, with the peak resident memory of the
// process as the kernel counted it.
struct MeasuredRun {
  RunResult result;
  long maxRssKiB = 0;
};

MeasuredRun runMeasured(const std::vector<std::string>& args, const std::string& dir) {
  MeasuredRun m;
  const std::string outPath = dir + "/.measured-stdout", errPath = dir + "/.measured-stderr";
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || chdir(dir.c_str()) != 0) _exit(126);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> argv = {const_cast<char*>(MVSCAN_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(MVSCAN_BINARY, argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  m.result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  m.result.out = readWholeFile(outPath);
  m.result.err = readWholeFile(errPath);
  m.maxRssKiB = usage.ru_maxrss;
  return m;
}

struct SparseCase {
  std::string name;
  FileBuilder start;  // the file's first bytes; the rest up to 5 GiB is a hole
  std::vector<std::string> options;
  std::string out;
};

void PrintTo(const SparseCase& c, std::ostream* os) {
  *os << c.name;
}

class SparseFile : public ::testing::TestWithParam<SparseCase> {};

// The declared sizes must decide neither what the tool reads nor how much
// memory it takes: a walk over a hole seeks, and the payloads it keeps
// (JSON text, register records) are read only as far as the file goes and
// never beyond a bound of their own.
TEST_P(SparseFile, BoundedMemory) {
  const SparseCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.write("sparse.mv", c.start);
  ASSERT_EQ(truncate(path.c_str(), off_t(FIVE_GIB)), 0);
  std::vector<std::string> args = c.options;
  args.push_back(path);
  MeasuredRun m = runMeasured(args, dir.path());
  EXPECT_EQ(m.result.status, 0);
  EXPECT_EQ(m.result.err, "");
  EXPECT_EQ(m.result.out, replaceAll(c.out, "@A", path));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' shadow memory (and quarantine) make the figure
  // meaningless.
  (void)m.maxRssKiB;
#else
  EXPECT_LT(m.maxRssKiB, 40 * 1024) << "peak resident memory in KiB";
#endif
}

std::vector<SparseCase> sparseCases() {
  const std::string truncated = "### Truncated last chunk #1\n";
  const std::string list = "--> List of chunks:\n" + padded("Chunk Header") + "  Size [bytes]\n" +
                           padded("------------") + "  ------------\n";
  return {
      {"HugeDataChunk",
       FileBuilder().header().chunkHeader(MVHDR_VX7PC24, 0xFFFFFFFF),
       {"-f", "-j", "-c", "-H", "1"},
       CHECK + fileLines("@A", FIVE_GIB) + list + padded("MVHDR_VX7PC24") + "  34359738360\n" +
           truncated + eofReport(FIVE_GIB, 1, 34359738360) + counters({{"MVHDR_VX7PC24", 1}}) +
           "Chunk Size   Bin Count\n----------   ---------\n        0           1\n"
           "34359738361\n\n" +
           ERRORS},
      {"HugeJsonChunk",
       FileBuilder().header().chunkHeader(MVHDR_RUNINFO, 0xFFFFFFFF),
       {"-j"},
       CHECK + fileLines("@A", FIVE_GIB) + "### Failed to read JSON chunk MVHDR_RUNINFO\n" +
           "=> MVHDR_RUNINFO:\n<empty>\n" + truncated + eofReport(FIVE_GIB, 1, 0) +
           counters({{"MVHDR_RUNINFO", 1}}) + ERRORS},
      {"HugeConfigChunk",
       FileBuilder().header().chunkHeader(MVHDR_VX7CFG, 0xFFFFFFFF),
       {"-f"},
       CHECK + fileLines("@A", FIVE_GIB) + "### Failed to read VX7-config chunk MVHDR_VX7CFG\n" +
           list + padded("MVHDR_VX7CFG") + "  34359738360\n" + truncated +
           eofReport(FIVE_GIB, 1, 0) + counters({{"MVHDR_VX7CFG", 1}}) + ERRORS},
      {"HugeUserChunk",
       FileBuilder().header().chunkHeader(0x7001ULL << 48, 0xFFFFFFFF),
       {},
       CHECK + fileLines("@A", FIVE_GIB) + truncated + eofReport(FIVE_GIB, 1, 0) +
           counters({{"USERHDR", 1}}) + ERRORS},
  };
}

INSTANTIATE_TEST_SUITE_P(FiveGiB, SparseFile, ::testing::ValuesIn(sparseCases()),
                         [](const ::testing::TestParamInfo<SparseCase>& info) {
                           return info.param.name;
                         });

}  // namespace
