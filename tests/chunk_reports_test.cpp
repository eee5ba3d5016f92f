// The register listing and the chunk-size histogram, compared whole, and
// the stream state they leave behind.
#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

#include "FileBuilder.h"
#include "report/ChunkReports.h"
#include "scan/DataInspector.h"

using namespace morven;
using namespace testing_files;

namespace {

// Walks the whole file so the inspector holds its config bytes and sizes.
class Reports : public ::testing::Test {
 protected:
  void walk(const FileBuilder& b) {
    ASSERT_TRUE(insp.setFile(dir.write("f.mv", b), true));
    while (insp.walker().nextChunk()) {
    }
    log.str("");
  }
  std::string listing() {
    std::ostringstream s;
    displayVx7Config(insp.walker(), s);
    EXPECT_EQ(s.flags() & std::ios::basefield, std::ios::dec);
    EXPECT_FALSE(s.flags() & std::ios::uppercase);
    EXPECT_EQ(s.fill(), ' ');
    return s.str();
  }
  std::string histogram(int bins) {
    std::ostringstream s;
    chunkSizesHistogram(insp.walker(), s, bins);
    return s.str();
  }

  TempDir dir;
  std::ostringstream log;
  DataInspector insp{true};
};

std::vector<uint8_t> countingBytes(size_t n) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i < n; ++i) v.push_back(uint8_t(i));
  return v;
}

std::string hexBytes(size_t from, size_t to) {
  std::string s;
  const char* digits = "0123456789ABCDEF";
  for (size_t i = from; i < to; ++i) {
    s += ' ';
    s += digits[(i >> 4) & 15];
    s += digits[i & 15];
  }
  return s;
}

TEST_F(Reports, RegisterListing) {
  struct Case {
    const char* name;
    std::vector<std::string> records;
    std::string expected;
  };
  const Case cases[] = {
      {"FourBytes", {configRecord(0x10, {1, 2, 3, 4})}, "\n0010: 01 02 03 04   (0x04030201)\n"},
      {"TwoBytes", {configRecord(0x11, {0xAB, 0xCD})}, "\n0011: AB CD         (0xCDAB)\n"},
      {"NoBytes", {configRecord(0x7, {})}, "\n0007:         (0x0)\n"},
      {"EightBytes",
       {configRecord(0xFFFFFFFF, {1, 2, 3, 4, 5, 6, 7, 0x80})},
       "\nFFFFFFFF: 01 02 03 04 05 06 07 80   (0x8007060504030201)\n"},
      {"NineBytesNoValue",
       {configRecord(0x1, countingBytes(9))},
       "\n0001:" + hexBytes(0, 9) + "\n"},
      {"ThirtyTwoBytes",
       {configRecord(0x2, countingBytes(32))},
       "\n0002:" + hexBytes(0, 32) + "\n"},
      {"ThirtyThreeBytes",
       {configRecord(0x3, countingBytes(33))},
       "\n0003:" + hexBytes(0, 32) + "\n     " + hexBytes(32, 33) + "\n"},
      {"FortyBytes",
       {configRecord(0x4, countingBytes(40))},
       "\n0004:" + hexBytes(0, 32) + "\n     " + hexBytes(32, 40) + "\n"},
      {"Several",
       {configRecord(0x10, {1}), configRecord(0x20, {2, 3, 4}), configRecord(0x30, {})},
       "\n0010: 01         (0x01)\n0020: 02 03 04   (0x040302)\n0030:         (0x0)\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    walk(FileBuilder().header().configChunk(tc.records));
    EXPECT_EQ(listing(), tc.expected);
  }
}

// Damaged payloads: the listing shows what is there and marks the cut.
TEST_F(Reports, RegisterListingOfCutPayload) {
  struct Case {
    const char* name;
    std::string payload;  // the bytes the file holds after the header word
    uint64_t declaredWords;
    std::string expected;
  };
  const Case cases[] = {
      {"ValueCut", le32(0x5) + le32(4) + "\x01\x02", 2, "\n0005: 01 02 (### cut: 2 of 4 bytes)\n"},
      {"HugeCount", le32(0x6) + le32(0xFFFFFFFF) + std::string(8, '\x11'), 2,
       "\n0006: 11 11 11 11 11 11 11 11 (### cut: 8 of 4294967295 bytes)\n"},
      {"HeadCut", configRecord(0x8, {9}) + "\x01\x02\x03", 3,
       "\n0008: 09         (0x09)\n(### cut record: 01 02 03)\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    walk(FileBuilder().header().chunkHeader(MVHDR_VX7CFG, tc.declaredWords).raw(tc.payload));
    EXPECT_EQ(listing(), tc.expected);
  }
}

TEST_F(Reports, EmptyConfigPrintsNothing) {
  walk(FileBuilder().header().chunkHeader(MVHDR_VX7CFG, 0));
  EXPECT_EQ(listing(), "");
}

TEST_F(Reports, SizeHistogram) {
  struct Case {
    const char* name;
    std::vector<size_t> chunkWords;
    int bins;
    std::string expected;
  };
  const std::string head = "Chunk Size   Bin Count\n----------   ---------\n";
  const Case cases[] = {
      {"TwoBins",
       {1, 2, 100},
       2,
       head + "        0           2\n      401           1\n      802\n\n"},
      {"OneBinHoldsAll", {100, 1, 2}, 1, head + "        0           3\n      801\n\n"},
      {"AllEmpty",
       {0, 0, 0},
       4,
       head + "        0           3\n        1           0\n        2           0\n"
              "        3           0\n        4\n\n"},
      {"NoDataChunk", {}, 2, head + "        0           0\n        1           0\n        2\n\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    FileBuilder b;
    b.header();
    for (size_t w : tc.chunkWords) b.chunk(MVHDR_VX7TOATOT, std::vector<uint64_t>(w, 0));
    walk(b);
    EXPECT_EQ(histogram(tc.bins), tc.expected);
  }
}

TEST_F(Reports, SizeHistogramLargestBinCount) {
  // Sizes between 8 and 65536 bytes over 65536 bins: width 2.
  FileBuilder b;
  b.header();
  b.chunk(MVHDR_VX7PC24, {1});
  b.chunk(MVHDR_VX7PC24, std::vector<uint64_t>(8192, 0));
  walk(b);
  std::string out = histogram(65536);
  std::istringstream lines(out);
  std::string line, last;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    if (!line.empty()) last = line;
  }
  EXPECT_EQ(count, 2 + 65536 + 1 + 1);
  EXPECT_EQ(last, "   131072");
  EXPECT_NE(out.find("\n        8           1\n"), std::string::npos);
  EXPECT_NE(out.find("\n    65536           1\n"), std::string::npos);
}

// The histogram fields are blank-filled whatever fill the stream holds.
TEST_F(Reports, SizeHistogramIgnoresStreamFill) {
  walk(FileBuilder().header().chunk(MVHDR_VX7PC24, {1}));
  std::ostringstream s;
  s << std::setfill('0');
  chunkSizesHistogram(insp.walker(), s, 1);
  EXPECT_EQ(s.str(),
            "Chunk Size   Bin Count\n----------   ---------\n        0           1\n"
            "        9\n\n");
}

}  // namespace
