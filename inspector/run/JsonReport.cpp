#include "run/JsonReport.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <sstream>

#include "format/MorvenFormat.h"
#include "format/Packet.h"
#include "format/RegisterRecords.h"
#include "report/CounterImage.h"
#include "run/FollowRun.h"
#include "scan/PacketTally.h"
#include "text/Format.h"

namespace morven {

namespace {

using nlohmann::json;

// Text from the files (names, JSON payloads) may hold bytes that are not
// UTF-8: they are replaced rather than refused, so that dump never throws.
std::string dumpValue(const json& value) {
  try {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (const std::exception&) {
    return "null";
  }
}

// The members of an object, without its braces, each with a leading comma:
// for appending to an object already open in the output.
void writeMembers(std::ostream& out, const json& object) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    out << ',' << dumpValue(it.key()) << ':' << dumpValue(it.value());
  }
}

uint64_t typeNumber(uint64_t type) {
  return (type & MVHDR_CHUNKTYPE_MASK) >> MVHDR_CHUNKTYPE_SHIFT;
}

json chunkCounts(const DataInspector& inspector) {
  json counts = json::array();
  for (const auto& [key, count] : inspector.walker().chunkTypeCounters()) {
    counts.push_back(
        {{"type", chunkTypeName(key)}, {"type_number", typeNumber(key)}, {"count", count}});
  }
  return counts;
}

// A histogram as the text report draws it: bins of equal width from 0.
json histogram(const std::vector<uint64_t>& counts, uint64_t width) {
  return {{"bins", counts.size()}, {"width", width}, {"counts", counts}};
}

json chunkSizeHistogram(const DataInspector& inspector, int bins) {
  uint64_t max = 0;
  for (uint64_t size : inspector.walker().chunkSizes()) max = std::max(max, size);
  const uint64_t nbins = uint64_t(std::max(bins, 1));
  const uint64_t width = (max + nbins - 1) / nbins + 1;
  std::vector<uint64_t> counts(nbins, 0);
  for (uint64_t size : inspector.walker().chunkSizes()) ++counts[size / width];
  return histogram(counts, width);
}

json toaHistogram(const uint64_t* toas, int bins) {
  const uint64_t nbins = uint64_t(std::max(bins, 1));
  const uint64_t width = (nbins + 65535) / nbins;
  std::vector<uint64_t> counts(nbins, 0);
  for (uint64_t v = 0; v < VX7_TOA_VALUES; ++v) counts[v / width] += toas[v];
  return histogram(counts, width);
}

// The register records of a chip-configuration payload; a record cut off
// by the end of the payload is marked so.
json registerRecords(const std::vector<unsigned char>& bytes) {
  json records = json::array();
  forEachRegisterRecord(bytes.data(), bytes.size(), [&](const RegisterRecord& r) {
    const std::vector<unsigned> shown(r.bytes, r.bytes + r.shown);
    if (r.headCut) {
      records.push_back({{"cut", true}, {"bytes", shown}});
      return;
    }
    json record = {{"address", r.address}, {"length", r.length}, {"bytes", shown}};
    if (r.cut()) {
      record["cut"] = true;
    } else if (r.length <= 8) {
      record["value"] = r.value();
    }
    records.push_back(std::move(record));
  });
  return records;
}

json checkErrors(const CheckFindings& f, bool testGen) {
  json errors = json::array();
  for (const CheckError& e : f.errors) {
    json error = {{"packet", e.packet}, {"link", e.link}};
    if (testGen) {
      error["pixel"] = {{"found", e.pixel}, {"expected", e.expectedPixel}};
      error["eoc"] = {{"found", e.eoc}, {"expected", e.expectedEoc}};
      error["toa"] = {{"found", e.toa}, {"expected", e.expectedToa}};
      error["fixed_pattern_wrong"] = e.fixedWrong;
      if (e.fixedWrong) error["fixed"] = e.fixed;
    } else {
      error["found"] = e.found;
      error["expected"] = e.expected;
    }
    if (e.hasJumps) {
      error["pixel_jump"] = e.pixelJump;
      error["toa_jump"] = e.toaJump;
      error["since_previous"] = e.sincePrevious;
    }
    errors.push_back(std::move(error));
  }
  return errors;
}

json checkFindings(const CheckFindings& f, bool testGen) {
  json runs = json::array();
  for (const ErrorRun& r : f.runs) {
    runs.push_back(
        {{"link", r.link}, {"length", r.length}, {"packet", r.packet}, {"at_end", r.atEnd}});
  }
  json result = {{"errors", checkErrors(f, testGen)}, {"error_runs", runs}};
  if (testGen) {
    json heartbeats = json::array();
    for (const HeartbeatError& h : f.heartbeatErrors) {
      heartbeats.push_back({{"packet", h.packet}, {"found", h.found}, {"expected", h.expected}});
    }
    result["heartbeat_errors"] = heartbeats;
    result["heartbeats"] = f.heartbeats;
  }
  result["idles"] = f.idles;
  result["learned"] = f.learned;
  result["checked"] = f.checked;
  return result;
}

// Lists of non-negative integers, written straight into the stream: the
// ToA counts and the hit list are long, and only numbers.
class NumberWriter {
 public:
  explicit NumberWriter(std::ostream& out) : _out(out) {}
  ~NumberWriter() { flush(); }
  NumberWriter& text(const char* s) {
    const size_t n = std::strlen(s);
    room(n);
    std::memcpy(_end, s, n);
    _end += n;
    return *this;
  }
  NumberWriter& number(uint64_t v) {
    room(20);
    _end = std::to_chars(_end, _buf + sizeof _buf, v).ptr;
    return *this;
  }
  void flush() {
    _out.write(_buf, _end - _buf);
    _end = _buf;
  }

