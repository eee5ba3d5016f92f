// Statistics that add up: every sum, every document read or written and
// every report goes through the merge of mvscan --merge, on the statistics
// documents the objects carry, so the module's sums are the command line's
// sums, byte for byte, and are refused where the command line refuses.
#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Statistics.h"
#include "report/QuickLook.h"
#include "run/Merge.h"
#include "run/StatisticsDocument.h"

namespace morven::python {

namespace {

// The settings of a merge that writes no picture and no page.
RunSettings mergeSettings() {
  RunSettings s;
  s.pixelScan = true;
  s.imageBase = "";
  return s;
}

struct MergeResult {
  RunEnd end;
  std::string text;
};

// mvscan --merge over documents in memory, with the GIL released.
MergeResult mergeTexts(const RunSettings& s, const std::vector<NamedDocument>& documents,
                       bool allowDuplicates) {
  std::ostringstream out;
  MergeResult r;
  {
    py::gil_scoped_release release;
    r.end = mergeStatisticsTexts(s, documents, out, MergeOptions{allowDuplicates});
  }
  r.text = std::move(out).str();
  return r;
}

// The merge's refusal line ("### Cannot merge NAME: WHY") as a ValueError,
// with the command line's option named as this module's keyword.
[[noreturn]] void refuse(std::string line, const std::string& verb) {
  while (!line.empty() && line.back() == '\n') line.pop_back();
  const std::string mark = "### Cannot merge";
  if (line.compare(0, mark.size(), mark) == 0) line = "Cannot " + verb + line.substr(mark.size());
  const std::string option = "--allow-duplicates";
  if (const size_t at = line.find(option); at != std::string::npos)
    line.replace(at, option.size(), "allow_duplicates=True");
  throw py::value_error(line);
}

void checkHotFactor(double hotFactor) {
  if (!(hotFactor > 1)) throw py::value_error("hot_factor must be above 1");
}

// The object of a statistics document: its figures from the sums the merge
// reads from it, its text kept as it is.
Statistics fromDocument(std::string document, double hotFactor, std::string source) {
  checkHotFactor(hotFactor);
  MergeSums sums;
  std::string why = addStatisticsDocument(document, sums);
  if (why.empty() && !sums.allHits)
    why = "no hit tallies (tot, idle, chunk_hits, ...), which the quick-look figures need";
  if (!why.empty()) throw py::value_error("Cannot load " + source + ": " + why);
  py::list errors;
  for (const MergedFile& f : sums.files) {
    for (const nlohmann::json& e : f.errors) {
      const auto offset = e.find("offset");
      const auto message = e.find("message");
      if (offset == e.end() || message == e.end() || !offset->is_number_unsigned() ||
          !message->is_string())
        throw py::value_error("Cannot load " + source + ": a file's errors are not pairs");
      errors.append(py::make_tuple(offset->get<uint64_t>(), message->get<std::string>()));
    }
  }
  DiscardingStream out;
  DataInspector inspector(false);
  addMergeSums(inspector, sums);
  Statistics st = figuresOf(inspector, std::move(errors), hotFactor);
  st.document = std::move(document);
  st.source = std::move(source);
  return st;
}

Statistics sumOf(const std::vector<const Statistics*>& items, bool allowDuplicates) {
  if (items.empty()) throw py::value_error("no statistics to add");
  std::vector<NamedDocument> documents;
  for (const Statistics* st : items) documents.push_back({st->source, st->document});
  RunSettings s = mergeSettings();
  s.json = true;
  MergeResult r = mergeTexts(s, documents, allowDuplicates);
  if (r.end == RunEnd::FileFailed) refuse(r.text, "add");
  if (r.end != RunEnd::Completed) throw std::runtime_error("the sum could not be written");
  return fromDocument(std::move(r.text), items[0]->hotFactor,
                      "the sum of " + std::to_string(items.size()) + " statistics");
}

// The items as a list that holds them while their documents are merged
// (a generator's items would go as soon as they are passed).
py::list statisticsList(const py::iterable& items) {
  py::list list;
  for (const py::handle item : items) {
    if (!py::isinstance<Statistics>(item)) {
      throw py::type_error("only morven.Statistics add up, not " +
                           py::str(item.get_type().attr("__name__")).cast<std::string>());
    }
    list.append(item);
  }
  return list;
}

[[noreturn]] void raiseErrno(const std::string& path) {
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
  throw py::error_already_set();
}

// A document's text, or the file it is in; the merge reads and checks it,
// and its own output (the one document's sum) is what the object keeps.
Statistics load(const py::object& from, double hotFactor) {
  checkHotFactor(hotFactor);
  RunSettings s = mergeSettings();
  s.json = true;
  std::string name = "the document text";
  std::string text;
  if (py::isinstance<py::str>(from)) text = from.cast<std::string>();
  const size_t first = text.find_first_not_of(" \t\r\n");
  MergeResult r;
  if (first != std::string::npos && text[first] == '{') {
    r = mergeTexts(s, {{name, std::move(text)}}, false);
  } else {
    // The merge reads the file; a file it cannot open is told by errno.
    name = pathString(from);
    {
      errno = 0;
      std::ifstream probe(name, std::ios::binary);
      if (!probe) raiseErrno(name);
    }
    std::ostringstream out;
    {
      py::gil_scoped_release release;
      r.end = mergeStatistics(s, {name}, out);
    }
    r.text = std::move(out).str();
  }
  if (r.end == RunEnd::FileFailed) refuse(r.text, "load");
  if (r.end != RunEnd::Completed) throw std::runtime_error("the document could not be read");
  return fromDocument(std::move(r.text), hotFactor, name);
}

std::string report(const Statistics& st, const py::object& histogramBins, bool eocList) {
  RunSettings s = mergeSettings();
  if (!histogramBins.is_none()) {
    if (!py::isinstance<py::int_>(histogramBins) || py::isinstance<py::bool_>(histogramBins))
      throw py::type_error("histogram_bins must be an int or None");
    if (histogramBins < py::int_(1) || histogramBins > py::int_(65536))
      throw py::value_error("histogram_bins must be 1 to 65536");
    const int bins = histogramBins.cast<int>();
    s.histogram = true;
    s.histogramBins = bins;
  }
  s.eocList = eocList;
  const MergeResult r = mergeTexts(s, {{st.source, st.document}}, false);
  if (r.end != RunEnd::Completed) throw std::runtime_error("the report could not be written");
  return r.text;
}

void saveImage(const Statistics& st, const py::object& path) {
  RunSettings s = mergeSettings();
  s.imageFile = pathString(path);
  if (s.imageFile.empty()) throw py::value_error("save_image: no file name");
  const MergeResult r = mergeTexts(s, {{st.source, st.document}}, false);
  if (r.end == RunEnd::ImageFailed) {
    std::string why = r.text.substr(0, r.text.find('\n'));
    if (why.compare(0, 4, "### ") == 0) why.erase(0, 4);
    PyErr_SetString(PyExc_OSError, why.c_str());
    throw py::error_already_set();
  }
  if (r.end != RunEnd::Completed) throw std::runtime_error("the picture could not be written");
}

void save(const Statistics& st, const py::object& path) {
  const std::string name = pathString(path);
  errno = 0;
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (!out) raiseErrno(name);
  out << st.document;
  out.close();
  if (!out) raiseErrno(name);
}

}  // namespace

void defineStatisticsSums(py::class_<Statistics>& c) {
  c.def_readonly("hot_factor", &Statistics::hotFactor,
                 "The factor the hot pixels and dead blocks were found with.");
  c.def(
      "__add__",
      [](const Statistics& a, const py::object& b) -> py::object {
        if (!py::isinstance<Statistics>(b))
          return py::reinterpret_borrow<py::object>(Py_NotImplemented);
        return py::cast(sumOf({&a, &b.cast<const Statistics&>()}, false));
      },
      py::is_operator(),
      "The statistics of one run over the files of both, as mvscan --merge adds their documents. "
      "Raises ValueError where --merge refuses: different skip or reversals, a file counted in "
      "both (add(other, allow_duplicates=True) counts it twice), a sum beyond 64 bits.");
  c.def(
      "__radd__",
      [](const py::object& self, const py::object& other) -> py::object {
        // sum() starts from 0.
        if (py::isinstance<py::int_>(other) && !py::isinstance<py::bool_>(other) &&
            other.equal(py::int_(0)))
          return self;
        return py::reinterpret_borrow<py::object>(Py_NotImplemented);
      },
      py::is_operator(), "0 + s is s, so that sum([...]) adds statistics.");
  c.def(
      "add",
      [](const Statistics& a, const Statistics& b, bool allowDuplicates) {
        return sumOf({&a, &b}, allowDuplicates);
      },
      py::arg("other"), py::kw_only(), py::arg("allow_duplicates") = false,
      "a + other; allow_duplicates=True counts a file that both hold twice (mvscan "
      "--allow-duplicates).");
  c.def_static(
      "sum",
      [](const py::iterable& items, bool allowDuplicates) {
        const py::list held = statisticsList(items);
        std::vector<const Statistics*> list;
        for (const py::handle item : held) list.push_back(&item.cast<const Statistics&>());
        return sumOf(list, allowDuplicates);
      },
      py::arg("items"), py::kw_only(), py::arg("allow_duplicates") = false,
      "The sum of the statistics in one merge, as mvscan --merge over all their documents: "
      "quicker than adding them one by one. Raises ValueError where --merge refuses, TypeError "
      "for an item that is not a Statistics, ValueError for none.");
  c.def_static("load", &load, py::arg("source"), py::kw_only(),
               py::arg("hot_factor") = DEFAULT_HOT_FACTOR,
               "Statistics from a statistics document of mvscan -p --json (or --merge --json, or "
               "save()): a file name (str, bytes, os.PathLike) or the document's text (a str "
               "starting with '{'). The document is checked as --merge checks it; ValueError "
               "says what is wrong, OSError that the file cannot be read. hot_factor as in "
               "morven.statistics.");
  c.def(
      "to_json", [](const Statistics& st) { return st.document; },
      "The statistics document, as mvscan -p --json writes it for a run (for sums and loaded "
      "documents, as mvscan --merge --json writes it): mvscan --merge and Statistics.load read "
      "it.");
  c.def("save", &save, py::arg("path"),
        "Writes to_json() to the file; mvscan --merge and Statistics.load read it.");
  c.def("report", &report, py::kw_only(), py::arg("histogram_bins") = py::none(),
        py::arg("eoc_list") = false,
        "The text report of mvscan --merge --no-image over this document, byte for byte: the "
        "statistics block a run over all the files prints after its last file. "
        "histogram_bins: add the ToA histogram in that many bins (mvscan -H); eoc_list: add "
        "the EoC and control counters (mvscan -e).");
  c.def("save_image", &saveImage, py::arg("path"),
        "Writes the picture of mvscan -p (and --merge) to the file, a PNG. Raises OSError when "
        "it cannot be written.");
  c.def(py::pickle(
      [](const Statistics& st) {
        return py::make_tuple(py::bytes(st.document), st.hotFactor, st.source);
      },
      [](const py::tuple& t) {
        if (t.size() != 3 || !py::isinstance<py::bytes>(t[0]) ||
            !py::isinstance<py::float_>(t[1]) || !py::isinstance<py::str>(t[2]))
          throw py::type_error("not the state of a morven.Statistics");
        return fromDocument(t[0].cast<std::string>(), t[1].cast<double>(),
                            t[2].cast<std::string>());
      }));
}

}  // namespace morven::python
