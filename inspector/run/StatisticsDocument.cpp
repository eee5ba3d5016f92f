#include "run/StatisticsDocument.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "format/ChunkTypes.h"
#include "format/MorvenFormat.h"
#include "format/Packet.h"
#include "run/BoundedJson.h"
#include "run/JsonReport.h"
#include "run/MergeHits.h"
#include "text/JsonNesting.h"

namespace morven {

namespace {

using nlohmann::json;

constexpr uint64_t MAX_U64 = std::numeric_limits<uint64_t>::max();
constexpr size_t TYPES = VX7_TYPE_CODES;
// Type bytes below this are pixel data packets (their EoC block); the
// others are control packets, which have no pixel and no ToA.
constexpr uint64_t PIXEL_TYPES = VX7_EOC_MAX_COLNR + 1;

// A refusal on its way out of the nested reading functions; caught in
// addStatisticsDocument and never thrown further.
struct Refused {
  std::string why;
};

[[noreturn]] void refuse(std::string why) {
  throw Refused{std::move(why)};
}

// a + b into sum; false when it does not fit in 64 bits.
bool addTo(uint64_t& sum, uint64_t v) {
  if (v > MAX_U64 - sum) return false;
  sum += v;
  return true;
}

// A value as the messages name it.
std::string what(const json& v) {
  switch (v.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return v.get<bool>() ? "true" : "false";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
      return v.dump();
    case json::value_t::number_float:
      return "the number " + v.dump();
    case json::value_t::string:
      return "a string";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    default:
      return "a binary value";
  }
}

// A text from the document, quoted and cut short, with its control
// characters escaped: it never breaks the message line.
std::string shown(const std::string& s) {
  const std::string text =
      json(s.substr(0, 40)).dump(-1, ' ', true, json::error_handler_t::replace);
  return s.size() > 40 ? text.substr(0, text.size() - 1) + "...\"" : text;
}

std::string join(const std::string& object, const char* key) {
  return object.empty() ? std::string(key) : object + "." + key;
}

std::string item(const std::string& list, size_t i) {
  return list + "[" + std::to_string(i) + "]";
}

const json& member(const json& object, const std::string& objectName, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) refuse("member " + join(objectName, key) + " is missing");
  return *it;
}

[[noreturn]] void wrongType(const json& v, const std::string& name, const char* wanted) {
  refuse("member " + name + " is " + what(v) + ", not " + wanted);
}

const json& objectValue(const json& v, const std::string& name) {
  if (!v.is_object()) wrongType(v, name, "an object");
  return v;
}

const json& arrayValue(const json& v, const std::string& name) {
  if (!v.is_array()) wrongType(v, name, "an array");
  return v;
}

const std::string& stringValue(const json& v, const std::string& name) {
  if (!v.is_string()) wrongType(v, name, "a string");
  return v.get_ref<const std::string&>();
}

bool booleanValue(const json& v, const std::string& name) {
  if (!v.is_boolean()) wrongType(v, name, "true or false");
  return v.get<bool>();
}

// Non-negative integers parse as unsigned; negative ones as signed, and
// fractions, exponents and integers beyond 64 bits as floating point.
uint64_t unsignedValue(const json& v, const std::string& name) {
  if (!v.is_number_unsigned()) wrongType(v, name, "an unsigned integer");
  return v.get<uint64_t>();
}

// Element j of the list at element i of the list named list: the big lists
// of number pairs and quadruples, whose names are made only for a message.
uint64_t unsignedItem(const json& row, const std::string& list, size_t i, size_t j) {
  const json& v = row[j];
  if (!v.is_number_unsigned()) wrongType(v, item(item(list, i), j), "an unsigned integer");
  return v.get<uint64_t>();
}

const json& rowOf(const json& v, const std::string& list, size_t i, size_t n, const char* what) {
  if (!v.is_array()) wrongType(v, item(list, i), what);
  if (v.size() != n) {
    refuse("member " + item(list, i) + " has " + std::to_string(v.size()) + " entries, not " +
           std::to_string(n) + " (" + what + ")");
  }
  return v;
}

// A list of at most limit entries, one per key of the kind named.
const json& boundedList(const json& object, const std::string& objectName, const char* key,
                        size_t limit, const char* keys) {
  const std::string name = join(objectName, key);
  const json& list = arrayValue(member(object, objectName, key), name);
  if (list.size() > limit) {
    refuse("member " + name + " has " + std::to_string(list.size()) + " entries, more than " +
           std::to_string(limit) + " " + keys);
  }
  return list;
}

// A count of a list that holds only what occurred: above 0.
uint64_t countItem(const json& row, const std::string& list, size_t i, size_t j) {
  const uint64_t count = unsignedItem(row, list, i, j);
  if (count == 0)
    refuse("member " + item(item(list, i), j) + " is 0: the list holds counts above 0");
  return count;
}

// The sorted lists (ToA values, pixel indexes, chunk types) list each key
// once, in increasing order. The member's name is made only for a message:
// the lists are long.
template <class Name>
void checkOrder(bool first, uint64_t previous, uint64_t key, const Name& name,
                const char* keyName) {
  if (first || key > previous) return;
  if (key == previous)
    refuse("member " + name() + ": " + keyName + " " + std::to_string(key) + " is listed twice");
  refuse("member " + name() + ": " + keyName + " " + std::to_string(key) + " comes after " +
         std::to_string(previous) + " (the list is in increasing order)");
}

void checkHead(const json& doc) {
  if (!doc.is_object()) refuse("not a JSON object");
  const std::string notOurs = std::string("not an ") + JSON_FORMAT_NAME + " document";
  if (!doc.contains("format")) refuse(notOurs);
  const json& format = objectValue(doc["format"], "format");
  if (stringValue(member(format, "format", "name"), "format.name") != JSON_FORMAT_NAME)
    refuse(notOurs);
  const json& version = member(format, "format", "version");
  if (!version.is_number_integer()) wrongType(version, "format.version", "an unsigned integer");
  if (version != JSON_FORMAT_VERSION)
    refuse("format version " + version.dump() + ", not " + std::to_string(JSON_FORMAT_VERSION));
  const std::string& mode = stringValue(member(doc, "", "mode"), "mode");
  if (mode != "statistics") {
    const bool known =
        mode == "file-check" || mode == "test-generator-check" || mode == "counter-check";
    refuse("a " + (known ? mode : shown(mode)) + " document, not statistics");
  }
  // A run whose picture or page could not be written still counted every
  // packet.
  const std::string& end = stringValue(member(doc, "", "run_end"), "run_end");
  if (end != "completed" && end != "image_failed") refuse("its run did not complete");
}

json countingSettings(const json& doc) {
  const json& settings = objectValue(member(doc, "", "settings"), "settings");
  json counting = json::object();
  counting["skip"] = unsignedValue(member(settings, "settings", "skip"), "settings.skip");
  for (const char* key : {"reverse_words", "reverse_bytes", "pelvan"})
    counting[key] = booleanValue(member(settings, "settings", key), join("settings", key));
  return counting;
}

json readErrors(const json& f, const std::string& fileName) {
  const std::string listName = join(fileName, "errors");
  const json& list = arrayValue(member(f, fileName, "errors"), listName);
  json errors = json::array();
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string name = item(listName, i);
    const json& e = objectValue(list[i], name);
    const uint64_t offset = unsignedValue(member(e, name, "offset"), join(name, "offset"));
    const std::string& message = stringValue(member(e, name, "message"), join(name, "message"));
    errors.push_back({{"offset", offset}, {"message", message}});
  }
  return errors;
}

