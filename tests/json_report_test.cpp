// The JSON report (--json) through the mvscan binary: every document is
// parsed, and its figures are compared with the text report of the same
// run and with the files the test builds; the display's JSON Lines with the
// packets written; the merge of statistics documents with one run over
// all the files, text byte for byte and picture byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"

namespace {

using namespace testing_files;
using namespace morven;
using nlohmann::json;

uint64_t hit(bool top, uint64_t eoc, uint64_t pixel, uint64_t toa) {
  return (uint64_t(top) << 63) | (eoc << 55) | (pixel << 46) | (toa << 30);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// The lines of text that match re, each as its sub-matches.
std::vector<std::smatch> matches(const std::vector<std::string>& text, const std::string& re) {
  std::vector<std::smatch> result;
  const std::regex r(re);
  for (const std::string& line : text) {
    std::smatch m;
    if (std::regex_match(line, m, r)) result.push_back(m);
  }
  return result;
}

json parseDocument(const RunResult& r) {
  json doc = json::parse(r.out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << r.out.substr(0, 500);
  EXPECT_EQ(doc["format"], json({{"name", "mvscan-report"}, {"version", 1}}));
  return doc;
}

// a.mv: run information, registers, ToA/ToT hits on stream 3, a PC24 chunk;
// b.mv: hits, then a header word of no known type.
FileBuilder fileA() {
  return FileBuilder()
      .header()
      .jsonChunk(MVHDR_RUNINFO, "{\"run\": 17, \"name\": \"ab\"}")
      .configChunk({configRecord(0x12, {0xAB}), configRecord(0x3456, {1, 2, 3, 4, 5, 6, 7, 8, 9})})
      .chunk(MVHDR_VX7TOATOT, {hit(false, 5, 0x1D, 100), hit(true, 5, 0x1D, 200)}, 3)
      .chunk(MVHDR_VX7PC24, {hit(false, 7, 1, 0)});
}

FileBuilder fileB() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_VX7TOATOT,
             {hit(false, 5, 0x1D, 100), hit(false, 9, 3, 65535), uint64_t(VX7_EOC_HEARTBEAT) << 55})
      .word(0x5555555555555555ULL)
      .word(0);
}

TEST(JsonReport, FileCheckFiguresAreTheTextReports) {
  TempDir dir;
  dir.write("a.mv", fileA());
  dir.write("b.mv", fileB());
  const std::vector<std::string> options = {"-f", "-j", "-c", "-H", "4", "a.mv", "b.mv"};
  const RunResult text = runMvscan(options, dir.path());
  std::vector<std::string> jsonOptions = options;
  jsonOptions.insert(jsonOptions.begin(), "--json");
  const RunResult r = runMvscan(jsonOptions, dir.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const json doc = parseDocument(r);
  EXPECT_EQ(doc["mode"], "file-check");
  EXPECT_EQ(doc["run_end"], "completed");
  const std::vector<std::string> t = lines(text.out);

  const auto opened = matches(t, "File opened: (.*)");
  const auto sizes = matches(t, "File size  : (\\d+) bytes");
  const auto totals = matches(t, "Chunks = (\\d+), Total data bytes = (\\d+) \\((\\d+) pixels\\)");
  // a.mv is read to its end; b.mv's walk stops at its broken header.
  const auto ends = matches(t, "=> End-of-file reached \\(index=(\\d+)\\)");
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(matches(t, "### Not at end-of-file\\?").size(), 1u);
  ASSERT_EQ(doc["files"].size(), 2u);
  ASSERT_EQ(opened.size(), 2u);
  ASSERT_EQ(totals.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const json& f = doc["files"][i];
    EXPECT_EQ(f["name"], opened[i][1].str());
    EXPECT_EQ(f["header"], "MORVEN");
    EXPECT_EQ(f["size"].get<uint64_t>(), std::stoull(sizes[i][1]));
    EXPECT_EQ(f["chunk_total"].get<uint64_t>(), std::stoull(totals[i][1]));
    EXPECT_EQ(f["data_bytes"].get<uint64_t>(), std::stoull(totals[i][2]));
    EXPECT_EQ(f["data_packets"].get<uint64_t>(), std::stoull(totals[i][3]));
  }
  EXPECT_EQ(doc["files"][0]["end_of_file"], true);
  EXPECT_EQ(doc["files"][0]["index"].get<uint64_t>(), std::stoull(ends[0][1]));
  EXPECT_EQ(doc["files"][1]["end_of_file"], false);

  // Every chunk of the listing, in order, with its size.
  const auto listed = matches(t, "(MVHDR_\\w+|\\?\\?\\?) +(\\d+)");
  std::vector<std::pair<std::string, uint64_t>> jsonChunks;
  for (const json& f : doc["files"]) {
    for (const json& c : f["chunks"]) jsonChunks.emplace_back(c["type"], c["bytes"]);
  }
  // The chunk listing and the chunk counters both match the pattern; the
  // listing comes first in each file.
  std::vector<std::pair<std::string, uint64_t>> textChunks;
  bool inListing = false;
  for (const std::string& line : t) {
    if (line == "------------               ------------") inListing = true;
    if (line.rfind("=> ", 0) == 0 && line != "=> RUNINFO:") inListing = false;
    std::smatch m;
    if (inListing && std::regex_match(line, m, std::regex("(MVHDR_\\w+) +(\\d+)")))
      textChunks.emplace_back(m[1], std::stoull(m[2]));
  }
  EXPECT_EQ(jsonChunks, textChunks);

  // Offsets, stream ids and type numbers of a.mv's chunks, as built.
  const json& a = doc["files"][0]["chunks"];
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0]["offset"], 8);
  EXPECT_EQ(a[0]["json"], json({{"run", 17}, {"name", "ab"}}));
  EXPECT_EQ(a[1]["offset"], 8 + 8 + 32);
  EXPECT_EQ(a[1]["type_number"], MVHDR_VX7CFG >> 48);
  EXPECT_EQ(a[1]["registers"], json::parse(R"([{"address":18,"length":1,"bytes":[171],"value":171},
                            {"address":13398,"length":9,"bytes":[1,2,3,4,5,6,7,8,9]}])"));
  EXPECT_EQ(a[2]["stream"], 3);
  EXPECT_EQ(a[2]["bytes"], 16);
  EXPECT_EQ(a[3]["stream"], 0);

