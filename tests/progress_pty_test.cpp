// The progress line, through a pseudo-terminal: shown on standard error
// when that is a terminal, erased at the end and before any report text
// that goes to the same terminal, never on a file or pipe, never with
// --no-progress or while a display writes to the terminal; and standard
// output stays byte for byte what it is without it. The line shows at once
// here (MVSCAN_PROGRESS_DELAY_MS=0), rather than after a second.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"

namespace {

using namespace testing_files;

struct PtyRun {
  int status = -1;
  std::string terminal;  // everything written to the terminal
};

// Runs mvscan with standard error (and standard output, without outFile) on
// a new pseudo-terminal.
PtyRun runOnTerminal(const std::vector<std::string>& args, const std::string& dir,
                     const std::string& outFile = "") {
  PtyRun run;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return run;
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    setenv("MVSCAN_PROGRESS_DELAY_MS", "0", 1);
    if (!outFile.empty()) {
      const int fd = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) _exit(126);
      dup2(fd, 1);
      close(fd);
    }
    std::vector<char*> argv = {const_cast<char*>(MVSCAN_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(MVSCAN_BINARY, argv.data());
    _exit(127);
  }
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n > 0) {
      run.terminal.append(buf, size_t(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the child has closed the terminal
    }
  }
  close(master);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return run;
}

const std::string ERASE = "\r\033[K";

// The terminal's text with every drawing and erasing of the progress line
// taken out; each drawing must start where a line of the report has ended.
std::string withoutProgress(const std::string& terminal, int* drawings) {
  static const std::regex line("\r\033\\[K(mvscan: file [^\r\n]*)?");
  std::string rest;
  *drawings = 0;
  auto at = std::sregex_iterator(terminal.begin(), terminal.end(), line);
  size_t from = 0;
  for (; at != std::sregex_iterator(); ++at) {
    rest += terminal.substr(from, size_t(at->position()) - from);
    from = size_t(at->position() + at->length());
    if ((*at)[1].matched) {
      ++*drawings;
      EXPECT_TRUE(rest.empty() || rest.back() == '\n') << "drawn inside a line: " << rest;
    }
  }
  return rest + terminal.substr(from);
}

// A terminal shows "\n" as "\r\n".
std::string asOnTerminal(const std::string& text) {
  std::string t;
  for (char c : text) {
    if (c == '\n') t += '\r';
    t += c;
  }
  return t;
}

FileBuilder dataFile(size_t chunks) {
  FileBuilder b;
  b.header();
  for (size_t i = 0; i < chunks; ++i) b.chunk(morven::MVHDR_VX7TOATOT, {1ULL << 55, 2ULL << 55});
  return b;
}

TEST(Progress, OnTheTerminalWhileOutputGoesToAFile) {
  TempDir dir;
  dir.write("a.mv", dataFile(10));
  dir.write("b.mv", dataFile(3));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-p", "--no-image", "a.mv", "b.mv"},
        std::vector<std::string>{"-f", "a.mv", "b.mv"},
        std::vector<std::string>{"--json", "a.mv", "b.mv"}}) {
    SCOPED_TRACE(args[0]);
    const PtyRun run = runOnTerminal(args, dir.path(), dir.file("out"));
    EXPECT_EQ(run.status, 0);
    int drawings = 0;
    EXPECT_EQ(withoutProgress(run.terminal, &drawings), "");
    EXPECT_GE(drawings, 1);
    EXPECT_NE(run.terminal.find("mvscan: file 1/2, "), std::string::npos) << run.terminal;
    EXPECT_EQ(run.terminal.substr(run.terminal.size() - ERASE.size()), ERASE);
    // Standard output is what it is without a terminal.
    const RunResult plain = runMvscan(args, dir.path());
    EXPECT_EQ(readWholeFile(dir.file("out")), plain.out);
    EXPECT_EQ(plain.err, "");
  }
}

TEST(Progress, ErasedBeforeReportTextOnTheSameTerminal) {
  TempDir dir;
  dir.write("a.mv", dataFile(10));
  dir.write("b.mv", dataFile(3));
  const std::vector<std::string> args = {"-f", "a.mv", "b.mv"};
  const PtyRun run = runOnTerminal(args, dir.path());
  EXPECT_EQ(run.status, 0);
  int drawings = 0;
  EXPECT_EQ(withoutProgress(run.terminal, &drawings),
            asOnTerminal(runMvscan(args, dir.path()).out));
  EXPECT_GE(drawings, 1);
}

TEST(Progress, NotWithNoProgressNorForADisplayOnTheTerminal) {
  TempDir dir;
  dir.write("a.mv", dataFile(10));
  struct Case {
    std::vector<std::string> args;
    bool outputToFile;
  };
  for (const Case& c : {Case{{"--no-progress", "-p", "--no-image", "a.mv"}, true},
                        Case{{"-R", "a.mv"}, false}, Case{{"-P", "-C", "a.mv"}, false}}) {
    SCOPED_TRACE(c.args[0]);
    const PtyRun run = runOnTerminal(c.args, dir.path(), c.outputToFile ? dir.file("out") : "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.terminal.find("\033"), std::string::npos) << run.terminal;
    const std::string plain = runMvscan(c.args, dir.path()).out;
    EXPECT_EQ(c.outputToFile ? readWholeFile(dir.file("out")) : run.terminal,
              c.outputToFile ? plain : asOnTerminal(plain));
  }
}

// Standard error on a file or a pipe never gets the line.
TEST(Progress, NeverOnAFile) {
  TempDir dir;
  dir.write("a.mv", dataFile(10));
  setenv("MVSCAN_PROGRESS_DELAY_MS", "0", 1);
  const RunResult r = runMvscan({"-p", "--no-image", "a.mv"}, dir.path());
  unsetenv("MVSCAN_PROGRESS_DELAY_MS");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

}  // namespace
