// Runs read from anywhere: standard input ("-"), a pipe, zstd and gzip
// files and streams give the report of the plain file, apart from the file
// name and the size line, which a stream prints once it has been read (at
// the end of the file's report). Damaged, cut and hostile compressed
// streams are read errors with status 2 that name the file and the offset,
// and what was read is reported.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"
#include "mvgen_files.h"
#include "scan/DataInspector.h"

using namespace testing_files;
using mvgen_files::runMvgen;

namespace {

// The plain file's report as a stream of the given name prints it: the
// name replaced, and each file's size line moved to the end of that file's
// part (before the blank line that separates the files of a run).
std::string asStream(const std::string& plain, const std::string& file, const std::string& name) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < plain.size()) {
    const size_t end = plain.find('\n', start);
    lines.push_back(plain.substr(start, end - start + 1));
    start = end + 1;
  }
  std::string out, sizeLine;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (line == "File opened: " + file + "\n") line = "File opened: " + name + "\n";
    if (line.rfind("File size  : ", 0) == 0) {
      sizeLine = line;
      continue;
    }
    out += line;
  }
  EXPECT_FALSE(sizeLine.empty()) << "no size line in the plain report";
  return out + sizeLine;
}

struct ModeCase {
  const char* name;
  std::vector<std::string> mvgen;  // the file's kind and layout
  std::vector<std::string> options;
};

const std::vector<ModeCase> MODES = {
    {"FileCheck", {"-k", "toatot"}, {}},
    {"ChunkListJsonRegisters", {"-k", "toatot"}, {"-f", "-j", "-c", "-H", "8"}},
    {"Statistics", {"-k", "toatot"}, {"-p", "-e", "-H", "16", "--no-image"}},
    {"StatisticsOneThread", {"-k", "frame16"}, {"-p", "--threads", "1", "--no-image"}},
    // More bytes than the decompressor's first block: its thread makes
    // the rest.
    {"StatisticsSeveralBlocks", {"-k", "toatot", "-n", "400000"}, {"-p", "-e", "--no-image"}},
    {"DisplayFields", {"-k", "toatot"}, {"-P", "-C"}},
    {"DisplayRawSkip", {"-k", "pc24"}, {"-R", "-s", "1000", "-L", "7"}},
    {"TestGenCheck", {"-k", "testgen", "-L", "2"}, {"-Q", "-L", "2"}},
    {"CounterCheck", {"-k", "counter", "-L", "3"}, {"-q", "-L", "3"}},
};

// How the same bytes reach mvscan: the name it is given and the shell
// command around it (FILE is the file's path).
struct InputCase {
  const char* name;
  const char* suffix;  // mvgen writes FILE with it: plain, .zst, .gz
  const char* shell;   // the run: $M is mvscan, $O the options, $F the file
  const char* shownName;
};

const std::vector<InputCase> INPUTS = {
    {"Pipe", "", "cat \"$F\" | \"$M\" $O -", "-"},
    {"ZstdFile", ".zst", "\"$M\" $O \"$F\"", nullptr},
    {"GzipFile", ".gz", "\"$M\" $O \"$F\"", nullptr},
    {"ZstdPipe", ".zst", "cat \"$F\" | \"$M\" $O -", "-"},
    {"GzipPipe", ".gz", "cat \"$F\" | \"$M\" $O -", "-"},
};

RunResult shell(const std::string& command, const std::string& file,
                const std::vector<std::string>& options, const std::string& dir) {
  std::string o;
  for (const std::string& a : options) o += (o.empty() ? "" : " ") + a;
  const std::string script =
      "M='" + std::string(MVSCAN_BINARY) + "'; F='" + file + "'; O='" + o + "'; " + command;
  return runTool("/bin/sh", {"-c", script}, dir);
}

class InputSources : public ::testing::TestWithParam<std::tuple<ModeCase, InputCase>> {};

