// morven.statistics, morven.check_counters and morven.check_testgen: the
// pixel-scan runs of mvscan -p, -q and -Q over a list of files, by the very
// same run loop (scanFiles), with their figures and findings as Python
// objects and numpy arrays instead of report lines.
#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "Module.h"
#include "Statistics.h"
#include "format/ChunkTypes.h"
#include "format/Packet.h"
#include "report/QuickLook.h"
#include "run/JsonReport.h"
#include "run/RunReport.h"
#include "run/Runs.h"
#include "scan/PacketTally.h"

namespace morven::python {

namespace {

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

// A run that did not complete, as the exception of its cause: OSError for
// a file that could not be opened or read (a damaged compressed one), with
// the file's name and the reason; morven.FormatError for one that is not a
// MORVEN data file.
[[noreturn]] void raiseRunEnd(RunEnd end, const std::vector<std::string>& names,
                              const Inspection& in) {
  // A file that went away or changed after the check before the run.
  if (end == RunEnd::FileFailed) checkFilesOpen(names);
  const std::string name = names.size() > 1 ? "one of the files" : names[0];
  if (end == RunEnd::ReadFailed || in.problems.empty()) raiseReadFailure(in.problems, name);
  // The file failed in the run but passed the check since: its problem.
  const FileProblem& p = in.problems.back();
  OpenFailure failure;
  failure.failed = true;
  failure.message = problemMessage(p);
  failure.systemRefused = p.kind == ProblemKind::OpenFailed || p.kind == ProblemKind::StatFailed;
  raiseOpenFailure(p.file.empty() ? name : p.file, failure);
}

// The pixel scan over the files, on the inspection, with the GIL released.
void scan(const RunSettings& s, const std::vector<std::string>& names, Inspection& in,
          CheckFindings* findings = nullptr) {
  RunEnd end;
  {
    py::gil_scoped_release release;
    end = scanFiles(s, names, in.inspector, in.out, true, findings);
  }
  if (end != RunEnd::Completed) raiseRunEnd(end, names, in);
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

// The hot pixels as rows of x, y, pixel index, count.
py::array_t<uint64_t> hotPixelRows(const std::vector<HotPixel>& hot) {
  py::array_t<uint64_t> rows({hot.size(), size_t(4)});
  auto r = rows.mutable_unchecked<2>();
  for (size_t i = 0; i < hot.size(); ++i) {
    r(i, 0) = hot[i].x, r(i, 1) = hot[i].y, r(i, 2) = hot[i].index, r(i, 3) = hot[i].count;
  }
  return rows;
}

void addQuickLook(Statistics& st, const QuickLook& q) {
  st.hitMap = hitMap(q.hits.data());
  st.toaHits = copyCounters(q.toas.data(), q.toas.size());
  st.tot = copyCounters(q.tots.data(), q.tots.size());
  std::vector<uint64_t> lows(PC_COUNTERS);
  for (size_t b = 0; b < PC_COUNTERS; ++b) lows[b] = pcBinLow(b);
  st.pcBins = copyCounters(lows.data(), lows.size());
  st.pcCounts = copyCounters(q.pcs.data(), q.pcs.size());
  st.hitTotal = q.hitTotal, st.idle = q.idle, st.empty = q.empty;
  st.frameWords = q.frameWords, st.median = q.median;
  for (const std::vector<uint64_t>& file : q.chunkHits)
    st.chunkHits.append(copyCounters(file.data(), file.size()));
  st.hotPixels = hotPixelRows(q.hot);
  for (const DeadBlock& d : q.dead)
    st.deadBlocks.append(py::make_tuple(d.top ? "top" : "bottom", d.eoc));
}

// The statistics run over the files, on the inspection, with the GIL
// released; its statistics document (mvscan -p --json --no-image) goes to
// document.
void scanStatistics(const RunSettings& s, const std::vector<std::string>& names, Inspection& in,
                    std::ostream& document) {
  RunEnd end;
  {
    py::gil_scoped_release release;
    JsonReport report(s, document);
    in.inspector.setProblemSink([&](const FileProblem& p) {
      in.problems.push_back(p);
      report.problem(p);
    });
    end = runFiles(s, names, in.inspector, report);
    report.runEnded(end);
  }
  if (end != RunEnd::Completed) raiseRunEnd(end, names, in);
}

// What a statistics object of these files came from, for messages.
std::string sourceOf(const std::vector<std::string>& names) {
  if (names.size() == 1) return "the statistics of " + names[0];
  return "the statistics of " + names[0] + " and " + std::to_string(names.size() - 1) +
         " more files";
}

Statistics statistics(const py::object& paths, uint64_t skip, bool reverseWords, bool reverseBytes,
                      bool pelvan, const py::object& frameBits, double hotFactor) {
  if (!(hotFactor > 1)) throw py::value_error("hot_factor must be above 1");
  RunSettings s = readingSettings(skip, reverseWords, reverseBytes, pelvan);
  if (!frameBits.is_none()) {
    s.frameBits = frameBits.cast<int>();
    if (s.frameBits != 8 && s.frameBits != 16) throw py::value_error("frame_bits must be 8 or 16");
  }
  const std::vector<std::string> names = pathList(paths);
  checkFilesOpen(names);
  Inspection in(true);
  in.inspector.tallies().keepHits(true);
  std::ostringstream document;
  scanStatistics(s, names, in, document);
  Statistics st = figuresOf(in.inspector, problemList(in.problems), hotFactor);
  st.document = std::move(document).str();
  st.source = sourceOf(names);
  return st;
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
  scan(s, names, in, &findings);
  return CheckResult{recordArray(findings.errors),
                     recordArray(findings.runs),
                     recordArray(findings.heartbeatErrors),
                     findings.idles,
                     findings.heartbeats,
                     findings.learned,
                     findings.checked,
                     in.inspector.stream().delivered(),
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

// The class morven.Statistics.
void bindStatistics(py::module_& m) {
  py::class_<Statistics> c(m, "Statistics",
                           R"(The figures of a statistics run, as mvscan -p gathers them.

packets           words read in all files (mvscan's "Total pixelpackets")
type_counts       numpy array of 256: packets per type byte (EoC block 0..223,
                  control code 224..255), the figures of mvscan -e
hits              numpy array [y, x] of 512 by 448: hits per pixel, the counts
                  behind mvscan's picture (row 0 is the picture's bottom row)
toa               numpy array of 65536: hits of ToA/ToT chunks per ToA value
chunk_counts      accepted chunks per type name, as mvscan's chunk counters
structure_errors  the chunk walk's problems, (offset, message) pairs, as the
                  file check reports them (a data chunk cut short included)

The figures of the quick-look page (mvscan --html), hits only: whole-word
IDLE words, empty packets and the words of frame-data chunks left out.
hit_map           numpy array [y, x] of 512 by 448: hits per pixel
toa_hits          numpy array of 65536: hits per ToA value
tot               numpy array of 2048: hits of ToA/ToT chunks per ToT value
pc_bins, pc_counts  the counts of counting (PC24) hits: the lowest count of
                  each bin (one value below 16, eighths of an octave above)
                  and the hits in it
hit_total         hits in all
idle, empty, frame_words  the words left out
chunk_hits        per file, a numpy array of the hits of each data chunk
hot_pixels        numpy array of rows x, y, pixel index, count, by count:
                  pixels with more than hot_factor times the median count
                  of the 24 around them (at least 1)
median            the median count of the hit pixels
dead_blocks       (half, EoC block) of blocks without a hit whose
                  neighbours in that half have hits
plot()            matplotlib figure of the hit map and the spectra
hot_factor        the factor the hot pixels were found with

Statistics add up as mvscan --merge adds statistics documents: a + b,
sum([...]), Statistics.sum([...]) are the statistics of one run over all
their files, exactly, and are refused (ValueError) where --merge refuses
(different skip or reversals, a file counted twice, a sum beyond 64 bits).
They pickle, and to_json(), save(path) and Statistics.load(path or text)
carry them as the documents of mvscan -p --json; report() is the text of
mvscan --merge, save_image(path) its picture.)");
  c.def_readonly("packets", &Statistics::packets,
                 "Words read in all files, skipped ones included (\"Total pixelpackets\"; JSON "
                 "report: statistics.packets).")
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
                    "The chunk walk's problems of all files as (offset, message) pairs, a data "
                    "chunk cut short by the end of its file included (JSON report: "
                    "files[].errors, per file).")
      .def_readonly(
          "hit_map", &Statistics::hitMap,
          "numpy array [y, x] of 512 by 448: hits per pixel of the quick-look page, IDLE and empty "
          "words and frame data left out (JSON report: statistics.hits less those words).")
      .def_readonly("toa_hits", &Statistics::toaHits,
                    "numpy array of 65536: hits per ToA value, the page's ToA spectrum.")
      .def_readonly("tot", &Statistics::tot,
                    "numpy array of 2048: hits of ToA/ToT chunks per ToT value (JSON report: "
                    "statistics.tot).")
      .def_readonly("pc_bins", &Statistics::pcBins,
                    "numpy array: the lowest count of each bin of the counting (PC24) spectrum.")
      .def_readonly("pc_counts", &Statistics::pcCounts,
                    "numpy array: the hits in each bin of pc_bins (JSON report: statistics.pc).")
      .def_readonly("hit_total", &Statistics::hitTotal, "Hits in all: the sum of hit_map.")
      .def_readonly("idle", &Statistics::idle,
                    "Whole-word IDLE words, left out of the hits (JSON report: statistics.idle).")
      .def_readonly("empty", &Statistics::empty,
                    "Empty packets, left out of the hits (JSON report: statistics.empty).")
      .def_readonly(
          "frame_words", &Statistics::frameWords,
          "Words of frame-data chunks, left out of the hits (JSON report: statistics.frame_hits).")
      .def_readonly("median", &Statistics::median, "The median count of the hit pixels.")
      .def_readonly("chunk_hits", &Statistics::chunkHits,
                    "Per file, a numpy array of the hits of each data chunk (JSON report: "
                    "statistics.chunk_hits).")
      .def_readonly("hot_pixels", &Statistics::hotPixels,
                    "numpy array of rows x, y, pixel index, count, by count: the hot pixels "
                    "(mvscan --hot-pixels).")
      .def_readonly(
          "dead_blocks", &Statistics::deadBlocks,
          "(half, EoC block) of the blocks without a hit whose neighbours in that half have hits.")
      .def(
          "__repr__",
          [](const Statistics& s) {
            return "<morven.Statistics " + std::to_string(s.packets) + " packets>";
          },
          "The packet total.");
  defineStatisticsSums(c);
}

}  // namespace

Statistics figuresOf(const DataInspector& d, py::list structureErrors, double hotFactor) {
  py::dict chunkCounts;
  for (const auto& [key, count] : d.walker().chunkTypeCounters())
    chunkCounts[py::str(chunkTypeName(key))] = count;
  Statistics st;
  st.packets = d.stream().delivered();
  st.typeCounts = copyCounters(d.tallies().types.data(), d.tallies().types.size());
  st.hits = hitMap(d.tallies().pixels.get());
  st.toa = copyCounters(d.tallies().toas.get(), VX7_TOA_VALUES);
  st.chunkCounts = chunkCounts;
  st.structureErrors = std::move(structureErrors);
  addQuickLook(st, quickLookOf(d, hotFactor));
  st.hotFactor = hotFactor;
  return st;
}

void addRunResults(py::module_& m) {
  PYBIND11_NUMPY_DTYPE_EX(
      CheckError, packet, "packet", link, "link", found, "found", expected, "expected", pixel,
      "pixel", expectedPixel, "expected_pixel", eoc, "eoc", expectedEoc, "expected_eoc", toa, "toa",
      expectedToa, "expected_toa", fixedWrong, "fixed_wrong", fixed, "fixed", hasJumps, "has_jumps",
      pixelJump, "pixel_jump", toaJump, "toa_jump", sincePrevious, "since_previous");
  PYBIND11_NUMPY_DTYPE_EX(ErrorRun, link, "link", length, "length", packet, "packet", atEnd,
                          "at_end");
  PYBIND11_NUMPY_DTYPE_EX(HeartbeatError, packet, "packet", found, "found", expected, "expected");

  bindStatistics(m);

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
        py::arg("hot_factor") = DEFAULT_HOT_FACTOR,
        (std::string("The statistics of mvscan -p over the files, by the same run; a "
                     "morven.Statistics.\n") +
         READING_ARGS_DOC +
         "\npelvan         the stream is in 1 KiB Pelvan blocks (mvscan -W)"
         "\nframe_bits     8 or 16: take the data as frame data (mvscan -F)"
         "\nhot_factor     a pixel is hot above this many times the median of the 24"
         "\n               around it (mvscan --hot-factor, default 10)"
         "\n\nRaises OSError for a file that cannot be opened or read to its end (a damaged "
         "or cut compressed file: the message names it and says why and where), "
         "morven.FormatError for one that is not a MORVEN data file.")
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