// One entry of the file list, as the parse hands it over; the skip setting
// is checked once the list and the settings have both been read.
MergedFile readFile(const json& entry, const std::string& name) {
  const json& f = objectValue(entry, name);
  MergedFile m;
  m.name = stringValue(member(f, name, "name"), join(name, "name"));
  m.header = stringValue(member(f, name, "header"), join(name, "header"));
  m.size = unsignedValue(member(f, name, "size"), join(name, "size"));
  m.skipped = unsignedValue(member(f, name, "skipped"), join(name, "skipped"));
  m.packets = unsignedValue(member(f, name, "packets"), join(name, "packets"));
  m.errors = readErrors(f, name);
  // Members the merge does not use are still of their type.
  if (f.contains("compressed_size"))
    unsignedValue(f["compressed_size"], join(name, "compressed_size"));
  if (f.contains("opened")) booleanValue(f["opened"], join(name, "opened"));
  // A run goes on only with a file that begins with the format's magic
  // word, which reads "MORVEN".
  if (m.header != "MORVEN") {
    refuse("member " + join(name, "header") + " is " + shown(m.header) + ", not \"MORVEN\"");
  }
  // Every packet, skipped or not, is 8 bytes of the file after its header.
  // A pipe or a device has the size 0: its packets are not bound.
  if (m.skipped > m.packets) {
    refuse("member " + join(name, "skipped") + " is " + std::to_string(m.skipped) +
           ", more than its packets (" + std::to_string(m.packets) + ")");
  }
  if (m.size > 0 && m.packets > (m.size - std::min<uint64_t>(m.size, 8)) / 8) {
    refuse("member " + join(name, "packets") + " is " + std::to_string(m.packets) +
           ", more than a file of " + std::to_string(m.size) + " bytes holds");
  }
  return m;
}

