// The module object morven and its parts.
#include <pybind11/eval.h>

#include "Module.h"
#include "format/MorvenFormat.h"
#include "text/Format.h"

namespace {

// The functions that a process pool or a distributed engine maps over
// files or results travel by pickle, by their name in the module;
// pybind11's own function objects do not pickle (their __self__ is a
// capsule), so these are Python functions of the module that call them.
const char* const PICKLABLE_SOURCE = R"PY(
def picklable(module, name, cls=None):
    owner = module if cls is None else cls
    run = getattr(owner, name)

    def call(*args, **kwargs):
        return run(*args, **kwargs)

    call.__name__ = name
    call.__qualname__ = name if cls is None else cls.__name__ + "." + name
    call.__module__ = module.__name__
    call.__doc__ = run.__doc__
    setattr(owner, name, call if cls is None else staticmethod(call))
)PY";

}  // namespace

PYBIND11_MODULE(morven, m) {
  using namespace morven::python;
  m.doc() = R"(MORVEN data files of Vexar7 pixel-detector chips, read by mvscan's own inspector.

  open(path)            a file: header, chunks, structural errors, packet words
  decode(words, layout) packet words to a numpy structured array of fields
  record_dtype(layout)  the dtype of those records (for decode's out=)
  statistics(paths)     the figures of mvscan -p; they add up (a + b, sum) as
                        mvscan --merge adds them, pickle, and load and save
                        statistics documents (Statistics)
  check_counters(paths) the findings of mvscan -q
  check_testgen(paths)  the findings of mvscan -Q

The library reads and decodes with the GIL released.)";
  m.attr("__version__") = morven::hexString(morven::VERSION_ID);
  addFileErrors(m);
  addFileObject(m);
  addPacketDecode(m);
  addRunResults(m);
  addPlot(m);
  py::dict scope;
  py::exec(PICKLABLE_SOURCE, scope);
  for (const char* name : {"statistics", "check_counters", "check_testgen"})
    scope["picklable"](m, name);
  for (const char* name : {"sum", "load"}) scope["picklable"](m, name, m.attr("Statistics"));
}
