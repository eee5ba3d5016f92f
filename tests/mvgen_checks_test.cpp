// mvgen's test-generator and counter streams read back by mvscan's checks:
// clean streams pass on every link count, the packets follow the successor
// rule, and every injected error gives its error lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"
#include "mvgen_files.h"

using namespace testing_files;
using namespace mvgen_files;

namespace {

constexpr uint64_t FIXED = 0x2AEBA954;

bool isTestGenHeartbeat(uint64_t w) {
  return typeByte(w) == morven::TESTGEN_HEARTBEAT;
}
bool isTestGenPixel(uint64_t w) {
  return w != IDLE && !isTestGenHeartbeat(w);
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

// ---- Test-generator and counter checks ----------------------------------------

// 30000 packets in chunks of 7000 on the given number of links.
int writeCleanStream(const std::string& kind, int links, const std::string& path) {
  return runMvgen({"-k", kind, "-L", std::to_string(links), "-n", "30000", "-c", "7000", "-s",
                   std::to_string(links), "-o", path})
      .status;
}

// Calls check(dir, path, links) on a clean stream of the kind, written to
// name, on 1, 2 and 8 links in turn.
template <typename Check>
void onCleanStreams(const std::string& kind, const std::string& name, const Check& check) {
  TempDir dir;
  for (int links : {1, 2, 8}) {
    SCOPED_TRACE(links);
    const std::string f = dir.file(name);
    ASSERT_EQ(writeCleanStream(kind, links, f), 0);
    check(dir, f, links);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(MvgenChecks, CleanCounterStreamsPassOnEveryLinkCount) {
  onCleanStreams("counter", "c.mv", [](const TempDir& dir, const std::string& f, int links) {
    EXPECT_EQ(runMvscan({"-q", "-L", std::to_string(links), f}, dir.path()).out,
              counterHeading(f, links) + "Total 'packets' = 30000\n");
    // Each link counts up by one, the links taking turns.
    const std::vector<uint64_t> words = packets(f);
    for (size_t i = size_t(links); i < words.size(); ++i) {
      ASSERT_EQ(words[i], words[i - size_t(links)] + 1) << i;
    }
  });
}

TEST(MvgenChecks, CleanTestGenStreamsPassOnEveryLinkCount) {
  onCleanStreams("testgen", "t.mv", [](const TempDir& dir, const std::string& f, int links) {
    const std::string expected = expectedTestGenCheck(f, links, {});
    EXPECT_NE(expected.find("IDLE packets: "), std::string::npos);
    EXPECT_NE(expected.find("HEARTBEAT packets: "), std::string::npos);
    EXPECT_EQ(runMvscan({"-Q", "-L", std::to_string(links), f}, dir.path()).out, expected);
  });
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

#endif  // MVGEN_BINARY

}  // namespace