TEST_P(InputSources, SameReportAsThePlainFile) {
  const auto& [mode, input] = GetParam();
  TempDir dir;
  const std::string plain = dir.file("run.mv");
  const std::string other = plain + input.suffix;
  std::vector<std::string> written = {plain};
  if (other != plain) written.push_back(other);
  for (const std::string& path : written) {
    // The mode's own arguments after the common ones: the last one counts.
    std::vector<std::string> args = {"-n", "70000", "-c", "5000"};
    args.insert(args.end(), mode.mvgen.begin(), mode.mvgen.end());
    args.push_back("-o");
    args.push_back(path);
    const RunResult made = runMvgen(args);
    ASSERT_EQ(made.status, 0) << made.err;
  }
  std::vector<std::string> args = mode.options;
  args.push_back(plain);
  const RunResult expected = runMvscan(args, dir.path());
  ASSERT_EQ(expected.status, 0) << expected.out;
  const std::string shown = input.shownName != nullptr ? input.shownName : other;
  const RunResult got = shell(input.shell, other, mode.options, dir.path());
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, asStream(expected.out, plain, shown));
  EXPECT_EQ(got.err, "");
}

INSTANTIATE_TEST_SUITE_P(EveryModeAndInput, InputSources,
                         ::testing::Combine(::testing::ValuesIn(MODES),
                                            ::testing::ValuesIn(INPUTS)),
                         [](const ::testing::TestParamInfo<std::tuple<ModeCase, InputCase>>& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

// The JSON report of a stream: the same document, with the size (and for a
// compressed file the compressed size) of each file given at its end.
TEST(InputSourcesJson, StatisticsDocumentOfACompressedFile) {
  TempDir dir;
  const std::string plain = dir.file("run.mv"), zst = dir.file("run.mv.zst");
  ASSERT_EQ(runMvgen({"-n", "50000", "-o", plain}).status, 0);
  ASSERT_EQ(runMvgen({"-n", "50000", "-o", zst}).status, 0);
  const RunResult a = runMvscan({"--json", "-p", "--no-image", plain}, dir.path());
  const RunResult b = runMvscan({"--json", "-p", "--no-image", zst}, dir.path());
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0);
  nlohmann::json x = nlohmann::json::parse(a.out), y = nlohmann::json::parse(b.out);
  const uint64_t compressed = uint64_t(std::filesystem::file_size(zst));
  EXPECT_EQ(y["files"][0]["compressed_size"], compressed);
  EXPECT_EQ(y["files"][0]["size"], std::filesystem::file_size(plain));
  y["files"][0].erase("compressed_size");
  y["files"][0]["name"] = plain;
  EXPECT_EQ(x, y);
  // The quick-look page gives the size of the data too.
  ASSERT_EQ(runMvscan({"-p", "--no-image", "--html", "page.html", zst}, dir.path()).status, 0);
  const std::string row = "<td>" + zst + "</td><td class=\"n\">" +
                          std::to_string(std::filesystem::file_size(plain)) + "</td>";
  EXPECT_NE(readWholeFile(dir.file("page.html")).find(row), std::string::npos);
}

std::string bytesOf(const std::string& path) {
  return readWholeFile(path);
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A zstd frame by hand: its header with the given window exponent (window
// 2^(10 + exponent) bytes), then one raw block that holds the bytes.
std::string zstdRawFrame(int windowExponent, const std::string& bytes) {
  std::string f = "\x28\xB5\x2F\xFD";
  f += char(0x00);                 // frame header: window descriptor, no size, no checksum
  f += char(windowExponent << 3);  // window descriptor
  const uint32_t block = uint32_t(bytes.size()) << 3 | 1;  // raw, last block
  f += char(block & 0xFF);
  f += char((block >> 8) & 0xFF);
  f += char((block >> 16) & 0xFF);
  return f + bytes;
}

TEST(CompressedInput, WindowLimitIs128MiB) {
  TempDir dir;
  FileBuilder b;
  b.header().chunk(morven::MVHDR_VX7TOATOT, {0x1E, 0x1E, 0x1E});
  const std::string bytes = b.bytes();
  writeBytes(dir.file("w27.zst"), zstdRawFrame(17, bytes));
  writeBytes(dir.file("w28.zst"), zstdRawFrame(18, bytes));
  writeBytes(dir.file("plain.mv"), bytes);
  const RunResult plain = runMvscan({"plain.mv"}, dir.path());
  const RunResult accepted = runMvscan({"w27.zst"}, dir.path());
  EXPECT_EQ(accepted.status, 0);
  EXPECT_EQ(accepted.out, asStream(plain.out, "plain.mv", "w27.zst"));
  const RunResult refused = runMvscan({"w28.zst"}, dir.path());
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out,
            "=> MORVEN data file check\n"
            "### Read error in w28.zst: zstd: a frame asks for a window of more than 128 MiB at "
            "byte 0 of the uncompressed data\n"
            "### Failed to read file header\n");
}

// A stream that ends inside a chunk reads as the plain file cut at the same
// byte; a compressed stream that is cut or damaged is a read error of its
// file, after the bytes before the damage have been reported, and the run
// goes on with the next file.
TEST(CompressedInput, CutAndDamagedStreamsInAMultiFileRun) {
  TempDir dir;
  const std::string a = dir.file("a.mv"), az = dir.file("a.mv.zst"), c = dir.file("c.mv");
  ASSERT_EQ(runMvgen({"-n", "20000", "-o", a}).status, 0);
  ASSERT_EQ(runMvgen({"-n", "20000", "-o", az}).status, 0);
  ASSERT_EQ(runMvgen({"-k", "pc24", "-n", "3000", "-o", c}).status, 0);
  const std::string aBytes = bytesOf(a);
  // Two frames: a whole file, then the start of another frame's header
  // (its magic number and descriptor byte), which the stream ends inside.
  writeBytes(dir.file("cut.zst"), bytesOf(az) + bytesOf(az).substr(0, 5));
  const std::vector<std::string> options = {"-p", "--no-image"};
  const RunResult cut = runMvscan({"-p", "--no-image", "a.mv", "cut.zst", "c.mv"}, dir.path());
  const RunResult whole = runMvscan({"-p", "--no-image", "a.mv", "a.mv", "c.mv"}, dir.path());
  EXPECT_EQ(cut.status, 2);
  const std::string mark =
      "### Read error in cut.zst: the compressed stream is cut short at byte " +
      std::to_string(aBytes.size()) + " of the uncompressed data\n";
  // The second file's part: what a plain run over the first frame prints,
  // with the read error before its statistics.
  std::string expected = whole.out;
  const size_t second = expected.find("File opened: a.mv", expected.find("File opened: a.mv") + 1);
  ASSERT_NE(second, std::string::npos);
  expected.replace(second, std::string("File opened: a.mv").size(), "File opened: cut.zst");
  const size_t sizeAt = expected.find("File size  : ", second);
  const size_t sizeEnd = expected.find('\n', sizeAt) + 1;
  const std::string sizeLine = expected.substr(sizeAt, sizeEnd - sizeAt);
  expected.erase(sizeAt, sizeEnd - sizeAt);
  const size_t totalAt = expected.find("Total pixelpackets", second);
  expected.insert(totalAt, mark);
  const size_t blank = expected.find("\n\n", expected.find("=> Chunk counters:", totalAt)) + 1;
  expected.insert(blank, sizeLine);
  EXPECT_EQ(cut.out, expected);

  // Damage inside the data: the first bytes are reported, then the error.
  // (zstd checks a block of up to 128 KiB as a whole: the file is large
  // enough for its middle to lie blocks away from its start.)
  ASSERT_EQ(runMvgen({"-n", "300000", "-o", az}).status, 0);
  std::string damaged = bytesOf(az);
  damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x5A);
  writeBytes(dir.file("bad.zst"), damaged);
  const RunResult bad = runMvscan({"--json", "-p", "--no-image", "bad.zst", "c.mv"}, dir.path());
  EXPECT_EQ(bad.status, 2);
  const nlohmann::json doc = nlohmann::json::parse(bad.out);
  EXPECT_EQ(doc["run_end"], "read_failed");
  ASSERT_EQ(doc["files"].size(), 2u);
  const nlohmann::json& f = doc["files"][0];
  // The error, then the chunk that the stream ended inside.
  ASSERT_EQ(f["errors"].size(), 2u) << f.dump();
  EXPECT_EQ(f["errors"][1]["message"].get<std::string>().rfind("Truncated last chunk #", 0), 0u);
  const std::string message = f["errors"][0]["message"];
  EXPECT_EQ(message.rfind("Read error in bad.zst: zstd: ", 0), 0u) << message;
  EXPECT_NE(message.find(" of the uncompressed data"), std::string::npos) << message;
  EXPECT_GT(f["size"].get<uint64_t>(), 0u);
  EXPECT_LT(f["size"].get<uint64_t>(), 300000u * 8);
  EXPECT_EQ(doc["files"][1]["name"], "c.mv");
}

TEST(StreamInput, ACutStreamReadsAsTheCutFile) {
  TempDir dir;
  const std::string a = dir.file("a.mv");
  ASSERT_EQ(runMvgen({"-n", "20000", "-c", "4096", "-o", a}).status, 0);
  // Cut inside the third data chunk.
  writeBytes(dir.file("cut.mv"), bytesOf(a).substr(0, bytesOf(a).size() - 50000));
  for (const std::vector<std::string>& options :
       std::vector<std::vector<std::string>>{{}, {"-f"}, {"-p", "--no-image"}, {"-R"}}) {
    std::vector<std::string> args = options;
    args.push_back("cut.mv");
    const RunResult plain = runMvscan(args, dir.path());
    SCOPED_TRACE(plain.out.substr(0, 400));
    const RunResult piped =
        shell("cat \"$F\" | \"$M\" $O -", dir.file("cut.mv"), options, dir.path());
    EXPECT_EQ(piped.status, plain.status);
    EXPECT_EQ(piped.out, asStream(plain.out, "cut.mv", "-"));
  }
  // --strict counts the cut chunk of a stream as of a file.
  const RunResult strict =
      shell("cat \"$F\" | \"$M\" --strict -p --no-image -", dir.file("cut.mv"), {}, dir.path());
  EXPECT_EQ(strict.status, 3);
}

TEST(StreamInput, EmptyStandardInputIsNoDataFile) {
  TempDir dir;
  writeBytes(dir.file("empty.mv"), "");
  const RunResult file = runMvscan({"-p", "empty.mv"}, dir.path());
  const std::string none;
  const RunResult in = runMvscan({"-p", "-"}, dir.path(), &none);
  EXPECT_EQ(in.status, 2);
  EXPECT_EQ(in.status, file.status);
  EXPECT_EQ(in.out, file.out);
}

// One run over files of every kind, large and small, plain and compressed
// (one reader serves them all in turn): the report of the same run over
// the plain files, with each size line where a stream's stands.
TEST(CompressedInput, RunOverFilesOfEveryKind) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("plain"));
  std::filesystem::create_directory(dir.file("packed"));
  struct Kind {
    const char* name;
    const char* packets;
    const char* suffix;
  };
  const std::vector<Kind> kinds = {{"a.mv", "300000", ".zst"}, {"b.mv", "100", ".gz"},
                                   {"c.mv", "100", ".zst"},    {"d.mv", "300000", ".gz"},
                                   {"e.mv", "100", ".zst"},    {"f.mv", "100", ""}};
  std::vector<std::string> names;
  for (const Kind& k : kinds) {
    const std::string plain = dir.file(std::string("plain/") + k.name);
    const std::string packed = dir.file(std::string("packed/") + k.name);
    ASSERT_EQ(runMvgen({"-n", k.packets, "-c", "7000", "-o", plain}).status, 0);
    ASSERT_EQ(runMvgen({"-n", k.packets, "-c", "7000", "-o", packed + k.suffix}).status, 0);
    // The name does not tell the compression; the first bytes do.
    std::filesystem::rename(packed + k.suffix, packed);
    names.push_back(k.name);
  }
  // The last file once more, after the compressed ones.
  names.push_back("a.mv");
  for (const std::vector<std::string>& options :
       std::vector<std::vector<std::string>>{{"-f"}, {"-p", "-e", "--no-image"}}) {
    std::vector<std::string> args = options;
    args.insert(args.end(), names.begin(), names.end());
    const RunResult plain = runMvscan(args, dir.file("plain"));
    const RunResult packed = runMvscan(args, dir.file("packed"));
    ASSERT_EQ(plain.status, 0) << plain.out;
    EXPECT_EQ(packed.status, 0) << packed.err;
    std::string expected;
    // Only the compressed files read as streams.
    size_t start = 0;
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string opened = "File opened: " + names[i] + "\n";
      const size_t at = plain.out.find(opened, start);
      ASSERT_NE(at, std::string::npos);
      const size_t next =
          i + 1 < names.size() ? plain.out.find("File opened: ", at + 1) : plain.out.size();
      const std::string part = plain.out.substr(at, next - at);
      expected += plain.out.substr(start, at - start);
      // asStream puts a size line before the blank line after the file.
      expected += names[i] == "f.mv"
                      ? part
                      : asStream(part.substr(0, part.size() - 1), names[i], names[i]) + "\n";
      start = next;
    }
    EXPECT_EQ(packed.out, expected);
  }
}

