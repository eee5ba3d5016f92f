// Runs a program of the project (mvscan, mvgen) as a user would, with its
// standard output and standard error going to files, and collects both and
// the exit status.
#ifndef MVSCAN_TESTS_RUNTOOL_H
#define MVSCAN_TESTS_RUNTOOL_H

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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
  std::string base = dir.empty() ? std::string("/tmp") : dir;
  std::string outPath = base + "/.run-stdout";
  std::string errPath = base + "/.run-stderr";
  pid_t pid = fork();
  if (pid == 0) {
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) _exit(126);
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