// The entries of the file list as the parse took them, and the first one
// refused: why.
struct FileList {
  std::vector<MergedFile> files;
  std::string refusal;
};

std::vector<MergedFile> readFiles(const json& doc, FileList& taken, uint64_t skip) {
  const json& list = arrayValue(member(doc, "", "files"), "files");
  // Each file skips at most the skip setting's packets of its own.
  for (size_t i = 0; i < taken.files.size(); ++i) {
    const MergedFile& m = taken.files[i];
    if (m.skipped > skip) {
      refuse("member " + join(item("files", i), "skipped") + " is " + std::to_string(m.skipped) +
             ", more than settings.skip (" + std::to_string(skip) + ")");
    }
  }
  if (!taken.refusal.empty()) refuse(taken.refusal);
  if (list.empty() && taken.files.empty())
    refuse("member files is empty: a run reads at least one file");
  return std::move(taken.files);
}

// The figures of one document's statistics member.
struct Figures {
  uint64_t packets = 0;
  std::array<uint64_t, TYPES> types{};
  std::vector<std::pair<uint64_t, uint64_t>> toas;         // ToA value, count
  std::vector<std::pair<uint64_t, uint64_t>> hits;         // pixel index, count
  std::vector<std::pair<uint64_t, uint64_t>> chunkCounts;  // counter key, count
};

void readTypes(const json& st, Figures& f) {
  const std::string listName = "statistics.types";
  const json& list = arrayValue(member(st, "statistics", "types"), listName);
  if (list.size() != TYPES) {
    refuse("member " + listName + " has " + std::to_string(list.size()) + " entries, not " +
           std::to_string(TYPES));
  }
  for (size_t t = 0; t < TYPES; ++t) {
    const std::string name = item(listName, t);
    const json& e = objectValue(list[t], name);
    const uint64_t type = unsignedValue(member(e, name, "type"), join(name, "type"));
    if (type != t) {
      refuse("member " + join(name, "type") + " is " + std::to_string(type) + ", not " +
             std::to_string(t));
    }
    const std::string& typeName = stringValue(member(e, name, "name"), join(name, "name"));
    const std::string expected = packetTypeName(t);
    if (typeName != expected)
      refuse("member " + join(name, "name") + " is " + shown(typeName) + ", not " +
             shown(expected));
    f.types[t] = unsignedValue(member(e, name, "count"), join(name, "count"));
  }
}

// The rows of a sorted list of [key, ...] rows of n items each (rowText
// says what they are): every key below limit (outOfRange(i, key) refuses
// one that is not) and listed once, in increasing order (keyName names
// them); take(row, i, key) takes each row.
template <class OutOfRange, class Take>
void readKeyedRows(const json& list, const std::string& listName, size_t n, const char* rowText,
                   uint64_t limit, const char* keyName, const OutOfRange& outOfRange,
                   const Take& take) {
  uint64_t previous = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    const json& row = rowOf(list[i], listName, i, n, rowText);
    const uint64_t key = unsignedItem(row, listName, i, 0);
    if (key >= limit) outOfRange(i, key);
    checkOrder(
        i == 0, previous, key, [&] { return item(item(listName, i), 0); }, keyName);
    take(row, i, key);
    previous = key;
  }
}