// A file read to its end in its first read asks for no read-ahead, and a
// stream that ends in the decompressor's first block is decompressed by
// the reader: a run over small files starts no thread. A large file has
// one hint thread, kept for the files after it.
TEST(InputThreads, SmallFilesStartNone) {
  TempDir dir;
  for (const char* name : {"s.mv", "s.mv.zst", "s.mv.gz"})
    ASSERT_EQ(runMvgen({"-n", "100", "-o", dir.file(name)}).status, 0);
  ASSERT_EQ(runMvgen({"-n", "200000", "-o", dir.file("big.mv")}).status, 0);
  const auto threadsHere = [] {
    size_t n = 0;
    for ([[maybe_unused]] const auto& t : std::filesystem::directory_iterator("/proc/self/task"))
      ++n;
    return n;
  };
  // The statistics scan on the reading thread: its payload reads follow
  // each other, and so ask for the bytes ahead.
  const auto walk = [](morven::DataInspector& in, const std::string& path) {
    ASSERT_TRUE(in.setFile(path, true));
    in.processAllPixels();
    EXPECT_TRUE(in.walker().feof());
    EXPECT_FALSE(in.walker().hasError());
  };
  morven::DataInspector inspector(true);
  inspector.setThreads(1);
  const size_t before = threadsHere();
  for (int round = 0; round < 2; ++round) {
    for (const char* name : {"s.mv", "s.mv.zst", "s.mv.gz"}) {
      walk(inspector, dir.file(name));
      EXPECT_EQ(threadsHere(), before) << name;
    }
  }
  walk(inspector, dir.file("big.mv"));
  const size_t withHints = threadsHere();
  // ThreadSanitizer's runtime starts a thread of its own with the first
  // thread a program starts.
#ifndef __SANITIZE_THREAD__
  EXPECT_EQ(withHints, before + 1) << "the hint thread of a large file";
#endif
  EXPECT_GT(withHints, before) << "the hint thread of a large file";
  for (const char* name : {"s.mv.zst", "big.mv", "s.mv"}) {
    walk(inspector, dir.file(name));
    EXPECT_EQ(threadsHere(), withHints) << name;
  }
}