  // Chunk counts and the histogram of data-chunk sizes, per file.
  const auto counters = matches(t, "(MVHDR_\\w+) +(\\d+)");
  const auto bins = matches(t, " *(\\d+)      +(\\d+)");
  size_t counterAt = 0;
  for (size_t i = 0; i < 2; ++i) {
    const json& f = doc["files"][i];
    for (const json& c : f["chunk_counts"]) {
      // The counters follow the listing's rows of the same file.
      while (counterAt < counters.size() &&
             !(counters[counterAt][1] == c["type"].get<std::string>() &&
               std::stoull(counters[counterAt][2]) == c["count"].get<uint64_t>()))
        ++counterAt;
      EXPECT_LT(counterAt, counters.size()) << c;
    }
    const json& h = f["size_histogram"];
    ASSERT_EQ(h["bins"], 4);
    for (size_t b = 0; b < 4; ++b) {
      const auto& row = bins[i * 4 + b];
      EXPECT_EQ(std::stoull(row[1]), b * h["width"].get<uint64_t>());
      EXPECT_EQ(std::stoull(row[2]), h["counts"][b].get<uint64_t>());
    }
  }

  // The errors: every "### " line of the text, with its file offset.
  const auto errorLines = matches(t, "### (.*)");
  std::vector<std::string> textErrors;
  for (const auto& m : errorLines) {
    // The end of the walk and the closing remark are fields of their own.
    if (m[1] != "There were errors in this file" && m[1] != "Not at end-of-file?")
      textErrors.push_back(m[1]);
  }
  std::vector<std::string> jsonErrors;
  for (const json& f : doc["files"]) {
    for (const json& e : f["errors"]) jsonErrors.push_back(e["message"]);
  }
  EXPECT_EQ(jsonErrors, textErrors);
  ASSERT_EQ(doc["files"][1]["errors"].size(), 1u);
  EXPECT_EQ(doc["files"][1]["errors"][0]["offset"], 8 + 8 + 24);
  EXPECT_EQ(doc["files"][1]["has_errors"], true);
  EXPECT_EQ(doc["files"][0]["has_errors"], false);
}