void readToas(const json& st, Figures& f) {
  const json& toa = objectValue(member(st, "statistics", "toa"), "statistics.toa");
  const std::string listName = "statistics.toa.counts";
  const json& list = boundedList(toa, "statistics.toa", "counts", VX7_TOA_VALUES, "ToA values");
  const auto outOfRange = [&](size_t i, uint64_t v) {
    refuse("member " + item(item(listName, i), 0) + " is " + std::to_string(v) +
           ", not a ToA value (0..65535)");
  };
  readKeyedRows(list, listName, 2, "a pair [ToA value, count]", VX7_TOA_VALUES, "ToA value",
                outOfRange, [&](const json& row, size_t i, uint64_t v) {
                  f.toas.emplace_back(v, countItem(row, listName, i, 1));
                });
}

void readHits(const json& st, Figures& f) {
  const std::string listName = "statistics.hits";
  const json& list = boundedList(st, "statistics", "hits", VX7_PIXEL_INDEXES, "pixels");
  const auto outOfRange = [](size_t, uint64_t index) {
    refuse("index " + std::to_string(index) + " out of range");
  };
  const auto take = [&](const json& row, size_t i, uint64_t index) {
    // The index is the packet's bits 63..46: half, type byte, pixel number.
    const uint64_t type = bitField(index, 16, 9);
    if (type >= PIXEL_TYPES) {
      refuse("member " + item(item(listName, i), 0) + " is " + std::to_string(index) +
             ", of type byte " + std::to_string(type) + ": a control packet, not a pixel");
    }
    const PixelPlace place = pixelPlace(index);
    const uint64_t x = unsignedItem(row, listName, i, 1), y = unsignedItem(row, listName, i, 2);
    if (x != place.x || y != place.y) {
      refuse("member " + item(listName, i) + " places pixel index " + std::to_string(index) +
             " at x " + std::to_string(x) + ", y " + std::to_string(y) + ", not at x " +
             std::to_string(place.x) + ", y " + std::to_string(place.y));
    }
    f.hits.emplace_back(index, countItem(row, listName, i, 3));
  };
  readKeyedRows(list, listName, 4, "a list [pixel index, x, y, count]", VX7_PIXEL_INDEXES,
                "pixel index", outOfRange, take);
}

void readChunkCounts(const json& st, Figures& f) {
  const std::string listName = "statistics.chunk_counts";
  const json& list = boundedList(st, "statistics", "chunk_counts", 0x10000, "chunk types");
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string name = item(listName, i);
    const json& e = objectValue(list[i], name);
    const std::string& typeName = stringValue(member(e, name, "type"), join(name, "type"));
    const uint64_t number =
        unsignedValue(member(e, name, "type_number"), join(name, "type_number"));
    const uint64_t key = number << MVHDR_CHUNKTYPE_SHIFT;
    // Counted are the types the reader takes, each under its counter key:
    // the ToA/ToT halves under MVHDR_VX7TOATOT, all user chunks under one.
    const ChunkClass c = classifyHeader(key);
    if (number > 0xFFFF || !c.accepted || c.counterKey != key) {
      refuse("member " + join(name, "type_number") + " is " + std::to_string(number) +
             ", not a chunk type that is counted");
    }
    if (typeName != chunkTypeName(key)) {
      refuse("member " + join(name, "type") + " is " + shown(typeName) + ", not " +
             shown(chunkTypeName(key)));
    }
    checkOrder(
        i == 0, i == 0 ? 0 : f.chunkCounts.back().first >> MVHDR_CHUNKTYPE_SHIFT, number,
        [&] { return join(name, "type_number"); }, "chunk type");
    const uint64_t count = unsignedValue(member(e, name, "count"), join(name, "count"));
    if (count == 0)
      refuse("member " + join(name, "count") + " is 0: only counted types are listed");
    f.chunkCounts.emplace_back(key, count);
  }
}

std::string sumText(uint64_t sum, bool fits) {
  return fits ? std::to_string(sum) : "more than " + std::to_string(MAX_U64);
}

