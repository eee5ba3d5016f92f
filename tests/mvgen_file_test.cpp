// mvgen's files read back by mvscan's file check: the chunks of every kind,
// their JSON text and register records; and the file size and seed.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"
#include "mvgen_files.h"

using namespace testing_files;
using namespace mvgen_files;

namespace {

// The lines of the chunk counts: in the order of the chunk types' values.
std::string chunkCounterLines(const KindCase& k, uint64_t dataChunks) {
  std::string s = "=> Chunk counters:\n";
  if (dataChunks > 0) s += padded(k.dataName, 25) + std::to_string(dataChunks) + "\n";
  for (const char* name : {"MVHDR_VX7CFG", "MVHDR_CHIPINFO", "MVHDR_BOARDINFO", "MVHDR_RUNINFO"}) {
    for (const std::string& m : k.metadata) {
      if (m == name) s += padded(name, 25) + "1\n";
    }
  }
  return s;
}

#ifdef MVGEN_BINARY

// ---- File check of every kind ----------------------------------------------

TEST(MvgenFileCheck, EveryKindListsItsChunksWithoutError) {
  TempDir dir;
  for (const KindCase& k : KINDS) {
    SCOPED_TRACE(k.kind);
    const std::string f = dir.file(std::string(k.kind) + ".mv");
    RunResult g = runMvgen({"-k", k.kind, "-n", "25000", "-c", "10000", "-s", "7", "-o", f});
    ASSERT_EQ(g.status, 0) << g.err;
    EXPECT_EQ(g.err, "");

    const std::vector<RawChunk> chunks = rawChunks(f);
    ASSERT_EQ(chunks.size(), k.metadata.size() + 3);
    const uint64_t size = std::filesystem::file_size(f);
    std::string expected = "=> MORVEN data file check\n" + fileLines(f) +
                           "File size  : " + std::to_string(size) +
                           " bytes\n--> List of chunks:\nChunk Header               Size "
                           "[bytes]\n------------               ------------\n";
    for (size_t i = 0; i < chunks.size(); ++i) {
      const std::string name = i < k.metadata.size() ? k.metadata[i] : k.dataName;
      expected += padded(name, 25) + "  " + std::to_string(chunks[i].payload.size()) + "\n";
    }
    expected += "=> End-of-file reached (index=" + std::to_string(size) +
                ")\nChunks = " + std::to_string(chunks.size()) +
                ", Total data bytes = 200000 (25000 pixels)\n" + chunkCounterLines(k, 3);
    EXPECT_EQ(runMvscan({"-f", f}, dir.path()).out, expected);
    EXPECT_EQ(g.out, f + ": " + k.kind + ", 25000 packets in 3 data chunks, " +
                         std::to_string(size) + " bytes\n");

    // Data chunks of the requested size, the last holding the rest.
    const size_t d = k.metadata.size();
    EXPECT_EQ(chunks[d].payload.size(), 80000u);
    EXPECT_EQ(chunks[d + 1].payload.size(), 80000u);
    EXPECT_EQ(chunks[d + 2].payload.size(), 40000u);
  }
}

TEST(MvgenFileCheck, JsonChunksReadBackAsWritten) {
  TempDir dir;
  for (const KindCase& k : KINDS) {
    SCOPED_TRACE(k.kind);
    const std::string f = dir.file("j.mv");
    ASSERT_EQ(runMvgen({"-k", k.kind, "-n", "100", "-s", "99", "-o", f}).status, 0);
    std::string expected = "=> MORVEN data file check\n" + fileLines(f) +
                           "File size  : " + std::to_string(std::filesystem::file_size(f)) +
                           " bytes\n";
    uint64_t chunkCount = 0;
    for (const RawChunk& c : rawChunks(f)) {
      ++chunkCount;
      if ((c.type & morven::MVHDR_ENCODING_MASK) != morven::MVHDR_ENCODING_JSON) continue;
      const std::string text = c.payload.substr(0, c.payload.find('\0'));
      const nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
      ASSERT_FALSE(value.is_discarded()) << text;
      const std::string name = c.type == morven::MVHDR_CHIPINFO    ? "MVHDR_CHIPINFO"
                               : c.type == morven::MVHDR_BOARDINFO ? "MVHDR_BOARDINFO"
                                                                   : "MVHDR_RUNINFO";
      expected += "=> " + name + ":\n" + value.dump(2) + "\n";
      if (c.type == morven::MVHDR_RUNINFO) {
        EXPECT_EQ(value["seed"], 99);
        EXPECT_EQ(value["generator"], "mvgen");
      }
      if (c.type == morven::MVHDR_CHIPINFO) {
        EXPECT_EQ(value["chip"], "Vexar7");
      }
    }
    expected += "=> End-of-file reached (index=" + std::to_string(std::filesystem::file_size(f)) +
                ")\nChunks = " + std::to_string(chunkCount) +
                ", Total data bytes = 800 (100 pixels)\n" + chunkCounterLines(k, 1);
    EXPECT_EQ(runMvscan({"-j", f}, dir.path()).out, expected);
  }
}

TEST(MvgenFileCheck, RegisterConfigurationListsEveryRecord) {
  TempDir dir;
  const std::string f = dir.file("c.mv");
  ASSERT_EQ(runMvgen({"-n", "100", "-o", f}).status, 0);
  std::string config;
  for (const RawChunk& c : rawChunks(f)) {
    if (c.type == morven::MVHDR_VX7CFG) config = c.payload;
  }
  // Walk the records: address, value-byte count, values filled to 8 bytes.
  std::vector<uint32_t> addresses;
  for (size_t offset = 0; offset + 8 <= config.size();) {
    uint32_t address = 0;
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) address = address << 8 | uint8_t(config[offset + size_t(i)]);
    for (int i = 3; i >= 0; --i) n = n << 8 | uint8_t(config[offset + 4 + size_t(i)]);
    addresses.push_back(address);
    offset += 8 + (n + 7) / 8 * 8;
    ASSERT_LE(offset, config.size());
  }
  ASSERT_GE(addresses.size(), 10u);