// A chunk's type_number is its header's type field; its type is the type
// it is read as. The ToA/ToT halves are read, and counted, as
// MVHDR_VX7TOATOT (type number 2).
TEST(JsonReport, ChunkTypeNumberIsTheHeaders) {
  TempDir dir;
  dir.write("halves.mv", FileBuilder()
                             .header()
                             .chunk(MVHDR_VX7TOATOT_TOP, {hit(true, 5, 1, 2)})
                             .chunk(MVHDR_VX7TOATOT_BOTTOM, {hit(false, 5, 1, 2)})
                             .chunk(MVHDR_VX7TOATOT, {hit(false, 6, 1, 2)}));
  const RunResult r = runMvscan({"--json", "halves.mv"}, dir.path());
  ASSERT_EQ(r.status, 0);
  const json doc = parseDocument(r);
  const json& f = doc["files"][0];
  EXPECT_EQ(f["chunks"], json::parse(R"([
      {"offset":8,"type":"MVHDR_VX7TOATOT","type_number":0,"stream":0,"bytes":8},
      {"offset":24,"type":"MVHDR_VX7TOATOT","type_number":1,"stream":0,"bytes":8},
      {"offset":40,"type":"MVHDR_VX7TOATOT","type_number":2,"stream":0,"bytes":8}])"));
  EXPECT_EQ(f["chunk_counts"],
            json::parse(R"([{"type":"MVHDR_VX7TOATOT","type_number":2,"count":3}])"));
}

TEST(JsonReport, StatisticsFiguresAreTheTextReports) {
  TempDir dir;
  dir.write("a.mv", fileA());
  dir.write("b.mv", fileB());
  const RunResult text = runMvscan({"-p", "-e", "-H", "16", "a.mv", "b.mv"}, dir.path());
  const RunResult r =
      runMvscan({"-p", "-e", "-H", "16", "--json", "--image", "j.png", "a.mv", "b.mv"}, dir.path());
  ASSERT_EQ(r.status, 0);
  const json doc = parseDocument(r);
  EXPECT_EQ(doc["mode"], "statistics");
  const json& st = doc["statistics"];
  EXPECT_EQ(st["image"], json({{"file", "j.png"}, {"error", nullptr}}));
  EXPECT_EQ(readWholeFile(dir.file("j.png")), readWholeFile(dir.file("inspect.png")));

  // The text prints the statistics after each file; the document's are
  // those after the last.
  const std::vector<std::string> all = lines(text.out);
  const auto lastBlock = std::find(all.rbegin(), all.rend(), "=> EoC counters:").base();
  const std::vector<std::string> t(lastBlock, all.end());
  const auto eoc = matches(t, " *(\\d+)  (\\d+)(  \\((.*)\\))?");
  ASSERT_EQ(eoc.size(), 256u);
  ASSERT_EQ(st["types"].size(), 256u);
  for (size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(st["types"][i]["type"], i);
    EXPECT_EQ(st["types"][i]["count"].get<uint64_t>(), std::stoull(eoc[i][2])) << i;
    if (eoc[i][4].matched && eoc[i][4] != "???") {
      EXPECT_EQ(st["types"][i]["name"], eoc[i][4].str());
    }
  }
  EXPECT_EQ(st["types"][224]["name"], "HEARTBEAT");

  const auto toaRows = matches(t, " *(\\d+)     +(\\d+)");
  const json& h = st["toa"]["histogram"];
  ASSERT_EQ(h["bins"], 16);
  for (size_t b = 0; b < 16; ++b) {
    EXPECT_EQ(std::stoull(toaRows[b][1]), b * h["width"].get<uint64_t>());
    EXPECT_EQ(std::stoull(toaRows[b][2]), h["counts"][b].get<uint64_t>());
  }
  // Full resolution, and the hits of every pixel with one, as built.
  EXPECT_EQ(st["toa"]["counts"], json::parse("[[100,2],[200,1],[65535,1]]"));
  // Pixel 0x1D of EoC 5: double column 5, its right column (bit 2), super-
  // pixel 3, row 1: x = 11, y = 13; in the top half mirrored: 436, 498.
  const uint64_t top = 1 << 17;
  EXPECT_EQ(st["hits"],
            json::parse("[[" + std::to_string(5 << 9 | 0x1D) + ",11,13,2],[" +
                        std::to_string(7 << 9 | 1) + ",14,1,1],[" + std::to_string(9 << 9 | 3) +
                        ",18,3,1],[" + std::to_string(top | 5 << 9 | 0x1D) + ",436,498,1]]"));

  const auto total = matches(t, "Total pixelpackets = (\\d+)");
  ASSERT_EQ(total.size(), 1u);
  EXPECT_EQ(st["packets"].get<uint64_t>(), std::stoull(total[0][1]));
  const auto counters = matches(t, "(MVHDR_\\w+) +(\\d+)");
  ASSERT_EQ(st["chunk_counts"].size(), counters.size());
  for (size_t i = 0; i < counters.size(); ++i) {
    EXPECT_EQ(st["chunk_counts"][i]["type"], counters[i][1].str());
    EXPECT_EQ(st["chunk_counts"][i]["count"].get<uint64_t>(), std::stoull(counters[i][2]));
  }
  ASSERT_EQ(doc["files"].size(), 2u);
  EXPECT_EQ(doc["files"][0]["packets"], 3);
  EXPECT_EQ(doc["files"][1]["packets"], 3);
  EXPECT_EQ(doc["files"][1]["errors"][0]["message"],
            "Invalid header 0x5555000000000000 @ index=40");
}

