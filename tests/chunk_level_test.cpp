// The chunk walk of DataInspector on built files, with its messages on an
// std::ostringstream.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <iomanip>
#include <sstream>
#include <string>

#include "FileBuilder.h"
#include "ProblemsAsText.h"
#include "report/ChunkReports.h"
#include "scan/DataInspector.h"

using namespace morven;
using namespace testing_files;

namespace {

class ChunkWalk : public ::testing::Test {
 protected:
  ChunkWalk() { problemsAsText(insp, out); }
  // Writes the file and opens it on a freshly reset inspector.
  bool open(const FileBuilder& b) {
    path = dir.write("f.mv", b);
    return insp.setFile(path, true);
  }

  TempDir dir;
  std::string path;
  std::ostringstream out;
  DataInspector insp{true};
};

TEST_F(ChunkWalk, MissingFile) {
  std::string missing = dir.file("missing.mv");
  EXPECT_FALSE(insp.setFile(missing, true));
  EXPECT_EQ(out.str(), "### Failed to open file " + missing + "\n");
  EXPECT_TRUE(insp.walker().hasError());
  EXPECT_EQ(insp.walker().errNo(), 0);
  EXPECT_FALSE(insp.walker().feof());
  EXPECT_FALSE(insp.walker().nextChunk());
}

TEST_F(ChunkWalk, ShortHeader) {
  for (size_t n : {0, 1, 5, 7}) {
    SCOPED_TRACE(n);
    out.str("");
    EXPECT_FALSE(open(FileBuilder().raw(std::string("MORVEN\0\0", 8).substr(0, n))));
    EXPECT_EQ(out.str(), "### Failed to read file header\n");
    EXPECT_TRUE(insp.walker().hasError());
  }
}

// The header message is written whole whatever state the caller's stream
// is in, and leaves that state as it was.
TEST_F(ChunkWalk, WrongMagicLeavesStreamState) {
  out << std::hex << std::setfill('*') << std::left;
  EXPECT_FALSE(open(FileBuilder().raw(std::string("MORVEN\x00\x01", 8))));
  EXPECT_EQ(out.str(),
            "### Doesn't look like a MORVEN data file:\n"
            "    expected header 0x00004e4556524f4d, got 0x01004e4556524f4d\n");
  EXPECT_EQ(out.flags() & std::ios::basefield, std::ios::hex);
  EXPECT_EQ(out.fill(), '*');
  EXPECT_EQ(insp.walker().fileIndex(), 8u);
}

TEST_F(ChunkWalk, HeaderOnly) {
  ASSERT_TRUE(open(FileBuilder().header()));
  EXPECT_EQ(insp.walker().fileHeaderString(), "MORVEN");
  EXPECT_EQ(insp.walker().fileSize(), 8u);
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(insp.walker().headerTotal(), 0u);
  EXPECT_EQ(insp.walker().fileIndex(), 8u);
  EXPECT_TRUE(insp.walker().feof());
  EXPECT_FALSE(insp.walker().ferror());
  EXPECT_EQ(chunkTypeName(insp.walker().chunkType()), "???");
  EXPECT_FALSE(insp.walker().chunkIsData() || insp.walker().chunkIsJson() ||
               insp.walker().chunkIsVx7Config() || insp.walker().chunkIsVx7PixConfig());
  // A further call at the end stays at the end.
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(insp.walker().fileIndex(), 8u);
  logChunkCounters(insp.walker(), out);
  EXPECT_EQ(out.str(), "");
}

TEST_F(ChunkWalk, DataChunkSizesAndIndex) {
  ASSERT_TRUE(open(FileBuilder()
                       .header()
                       .chunk(MVHDR_VX7PC24, {1, 2, 3})
                       .chunk(MVHDR_VX7PC24, {4, 5, 6, 7, 8})));
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_EQ(insp.walker().fileIndex(), 16u);  // start of the first payload
  EXPECT_EQ(insp.walker().chunkBytes(), 24u);
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_EQ(insp.walker().fileIndex(), 48u);
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(insp.walker().chunkBytesTotal(), 64u);
  EXPECT_EQ(insp.walker().chunkSizes(), (std::deque<uint64_t>{24, 40}));
  EXPECT_EQ(insp.walker().chunkTypeCounters().at(MVHDR_VX7PC24), 2u);
  EXPECT_EQ(insp.walker().fileIndex(), 88u);
  EXPECT_TRUE(insp.walker().feof());
  EXPECT_FALSE(insp.walker().hasError());
  EXPECT_EQ(out.str(), "");
}

TEST_F(ChunkWalk, TruncatedDataChunk) {
  ASSERT_TRUE(open(FileBuilder()
                       .header()
                       .chunk(MVHDR_VX7FRAME8, {9})
                       .chunkHeader(MVHDR_VX7TOATOT, 100)
                       .words(std::vector<uint64_t>(10, 1))));
  ASSERT_TRUE(insp.walker().nextChunk());
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_FALSE(insp.walker().hasError());
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(out.str(), "### Truncated last chunk #2\n");
  EXPECT_TRUE(insp.walker().hasError());
  EXPECT_TRUE(insp.walker().feof());
  EXPECT_EQ(insp.walker().fileIndex(), insp.walker().fileSize());
  EXPECT_EQ(insp.walker().chunkBytesTotal(), 808u);
  EXPECT_EQ(insp.walker().chunkSizes(), (std::deque<uint64_t>{8, 800}));
}

// A payload that ends exactly at the end of the file is whole; one word
// more is a truncated chunk.
TEST_F(ChunkWalk, PayloadBoundary) {
  for (uint64_t declared : {2, 3}) {
    SCOPED_TRACE(declared);
    out.str("");
    ASSERT_TRUE(open(FileBuilder().header().chunkHeader(MVHDR_VX7PC24, declared).words({1, 2})));
    ASSERT_TRUE(insp.walker().nextChunk());
    EXPECT_FALSE(insp.walker().nextChunk());
    EXPECT_EQ(out.str(), declared == 2 ? "" : "### Truncated last chunk #1\n");
    EXPECT_EQ(insp.walker().hasError(), declared == 3);
    EXPECT_EQ(insp.walker().fileIndex(), 32u);
    EXPECT_TRUE(insp.walker().feof());
  }
}

TEST_F(ChunkWalk, InvalidHeaderThenGoesOn) {
  ASSERT_TRUE(open(FileBuilder()
                       .header()
                       .chunkHeader(MVHDR_DATA, 1)
                       .word(0xFFFFFFFFFFFFFFFFULL)
                       .chunk(MVHDR_VX7TOATOT_TOP, {5})));
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(out.str(), "### Invalid header 0x03ff000000000000 @ index=8\n");
  EXPECT_EQ(insp.walker().headerTotal(), 1u);
  EXPECT_TRUE(insp.walker().chunkTypeCounters().empty());
  EXPECT_TRUE(insp.walker().chunkIsData());
  EXPECT_EQ(chunkTypeName(insp.walker().chunkType()), "MVHDR_DATA");
  EXPECT_TRUE(insp.walker().hasError());
  // The next call steps over the rejected payload.
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_EQ(chunkTypeName(insp.walker().chunkType()), "MVHDR_VX7TOATOT");
  EXPECT_EQ(insp.walker().chunkTypeCounters().at(MVHDR_VX7TOATOT), 1u);
  EXPECT_EQ(insp.walker().chunkBytesTotal(), 8u);
}

TEST_F(ChunkWalk, UserChunksCountedTogether) {
  ASSERT_TRUE(open(FileBuilder()
                       .header()
                       .chunk(0x7001ULL << 48, {1})
                       .jsonChunk(0x7403ULL << 48, "[true]")
                       .chunk(0x7C00ULL << 48, {})
                       .chunk(MVHDR_VX7TOATOT_BOTTOM, {})));
  int n = 0;
  while (insp.walker().nextChunk()) ++n;
  EXPECT_EQ(n, 4);
  EXPECT_EQ(insp.walker().jsonString(), "[\n  true\n]");
  logChunkCounters(insp.walker(), out);
  EXPECT_EQ(out.str(),
            "=> Chunk counters:\n"
            "MVHDR_VX7TOATOT          1\n"
            "USERHDR                  3\n");
}

// The counter names are padded with blanks whatever fill a check left on
// the stream; a name of 25 characters or more is followed by its count.
TEST_F(ChunkWalk, ChunkCountersIgnoreStreamFill) {
  ASSERT_TRUE(open(FileBuilder()
                       .header()
                       .chunk(0x7C05ULL << 48, {})
                       .chunk(MVHDR_VX7FRAME16, {})
                       .chunk(MVHDR_VX7PIXCFG, {1, 2})));
  while (insp.walker().nextChunk()) {
  }
  out << std::setfill('0');
  logChunkCounters(insp.walker(), out);
  EXPECT_EQ(out.str(),
            "=> Chunk counters:\n"
            "MVHDR_VX7FRAME16         1\n"
            "MVHDR_VX7PIXCFG          1\n"
            "USERHDR                  1\n");
  EXPECT_EQ(out.flags() & std::ios::adjustfield, std::ios::right);
}

TEST_F(ChunkWalk, JsonTexts) {
  struct Case {
    const char* name;
    std::string payload;
    std::string text;     // kept text, empty when unreadable
    std::string message;  // what the walk prints
  };
  const std::string err = "### Error reading JSON from chunk MVHDR_CHIPINFO\n";
  const Case cases[] = {
      {"SortedMembers", "{\"b\": 1, \"a\": 2}", "{\n  \"a\": 2,\n  \"b\": 1\n}", ""},
      {"EndsAtZeroByte", std::string("{}\0garbage", 10), "{}", ""},
      {"Scalar", " 17 ", "17", ""},
      {"Empty", "", "", err},
      {"NotJson", "hello", "", err},
      {"TrailingGarbage", "{} x", "", err},
      {"InvalidUtf8", "\"\xff\"", "", err},
      {"DeeplyNested", std::string(100000, '[') + std::string(100000, ']'), "", err},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    out.str("");
    // A good chunk first: a bad one must not leave its text behind.
    ASSERT_TRUE(open(FileBuilder()
                         .header()
                         .jsonChunk(MVHDR_RUNINFO, "[0]")
                         .jsonChunk(MVHDR_CHIPINFO, tc.payload)));
    ASSERT_TRUE(insp.walker().nextChunk());
    EXPECT_EQ(insp.walker().jsonString(), "[\n  0\n]");
    ASSERT_TRUE(insp.walker().nextChunk());
    EXPECT_EQ(insp.walker().jsonString(), tc.text);
    EXPECT_EQ(out.str(), tc.message);
    EXPECT_FALSE(insp.walker().hasError());
    EXPECT_FALSE(insp.walker().nextChunk());
    EXPECT_EQ(insp.walker().fileIndex(), insp.walker().fileSize());
  }
}

TEST_F(ChunkWalk, JsonCutShort) {
  ASSERT_TRUE(open(FileBuilder()
                       .header()
                       .jsonChunk(MVHDR_RUNINFO, "[1]")
                       .chunkHeader(MVHDR_BOARDINFO, 3)
                       .raw("{\"a\":1}")));
  ASSERT_TRUE(insp.walker().nextChunk());
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_EQ(insp.walker().jsonString(), "");
  EXPECT_TRUE(insp.walker().hasError());
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(out.str(),
            "### Failed to read JSON chunk MVHDR_BOARDINFO\n### Truncated last chunk #2\n");
  EXPECT_EQ(insp.walker().fileIndex(), insp.walker().fileSize());
}

TEST_F(ChunkWalk, ConfigPayload) {
  std::string records = configRecord(0x10, {1, 2, 3, 4}) + configRecord(0x11, {5});
  ASSERT_TRUE(open(FileBuilder().header().configChunk({records}).chunk(MVHDR_VX7PC24, {1})));
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_TRUE(insp.walker().chunkIsVx7Config());
  EXPECT_EQ(std::string(insp.walker().configBytes().begin(), insp.walker().configBytes().end()),
            records);
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_TRUE(insp.walker().chunkIsData());
  EXPECT_EQ(out.str(), "");
}

TEST_F(ChunkWalk, ConfigCutShort) {
  std::string record = configRecord(0x10, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  ASSERT_TRUE(open(FileBuilder().header().chunkHeader(MVHDR_VX7CFG, 4).raw(record.substr(0, 20))));
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_EQ(out.str(), "### Failed to read VX7-config chunk MVHDR_VX7CFG\n");
  // Only what the file holds is kept.
  EXPECT_EQ(std::string(insp.walker().configBytes().begin(), insp.walker().configBytes().end()),
            record.substr(0, 20));
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(out.str(),
            "### Failed to read VX7-config chunk MVHDR_VX7CFG\n### Truncated last chunk #1\n");
  EXPECT_EQ(insp.walker().fileIndex(), 36u);
}

// Without a reset, counts and totals carry over and the new file's walk
// starts afresh at its first header.
TEST_F(ChunkWalk, SecondFileWithoutReset) {
  std::string first = dir.write("a.mv", FileBuilder().header().chunkHeader(MVHDR_DATA, 1000));
  std::string second = dir.write("b.mv", FileBuilder().header().chunk(MVHDR_VX7PC24, {1}));
  ASSERT_TRUE(insp.setFile(first, true));
  EXPECT_FALSE(insp.walker().nextChunk());
  ASSERT_TRUE(insp.setFile(second, false));
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_EQ(insp.walker().fileIndex(), 16u);
  EXPECT_EQ(insp.walker().headerTotal(), 2u);
  EXPECT_TRUE(insp.walker().hasError());
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(insp.walker().fileIndex(), 24u);
  EXPECT_EQ(out.str(), "### Invalid header 0x03ff000000000000 @ index=8\n");
}

long peakRssKiB() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// 64-bit offsets: a sparse file of 5 GiB whose chunks declare the largest
// sizes. Declared sizes never decide how much memory is taken.
TEST_F(ChunkWalk, HugeDeclaredSizesInSparseFile) {
  const uint64_t fileSize = 5ULL << 30;
  struct Case {
    uint64_t type;
    std::string payloadStart;
    std::string messages;
  };
  const Case cases[] = {
      {MVHDR_VX7PC24, "", "### Truncated last chunk #1\n"},
      {MVHDR_RUNINFO, "{\"a\":1}",
       "### Failed to read JSON chunk MVHDR_RUNINFO\n### Truncated last chunk #1\n"},
      {MVHDR_VX7CFG, configRecord(1, {2}),
       "### Failed to read VX7-config chunk MVHDR_VX7CFG\n### Truncated last chunk #1\n"},
      {MVHDR_VX7PIXCFG, "", "### Truncated last chunk #1\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(chunkTypeName(tc.type));
    out.str("");
    path = dir.write("big.mv",
                     FileBuilder().header().chunkHeader(tc.type, 0xFFFFFFFF).raw(tc.payloadStart));
    ASSERT_EQ(::truncate(path.c_str(), off_t(fileSize)), 0);
    ASSERT_TRUE(insp.setFile(path, true));
    ASSERT_TRUE(insp.walker().nextChunk());
    EXPECT_FALSE(insp.walker().nextChunk());
    EXPECT_EQ(out.str(), tc.messages);
    EXPECT_EQ(insp.walker().fileIndex(), fileSize);
    EXPECT_TRUE(insp.walker().feof());
  }
  EXPECT_LT(peakRssKiB(), 200 * 1024);
}

TEST_F(ChunkWalk, ChunkFillingSparseFileExactly) {
  const uint64_t fileSize = 5ULL << 30;
  const uint64_t words = (fileSize - 16) / 8;
  path = dir.write("big.mv", FileBuilder().header().chunkHeader(MVHDR_VX7FRAME16, words));
  ASSERT_EQ(::truncate(path.c_str(), off_t(fileSize)), 0);
  ASSERT_TRUE(insp.setFile(path, true));
  ASSERT_TRUE(insp.walker().nextChunk());
  EXPECT_FALSE(insp.walker().nextChunk());
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(insp.walker().hasError());
  EXPECT_EQ(insp.walker().fileIndex(), fileSize);
  EXPECT_EQ(insp.walker().chunkBytesTotal(), fileSize - 16);
}

}  // namespace

namespace {

// The constructor with a file name opens the file at once; a failure shows
// in hasError() and in the message.
TEST(ChunkWalkConstruction, WithFileName) {
  TempDir dir;
  std::string good = dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7PC24, {1}));
  std::ostringstream out;
  DataInspector opened(good, problemsAsText(out));
  EXPECT_FALSE(opened.walker().hasError());
  EXPECT_EQ(opened.walker().fileSize(), 24u);
  ASSERT_TRUE(opened.walker().nextChunk());
  EXPECT_EQ(chunkTypeName(opened.walker().chunkType()), "MVHDR_VX7PC24");

  std::string missing = dir.file("none.mv");
  DataInspector failed(missing, problemsAsText(out));
  EXPECT_TRUE(failed.walker().hasError());
  EXPECT_EQ(out.str(), "### Failed to open file " + missing + "\n");
}

}  // namespace
