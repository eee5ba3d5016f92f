// morven.statistics, morven.check_counters and morven.check_testgen: the
// pixel-scan runs of mvscan -p, -q and -Q over a list of files, by the very
// same run loop (scanFiles), with their figures and findings as Python
// objects and numpy arrays instead of report lines.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Module.h"
#include "format/ChunkTypes.h"
#include "format/Packet.h"
#include "run/Runs.h"

namespace morven::python {

namespace {

// The chip: 448 columns by 512 rows.
constexpr size_t CHIP_COLUMNS = 448;
constexpr size_t CHIP_ROWS = 512;

struct Statistics {
  uint64_t packets;
  py::array_t<uint64_t> typeCounts;
  py::array_t<uint64_t> hits;
  py::array_t<uint64_t> toa;
  py::dict chunkCounts;
  py::list structureErrors;
};

struct CheckResult {
  py::array errors;
  py::array runs;
  py::array heartbeatErrors;
  uint64_t idles;
  uint64_t heartbeats;
  uint64_t learned;
  uint64_t checked;
  uint64_t packets;
  py::list structureErrors;
};

std::vector<std::string> pathList(const py::object& paths) {
  std::vector<std::string> names;
  if (py::isinstance<py::str>(paths) || py::isinstance<py::bytes>(paths) ||
      py::hasattr(paths, "__fspath__")) {
    names.push_back(pathString(paths));
  } else {
    for (const py::handle& p : paths)
      names.push_back(pathString(py::reinterpret_borrow<py::object>(p)));
  }
  if (names.empty()) throw py::value_error("no file given");
  return names;
}

// Opens every file before the run, so that a file that cannot be read is
// told as an exception for that file rather than ending the run midway.
void checkFilesOpen(const std::vector<std::string>& names) {
  Inspection in(false);
  for (const std::string& name : names) {
    OpenFailure failure;
    {
      py::gil_scoped_release release;
      failure = openFile(in, name, true);
    }
    if (failure.failed) raiseOpenFailure(name, failure);
  }
}

// The pixel scan over the files, on the inspection, with the GIL released.
void scan(const RunSettings& s, const std::vector<std::string>& names, Inspection& in) {
  RunEnd end;
  {
    py::gil_scoped_release release;
    end = scanFiles(s, names, in.inspector, in.out);
  }
  // A file that went away or changed after the check above.
  if (end == RunEnd::FileFailed) checkFilesOpen(names);
  if (end != RunEnd::Completed) throw std::runtime_error("the run did not complete");
}

RunSettings readingSettings(uint64_t skip, bool reverseWords, bool reverseBytes, bool pelvan) {
  RunSettings s;
  s.pixelScan = true;
  s.imageBase = "";
  s.skipCount = skip;
  s.reverseWords = reverseWords;
  s.reverseBytes = reverseBytes;
  s.fromPelvan = pelvan;
  return s;
}

py::array_t<uint64_t> copyCounters(const uint64_t* counters, size_t n) {
  return py::array_t<uint64_t>({n}, {sizeof(uint64_t)}, counters);
}

// The hit counters laid out on the chip, [y][x], placed as in the picture.
py::array_t<uint64_t> hitMap(const uint64_t* counters) {
  py::array_t<uint64_t> hits({CHIP_ROWS, CHIP_COLUMNS});
  auto h = hits.mutable_unchecked<2>();
  for (uint64_t i = 0; i < N_PIXELS; ++i) {
    const PixelPlace b = pixelPlace(i), t = pixelPlace(PIXEL_INDEX_TOP_HALF + i);
    h(b.y, b.x) = counters[i];
    h(t.y, t.x) = counters[PIXEL_INDEX_TOP_HALF + i];
  }
  return hits;
}

Statistics statistics(const py::object& paths, uint64_t skip, bool reverseWords, bool reverseBytes,
                      bool pelvan, const py::object& frameBits) {
  RunSettings s = readingSettings(skip, reverseWords, reverseBytes, pelvan);
  if (!frameBits.is_none()) {
    s.frameBits = frameBits.cast<int>();
    if (s.frameBits != 8 && s.frameBits != 16) throw py::value_error("frame_bits must be 8 or 16");
  }
  const std::vector<std::string> names = pathList(paths);
  checkFilesOpen(names);
  Inspection in(true);
  scan(s, names, in);

  const DataInspector& d = in.inspector;
  py::dict chunkCounts;
  for (const auto& [key, count] : d.chunkTypeCounters())
    chunkCounts[py::str(chunkTypeName(key))] = count;
  return Statistics{d.pixelCounterTotal(),
                    copyCounters(d.typeCounters().data(), d.typeCounters().size()),
                    hitMap(d.pixelCounters()),
                    copyCounters(d.toaCounters(), VX7_TOA_VALUES),
                    chunkCounts,
                    problemList(in.problems)};
}

template <typename T>
py::array recordArray(const std::vector<T>& records) {
  return py::array_t<T>({records.size()}, {sizeof(T)}, records.data());
}

CheckResult check(const py::object& paths, int links, uint64_t skip, bool reverseWords,
                  bool reverseBytes, bool testGen) {
  if (links < 1 || links > 8) throw py::value_error("links must be 1 to 8");
  RunSettings s = readingSettings(skip, reverseWords, reverseBytes, false);
  s.testGen = testGen;
  s.counterCheck = !testGen;
  s.links = links;
  const std::vector<std::string> names = pathList(paths);
  checkFilesOpen(names);
  Inspection in(true);
  CheckFindings findings;
  in.inspector.setCheckFindings(&findings);
  scan(s, names, in);
  return CheckResult{recordArray(findings.errors),
                     recordArray(findings.runs),
                     recordArray(findings.heartbeatErrors),
                     findings.idles,
                     findings.heartbeats,
                     findings.learned,
                     findings.checked,
                     in.inspector.pixelCounterTotal(),
                     problemList(in.problems)};
}

const char* const READING_ARGS_DOC = R"(
paths          a file name or a list of them, read as one run
skip           words to pass over at the start of each file (mvscan -s)
reverse_words  swap the 32-bit halves of every word (mvscan -w)
reverse_bytes  reverse the bytes of every word (mvscan -r))";

const char* const CHECK_RESULT_DOC = R"(The findings of a check, as mvscan -q or -Q reports them.

errors            the error lines as a numpy structured array: packet (packets
                  read in the file when it came, this one included), link,
                  found, expected (the words; in a test-generator check the
                  pixel fields), pixel, expected_pixel, eoc, expected_eoc,
                  toa, expected_toa, fixed_wrong, fixed, has_jumps,
                  pixel_jump, toa_jump, since_previous
runs              the runs of two or more errors: link, length, packet,
                  at_end (closed by the end of the file)
heartbeat_errors  test-generator heartbeats out of sequence: packet, found,
                  expected
idles, heartbeats the idle words and test-generator heartbeats passed over
learned           words read while learning where each link stands
checked           words judged after that; 0: nothing was checked
packets           words read in all files (mvscan's "Total 'packets'")
structure_errors  the chunk walk's problems, (offset, message) pairs, as the
                  file check reports them (a data chunk cut short included))";

}  // namespace

