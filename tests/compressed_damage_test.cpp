// Damaged compressed input is a read error wherever its damage shows. gzip
// checks its CRC at a member's end and zstd its checksum at a frame's end,
// so garbage that decompresses may end the chunk walk before the damage is
// found: the stream is then read on to its end, and a failed check is a
// read error (status 2, JSON "read_failed"), in every mode and on standard
// input. A compressed stream that is sound reports as before, also when
// its walk stops early. A zstd frame that holds more bytes than its header
// declares fails where it passes that size, not at its end. A compressed
// file cannot be followed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"

using namespace testing_files;

namespace {

// Chunks of pseudo-random words, which neither compressor can shrink: it
// stores them as they are, so that bytes overwritten in the compressed
// stream change the same bytes of the data and only the checksum at the
// end tells. Each chunk has a size of its own, so each header word is found
// once in the compressed bytes. The chunks are of half a MiB: zstd checks a
// frame that fits in the reader's buffers as a whole, before it hands on
// any byte, and only a larger one is handed on before its checksum.
constexpr size_t CHUNK_WORDS = 65536;

std::string randomFile(size_t chunks) {
  FileBuilder b;
  b.header();
  uint64_t x = 0x9E3779B97F4A7C15ULL;
  for (size_t c = 0; c < chunks; ++c) {
    std::vector<uint64_t> words(CHUNK_WORDS + c);
    for (uint64_t& w : words) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      w = x;
    }
    b.chunk(morven::MVHDR_VX7TOATOT, words);
  }
  return b.bytes();
}

