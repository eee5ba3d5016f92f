// Runs a program of the project (mvscan, mvgen) as a user would, with its
// standard output and standard error going to files, and collects both and
// the exit status.
#ifndef MVSCAN_TESTS_RUNTOOL_H
#define MVSCAN_TESTS_RUNTOOL_H

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_files {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

inline std::string readWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Runs program with args in directory dir (the current one when empty).
// With stdinData, standard input is a pipe that delivers those bytes (keep
// them below the pipe's 64 KiB); otherwise it is /dev/null.
inline RunResult runTool(const std::string& program, const std::vector<std::string>& args,
                         const std::string& dir, const std::string* stdinData = nullptr) {
  RunResult r;
  int in[2] = {-1, -1};
  if (stdinData != nullptr && pipe(in) != 0) return r;
  // Output files of this run alone: tests run in parallel.
  std::string base = dir.empty() ? std::string("/tmp") : dir;
  std::string outPath = base + "/.run-stdout-XXXXXX";
  std::string errPath = base + "/.run-stderr-XXXXXX";
  int outFd = mkstemp(outPath.data());
  int errFd = mkstemp(errPath.data());
  if (outFd < 0 || errFd < 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    int o = outFd, e = errFd;
    if (stdinData != nullptr) {
      dup2(in[0], 0);
      close(in[0]);
      close(in[1]);
    } else {
      int n = open("/dev/null", O_RDONLY);
      if (n >= 0) dup2(n, 0);
    }
    dup2(o, 1);
    dup2(e, 2);
    close(o);
    close(e);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (stdinData != nullptr) {
    close(in[0]);
    ssize_t w = write(in[1], stdinData->data(), stdinData->size());
    (void)w;
    close(in[1]);
  }
  close(outFd);
  close(errFd);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = readWholeFile(outPath);
  r.err = readWholeFile(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return r;
}

inline RunResult runMvscan(const std::vector<std::string>& args, const std::string& dir,
                           const std::string* stdinData = nullptr) {
  return runTool(MVSCAN_BINARY, args, dir, stdinData);
}

}  // namespace testing_files

#endif  // MVSCAN_TESTS_RUNTOOL_H
