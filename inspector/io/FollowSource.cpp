#include "io/FollowSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace morven {

namespace {

// The stop request: a flag, and a pipe whose reading end a waiting follow
// polls, so that a stop wakes it at once. Both are set up before any
// follow waits, and a signal handler only stores and writes.
volatile std::sig_atomic_t stopRequested = 0;
std::atomic<int> stopPipeWrite{-1};
int stopPipeRead = -1;
std::once_flag stopPipeMade;

void makeStopPipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  stopPipeRead = fds[0];
  stopPipeWrite = fds[1];
}

// Waits longer than this only for a stop or a change of the file: even
// with inotify, the name is looked at again now and then (a file replaced
// by a rename onto its name tells nothing through the old file).
constexpr int LONGEST_WAIT_MS = 1000;

}  // namespace

void stopFollowing() {
  stopRequested = 1;
  const int fd = stopPipeWrite.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const char byte = 1;
    (void)!::write(fd, &byte, 1);
  }
}

bool followingStopped() {
  return stopRequested != 0;
}

FollowSource::FollowSource(std::unique_ptr<FileReader> file, const std::string& path,
                           FollowSettings settings)
    : _file(std::move(file)), _path(path), _settings(std::move(settings)) {
  std::call_once(stopPipeMade, makeStopPipe);
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    _device = st.st_dev;
    _inode = st.st_ino;
  }
  _inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (_inotify >= 0 && ::inotify_add_watch(_inotify, path.c_str(),
                                           IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF |
                                               IN_MOVE_SELF) < 0) {
    ::close(_inotify);
    _inotify = -1;
  }
  _file->size(_lastSize);
  _grown = _ticked = Clock::now();
}

FollowSource::~FollowSource() {
  if (_inotify >= 0) ::close(_inotify);
}

void FollowSource::fail(const std::string& why) {
  if (_error) return;
  _error = true;
  _ended = true;
  _errorText = why;
}

bool FollowSource::sizeNow(uint64_t& size) {
  if (!_file->size(size)) {
    fail("its size cannot be had any more");
    return false;
  }
  if (size < _lastSize) {
    fail("the file shrank from " + std::to_string(_lastSize) + " to " + std::to_string(size) +
         " bytes while it was followed");
    return false;
  }
  struct stat st;
  if (::stat(_path.c_str(), &st) != 0 || st.st_dev != _device || st.st_ino != _inode) {
    fail("the file was removed or replaced while it was followed");
    return false;
  }
  return true;
}

bool FollowSource::waitBeyond(uint64_t have) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const auto idle = std::chrono::duration<double>(_settings.idleSeconds);
  const auto interval = std::chrono::duration<double>(_settings.intervalSeconds);
  bool told = false;
  while (!_ended) {
    if (followingStopped() || (_settings.stopWanted && _settings.stopWanted())) {
      _ended = true;
      break;
    }
    uint64_t size;
    if (!sizeNow(size)) break;
    Clock::time_point now = Clock::now();
    if (size != _lastSize) {
      _lastSize = size;
      _grown = now;
    }
    if (size > have) return true;
    if (_settings.idleSeconds > 0 && now - _grown >= idle) {
      _ended = true;
      break;
    }
    if (now - _ticked >= interval) {
      if (_settings.tick) _settings.tick();
      // From the tick's end: a tick slower than the interval (a large page
      // on a slow machine) still leaves the reading its time.
      _ticked = now = Clock::now();
    }
    if (!told && _settings.waiting) _settings.waiting();
    told = true;
    // Until the next tick or the end of the idle time, whichever is first.
    auto until = _ticked + duration_cast<Clock::duration>(interval);
    if (_settings.idleSeconds > 0)
      until = std::min(until, _grown + duration_cast<Clock::duration>(idle));
    long ms = long(duration_cast<milliseconds>(until - now).count()) + 1;
    ms = std::clamp<long>(ms, 1, _inotify >= 0 ? LONGEST_WAIT_MS : POLL_MS);
    pollfd fds[2] = {{stopPipeRead, POLLIN, 0}, {_inotify, POLLIN, 0}};
    const int ready = ::poll(fds, _inotify >= 0 ? 2 : 1, int(ms));
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
      // The events only wake the wait; the file's size tells what changed.
      char events[4096];
      while (::read(_inotify, events, sizeof events) > 0) {
      }
    }
  }
  return false;
}

uint64_t FollowSource::readyBytes() const {
  // Once the follow has ended, a read never waits.
  uint64_t size = 0;
  if (_ended || _error || !_file->size(size)) return UINT64_MAX;
  return size > position() ? size - position() : 0;
}

void FollowSource::tickIfDue() {
  const Clock::time_point now = Clock::now();
  if (_ended || now - _ticked < std::chrono::duration<double>(_settings.intervalSeconds)) return;
  if (_settings.tick) _settings.tick();
  _ticked = Clock::now();
}

size_t FollowSource::read(void* dst, size_t n) {
  // A writer faster than the reader never lets it wait: the ticks come
  // from the reads then.
  tickIfDue();
  unsigned char* out = static_cast<unsigned char*>(dst);
  size_t done = 0;
  for (;;) {
    done += _file->read(out + done, n - done);
    if (done == n || _file->error() || _error) return done;
    // At the end of what the file holds: wait for the writer, then read on
    // (a step of 0 clears the end-of-file mark). Once the follow has
    // ended, the file reads on to its end once more and ends there.
    const bool more = !_ended && waitBeyond(position());
    if (_error) return done;
    _file->seekForward(0);
    if (!more) return done + _file->read(out + done, n - done);
  }
}

bool FollowSource::skip(uint64_t n) {
  tickIfDue();
  const uint64_t target = position() + n;
  uint64_t size = 0;
  while (!_ended && sizeNow(size) && size < target && waitBeyond(size)) {
  }
  if (_error) return true;
  if (_ended && _file->size(size) && size < target) {
    // The step ends at the end of the file, as a stream's does.
    _file->seekForward(size > position() ? size - position() : 0);
    _file->markEnd();
    return true;
  }
  return _file->seekForward(n);
}

}  // namespace morven
