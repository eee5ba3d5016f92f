#include "run/Merge.h"

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "report/CounterImage.h"
#include "run/JsonReport.h"
#include "run/MergeHits.h"
#include "scan/DataInspector.h"

namespace morven {

namespace {

using nlohmann::json;

// The settings that change what is counted; the others (histogram bins,
// the EoC list, the picture) only change what is reported, and the merge
// takes them from its own command line.
constexpr const char* COUNTING_SETTINGS[] = {"skip", "reverse_words", "reverse_bytes", "pelvan"};

struct Sums {
  std::vector<uint64_t> types = std::vector<uint64_t>(DataInspector::TYPE_COUNTER_COUNT, 0);
  std::vector<uint64_t> pixels = std::vector<uint64_t>(DataInspector::PIXEL_COUNTER_COUNT, 0);
  std::vector<uint64_t> toas = std::vector<uint64_t>(DataInspector::TOA_COUNTER_COUNT, 0);
  uint64_t packets = 0;
  std::map<uint64_t, uint64_t> chunkCounts;
  json files = json::array();
  json settings;
  // The hit tallies, while every document so far had them.
  HitTotals hits;
  bool allHits = true;
};

// An index into a tally of limit counters.
uint64_t index(const json& value, uint64_t limit) {
  const uint64_t v = value.get<uint64_t>();
  if (v >= limit) throw std::out_of_range("index " + std::to_string(v) + " out of range");
  return v;
}

// Adds one document to the sums; an empty string, or why it is refused.
std::string addDocument(const json& doc, Sums& sums) {
  if (!doc.is_object()) return "not a JSON object";
  const json* format = doc.contains("format") ? &doc["format"] : nullptr;
  if (format == nullptr || !format->is_object() || format->value("name", "") != JSON_FORMAT_NAME)
    return std::string("not an ") + JSON_FORMAT_NAME + " document";
  if (!(*format)["version"].is_number_integer() ||
      (*format)["version"].get<int64_t>() != JSON_FORMAT_VERSION)
    return "format version " + (*format)["version"].dump() + ", not " +
           std::to_string(JSON_FORMAT_VERSION);
  if (doc.value("mode", "") != "statistics")
    return "a " + doc.value("mode", std::string("?")) + " document, not statistics";
  // A run whose picture could not be written still counted every packet.
  const std::string end = doc.value("run_end", "");
  if (end != "completed" && end != "image_failed") return "its run did not complete";
  try {
    const json& settings = doc.at("settings");
    json counting = json::object();
    for (const char* key : COUNTING_SETTINGS) counting[key] = settings.at(key);
    if (sums.settings.is_null()) {
      sums.settings = counting;
    } else if (counting != sums.settings) {
      return "made with other counting options (" + counting.dump() + " against " +
             sums.settings.dump() + ")";
    }
    const json& st = doc.at("statistics");
    sums.packets += st.at("packets").get<uint64_t>();
    for (const json& t : st.at("types")) {
      sums.types[index(t.at("type"), DataInspector::TYPE_COUNTER_COUNT)] +=
          t.at("count").get<uint64_t>();
    }
    for (const json& e : st.at("toa").at("counts"))
      sums.toas[index(e.at(0), DataInspector::TOA_COUNTER_COUNT)] += e.at(1).get<uint64_t>();
    for (const json& e : st.at("hits"))
      sums.pixels[index(e.at(0), DataInspector::PIXEL_COUNTER_COUNT)] += e.at(3).get<uint64_t>();
    for (const json& c : st.at("chunk_counts")) {
      const uint64_t type = c.at("type_number").get<uint64_t>();
      if (type > 0xFFFF) return "chunk type out of range";
      sums.chunkCounts[type << MVHDR_CHUNKTYPE_SHIFT] += c.at("count").get<uint64_t>();
    }
    for (const json& f : doc.at("files")) sums.files.push_back(f);
    sums.allHits = sums.allHits && hasHitMembers(st);
    if (sums.allHits) {
      const std::string why = addHitMembers(st, sums.hits);
      if (!why.empty()) return "malformed statistics (" + why + ")";
    }
  } catch (const std::exception& e) {
    return std::string("malformed statistics (") + e.what() + ")";
  }
  return {};
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

namespace {

// The sums into the inspector's tallies, the hit tallies too when every
// document had them.
void addSums(DataInspector& inspector, Sums& sums) {
  inspector.addTallies(sums.types.data(), sums.pixels.data(), sums.toas.data(), sums.packets,
                       sums.chunkCounts);
  if (!sums.allHits) return;
  inspector.setHitTallies(true);
  *inspector.hitTotals() = std::move(sums.hits);
}

// The settings of the merged run: the report's from the command line, the
// counting ones from the documents.
json mergedSettings(const RunSettings& s, const Sums& sums) {
  json settings = jsonSettings(s);
  for (const char* key : COUNTING_SETTINGS) {
    if (sums.settings.is_object()) settings[key] = sums.settings[key];
  }
  return settings;
}

}  // namespace

RunEnd mergeStatistics(const RunSettings& s, const std::vector<std::string>& documents,
                       std::ostream& out) {
  Sums sums;
  const bool quickLook = !s.htmlFile.empty() || !s.hotPixelsFile.empty();
  for (const std::string& name : documents) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    std::string why;
    if (!in) {
      why = "cannot be read";
    } else {
      const json doc = json::parse(text.str(), nullptr, false);
      why = doc.is_discarded() ? "not a JSON document" : addDocument(doc, sums);
    }
    if (why.empty() && quickLook && !sums.allHits)
      why = "no hit tallies (tot, idle, chunk_hits, ...), which --html and --hot-pixels need";
    if (!why.empty()) {
      out << "### Cannot merge " << name << ": " << why << std::endl;
      return out ? RunEnd::FileFailed : RunEnd::OutputFailed;
    }
  }

  const json settings = mergedSettings(s, sums);
  if (!s.json) {
    DataInspector inspector(out, false);
    addSums(inspector, sums);
    bool written = printStatistics(s, inspector, out);
    if (quickLook) {
      for (const std::string& line : writeMergedQuickLook(s, inspector, sums.files, settings)) {
        out << "### " << line << std::endl;
        written = false;
      }
    }
    if (!out) return RunEnd::OutputFailed;
    return written ? RunEnd::Completed : RunEnd::ImageFailed;
  }

  DiscardBuffer discarded;
  std::ostream inspectorOut(&discarded);
  DataInspector inspector(inspectorOut, false);
  addSums(inspector, sums);
  const std::string image = imageFileName(s);
  json imageMember = {{"file", image.empty() ? json() : json(image)}, {"error", nullptr}};
  const std::string imageError =
      image.empty() ? std::string() : writeCounterImage(inspector.pixelCounters(), image);
  if (!imageError.empty()) imageMember["error"] = imageError;
  json head = {{"format", {{"name", JSON_FORMAT_NAME}, {"version", JSON_FORMAT_VERSION}}},
               {"mode", "statistics"},
               {"settings", settings},
               {"files", sums.files}};
  std::string headText = head.dump(-1, ' ', false, json::error_handler_t::replace);
  headText.pop_back();  // the closing brace: the statistics follow
  out << headText << ",\"statistics\":{\"image\":"
      << imageMember.dump(-1, ' ', false, json::error_handler_t::replace);
  bool written = imageError.empty();
  if (quickLook) {
    const std::vector<std::string> failures =
        writeMergedQuickLook(s, inspector, sums.files, settings);
    written = written && failures.empty();
    const json look = {{"html", s.htmlFile.empty() ? json() : json(s.htmlFile)},
                       {"hot_pixels", s.hotPixelsFile.empty() ? json() : json(s.hotPixelsFile)},
                       {"errors", failures}};
    out << ",\"quick_look\":" << look.dump(-1, ' ', false, json::error_handler_t::replace);
  }
  writeStatisticsMembers(s, inspector, out);
  const RunEnd end = written ? RunEnd::Completed : RunEnd::ImageFailed;
  out << "},\"run_end\":\"" << runEndName(end, false) << "\"}" << std::endl;
  if (!out) return RunEnd::OutputFailed;
  return end;
}

}  // namespace morven
