// Failures to open a file, as Python exceptions: OSError with errno and
// file name when the system refused (the file is missing, unreadable, a
// directory), morven.FormatError when the file is there but is not a
// MORVEN data file (wrong header, fewer than 8 bytes).
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "Module.h"

namespace morven::python {

namespace {

struct FormatError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a failed open left: the errno and the inspector's last problem.
OpenFailure openFailure(Inspection& in, size_t before) {
  OpenFailure f;
  f.failed = true;
  f.errNo = errno;
  f.readError = in.inspector.walker().ferror();
  for (size_t i = before; i < in.problems.size(); ++i) {
    if (in.problems[i].kind == ProblemKind::ReadFailed)
      f.readFailure = problemMessage(in.problems[i]);
  }
  if (in.problems.size() > before) {
    f.message = problemMessage(in.problems.back());
    f.systemRefused = in.problems.back().kind == ProblemKind::OpenFailed ||
                      in.problems.back().kind == ProblemKind::StatFailed;
  }
  return f;
}

}  // namespace

OpenFailure openFile(Inspection& in, const std::string& path, bool reset) {
  const size_t before = in.problems.size();
  errno = 0;
  if (in.inspector.setFile(path, reset)) return OpenFailure();
  return openFailure(in, before);
}

OpenFailure openSource(Inspection& in, std::unique_ptr<ByteSource> source,
                       const std::string& name) {
  const size_t before = in.problems.size();
  errno = 0;
  if (in.inspector.setSource(std::move(source), name, true)) return OpenFailure();
  return openFailure(in, before);
}

void raiseOpenFailure(const std::string& path, const OpenFailure& failure) {
  const std::string& m = failure.message;
  if (!failure.readFailure.empty()) {
    PyErr_SetString(PyExc_OSError, failure.readFailure.c_str());
    throw py::error_already_set();
  }
  if (failure.systemRefused || failure.readError) {
    errno = failure.errNo != 0 ? failure.errNo : EIO;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
  }
  throw FormatError(path + ": " + (m.empty() ? "not a MORVEN data file" : m));
}

std::string pathString(const py::object& path) {
  std::string name = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  // The system would take the name only up to its first zero byte, and
  // open another file: refused as Python's open refuses it.
  if (name.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
  return name;
}

[[noreturn]] void raiseReadFailure(const std::vector<FileProblem>& problems,
                                   const std::string& path) {
  for (const FileProblem& p : problems) {
    if (p.kind == ProblemKind::ReadFailed) {
      PyErr_SetString(PyExc_OSError, problemMessage(p).c_str());
      throw py::error_already_set();
    }
  }
  // A plain file's read failed: the system's reason is gone by now.
  errno = EIO;
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
  throw py::error_already_set();
}

py::list problemList(const std::vector<FileProblem>& problems) {
  py::list list;
  for (const FileProblem& p : problems) list.append(py::make_tuple(p.offset, problemMessage(p)));
  return list;
}

void addFileErrors(py::module_& m) {
  py::register_exception<FormatError>(m, "FormatError", PyExc_ValueError).attr("__doc__") =
      "The file is not a MORVEN data file: its first 8 bytes are not the "
      "header \"MORVEN\\0\\0\", or it is shorter than that.";
}

}  // namespace morven::python