TEST(JsonReport, DisplayLinesDecodeThePackets) {
  TempDir dir;
  const uint64_t heartbeat = uint64_t(VX7_EOC_HEARTBEAT) << 55 | 12345;
  dir.write("a.mv", FileBuilder()
                        .header()
                        .chunk(MVHDR_VX7TOATOT,
                               {hit(true, 5, 0x1D, 100) | 0x3FFFFFFF, IDLE_WORD, heartbeat, 0})
                        .chunk(MVHDR_VX7PC24, {hit(false, 7, 1, 0) | 0xABCDEF}));
  const RunResult text = runMvscan({"-P", "-C", "-0", "a.mv"}, dir.path());
  const RunResult r = runMvscan({"-P", "-0", "--json", "a.mv"}, dir.path());
  ASSERT_EQ(r.status, 0);
  std::vector<json> objects;
  for (const std::string& line : lines(r.out)) {
    objects.push_back(json::parse(line, nullptr, false));
    ASSERT_FALSE(objects.back().is_discarded()) << line;
  }
  // One object per line that the text display shows.
  EXPECT_EQ(objects.size(), matches(lines(text.out), " *\\d+: .*").size());
  ASSERT_EQ(objects.size(), 4u);
  EXPECT_EQ(objects[0], json::parse(R"({"packet":1,"raw":"828740193fffffff","kind":"toatot",
      "top":1,"eoc":5,"pixnr":29,"x":436,"y":498,"toa":100,"uftoa_start":15,"uftoa_stop":15,
      "ftoa_fall":31,"ftoa_rise":31,"tot":2047,"pileup":1})"));
  EXPECT_EQ(objects[1], json::parse(R"({"packet":2,"raw":"000000000000001e","kind":"idle"})"));
  EXPECT_EQ(objects[2], json::parse(R"({"packet":3,"raw":"7000000000003039","kind":"control",
      "type":"HEARTBEAT","type_number":224,"top":0,"value":12345})"));
  EXPECT_EQ(objects[3], json::parse(R"({"packet":5,"raw":"0380400000abcdef","kind":"pc24",
      "top":0,"eoc":7,"pixnr":1,"x":14,"y":1,"pc":11259375})"));
}

std::string makeWithMvgen(const TempDir& dir, const std::string& name,
                          const std::vector<std::string>& args) {
  std::vector<std::string> all = args;
  all.insert(all.end(), {"-o", dir.file(name)});
  const RunResult g = runTool(MVGEN_BINARY, all, "");
  EXPECT_EQ(g.status, 0) << g.err;
  return name;
}

