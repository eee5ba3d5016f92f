// A data file held in memory for the fuzz targets: the input bytes are
// written to an anonymous memory file, which the inspector then opens by
// its /proc path like any file on disk. Nothing touches the disk, and one
// memory file serves every input of a fuzzing run.
#ifndef MVSCAN_FUZZ_MEMORYFILE_H
#define MVSCAN_FUZZ_MEMORYFILE_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace mvscan_fuzz {

class MemoryFile {
 public:
  MemoryFile() {
    _fd = ::memfd_create("mvscan-fuzz", MFD_CLOEXEC);
    if (_fd < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    _path = "/proc/self/fd/" + std::to_string(_fd);
  }
  ~MemoryFile() { ::close(_fd); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Makes the file hold exactly these bytes: written over the old ones, then
  // cut to their size (cutting first would free every page of the file,
  // only to have the write allocate them again).
  void assign(const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
      ssize_t w = ::pwrite(_fd, data + done, size - done, off_t(done));
      if (w <= 0) std::abort();
      done += size_t(w);
    }
    if (::ftruncate(_fd, off_t(size)) != 0) std::abort();
  }

  const std::string& path() const { return _path; }

 private:
  int _fd = -1;
  std::string _path;
};

// The bytes of one fuzz input: a few leading option bytes, then the file.
class InputBytes {
 public:
  InputBytes(const uint8_t* data, size_t size) : _data(data), _size(size) {}

  // The next option byte, 0 once the input is used up.
  uint8_t take() {
    if (_pos >= _size) return 0;
    return _data[_pos++];
  }
  const uint8_t* rest() const { return _data + _pos; }
  size_t restSize() const { return _size - _pos; }

 private:
  const uint8_t* _data;
  size_t _size;
  size_t _pos = 0;
};

}  // namespace mvscan_fuzz

#endif  // MVSCAN_FUZZ_MEMORYFILE_H
