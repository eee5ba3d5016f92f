#include "run/Merge.h"

#include <fstream>
#include <functional>
#include <map>
#include <utility>

#include <nlohmann/json.hpp>

#include "run/JsonReport.h"
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
                   const MergeOptions& options, MergeSums& sums) {
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

RunEnd writeJson(const RunSettings& s, const MergeSums& sums, std::ostream& out) {
  LastLineBuffer said;
  std::ostream inspectorOut(&said);
  DataInspector inspector(inspectorOut, false);
  inspector.addTallies(sums.types.data(), sums.pixels.data(), sums.toas.data(), sums.packets,
                       sums.chunkCounts);
  const std::string image = imageFileName(s);
  json imageMember = {{"file", image.empty() ? json() : json(image)}, {"error", nullptr}};
  if (!image.empty()) {
    inspector.savePixelCounterImageFile(image);
    if (said.lastLine().rfind("### ", 0) == 0) imageMember["error"] = said.lastLine().substr(4);
  }
  json settings = jsonSettings(s);
  for (const char* key : COUNTING_SETTINGS) {
    if (sums.settings.is_object()) settings[key] = sums.settings[key];
  }
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
  writeStatisticsMembers(s, inspector, out);
  out << "},\"run_end\":\"completed\"}" << std::endl;
  return out ? RunEnd::Completed : RunEnd::OutputFailed;
}

RunEnd merge(const RunSettings& s, const std::vector<std::string>& names,
             const DocumentSource& read, std::ostream& out, const MergeOptions& options) {
  try {
    MergeSums sums;
    const std::string refusal = addAll(names, read, options, sums);
    sums.useTallies();  // no document at all: the sums of none
    if (!refusal.empty()) {
      out << refusal << std::endl;
      return out ? RunEnd::FileFailed : RunEnd::OutputFailed;
    }
    if (s.json) return writeJson(s, sums, out);
    DataInspector inspector(out, false);
    inspector.addTallies(sums.types.data(), sums.pixels.data(), sums.toas.data(), sums.packets,
                         sums.chunkCounts);
    printStatistics(s, inspector, out);
    return out ? RunEnd::Completed : RunEnd::OutputFailed;
  } catch (const std::exception& e) {
    // Memory for the sums or a document: nothing has been written yet.
    out << "### Cannot merge: " << e.what() << std::endl;
    return out ? RunEnd::FileFailed : RunEnd::OutputFailed;
  }
}

}  // namespace

void DataInspector::addTallies(const uint64_t* types, const uint64_t* pixels, const uint64_t* toas,
                               uint64_t packets, const std::map<uint64_t, uint64_t>& chunkCounts) {
  for (size_t i = 0; i < TYPE_COUNTER_COUNT; ++i) _typeCounters[i] += types[i];
  for (size_t i = 0; i < PIXEL_COUNTER_COUNT; ++i) _pixelCounters[i] += pixels[i];
  for (size_t i = 0; i < TOA_COUNTER_COUNT; ++i) _toaCounters[i] += toas[i];
  _pixelCounterTotal += packets;
  for (const auto& [key, count] : chunkCounts) _chunkTypeCounters[key] += count;
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
