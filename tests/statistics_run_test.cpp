// Golden command-line cases of the pixel-scan run in its statistics mode:
// arguments, the files each case builds, the exit status and the whole
// expected standard output, byte for byte. Files are named relative to the
// case's directory, where the run also writes its inspect.png.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunInProcess.h"
#include "RunTool.h"
#include "pixel_reports.h"

using namespace testing_files;
using namespace morven;

namespace {

uint64_t dataPacket(bool top, uint64_t eoc, uint64_t pixel, uint64_t toa = 0) {
  return (uint64_t(top) << 63) | (eoc << 55) | (pixel << 46) | (toa << 30);
}

const uint64_t HEARTBEAT = VX7_EOC_HEARTBEAT << 55;

const std::string SCAN = "=> Scan pixels gathering statistics\n";

// a.mv, 80 bytes: a ToA/ToT chunk with two hits of EoC 5 (ToA 100 and 200)
// and a heartbeat, a JSON chunk, a PC24 chunk with one hit of EoC 7.
FileBuilder fileA() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_VX7TOATOT,
             {dataPacket(false, 5, 0x1D, 100), dataPacket(true, 5, 0x1D, 200), HEARTBEAT})
      .jsonChunk(MVHDR_RUNINFO, "{\"run\": 1}")
      .chunk(MVHDR_VX7PC24, {dataPacket(false, 7, 1)});
}

const std::string A_OPENED =
    "File opened: a.mv\n"
    "File header: MORVEN\n"
    "File size  : 80 bytes (10*8)\n";

const std::string A_COUNTERS =
    "=> Chunk counters:\n"
    "MVHDR_VX7TOATOT          1\n"
    "MVHDR_VX7PC24            1\n"
    "MVHDR_RUNINFO            1\n";

const std::string A_EOC =
    "\n"
    "=> EoC counters:\n"
    "  5  2\n"
    "  7  1\n"
    "224  1  (HEARTBEAT)\n";

// b.mv, 24 bytes: a ToA/ToT BOTTOM chunk with one hit of EoC 9.
FileBuilder fileB() {
  return FileBuilder().header().chunk(MVHDR_VX7TOATOT_BOTTOM, {dataPacket(false, 9, 2, 5)});
}

const std::string B_OPENED =
    "File opened: b.mv\n"
    "File header: MORVEN\n"
    "File size  : 24 bytes (3*8)\n";

// s.mv, 112 bytes: a PC24 chunk of ten hits of EoC 1, then two of EoC 2.
FileBuilder fileS() {
  std::vector<uint64_t> packets(10, dataPacket(false, 1, 0));
  packets.push_back(dataPacket(false, 2, 0));
  packets.push_back(dataPacket(false, 2, 0));
  return FileBuilder().header().chunk(MVHDR_VX7PC24, packets);
}

const std::string S_OPENED =
    "File opened: s.mv\n"
    "File header: MORVEN\n"
    "File size  : 112 bytes (14*8)\n";

const std::string PC24_ONCE = "=> Chunk counters:\nMVHDR_VX7PC24            1\n";

struct RunCase {
  const char* name;
  std::vector<std::string> args;
  std::function<void(const TempDir&)> files;  // builds the case's files
  std::string out;
  int status = 0;  // 2: a file could not be read
};

