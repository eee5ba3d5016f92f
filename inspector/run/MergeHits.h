// The hit tallies in merged statistics documents (--merge): read from each
// document's statistics, and the quick-look page and list of the sum.
#ifndef MORVEN_MERGEHITS_H
#define MORVEN_MERGEHITS_H

#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/QuickLook.h"
#include "run/Runs.h"
#include "scan/PacketTally.h"

namespace morven {

// Whether a document's statistics carry the hit tallies (documents of
// earlier versions of the format do not).
bool hasHitMembers(const nlohmann::json& statistics);

// The hits per data chunk of a document (statistics.chunk_hits), as the
// parse takes them out of it: the length of each file's list, the counts
// of all lists one after the other, and why an entry is refused (the
// first one: not a list, or not a count).
struct ChunkHitLists {
  std::vector<uint64_t> sizes;
  std::deque<uint64_t> hits;
  std::string refusal;
};

// Adds the hit tallies of one document's statistics (the hits per data
// chunk taken out of it, and moved on) to hits; an empty string, or why they are
// refused. May throw the JSON library's exceptions for members of the
// wrong type: the caller catches them.
std::string addHitMembers(const nlohmann::json& statistics, ChunkHitLists& chunkHits,
                          HitTotals& hits);

// The quick-look page and list of merged documents, as the settings ask:
// their files (the documents' file objects), their settings and the
// inspector's tallies. Returns what could not be written.
std::vector<std::string> writeMergedQuickLook(const RunSettings& s, const DataInspector& inspector,
                                              const nlohmann::json& files,
                                              const nlohmann::json& settings);

}  // namespace morven

#endif  // MORVEN_MERGEHITS_H