 private:
  void room(size_t n) {
    if (size_t(_buf + sizeof _buf - _end) < n) flush();
  }
  std::ostream& _out;
  char _buf[64 * 1024];
  char* _end = _buf;
};

// Two decimal digits for every value below 100.
constexpr auto DIGIT_PAIRS = [] {
  std::array<char, 200> pairs{};
  for (size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = char('0' + i / 10);
    pairs[2 * i + 1] = char('0' + i % 10);
  }
  return pairs;
}();

// One JSON Lines object per shown packet: its number, the raw word, what
// kind of packet it is and its fields by name. Millions of lines: each is
// built in a character buffer from literal pieces (keys with their quotes
// and colons) and numbers, and handed over in one piece. The writers take
// and return the place to write at, so that it stays in a register.

// A piece of the layout, given as a literal: its length is known here.
template <size_t N>
inline char* put(char* p, const char (&literal)[N]) {
  std::memcpy(p, literal, N - 1);
  return p + N - 1;
}

inline int digitCount(uint64_t v) {
  if (v < 100) return v < 10 ? 1 : 2;
  if (v < 10000) return v < 1000 ? 3 : 4;
  int n = 5;
  for (uint64_t limit = 100000; v >= limit && n < 20; limit *= 10) ++n;
  return n;
}

// The digits are written in place, from the last: their count is known
// first, so no digit string of unknown length is copied.
[[gnu::always_inline]] inline char* num(char* p, uint64_t v) {
  if (v < 10) {
    *p = char('0' + v);
    return p + 1;
  }
  char* const end = p + digitCount(v);
  char* q = end;
  while (v >= 100) {
    q -= 2;
    std::memcpy(q, &DIGIT_PAIRS[2 * (v % 100)], 2);
    v /= 100;
  }
  if (v >= 10) {
    std::memcpy(q - 2, &DIGIT_PAIRS[2 * v], 2);
  } else {
    q[-1] = char('0' + v);
  }
  return end;
}

// A field below 10^8 (every decoded field but the timer): its eight digits
// are made at once and the leading zeros dropped by a shift, without a
// branch on the number of digits, which the random fields of a packet
// stream would mispredict on nearly every line. Writes 8 bytes at p.
[[gnu::always_inline]] inline char* small(char* p, uint32_t v) {
  const uint32_t high = v / 10000, low = v % 10000;
  char eight[8];
  std::memcpy(eight + 0, &DIGIT_PAIRS[2 * (high / 100)], 2);
  std::memcpy(eight + 2, &DIGIT_PAIRS[2 * (high % 100)], 2);
  std::memcpy(eight + 4, &DIGIT_PAIRS[2 * (low / 100)], 2);
  std::memcpy(eight + 6, &DIGIT_PAIRS[2 * (low % 100)], 2);
  const int n = 1 + (v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000) + (v >= 100000) +
                (v >= 1000000) + (v >= 10000000);
  // Dropping the 8 - n leading zeros moves the digits to the front of the
  // word: towards its low end on a little-endian machine, its high end on
  // a big-endian one.
  uint64_t digits;
  std::memcpy(&digits, eight, 8);
  const unsigned drop = 8 * unsigned(8 - n);
  if constexpr (std::endian::native == std::endian::little) {
    digits >>= drop;
  } else {
    digits <<= drop;
  }
  std::memcpy(p, &digits, 8);
  return p + n;
}

// Two hexadecimal digits for every byte value.
constexpr auto HEX_PAIRS = [] {
  constexpr char HEX[] = "0123456789abcdef";
  std::array<char, 512> pairs{};
  for (size_t i = 0; i < 256; ++i) {
    pairs[2 * i] = HEX[i >> 4];
    pairs[2 * i + 1] = HEX[i & 15];
  }
  return pairs;
}();

inline char* hexWord(char* p, uint64_t w) {
  for (int i = 0; i < 8; ++i)
    std::memcpy(p + 2 * i, &HEX_PAIRS[2 * ((w >> (56 - 8 * i)) & 0xFF)], 2);
  return p + 16;
}

[[gnu::always_inline]] inline char* place(char* p, const PacketFields& f) {
  p = small(put(p, ",\"top\":"), f.top);
  p = small(put(p, ",\"eoc\":"), f.type);
  p = small(put(p, ",\"pixnr\":"), f.pixel);
  p = small(put(p, ",\"x\":"), f.x);
  return small(put(p, ",\"y\":"), f.y);
}

void writePacketLine(std::ostream& out, const RunSettings& s, uint64_t chunkType, uint64_t index,
                     uint64_t w) {
  char line[512];
  char* p = num(put(line, "{\"packet\":"), index);
  p = put(hexWord(put(p, ",\"raw\":\""), w), "\"");
  const PacketFields f = decodePacket(w);
  if (s.fromPelvan && index % PELVAN_BLOCK_WORDS == 1) {
    p = small(put(p, ",\"kind\":\"pelvan_header\",\"seq_high\":"), pelvanSeqHigh(w));
    p = small(put(p, ",\"seq_low\":"), pelvanSeqLow(w));
    p = small(put(p, ",\"link\":"), pelvanLink(w));
  } else if (s.fromPelvan && index % PELVAN_BLOCK_WORDS == 0) {
    p = small(put(p, ",\"kind\":\"pelvan_trailer\",\"payload\":"), pelvanPayload(w));
  } else if (w == IDLE_WORD) {
    p = put(p, ",\"kind\":\"idle\"");
  } else if (w == EMPTY_PACKET_WORD) {
    p = put(p, ",\"kind\":\"empty\"");
  } else if (s.testGen) {
    p = small(put(p, ",\"kind\":\"testgen\",\"top\":"), f.top);
    p = small(put(p, ",\"cntr30\":"), testGenCounter30(w));
    p = small(put(p, ",\"cntr46\":"), testGenCounter46(w));
    p = num(put(p, ",\"constant\":"), testGenFixed(w));
  } else if (f.type <= VX7_EOC_MAX_COLNR) {
    const bool forced = s.frameBits != 0;
    if (chunkType == MVHDR_VX7TOATOT && !forced) {
      p = place(put(p, ",\"kind\":\"toatot\""), f);
      p = small(put(p, ",\"toa\":"), f.toa);
      p = small(put(p, ",\"uftoa_start\":"), f.uftoaStart);
      p = small(put(p, ",\"uftoa_stop\":"), f.uftoaStop);
      p = small(put(p, ",\"ftoa_fall\":"), f.ftoaFall);
      p = small(put(p, ",\"ftoa_rise\":"), f.ftoaRise);
      p = small(put(p, ",\"tot\":"), f.tot);
      p = small(put(p, ",\"pileup\":"), f.pileup);
    } else if (chunkType == MVHDR_VX7PC24 && !forced) {
      p = small(put(place(put(p, ",\"kind\":\"pc24\""), f), ",\"pc\":"), f.pc);
    } else {
      p = put(p, ",\"kind\":\"data\"");
    }
  } else {
    // Control type names are the format's own: capitals and '_', or "????";
    // nothing to escape.
    const std::string type = packetTypeName(f.type);
    p = put(p, ",\"kind\":\"control\",\"type\":\"");
    std::memcpy(p, type.data(), type.size());
    p = put(p + type.size(), "\"");
    p = small(put(p, ",\"type_number\":"), f.type);
    p = small(put(p, ",\"top\":"), f.top);
    p = num(put(p, ",\"value\":"), f.timer);
  }
  p = put(p, "}\n");
  std::streambuf* sb = out.rdbuf();
  if (sb->sputn(line, p - line) != p - line || sb->pubsync() != 0) out.setstate(std::ios::badbit);
}

}  // namespace

