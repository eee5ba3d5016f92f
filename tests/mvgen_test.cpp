// Round trips through mvgen and mvscan: files of every kind that mvgen
// writes are read back by mvscan's file check, display and checks, and
// their bytes are read here directly to confirm the packet layouts.
#include <gtest/gtest.h>

#include <filesystem>
#include <iomanip>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"

using namespace testing_files;

namespace {

#ifdef MVGEN_BINARY
// Runs mvgen in a directory of its own, where its output is collected, so
// that tests running at the same time do not share those files. File
// arguments are absolute paths.
RunResult runMvgen(const std::vector<std::string>& args) {
  TempDir where;
  return runTool(MVGEN_BINARY, args, where.path());
}
#endif

constexpr uint64_t IDLE = 0x1E;
constexpr uint64_t FIXED = 0x2AEBA954;

uint64_t typeByte(uint64_t w) {
  return w >> 55 & 0xFF;
}
bool isTestGenHeartbeat(uint64_t w) {
  return typeByte(w) == morven::TESTGEN_HEARTBEAT;
}
bool isTestGenPixel(uint64_t w) {
  return w != IDLE && !isTestGenHeartbeat(w);
}

// The chunks of a file as its header words say, read without the inspector.
struct RawChunk {
  uint64_t type;
  std::string payload;
};

std::vector<RawChunk> rawChunks(const std::string& path) {
  const std::string bytes = readWholeFile(path);
  std::vector<RawChunk> chunks;
  size_t offset = 8;
  while (offset + 8 <= bytes.size()) {
    uint64_t w = 0;
    for (int i = 7; i >= 0; --i) w = w << 8 | uint8_t(bytes[offset + size_t(i)]);
    const size_t size = size_t(w & morven::MVHDR_CHUNKSIZE_MASK) * 8;
    offset += 8;
    chunks.push_back({w & morven::MVHDR_CHUNKTYPE_MASK, bytes.substr(offset, size)});
    offset += size;
  }
  return chunks;
}

// All packets of the data chunks, in file order.
std::vector<uint64_t> packets(const std::string& path) {
  std::vector<uint64_t> words;
  for (const RawChunk& c : rawChunks(path)) {
    if ((c.type & morven::MVHDR_GROUPID_MASK) != morven::MVHDR_GROUPID_DATA) continue;
    for (size_t i = 0; i + 8 <= c.payload.size(); i += 8) {
      uint64_t w = 0;
      for (int b = 7; b >= 0; --b) w = w << 8 | uint8_t(c.payload[i + size_t(b)]);
      words.push_back(w);
    }
  }
  return words;
}

std::string padded(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

std::string fileLines(const std::string& path) {
  return "File opened: " + path + "\nFile header: MORVEN\n";
}

std::string pixelScanFileLines(const std::string& path) {
  const uint64_t size = std::filesystem::file_size(path);
  return fileLines(path) + "File size  : " + std::to_string(size) + " bytes (" +
         std::to_string(size / 8) + "*8)\n";
}

struct KindCase {
  const char* kind;
  std::vector<std::string> metadata;  // names of the chunks before the data, in file order
  const char* dataName;
};

const std::vector<KindCase> KINDS = {
    {"toatot",
     {"MVHDR_CHIPINFO", "MVHDR_BOARDINFO", "MVHDR_RUNINFO", "MVHDR_VX7CFG"},
     "MVHDR_VX7TOATOT"},
    {"pc24",
     {"MVHDR_CHIPINFO", "MVHDR_BOARDINFO", "MVHDR_RUNINFO", "MVHDR_VX7CFG"},
     "MVHDR_VX7PC24"},
    {"frame8",
     {"MVHDR_CHIPINFO", "MVHDR_BOARDINFO", "MVHDR_RUNINFO", "MVHDR_VX7CFG"},
     "MVHDR_VX7FRAME8"},
    {"frame16",
     {"MVHDR_CHIPINFO", "MVHDR_BOARDINFO", "MVHDR_RUNINFO", "MVHDR_VX7CFG"},
     "MVHDR_VX7FRAME16"},
    {"testgen", {"MVHDR_BOARDINFO", "MVHDR_RUNINFO"}, "MVHDR_VX7TOATOT"},
    {"counter", {"MVHDR_BOARDINFO", "MVHDR_RUNINFO"}, "MVHDR_VX7TOATOT"},
};

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

// ---- Test-generator stream -------------------------------------------------

struct TestGenFields {
  uint64_t eoc;
  uint64_t pixnr;
  uint64_t toa;
  uint64_t fixed;
};

TestGenFields fieldsOf(uint64_t w) {
  return {w >> 55 & 0xFF, w >> 46 & 0x1FF, w >> 30 & 0xFFFF, w & 0x3FFFFFFF};
}

// The packet that follows p on a link whose EoC group has g blocks.
TestGenFields successor(TestGenFields p, uint64_t g) {
  TestGenFields s = {p.eoc, (p.pixnr + 1) % 512, (p.toa + 1) % 65536, FIXED};
  if (s.pixnr == 0) {
    const uint64_t e = p.eoc + 1;
    s.eoc = e % g == 0 ? e - g : e;
  }
  return s;
}

std::string testGenErrorLine(uint64_t position, const TestGenFields& a, const TestGenFields& e,
                             int links, int link, uint64_t distance) {
  std::ostringstream s;
  s << "### " << std::setw(7) << position << ": " << std::hex << "pixnr=" << std::setw(3) << a.pixnr
    << " (" << std::setw(3) << e.pixnr << "), eoc=" << std::setw(2) << a.eoc << " (" << std::setw(2)
    << e.eoc << "), toa " << std::setw(5) << a.toa << " (" << std::setw(5) << e.toa << ")";
  if (a.fixed != FIXED) s << ", fixed=" << std::setw(8) << a.fixed;
  if (links > 1) {
    s << " (lnk=" << link << ")";
  } else {
    uint64_t here = a.eoc * 512 + a.pixnr;
    const uint64_t there = e.eoc * 512 + e.pixnr;
    if (here < there) here += morven::N_PIXELS;
    const uint64_t toa = a.toa < e.toa ? a.toa + 65536 : a.toa;
    s << std::dec << " (diffs = " << here - there << ", " << toa - e.toa << ", pix=" << distance
      << ")";
  }
  s << std::dec << "\n";
  return s.str();
}

// What mvscan -Q prints for a test-generator file whose only faults are at
// errorPositions, each of them a single packet out of its link's sequence:
// the learning phase takes the first packet of each link, then every idle
// word shows as IDLE and every fault as one error line.
std::string expectedTestGenCheck(const std::string& path, int links,
                                 const std::set<uint64_t>& errorPositions) {
  const std::vector<uint64_t> words = packets(path);
  const uint64_t g = 224 / uint64_t(links);
  std::string out = "=> Check TestGenerator pixel format (#links=" + std::to_string(links) + ")\n" +
                    pixelScanFileLines(path);
  std::vector<uint64_t> lastPixel(size_t(links), 0);
  std::vector<uint64_t> lastError(size_t(links), 0);
  uint64_t pixels = 0;
  uint64_t idles = 0;
  uint64_t heartbeats = 0;
  for (size_t i = 0; i < words.size(); ++i) {
    const uint64_t w = words[i];
    const uint64_t position = i + 1;
    const bool learning = pixels < uint64_t(links);
    if (!isTestGenPixel(w)) {
      EXPECT_FALSE(learning) << "idle word or heartbeat before every link has sent a packet";
      if (w == IDLE) {
        ++idles;
        out += "IDLE\n";
      } else {
        ++heartbeats;
      }
      continue;
    }
    const int link = int(pixels % uint64_t(links));
    if (!learning && errorPositions.count(position) != 0) {
      const TestGenFields expected = successor(fieldsOf(lastPixel[size_t(link)]), g);
      out += testGenErrorLine(position, fieldsOf(w), expected, links, link,
                              position - lastError[size_t(link)]);
      lastError[size_t(link)] = position;
    }
    lastPixel[size_t(link)] = w;
    ++pixels;
  }
  if (idles > 0) out += "IDLE packets: " + std::to_string(idles) + "\n";
  if (heartbeats > 0) out += "HEARTBEAT packets: " + std::to_string(heartbeats) + "\n";
  out += "Total pixelpackets = " + std::to_string(words.size()) + " (heartbeats = 0)\n";
  return out;
}

// ---- Counter stream --------------------------------------------------------

std::string counterErrorLine(uint64_t position, uint64_t value, uint64_t expected) {
  std::ostringstream s;
  s << "### " << std::setfill('0') << std::setw(7) << position << ": " << std::hex << std::setw(8)
    << value << ", expected " << std::setw(8) << expected << std::dec << "\n";
  return s.str();
}

std::string counterHeading(const std::string& path, int links) {
  return "=> Check TestGenerator counter (#links=" + std::to_string(links) + ")\n" +
         pixelScanFileLines(path);
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

// ---- Test-generator and counter checks ----------------------------------------

// 30000 packets in chunks of 7000 on the given number of links.
int writeCleanStream(const std::string& kind, int links, const std::string& path) {
  return runMvgen({"-k", kind, "-L", std::to_string(links), "-n", "30000", "-c", "7000", "-s",
                   std::to_string(links), "-o", path})
      .status;
}

TEST(MvgenChecks, CleanCounterStreamsPassOnEveryLinkCount) {
  TempDir dir;
  for (int links : {1, 2, 8}) {
    SCOPED_TRACE(links);
    const std::string f = dir.file("c.mv");
    ASSERT_EQ(writeCleanStream("counter", links, f), 0);
    EXPECT_EQ(runMvscan({"-q", "-L", std::to_string(links), f}, dir.path()).out,
              counterHeading(f, links) + "Total 'packets' = 30000\n");
    // Each link counts up by one, the links taking turns.
    const std::vector<uint64_t> words = packets(f);
    for (size_t i = size_t(links); i < words.size(); ++i) {
      ASSERT_EQ(words[i], words[i - size_t(links)] + 1) << i;
    }
  }
}

TEST(MvgenChecks, CleanTestGenStreamsPassOnEveryLinkCount) {
  TempDir dir;
  for (int links : {1, 2, 8}) {
    SCOPED_TRACE(links);
    const std::string f = dir.file("t.mv");
    ASSERT_EQ(writeCleanStream("testgen", links, f), 0);
    const std::string expected = expectedTestGenCheck(f, links, {});
    EXPECT_NE(expected.find("IDLE packets: "), std::string::npos);
    EXPECT_NE(expected.find("HEARTBEAT packets: "), std::string::npos);
    EXPECT_EQ(runMvscan({"-Q", "-L", std::to_string(links), f}, dir.path()).out, expected);
  }
}

TEST(MvgenTestGen, PacketsFollowTheSuccessorRuleAndHeartbeatsCountFromZero) {
  TempDir dir;
  for (int links : {1, 3, 8}) {
    SCOPED_TRACE(links);
    const std::string f = dir.file("t.mv");
    ASSERT_EQ(
        runMvgen({"-k", "testgen", "-L", std::to_string(links), "-n", "300000", "-o", f}).status,
        0);
    const uint64_t g = 224 / uint64_t(links);
    std::vector<uint64_t> last(size_t(links), 0);
    uint64_t pixels = 0;
    uint64_t heartbeat = 0;
    std::set<uint64_t> eocs;
    for (uint64_t w : packets(f)) {
      if (w == IDLE) continue;
      if (isTestGenHeartbeat(w)) {
        ASSERT_EQ(w, 0x7F80000000000000ULL | heartbeat);
        ++heartbeat;
        continue;
      }
      const size_t link = size_t(pixels % uint64_t(links));
      const TestGenFields p = fieldsOf(w);
      EXPECT_EQ(w >> 63, 0u);
      ASSERT_EQ(p.fixed, FIXED);
      ASSERT_GE(p.eoc, link * g);
      ASSERT_LT(p.eoc, (link + 1) * g);
      if (pixels >= uint64_t(links)) {
        const TestGenFields s = successor(fieldsOf(last[link]), g);
        ASSERT_EQ(p.eoc, s.eoc);
        ASSERT_EQ(p.pixnr, s.pixnr);
        ASSERT_EQ(p.toa, s.toa);
      }
      eocs.insert(p.eoc);
      last[link] = w;
      ++pixels;
    }
    EXPECT_GT(heartbeat, 50u);
    // Every link has wrapped round its group at least once.
    EXPECT_EQ(eocs.size(), size_t(g) * size_t(links));
  }
}

struct ErrorCase {
  int links;
  std::vector<std::string> errors;  // kind@position
};

std::set<uint64_t> positionsOf(const std::vector<std::string>& errors) {
  std::set<uint64_t> positions;
  for (const std::string& e : errors) positions.insert(std::stoull(e.substr(e.find('@') + 1)));
  return positions;
}

TEST(MvgenChecks, EachTestGenErrorGivesOneErrorLine) {
  TempDir dir;
  const std::vector<ErrorCase> cases = {
      {1, {"fixed@100"}},
      {1, {"toa@2500"}},
      {1, {"missing@7777"}},
      {1, {"fixed@100", "toa@2500", "missing@7777", "fixed@7780", "toa@15000"}},
      {2, {"fixed@101", "toa@2500", "missing@7777", "missing@7778"}},
      {8, {"toa@9", "fixed@5000", "missing@5001", "toa@5002", "fixed@19999"}},
  };
  for (const ErrorCase& c : cases) {
    std::vector<std::string> args = {
        "-k", "testgen", "-L", std::to_string(c.links), "-n", "20000", "-c", "3000", "-s", "11"};
    for (const std::string& e : c.errors) args.insert(args.end(), {"-e", e});
    const std::string f = dir.file("e.mv");
    args.insert(args.end(), {"-o", f});
    SCOPED_TRACE(c.errors.front() + " on " + std::to_string(c.links) + " links");
    ASSERT_EQ(runMvgen(args).status, 0);
    const std::set<uint64_t> positions = positionsOf(c.errors);
    const std::vector<uint64_t> words = packets(f);
    for (uint64_t p : positions) ASSERT_TRUE(isTestGenPixel(words[p - 1])) << p;
    const std::string expected = expectedTestGenCheck(f, c.links, positions);
    EXPECT_EQ(runMvscan({"-Q", "-L", std::to_string(c.links), f}, dir.path()).out, expected);
    size_t errorLines = 0;
    for (size_t at = expected.find("\n### "); at != std::string::npos;
         at = expected.find("\n### ", at + 1)) {
      ++errorLines;
    }
    EXPECT_EQ(errorLines, positions.size());
  }
}

TEST(MvgenChecks, EachCounterErrorGivesItsErrorLines) {
  TempDir dir;
  const std::string f = dir.file("e.mv");
  for (int links : {1, 2, 8}) {
    SCOPED_TRACE(links);
    const uint64_t l = uint64_t(links);
    // A corrupted word is reported twice (the next word of its link is
    // judged against the corrupted value) and ends a run of two errors; a
    // missing or repeated value is reported once.
    const uint64_t corrupt = 100;
    const uint64_t missing = 200 + l;
    const uint64_t repeat = 300 + 2 * l;
    ASSERT_EQ(
        runMvgen({"-k", "counter", "-L", std::to_string(links), "-n", "1000", "-e",
                  "corrupt@" + std::to_string(corrupt), "-e", "missing@" + std::to_string(missing),
                  "-e", "repeat@" + std::to_string(repeat), "-o", f})
            .status,
        0);
    const std::vector<uint64_t> w = packets(f);
    auto at = [&](uint64_t position) { return w[position - 1]; };
    std::string expected = counterHeading(f, links);
    expected += counterErrorLine(corrupt, at(corrupt), at(corrupt - l) + 1);
    expected += counterErrorLine(corrupt + l, at(corrupt + l), at(corrupt) + 1);
    expected += "### Consecutive errs " +
                (links > 1 ? "(lnk=" + std::to_string((corrupt - 1) % l) + ")" : std::string()) +
                ": 2 (cnt=" + std::to_string(corrupt + 2 * l) + ")\n";
    expected += counterErrorLine(missing, at(missing), at(missing - l) + 1);
    expected += counterErrorLine(repeat, at(repeat), at(repeat - l) + 1);
    expected += "Total 'packets' = 1000\n";
    EXPECT_EQ(runMvscan({"-q", "-L", std::to_string(links), f}, dir.path()).out, expected);
    // The faults themselves, seen in the words.
    EXPECT_EQ(at(corrupt) ^ 0x100, at(corrupt - l) + 1);
    EXPECT_EQ(at(missing), at(missing - l) + 2);
    EXPECT_EQ(at(repeat), at(repeat - l));
    EXPECT_EQ(at(repeat + l), at(repeat) + 1);
  }
}

// ---- Pelvan framing ---------------------------------------------------------

TEST(MvgenPelvan, BlocksAreHeaderPacketsTrailer) {
  TempDir dir;
  const std::string f = dir.file("w.mv");
  // 40 blocks and a part, across data chunks that do not end on blocks.
  const uint64_t n = 40 * 128 + 50;
  ASSERT_EQ(
      runMvgen({"-k", "counter", "-W", "-n", std::to_string(n), "-c", "1000", "-o", f}).status, 0);
  const std::vector<uint64_t> words = packets(f);
  ASSERT_EQ(words.size(), n);
  std::vector<uint64_t> counter;
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t position = i + 1;
    const uint64_t block = i / 128;
    if (position % 128 == 1) {
      EXPECT_EQ(words[i], (block >> 5) << 43 | (block & 31) << 11) << position;
    } else if (position % 128 == 0) {
      EXPECT_EQ(words[i], 126u) << position;
    } else {
      counter.push_back(words[i]);
    }
  }
  ASSERT_EQ(counter.size(), 40u * 126 + 49);
  for (size_t i = 1; i < counter.size(); ++i) ASSERT_EQ(counter[i], counter[i - 1] + 1);

  // The statistics pass over the Pelvan words, so only the packets count as hits.
  const std::string out = runMvscan({"-p", "-W", f}, dir.path()).out;
  EXPECT_EQ(out.find("###"), std::string::npos) << out;
}

// ---- Frames ----------------------------------------------------------------

TEST(MvgenFrames, DisplayShowsGenuineFramesOfFullSegments) {
  TempDir dir;
  struct FrameCase {
    const char* kind;
    int segments;
    const char* width;
    int pixelsPerSegment;
  };
  for (const FrameCase& c :
       {FrameCase{"frame8", 16, "8-bit", 14336}, FrameCase{"frame16", 32, "16-bit", 7168}}) {
    SCOPED_TRACE(c.kind);
    const std::string f = dir.file("f.mv");
    // One whole frame: shutter rise and fall, FRAME_START, the segments with
    // their two markers each, FRAME_END.
    const uint64_t frame = 3 + uint64_t(c.segments) * 1794 + 1;
    ASSERT_EQ(runMvgen({"-k", c.kind, "-n", std::to_string(frame), "-o", f}).status, 0);
    const std::vector<uint64_t> words = packets(f);
    const uint64_t rise = words[0] & 0x7FFFFFFFFFFFFFULL;
    const uint64_t fall = words[1] & 0x7FFFFFFFFFFFFFULL;

    std::string expected = "=> Display pixels (using stride=1)\n" + pixelScanFileLines(f) +
                           "SHUTTER_RISE B " + std::to_string(rise) + "\nSHUTTER_FALL B " +
                           std::to_string(fall) + " (diff=" + std::to_string(fall - rise) +
                           ")\nFRAME_START #1 (" + c.width + ") bot header=f0 readout_mode=0\n";
    for (int s = 0; s < c.segments; ++s) {
      const std::string half = s < c.segments / 2 ? "bot" : "top";
      const std::string address = std::to_string(s % (c.segments / 2) % 8);
      const std::string count = std::to_string(s + 1);
      expected += "SEGMENT_START count=" + count + " " + half +
                  " header=f2 segment_addr=" + address + " readout_mode=0\n";
      expected += "SEGMENT_END count=" + count + " pixcount=" + std::to_string(c.pixelsPerSegment) +
                  " " + half + " header=f3 segment_addr=" + address + " readout_mode=0\n";
    }
    expected += "FRAME_END (" + std::string(c.width) + ") frame #1 " + std::to_string(c.segments) +
                " segments, bot header=f1 readout_mode=0\n";

    // The pixel lines are left out here and counted instead.
    const std::string out = runMvscan({"-P", f}, dir.path()).out;
    std::istringstream lines(out);
    std::string line;
    std::string markers;
    uint64_t pixelLines = 0;
    while (std::getline(lines, line)) {
      if (line.rfind("FRAME8: ", 0) == 0 || line.rfind("FRAME16: ", 0) == 0) {
        ++pixelLines;
      } else {
        markers += line + "\n";
      }
    }
    EXPECT_EQ(markers, expected);
    EXPECT_EQ(pixelLines, uint64_t(c.segments) * 1792);
  }
}

// ---- ToA/ToT and counting runs ------------------------------------------------

TEST(MvgenChipRuns, PacketsAreValidAndSpreadOverBothHalves) {
  TempDir dir;
  for (const char* kind : {"toatot", "pc24"}) {
    SCOPED_TRACE(kind);
    const std::string f = dir.file("r.mv");
    ASSERT_EQ(runMvgen({"-k", kind, "-n", "200000", "-s", "5", "-o", f}).status, 0);
    std::map<uint64_t, uint64_t> types;
    std::map<uint64_t, uint64_t> hitsPerPixel;
    uint64_t lastHeartbeat[2] = {0, 0};
    bool shutterOpen[2] = {false, false};
    uint64_t hits[2] = {0, 0};
    uint64_t idles = 0;
    for (uint64_t w : packets(f)) {
      if (w == IDLE) {
        ++idles;
        continue;
      }
      const uint64_t t = typeByte(w);
      const int top = int(w >> 63);
      ++types[t];
      const uint64_t value = w & 0x7FFFFFFFFFFFFFULL;
      if (t == morven::VX7_EOC_HEARTBEAT) {
        EXPECT_GT(value, lastHeartbeat[top]);
        lastHeartbeat[top] = value;
      } else if (t == morven::VX7_EOC_SHUTTER_RISE || t == morven::VX7_EOC_SHUTTER_FALL) {
        EXPECT_EQ(shutterOpen[top], t == morven::VX7_EOC_SHUTTER_FALL);
        shutterOpen[top] = t == morven::VX7_EOC_SHUTTER_RISE;
      } else {
        ASSERT_LE(t, morven::VX7_EOC_MAX_COLNR) << std::hex << w;
        ++hits[top];
        ++hitsPerPixel[w >> morven::VX7_PIXELNR_SHIFT];
        if (std::string(kind) == "pc24") {
          EXPECT_NE(w & 0xFFFFFF, 0u);
          EXPECT_EQ(w >> 24 & 0x3FFFFF, 0u);
        }
      }
    }
    EXPECT_GT(idles, 0u);
    EXPECT_GT(types[morven::VX7_EOC_HEARTBEAT], 2u);
    EXPECT_GT(types[morven::VX7_EOC_SHUTTER_RISE], 2u);
    EXPECT_GT(hits[0], 5000u);
    EXPECT_GT(hits[1], 5000u);
    // A beam spot and hot pixels: the busiest pixel has many times the mean.
    uint64_t busiest = 0;
    for (const auto& [pixel, count] : hitsPerPixel) busiest = std::max(busiest, count);
    EXPECT_GT(busiest, 5 * (hits[0] + hits[1]) / hitsPerPixel.size());
    EXPECT_GT(hitsPerPixel.size(), 10000u);

    // The statistics run over it reports no error and writes the picture.
    const std::string out = runMvscan({"-p", "-e", "-H", "8", f}, dir.path()).out;
    EXPECT_EQ(out.find("###"), std::string::npos);
    EXPECT_NE(out.find("Total pixelpackets = 200000\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.file("inspect.png")));
  }
}

#endif  // MVGEN_BINARY

}  // namespace
