// The progress line, through a pseudo-terminal: shown on standard error
// when that is a terminal, erased at the end and before any report text
// that goes to the same terminal, never on a file or pipe, never with
// --no-progress or while a display writes to the terminal; and standard
// output stays byte for byte what it is without it. The line shows at once
// here (MVSCAN_PROGRESS_DELAY_MS=0), rather than after a second.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "Progress.h"
#include "RunTool.h"
#include "TerminalScreen.h"
#include "format/MorvenFormat.h"

namespace {

using namespace testing_files;

struct PtyRun {
  int status = -1;
  std::string terminal;  // everything written to the terminal
};

// Runs mvscan with standard error (and standard output, without outFile) on
// a new pseudo-terminal, of columns columns when that is not 0 (a terminal
// that does not tell its width otherwise).
PtyRun runOnTerminal(const std::vector<std::string>& args, const std::string& dir,
                     const std::string& outFile = "", unsigned short columns = 0) {
  PtyRun run;
  int master = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  const pid_t pid = forkpty(&master, nullptr, nullptr, columns > 0 ? &size : nullptr);
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
  static const std::regex line("\r\033\\[K(mvscan: [^\r\n]*)?");
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

// Every drawing of the progress line in terminal, from offset from on.
std::vector<std::string> drawings(const std::string& terminal, size_t from = 0) {
  static const std::regex line("\r\033\\[K(mvscan: [^\r\n]*)");
  std::vector<std::string> found;
  for (auto at = std::sregex_iterator(terminal.begin() + long(from), terminal.end(), line);
       at != std::sregex_iterator(); ++at) {
    found.push_back((*at)[1]);
  }
  return found;
}

// On a narrow terminal the line is cut to fit, field by field, and never
// wraps: a wrapped line could not be erased, and its first part would stay
// on the screen after the run.
TEST(Progress, FitsANarrowTerminal) {
  TempDir dir;
  dir.write("a.mv", dataFile(10));
  dir.write("b.mv", dataFile(3));
  struct Case {
    std::vector<std::string> args;
    bool outputToFile;
  };
  for (unsigned short columns : {40, 20, 12}) {
    for (const Case& c :
         {Case{{"-p", "--no-image", "a.mv", "b.mv"}, true}, Case{{"-f", "a.mv", "b.mv"}, false}}) {
      SCOPED_TRACE(std::to_string(columns) + " columns, " + c.args[0]);
      const PtyRun run =
          runOnTerminal(c.args, dir.path(), c.outputToFile ? dir.file("out") : "", columns);
      EXPECT_EQ(run.status, 0);
      const std::vector<std::string> drawn = drawings(run.terminal);
      EXPECT_GE(drawn.size(), 1u);
      for (const std::string& d : drawn) EXPECT_LT(d.size(), size_t(columns)) << d;
      TerminalScreen screen(columns), plain(columns);
      EXPECT_TRUE(screen.write(run.terminal));
      plain.write(c.outputToFile ? "" : asOnTerminal(runMvscan(c.args, dir.path()).out));
      EXPECT_EQ(screen.text(), plain.text());
    }
  }
}

// A compressed file's size is known only once it has been read, but its
// compressed size from the start: the line counts its compressed bytes read
// of that size, with a total, a percentage and a time left.
TEST(Progress, ACompressedFileByItsCompressedBytes) {
  TempDir dir;
  dir.write("a.mv", dataFile(2000));
  ASSERT_EQ(runTool("/bin/sh", {"-c", "zstd -q -c a.mv > a.mv.zst"}, dir.path()).status, 0);
  const uintmax_t size = std::filesystem::file_size(dir.file("a.mv.zst"));
  ASSERT_LT(size, 1024u);
  const PtyRun run = runOnTerminal({"-p", "--no-image", "a.mv.zst"}, dir.path(), dir.file("out"));
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> drawn = drawings(run.terminal);
  ASSERT_GE(drawn.size(), 1u);
  for (const std::string& d : drawn) {
    EXPECT_TRUE(std::regex_match(
        d, std::regex("mvscan: file 1/1, [0-9]+ B of " + std::to_string(size) + " B(, .*)?")))
        << d;
  }
}

// The fields that fit, most important first.
TEST(Progress, TextByWidth) {
  const uint64_t MiB = 1 << 20;
  struct Case {
    int width;
    std::string line;
  };
  for (const Case& c : {
           Case{80, "mvscan: file 2/3, 40.0 MiB of 100.0 MiB, 10.0 MiB/s, 0:06 left"},
           Case{64, "mvscan: file 2/3, 40.0 MiB of 100.0 MiB, 10.0 MiB/s, 0:06 left"},
           Case{63, "mvscan: file 2/3, 40.0 MiB of 100.0 MiB, 10.0 MiB/s, 0:06 left"},
           Case{62, "mvscan: file 2/3, 40.0 MiB of 100.0 MiB, 0:06 left"},
           Case{51, "mvscan: file 2/3, 40.0 MiB of 100.0 MiB, 0:06 left"},
           Case{50, "mvscan: 40.0 MiB of 100.0 MiB, 0:06 left"},
           Case{41, "mvscan: 40.0 MiB of 100.0 MiB, 0:06 left"},
           Case{40, "mvscan: 40%, 0:06 left"},
           Case{23, "mvscan: 40%, 0:06 left"},
           Case{22, "mvscan: 40%"},
           Case{8, "mvscan:"},
           Case{2, "m"},
           Case{1, ""},
       }) {
    EXPECT_EQ(mvscan::ProgressLine::text(1, 3, 40 * MiB, 100 * MiB, 4, c.width), c.line) << c.width;
  }
}

// A terminal made narrower during the run: after SIGWINCH the line fits the
// new width. Standard output is a pipe read here bit by bit, which keeps the
// run going until a drawing after the change has come.
TEST(Progress, FollowsAResize) {
  TempDir dir;
  FileBuilder big;
  big.header();
  for (int c = 0; c < 16; ++c) big.chunk(morven::MVHDR_VX7TOATOT, std::vector<uint64_t>(65536, 7));
  dir.write("big.mv", big);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  int master = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 40;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    setenv("MVSCAN_PROGRESS_DELAY_MS", "0", 1);
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execl(MVSCAN_BINARY, MVSCAN_BINARY, "-R", "big.mv", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string terminal;
  bool terminalOpen = true, outputOpen = true;
  // Reads what the terminal has within waitMs; false when nothing came.
  const auto readTerminal = [&](int waitMs) {
    pollfd p{master, POLLIN, 0};
    if (!terminalOpen || poll(&p, 1, waitMs) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) terminalOpen = false;
    if (n > 0) terminal.append(buf, size_t(n));
    return n > 0;
  };
  // The first drawing, then quiet: the run waits for its output to be read.
  while (terminalOpen && drawings(terminal).empty()) readTerminal(1000);
  while (readTerminal(300)) {
  }
  const size_t resizedAt = terminal.size();
  size.ws_col = 20;
  ASSERT_EQ(ioctl(master, TIOCSWINSZ, &size), 0);
  char buf[16384];
  while (outputOpen || terminalOpen) {
    const bool paced = outputOpen && drawings(terminal, resizedAt).empty();
    if (outputOpen) {
      const ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0 && !(n < 0 && errno == EINTR)) outputOpen = false;
    }
    readTerminal(paced ? 2 : outputOpen ? 0 : 1000);
  }
  close(out[0]);
  close(master);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  for (const std::string& d : drawings(terminal.substr(0, resizedAt))) EXPECT_LT(d.size(), 40u);
  const std::vector<std::string> after = drawings(terminal, resizedAt);
  EXPECT_GE(after.size(), 1u);
  for (const std::string& d : after) EXPECT_LT(d.size(), 20u) << d;
  TerminalScreen screen(40);
  EXPECT_TRUE(screen.write(terminal.substr(0, resizedAt)));
  screen.resize(20);
  EXPECT_TRUE(screen.write(terminal.substr(resizedAt)));
  EXPECT_EQ(screen.text(), "");
}

}  // namespace