// ---- Settings and statistics --------------------------------------------------

json jsonSettings(const RunSettings& s) {
  json settings = {{"skip", s.skipCount},
                   {"reverse_words", s.reverseWords},
                   {"reverse_bytes", s.reverseBytes},
                   {"pelvan", s.fromPelvan},
                   {"frame_bits", s.frameBits},
                   {"links", s.links}};
  settings["histogram_bins"] = s.histogram ? json(s.histogramBins) : json(nullptr);
  return settings;
}

namespace {

// Non-zero counters as [value, count] pairs.
void writePairs(NumberWriter& numbers, const char* head, const std::vector<uint64_t>& counts,
                uint64_t (*value)(uint64_t)) {
  numbers.text(head);
  bool first = true;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    numbers.text(first ? "[" : ",[").number(value(i)).text(",").number(counts[i]).text("]");
    first = false;
  }
  numbers.text("]");
}

uint64_t same(uint64_t v) {
  return v;
}

void writeHitMembers(const HitTotals& h, std::ostream& out) {
  NumberWriter numbers(out);
  writePairs(numbers, ",\"tot\":{\"counts\":[", h.tots, same);
  writePairs(numbers, "},\"pc\":{\"counts\":[", h.pcs, pcBinLow);
  numbers.text("},\"idle\":{\"toatot\":").number(h.idle[size_t(ChunkKind::ToaTot)]);
  numbers.text(",\"pc24\":").number(h.idle[size_t(ChunkKind::Pc24)]);
  numbers.text(",\"other\":").number(h.idle[size_t(ChunkKind::Other)]);
  numbers.text("},\"empty\":").number(h.empty);
  writePairs(numbers, ",\"frame_hits\":[", h.framePixels, same);
  numbers.text(",\"chunk_hits\":[");
  size_t next = 0;
  for (size_t f = 0; f < h.fileChunks.size(); ++f) {
    numbers.text(f == 0 ? "[" : ",[");
    for (uint64_t c = 0; c < h.fileChunks[f] && next < h.chunkHits.size(); ++c) {
      numbers.text(c == 0 ? "" : ",").number(h.chunkHits[next++]);
    }
    numbers.text("]");
  }
  numbers.text("]");
}

}  // namespace

