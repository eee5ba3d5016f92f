// Runs mvscan's whole command line in the test's own process
// (mvscan::commandLine on a string stream), for the golden cases that also
// run the binary: the same arguments, the same expected output and status.
// Standard error is caught in a file for the call, as runTool catches the
// binary's.
#ifndef MVSCAN_TESTS_RUNINPROCESS_H
#define MVSCAN_TESTS_RUNINPROCESS_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "RunTool.h"

namespace testing_files {

// Runs the command line with args in directory dir, where a statistics run
// writes its picture; the test's own directory is restored afterwards.
inline RunResult runInProcess(const std::vector<std::string>& args, const std::string& dir) {
  RunResult r;
  const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home < 0 || ::chdir(dir.c_str()) != 0) return r;
  std::string errPath = dir + "/.run-stderr-XXXXXX";
  const int errFd = ::mkstemp(errPath.data());
  std::fflush(stderr);
  const int savedErr = ::dup(2);
  if (errFd >= 0) ::dup2(errFd, 2);

  // The command line may permute its argument vector, as getopt does.
  std::vector<std::string> words = {"mvscan"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::ostringstream out;
  r.status = mvscan::commandLine(int(words.size()), argv.data(), out);
  r.out = out.str();

  std::fflush(stderr);
  if (savedErr >= 0) {
    ::dup2(savedErr, 2);
    ::close(savedErr);
  }
  if (errFd >= 0) {
    ::close(errFd);
    r.err = readWholeFile(errPath);
    ::unlink(errPath.c_str());
  }
  if (::fchdir(home) != 0) r.status = -1;
  ::close(home);
  return r;
}

}  // namespace testing_files

#endif  // MVSCAN_TESTS_RUNINPROCESS_H