  const std::string out = runMvscan({"-c", f}, dir.path()).out;
  EXPECT_EQ(out.find("###"), std::string::npos) << out;
  std::ostringstream heading;
  heading << "=> MVHDR_VX7CFG (size=" << config.size() << "):\n";
  EXPECT_NE(out.find(heading.str()), std::string::npos) << out;
  for (uint32_t a : addresses) {
    std::ostringstream line;
    line << "\n" << std::uppercase << std::hex << std::setfill('0') << std::setw(4) << a << ":";
    EXPECT_NE(out.find(line.str()), std::string::npos) << line.str();
  }
}

// ---- Size and seed -----------------------------------------------------------

TEST(MvgenSize, BytesGiveExactlyThatFileSize) {
  TempDir dir;
  const std::string f = dir.file("s.mv");
  // With 4 packets per chunk the data grow by 1 or 2 words per packet; every
  // size in this range, skipped steps included, must come out exact.
  for (const char* kind : {"toatot", "counter"}) {
    ASSERT_EQ(runMvgen({"-k", kind, "-n", "0", "-o", f}).status, 0);
    const uint64_t least = std::filesystem::file_size(f);
    for (uint64_t bytes = least; bytes <= least + 8 * 24; bytes += 8) {
      SCOPED_TRACE(std::string(kind) + " " + std::to_string(bytes));
      RunResult g = runMvgen({"-k", kind, "-c", "4", "-b", std::to_string(bytes), "-o", f});
      ASSERT_EQ(g.status, 0) << g.err;
      EXPECT_EQ(std::filesystem::file_size(f), bytes);
      const std::string out = runMvscan({f}, dir.path()).out;
      EXPECT_EQ(out.find("###"), std::string::npos) << out;
      EXPECT_NE(out.find("=> End-of-file reached (index=" + std::to_string(bytes) + ")\n"),
                std::string::npos)
          << out;
    }
    RunResult small = runMvgen({"-k", kind, "-b", std::to_string(least - 8), "-o", f});
    EXPECT_EQ(small.status, 1);
    EXPECT_EQ(small.err, std::string("mvgen: -b: a ") + kind + " file needs at least " +
                             std::to_string(least) + " bytes\n");
  }
  ASSERT_EQ(runMvgen({"-k", "frame16", "-b", "1M", "-o", f}).status, 0);
  EXPECT_EQ(std::filesystem::file_size(f), 1048576u);
}

TEST(MvgenSeed, SameSeedSameBytesOtherSeedOtherData) {
  TempDir dir;
  for (const KindCase& k : KINDS) {
    SCOPED_TRACE(k.kind);
    const std::string a = dir.file("a.mv");
    const std::string b = dir.file("b.mv");
    const std::string c = dir.file("c.mv");
    for (const auto& [file, seed] : {std::pair{a, "42"}, {b, "42"}, {c, "43"}}) {
      ASSERT_EQ(runMvgen({"-k", k.kind, "-n", "40000", "-s", seed, "-o", file}).status, 0);
    }
    EXPECT_EQ(readWholeFile(a), readWholeFile(b));
    EXPECT_NE(packets(a), packets(c));
  }
}

#endif  // MVGEN_BINARY

}  // namespace
