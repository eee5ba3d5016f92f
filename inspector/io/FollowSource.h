// A data file read while it is being written, as `tail -f` reads it.
//
// At the end of what the file holds so far a read does not end: it waits
// until the writer has appended more (woken by inotify, or by a look at
// the file's size every POLL_MS where inotify cannot be had), so a chunk
// that is not yet completely written is not damage but bytes still to
// come. The follow ends when it is stopped (stopFollowing(), which a
// signal handler may call) or when the file has not grown for the idle
// time; from then on the file reads to its end as a plain file does, and a
// chunk the writer left unfinished is a cut last chunk.
//
// A file that shrinks or is replaced (its name now leads to another file)
// while it is followed is a read error, with a message that says which.
// While it waits, the source calls the tick hook every interval, from the
// reading thread: the run writes its snapshots and status line there.
#ifndef MORVEN_FOLLOWSOURCE_H
#define MORVEN_FOLLOWSOURCE_H

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "io/ByteSource.h"
#include "io/FileReader.h"

namespace morven {

struct FollowSettings {
  // Stop once the file has not grown for this long; 0: never (only a stop).
  double idleSeconds = 0;
  // The tick hook's interval.
  double intervalSeconds = 2;
  std::function<void()> tick;
  // Asked at every wake of a wait (at least every interval): true ends the
  // follow, as stopFollowing() does, for this source alone (a Python
  // program's Ctrl-C, say). None: never.
  std::function<bool()> stopWanted;
  // Called when a read is about to wait for the writer: what the run has
  // written so far is handed on now (a display into a pipe), not when a
  // block fills. None: nothing.
  std::function<void()> waiting;
};

// Ends every follow of the process, now or at its next wait. Safe to call
// from a signal handler.
void stopFollowing();
// Whether stopFollowing() has been called.
bool followingStopped();

class FollowSource : public ByteSource {
 public:
  static constexpr int POLL_MS = 100;

  FollowSource(std::unique_ptr<FileReader> file, const std::string& path, FollowSettings settings);
  ~FollowSource() override;
  FollowSource(const FollowSource&) = delete;
  FollowSource& operator=(const FollowSource&) = delete;

  size_t read(void* dst, size_t n) override;
  bool skip(uint64_t n) override;
  bool knownSize(uint64_t&) const override { return false; }
  uint64_t position() const override { return _file->position(); }
  uint64_t readyBytes() const override;
  bool eof() const override { return _file->eof(); }
  bool error() const override { return _error || _file->error(); }
  std::string errorText() const override { return _errorText; }

 private:
  using Clock = std::chrono::steady_clock;
  // Waits until the file holds more than `have` bytes; false once the
  // follow has ended (stopped, idle, or the file shrank or was replaced).
  bool waitBeyond(uint64_t have);
  // The file's size now; false (and the error set) if it shrank below
  // what has been read or was replaced.
  bool sizeNow(uint64_t& size);
  void fail(const std::string& why);
  void tickIfDue();

  std::unique_ptr<FileReader> _file;
  std::string _path;
  FollowSettings _settings;
  int _inotify = -1;
  dev_t _device = 0;
  ino_t _inode = 0;
  bool _ended = false;
  bool _error = false;
  std::string _errorText;
  uint64_t _lastSize = 0;
  Clock::time_point _grown;  // when the file last grew
  Clock::time_point _ticked;
};

}  // namespace morven

#endif  // MORVEN_FOLLOWSOURCE_H