void writeStatisticsMembers(const RunSettings& s, const DataInspector& inspector,
                            std::ostream& out) {
  json types = json::array();
  const std::vector<uint64_t>& typeCounts = inspector.tallies().types;
  for (size_t t = 0; t < typeCounts.size(); ++t) {
    types.push_back({{"type", t}, {"name", packetTypeName(t)}, {"count", typeCounts[t]}});
  }
  writeMembers(out, {{"packets", inspector.stream().delivered()}, {"types", types}});

  NumberWriter numbers(out);
  numbers.text(",\"toa\":{\"counts\":[");
  const uint64_t* toas = inspector.tallies().toas.get();
  bool first = true;
  for (uint64_t v = 0; v < VX7_TOA_VALUES; ++v) {
    if (toas[v] == 0) continue;
    numbers.text(first ? "[" : ",[").number(v).text(",").number(toas[v]).text("]");
    first = false;
  }
  numbers.text("]");
  if (s.histogram) {
    numbers.flush();
    writeMembers(out, {{"histogram", toaHistogram(toas, s.histogramBins)}});
  }
  numbers.text("},\"hits\":[");
  const uint64_t* hits = inspector.tallies().pixels.get();
  first = true;
  for (uint64_t i = 0; i < VX7_PIXEL_INDEXES; ++i) {
    if (hits[i] == 0) continue;
    const PixelPlace place = pixelPlace(i);
    numbers.text(first ? "[" : ",[").number(i).text(",").number(place.x).text(",");
    numbers.number(place.y).text(",").number(hits[i]).text("]");
    first = false;
  }
  numbers.text("]");
  numbers.flush();
  writeMembers(out, {{"chunk_counts", chunkCounts(inspector)}});
  if (inspector.tallies().hits) writeHitMembers(*inspector.tallies().hits, out);
}