void addRunResults(py::module_& m) {
  PYBIND11_NUMPY_DTYPE_EX(
      CheckError, packet, "packet", link, "link", found, "found", expected, "expected", pixel,
      "pixel", expectedPixel, "expected_pixel", eoc, "eoc", expectedEoc, "expected_eoc", toa, "toa",
      expectedToa, "expected_toa", fixedWrong, "fixed_wrong", fixed, "fixed", hasJumps, "has_jumps",
      pixelJump, "pixel_jump", toaJump, "toa_jump", sincePrevious, "since_previous");
  PYBIND11_NUMPY_DTYPE_EX(ErrorRun, link, "link", length, "length", packet, "packet", atEnd,
                          "at_end");
  PYBIND11_NUMPY_DTYPE_EX(HeartbeatError, packet, "packet", found, "found", expected, "expected");

  py::class_<Statistics>(m, "Statistics",
                         R"(The figures of a statistics run, as mvscan -p gathers them.

packets           words read in all files (mvscan's "Total pixelpackets")
type_counts       numpy array of 256: packets per type byte (EoC block 0..223,
                  control code 224..255), the figures of mvscan -e
hits              numpy array [y, x] of 512 by 448: hits per pixel, the counts
                  behind mvscan's picture (row 0 is the picture's bottom row)
toa               numpy array of 65536: hits of ToA/ToT chunks per ToA value
chunk_counts      accepted chunks per type name, as mvscan's chunk counters
structure_errors  the chunk walk's problems, (offset, message) pairs, as the
                  file check reports them (a data chunk cut short included))")
      .def_readonly("packets", &Statistics::packets,
                    "Words read in all files, skipped ones included (\"Total pixelpackets\"; "
                    "JSON report: statistics.packets).")
      .def_readonly("type_counts", &Statistics::typeCounts,
                    "numpy array of 256: packets per type byte, the -e list (JSON report: "
                    "statistics.types[].count, where types[i].type is i).")
      .def_readonly("hits", &Statistics::hits,
                    "numpy array [y, x] of 512 by 448: hits per pixel, row 0 the picture's "
                    "bottom row (JSON report: statistics.hits, [pixel, x, y, count] of the pixels "
                    "with hits).")
      .def_readonly("toa", &Statistics::toa,
                    "numpy array of 65536: hits of ToA/ToT chunks per ToA value (JSON report: "
                    "statistics.toa.counts, [toa, count] of the values with hits).")
      .def_readonly("chunk_counts", &Statistics::chunkCounts,
                    "Accepted chunks per type name, a dict (JSON report: statistics.chunk_counts, "
                    "[{type, type_number, count}]).")
      .def_readonly("structure_errors", &Statistics::structureErrors,
                    "The chunk walk's problems of all files as (offset, message) pairs (JSON "
                    "report: files[].errors, per file).")
      .def(
          "__repr__",
          [](const Statistics& s) {
            return "<morven.Statistics " + std::to_string(s.packets) + " packets>";
          },
          "The packet total.");

  py::class_<CheckResult>(m, "CheckResult", CHECK_RESULT_DOC)
      .def_readonly("errors", &CheckResult::errors,
                    "The error lines as a numpy structured array, see the class (JSON report: "
                    "files[].check.errors).")
      .def_readonly("runs", &CheckResult::runs,
                    "The runs of two or more errors: link, length, packet, at_end (JSON report: "
                    "files[].check.error_runs).")
      .def_readonly("heartbeat_errors", &CheckResult::heartbeatErrors,
                    "Test-generator heartbeats out of sequence: packet, found, expected (JSON "
                    "report: files[].check.heartbeat_errors).")
      .def_readonly("idles", &CheckResult::idles,
                    "Idle words passed over (JSON report: files[].check.idles).")
      .def_readonly("heartbeats", &CheckResult::heartbeats,
                    "Test-generator heartbeats passed over (JSON report: "
                    "files[].check.heartbeats, totals.heartbeats).")
      .def_readonly("learned", &CheckResult::learned,
                    "Words read while learning where each link stands (JSON report: "
                    "files[].check.learned).")
      .def_readonly("checked", &CheckResult::checked,
                    "Words judged after that; 0: nothing was checked (JSON report: "
                    "files[].check.checked).")
      .def_readonly("packets", &CheckResult::packets,
                    "Words read in all files (\"Total 'packets'\"; JSON report: "
                    "totals.packets).")
      .def_readonly("structure_errors", &CheckResult::structureErrors,
                    "The chunk walk's problems of all files as (offset, message) pairs (JSON "
                    "report: files[].errors, per file).")
      .def_property_readonly(
          "anything_checked", [](const CheckResult& r) { return r.checked != 0; },
          "False when nothing was checked (mvscan: \"Nothing was actually checked\"; JSON "
          "report: totals.anything_checked).")
      .def(
          "__repr__",
          [](const CheckResult& r) {
            return "<morven.CheckResult " + std::to_string(py::len(r.errors)) + " errors in " +
                   std::to_string(r.checked) + " words checked>";
          },
          "The number of errors and of words checked.");

  m.def("statistics", &statistics, py::arg("paths"), py::arg("skip") = 0,
        py::arg("reverse_words") = false, py::arg("reverse_bytes") = false,
        py::arg("pelvan") = false, py::arg("frame_bits") = py::none(),
        (std::string("The statistics of mvscan -p over the files, by the same run; a "
                     "morven.Statistics.\n") +
         READING_ARGS_DOC +
         "\npelvan         the stream is in 1 KiB Pelvan blocks (mvscan -W)"
         "\nframe_bits     8 or 16: take the data as frame data (mvscan -F)"
         "\n\nRaises OSError or morven.FormatError for a file that cannot be read.")
            .c_str());
  m.def(
      "check_counters",
      [](const py::object& paths, int links, uint64_t skip, bool reverseWords, bool reverseBytes) {
        return check(paths, links, skip, reverseWords, reverseBytes, false);
      },
      py::arg("paths"), py::arg("links") = 1, py::arg("skip") = 0, py::arg("reverse_words") = false,
      py::arg("reverse_bytes") = false,
      (std::string("The counter check of mvscan -q: one incrementing 64-bit counter per link, "
                   "the links taking turns word by word; a morven.CheckResult.\n") +
       READING_ARGS_DOC + "\nlinks          1 to 8 (mvscan -L)")
          .c_str());
  m.def(
      "check_testgen",
      [](const py::object& paths, int links, uint64_t skip, bool reverseWords, bool reverseBytes) {
        return check(paths, links, skip, reverseWords, reverseBytes, true);
      },
      py::arg("paths"), py::arg("links") = 1, py::arg("skip") = 0, py::arg("reverse_words") = false,
      py::arg("reverse_bytes") = false,
      (std::string("The test-generator check of mvscan -Q: the generator's pixel pattern on "
                   "1 to 8 links; a morven.CheckResult.\n") +
       READING_ARGS_DOC + "\nlinks          1 to 8 (mvscan -L)")
          .c_str());
}

}  // namespace morven::python
