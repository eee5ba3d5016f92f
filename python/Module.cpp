// The module object morven and its parts.
#include "Module.h"
#include "format/MorvenFormat.h"
#include "text/Format.h"

PYBIND11_MODULE(morven, m) {
  using namespace morven::python;
  m.doc() = R"(MORVEN data files of Vexar7 pixel-detector chips, read by mvscan's own inspector.

  open(path)            a file: header, chunks, structural errors, packet words
  decode(words, layout) packet words to a numpy structured array of fields
  statistics(paths)     the figures of mvscan -p
  check_counters(paths) the findings of mvscan -q
  check_testgen(paths)  the findings of mvscan -Q

The library reads and decodes with the GIL released.)";
  m.attr("__version__") = morven::hexString(morven::VERSION_ID);
  addFileErrors(m);
  addFileObject(m);
  addPacketDecode(m);
  addRunResults(m);
  addPlot(m);
}
