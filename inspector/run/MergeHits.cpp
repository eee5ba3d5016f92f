#include "run/MergeHits.h"

#include <stdexcept>

#include "run/QuickLookRun.h"

namespace morven {

namespace {

using nlohmann::json;

constexpr const char* HIT_MEMBERS[] = {"tot", "pc", "idle", "empty", "frame_hits", "chunk_hits"};

// A count: a non-negative integer.
uint64_t count(const json& value) {
  if (!value.is_number_unsigned()) throw std::invalid_argument("a count is " + value.dump());
  return value.get<uint64_t>();
}

// An index into a tally of limit counters.
uint64_t below(const json& value, uint64_t limit) {
  const uint64_t v = count(value);
  if (v >= limit) throw std::out_of_range("index " + std::to_string(v) + " out of range");
  return v;
}

// a + b, refused past 2^64 - 1.
uint64_t sum(uint64_t a, uint64_t b) {
  if (a > UINT64_MAX - b) throw std::overflow_error("a count passes 2^64 - 1");
  return a + b;
}

void addTo(uint64_t& total, const json& value) {
  total = sum(total, count(value));
}

}  // namespace

bool hasHitMembers(const json& statistics) {
  for (const char* key : HIT_MEMBERS) {
    if (!statistics.contains(key)) return false;
  }
  return true;
}

std::string addHitMembers(const json& st, ChunkHitLists& chunkHits, HitTotals& hits) {
  for (const json& e : st.at("tot").at("counts"))
    addTo(hits.tots[below(e.at(0), TOT_COUNTERS)], e.at(1));
  for (const json& e : st.at("pc").at("counts")) {
    const uint64_t low = count(e.at(0));
    const uint64_t bin = low < (uint64_t(1) << 24) ? pcBin(low) : PC_COUNTERS;
    if (bin >= PC_COUNTERS || pcBinLow(bin) != low)
      return "a count bin starts at " + e.at(0).dump();
    addTo(hits.pcs[bin], e.at(1));
  }
  const json& idle = st.at("idle");
  addTo(hits.idle[size_t(ChunkKind::ToaTot)], idle.at("toatot"));
  addTo(hits.idle[size_t(ChunkKind::Pc24)], idle.at("pc24"));
  addTo(hits.idle[size_t(ChunkKind::Other)], idle.at("other"));
  addTo(hits.empty, st.at("empty"));
  for (const json& e : st.at("frame_hits")) {
    hits.haveFramePixels();
    addTo(hits.framePixels[below(e.at(0), hits.framePixels.size())], e.at(1));
  }
  const json& lists = st.at("chunk_hits");
  if (!lists.is_array()) return "chunk_hits holds " + lists.dump();
  if (!chunkHits.refusal.empty()) return chunkHits.refusal;
  hits.fileChunks.insert(hits.fileChunks.end(), chunkHits.sizes.begin(), chunkHits.sizes.end());
  if (hits.chunkHits.empty()) {
    hits.chunkHits = std::move(chunkHits.hits);
  } else {
    hits.chunkHits.insert(hits.chunkHits.end(), chunkHits.hits.begin(), chunkHits.hits.end());
  }
  return {};
}

std::vector<std::string> writeMergedQuickLook(const RunSettings& s, const DataInspector& inspector,
                                              const json& files, const json& settings) {
  QuickLook q = quickLookOf(inspector, s.hotFactor);
  quickLookSettings(settings, q);
  for (const json& f : files) {
    QuickLookFile file;
    if (!f.is_object()) continue;
    file.name = f.value("name", std::string("?"));
    file.opened = f.value("opened", true);
    const json& size = f.contains("size") ? f["size"] : json();
    const json& packets = f.contains("packets") ? f["packets"] : json();
    file.size = size.is_number_unsigned() ? size.get<uint64_t>() : 0;
    file.packets = packets.is_number_unsigned() ? packets.get<uint64_t>() : 0;
    const json& errors = f.contains("errors") ? f["errors"] : json();
    for (const json& e : errors.is_array() ? errors : json::array()) {
      if (!e.is_object()) continue;
      const json& offset = e.contains("offset") ? e["offset"] : json();
      const json& message = e.contains("message") ? e["message"] : json();
      file.errors.push_back({offset.is_number_unsigned() ? offset.get<uint64_t>() : 0,
                             message.is_string() ? message.get<std::string>() : message.dump()});
    }
    q.files.push_back(std::move(file));
  }
  return writeQuickLook(s, q);
}

}  // namespace morven
