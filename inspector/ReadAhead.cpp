#include "ReadAhead.h"

#include <fcntl.h>

#include <algorithm>
#include <system_error>

namespace morven {

namespace {

void hint(int fd, uint64_t from, uint64_t to) {
  // Only a hint: a failure changes nothing but the speed.
  (void)::posix_fadvise(fd, off_t(from), off_t(to - from), POSIX_FADV_WILLNEED);
}

}  // namespace

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _stop = true;
  }
  _wake.notify_one();
  if (_thread.joinable()) _thread.join();
}

void ReadAhead::ask(int fd, uint64_t from, uint64_t to) {
  if (from >= to) return;
  {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_started) {
      _started = true;
      try {
        _thread = std::thread(&ReadAhead::run, this);
      } catch (const std::system_error&) {
        // No thread: every hint is given by the reader, as it asks.
      }
    }
    if (_thread.joinable()) {
      if (_waiting && _fd == fd) {
        _from = std::min(_from, from);
        _to = std::max(_to, to);
      } else {
        _fd = fd;
        _from = from;
        _to = to;
      }
      _waiting = true;
    }
  }
  if (_thread.joinable()) {
    _wake.notify_one();
  } else {
    hint(fd, from, to);
  }
}

void ReadAhead::forget() {
  std::unique_lock<std::mutex> lock(_mutex);
  _waiting = false;
  _idle.wait(lock, [this] { return !_busy; });
}

void ReadAhead::run() {
  std::unique_lock<std::mutex> lock(_mutex);
  for (;;) {
    _wake.wait(lock, [this] { return _stop || _waiting; });
    if (_stop) return;
    const int fd = _fd;
    const uint64_t from = _from, to = _to;
    _waiting = false;
    _busy = true;
    lock.unlock();
    hint(fd, from, to);
    lock.lock();
    _busy = false;
    _idle.notify_all();
  }
}

}  // namespace morven