uint64_t hex(const std::string& text) {
  return std::stoull(text, nullptr, 16);
}

// Every error line of the test-generator check is an error record with the

// Numbers of every length, at both ends of each: the counts of a PC24
// packet (24 bits, up to 8 digits) and the ToA of a ToA/ToT packet. Every
// line must still be valid JSON (no leading zeros, nothing left behind by a
// longer number) and carry the value written.
TEST(JsonReport, DisplayLinesWriteNumbersOfEveryLength) {
  const std::vector<uint64_t> counts = {0,       9,       10,       99,       100,     999,
                                        1000,    9999,    10000,    99999,    100000,  999999,
                                        1000000, 9999999, 10000000, 16777215, 12345678};
  const std::vector<uint64_t> toas = {0, 9, 10, 99, 100, 999, 1000, 9999, 10000, 65535};
  std::vector<uint64_t> pc, toatot;
  for (uint64_t c : counts) pc.push_back(hit(false, 7, 1, 0) | c);
  for (uint64_t t : toas) toatot.push_back(hit(true, 200, 511, t));
  TempDir dir;
  dir.write("a.mv", FileBuilder().header().chunk(MVHDR_VX7PC24, pc).chunk(MVHDR_VX7TOATOT, toatot));
  const RunResult r = runMvscan({"-P", "--json", "a.mv"}, dir.path());
  ASSERT_EQ(r.status, 0);
  const auto text = lines(r.out);
  ASSERT_EQ(text.size(), counts.size() + toas.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const json o = json::parse(text[i], nullptr, false);
    ASSERT_FALSE(o.is_discarded()) << text[i];
    EXPECT_EQ(o["packet"], i + 1);
    if (i < counts.size()) {
      EXPECT_EQ(o["pc"], counts[i]) << text[i];
      EXPECT_EQ(o["eoc"], 7) << text[i];
    } else {
      EXPECT_EQ(o["toa"], toas[i - counts.size()]) << text[i];
      EXPECT_EQ(o["eoc"], 200) << text[i];
      EXPECT_EQ(o["pixnr"], 511) << text[i];
      EXPECT_EQ(o["tot"], 0) << text[i];
    }
  }
}
// same packet number, fields and jump figures; the counts are the text's.
TEST(JsonReport, TestGeneratorCheckFiguresAreTheTextReports) {
  TempDir dir;
  const std::string f = makeWithMvgen(
      dir, "tg.mv",
      {"-k", "testgen", "-n", "20000", "-e", "toa@1000", "-e", "fixed@5000", "-e", "missing@9000"});
  const RunResult text = runMvscan({"-Q", f}, dir.path());
  const RunResult r = runMvscan({"-Q", "--json", f}, dir.path());
  ASSERT_EQ(r.status, 0);
  const json doc = parseDocument(r);
  EXPECT_EQ(doc["mode"], "test-generator-check");
  const std::vector<std::string> t = lines(text.out);
  const auto errors =
      matches(t,
              "### +(\\d+): pixnr= *([0-9a-f]+) \\( *([0-9a-f]+)\\), eoc=([0-9a-f]+) "
              "\\(([0-9a-f]+)\\), toa +([0-9a-f]+) \\( *([0-9a-f]+)\\)(, fixed=([0-9a-f]+))?"
              "( \\(diffs = (\\d+), (\\d+), pix=(\\d+)\\))?");
  const json& check = doc["files"][0]["check"];
  ASSERT_EQ(errors.size(), 3u);
  ASSERT_EQ(check["errors"].size(), errors.size());
  for (size_t i = 0; i < errors.size(); ++i) {
    const auto& m = errors[i];
    const json& e = check["errors"][i];
    EXPECT_EQ(e["packet"].get<uint64_t>(), std::stoull(m[1]));
    EXPECT_EQ(e["pixel"]["found"].get<uint64_t>(), hex(m[2]));
    EXPECT_EQ(e["pixel"]["expected"].get<uint64_t>(), hex(m[3]));
    EXPECT_EQ(e["eoc"]["found"].get<uint64_t>(), hex(m[4]));
    EXPECT_EQ(e["eoc"]["expected"].get<uint64_t>(), hex(m[5]));
    EXPECT_EQ(e["toa"]["found"].get<uint64_t>(), hex(m[6]));
    EXPECT_EQ(e["toa"]["expected"].get<uint64_t>(), hex(m[7]));
    EXPECT_EQ(e["fixed_pattern_wrong"], m[9].matched);
    if (m[9].matched) {
      EXPECT_EQ(e["fixed"].get<uint64_t>(), hex(m[9]));
    }
    ASSERT_TRUE(m[10].matched);
    EXPECT_EQ(e["pixel_jump"].get<uint64_t>(), std::stoull(m[11]));
    EXPECT_EQ(e["toa_jump"].get<uint64_t>(), std::stoull(m[12]));
    EXPECT_EQ(e["since_previous"].get<uint64_t>(), std::stoull(m[13]));
  }
  EXPECT_EQ(check["errors"][0]["toa_jump"], 256);
  EXPECT_EQ(check["errors"][1]["fixed_pattern_wrong"], true);
  const auto idles = matches(t, "IDLE packets: (\\d+)");
  const auto heartbeats = matches(t, "HEARTBEAT packets: (\\d+)");
  ASSERT_EQ(idles.size(), 1u);
  EXPECT_EQ(check["idles"].get<uint64_t>(), std::stoull(idles[0][1]));
  EXPECT_EQ(check["heartbeats"].get<uint64_t>(), std::stoull(heartbeats[0][1]));
  const auto total = matches(t, "Total pixelpackets = (\\d+) \\(heartbeats = (\\d+)\\)");
  ASSERT_EQ(total.size(), 1u);
  EXPECT_EQ(doc["totals"]["packets"].get<uint64_t>(), std::stoull(total[0][1]));
  EXPECT_EQ(doc["totals"]["heartbeats"].get<uint64_t>(), std::stoull(total[0][2]));
  EXPECT_EQ(doc["totals"]["anything_checked"], true);
  EXPECT_GT(check["checked"].get<uint64_t>(), 0u);
}

