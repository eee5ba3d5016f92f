// The buffered file reader: every mix of small reads (header words), large
// reads (payloads, which bypass the buffer) and forward seeks delivers the
// file's bytes in order, with end of file as a stdio stream has it, from a
// regular file and from a pipe. And its read-ahead thread: the hints reach
// the system, and none outlives the file it was asked for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FileBuilder.h"
#include "io/FileReader.h"
#include "io/ReadAhead.h"

using namespace testing_files;
using morven::FileReader;
using morven::ReadAhead;

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

// One reader over several files in turn, each read in sequence so that
// hints are asked for, by the thread or by the reader, and closed while they
// may still be given: every walk delivers its own file's bytes. (Under the
// thread sanitizer this is also the test that the reader and its hint
// thread share nothing unguarded.)
TEST(FileReader, OpensFileAfterFileWhileHintsRun) {
  TempDir dir;
  const std::string a = patternBytes(FILE_BYTES), b = patternBytes(FILE_BYTES / 3) + "tail";
  const std::string pathA = dir.write("a", FileBuilder().raw(a));
  const std::string pathB = dir.write("b", FileBuilder().raw(b));
  FileReader r;
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const bool first = round % 2 == 0;
    ASSERT_TRUE(r.open(first ? pathA : pathB));
    r.setHintThread(round % 3 != 0);
    expectWalk(r, first ? a : b, round % 4 < 2 ? WALKS[0] : WALKS[1]);
  }
  r.close();
}

// Pages of the file in the page cache, or -1 if that cannot be seen.
long residentPages(int fd, size_t bytes) {
  void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return -1;
  const size_t page = size_t(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> in((bytes + page - 1) / page);
  long n = -1;
  if (::mincore(map, bytes, in.data()) == 0) {
    n = 0;
    for (unsigned char c : in) n += c & 1;
  }
  ::munmap(map, bytes);
  return n;
}

// A hint asked for reaches the system: a file dropped from the page cache
// is read into it in the background.
TEST(ReadAhead, HintedBytesComeIntoTheCache) {
  TempDir dir;
  const size_t bytes = 4 << 20;
  const std::string path = dir.write("f", FileBuilder().raw(patternBytes(bytes)));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fsync(fd), 0);
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  const long before = residentPages(fd, bytes);
  if (before != 0) {
    ::close(fd);
    GTEST_SKIP() << "this file system keeps the file in memory (" << before << " pages)";
  }
  {
    ReadAhead ahead;
    ahead.ask(fd, 0, bytes);
    long now = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((now = residentPages(fd, bytes)) == 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GT(now, 0);
  }
  ::close(fd);
}

// Ranges asked for faster than they are given are merged; a range of no
// bytes is no hint; a reader dropped while a range still waits stops its
// thread (a hang or a hint after the end fails here, or in the sanitizers).
TEST(ReadAhead, StopsCleanlyWithRangesWaiting) {
  TempDir dir;
  const std::string path = dir.write("f", FileBuilder().raw(patternBytes(1 << 20)));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 50; ++i) {
    ReadAhead ahead;
    ahead.ask(fd, 100, 100);
    for (uint64_t at = 0; at < (1 << 20); at += 65536) ahead.ask(fd, at, at + 65536);
    if (i % 2 == 0) ahead.forget();
  }
  ::close(fd);
}

// A process forked while the thread runs has no thread: there the reader's
// hints, its closing of the file and its end must neither wait for that
// thread nor touch its lock (which the fork may have copied locked).
TEST(ReadAhead, ForkedProcessGoesOnWithoutTheThread) {
  TempDir dir;
  const std::string bytes = patternBytes(FILE_BYTES);
  const std::string path = dir.write("f", FileBuilder().raw(bytes));
  auto reader = std::make_unique<FileReader>();
  FileReader& r = *reader;
  ASSERT_TRUE(r.open(path));
  std::string head(1 << 20, '\0');
  ASSERT_EQ(r.read(head.data(), 8), 8u);
  ASSERT_EQ(r.read(head.data(), head.size()), head.size());  // a hint, to the thread
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    ::alarm(20);  // a wait for the missing thread ends the child here
    std::string rest(bytes.size(), '\0');
    const size_t n = r.read(rest.data(), rest.size());
    const bool same =
        n == bytes.size() - head.size() - 8 && rest.compare(0, n, bytes, head.size() + 8) == 0;
    r.close();
    reader.reset();
    ::_exit(same ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  r.close();
}

}  // namespace
