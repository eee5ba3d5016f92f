// The Python module morven: the parts of the module and what they share.
//
// Every figure the module hands out comes from the inspector library (the
// chunk walk, the packet stream, the runs and the packet decoder); the
// module only moves it into Python objects and numpy arrays. The library
// reads and decodes with the GIL released, so several Python threads can
// read several files at once.
//
//   Module.cpp        the module object and its docstring
//   FileObject.cpp    morven.open: header, chunks, structural errors, packets
//   PacketDecode.cpp  morven.decode: packet words to a numpy structured array
//   RunResults.cpp    morven.statistics, check_counters, check_testgen
//   StatisticsSum.cpp Statistics: sums, documents, pickling, report, picture
//   FileErrors.cpp    failures to open a file as Python exceptions
#ifndef MORVEN_PYTHON_MODULE_H
#define MORVEN_PYTHON_MODULE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "scan/DataInspector.h"

namespace morven::python {

namespace py = pybind11;

void addFileErrors(py::module_& m);
void addFileObject(py::module_& m);
void addPacketDecode(py::module_& m);
void addRunResults(py::module_& m);
// Statistics.plot (Plot.cpp); after addRunResults.
void addPlot(py::module_& m);

// The inspector writes its report lines to a stream; the module takes the
// same findings as data (problem sink, tallies, check findings), so the
// lines go to a stream that accepts everything and keeps nothing. It must
// not refuse writes: a refused write ends a run.
class DiscardingStream : public std::ostream {
 public:
  DiscardingStream() : std::ostream(&_buffer) {}

 private:
  struct Buffer : std::streambuf {
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };
  Buffer _buffer;
};

// An inspector of the module's own, with its report discarded and every
// structural problem collected in problems.
struct Inspection {
  explicit Inspection(bool readBuffer) : inspector(readBuffer) {
    inspector.setProblemSink([this](const FileProblem& p) { problems.push_back(p); });
  }
  DiscardingStream out;
  std::vector<FileProblem> problems;
  DataInspector inspector;
  // Held while the inspector works without the GIL: two Python threads may
  // call the same iterator.
  std::mutex busy;
};

// How a file failed to open, taken while the GIL is released and raised
// once it is held again.
struct OpenFailure {
  bool failed = false;
  int errNo = 0;               // errno right after the failure
  bool readError = false;      // the header read failed (rather than ended early)
  bool systemRefused = false;  // the system refused to open or stat the file
  std::string message;         // the inspector's problem text
  std::string readFailure;     // why a stream could not be read (a damaged zstd file, say)
};

// setFile on the inspection (GIL released by the caller); what went wrong,
// if anything.
OpenFailure openFile(Inspection& in, const std::string& path, bool reset);
// The same for a file read from a source of the caller's, named name.
OpenFailure openSource(Inspection& in, std::unique_ptr<ByteSource> source, const std::string& name);
// Raises OSError (errno, file name) for a file that could not be opened or
// read, morven.FormatError for one that is not a MORVEN data file.
[[noreturn]] void raiseOpenFailure(const std::string& path, const OpenFailure& failure);

// A file name given as str, bytes or os.PathLike, in the file system's
// encoding; ValueError for a name with a zero byte in it.
std::string pathString(const py::object& path);

// Raises OSError for a file whose reading failed: the message of its read
// error (a damaged compressed stream: what and where), or EIO with the
// file's name.
[[noreturn]] void raiseReadFailure(const std::vector<FileProblem>& problems,
                                   const std::string& path);

// The structural problems as a list of (offset, message) tuples.
py::list problemList(const std::vector<FileProblem>& problems);

}  // namespace morven::python

#endif  // MORVEN_PYTHON_MODULE_H