// Offset of the header word of chunk n (from 0) of randomFile.
size_t chunkOffset(size_t n) {
  size_t at = 8;
  for (size_t c = 0; c < n; ++c) at += 8 + 8 * (CHUNK_WORDS + c);
  return at;
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

RunResult shell(const std::string& script, const std::string& dir) {
  return runTool("/bin/sh", {"-c", script}, dir);
}

// 16 bytes of 0x55 over the data's bytes at offset, in the data and in its
// compressed form (which holds them as they are).
void overwrite(std::string& data, std::string& packed, size_t offset) {
  const size_t at = packed.find(data.substr(offset, 24));
  ASSERT_NE(at, std::string::npos) << "the bytes are not stored as they are";
  data.replace(offset, 16, std::string(16, '\x55'));
  packed.replace(at, 16, std::string(16, '\x55'));
}

// The plain file's report as its compressed stream prints it: under the
// stream's name, its size (the bytes read) at the end of the report, and
// the given lines inserted after the line that starts with after (its
// last one).
std::string asStream(std::string plain, const std::string& plainName, const std::string& name,
                     const std::string& sizeLine, const std::string& after,
                     const std::string& inserted) {
  const std::string opened = "File opened: " + plainName + "\n";
  plain.replace(plain.find(opened), opened.size(), "File opened: " + name + "\n");
  const size_t sizeAt = plain.find("File size  : ");
  plain.erase(sizeAt, plain.find('\n', sizeAt) + 1 - sizeAt);
  if (!after.empty()) {
    const size_t line = plain.rfind("\n" + after) + 1;
    plain.insert(plain.find('\n', line) + 1, inserted);
  }
  return plain + sizeLine;
}

struct DamageCase {
  const char* name;
  const char* compress;  // the shell command that compresses in.mv
  const char* suffix;
  bool damaged;         // bytes overwritten in the compressed stream
  const char* failure;  // what the read error says, for damaged ones
  // Where the failure shows: gzip hands on every byte before its CRC; zstd
  // holds back the frame's last block (of at most 128 KiB) with its
  // checksum.
  size_t heldBack;
};

const std::vector<DamageCase> CASES = {
    {"GzipDamaged", "gzip -c in.mv", ".gz", true, "gzip: incorrect data check", 1},
    {"ZstdDamaged", "zstd -q -c in.mv", ".zst", true, "zstd: Restored data doesn't match checksum",
     128 * 1024},
    // Sound compression around a data file whose walk stops early: the
    // report is that of the data, as ever.
    {"GzipSound", "gzip -c in.mv", ".gz", false, nullptr, 1},
    {"ZstdSound", "zstd -q -c in.mv", ".zst", false, nullptr, 1},
};

class CompressedDamage : public ::testing::TestWithParam<DamageCase> {
 protected:
  void SetUp() override {
    const DamageCase& c = GetParam();
    data = randomFile(6);
    writeBytes(dir.file("in.mv"), data);
    const RunResult packedRun = shell(std::string(c.compress), dir.path());
    ASSERT_EQ(packedRun.status, 0) << packedRun.err;
    std::string packed = packedRun.out;
    // The header word of chunk 3 and the first payload word after it.
    overwrite(data, packed, chunkOffset(3));
    name = std::string("bad") + c.suffix;
    // The sound case: the data itself holds the damage, then is compressed.
    if (!c.damaged) {
      writeBytes(dir.file("in.mv"), data);
      packed = shell(std::string(c.compress), dir.path()).out;
    }
    writeBytes(dir.file(name), packed);
    writeBytes(dir.file("bad.mv"), data);
    stop = chunkOffset(3) + 8;
  }

  size_t failedAt() const { return data.size() - data.size() % GetParam().heldBack; }

  // The read error line, for the damaged cases.
  std::string readError() const {
    const DamageCase& c = GetParam();
    if (!c.damaged) return "";
    return "### Read error in " + name + ": " + c.failure + " at byte " +
           std::to_string(failedAt()) +
           " of the uncompressed data; the figures before it may hold damaged data\n";
  }

  TempDir dir;
  std::string data, name;
  size_t stop = 0;
};

TEST_P(CompressedDamage, FileCheck) {
  const bool damaged = GetParam().damaged;
  const RunResult plain = runMvscan({"bad.mv"}, dir.path());
  const RunResult got = runMvscan({name}, dir.path());
  EXPECT_EQ(got.status, damaged ? 2 : 0);
  std::string expected =
      asStream(plain.out, "bad.mv", name, "File size  : " + std::to_string(stop) + " bytes\n",
               "### Invalid header", readError());
  if (damaged) expected.insert(expected.find("### Not at end-of-file?"), "### File error\n");
  EXPECT_EQ(got.out, expected);
  EXPECT_EQ(got.err, "");
}

TEST_P(CompressedDamage, StatisticsFromAFileAndFromStandardInput) {
  const bool damaged = GetParam().damaged;
  const RunResult plain = runMvscan({"-p", "--no-image", "bad.mv"}, dir.path());
  const std::string sizeLine =
      "File size  : " + std::to_string(stop) + " bytes (" + std::to_string(stop / 8) + "*8)\n";
  const RunResult file = runMvscan({"-p", "--no-image", name}, dir.path());
  EXPECT_EQ(file.status, damaged ? 2 : 0);
  EXPECT_EQ(file.out,
            asStream(plain.out, "bad.mv", name, sizeLine, "### Invalid header", readError()));
  // Standard input: the same report under the name "-".
  const RunResult in =
      shell("cat " + name + " | '" + MVSCAN_BINARY + "' -p --no-image -", dir.path());
  EXPECT_EQ(in.status, damaged ? 2 : 0);
  std::string error = readError();
  if (damaged) error.replace(error.find(name), name.size(), "-");
  EXPECT_EQ(in.out, asStream(plain.out, "bad.mv", "-", sizeLine, "### Invalid header", error));
}

TEST_P(CompressedDamage, JsonReport) {
  const DamageCase& c = GetParam();
  const RunResult got = runMvscan({"--json", "-p", "--no-image", name}, dir.path());
  EXPECT_EQ(got.status, c.damaged ? 2 : 0);
  const nlohmann::json doc = nlohmann::json::parse(got.out);
  EXPECT_EQ(doc["run_end"], c.damaged ? "read_failed" : "completed");
  const nlohmann::json& errors = doc["files"][0]["errors"];
  std::vector<std::string> readErrors;
  for (const nlohmann::json& e : errors) {
    const std::string m = e["message"];
    if (m.rfind("Read error", 0) != 0) continue;
    readErrors.push_back(m);
    EXPECT_EQ(e["offset"], failedAt());
  }
  if (!c.damaged) {
    EXPECT_TRUE(readErrors.empty());
    return;
  }
  ASSERT_EQ(readErrors.size(), 1u) << errors.dump();
  const std::string line = readError();
  EXPECT_EQ("### " + readErrors[0] + "\n", line);
}

INSTANTIATE_TEST_SUITE_P(GzipAndZstd, CompressedDamage, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return std::string(info.param.name);
                         });

