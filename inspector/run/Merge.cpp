#include "run/Merge.h"

#include <fstream>
#include <functional>
#include <map>
#include <utility>

#include <nlohmann/json.hpp>

#include "report/CounterImage.h"
#include "run/JsonReport.h"
#include "run/MergeHits.h"
#include "run/StatisticsDocument.h"
#include "scan/DataInspector.h"

namespace morven {

namespace {

using nlohmann::json;

// The settings that change what is counted; the others (histogram bins,
// the EoC list, the picture) only change what is reported, and the merge
// takes them from its own command line.
constexpr const char* COUNTING_SETTINGS[] = {"skip", "reverse_words", "reverse_bytes", "pelvan"};

// The text of the document of that name; false when it cannot be read. A
// document larger than the merge reads is read only one piece beyond the
// limit, so that the reader refuses it without holding all of it.
bool readDocument(const std::string& name, std::string& text) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  constexpr size_t PIECE = 1 << 20;
  text.clear();
  while (in && text.size() <= MAX_MERGE_DOCUMENT_BYTES) {
    const size_t had = text.size();
    text.resize(had + PIECE);
    in.read(text.data() + had, std::streamsize(PIECE));
    text.resize(had + size_t(in.gcount()));
  }
  return !in.bad();
}

// A file name from a document, for a message line: control characters
// would break the line.
std::string printable(std::string name) {
  for (char& c : name) {
    if ((unsigned char)c < 0x20 || c == 0x7F) c = '?';
  }
  return name;
}

// The documents in order: each as its name and a function that reads its
// text (false: it cannot be read).
using DocumentSource = std::function<bool(size_t, std::string&)>;

// Adds the documents to the sums; an empty string, or the refusal line.
std::string addAll(const std::vector<std::string>& names, const DocumentSource& read,
                   const MergeOptions& options, bool needHits, MergeSums& sums) {
  // Which document each file (name, size) came from.
  std::map<std::pair<std::string, uint64_t>, size_t> seen;
  for (size_t d = 0; d < names.size(); ++d) {
    std::string why;
    std::string text;
    const size_t before = sums.files.size();
    if (!read(d, text)) {
      why = "cannot be read";
    } else {
      why = addStatisticsDocument(text, sums);
    }
    if (why.empty() && needHits && !sums.allHits)
      why = "no hit tallies (tot, idle, chunk_hits, ...), which --html and --hot-pixels need";
    for (size_t i = before; why.empty() && i < sums.files.size(); ++i) {
      const MergedFile& f = sums.files[i];
      const auto [at, added] = seen.try_emplace({f.name, f.size}, d);
      if (added || at->second == d || options.allowDuplicates) continue;
      why = "the file " + printable(f.name) + " (" + std::to_string(f.size) +
            " bytes) is already counted from " + names[at->second] +
            " (--allow-duplicates counts it again)";
    }
    if (!why.empty()) return "### Cannot merge " + names[d] + ": " + why;
  }
  return {};
}

// The files of the documents as the quick-look page reads them.
json filesJson(const std::vector<MergedFile>& files) {
  json list = json::array();
  for (const MergedFile& f : files) {
    list.push_back({{"name", f.name},
                    {"header", f.header},
                    {"size", f.size},
                    {"errors", f.errors},
                    {"packets", f.packets},
                    {"skipped", f.skipped}});
  }
  return list;
}

// The settings of the merged run: the report's from the command line, the
// counting ones from the documents.
json mergedSettings(const RunSettings& s, const MergeSums& sums) {
  json settings = jsonSettings(s);
  for (const char* key : COUNTING_SETTINGS) {
    if (sums.settings.is_object()) settings[key] = sums.settings[key];
  }
  return settings;
}

RunEnd writeJson(const RunSettings& s, MergeSums& sums, std::ostream& out) {
  DiscardBuffer discarded;
  std::ostream inspectorOut(&discarded);
  DataInspector inspector(false);
  addMergeSums(inspector, sums);
  const std::string image = imageFileName(s);
  json imageMember = {{"file", image.empty() ? json() : json(image)}, {"error", nullptr}};
  const std::string imageError =
      image.empty() ? std::string() : writeCounterImage(inspector.tallies().pixels.get(), image);
  if (!imageError.empty()) imageMember["error"] = imageError;
  const json settings = mergedSettings(s, sums);
  // The members in the order of a run's document: format first.
  const auto dump = [](const json& v) {
    return v.dump(-1, ' ', false, json::error_handler_t::replace);
  };
  out << "{\"format\":" << dump({{"name", JSON_FORMAT_NAME}, {"version", JSON_FORMAT_VERSION}})
      << ",\"mode\":\"statistics\",\"settings\":" << dump(settings) << ",\"files\":[";
  bool first = true;
  for (const MergedFile& f : sums.files) {
    // Each file's members in the order a run writes them.
    out << (first ? "{\"name\":" : ",{\"name\":") << dump(f.name)
        << ",\"header\":" << dump(f.header) << ",\"size\":" << f.size
        << ",\"errors\":" << dump(f.errors) << ",\"packets\":" << f.packets
        << ",\"skipped\":" << f.skipped << "}";
    first = false;
  }
  out << "],\"statistics\":{\"image\":" << dump(imageMember);
  bool written = imageError.empty();
  if (!s.htmlFile.empty() || !s.hotPixelsFile.empty()) {
    const std::vector<std::string> failures =
        writeMergedQuickLook(s, inspector, filesJson(sums.files), settings);
    written = written && failures.empty();
    const json look = {{"html", s.htmlFile.empty() ? json() : json(s.htmlFile)},
                       {"hot_pixels", s.hotPixelsFile.empty() ? json() : json(s.hotPixelsFile)},
                       {"errors", failures}};
    out << ",\"quick_look\":" << dump(look);
  }
  writeStatisticsMembers(s, inspector, out);
  const RunEnd end = written ? RunEnd::Completed : RunEnd::ImageFailed;
  out << "},\"run_end\":\"" << runEndName(end, false) << "\"}" << std::endl;
  if (!out) return RunEnd::OutputFailed;
  return end;
}

// The text report: the statistics block as a run prints it after its last
// file, then what could not be written of the page and the list.
RunEnd writeText(const RunSettings& s, MergeSums& sums, std::ostream& out) {
  DataInspector inspector(false);
  addMergeSums(inspector, sums);
  bool written = printStatistics(s, inspector, out);
  if (!s.htmlFile.empty() || !s.hotPixelsFile.empty()) {
    const json settings = mergedSettings(s, sums);
    for (const std::string& line :
         writeMergedQuickLook(s, inspector, filesJson(sums.files), settings)) {
      out << "### " << line << std::endl;
      written = false;
    }
  }
  if (!out) return RunEnd::OutputFailed;
  return written ? RunEnd::Completed : RunEnd::ImageFailed;
}

RunEnd merge(const RunSettings& s, const std::vector<std::string>& names,
             const DocumentSource& read, std::ostream& out, const MergeOptions& options) {
  try {
    MergeSums sums;
    const bool needHits = !s.htmlFile.empty() || !s.hotPixelsFile.empty();
    const std::string refusal = addAll(names, read, options, needHits, sums);
    if (!refusal.empty()) {
      out << refusal << std::endl;
      return out ? RunEnd::FileFailed : RunEnd::OutputFailed;
    }
    if (options.problems != nullptr) {
      *options.problems = 0;
      for (const MergedFile& f : sums.files) *options.problems += f.errors.size();
    }
    return s.json ? writeJson(s, sums, out) : writeText(s, sums, out);
  } catch (const std::exception& e) {
    // Memory for the sums or a document: nothing has been written yet.
    out << "### Cannot merge: " << e.what() << std::endl;
    return out ? RunEnd::FileFailed : RunEnd::OutputFailed;
  }
}

}  // namespace

void addMergeSums(DataInspector& inspector, MergeSums& sums) {
  inspector.addTallies(sums.tallies, sums.packets, sums.chunkCounts);
  if (!sums.allHits) return;
  inspector.tallies().keepHits(true);
  *inspector.tallies().hits = std::move(sums.hits);
}

RunEnd mergeStatistics(const RunSettings& s, const std::vector<std::string>& documents,
                       std::ostream& out, const MergeOptions& options) {
  const auto read = [&](size_t d, std::string& text) { return readDocument(documents[d], text); };
  return merge(s, documents, read, out, options);
}

RunEnd mergeStatisticsTexts(const RunSettings& s, const std::vector<NamedDocument>& documents,
                            std::ostream& out, const MergeOptions& options) {
  std::vector<std::string> names;
  for (const NamedDocument& d : documents) names.push_back(d.name);
  const auto read = [&](size_t d, std::string& text) {
    text = documents[d].text;
    return true;
  };
  return merge(s, names, read, out, options);
}

}  // namespace morven
