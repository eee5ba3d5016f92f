// mvscan: inspects MORVEN data files of Vexar7 pixel-detector chips.
//
// main() sets up standard output (one buffer, a wide pipe) around the
// command line, and turns a report that could not be written into the exit
// status. Options are read in CommandLine.cpp; the runs are the inspector
// library's.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>

#include "CommandLine.h"
#include "Progress.h"
#include "StdoutBuffer.h"

namespace {

// A display of millions of lines often goes into a pipe (grep, less). With
// the pipe's default 64 KiB the writer and the reader take turns many
// thousands of times; a larger pipe halves the time of such a run. Best
// effort: where the system refuses, the pipe stays as it is.
void widenOutputPipe() {
#ifdef F_SETPIPE_SZ
  struct stat st;
  if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
  }
#endif
}

mvscan::StdoutBuffer& outputBuffer() {
  static mvscan::StdoutBuffer buffer(STDOUT_FILENO, ::isatty(STDOUT_FILENO) != 0);
  return buffer;
}

// All text of the program goes through this one stream on standard output.
std::ostream& output() {
  static std::ostream stream(&outputBuffer());
  return stream;
}

// A report that could not be written (a full disk) is not a completed run:
// say so on standard error, where the report itself cannot go, and end with
// status 2. A reader that went away (a closed pipe) needs no message.
int finish() {
  if (outputBuffer().writeOut()) return mvscan::EXIT_DONE;
  int err = outputBuffer().writeError();
  if (err != EPIPE)
    std::fprintf(stderr, "mvscan: cannot write standard output: %s\n", std::strerror(err));
  return mvscan::EXIT_RUN_FAILED;
}

}  // namespace

int main(int argc, char** argv) {
  widenOutputPipe();
  // The progress line goes to standard error, and only to a terminal; when
  // the report goes to the same terminal, each write of report text takes
  // the line off first.
  std::unique_ptr<mvscan::ProgressLine> progress;
  if (::isatty(STDERR_FILENO)) {
    progress = std::make_unique<mvscan::ProgressLine>(STDERR_FILENO,
                                                      mvscan::ProgressLine::delayFromEnvironment());
    if (::isatty(STDOUT_FILENO)) {
      mvscan::ProgressLine* line = progress.get();
      outputBuffer().setBeforeWrite([line] { line->erase(); });
    }
  }
  const int status = mvscan::commandLine(argc, argv, output(), progress.get());
  const int written = finish();
  outputBuffer().setBeforeWrite(nullptr);
  // A report that could not be written outweighs how the run went.
  return written != mvscan::EXIT_DONE ? written : status;
}