// The counter check: error records with the words found and expected, and
// the runs of errors, as the text's lines; a file too short to check says
// so in both.
TEST(JsonReport, CounterCheckFiguresAreTheTextReports) {
  TempDir dir;
  const std::string f = makeWithMvgen(dir, "c.mv",
                                      {"-k", "counter", "-L", "2", "-n", "2000", "-e",
                                       "corrupt@100", "-e", "missing@200", "-e", "repeat@300"});
  const RunResult text = runMvscan({"-q", "-L", "2", f}, dir.path());
  const RunResult r = runMvscan({"-q", "-L", "2", "--json", f}, dir.path());
  ASSERT_EQ(r.status, 0);
  const json doc = parseDocument(r);
  EXPECT_EQ(doc["mode"], "counter-check");
  const std::vector<std::string> t = lines(text.out);
  const auto errors = matches(t, "### (\\d+): ([0-9a-f]+), expected ([0-9a-f]+)");
  const json& check = doc["files"][0]["check"];
  ASSERT_EQ(errors.size(), 4u);
  ASSERT_EQ(check["errors"].size(), errors.size());
  for (size_t i = 0; i < errors.size(); ++i) {
    EXPECT_EQ(check["errors"][i]["packet"].get<uint64_t>(), std::stoull(errors[i][1]));
    EXPECT_EQ(check["errors"][i]["found"].get<uint64_t>(), hex(errors[i][2]));
    EXPECT_EQ(check["errors"][i]["expected"].get<uint64_t>(), hex(errors[i][3]));
  }
  const auto runs = matches(t, "### Consecutive errs \\(lnk=(\\d+)\\): (\\d+) \\(cnt=(\\d+)\\)");
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_EQ(check["error_runs"].size(), 1u);
  EXPECT_EQ(check["error_runs"][0]["link"].get<uint64_t>(), std::stoull(runs[0][1]));
  EXPECT_EQ(check["error_runs"][0]["length"].get<uint64_t>(), std::stoull(runs[0][2]));
  EXPECT_EQ(check["error_runs"][0]["packet"].get<uint64_t>(), std::stoull(runs[0][3]));
  const auto total = matches(t, "Total 'packets' = (\\d+)");
  EXPECT_EQ(doc["totals"]["packets"].get<uint64_t>(), std::stoull(total.at(0)[1]));

  dir.write("short.mv", FileBuilder().header().chunk(MVHDR_VX7PC24, {1}));
  const RunResult shortText = runMvscan({"-q", "short.mv"}, dir.path());
  const json shortDoc = parseDocument(runMvscan({"-q", "--json", "short.mv"}, dir.path()));
  EXPECT_NE(shortText.out.find("### Nothing was actually checked"), std::string::npos);
  EXPECT_EQ(shortDoc["totals"]["anything_checked"], false);
  EXPECT_EQ(shortDoc["files"][0]["check"]["checked"], 0);
}