// How the figures of one run relate: every packet is counted once, under
// its type byte, unless it was skipped (or, with -W, is a Pelvan header,
// trailer or zero word, which count in the total only); every pixel data
// packet is one hit of its pixel, whose index holds its type byte; only
// pixel data packets have a ToA.
void checkRelations(const Figures& f, const std::vector<MergedFile>& files, bool pelvan) {
  uint64_t filePackets = 0, skipped = 0;
  bool fits = true;
  for (const MergedFile& m : files) fits = fits && addTo(filePackets, m.packets);
  if (!fits || filePackets != f.packets) {
    refuse("member statistics.packets is " + std::to_string(f.packets) +
           ", but the packets of the files add up to " + sumText(filePackets, fits));
  }
  for (const MergedFile& m : files) addTo(skipped, m.skipped);  // at most the packets
  uint64_t counted = skipped, pixels = 0;
  for (size_t t = 0; t < TYPES; ++t) fits = fits && addTo(counted, f.types[t]);
  if (!fits || (pelvan ? counted > f.packets : counted != f.packets)) {
    refuse("member statistics.packets is " + std::to_string(f.packets) +
           ", but the type counts and the skipped packets add up to " + sumText(counted, fits));
  }
  for (size_t t = 0; t < PIXEL_TYPES; ++t) pixels += f.types[t];
  std::array<uint64_t, PIXEL_TYPES> perType{};
  for (const auto& [index, count] : f.hits) {
    uint64_t& sum = perType[bitField(index, 16, 9)];
    if (!addTo(sum, count) || sum > f.types[bitField(index, 16, 9)]) sum = MAX_U64;
  }
  for (size_t t = 0; t < PIXEL_TYPES; ++t) {
    if (perType[t] == f.types[t]) continue;
    const std::string count =
        "member " + item("statistics.types", t) + ".count (" + std::to_string(f.types[t]) + ")";
    if (perType[t] > f.types[t])
      refuse("the hits of type byte " + std::to_string(t) + " add up to more than " + count);
    refuse("the hits of type byte " + std::to_string(t) + " add up to " +
           std::to_string(perType[t]) + ", less than " + count);
  }
  uint64_t toas = 0;
  for (const auto& [value, count] : f.toas) fits = fits && addTo(toas, count);
  if (!fits || toas > pixels) {
    refuse("the ToA counts add up to " + sumText(toas, fits) + ", more than the " +
           std::to_string(pixels) + " pixel data packets of statistics.types");
  }
}

// A member the merge does not use, when it is there, is of the type a run
// writes.
void textOrNull(const json& object, const std::string& name, const char* key) {
  if (!object.contains(key) || object[key].is_null()) return;
  stringValue(object[key], join(name, key));
}

void checkUnusedSettings(const json& doc) {
  const json& settings = doc["settings"];
  for (const char* key : {"frame_bits", "links"}) {
    if (settings.contains(key)) unsignedValue(settings[key], join("settings", key));
  }
  if (settings.contains("histogram_bins") && !settings["histogram_bins"].is_null())
    unsignedValue(settings["histogram_bins"], "settings.histogram_bins");
}

void checkUnusedStatistics(const json& st) {
  if (st.contains("image")) {
    const json& image = objectValue(st["image"], "statistics.image");
    textOrNull(image, "statistics.image", "file");
    textOrNull(image, "statistics.image", "error");
  }
  if (st["toa"].contains("histogram")) {
    const std::string name = "statistics.toa.histogram";
    const json& h = objectValue(st["toa"]["histogram"], name);
    unsignedValue(member(h, name, "bins"), join(name, "bins"));
    unsignedValue(member(h, name, "width"), join(name, "width"));
    const json& counts = arrayValue(member(h, name, "counts"), join(name, "counts"));
    for (size_t i = 0; i < counts.size(); ++i) unsignedValue(counts[i], item(name + ".counts", i));
  }
  if (st.contains("quick_look")) {
    const std::string name = "statistics.quick_look";
    const json& look = objectValue(st["quick_look"], name);
    textOrNull(look, name, "html");
    textOrNull(look, name, "hot_pixels");
    if (look.contains("errors")) {
      const json& errors = arrayValue(look["errors"], join(name, "errors"));
      for (size_t i = 0; i < errors.size(); ++i) stringValue(errors[i], item(name + ".errors", i));
    }
  }
}

