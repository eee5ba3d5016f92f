// The one output buffer of the program, on standard output.
//
// Every report line ends with a flush of the stream. On a terminal a flush
// writes at once, so each line reaches the screen as it ends. Into a file or
// a pipe the text is written in large blocks instead: a flush there costs no
// system call, which is what makes a display of millions of lines fast.
// The destructor writes whatever is left, and it runs on every way out of
// the program (a return from main and exit() alike).
#ifndef MVSCAN_STDOUTBUFFER_H
#define MVSCAN_STDOUTBUFFER_H

#include <cstddef>
#include <functional>
#include <memory>
#include <streambuf>

#include "text/LineWriter.h"

namespace mvscan {

class StdoutBuffer : public std::streambuf {
 public:
  // interactive: flush on every sync (a terminal); otherwise only when the
  // buffer is full and at the end.
  StdoutBuffer(int fd, bool interactive);
  ~StdoutBuffer() override;
  StdoutBuffer(const StdoutBuffer&) = delete;
  StdoutBuffer& operator=(const StdoutBuffer&) = delete;

  // Writes out everything buffered; false if the output refused it.
  bool writeOut();
  // The system's error number of the first refused write; 0 when none.
  int writeError() const { return _writeError; }
  // Called before each write to the output (to take a progress line off
  // the terminal that the text goes to).
  void setBeforeWrite(std::function<void()> hook) { _beforeWrite = std::move(hook); }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  static constexpr size_t kBufferSize = morven::OUTPUT_BLOCK_BYTES;

  bool writeAll(const char* data, size_t n);

  int _fd;
  bool _interactive;
  bool _failed = false;
  int _writeError = 0;
  std::unique_ptr<char[]> _buf;
  std::function<void()> _beforeWrite;
};

}  // namespace mvscan

#endif  // MVSCAN_STDOUTBUFFER_H