// ---- JsonReport ---------------------------------------------------------------

void JsonReport::quickLookWritten(const std::vector<std::string>& failures) {
  _quickLook = {{"html", _s.htmlFile.empty() ? json() : json(_s.htmlFile)},
                {"hot_pixels", _s.hotPixelsFile.empty() ? json() : json(_s.hotPixelsFile)},
                {"errors", failures}};
  if (!failures.empty()) pictureFailed();
}

JsonReport::JsonReport(const RunSettings& s, std::ostream& out)
    : RunReport(out, true),
      _s(s),
      _out(out),
      _inspectorOut(&_inspectorText),
      _lines(s.pixelScan && s.displayPixels) {
  if (!_lines) beginDocument();
}

JsonReport::~JsonReport() = default;

void JsonReport::beginDocument() {
  const char* mode = !_s.pixelScan     ? "file-check"
                     : _s.testGen      ? "test-generator-check"
                     : _s.counterCheck ? "counter-check"
                                       : "statistics";
  _out << "{\"format\":"
       << dumpValue({{"name", JSON_FORMAT_NAME}, {"version", JSON_FORMAT_VERSION}});
  writeMembers(_out, {{"mode", mode}, {"settings", jsonSettings(_s)}});
  _out << ",\"files\":[";
}

void JsonReport::problem(const FileProblem& p) {
  if (_lines) {
    _out << "{\"error\":" << dumpValue({{"offset", p.offset}, {"message", problemMessage(p)}})
         << "}\n";
    _out.flush();
    return;
  }
  _problems.push_back(p);
}

json JsonReport::takeProblems() {
  json errors = json::array();
  for (const FileProblem& p : _problems) {
    errors.push_back({{"offset", p.offset}, {"message", problemMessage(p)}});
  }
  _problems.clear();
  return errors;
}

