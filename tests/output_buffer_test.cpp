// The output buffer of standard output: a flush writes at once on a
// terminal and costs nothing into a file or pipe, and nothing is lost at the
// end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "StdoutBuffer.h"

namespace {

// Everything that can be read from the pipe right now, without waiting.
std::string drain(int fd) {
  std::string got;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) got.append(buf, size_t(n));
  return got;
}

class OutputBuffer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    // Room for the large-block cases below.
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  }
  void TearDown() override {
    close(fds[0]);
    close(fds[1]);
  }
  int fds[2];
};

TEST_F(OutputBuffer, InteractiveWritesEveryFlushedLine) {
  mvscan::StdoutBuffer buf(fds[1], true);
  std::ostream out(&buf);
  out << "first line" << std::endl;
  EXPECT_EQ(drain(fds[0]), "first line\n");
  out << "no flush\n";
  EXPECT_EQ(drain(fds[0]), "");
  out.flush();
  EXPECT_EQ(drain(fds[0]), "no flush\n");
}

TEST_F(OutputBuffer, BlockModeWritesOnlyFullBlocksAndAtTheEnd) {
  std::string expected;
  {
    mvscan::StdoutBuffer buf(fds[1], false);
    std::ostream out(&buf);
    out << "line" << std::endl;
    EXPECT_EQ(drain(fds[0]), "");
    std::string got;
    for (int i = 0; i < 100000; ++i) {
      std::string line = "line " + std::to_string(i) + "\n";
      expected += line;
      out << line << std::flush;
      got += drain(fds[0]);
    }
    // Some full blocks have gone out, the rest waits for the end.
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), expected.size() + 5);
    expected = "line\n" + expected;
    EXPECT_EQ(expected.compare(0, got.size(), got), 0);
    expected = expected.substr(got.size());
  }
  EXPECT_EQ(drain(fds[0]), expected);
}

TEST_F(OutputBuffer, LargeWritesPassThroughInOrder) {
  std::string big(600 * 1024, 'x');
  {
    mvscan::StdoutBuffer buf(fds[1], false);
    std::ostream out(&buf);
    out << "a" << big << "b";
  }
  EXPECT_EQ(drain(fds[0]), "a" + big + "b");
}

// A refused write (the reading end is gone) fails the stream instead of
// retrying for every line.
TEST_F(OutputBuffer, RefusedOutputFailsTheStream) {
  signal(SIGPIPE, SIG_IGN);
  close(fds[0]);
  fds[0] = open("/dev/null", O_RDONLY);
  mvscan::StdoutBuffer buf(fds[1], true);
  std::ostream out(&buf);
  out << "lost" << std::endl;
  EXPECT_TRUE(out.bad());
  signal(SIGPIPE, SIG_DFL);
}

}  // namespace
