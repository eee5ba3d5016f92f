// A Python binary file object as the byte source of a data file: anything
// with readinto (an open file, sys.stdin.buffer, gzip.open(...), a socket's
// makefile("rb")). It is read once, front to back, as a stream: steps over
// payloads read and drop, and the size is known at the end.
//
// The inspector reads without the GIL; each read takes it for the call of
// readinto. An exception of readinto is a read error whose message names
// it; the exception itself is cleared, as the read error says it.
#ifndef MORVEN_PYTHON_READINTOSOURCE_H
#define MORVEN_PYTHON_READINTOSOURCE_H

#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "io/ByteSource.h"

namespace morven::python {

namespace py = pybind11;

class ReadintoSource : public ByteSource {
 public:
  // Takes a reference to the object (with the GIL held).
  explicit ReadintoSource(py::object file) : _file(std::move(file)) {}
  ~ReadintoSource() override {
    py::gil_scoped_acquire gil;
    _file = py::object();
  }
  ReadintoSource(const ReadintoSource&) = delete;
  ReadintoSource& operator=(const ReadintoSource&) = delete;

  // Reads the first n bytes ahead (to tell a compressed stream), which the
  // next reads deliver again.
  size_t peek(unsigned char* dst, size_t n) {
    const size_t got = read(dst, n);
    _ahead.insert(0, reinterpret_cast<const char*>(dst), got);
    _position -= got;
    return got;
  }

  size_t read(void* dst, size_t n) override {
    size_t done = std::min(n, _ahead.size());
    if (done > 0) {
      std::memcpy(dst, _ahead.data(), done);
      _ahead.erase(0, done);
    }
    if (done == n || _eof || _error) {
      _position += done;
      return done;
    }
    py::gil_scoped_acquire gil;
    while (done < n) {
      // readinto fills at most what a memoryview of the rest holds.
      const size_t want = std::min<size_t>(n - done, size_t(1) << 30);
      PyObject* view =
          PyMemoryView_FromMemory(static_cast<char*>(dst) + done, Py_ssize_t(want), PyBUF_WRITE);
      if (view == nullptr) return fail(done);
      PyObject* got = PyObject_CallMethod(_file.ptr(), "readinto", "O", view);
      Py_DECREF(view);
      if (got == nullptr) return fail(done);
      // None is a non-blocking file without data now: waiting for it here
      // would spin, so such a file is refused, as is a count that is no
      // count of bytes.
      const bool none = got == Py_None;
      const Py_ssize_t k = none ? 0 : PyLong_AsSsize_t(got);
      Py_DECREF(got);
      if (k == -1 && PyErr_Occurred()) return fail(done);
      if (none)
        return fail(done, "readinto returned None (a non-blocking file): give a blocking one");
      if (k < 0 || size_t(k) > want) {
        return fail(done, "readinto returned " + std::to_string(k) + " for a buffer of " +
                              std::to_string(want) + " bytes");
      }
      if (k == 0) {
        _eof = true;
        break;
      }
      done += size_t(k);
    }
    _position += done;
    return done;
  }
  bool skip(uint64_t n) override {
    char scratch[65536];
    while (n > 0 && !_eof && !_error) {
      const size_t got = read(scratch, size_t(std::min<uint64_t>(n, sizeof scratch)));
      n -= got;
    }
    return true;
  }
  bool knownSize(uint64_t&) const override { return false; }
  uint64_t position() const override { return _position; }
  bool eof() const override { return _eof; }
  bool error() const override { return _error; }
  std::string errorText() const override { return _errorText; }

 private:
  // The exception of the call, as the read error's text (GIL held).
  size_t fail(size_t done, std::string what = "readinto failed") {
    if (PyErr_Occurred()) {
      py::error_already_set e;
      what = std::string("readinto raised ") + e.what();
    }
    _error = true;
    _eof = true;
    _errorText = what;
    _position += done;
    return done;
  }

  py::object _file;
  std::string _ahead;  // bytes peeked, not yet read
  uint64_t _position = 0;
  bool _eof = false;
  bool _error = false;
  std::string _errorText;
};

}  // namespace morven::python

#endif  // MORVEN_PYTHON_READINTOSOURCE_H
