// Read-ahead hints given from a thread of their own.
//
// A hint (posix_fadvise WILLNEED) is set up in the thread that gives it:
// the system takes the pages and queues their reads before it returns, and
// for the 16 MiB that the file reader asks for at a time that is long
// enough for the reader to run dry. Given here, the hints keep the disk a
// long way ahead while the reader goes on reading and its caller working.
//
// A process forked from one whose thread runs (a Python program's worker
// processes) has no such thread: there the hints are given by the caller,
// and the thread's state (its lock may have been held at the fork) is never
// touched.
#ifndef MORVEN_READAHEAD_H
#define MORVEN_READAHEAD_H

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
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
  // What the thread shares with the caller. In a forked process it is left
  // as it is, never destroyed: the copy of a lock or a wait of a thread
  // that does not run there cannot be taken apart.
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;  // a range waits, or stop
    std::condition_variable idle;  // the thread is done with a hint
    bool stop = false;
    bool busy = false;     // the thread gives a hint, outside the lock
    bool waiting = false;  // a range waits for the thread
    int fd = -1;
    uint64_t from = 0;
    uint64_t to = 0;
  };

  static void run(Shared& s);
  // The thread runs in this process (not in the one this was forked from).
  bool threadHere() const;

  std::unique_ptr<Shared> _shared;
  std::unique_ptr<std::thread> _thread;
  pid_t _process = 0;  // the process that started the thread
};

}  // namespace morven

#endif  // MORVEN_READAHEAD_H