// mvgen writes compressed files by their name; their bytes are those of
// the plain file.
TEST(CompressedInput, MvgenWritesZstdAndGzip) {
  TempDir dir;
  ASSERT_EQ(runMvgen({"-n", "5000", "-o", dir.file("r.mv")}).status, 0);
  ASSERT_EQ(runMvgen({"-n", "5000", "-o", dir.file("r.mv.zst")}).status, 0);
  ASSERT_EQ(runMvgen({"-n", "5000", "-o", dir.file("r.mv.gz")}).status, 0);
  EXPECT_EQ(bytesOf(dir.file("r.mv.zst")).substr(0, 4), "\x28\xB5\x2F\xFD");
  EXPECT_EQ(bytesOf(dir.file("r.mv.gz")).substr(0, 2), "\x1F\x8B");
  const std::string plain = bytesOf(dir.file("r.mv"));
  const RunResult z = runTool("/bin/sh", {"-c", "zstd -dc r.mv.zst"}, dir.path());
  const RunResult g = runTool("/bin/sh", {"-c", "gzip -dc r.mv.gz"}, dir.path());
  EXPECT_EQ(z.status, 0);
  EXPECT_EQ(g.status, 0);
  EXPECT_TRUE(z.out == plain) << "zstd bytes differ";
  EXPECT_TRUE(g.out == plain) << "gzip bytes differ";
}

}  // namespace
