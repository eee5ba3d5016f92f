// The end of a thread that a source runs beside the reader (decompression,
// read-ahead hints), sharing a state with a mutex and a stop flag.
//
// A process forked from one whose thread runs has a copy of the source but
// not the thread: there the thread is neither joined nor woken, and the
// shared state (its lock may have been held at the fork) is let go without
// being touched.
#ifndef MORVEN_WORKERTHREAD_H
#define MORVEN_WORKERTHREAD_H

#include <sys/types.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace morven {

// Stops the thread that process started: the stop flag set, the thread
// woken on wake and joined.
template <typename Shared>
void stopWorker(std::unique_ptr<std::thread>& thread, std::unique_ptr<Shared>& shared,
                pid_t process, std::condition_variable Shared::*wake) {
  if (!thread) return;
  if (::getpid() != process) {
    (void)thread.release();
    (void)shared.release();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->stop = true;
  }
  ((*shared).*wake).notify_all();
  thread->join();
  thread.reset();
}

}  // namespace morven

#endif  // MORVEN_WORKERTHREAD_H