void PrintTo(const RunCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<RunCase> runCases() {
  std::vector<RunCase> c;
  auto a = [](const TempDir& d) { d.write("a.mv", fileA()); };
  auto ab = [](const TempDir& d) {
    d.write("a.mv", fileA());
    d.write("b.mv", fileB());
  };
  auto s = [](const TempDir& d) { d.write("s.mv", fileS()); };

  // ---- One file ----------------------------------------------------------------
  c.push_back(
      {"OneFile", {"-p", "a.mv"}, a, SCAN + A_OPENED + "Total pixelpackets = 4\n\n" + A_COUNTERS});
  c.push_back({"EocListOfCountedTypes",
               {"-p", "-E", "a.mv"},
               a,
               SCAN + A_OPENED + A_EOC + "Total pixelpackets = 4\n\n" + A_COUNTERS});
  c.push_back({"EocListOfAllTypes",
               {"-e", "-p", "a.mv"},
               a,
               SCAN + A_OPENED + "\n" + allEocRows({{5, 2}, {7, 1}, {224, 1}}) +
                   "Total pixelpackets = 4\n\n" + A_COUNTERS});
  c.push_back({"ToaHistogram",
               {"-p", "-H", "4", "a.mv"},
               a,
               SCAN + A_OPENED +
                   "  ToA     Bin Count\n"
                   "-------   ---------\n"
                   "     0          2\n"
                   " 16384          0\n"
                   " 32768          0\n"
                   " 49152          0\n"
                   " 65536\n"
                   "\n"
                   "Total pixelpackets = 4\n\n" +
                   A_COUNTERS});
  c.push_back({"EocListThenHistogram",
               {"-p", "-E", "-H1", "a.mv"},
               a,
               SCAN + A_OPENED + A_EOC +
                   "  ToA     Bin Count\n-------   ---------\n     0          2\n 65536\n\n"
                   "Total pixelpackets = 4\n\n" +
                   A_COUNTERS});
  c.push_back({"HeaderOnlyFile",
               {"-p", "-E", "h.mv"},
               [](const TempDir& d) { d.write("h.mv", FileBuilder().header()); },
               SCAN + "File opened: h.mv\nFile header: MORVEN\nFile size  : 8 bytes (1*8)\n"
                      "\n=> EoC counters:\n<none>\n"
                      "Total pixelpackets = 0\n\n"});

  // ---- The size line ---------------------------------------------------------
  auto sized = [](size_t extra) {
    return [extra](const TempDir& d) {
      d.write("z.mv", FileBuilder()
                          .header()
                          .chunk(MVHDR_VX7PC24, std::vector<uint64_t>(123, 1))
                          .raw(std::string(extra, '\x55')));
    };
  };
  c.push_back({"SizeMultipleOfEight",
               {"-p", "z.mv"},
               sized(0),
               SCAN + "File opened: z.mv\nFile header: MORVEN\nFile size  : 1000 bytes (125*8)\n" +
                   "Total pixelpackets = 123\n\n" + PC24_ONCE});
  c.push_back({"SizeWithRemainder",
               {"-p", "z.mv"},
               sized(3),
               SCAN +
                   "File opened: z.mv\nFile header: MORVEN\nFile size  : 1003 bytes (125*8 + 3)\n" +
                   "Total pixelpackets = 123\n\n" + PC24_ONCE});
  c.push_back({"SizeOneByteOverTheHeader",
               {"-p", "n.mv"},
               [](const TempDir& d) { d.write("n.mv", FileBuilder().header().raw("x")); },
               SCAN + "File opened: n.mv\nFile header: MORVEN\nFile size  : 9 bytes (1*8 + 1)\n"
                      "Total pixelpackets = 0\n\n"});

  // ---- The skip ----------------------------------------------------------------
  c.push_back({"NoSkipLineForZero",
               {"-p", "-E", "-s", "0", "s.mv"},
               s,
               SCAN + S_OPENED + "\n=> EoC counters:\n  1  10\n  2  2\n" +
                   "Total pixelpackets = 12\n\n" + PC24_ONCE});
  c.push_back({"SkipTen",
               {"-p", "-E", "-s", "10", "s.mv"},
               s,
               SCAN + S_OPENED + "Skip to pixel 11 (bytes 50)\n" + "\n=> EoC counters:\n  2  2\n" +
                   "Total pixelpackets = 12\n\n" + PC24_ONCE});
  c.push_back({"SkipFiveCountsInTheTotal",
               {"-p", "-E", "-s5", "s.mv"},
               s,
               SCAN + S_OPENED + "Skip to pixel 6 (bytes 28)\n" +
                   "\n=> EoC counters:\n  1  5\n  2  2\n" + "Total pixelpackets = 12\n\n" +
                   PC24_ONCE});
  c.push_back({"SkipBeyondTheLastPacket",
               {"-p", "-E", "-s", "100", "s.mv"},
               s,
               SCAN + S_OPENED + "Skip to pixel 13 (bytes 60)\n" + "\n=> EoC counters:\n<none>\n" +
                   "Total pixelpackets = 12\n\n" + PC24_ONCE});
  c.push_back({"SkipRunsPerFile",
               {"-p", "-E", "-s", "10", "s.mv", "s.mv"},
               s,
               SCAN + "\n" + S_OPENED + "Skip to pixel 11 (bytes 50)\n" +
                   "\n=> EoC counters:\n  2  2\n" + "Total pixelpackets = 12\n\n" + PC24_ONCE +
                   "\n" + S_OPENED + "Skip to pixel 11 (bytes 50)\n" +
                   "\n=> EoC counters:\n  2  4\n" + "Total pixelpackets = 24\n\n" +
                   "=> Chunk counters:\nMVHDR_VX7PC24            2\n\n"});

  // ---- Several files -----------------------------------------------------------
  c.push_back({"TwoFilesAccumulate",
               {"-p", "-E", "a.mv", "b.mv"},
               ab,
               SCAN + "\n" + A_OPENED + A_EOC + "Total pixelpackets = 4\n\n" + A_COUNTERS + "\n" +
                   B_OPENED +
                   "\n=> EoC counters:\n  5  2\n  7  1\n  9  1\n224  1  (HEARTBEAT)\n"
                   "Total pixelpackets = 5\n\n"
                   "=> Chunk counters:\n"
                   "MVHDR_VX7TOATOT          2\n"
                   "MVHDR_VX7PC24            1\n"
                   "MVHDR_RUNINFO            1\n\n"});
  c.push_back({"ToaHistogramAccumulates",
               {"-p", "-H1", "a.mv", "b.mv"},
               ab,
               SCAN + "\n" + A_OPENED +
                   "  ToA     Bin Count\n-------   ---------\n     0          2\n 65536\n\n"
                   "Total pixelpackets = 4\n\n" +
                   A_COUNTERS + "\n" + B_OPENED +
                   "  ToA     Bin Count\n-------   ---------\n     0          3\n 65536\n\n"
                   "Total pixelpackets = 5\n\n"
                   "=> Chunk counters:\n"
                   "MVHDR_VX7TOATOT          2\n"
                   "MVHDR_VX7PC24            1\n"
                   "MVHDR_RUNINFO            1\n\n"});
  c.push_back({"ForcedFrameLineBeforeEveryFile",
               {"-p", "-F", "8", "a.mv", "b.mv"},
               ab,
               SCAN + "\nForce interpretation as frame data (8 bits)\n" + A_OPENED +
                   "Total pixelpackets = 4\n\n" + A_COUNTERS +
                   "\nForce interpretation as frame data (8 bits)\n" + B_OPENED +
                   "Total pixelpackets = 5\n\n"
                   "=> Chunk counters:\n"
                   "MVHDR_VX7TOATOT          2\n"
                   "MVHDR_VX7PC24            1\n"
                   "MVHDR_RUNINFO            1\n\n"});
  c.push_back({"SecondFileCannotBeOpened",
               {"-p", "a.mv", "missing.mv", "b.mv"},
               ab,
               SCAN + "\n" + A_OPENED + "Total pixelpackets = 4\n\n" + A_COUNTERS + "\n" +
                   "### Failed to open file missing.mv\n",
               2});
  c.push_back({"SecondFileIsNoDataFile",
               {"-p", "a.mv", "t.txt", "b.mv"},
               [](const TempDir& d) {
                 d.write("a.mv", fileA());
                 d.write("t.txt", FileBuilder().raw("hello world!"));
                 d.write("b.mv", fileB());
               },
               SCAN + "\n" + A_OPENED + "Total pixelpackets = 4\n\n" + A_COUNTERS + "\n" +
                   "### Doesn't look like a MORVEN data file:\n"
                   "    expected header 0x00004e4556524f4d, got 0x6f77206f6c6c6568\n",
               2});
  c.push_back({"FirstFileCannotBeOpened",
               {"-p", "missing.mv", "a.mv"},
               a,
               SCAN + "\n### Failed to open file missing.mv\n",
               2});

  // ---- Reversal and Pelvan blocks ------------------------------------------
  // 0x0706050403020100 has type byte 14; byte reversal makes it 0, word
  // reversal 6, both 8.
  auto r = [](const TempDir& d) {
    d.write("r.mv", FileBuilder().header().chunk(MVHDR_VX7FRAME16, {0x0706050403020100}));
  };
  const std::string rOpened =
      "File opened: r.mv\nFile header: MORVEN\nFile size  : 24 bytes (3*8)\n";
  const std::string rEnd =
      "Total pixelpackets = 1\n\n=> Chunk counters:\nMVHDR_VX7FRAME16         1\n";
  c.push_back({"NoReversal",
               {"-p", "-E", "r.mv"},
               r,
               SCAN + rOpened + "\n=> EoC counters:\n 14  1\n" + rEnd});
  c.push_back({"BytesReversed",
               {"-p", "-E", "-r", "r.mv"},
               r,
               SCAN + "(bytes reversed)\n" + rOpened + "\n=> EoC counters:\n  0  1\n" + rEnd});
  c.push_back({"WordsReversed",
               {"-p", "-E", "-w", "r.mv"},
               r,
               SCAN + "(words reversed)\n" + rOpened + "\n=> EoC counters:\n  6  1\n" + rEnd});
  c.push_back({"WordsAndBytesReversed",
               {"-p", "-E", "-r", "-w", "r.mv"},
               r,
               SCAN + "(words reversed)\n(bytes reversed)\n" + rOpened +
                   "\n=> EoC counters:\n  8  1\n" + rEnd});

  // 150 hits of EoC 3 per file, twice, 10 skipped in each: the Pelvan words
  // 128 and 129 fall in the first file, 256 and 257 in the second, counted
  // over the skipped packets too.
  auto pelvan = [](const TempDir& d) {
    d.write("w.mv",
            FileBuilder().header().chunk(MVHDR_VX7PC24, std::vector<uint64_t>(150, 3ULL << 55)));
  };
  const std::string wOpened =
      "File opened: w.mv\nFile header: MORVEN\nFile size  : 1216 bytes (152*8)\n"
      "Skip to pixel 11 (bytes 50)\n";
  c.push_back({"PelvanBlocksRunOverSkipAndFiles",
               {"-p", "-E", "-W", "-s10", "w.mv", "w.mv"},
               pelvan,
               SCAN + "\n" + wOpened + "\n=> EoC counters:\n  3  138\n" +
                   "Total pixelpackets = 150\n\n" + PC24_ONCE + "\n" + wOpened +
                   "\n=> EoC counters:\n  3  276\n" + "Total pixelpackets = 300\n\n" +
                   "=> Chunk counters:\nMVHDR_VX7PC24            2\n\n"});

  // ---- Damaged files -------------------------------------------------------------
  // A rejected header of a data type: its payload is read as packets.
  c.push_back({"RejectedDataTypeChunkIsScanned",
               {"-p", "-E", "d.mv"},
               [](const TempDir& d) {
                 d.write("d.mv", FileBuilder()
                                     .header()
                                     .chunk(MVHDR_VX7TOATOT, {dataPacket(false, 1, 0)})
                                     .chunk(MVHDR_DATA, {dataPacket(false, 2, 0), 2ULL << 55})
                                     .chunk(MVHDR_VX7PC24, {dataPacket(false, 3, 0)}));
               },
               SCAN + "File opened: d.mv\nFile header: MORVEN\nFile size  : 64 bytes (8*8)\n" +
                   "### Invalid header 0x03ff000000000000 @ index=24\n" +
                   "\n=> EoC counters:\n  1  1\n  2  2\n  3  1\n" + "Total pixelpackets = 4\n\n" +
                   "=> Chunk counters:\nMVHDR_VX7TOATOT          1\nMVHDR_VX7PC24            1\n"});
  // A rejected header of another type ends the scan of the file for good:
  // its payload, which reads like a data chunk, is never taken for one,
  // neither by the skip nor by the statistics after it.
  auto rejected = [](const TempDir& d) {
    d.write("x.mv",
            FileBuilder()
                .header()
                .chunk(MVHDR_VX7PC24, {dataPacket(false, 1, 0), dataPacket(false, 1, 0)})
                .chunk(MVHDR_GROUPID_RES_4, {chunkWord(MVHDR_VX7PC24, 1), dataPacket(false, 2, 0)})
                .chunk(MVHDR_VX7PC24, {dataPacket(false, 3, 0)}));
  };
  const std::string xOpened =
      "File opened: x.mv\nFile header: MORVEN\nFile size  : 72 bytes (9*8)\n";
  const std::string xInvalid = "### Invalid header 0x4000000000000000 @ index=32\n";
  c.push_back({"RejectedHeaderEndsTheScan",
               {"-p", "-E", "x.mv"},
               rejected,
               SCAN + xOpened + xInvalid + "\n=> EoC counters:\n  1  2\n" +
                   "Total pixelpackets = 2\n\n" + PC24_ONCE});
  c.push_back({"RejectedHeaderEndsTheSkipAndTheScan",
               {"-p", "-E", "-s", "100", "x.mv"},
               rejected,
               SCAN + xOpened + xInvalid + "Skip to pixel 3 (bytes 10)\n" +
                   "\n=> EoC counters:\n<none>\n" + "Total pixelpackets = 2\n\n" + PC24_ONCE});
  // The first file ends inside a data chunk; the second is walked from its
  // own first chunk.
  c.push_back({"NextFileAfterACutChunk",
               {"-p", "-E", "c.mv", "b.mv"},
               [](const TempDir& d) {
                 d.write("c.mv", FileBuilder()
                                     .header()
                                     .chunkHeader(MVHDR_VX7TOATOT, 10)
                                     .words({dataPacket(false, 4, 0), dataPacket(false, 4, 1)})
                                     .raw("\x01\x02\x03"));
                 d.write("b.mv", fileB());
               },
               SCAN +
                   "\nFile opened: c.mv\nFile header: MORVEN\nFile size  : 35 bytes (4*8 + 3)\n" +
                   "\n=> EoC counters:\n  4  2\n" + "Total pixelpackets = 2\n\n" +
                   "=> Chunk counters:\nMVHDR_VX7TOATOT          1\n\n" + B_OPENED +
                   "\n=> EoC counters:\n  4  2\n  9  1\n" + "Total pixelpackets = 3\n\n" +
                   "=> Chunk counters:\nMVHDR_VX7TOATOT          2\n\n"});
  return c;
}

class StatisticsRun : public ::testing::TestWithParam<RunCase> {};

// Builds the case's files, runs it through run in their directory (where
// inspect.png is written) and compares status and whole output.
void expectCase(const RunCase& tc,
                RunResult (*run)(const std::vector<std::string>&, const std::string&)) {
  TempDir dir;
  tc.files(dir);
  RunResult r = run(tc.args, dir.path());
  EXPECT_EQ(r.status, tc.status);
  EXPECT_EQ(r.out, tc.out);
  EXPECT_EQ(r.err, "");
}

TEST_P(StatisticsRun, WholeOutput) {
  expectCase(GetParam(), [](const std::vector<std::string>& args, const std::string& dir) {
    return runMvscan(args, dir);
  });
}

// The same case through the command line in this process, on a string
// stream.
TEST_P(StatisticsRun, WholeOutputInProcess) {
  expectCase(GetParam(), runInProcess);
}

INSTANTIATE_TEST_SUITE_P(Cases, StatisticsRun, ::testing::ValuesIn(runCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
