// A display run piped into a reader that stops early (mvscan -R file | head -1)
// must end quietly: with the default action for SIGPIPE the process ends by
// that signal (or, when all it wrote fitted into the pipe, with status 0),
// and it writes nothing to standard error. With SIGPIPE ignored, as some
// shells and job runners start their children, the first refused write ends
// the run just as quietly, with the status of a report that could not be
// written, and the rest of the file is not read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"

using namespace testing_files;

namespace {

struct PipeRun {
  int wstatus = 0;
  std::string firstLine;
  std::string err;
  uint64_t bytesRead = 0;  // what the process read, files and all
};

// The bytes a process that has ended but is not reaped yet has read.
uint64_t bytesReadBy(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// Runs mvscan with its standard output into a pipe, reads the first line
// and closes the pipe, as head -1 does.
PipeRun runIntoClosedPipe(const std::vector<std::string>& args, const TempDir& dir,
                          bool ignoreSigpipe) {
  PipeRun run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  const std::string errPath = dir.file("stderr");
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, ignoreSigpipe ? SIG_IGN : SIG_DFL);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (e < 0 || chdir(dir.path().c_str()) != 0) _exit(126);
    dup2(fds[1], 1);
    dup2(e, 2);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv = {const_cast<char*>(MVSCAN_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(MVSCAN_BINARY, argv.data());
    _exit(127);
  }
  close(fds[1]);
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') run.firstLine += c;
  close(fds[0]);
  siginfo_t info;
  if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) == 0) run.bytesRead = bytesReadBy(pid);
  waitpid(pid, &run.wstatus, 0);
  run.err = readWholeFile(errPath);
  return run;
}

// 200000 packets: every display mode writes megabytes, far more than a
// pipe holds.
FileBuilder manyPackets() {
  std::vector<uint64_t> words;
  for (uint64_t i = 0; i < 200000; ++i) words.push_back(0x0287400000000000 + i);
  return FileBuilder().header().chunk(morven::MVHDR_VX7TOATOT, words);
}

struct PipeCase {
  std::string name;
  std::vector<std::string> options;
  std::string firstLine;
};

void PrintTo(const PipeCase& c, std::ostream* os) {
  *os << c.name;
}

const std::vector<PipeCase> PIPE_CASES = {
    {"Raw", {"-R"}, "=> Display pixels (using stride=1)"},
    {"Fields", {"-P"}, "=> Display pixels (using stride=1)"},
    {"RawFieldsCounter", {"-R", "-P", "-C"}, "=> Display pixels (using stride=1)"},
    {"TestGenLayout", {"-P", "-Q"}, "=> Display TestGenerator pixel format (#links=1)"},
    {"Stride3", {"-R", "-L", "3"}, "=> Display pixels (using stride=3)"},
};

class ClosedPipe : public ::testing::TestWithParam<PipeCase> {};

TEST_P(ClosedPipe, DefaultSigpipeEndsQuietly) {
  const PipeCase& c = GetParam();
  TempDir dir;
  std::vector<std::string> args = c.options;
  args.push_back(dir.write("many.mv", manyPackets()));
  PipeRun run = runIntoClosedPipe(args, dir, false);
  EXPECT_EQ(run.firstLine, c.firstLine);
  EXPECT_EQ(run.err, "");
  const bool killedByPipe = WIFSIGNALED(run.wstatus) && WTERMSIG(run.wstatus) == SIGPIPE;
  const bool exitedZero = WIFEXITED(run.wstatus) && WEXITSTATUS(run.wstatus) == 0;
  EXPECT_TRUE(killedByPipe || exitedZero) << "wait status " << run.wstatus;
}

// A data chunk of 256 MiB of zero packets, in a sparse file.
std::string writeLargeSparseFile(const TempDir& dir) {
  constexpr uint64_t words = uint64_t(32) << 20;
  const std::string path =
      dir.write("large.mv", FileBuilder().header().chunkHeader(morven::MVHDR_VX7TOATOT, words));
  std::filesystem::resize_file(path, 16 + words * 8);
  return path;
}

TEST_P(ClosedPipe, IgnoredSigpipeStopsAtTheRefusedWrite) {
  const PipeCase& c = GetParam();
  TempDir dir;
  std::vector<std::string> args = c.options;
  args.push_back(writeLargeSparseFile(dir));
  PipeRun run = runIntoClosedPipe(args, dir, true);
  EXPECT_EQ(run.firstLine, c.firstLine);
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(WIFEXITED(run.wstatus)) << "wait status " << run.wstatus;
  EXPECT_EQ(WEXITSTATUS(run.wstatus), 2);
  // One read piece of 16 MiB (and the pipe's worth of lines) was enough;
  // a run that went on would read all 256 MiB.
  EXPECT_GT(run.bytesRead, 0u);
  EXPECT_LT(run.bytesRead, uint64_t(48) << 20);
}

INSTANTIATE_TEST_SUITE_P(Display, ClosedPipe, ::testing::ValuesIn(PIPE_CASES),
                         [](const ::testing::TestParamInfo<PipeCase>& info) {
                           return info.param.name;
                         });

}  // namespace
