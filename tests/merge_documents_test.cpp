// mvscan --merge on documents from elsewhere: statistics documents written
// by real runs over small files, then damaged one member at a time (wrong
// type, missing, out of range, contradicting the rest, too large to sum),
// each refused with its whole message and status 2 and nothing else
// written; documents that hold the same file; and valid documents of every
// counting option, merged byte for byte as one run over all their files
// reports them, text and JSON.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"

namespace {

using namespace testing_files;
using namespace morven;
using nlohmann::json;

constexpr uint64_t MAX_U64 = ~uint64_t(0);

uint64_t hit(bool top, uint64_t eoc, uint64_t pixel, uint64_t toa) {
  return (uint64_t(top) << 63) | (eoc << 55) | (pixel << 46) | (toa << 30);
}

// a.mv: four pixel hits (type bytes 5, 5, 9, 7) and a heartbeat, 5 packets;
// b.mv (32 bytes): two hits, pixel indexes 2589 (x 11, y 13) and 4611, with
// the ToA values 100 and 7.
FileBuilder fileA() {
  return FileBuilder()
      .header()
      .chunk(MVHDR_VX7TOATOT, {hit(false, 5, 0x1D, 100), hit(true, 5, 0x1D, 200),
                               hit(false, 9, 3, 65535), uint64_t(VX7_EOC_HEARTBEAT) << 55})
      .chunk(MVHDR_VX7PC24, {hit(false, 7, 1, 0)});
}

FileBuilder fileB() {
  return FileBuilder().header().chunk(MVHDR_VX7TOATOT,
                                      {hit(false, 5, 0x1D, 100), hit(false, 9, 3, 7)});
}

// A folder with a.mv, b.mv and their statistics documents a.json, b.json.
class Documents {
 public:
  Documents() {
    dir.write("a.mv", fileA());
    dir.write("b.mv", fileB());
    save("a.json", {"-p", "--json", "--no-image", "a.mv"});
    save("b.json", {"-p", "--json", "--no-image", "b.mv"});
  }
  void save(const std::string& name, const std::vector<std::string>& args) const {
    const RunResult r = runMvscan(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    std::ofstream(dir.file(name)) << r.out;
  }
  json read(const std::string& name) const { return json::parse(readWholeFile(dir.file(name))); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir.file(name), std::ios::binary) << text;
  }
  RunResult merge(const std::vector<std::string>& args) const {
    std::vector<std::string> all = {"--merge", "--no-image"};
    all.insert(all.end(), args.begin(), args.end());
    return runMvscan(all, dir.path());
  }
  TempDir dir;
};

// One damaged document: b.json changed by edit (or replaced by text), then
// merged after a.json.
struct Fault {
  std::string name;
  std::function<void(json&)> edit;
  std::string why;  // the message after "### Cannot merge bad.json: "
  std::string text = {};
};

void PrintTo(const Fault& f, std::ostream* os) {
  *os << f.name;
}

std::vector<Fault> faults() {
  const json big = MAX_U64;
  return {
      // Wrong types where the merge reads a member.
      {"ModeNull", [](json& d) { d["mode"] = nullptr; }, "member mode is null, not a string"},
      {"ModeArray", [](json& d) { d["mode"] = {1}; }, "member mode is an array, not a string"},
      {"ModeMissing", [](json& d) { d.erase("mode"); }, "member mode is missing"},
      {"ModeUnknown", [](json& d) { d["mode"] = "odd\n"; },
       "a \"odd\\n\" document, not statistics"},
      {"FormatNameNumber", [](json& d) { d["format"]["name"] = 7; },
       "member format.name is 7, not a string"},
      {"FormatNameMissing", [](json& d) { d["format"].erase("name"); },
       "member format.name is missing"},
      {"FormatString", [](json& d) { d["format"] = "mvscan-report"; },
       "member format is a string, not an object"},
      {"FormatMissing", [](json& d) { d.erase("format"); }, "not an mvscan-report document"},
      {"FormatOtherName", [](json& d) { d["format"]["name"] = "other"; },
       "not an mvscan-report document"},
      {"VersionString", [](json& d) { d["format"]["version"] = "1"; },
       "member format.version is a string, not an unsigned integer"},
      {"VersionMissing", [](json& d) { d["format"].erase("version"); },
       "member format.version is missing"},
      {"RunEndFalse", [](json& d) { d["run_end"] = false; },
       "member run_end is false, not a string"},
      {"RunEndMissing", [](json& d) { d.erase("run_end"); }, "member run_end is missing"},
      {"SettingsMissing", [](json& d) { d.erase("settings"); }, "member settings is missing"},
      {"SettingsArray", [](json& d) { d["settings"] = json::array(); },
       "member settings is an array, not an object"},
      {"SkipNegative", [](json& d) { d["settings"]["skip"] = -1; },
       "member settings.skip is -1, not an unsigned integer"},
      {"SkipFraction", [](json& d) { d["settings"]["skip"] = 0.5; },
       "member settings.skip is the number 0.5, not an unsigned integer"},
      {"PelvanString", [](json& d) { d["settings"]["pelvan"] = "no"; },
       "member settings.pelvan is a string, not true or false"},
      {"ReverseWordsMissing", [](json& d) { d["settings"].erase("reverse_words"); },
       "member settings.reverse_words is missing"},
      {"FilesObject", [](json& d) { d["files"] = json::object(); },
       "member files is an object, not an array"},
      {"FilesEmpty", [](json& d) { d["files"] = json::array(); },
       "member files is empty: a run reads at least one file"},
      {"FileNameNumber", [](json& d) { d["files"][0]["name"] = 5; },
       "member files[0].name is 5, not a string"},
      {"FileHeaderMissing", [](json& d) { d["files"][0].erase("header"); },
       "member files[0].header is missing"},
      {"FileSizeFraction", [](json& d) { d["files"][0]["size"] = 1.5; },
       "member files[0].size is the number 1.5, not an unsigned integer"},
      {"FileSizeBeyond64Bits",
       [](json& d) { d["files"][0]["size"] = json::parse("18446744073709551616"); },
       "member files[0].size is the number 1.8446744073709552e+19, not an unsigned integer"},
      {"FileErrorOffsetNegative",
       [](json& d) {
         d["files"][0]["errors"] = {{{"offset", -2}, {"message", "x"}}};
       },
       "member files[0].errors[0].offset is -2, not an unsigned integer"},
      {"FileErrorMessageMissing",
       [](json& d) {
         d["files"][0]["errors"] = {{{"offset", 8}}};
       },
       "member files[0].errors[0].message is missing"},
      {"FileSkippedString", [](json& d) { d["files"][0]["skipped"] = "0"; },
       "member files[0].skipped is a string, not an unsigned integer"},
      {"FilePacketsNegative", [](json& d) { d["files"][0]["packets"] = -2; },
       "member files[0].packets is -2, not an unsigned integer"},
      {"FileErrorsNull", [](json& d) { d["files"][0]["errors"] = nullptr; },
       "member files[0].errors is null, not an array"},
      {"FileNotObject", [](json& d) { d["files"][0] = "b.mv"; },
       "member files[0] is a string, not an object"},
      // A file that contradicts its own figures.
      {"FileSkippedBeyondSkip", [](json& d) { d["files"][0]["skipped"] = 1; },
       "member files[0].skipped is 1, more than settings.skip (0)"},
      {"FileMorePacketsThanBytes", [](json& d) { d["files"][0]["packets"] = 4; },
       "member files[0].packets is 4, more than a file of 32 bytes holds"},
      {"FileHeaderNotMorven", [](json& d) { d["files"][0]["header"] = "MORVEX"; },
       "member files[0].header is \"MORVEX\", not \"MORVEN\""},
      // The statistics: wrong types, missing, out of range.
      {"PacketsString", [](json& d) { d["statistics"]["packets"] = "2"; },
       "malformed statistics (member statistics.packets is a string, not an unsigned integer)"},
      {"PacketsMissing", [](json& d) { d["statistics"].erase("packets"); },
       "malformed statistics (member statistics.packets is missing)"},
      {"StatisticsMissing", [](json& d) { d.erase("statistics"); },
       "malformed statistics (member statistics is missing)"},
      {"TypesShort", [](json& d) { d["statistics"]["types"].erase(255); },
       "malformed statistics (member statistics.types has 255 entries, not 256)"},
      {"TypesObject", [](json& d) { d["statistics"]["types"] = json::object(); },
       "malformed statistics (member statistics.types is an object, not an array)"},
      {"TypeNotObject", [](json& d) { d["statistics"]["types"][0] = 0; },
       "malformed statistics (member statistics.types[0] is 0, not an object)"},
      {"TypeOutOfPlace", [](json& d) { d["statistics"]["types"][3]["type"] = 4; },
       "malformed statistics (member statistics.types[3].type is 4, not 3)"},
      {"TypeName", [](json& d) { d["statistics"]["types"][224]["name"] = "X"; },
       "malformed statistics (member statistics.types[224].name is \"X\", not \"HEARTBEAT\")"},
      {"TypeCountNull", [](json& d) { d["statistics"]["types"][7]["count"] = nullptr; },
       "malformed statistics (member statistics.types[7].count is null, not an unsigned "
       "integer)"},
      {"ToaMissing", [](json& d) { d["statistics"].erase("toa"); },
       "malformed statistics (member statistics.toa is missing)"},
      {"ToaCountsMissing", [](json& d) { d["statistics"]["toa"].erase("counts"); },
       "malformed statistics (member statistics.toa.counts is missing)"},
      {"ToaRowNumber", [](json& d) { d["statistics"]["toa"]["counts"][0] = 5; },
       "malformed statistics (member statistics.toa.counts[0] is 5, not a pair [ToA value, "
       "count])"},
      {"ToaRowThree",
       [](json& d) {
         d["statistics"]["toa"]["counts"][0] = {7, 1, 1};
       },
       "malformed statistics (member statistics.toa.counts[0] has 3 entries, not 2 (a pair "
       "[ToA value, count]))"},
      {"ToaValueOutOfRange", [](json& d) { d["statistics"]["toa"]["counts"][1][0] = 70000; },
       "malformed statistics (member statistics.toa.counts[1][0] is 70000, not a ToA value "
       "(0..65535))"},
      {"ToaValueTwice", [](json& d) { d["statistics"]["toa"]["counts"][1][0] = 7; },
       "malformed statistics (member statistics.toa.counts[1][0]: ToA value 7 is listed twice)"},
      {"ToaOutOfOrder", [](json& d) { d["statistics"]["toa"]["counts"][1][0] = 3; },
       "malformed statistics (member statistics.toa.counts[1][0]: ToA value 3 comes after 7 "
       "(the list is in increasing order))"},
      {"ToaCountZero", [](json& d) { d["statistics"]["toa"]["counts"][0][1] = 0; },
       "malformed statistics (member statistics.toa.counts[0][1] is 0: the list holds counts "
       "above 0)"},
      {"HitsString", [](json& d) { d["statistics"]["hits"] = "none"; },
       "malformed statistics (member statistics.hits is a string, not an array)"},
      {"HitIndexOutOfRange", [](json& d) { d["statistics"]["hits"][1][0] = 0x40000; },
       "malformed statistics (index 262144 out of range)"},
      {"HitIndexTwice", [](json& d) { d["statistics"]["hits"][1] = d["statistics"]["hits"][0]; },
       "malformed statistics (member statistics.hits[1][0]: pixel index 2589 is listed twice)"},
      {"HitsOutOfOrder",
       [](json& d) { std::swap(d["statistics"]["hits"][0], d["statistics"]["hits"][1]); },
       "malformed statistics (member statistics.hits[1][0]: pixel index 2589 comes after 4611 "
       "(the list is in increasing order))"},
      {"HitOfControlPacket", [](json& d) { d["statistics"]["hits"][1][0] = 224 << 9; },
       "malformed statistics (member statistics.hits[1][0] is 114688, of type byte 224: a "
       "control packet, not a pixel)"},
      {"HitMisplaced", [](json& d) { d["statistics"]["hits"][0][1] = 12; },
       "malformed statistics (member statistics.hits[0] places pixel index 2589 at x 12, y 13, "
       "not at x 11, y 13)"},
      {"HitCountFraction", [](json& d) { d["statistics"]["hits"][0][3] = 1.0; },
       "malformed statistics (member statistics.hits[0][3] is the number 1.0, not an unsigned "
       "integer)"},
      {"HitRowShort", [](json& d) { d["statistics"]["hits"][0].erase(3); },
       "malformed statistics (member statistics.hits[0] has 3 entries, not 4 (a list [pixel "
       "index, x, y, count]))"},
      {"ChunkCountsMissing", [](json& d) { d["statistics"].erase("chunk_counts"); },
       "malformed statistics (member statistics.chunk_counts is missing)"},
      {"ChunkTypeNumberString",
       [](json& d) { d["statistics"]["chunk_counts"][0]["type_number"] = "2"; },
       "malformed statistics (member statistics.chunk_counts[0].type_number is a string, not an "
       "unsigned integer)"},
      {"ChunkTypeNotCounted",
       [](json& d) { d["statistics"]["chunk_counts"][0]["type_number"] = 0xFFFF; },
       "malformed statistics (member statistics.chunk_counts[0].type_number is 65535, not a "
       "chunk type that is counted)"},
      {"ChunkTypeBeyond16Bits",
       [](json& d) { d["statistics"]["chunk_counts"][0]["type_number"] = 0x10002; },
       "malformed statistics (member statistics.chunk_counts[0].type_number is 65538, not a "
       "chunk type that is counted)"},
      {"ChunkTypeName",
       [](json& d) { d["statistics"]["chunk_counts"][0]["type"] = "MVHDR_VX7PC24"; },
       "malformed statistics (member statistics.chunk_counts[0].type is \"MVHDR_VX7PC24\", not "
       "\"MVHDR_VX7TOATOT\")"},
      {"ChunkCountZero", [](json& d) { d["statistics"]["chunk_counts"][0]["count"] = 0; },
       "malformed statistics (member statistics.chunk_counts[0].count is 0: only counted types "
       "are listed)"},
      // Figures that contradict each other.
      {"PacketsAtMost", [](json& d) { d["statistics"]["packets"] = MAX_U64; },
       "malformed statistics (member statistics.packets is 18446744073709551615, but the "
       "packets of the files add up to 2)"},
      {"PacketsAgainstFiles", [](json& d) { d["files"][0]["packets"] = 3; },
       "malformed statistics (member statistics.packets is 2, but the packets of the files add "
       "up to 3)"},
      {"PacketsAgainstTypes", [](json& d) { d["statistics"]["types"][224]["count"] = 1; },
       "malformed statistics (member statistics.packets is 2, but the type counts and the "
       "skipped packets add up to 3)"},
      {"TypeCountsBeyond64Bits", [=](json& d) { d["statistics"]["types"][5]["count"] = big; },
       "malformed statistics (member statistics.packets is 2, but the type counts and the "
       "skipped packets add up to more than 18446744073709551615)"},
      {"ToaCountsBeyond64Bits", [=](json& d) { d["statistics"]["toa"]["counts"][0][1] = big; },
       "malformed statistics (the ToA counts add up to more than 18446744073709551615, more "
       "than the 2 pixel data packets of statistics.types)"},
      {"HitCountAtMost", [=](json& d) { d["statistics"]["hits"][0][3] = big; },
       "malformed statistics (the hits of type byte 5 add up to more than member "
       "statistics.types[5].count (1))"},
      {"HitsFewerThanType", [](json& d) { d["statistics"]["hits"].erase(0); },
       "malformed statistics (the hits of type byte 5 add up to 0, less than member "
       "statistics.types[5].count (1))"},
      {"ToaCountsAbovePixels", [](json& d) { d["statistics"]["toa"]["counts"][0][1] = 3; },
       "malformed statistics (the ToA counts add up to 4, more than the 2 pixel data packets "
       "of statistics.types)"},
      // Sums beyond 64 bits: a.json counts one MVHDR_VX7TOATOT chunk.
      {"ChunkCountSum", [=](json& d) { d["statistics"]["chunk_counts"][0]["count"] = big; },
       "the sum of member statistics.chunk_counts[0].count does not fit in 64 bits"},
      // Lists longer than a run writes them, refused as they are read.
      {"ToaValuesTooMany",
       [](json& d) {
         json& counts = d["statistics"]["toa"]["counts"];
         for (uint64_t v = 0; v <= 65536; ++v) counts.push_back({v, 1});
       },
       "malformed statistics (member statistics.toa.counts has more than 65536 ToA values)"},
      {"TypesTooMany",
       [](json& d) { d["statistics"]["types"].push_back(d["statistics"]["types"][0]); },
       "malformed statistics (member statistics.types has more than 256 type bytes)"},
      {"HitRowTooLong", [](json& d) { d["statistics"]["hits"][1] = json(9, 1); },
       "malformed statistics (member statistics.hits[1] has more than 8 entries)"},
      {"FileErrorsTooMany",
       [](json& d) {
         d["files"][0]["errors"] = json(1025, {{"offset", 0}, {"message", ""}});
       },
       "member files[0].errors has more than 1024 errors"},
      {"SettingsTooManyMembers",
       [](json& d) {
         for (int i = 0; i < 60; ++i) d["settings"][std::to_string(i)] = i;
       },
       "member settings has more than 64 members"},
      // Members the merge does not use, of the wrong type.
      {"ImageNumber", [](json& d) { d["statistics"]["image"] = 3; },
       "malformed statistics (member statistics.image is 3, not an object)"},
      {"ImageFileNumber", [](json& d) { d["statistics"]["image"]["file"] = 3; },
       "malformed statistics (member statistics.image.file is 3, not a string)"},
      {"HistogramList",
       [](json& d) {
         d["statistics"]["toa"]["histogram"] = {1, 2};
       },
       "malformed statistics (member statistics.toa.histogram is an array, not an object)"},
      {"QuickLookErrorNumber",
       [](json& d) {
         d["statistics"]["quick_look"] = {
             {"html", nullptr}, {"hot_pixels", nullptr}, {"errors", {1}}};
       },
       "malformed statistics (member statistics.quick_look.errors[0] is 1, not a string)"},
      {"LinksText", [](json& d) { d["settings"]["links"] = "2"; },
       "member settings.links is a string, not an unsigned integer"},
      {"HistogramBinsNegative", [](json& d) { d["settings"]["histogram_bins"] = -4; },
       "member settings.histogram_bins is -4, not an unsigned integer"},
      {"CompressedSizeText", [](json& d) { d["files"][0]["compressed_size"] = "9"; },
       "member files[0].compressed_size is a string, not an unsigned integer"},
      {"OpenedNumber", [](json& d) { d["files"][0]["opened"] = 1; },
       "member files[0].opened is 1, not true or false"},
      // Not a document at all.
      {"MemberTwice", nullptr, "member mode is given twice",
       R"({"format":{"name":"mvscan-report","version":1},"mode":"statistics","mode":"x"})"},
      {"Array", nullptr, "not a JSON object", "[1, 2]"},
      {"NotJson", nullptr, "not a JSON document", "{\"mode\": "},
      {"TooDeep", nullptr, "nested deeper than 32 levels",
       std::string(33, '[') + std::string(33, ']')},
  };
}

class MergeRefuses : public testing::TestWithParam<Fault> {};

TEST_P(MergeRefuses, NamesTheDocumentAndWhatIsWrong) {
  const Fault& f = GetParam();
  Documents d;
  if (f.edit) {
    json doc = d.read("b.json");
    f.edit(doc);
    d.write("bad.json", doc.dump());
  } else {
    d.write("bad.json", f.text);
  }
  for (const bool json : {false, true}) {
    const RunResult r = d.merge(json ? std::vector<std::string>{"--json", "a.json", "bad.json"}
                                     : std::vector<std::string>{"a.json", "bad.json"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "### Cannot merge bad.json: " + f.why + "\n");
    EXPECT_EQ(r.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, MergeRefuses, testing::ValuesIn(faults()),
                         [](const testing::TestParamInfo<Fault>& p) { return p.param.name; });

// The largest document a run over one file could write: 2^61 - 2 packets
// behind the file header, in a file of 2^64 - 1 bytes. Eight of them add up
// to 2^64 - 16, nine to more than 64 bits hold.
TEST(MergeSums, BeyondSixtyFourBitsAreRefused) {
  Documents d;
  json doc = d.read("b.json");
  const uint64_t packets = (uint64_t(1) << 61) - 2;
  doc["files"][0]["size"] = MAX_U64;
  doc["files"][0]["packets"] = packets;
  doc["statistics"]["packets"] = packets;
  doc["statistics"]["types"][5]["count"] = packets - 1;
  doc["statistics"]["hits"][0][3] = packets - 1;
  d.write("big.json", doc.dump());
  std::vector<std::string> args = {"--allow-duplicates"};
  args.insert(args.end(), 8, "big.json");
  RunResult r = d.merge(args);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Total pixelpackets = 18446744073709551600\n"), std::string::npos);
  args.push_back("big.json");
  r = d.merge(args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "### Cannot merge big.json: the sum of member statistics.packets does not fit in 64 "
            "bits\n");
  EXPECT_EQ(r.err, "");
}

// A file read through a pipe has the size 0, and its packets are not
// bound by it.
TEST(MergeSums, DocumentOfAPipeMerges) {
  Documents d;
  const std::string bytes = fileA().bytes();
  const RunResult piped =
      runMvscan({"-p", "--json", "--no-image", "/dev/stdin"}, d.dir.path(), &bytes);
  ASSERT_EQ(piped.status, 0);
  ASSERT_NE(piped.out.find("\"size\":0,"), std::string::npos);
  d.write("piped.json", piped.out);
  const RunResult merged = d.merge({"piped.json", "b.json"});
  const RunResult one = runMvscan({"-p", "--no-image", "a.mv", "b.mv"}, d.dir.path());
  ASSERT_EQ(merged.status, 0) << merged.out;
  EXPECT_EQ(one.out.substr(one.out.size() - merged.out.size() - 1), merged.out + "\n");
}

TEST(MergeSums, OversizedDocumentIsRefusedUnread) {
  Documents d;
  d.write("huge.json", std::string((64 << 20) + 1, ' '));
  const RunResult r = d.merge({"a.json", "huge.json"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "### Cannot merge huge.json: larger than 64 MiB\n");
  // A large data file given by mistake is no JSON, whatever its size.
  d.write("huge.mv", fileA().bytes() + std::string(64 << 20, '\0'));
  const RunResult data = d.merge({"a.json", "huge.mv"});
  EXPECT_EQ(data.status, 2);
  EXPECT_EQ(data.out, "### Cannot merge huge.mv: not a JSON document\n");
}

// The same file in two documents would be counted twice.
TEST(MergeDuplicates, SameFileTwiceIsRefusedUnlessAllowed) {
  Documents d;
  d.save("b2.json", {"-p", "--json", "--image", "other.png", "b.mv"});
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> refused = {
      {{"a.json", "a.json"},
       "### Cannot merge a.json: the file a.mv (64 bytes) is already counted from a.json "
       "(--allow-duplicates counts it again)\n"},
      {{"b.json", "a.json", "b2.json"},
       "### Cannot merge b2.json: the file b.mv (32 bytes) is already counted from b.json "
       "(--allow-duplicates counts it again)\n"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.args.back());
    const RunResult r = d.merge(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
  // Allowed, the file counts twice, as a run that names it twice counts it.
  const RunResult twice = d.merge({"--allow-duplicates", "b.json", "a.json", "b2.json"});
  const RunResult one = runMvscan({"-p", "--no-image", "b.mv", "a.mv", "b.mv"}, d.dir.path());
  ASSERT_EQ(twice.status, 0) << twice.out;
  ASSERT_EQ(one.status, 0);
  ASSERT_GT(one.out.size(), twice.out.size());
  EXPECT_EQ(one.out.substr(one.out.size() - twice.out.size() - 1), twice.out + "\n");
  // One run that names a file twice holds it twice in one document: merged.
  d.save("ab.json", {"-p", "--json", "--no-image", "a.mv", "a.mv"});
  EXPECT_EQ(d.merge({"ab.json", "b.json"}).status, 0);
}

// Valid documents of every counting option merge byte for byte as one run
// over all their files reports them: the text block after the last file,
// and the whole JSON document.
struct Counting {
  std::string name;
  std::vector<std::string> options;
};

void PrintTo(const Counting& c, std::ostream* os) {
  *os << c.name;
}

class MergeEqualsOneRun : public testing::TestWithParam<Counting> {};

TEST_P(MergeEqualsOneRun, TextAndJson) {
  Documents d;
  std::vector<uint64_t> words;
  for (uint64_t i = 0; i < 256; ++i) words.push_back(hit(i & 1, i % 224, i * 7 % 512, i * 3));
  // Whole Pelvan blocks, so that -W frames both files alike.
  d.dir.write("c.mv", FileBuilder().header().chunk(MVHDR_VX7TOATOT, words));
  d.dir.write("e.mv", FileBuilder().header().chunk(MVHDR_VX7PC24, words));
  const std::vector<std::string>& o = GetParam().options;
  std::vector<std::string> docs;
  for (const std::string f : {"c", "e"}) {
    std::vector<std::string> args = {"-p", "--json", "--no-image", f + ".mv"};
    args.insert(args.begin(), o.begin(), o.end());
    d.save(f + ".json", args);
  }
  std::vector<std::string> single = {"-p", "-e", "-H", "9", "--image", "x.png", "c.mv", "e.mv"};
  single.insert(single.begin(), o.begin(), o.end());
  const RunResult text = runMvscan(single, d.dir.path());
  const RunResult merged = d.merge({"-e", "-H", "9", "c.json", "e.json"});
  ASSERT_EQ(merged.status, 0) << merged.out;
  ASSERT_GT(text.out.size(), merged.out.size());
  EXPECT_EQ(text.out.substr(text.out.size() - merged.out.size() - 1), merged.out + "\n");

  single.insert(single.begin(), "--json");
  const RunResult json = runMvscan(single, d.dir.path());
  const RunResult mergedJson = runMvscan(
      {"--merge", "--json", "-e", "-H", "9", "--image", "x.png", "c.json", "e.json"}, d.dir.path());
  ASSERT_EQ(mergedJson.status, 0);
  EXPECT_EQ(mergedJson.out, json.out);
  EXPECT_EQ(mergedJson.out.rfind("{\"format\":{\"name\":\"mvscan-report\",\"version\":1},", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Options, MergeEqualsOneRun,
                         testing::Values(Counting{"Plain", {}}, Counting{"Skip", {"-s", "5"}},
                                         Counting{"ReversedWords", {"-w"}},
                                         Counting{"ReversedBytes", {"-r"}},
                                         Counting{"Pelvan", {"-W"}},
                                         Counting{"All", {"-s", "3", "-w", "-r", "-W"}}),
                         [](const testing::TestParamInfo<Counting>& p) { return p.param.name; });

// Files that end inside a chunk: each file's message numbers the chunk
// within that file, as the file check does, whatever files came before it
// in the run; so the documents of single files merge into the document of
// one run, byte for byte. c.mv ends inside its third chunk (a data chunk),
// e.mv inside its second (a run-information chunk).
TEST(MergeCutFiles, ChunksNumberedWithinEachFile) {
  Documents d;
  FileBuilder c = fileA().chunk(MVHDR_VX7TOATOT, {hit(false, 1, 2, 3), hit(false, 4, 5, 6)});
  d.dir.write("c.mv", c.truncateTo(c.size() - 4));
  FileBuilder e = fileB().chunk(MVHDR_RUNINFO, {0x2020202020202020ULL, 0x2020202020202020ULL});
  d.dir.write("e.mv", e.truncateTo(e.size() - 8));
  d.save("c.json", {"-p", "--json", "--no-image", "c.mv"});
  d.save("e.json", {"-p", "--json", "--no-image", "e.mv"});
  for (const std::vector<std::string>& order :
       {std::vector<std::string>{"c", "e"}, std::vector<std::string>{"e", "c", "e"}}) {
    std::vector<std::string> run = {"-p", "--json", "--image", "x.png"};
    std::vector<std::string> merge = {"--merge", "--json", "--image", "x.png",
                                      "--allow-duplicates"};
    for (const std::string& f : order) {
      run.push_back(f + ".mv");
      merge.push_back(f + ".json");
    }
    SCOPED_TRACE(run.back());
    const RunResult one = runMvscan(run, d.dir.path());
    const RunResult merged = runMvscan(merge, d.dir.path());
    ASSERT_EQ(one.status, 0);
    ASSERT_EQ(merged.status, 0) << merged.out;
    EXPECT_EQ(merged.out, one.out);
    const json doc = json::parse(one.out);
    for (size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(
          doc["files"][i]["errors"],
          json::parse(order[i] == "c"
                          ? R"([{"offset":64,"message":"Truncated last chunk #3"}])"
                          : R"([{"offset":32,"message":"Failed to read JSON chunk MVHDR_RUNINFO"},
                                      {"offset":32,"message":"Truncated last chunk #2"}])"));
    }
  }
  // The text of the pixel modes is as it ever was: it says nothing of a cut
  // data chunk, and numbers a cut chunk of another kind over the run.
  const RunResult text = runMvscan({"-p", "--no-image", "c.mv", "e.mv"}, d.dir.path());
  EXPECT_NE(text.out.find("\n### Truncated last chunk #5\n"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("chunk #3"), std::string::npos) << text.out;
}

// Every document begins with its format: each mode's, and the merge's.
TEST(JsonDocuments, BeginWithFormat) {
  Documents d;
  const std::vector<std::vector<std::string>> runs = {
      {"--json", "a.mv"},
      {"-p", "--json", "--no-image", "a.mv", "b.mv"},
      {"-Q", "--json", "a.mv"},
      {"-q", "--json", "a.mv"},
      {"--json", "a.mv", "missing.mv"},
      {"--merge", "--json", "--no-image", "a.json", "b.json"},
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(args.front());
    const RunResult r = runMvscan(args, d.dir.path());
    EXPECT_EQ(r.out.rfind("{\"format\":{\"name\":\"mvscan-report\",\"version\":1},\"mode\":", 0),
              0u)
        << r.out.substr(0, 200);
  }
}

}  // namespace