// Statistics spread over one job per file, then merged: the merged report
// is the block that one run over all files prints after its last file,
// byte for byte, and the picture is the same file.
TEST(Merge, EqualsOneRunOverAllFiles) {
  TempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "f" + std::to_string(i) + ".mv";
    const RunResult g = runTool(MVGEN_BINARY,
                                {"-k", i == 1 ? "pc24" : "toatot", "-n", "20000", "-s",
                                 std::to_string(7 + i), "-o", dir.file(name)},
                                "");
    ASSERT_EQ(g.status, 0) << g.err;
    files.push_back(name);
  }
  std::vector<std::string> one = {"-p", "-e", "-H", "32"};
  one.insert(one.end(), files.begin(), files.end());
  const RunResult single = runMvscan(one, dir.path());
  ASSERT_EQ(single.status, 0);
  const std::string picture = readWholeFile(dir.file("inspect.png"));
  std::filesystem::remove(dir.file("inspect.png"));

  std::vector<std::string> docs;
  for (const std::string& f : files) {
    const RunResult r = runMvscan({"-p", "--json", "--no-image", f}, dir.path());
    ASSERT_EQ(r.status, 0);
    docs.push_back(f + ".json");
    std::ofstream(dir.file(docs.back())) << r.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("inspect.png")));
  std::vector<std::string> merge = {"--merge", "-e", "-H", "32"};
  merge.insert(merge.end(), docs.begin(), docs.end());
  const RunResult merged = runMvscan(merge, dir.path());
  ASSERT_EQ(merged.status, 0);
  EXPECT_EQ(merged.err, "");
  // A run over several files ends each file's block with a blank line.
  ASSERT_GT(single.out.size(), merged.out.size());
  EXPECT_EQ(single.out.substr(single.out.size() - merged.out.size() - 1), merged.out + "\n");
  EXPECT_EQ(readWholeFile(dir.file("inspect.png")), picture);

  // The merged document holds the statistics of one JSON run.
  std::vector<std::string> oneJson = {"-p", "--json", "-H", "32", "--image", "j1.png"};
  oneJson.insert(oneJson.end(), files.begin(), files.end());
  json singleDoc = json::parse(runMvscan(oneJson, dir.path()).out);
  merge.insert(merge.begin(), {"--json", "--image", "j2.png"});
  json mergedDoc = json::parse(runMvscan(merge, dir.path()).out);
  EXPECT_EQ(readWholeFile(dir.file("j1.png")), picture);
  EXPECT_EQ(readWholeFile(dir.file("j2.png")), picture);
  singleDoc["statistics"].erase("image");
  mergedDoc["statistics"].erase("image");
  EXPECT_EQ(mergedDoc["statistics"], singleDoc["statistics"]);
  EXPECT_EQ(mergedDoc["files"], singleDoc["files"]);
  EXPECT_EQ(mergedDoc["mode"], "statistics");
}