void JsonReport::beginFile(const std::string& name, const DataInspector& inspector) {
  if (_lines) return;
  _out << (_firstFile ? "" : ",") << "{\"name\":" << dumpValue(name);
  writeMembers(_out, {{"header", inspector.walker().fileHeaderString()}});
  // A stream's size is known once it has been read: given at the file's end.
  if (inspector.walker().sizeKnownAtOpen())
    writeMembers(_out, {{"size", inspector.walker().fileSize()}});
  _sizeLater = !inspector.walker().sizeKnownAtOpen();
  if (_sizeLater && _heldSizes != nullptr) _sizeAt = uint64_t(_out.tellp());
  _openFile = &inspector;
  _firstFile = false;
  _fileOpen = true;
}

void JsonReport::endFile(json members) {
  if (_lines || !_fileOpen) return;
  if (_sizeLater && _openFile != nullptr) {
    json sizes = {{"size", _openFile->walker().fileSize()}};
    const uint64_t compressed = _openFile->walker().compressedSize();
    if (compressed > 0) sizes["compressed_size"] = compressed;
    if (_heldSizes != nullptr) {
      std::ostringstream text;
      writeMembers(text, sizes);
      _heldSizes->emplace_back(_sizeAt, text.str());
    } else {
      members.update(sizes);
    }
  }
  members["errors"] = takeProblems();
  writeMembers(_out, members);
  _out << "}";
  _fileOpen = false;
}

void JsonReport::fileFailed(const std::string& name) {
  _failedFile = name;
  if (_lines) return;
  _out << (_firstFile ? "" : ",") << "{\"name\":" << dumpValue(name);
  writeMembers(_out, {{"opened", false}, {"errors", takeProblems()}});
  _out << "}";
  _firstFile = false;
}

void JsonReport::checkFileOpened(const std::string& name, const DataInspector& inspector) {
  beginFile(name, inspector);
  _out << ",\"chunks\":[";
  _firstChunk = true;
}

void JsonReport::chunk(const DataInspector& inspector, bool) {
  const uint64_t header = inspector.walker().chunkHeaderWord();
  json c = {{"offset", inspector.walker().chunkOffset()},
            {"type", chunkTypeName(inspector.walker().chunkType())},
            // The header's own type field: the name is the type taken (the
            // ToA/ToT halves are read as MVHDR_VX7TOATOT), the number is not.
            {"type_number", typeNumber(header)},
            {"stream", (header & MVHDR_STREAMID_MASK) >> MVHDR_STREAMID_SHIFT},
            {"bytes", inspector.walker().chunkBytes()}};
  if (_s.showJson && inspector.walker().chunkIsJson()) {
    // The inspector keeps a payload that parses, printed back; one that
    // does not leaves an empty text and an error.
    const std::string text = inspector.walker().jsonString();
    c["json"] = text.empty() ? json(nullptr) : json::parse(text, nullptr, false);
    if (c["json"].is_discarded()) c["json"] = nullptr;
  } else if (_s.showConfig && inspector.walker().chunkIsVx7Config()) {
    c["registers"] = registerRecords(inspector.walker().configBytes());
  }
  _out << (_firstChunk ? "" : ",") << dumpValue(c);
  _firstChunk = false;
}

void JsonReport::checkFileEnded(const DataInspector& inspector) {
  _out << "]";
  json end = {
      {"end_of_file", inspector.walker().feof()},
      {"index", inspector.walker().fileIndex()},
      {"errno",
       inspector.walker().errNo() != 0 ? json(std::strerror(inspector.walker().errNo())) : json()},
      {"read_error", inspector.walker().ferror()},
      {"chunk_total", inspector.walker().headerTotal()},
      {"data_bytes", inspector.walker().chunkBytesTotal()},
      {"data_packets", inspector.walker().chunkBytesTotal() / 8},
      {"chunk_counts", chunkCounts(inspector)}};
  if (_s.histogram) end["size_histogram"] = chunkSizeHistogram(inspector, _s.histogramBins);
  end["has_errors"] = inspector.walker().hasError();
  endFile(std::move(end));
}

void JsonReport::scanFileOpened(const std::string& name, const DataInspector& inspector) {
  _packetsBefore = inspector.stream().delivered();
  _skipped = 0;
  _findings = CheckFindings();
  beginFile(name, inspector);
}

