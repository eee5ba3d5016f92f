// The buffered file reader: every mix of small reads (header words), large
// reads (payloads, which bypass the buffer) and forward seeks delivers the
// file's bytes in order, with end of file as a stdio stream has it, from a
// regular file and from a pipe.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "FileBuilder.h"
#include "FileReader.h"

using namespace testing_files;
using morven::FileReader;

namespace {

std::string patternBytes(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = char(x >> 24);
  }
  return s;
}

// A step of a walk: read n bytes, or (n < 0) seek -n bytes forward.
using Walk = std::vector<long>;

// Walks the reader and the expected bytes side by side.
void expectWalk(FileReader& r, const std::string& bytes, const Walk& walk) {
  size_t pos = 0;
  for (size_t i = 0; i < walk.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    if (walk[i] < 0) {
      ASSERT_TRUE(r.seekForward(uint64_t(-walk[i])));
      pos += size_t(-walk[i]);
      continue;
    }
    std::string got(size_t(walk[i]), '\0');
    const size_t n = r.read(got.data(), got.size());
    const size_t want = pos >= bytes.size() ? 0 : std::min(got.size(), bytes.size() - pos);
    ASSERT_EQ(n, want);
    EXPECT_TRUE(got.compare(0, n, bytes, pos, n) == 0) << "bytes differ";
    EXPECT_EQ(r.eof(), n < got.size());
    pos += n;
  }
  EXPECT_FALSE(r.error());
}

const size_t FILE_BYTES = 3 * 1024 * 1024 + 5;

// Chunk walks as the inspector makes them: a header word, then a payload
// of any size, or a step over it.
const std::vector<Walk> WALKS = {
    {8, 131072, 8, 131072, 8, 300000, 8, 16, 8, 131071, 8, 1},
    {8, 1 << 20, 8, 4, 4096, 4097, 131072, 3, 1 << 21},
    {8, -131072, 8, 131072, 8, -40, 8, 131072 * 3, 8, -1000000, 8, 100},
    {1 << 22},                                    // past the end in one read
    {8, static_cast<long>(FILE_BYTES) - 16, 16},  // a large read that ends just short of it
    // Large reads bring the next bytes along into the buffer: reads and
    // seeks inside those, across their end, and beyond them.
    {131072, 4095, 2, 8, -3000, 8, 131072, 5000, 131072, -4000, 8, 131072, -5000, 8},
    {static_cast<long>(FILE_BYTES) - 100, 50, 60},  // fewer bytes after it than the refill
};

TEST(FileReader, WalksOverARegularFile) {
  TempDir dir;
  const std::string bytes = patternBytes(FILE_BYTES);
  const std::string path = dir.write("f", FileBuilder().raw(bytes));
  for (size_t w = 0; w < WALKS.size(); ++w) {
    SCOPED_TRACE("walk " + std::to_string(w));
    FileReader r;
    ASSERT_TRUE(r.open(path));
    expectWalk(r, bytes, WALKS[w]);
  }
}

// A pipe delivers the bytes in the pieces the writer happens to write; the
// reader must not care. (Seeks are refused on a pipe, so the walks read.)
TEST(FileReader, ReadsAPipe) {
  TempDir dir;
  const std::string bytes = patternBytes(FILE_BYTES);
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (size_t w = 0; w < 2; ++w) {
    SCOPED_TRACE("walk " + std::to_string(w));
    std::thread writer([&] {
      FILE* f = std::fopen(fifo.c_str(), "wb");
      if (f == nullptr) return;
      for (size_t at = 0; at < bytes.size(); at += 7777) {
        std::fwrite(bytes.data() + at, 1, std::min<size_t>(7777, bytes.size() - at), f);
        std::fflush(f);
      }
      std::fclose(f);
    });
    FileReader r;
    ASSERT_TRUE(r.open(fifo));
    expectWalk(r, bytes, WALKS[w]);
    std::string rest(FILE_BYTES, '\0');
    while (!r.eof()) r.read(rest.data(), rest.size());
    writer.join();
  }
}

}  // namespace
