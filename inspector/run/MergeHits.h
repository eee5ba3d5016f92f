// The hit tallies in merged statistics documents (--merge): read from each
// document's statistics, and the quick-look page and list of the sum.
#ifndef MORVEN_MERGEHITS_H
#define MORVEN_MERGEHITS_H

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "report/QuickLook.h"
#include "run/Runs.h"
#include "scan/PacketTally.h"

namespace morven {

// Whether a document's statistics carry the hit tallies (documents of
// earlier versions of the format do not).
bool hasHitMembers(const nlohmann::json& statistics);

// Adds the hit tallies of one document's statistics to hits; an empty
// string, or why they are refused. May throw the JSON library's exceptions
// for members of the wrong type: the caller catches them.
std::string addHitMembers(const nlohmann::json& statistics, HitTotals& hits);

// The quick-look page and list of merged documents, as the settings ask:
// their files (the documents' file objects), their settings and the
// inspector's tallies. Returns what could not be written.
std::vector<std::string> writeMergedQuickLook(const RunSettings& s, const DataInspector& inspector,
                                              const nlohmann::json& files,
                                              const nlohmann::json& settings);

}  // namespace morven

#endif  // MORVEN_MERGEHITS_H