Figures readStatistics(const json& doc, const std::vector<MergedFile>& files, bool pelvan) {
  try {
    const json& st = objectValue(member(doc, "", "statistics"), "statistics");
    Figures f;
    f.packets = unsignedValue(member(st, "statistics", "packets"), "statistics.packets");
    readTypes(st, f);
    readToas(st, f);
    readHits(st, f);
    readChunkCounts(st, f);
    checkRelations(f, files, pelvan);
    checkUnusedStatistics(st);
    return f;
  } catch (const Refused& r) {
    refuse("malformed statistics (" + r.why + ")");
  }
}

// Adds v to the sum; the member's name is made only for the refusal.
template <typename Name>
void add(uint64_t& sum, uint64_t v, const Name& name) {
  if (!addTo(sum, v)) refuse("the sum of member " + name() + " does not fit in 64 bits");
}

void addFigures(const Figures& f, MergeSums& sums) {
  const TallyCounters c = sums.tallies.counters();
  add(sums.packets, f.packets, [] { return std::string("statistics.packets"); });
  for (size_t t = 0; t < TYPES; ++t)
    add(c.types[t], f.types[t], [t] { return item("statistics.types", t) + ".count"; });
  for (size_t i = 0; i < f.toas.size(); ++i)
    add(c.toas[f.toas[i].first], f.toas[i].second,
        [i] { return item(item("statistics.toa.counts", i), 1); });
  for (size_t i = 0; i < f.hits.size(); ++i)
    add(c.pixels[f.hits[i].first], f.hits[i].second,
        [i] { return item(item("statistics.hits", i), 3); });
  for (size_t i = 0; i < f.chunkCounts.size(); ++i) {
    const auto& [key, count] = f.chunkCounts[i];
    add(sums.chunkCounts[key], count,
        [i] { return item("statistics.chunk_counts", i) + ".count"; });
  }
}

// Where the lists of a statistics document stand and how long they can be
// in a document a run wrote; a row of a list of rows is kept up to a few
// entries past its length, for its reader's message. The file list and
// the hits per data chunk have no bound of their own (a run reads any
// number of files, of any number of chunks): their entries are handed
// over as they are read and kept in the merge's own, smaller form.
constexpr size_t ROW = 8;
constexpr JsonShape DOCUMENT_SHAPE[] = {
    {"", false},
    {"format", false},
    {"settings", false},
    {"files", true, SIZE_MAX, "files"},
    {"files[]", false},
    {"files[].errors", true, 1024, "errors"},
    {"files[].errors[]", false},
    {"statistics", false},
    {"statistics.types", true, TYPES, "type bytes"},
    {"statistics.types[]", false},
    {"statistics.toa", false},
    {"statistics.toa.counts", true, VX7_TOA_VALUES, "ToA values"},
    {"statistics.toa.counts[]", true, ROW, "entries"},
    {"statistics.toa.histogram", false},
    {"statistics.toa.histogram.counts", true, VX7_TOA_VALUES, "bins"},
    {"statistics.hits", true, VX7_PIXEL_INDEXES, "pixels"},
    {"statistics.hits[]", true, ROW, "entries"},
    {"statistics.chunk_counts", true, 256, "chunk types"},
    {"statistics.chunk_counts[]", false},
    {"statistics.image", false},
    {"statistics.tot", false},
    {"statistics.tot.counts", true, TOT_COUNTERS, "ToT values"},
    {"statistics.tot.counts[]", true, ROW, "entries"},
    {"statistics.pc", false},
    {"statistics.pc.counts", true, PC_COUNTERS, "count bins"},
    {"statistics.pc.counts[]", true, ROW, "entries"},
    {"statistics.idle", false},
    {"statistics.frame_hits", true, VX7_PIXEL_INDEXES, "pixels"},
    {"statistics.frame_hits[]", true, ROW, "entries"},
    {"statistics.chunk_hits", true, SIZE_MAX, "files"},
    {"statistics.chunk_hits[]", true, SIZE_MAX, "data chunks"},
    {"statistics.quick_look", false},
    {"statistics.quick_look.errors", true, 16, "errors"},
};
// The objects of a document hold a few members each.
constexpr size_t MAX_MEMBERS = 64;

