// The statistics scan on several threads against the single-threaded scan:
// for every kind of file (damaged ones, Pelvan framing, skips, reversals,
// several files, chunks larger than a read piece) the report text, the
// picture file and every tally must be the same, byte for byte.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "run/Runs.h"
#include "scan/DataInspector.h"

using namespace testing_files;
using namespace morven;

namespace {

// Packets of every sort, the same for the same seed: pixel data of both
// halves and all EoC blocks (a few hot pixels and ToA values among them, as
// in a real run), zero fill words, named and unnamed control codes.
class PacketSource {
 public:
  explicit PacketSource(uint64_t seed) : _state(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t next() {
    _state ^= _state << 13;
    _state ^= _state >> 7;
    _state ^= _state << 17;
    const uint64_t r = _state;
    switch (r % 16) {
      case 0:
        return 0;  // fill word
      case 1:
        return (uint64_t(VX7_EOC_HEARTBEAT + (r >> 8) % 32) << 55) | (r >> 20);  // control
      case 2:
        return (uint64_t(5) << 55) | (uint64_t(0x1D) << 46) | (uint64_t(777) << 30);  // hot pixel
      default: {
        const uint64_t eoc = (r >> 8) % VX7_EOC_MAX_COLS;
        return (r & 0x807FFFFFFFFFFFFFULL) | (eoc << 55);
      }
    }
  }
  std::vector<uint64_t> words(size_t n) {
    std::vector<uint64_t> w(n);
    for (uint64_t& x : w) x = next();
    return w;
  }

 private:
  uint64_t _state;
};

struct File {
  std::string name;
  FileBuilder bytes;
};

struct ScanCase {
  const char* name;
  std::function<std::vector<File>()> files;
  std::vector<std::string> names;  // the run's list (may name a missing file)
  std::function<void(RunSettings&)> settings;
};

void PrintTo(const ScanCase& c, std::ostream* os) {
  *os << c.name;
}

// Data chunks of ToA/ToT and counting data in turn, of the given sizes.
FileBuilder dataFile(uint64_t seed, const std::vector<size_t>& chunkWords) {
  PacketSource src(seed);
  FileBuilder b;
  b.header().jsonChunk(MVHDR_RUNINFO, "{\"run\": 7}");
  for (size_t i = 0; i < chunkWords.size(); ++i) {
    b.chunk(i % 3 == 1 ? MVHDR_VX7PC24 : MVHDR_VX7TOATOT, src.words(chunkWords[i]));
  }
  return b;
}

std::vector<size_t> manyChunks(size_t count, size_t words) {
  return std::vector<size_t>(count, words);
}

void noChange(RunSettings&) {}

std::vector<ScanCase> scanCases() {
  std::vector<ScanCase> c;
  const std::vector<std::string> one = {"a.mv"};
  const std::vector<std::string> three = {"a.mv", "b.mv", "c.mv"};
  auto threeFiles = [] {
    return std::vector<File>{{"a.mv", dataFile(1, {1000, 70000, 3, 129, 40000})},
                             {"b.mv", dataFile(2, {50001, 0, 77})},
                             {"c.mv", dataFile(3, {300000})}};
  };

  c.push_back({"ManyChunks",
               [] {
                 return std::vector<File>{{"a.mv", dataFile(1, manyChunks(200, 5000))}};
               },
               one, noChange});
  c.push_back(
      {"ChunkLargerThanAReadPiece",
       [] {
         return std::vector<File>{{"a.mv", dataFile(2, {1000, SUBCHUNKSIZE / 8 + 12345, 4000})}};
       },
       one, noChange});
  c.push_back({"SeveralFiles", threeFiles, three, noChange});
  // Chunks of one word each, ToA/ToT and counting data in turn: thousands
  // of changes of chunk type within one piece of the read.
  c.push_back({"TinyChunksOfAlternatingTypes",
               [] {
                 return std::vector<File>{{"a.mv", dataFile(4, manyChunks(5000, 1))}};
               },
               one, noChange});
  c.push_back({"SkipInsideAChunk", threeFiles, three, [](RunSettings& s) { s.skipCount = 1234; }});
  c.push_back(
      {"SkipPastTheFirstFile", threeFiles, three, [](RunSettings& s) { s.skipCount = 200000; }});
  c.push_back({"WordsReversed", threeFiles, three, [](RunSettings& s) { s.reverseWords = true; }});
  c.push_back({"BytesReversed", threeFiles, three, [](RunSettings& s) { s.reverseBytes = true; }});
  c.push_back({"WordsAndBytesReversedAfterASkip", threeFiles, three, [](RunSettings& s) {
                 s.reverseWords = s.reverseBytes = true;
                 s.skipCount = 77;
               }});
  // Chunk sizes that are no multiple of a block: blocks run across chunk and
  // file boundaries, and the place in the block counts on over the files.
  c.push_back({"PelvanBlocksAcrossChunksAndFiles", threeFiles, three,
               [](RunSettings& s) { s.fromPelvan = true; }});
  c.push_back({"PelvanAfterASkipWithReversal", threeFiles, three, [](RunSettings& s) {
                 s.fromPelvan = true;
                 s.skipCount = 1001;
                 s.reverseBytes = true;
               }});
  c.push_back({"ForcedFrameData", threeFiles, three, [](RunSettings& s) { s.frameBits = 16; }});

  // ---- Damaged files ----------------------------------------------------------
  c.push_back({"LastChunkCut",
               [] {
                 FileBuilder b = dataFile(5, {3000, 90000});
                 return std::vector<File>{{"a.mv", b.truncateTo(b.size() - 8 * 20000)}};
               },
               one, noChange});
  c.push_back({"CutInsideAWord",
               [] {
                 FileBuilder b = dataFile(6, {3000, 90000});
                 return std::vector<File>{{"a.mv", b.truncateTo(b.size() - 8 * 1000 - 3)}};
               },
               one, noChange});
  c.push_back({"InvalidHeaderEndsTheStream",
               [] {
                 PacketSource src(7);
                 FileBuilder b = dataFile(7, {40000});
                 b.word(chunkWord(MVHDR_GROUPID_CONFIG | (uint64_t(0x3FF) << 48), 10));
                 b.chunk(MVHDR_VX7TOATOT, src.words(40000));
                 return std::vector<File>{{"a.mv", b}};
               },
               one, noChange});
  // Rejected headers of a data type: their payloads are still read as
  // packets.
  c.push_back({"RejectedDataTypeHeaders",
               [] {
                 PacketSource src(8);
                 FileBuilder b = dataFile(8, {40000});
                 b.chunk(MVHDR_DATA, src.words(30000));
                 b.chunk(MVHDR_GROUPID_DATA | (uint64_t(0x3F0) << 48), src.words(20000));
                 b.chunk(MVHDR_VX7TOATOT, src.words(40000));
                 return std::vector<File>{{"a.mv", b}};
               },
               one, noChange});
  c.push_back(
      {"AllOnesSizeInSmallFiles",
       [] {
         PacketSource src(9);
         std::vector<File> f;
         f.push_back({"a.mv", dataFile(9, {500})});
         f.back().bytes.chunkHeader(MVHDR_VX7TOATOT, 0xFFFFFFFF).words(src.words(300));
         f.push_back({"b.mv", FileBuilder().header().chunkHeader(MVHDR_VX7PC24, 0xFFFFFFFF)});
         f.push_back(
             {"c.mv",
              FileBuilder().header().chunkHeader(MVHDR_DATA, 0xFFFFFFFF).words(src.words(1000))});
         return f;
       },
       three, noChange});
  c.push_back({"JsonCutShort",
               [] {
                 FileBuilder b = dataFile(10, {2000, 3000});
                 b.chunkHeader(MVHDR_CHIPINFO, 100).raw("{\"chip\": ");
                 return std::vector<File>{{"a.mv", b}, {"b.mv", dataFile(11, {70000})}};
               },
               std::vector<std::string>{"a.mv", "b.mv"}, noChange});
  c.push_back({"NotAMorvenFileInTheList",
               [] {
                 return std::vector<File>{{"a.mv", dataFile(12, {70000})},
                                          {"b.mv", FileBuilder().raw("NOTMORVEN0123456")},
                                          {"c.mv", dataFile(13, {70000})}};
               },
               three, noChange});
  c.push_back({"MissingFileInTheList",
               [] {
                 return std::vector<File>{{"a.mv", dataFile(14, {70000})}};
               },
               std::vector<std::string>{"a.mv", "missing.mv"}, noChange});
  return c;
}

struct ScanResult {
  RunEnd end;
  std::string text;
  std::string picture;
  std::vector<uint64_t> types, pixels, toas;
  uint64_t total;
};

ScanResult scan(const ScanCase& c, const TempDir& dir, int threads) {
  RunSettings s;
  s.pixelScan = true;
  s.eocList = true;
  s.eocListAll = false;
  s.histogram = true;
  s.histogramBins = 97;
  c.settings(s);
  s.threads = threads;
  s.imageBase = dir.file("picture");
  std::vector<std::string> names;
  for (const std::string& n : c.names) names.push_back(dir.file(n));
  std::ostringstream out;
  printBanner(s, names.size() > 1, out);
  DataInspector inspector(true);
  // Small files on the threads too.
  inspector.setParallelFrom(0);
  ScanResult r;
  r.end = scanFiles(s, names, inspector, out);
  r.text = out.str();
  r.picture = readWholeFile(dir.file("picture.png"));
  std::filesystem::remove(dir.file("picture.png"));
  r.types = inspector.tallies().types;
  r.pixels.assign(inspector.tallies().pixels.get(), inspector.tallies().pixels.get() + 0x40000);
  r.toas.assign(inspector.tallies().toas.get(), inspector.tallies().toas.get() + 0x10000);
  r.total = inspector.stream().delivered();
  return r;
}

class ParallelScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ParallelScan, SameAsOneThread) {
  const ScanCase& c = GetParam();
  TempDir dir;
  for (const File& f : c.files()) dir.write(f.name, f.bytes);
  const ScanResult single = scan(c, dir, 1);
  for (int threads : {2, 3, 8, 0}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const ScanResult multi = scan(c, dir, threads);
    EXPECT_EQ(multi.end, single.end);
    EXPECT_EQ(multi.text, single.text);
    EXPECT_TRUE(multi.picture == single.picture) << "the pictures differ";
    EXPECT_EQ(multi.total, single.total);
    EXPECT_TRUE(multi.types == single.types) << "type tallies differ";
    EXPECT_TRUE(multi.pixels == single.pixels) << "pixel tallies differ";
    EXPECT_TRUE(multi.toas == single.toas) << "ToA tallies differ";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ParallelScan, ::testing::ValuesIn(scanCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The caller's memory is scanned by the calling thread alone, whatever the
// number of threads, and the stream goes on in the file afterwards.
TEST(ParallelScanMemory, CallersMemoryThenTheFile) {
  TempDir dir;
  const std::string path = dir.write("a.mv", dataFile(15, {40000, 70000}));
  PacketSource src(16);
  const std::string memory = FileBuilder().words(src.words(30000)).raw("abc").bytes();
  auto run = [&](int threads) {
    std::ostringstream out;
    DataInspector inspector(path);
    inspector.setThreads(threads);
    inspector.stream().setDataChunk(reinterpret_cast<const unsigned char*>(memory.data()) + 1,
                                    memory.size() - 1);
    inspector.processAllPixels();
    const uint64_t afterMemory = inspector.stream().delivered();
    inspector.processAllPixels();
    std::vector<uint64_t> all = inspector.tallies().types;
    all.insert(all.end(), inspector.tallies().pixels.get(),
               inspector.tallies().pixels.get() + 0x40000);
    all.insert(all.end(), inspector.tallies().toas.get(), inspector.tallies().toas.get() + 0x10000);
    all.push_back(afterMemory);
    all.push_back(inspector.stream().delivered());
    return std::make_pair(all, out.str());
  };
  const auto single = run(1);
  EXPECT_EQ(single.first[single.first.size() - 2], 30000u);
  EXPECT_EQ(single.first.back(), 30000u + 110000u);
  const auto multi = run(4);
  EXPECT_TRUE(multi.first == single.first);
  EXPECT_EQ(multi.second, single.second);
}

// The threads this process runs.
size_t threadsHere() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& t : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// The tallies of a scan of the files by one inspector, on `threads`.
std::vector<uint64_t> scanTallies(DataInspector& inspector, const std::vector<std::string>& names,
                                  int threads) {
  inspector.setThreads(threads);
  inspector.setParallelFrom(0);
  for (size_t i = 0; i < names.size(); ++i) {
    if (!inspector.setFile(names[i], i == 0)) return {};
    inspector.processAllPixels();
  }
  std::vector<uint64_t> all = inspector.tallies().types;
  all.insert(all.end(), inspector.tallies().pixels.get(),
             inspector.tallies().pixels.get() + 0x40000);
  all.push_back(inspector.stream().delivered());
  return all;
}

// A run's files share one pool of tally threads: it outlives each file's
// scan and ends with the run's inspector. A process forked from one whose
// pool runs has no such threads: a scan there makes a pool of its own.
TEST(TallyPoolOfARun, ThreadsServeEveryFileAndForkedScansWork) {
  TempDir dir;
  std::vector<std::string> names;
  for (int f = 0; f < 3; ++f) {
    names.push_back(dir.write("f" + std::to_string(f) + ".mv", dataFile(40 + f, {70000, 50000})));
  }
  std::ostringstream out;
  DataInspector single(true);
  const std::vector<uint64_t> expected = scanTallies(single, names, 1);
  ASSERT_FALSE(expected.empty());

  const size_t before = threadsHere();
  {
    DataInspector inspector(true);
    EXPECT_TRUE(scanTallies(inspector, names, 3) == expected);
    EXPECT_EQ(threadsHere(), before + 2) << "two workers kept for the run";
    EXPECT_TRUE(scanTallies(inspector, names, 3) == expected);
    EXPECT_EQ(threadsHere(), before + 2) << "and no more for a second pass";

    // ThreadSanitizer lets no forked child of a process with threads start
    // threads of its own.
#ifndef __SANITIZE_THREAD__
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      // No gtest assertion in the child: its status says it all.
      _exit(scanTallies(inspector, names, 3) == expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
  }
  EXPECT_EQ(threadsHere(), before) << "the pool ends with the inspector";
}

#ifdef MVGEN_BINARY
// The program with its default number of threads (the cores available)
// against the library on one thread, on a generated run of several slots.
TEST(ParallelScanProgram, DefaultThreadsAsOneThread) {
  TempDir dir;
  const std::string path = dir.file("run.mv");
  ASSERT_EQ(
      runTool(MVGEN_BINARY, {"-k", "toatot", "-b", "6M", "-c", "5000", "-o", path}, "").status, 0);
  const RunResult program = runTool(MVSCAN_BINARY, {"-p", "-E", "-H", "50", "run.mv"}, dir.path());
  ASSERT_EQ(program.status, 0);
  const std::string programPicture = readWholeFile(dir.file("inspect.png"));

  RunSettings s;
  s.pixelScan = s.eocList = s.histogram = true;
  s.eocListAll = false;
  s.histogramBins = 50;
  s.threads = 1;
  s.imageBase = dir.file("single");
  std::ostringstream out;
  // The file by the name the program was given, in its directory.
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const RunEnd end = run(s, {"run.mv"}, out);
  std::filesystem::current_path(here);
  EXPECT_EQ(end, RunEnd::Completed);
  EXPECT_EQ(program.out, out.str());
  EXPECT_TRUE(programPicture == readWholeFile(dir.file("single.png")));
}
#endif

}  // namespace
