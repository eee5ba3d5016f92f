#include "StdoutBuffer.h"

#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace mvscan {

StdoutBuffer::StdoutBuffer(int fd, bool interactive)
    : _fd(fd), _interactive(interactive), _buf(new char[kBufferSize]) {
  setp(_buf.get(), _buf.get() + kBufferSize);
}

StdoutBuffer::~StdoutBuffer() {
  writeOut();
}

bool StdoutBuffer::writeAll(const char* data, size_t n) {
  // Once the output has refused data (a full disk, a closed pipe with
  // SIGPIPE ignored) the rest is dropped rather than retried for every line.
  if (n > 0 && !_failed && _beforeWrite) _beforeWrite();
  while (n > 0 && !_failed) {
    ssize_t w = ::write(_fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      _failed = true;
      _writeError = errno;
      break;
    }
    data += w;
    n -= size_t(w);
  }
  return !_failed;
}

bool StdoutBuffer::writeOut() {
  size_t n = size_t(pptr() - pbase());
  bool ok = writeAll(pbase(), n);
  setp(_buf.get(), _buf.get() + kBufferSize);
  return ok;
}

StdoutBuffer::int_type StdoutBuffer::overflow(int_type c) {
  if (!writeOut()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize StdoutBuffer::xsputn(const char* s, std::streamsize n) {
  size_t len = size_t(n);
  if (len <= size_t(epptr() - pptr())) {
    std::memcpy(pptr(), s, len);
    pbump(int(len));
    return n;
  }
  if (!writeOut()) return 0;
  if (len >= kBufferSize) return writeAll(s, len) ? n : 0;
  std::memcpy(pptr(), s, len);
  pbump(int(len));
  return n;
}

int StdoutBuffer::sync() {
  if (!_interactive) return _failed ? -1 : 0;
  return writeOut() ? 0 : -1;
}

}  // namespace mvscan