void JsonReport::skipped(uint64_t packets) {
  _skipped = packets;
}

void JsonReport::packet(DataInspector& inspector, uint64_t index, uint64_t word) {
  if (_s.skipZeroPackets && word == 0) return;
  writePacketLine(_out, _s, inspector.walker().chunkType(), index, word);
}

void JsonReport::checked(const DataInspector& inspector, uint64_t checked, bool testGen) {
  _checkTotals = {{"packets", inspector.stream().delivered()}, {"anything_checked", checked != 0}};
  if (testGen) _checkTotals["heartbeats"] = inspector.tallies().types[VX7_EOC_HEARTBEAT];
  _fileCheck = checkFindings(_findings, testGen);
}

void JsonReport::testGenChecked(const DataInspector& inspector, uint64_t n) {
  checked(inspector, n, true);
}

void JsonReport::countersChecked(const DataInspector& inspector, uint64_t n) {
  checked(inspector, n, false);
}

void JsonReport::statistics(const DataInspector& inspector) {
  // The picture is drawn after every file, as in the text report; the
  // figures are written once, after the last.
  const std::string image = imageFileName(_s);
  _image = {{"file", image.empty() ? json() : json(image)}, {"error", nullptr}};
  if (!image.empty()) {
    const std::string error = writeRunPicture(_s, inspector.tallies().pixels.get(), image);
    if (!error.empty()) {
      _image["error"] = error;
      pictureFailed();
    }
  }
  _statistics = &inspector;
}

void JsonReport::scanFileEnded(const DataInspector& inspector) {
  json members = {{"skipped", _skipped},
                  {"packets", inspector.stream().delivered() - _packetsBefore}};
  if (_s.testGen || _s.counterCheck) members["check"] = std::move(_fileCheck);
  endFile(std::move(members));
}

std::string JsonReport::closingNow(const DataInspector& inspector) const {
  std::ostringstream o;
  if (_fileOpen && !_lines) {
    json members = {{"skipped", _skipped},
                    {"packets", inspector.stream().delivered() - _packetsBefore},
                    {"size", inspector.walker().fileSize()}};
    json errors = json::array();
    for (const FileProblem& p : _problems) {
      errors.push_back({{"offset", p.offset}, {"message", problemMessage(p)}});
    }
    members["errors"] = std::move(errors);
    writeMembers(o, members);
    o << "}";
  }
  o << "]";
  const std::string image = imageFileName(_s);
  o << ",\"statistics\":{\"image\":"
    << dumpValue(json{{"file", image.empty() ? json() : json(image)}, {"error", nullptr}});
  writeStatisticsMembers(_s, inspector, o);
  o << "}";
  writeMembers(o, {{"run_end", "following"}});
  o << "}\n";
  return o.str();
}

void JsonReport::runEnded(RunEnd end) {
  if (_lines) return;
  // A run stopped inside a file still closes that file's object.
  if (_fileOpen) endFile(json::object());
  _out << "]";
  if (_statistics != nullptr) {
    _out << ",\"statistics\":{\"image\":" << dumpValue(_image);
    if (!_quickLook.is_null()) writeMembers(_out, {{"quick_look", _quickLook}});
    writeStatisticsMembers(_s, *_statistics, _out);
    _out << "}";
  }
  if (!_checkTotals.is_null()) writeMembers(_out, {{"totals", _checkTotals}});
  writeMembers(_out, {{"run_end", runEndName(end, imageFailed())}});
  _out << "}" << std::endl;
}

const char* runEndName(RunEnd end, bool imageFailed) {
  switch (end) {
    case RunEnd::Completed:
      return imageFailed ? "image_failed" : "completed";
    case RunEnd::FileFailed:
      return "file_failed";
    case RunEnd::ImageFailed:
      return "image_failed";
    case RunEnd::ReadFailed:
      return "read_failed";
    case RunEnd::OutputFailed:
      break;
  }
  return "output_failed";
}

}  // namespace morven
