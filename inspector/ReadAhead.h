// Read-ahead hints given from a thread of their own.
//
// A hint (posix_fadvise WILLNEED) is set up in the thread that gives it:
// the system takes the pages and queues their reads before it returns, and
// for the 16 MiB that the file reader asks for at a time that is long
// enough for the reader to run dry. Given here, the hints keep the disk a
// long way ahead while the reader goes on reading and its caller working.
#ifndef MORVEN_READAHEAD_H
#define MORVEN_READAHEAD_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace morven {

class ReadAhead {
 public:
  ReadAhead() = default;
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Asks for the bytes [from, to) of the file open as fd in the background.
  // A range still waiting for the thread is widened rather than queued
  // behind. Without a thread to be had, the hint is given here.
  void ask(int fd, uint64_t from, uint64_t to);
  // Drops what still waits and returns once the hint being given (if any)
  // is done: after this, fd may be closed.
  void forget();

 private:
  void run();

  std::mutex _mutex;
  std::condition_variable _wake;  // a range waits, or stop
  std::condition_variable _idle;  // the thread is done with a hint
  std::thread _thread;
  bool _started = false;
  bool _stop = false;
  bool _busy = false;     // the thread gives a hint, outside the lock
  bool _waiting = false;  // a range waits for the thread
  int _fd = -1;
  uint64_t _from = 0;
  uint64_t _to = 0;
};

}  // namespace morven

#endif  // MORVEN_READAHEAD_H