// The document parsed within its shape: the file list and the hits per
// data chunk taken out as they are read.
json parseDocument(const std::string& text, FileList& files, ChunkHitLists& chunkHits) {
  uint64_t listed = 0;  // the counts of the list of chunk hits being read
  const TakeEntry takeFile = [&](json& entry, size_t i) {
    if (!files.refusal.empty()) return;
    try {
      files.files.push_back(readFile(entry, item("files", i)));
    } catch (const Refused& r) {
      files.refusal = r.why;
    }
  };
  const TakeEntry takeChunkHits = [&](json& entry, size_t) {
    if (!chunkHits.refusal.empty()) return;
    if (!entry.is_array()) {
      chunkHits.refusal = "chunk_hits holds " + entry.dump();
      return;
    }
    chunkHits.sizes.push_back(listed);
    listed = 0;
  };
  const TakeEntry takeChunkCount = [&](json& count, size_t) {
    if (!chunkHits.refusal.empty()) return;
    if (!count.is_number_unsigned()) {
      chunkHits.refusal = "a count is " + count.dump();
      return;
    }
    chunkHits.hits.push_back(count.get<uint64_t>());
    ++listed;
  };
  const std::pair<std::string_view, TakeEntry> handOver[] = {
      {"files", takeFile},
      {"statistics.chunk_hits", takeChunkHits},
      {"statistics.chunk_hits[]", takeChunkCount},
  };
  BoundedParse parsed = parseBounded(text, DOCUMENT_SHAPE, MAX_MEMBERS, handOver);
  if (parsed.syntaxError) refuse("not a JSON document");
  if (!parsed.refusal.empty()) {
    if (parsed.refusedPath.rfind("statistics", 0) == 0)
      refuse("malformed statistics (" + parsed.refusal + ")");
    refuse(parsed.refusal);
  }
  return std::move(parsed.value);
}

void addDocument(const std::string& text, MergeSums& sums) {
  // A text beyond the limit is only read that far: what it is not, as far
  // as it goes, is the better message.
  if (text.size() > MAX_MERGE_DOCUMENT_BYTES) {
    if (!jsonAsFarAsItGoes(text)) refuse("not a JSON document");
    refuse("larger than " + std::to_string(MAX_MERGE_DOCUMENT_BYTES >> 20) + " MiB");
  }
  if (jsonNestingDepth(text) > MAX_MERGE_DOCUMENT_DEPTH)
    refuse("nested deeper than " + std::to_string(MAX_MERGE_DOCUMENT_DEPTH) + " levels");
  FileList fileList;
  ChunkHitLists chunkHits;
  const json doc = parseDocument(text, fileList, chunkHits);
  checkHead(doc);
  const json counting = countingSettings(doc);
  checkUnusedSettings(doc);
  if (sums.settings.is_null()) {
    sums.settings = counting;
  } else if (counting != sums.settings) {
    refuse("made with other counting options (" + counting.dump() + " against " +
           sums.settings.dump() + ")");
  }
  std::vector<MergedFile> files = readFiles(doc, fileList, counting["skip"].get<uint64_t>());
  const Figures f = readStatistics(doc, files, counting["pelvan"].get<bool>());

  addFigures(f, sums);
  const json& st = doc["statistics"];
  sums.allHits = sums.allHits && hasHitMembers(st);
  if (sums.allHits) {
    // The hit members' reader reports a bad member by an exception of the
    // JSON library or of its own, as the other members' malformations.
    std::string why;
    try {
      why = addHitMembers(st, chunkHits, sums.hits);
    } catch (const std::exception& e) {
      why = e.what();
    }
    if (!why.empty()) refuse("malformed statistics (" + why + ")");
  }
  for (MergedFile& m : files) sums.files.push_back(std::move(m));
}

}  // namespace

std::string addStatisticsDocument(const std::string& text, MergeSums& sums) {
  try {
    addDocument(text, sums);
    return {};
  } catch (const Refused& r) {
    return r.why;
  } catch (const std::bad_alloc&) {
    return "too large to read into memory";
  } catch (const std::exception& e) {
    return std::string("cannot be read (") + e.what() + ")";
  }
}

}  // namespace morven
