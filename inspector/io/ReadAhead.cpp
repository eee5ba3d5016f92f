#include "io/ReadAhead.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <system_error>

#include "io/WorkerThread.h"

namespace morven {

namespace {

void hint(int fd, uint64_t from, uint64_t to) {
  // Only a hint: a failure changes nothing but the speed.
  (void)::posix_fadvise(fd, off_t(from), off_t(to - from), POSIX_FADV_WILLNEED);
}

}  // namespace

ReadAhead::~ReadAhead() {
  stopWorker(_thread, _shared, _process, &Shared::wake);
}

bool ReadAhead::threadHere() const {
  return _thread && _process == ::getpid();
}

void ReadAhead::ask(int fd, uint64_t from, uint64_t to) {
  if (from >= to) return;
  if (_process == 0) {
    // Tried once: a thread that cannot be had now will not be had later.
    _process = ::getpid();
    try {
      _shared = std::make_unique<Shared>();
      _thread = std::make_unique<std::thread>(&ReadAhead::run, std::ref(*_shared));
    } catch (const std::exception&) {
      // No thread (or no memory for one): every hint is given here.
    }
  }
  if (!threadHere()) {
    hint(fd, from, to);
    return;
  }
  Shared& s = *_shared;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.waiting && s.fd == fd) {
      s.from = std::min(s.from, from);
      s.to = std::max(s.to, to);
    } else {
      s.fd = fd;
      s.from = from;
      s.to = to;
    }
    s.waiting = true;
  }
  s.wake.notify_one();
}

void ReadAhead::forget() {
  if (!threadHere()) return;
  Shared& s = *_shared;
  std::unique_lock<std::mutex> lock(s.mutex);
  s.waiting = false;
  s.idle.wait(lock, [&s] { return !s.busy; });
}

void ReadAhead::run(Shared& s) {
  std::unique_lock<std::mutex> lock(s.mutex);
  for (;;) {
    s.wake.wait(lock, [&s] { return s.stop || s.waiting; });
    if (s.stop) return;
    const int fd = s.fd;
    const uint64_t from = s.from, to = s.to;
    s.waiting = false;
    s.busy = true;
    lock.unlock();
    hint(fd, from, to);
    lock.lock();
    s.busy = false;
    s.idle.notify_all();
  }
}

}  // namespace morven