// The content size field of the zstd CLI's frame header (4 bytes, after
// the descriptor and the window byte, for a frame of more than one
// segment) set to size.
std::string withContentSize(std::string frame, uint32_t size) {
  EXPECT_EQ(uint8_t(frame[4]) & 0xE3, 0x80) << "a frame of four size bytes, no dictionary";
  for (int i = 0; i < 4; ++i) frame[6 + i] = char((size >> (8 * i)) & 0xFF);
  return frame;
}

TEST(CompressedContentSize, AFrameLongerThanItsHeaderSaysFailsWhereItPassesIt) {
  TempDir dir;
  const std::string data = randomFile(6);
  writeBytes(dir.file("in.mv"), data);
  // A window of 1 KiB: the frame is decoded in many segments, and its
  // checksum and size are compared only at its end.
  const RunResult packed = shell("zstd -q -c --zstd=wlog=10 in.mv", dir.path());
  ASSERT_EQ(packed.status, 0) << packed.err;
  const uint32_t declared = uint32_t(chunkOffset(2));
  writeBytes(dir.file("long.zst"), withContentSize(packed.out, declared));
  const RunResult got = runMvscan({"-f", "long.zst"}, dir.path());
  EXPECT_EQ(got.status, 2);
  // The first two chunks are read whole; the third header is not there.
  EXPECT_EQ(got.out,
            "=> MORVEN data file check\n"
            "File opened: long.zst\n"
            "File header: MORVEN\n"
            "--> List of chunks:\n"
            "Chunk Header               Size [bytes]\n"
            "------------               ------------\n"
            "MVHDR_VX7TOATOT            524288\n"
            "MVHDR_VX7TOATOT            524296\n"
            "### Read error in long.zst: zstd: a frame holds more than the " +
                std::to_string(declared) + " bytes its header declares at byte " +
                std::to_string(declared) +
                " of the uncompressed data; the figures before it may hold damaged data\n"
                "### File error\n"
                "=> End-of-file reached (index=" +
                std::to_string(declared) +
                ")\n"
                "Chunks = 2, Total data bytes = 1048584 (131073 pixels)\n"
                "=> Chunk counters:\n"
                "MVHDR_VX7TOATOT          2\n"
                "### There were errors in this file\n"
                "File size  : " +
                std::to_string(declared) + " bytes\n");
}

TEST(CompressedFollow, ACompressedFileCannotBeFollowed) {
  TempDir dir;
  writeBytes(dir.file("in.mv"), randomFile(1));
  for (const std::string tool : {"gzip", "zstd"}) {
    SCOPED_TRACE(tool);
    ASSERT_EQ(shell(tool + " -q -c in.mv > run.mv.x", dir.path()).status, 0);
    const RunResult got = runMvscan({"--follow", "--idle", "1", "run.mv.x"}, dir.path());
    EXPECT_EQ(got.status, 2);
    EXPECT_EQ(got.out, "=> MORVEN data file check\n### Read error in run.mv.x: a " + tool +
                           "-compressed file cannot be followed while it is written; read it "
                           "once it is complete\n");
  }
}

}  // namespace
