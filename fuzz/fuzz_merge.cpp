// Fuzz target for the merge's document reader: the input (after two option
// bytes) is one statistics document, or two split at the first zero byte,
// or one given twice. Each is read into one set of sums by the reader
// (morven::addStatisticsDocument), which must refuse or take it without
// crashing; with bit 6, the documents are then merged whole by the
// library's merge over documents in memory (morven::mergeStatisticsTexts)
// into a string stream, as text or as JSON. The merge must end in one of
// two ways: a report (a JSON one parses and begins with its format), or
// nothing but the one line "### Cannot merge NAME: WHY" for a named
// document. Anything else aborts, so that libFuzzer keeps the input.
//
// The whole merge makes a fresh inspector and fresh sums for every input,
// as the command line does; their counters come from calloc and only the
// pages the documents write are touched. The reader alone works on sums
// kept from input to input, cleared where they were written.
//
// Option bytes:
//   0  bit 0: the JSON report (--json)
//      bit 1: --allow-duplicates
//      bit 2: the ToA histogram (-H), with the bins of byte 1
//      bit 3: the EoC list (-e)        bit 4: only its counts above 0 (-E)
//      bit 5: the document given twice (else split at the first zero byte)
//      bit 6: the whole merge after the reader
//   1  number of bins of the ToA histogram, minus 1
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "run/Merge.h"
#include "run/Runs.h"
#include "run/StatisticsDocument.h"

namespace {

void fail(const char* what, const std::string& out) {
  std::fprintf(stderr, "fuzz_merge: %s\n%.2000s\n", what, out.c_str());
  std::abort();
}

void checkRefusal(const std::string& out, const std::vector<morven::NamedDocument>& docs) {
  if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1)
    fail("a refusal is not one line", out);
  for (const morven::NamedDocument& d : docs) {
    const std::string head = "### Cannot merge " + d.name + ": ";
    if (out.compare(0, head.size(), head) == 0 && out.size() > head.size() + 1) return;
  }
  fail("a refusal does not name a document and say why", out);
}

// The reader on sums kept from input to input: a refusal must say why.
void readAll(const std::vector<morven::NamedDocument>& docs) {
  static morven::MergeSums sums;
  sums.tallies.clear();
  sums.packets = 0;
  sums.chunkCounts.clear();
  sums.files.clear();
  sums.settings = nullptr;
  sums.hits = morven::HitTotals();
  sums.allHits = true;
  for (const morven::NamedDocument& d : docs) {
    const std::string why = morven::addStatisticsDocument(d.text, sums);
    if (why.empty()) continue;
    if (why.find('\n') != std::string::npos) fail("a refusal of more than one line", why);
    return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t options = data[0];
  morven::RunSettings s;
  s.pixelScan = true;
  s.imageBase.clear();
  s.json = options & 1;
  s.histogram = options & 4;
  s.histogramBins = data[1] + 1;
  s.eocList = options & 8;
  s.eocListAll = !(options & 16);
  morven::MergeOptions m;
  m.allowDuplicates = options & 2;

  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  std::vector<morven::NamedDocument> docs;
  const size_t split = text.find('\0');
  if (options & 32) {
    docs = {{"a.json", text}, {"b.json", text}};
  } else if (split != std::string::npos) {
    docs = {{"a.json", text.substr(0, split)}, {"b.json", text.substr(split + 1)}};
  } else {
    docs = {{"a.json", text}};
  }

  readAll(docs);
  if (!(options & 64)) return 0;
  std::ostringstream out;
  const morven::RunEnd end = morven::mergeStatisticsTexts(s, docs, out, m);
  const std::string report = out.str();
  if (end == morven::RunEnd::FileFailed) {
    checkRefusal(report, docs);
  } else if (end != morven::RunEnd::Completed) {
    fail("a string stream refused a write", report);
  } else if (s.json) {
    const nlohmann::json doc = nlohmann::json::parse(report, nullptr, false);
    if (doc.is_discarded() || report.rfind("{\"format\":", 0) != 0)
      fail("the merged document does not parse or does not begin with its format", report);
  } else if (report.rfind("### ", 0) == 0) {
    fail("a completed merge began with a refusal", report);
  }
  return 0;
}