TEST(Merge, RefusesWhatItCannotAdd) {
  TempDir dir;
  dir.write("a.mv", fileA());
  auto save = [&](const std::string& name, const std::vector<std::string>& args) {
    std::ofstream(dir.file(name)) << runMvscan(args, dir.path()).out;
  };
  save("stats.json", {"-p", "--json", "--no-image", "a.mv"});
  save("reversed.json", {"-p", "-w", "--json", "--no-image", "a.mv"});
  save("check.json", {"--json", "a.mv"});
  save("failed.json", {"-p", "--json", "--no-image", "a.mv", "missing.mv"});
  json v2 = json::parse(readWholeFile(dir.file("stats.json")));
  v2["format"]["version"] = 2;
  std::ofstream(dir.file("v2.json")) << v2;
  json badIndex = json::parse(readWholeFile(dir.file("stats.json")));
  badIndex["statistics"]["hits"][0][0] = 0x40000;
  std::ofstream(dir.file("bad.json")) << badIndex;

  struct Refusal {
    std::string doc, why;
  };
  const std::vector<Refusal> refusals = {
      {"a.mv", "not a JSON document"},
      {"missing.json", "cannot be read"},
      {"check.json", "a file-check document, not statistics"},
      {"v2.json", "format version 2, not 1"},
      {"failed.json", "its run did not complete"},
      {"reversed.json",
       "made with other counting options ({\"pelvan\":false,\"reverse_bytes\":false,"
       "\"reverse_words\":true,\"skip\":0} against {\"pelvan\":false,\"reverse_bytes\":false,"
       "\"reverse_words\":false,\"skip\":0})"},
      {"bad.json", "malformed statistics (index 262144 out of range)"},
  };
  for (const Refusal& c : refusals) {
    SCOPED_TRACE(c.doc);
    const RunResult r = runMvscan({"--merge", "stats.json", c.doc}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "### Cannot merge " + c.doc + ": " + c.why + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("inspect.png")));
  }
}

// The hit tallies of a document are checked as the other tallies are: a
// document with a member of the wrong type or out of range is refused, and
// one without them (an earlier mvscan's) only when the page needs them.
TEST(Merge, ChecksHitTallies) {
  TempDir dir;
  dir.write("a.mv", fileA());
  std::ofstream(dir.file("stats.json"))
      << runMvscan({"-p", "--json", "--no-image", "a.mv"}, dir.path()).out;
  const json stats = json::parse(readWholeFile(dir.file("stats.json")));
  struct Damage {
    std::string name;
    std::function<void(json&)> damage;
    std::string why;
  };
  const std::vector<Damage> cases = {
      {"tot_index", [](json& st) { st["tot"]["counts"] = json::parse("[[2048,1]]"); },
       "malformed statistics (index 2048 out of range)"},
      {"tot_negative", [](json& st) { st["tot"]["counts"] = json::parse("[[5,-1]]"); },
       "malformed statistics (a count is -1)"},
      {"pc_bin", [](json& st) { st["pc"]["counts"] = json::parse("[[31,1]]"); },
       "malformed statistics (a count bin starts at 31)"},
      {"idle_text", [](json& st) { st["idle"]["toatot"] = "x"; },
       "malformed statistics (a count is \"x\")"},
      {"frame_index", [](json& st) { st["frame_hits"] = json::parse("[[262144,1]]"); },
       "malformed statistics (index 262144 out of range)"},
      {"chunk_hits", [](json& st) { st["chunk_hits"] = json::parse("[5]"); },
       "malformed statistics (chunk_hits holds 5)"},
      {"overflow", [](json& st) { st["empty"] = UINT64_MAX; },
       "malformed statistics (a count passes 2^64 - 1)"},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    json doc = stats;
    c.damage(doc["statistics"]);
    const std::string name = c.name + ".json";
    std::ofstream(dir.file(name)) << doc;
    const RunResult r = runMvscan({"--merge", "--no-image", name, name}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "### Cannot merge " + name + ": " + c.why + "\n");
  }
  json old = stats;
  for (const char* key : {"tot", "pc", "idle", "empty", "frame_hits", "chunk_hits"})
    old["statistics"].erase(key);
  std::ofstream(dir.file("old.json")) << old;
  // Both documents hold the same file: counted twice on purpose here.
  EXPECT_EQ(runMvscan({"--merge", "--allow-duplicates", "--no-image", "stats.json", "old.json"},
                      dir.path())
                .status,
            0);
  const RunResult r = runMvscan(
      {"--merge", "--allow-duplicates", "--no-image", "--html", "p.html", "stats.json", "old.json"},
      dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "### Cannot merge old.json: no hit tallies (tot, idle, chunk_hits, ...), which "
            "--html and --hot-pixels need\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("p.html")));
}

}  // namespace
