// Writes the starting corpus of the fuzz targets: small data files built
// with the tests' FileBuilder, each behind the option bytes its target
// reads first (see fuzz_chunks.cpp and fuzz_packets.cpp); for fuzz_merge,
// the JSON documents that runs of the library write over such files, in
// every mode and with every counting option (see fuzz_merge.cpp).
//
//   seed_writer DIR     writes DIR/chunks/*, DIR/packets/* and DIR/merge/*
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <zlib.h>
#include <zstd.h>

#include "FileBuilder.h"
#include "format/MorvenFormat.h"
#include "run/Runs.h"

using namespace morven;
using testing_files::configRecord;
using testing_files::FileBuilder;

namespace {

void writeSeed(const std::filesystem::path& dir, const std::string& name,
               const std::string& options, const FileBuilder& file) {
  std::ofstream f(dir / name, std::ios::binary | std::ios::trunc);
  std::string bytes = options + file.bytes();
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string opt(std::initializer_list<uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// A data packet: half, end-of-column, pixel number, the low 46 bits.
uint64_t pixel(uint64_t top, uint64_t eoc, uint64_t pixnr, uint64_t low = 0) {
  return top << 63 | eoc << 55 | pixnr << 46 | (low & ((uint64_t(1) << 46) - 1));
}

// A control packet: half, type code, 55-bit value.
uint64_t control(uint64_t top, uint64_t type, uint64_t value) {
  return top << 63 | type << 55 | (value & ((uint64_t(1) << 55) - 1));
}

// A test-generator pixel: eoc, pixnr, toa and the fixed pattern.
uint64_t testGenPixel(uint64_t eoc, uint64_t pixnr, uint64_t toa) {
  return eoc << 55 | pixnr << 46 | (toa & 0xFFFF) << 30 | 0x2AEBA954;
}

// The option bytes of a chunk seed that asks for no report but the walk.
const std::string PLAIN = opt({0, 3});

// Files that end before or inside the file header.
void fileHeaderSeeds(const std::filesystem::path& dir) {
  writeSeed(dir, "empty", PLAIN, FileBuilder());
  writeSeed(dir, "header_only", PLAIN, FileBuilder().header());
  writeSeed(dir, "short_header", PLAIN, FileBuilder().raw("MORV"));
  writeSeed(dir, "wrong_magic", PLAIN, FileBuilder().raw("MORVEN\1\0"));
}

// Every named chunk type, user chunks, and chunk types that are refused.
void chunkTypeSeeds(const std::filesystem::path& dir) {
  writeSeed(
      dir, "all_named_types", opt({2, 7}),
      FileBuilder()
          .header()
          .chunk(MVHDR_VX7TOATOT_TOP, {1, 2})
          .chunk(MVHDR_VX7TOATOT_BOTTOM, {3})
          .chunk(MVHDR_VX7TOATOT, {})
          .chunk(MVHDR_VX7PC24, {4, 5, 6})
          .chunk(MVHDR_VX7FRAME8, {7})
          .chunk(MVHDR_VX7FRAME16, {8, 9})
          .chunk(MVHDR_VX7PIXCFG, {10, 11})
          .jsonChunk(MVHDR_CHIPINFO, R"({"chip":"V7","id":[1,2,3]})")
          .jsonChunk(MVHDR_BOARDINFO, R"({"b":1,"a":{"x":null,"y":true}})")
          .jsonChunk(MVHDR_RUNINFO, "[1.5, -2e3, \"\\u00e9\"]")
          .configChunk({configRecord(0x10, {1, 2, 3, 4}), configRecord(0x11, {0xAB, 0xCD}),
                        configRecord(0x12, {}), configRecord(0x13, std::vector<uint8_t>(9, 7)),
                        configRecord(0x14, std::vector<uint8_t>(33, 0x5A))}));
  writeSeed(dir, "user_chunks", PLAIN,
            FileBuilder()
                .header()
                .chunk(0x7001ULL << 48, {1})
                .jsonChunk(0x7403ULL << 48, "{\"user\":\"text\"}")
                .chunk(0x7C00ULL << 48, {2})
                .chunk(0x7800ULL << 48, {})
                .chunk(0x7FFFULL << 48, {3}, 0x1234));
  writeSeed(dir, "json_report_rejected", opt({16, 0}),
            FileBuilder()
                .header()
                .chunk(MVHDR_DATA, {1, 2})
                .chunk(0x0010ULL << 48, {3})
                .chunk(MVHDR_VX7PC24, {4})
                .truncateTo(50));
  writeSeed(dir, "rejected_then_more", opt({4, 0}),
            FileBuilder()
                .header()
                .chunk(MVHDR_DATA, {1, 2})
                .chunk(0x0010ULL << 48, {3})
                .chunk(0x8000ULL << 48, {})
                .chunk(MVHDR_VX7PC24, {4}));
}

// Chunks whose declared size the file does not hold.
void declaredSizeSeeds(const std::filesystem::path& dir) {
  writeSeed(dir, "truncated_data", PLAIN,
            FileBuilder().header().chunkHeader(MVHDR_VX7TOATOT, 100).words({1, 2, 3}));
  writeSeed(dir, "huge_declared_size", opt({6, 1}),
            FileBuilder().header().chunkHeader(MVHDR_VX7PC24, 0xFFFFFFFF).words({1}));
  writeSeed(dir, "huge_json", PLAIN,
            FileBuilder().header().chunkHeader(MVHDR_RUNINFO, 0xFFFFFFFF).raw("{\"a\":1}"));
  writeSeed(
      dir, "huge_config", opt({8, 0}),
      FileBuilder().header().chunkHeader(MVHDR_VX7CFG, 0xFFFFFFFF).raw(configRecord(1, {1, 2})));
  writeSeed(dir, "config_cut_record", PLAIN,
            FileBuilder()
                .header()
                .chunkHeader(MVHDR_VX7CFG, 3)
                .raw(testing_files::le32(5) + testing_files::le32(200) + std::string(16, '\x11')));
  writeSeed(dir, "partial_header_word", PLAIN,
            FileBuilder().header().chunk(MVHDR_VX7PC24, {1}).raw("\1\2\3"));
  writeSeed(dir, "many_sizes", opt({0, 15}),
            FileBuilder()
                .header()
                .chunk(MVHDR_VX7PC24, {1})
                .chunk(MVHDR_VX7PC24, {1, 2, 3, 4, 5, 6, 7, 8})
                .chunk(MVHDR_VX7FRAME8, std::vector<uint64_t>(40, 0))
                .chunk(MVHDR_VX7FRAME16, {}));
}

// JSON text cut short, nested deep, or not UTF-8.
void jsonSeeds(const std::filesystem::path& dir) {
  writeSeed(
      dir, "json_cut", PLAIN,
      FileBuilder().header().jsonChunk(MVHDR_CHIPINFO, "{\"key\": [1, 2, 3]}").truncateTo(30));
  writeSeed(dir, "json_deep", PLAIN,
            FileBuilder().header().jsonChunk(MVHDR_CHIPINFO,
                                             std::string(600, '[') + std::string(600, ']')));
  writeSeed(dir, "json_bad_utf8", PLAIN,
            FileBuilder().header().jsonChunk(MVHDR_BOARDINFO, "\"\xC3\x28\""));
  writeSeed(dir, "json_report_bad_utf8", opt({16 | 2, 3}),
            FileBuilder()
                .header()
                .jsonChunk(MVHDR_BOARDINFO, "\"\xC3\x28\"")
                .chunk(MVHDR_VX7PC24, {1, 2}));
}

void chunkSeeds(const std::filesystem::path& dir) {
  fileHeaderSeeds(dir);
  chunkTypeSeeds(dir);
  declaredSizeSeeds(dir);
  jsonSeeds(dir);
}

// The bytes compressed as zstd (one frame, by default without checksum, so
// that a mutation reaches the packets) or gzip (one member).
std::string compressed(const std::string& bytes, bool zstd, bool checksum = false) {
  if (zstd) {
    std::string out(ZSTD_compressBound(bytes.size()), '\0');
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, checksum ? 1 : 0);
    const size_t n = ZSTD_compress2(c, out.data(), out.size(), bytes.data(), bytes.size());
    ZSTD_freeCCtx(c);
    out.resize(ZSTD_isError(n) ? 0 : n);
    return out;
  }
  z_stream z{};
  std::string out(bytes.size() + 1024, '\0');
  if (deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = uInt(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

// A zstd frame's content size field (the frame header of ZSTD_compress2,
// which declares it) moved by delta, so that it disagrees with the bytes.
std::string withContentSize(std::string frame, int delta) {
  if (frame.size() < 6) return frame;
  const unsigned char descriptor = uint8_t(frame[4]);
  const bool singleSegment = (descriptor & 0x20) != 0;
  static const size_t DICTIONARY_ID_BYTES[] = {0, 1, 2, 4};
  const size_t at = 5 + (singleSegment ? 0 : 1) + DICTIONARY_ID_BYTES[descriptor & 3];
  if (at < frame.size()) frame[at] = char(uint8_t(frame[at]) + delta);
  return frame;
}

// Damaged compressed streams: bytes overwritten in the middle (where only
// the checksum at the end tells, in stored or raw blocks), and zstd frames
// that declare fewer or more bytes than they hold.
void damagedCompressedSeeds(const std::filesystem::path& dir, const FileBuilder& file) {
  for (const bool zstd : {true, false}) {
    const std::string name = zstd ? "zstd" : "gzip";
    std::string damaged = compressed(file.bytes(), zstd, true);
    const size_t middle = damaged.size() / 2;
    for (size_t i = middle; i < std::min(damaged.size(), middle + 16); ++i) damaged[i] = '\x55';
    writeSeed(dir, "toa_damaged_" + name, opt({0, 0, 0, 0, 3}), FileBuilder().raw(damaged));
  }
  const std::string frame = compressed(file.bytes(), true, true);
  writeSeed(dir, "toa_size_short_zstd", opt({0, 0, 0, 0, 3}),
            FileBuilder().raw(withContentSize(frame, -8)));
  writeSeed(dir, "toa_size_long_zstd", opt({0, 0, 0, 0, 3}),
            FileBuilder().raw(withContentSize(frame, 8)));
}

// Compressed files: the packet stream read through the decompressors,
// whole, cut short, and two members or frames in a row.
void compressedSeeds(const std::filesystem::path& dir, const FileBuilder& file) {
  damagedCompressedSeeds(dir, file);
  for (const bool zstd : {true, false}) {
    const std::string name = zstd ? "zstd" : "gzip";
    const std::string whole = compressed(file.bytes(), zstd);
    writeSeed(dir, "toa_fields_" + name, opt({8, 0, 0, 3, 3}), FileBuilder().raw(whole));
    writeSeed(dir, "toa_cut_" + name, opt({4, 0, 0, 0, 3}),
              FileBuilder().raw(whole.substr(0, whole.size() / 2)));
    writeSeed(dir, "toa_twice_" + name, opt({0, 0, 0, 0, 3}),
              FileBuilder().raw(whole + compressed(std::string(64, '\0'), zstd)));
  }
}

// ToA/ToT packets in every display layout, and counting packets.
void pixelSeeds(const std::filesystem::path& dir) {
  std::vector<uint64_t> toa;
  for (uint64_t i = 0; i < 40; ++i)
    toa.push_back(pixel(i & 1, i * 5 % 224, i * 13, i * 0x123456789));
  const FileBuilder toaFile = FileBuilder().header().chunk(MVHDR_VX7TOATOT_TOP, toa);
  writeSeed(dir, "toa_fields", opt({8, 0, 0, 3, 3}), toaFile);
  writeSeed(dir, "toa_raw_counter", opt({2 | 4 | 8, 2, 3, 0, 3}), toaFile);
  writeSeed(dir, "toa_reversed", opt({128, 32 | 64, 0, 15, 3}), toaFile);
  writeSeed(dir, "toa_output_refused", opt({2 | 8, 0, 0, 0, 3 | 4 << 2}), toaFile);
  compressedSeeds(dir, toaFile);

  writeSeed(dir, "pc24", opt({8, 0, 0, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7PC24,
                                         {pixel(0, 3, 7, 0xABCDEF), pixel(1, 223, 511, 0xFFFFFF)}));
}

// A full segment in both frame widths, a forced width, a segment of no width.
void frameSeeds(const std::filesystem::path& dir) {
  std::vector<uint64_t> frame = {control(0, 0xF0, 0), control(0, 0xF2, uint64_t(3) << 52)};
  for (uint64_t i = 0; i < 1792; ++i) frame.push_back(0x0706050403020100ULL + i);
  frame.push_back(control(0, 0xF3, uint64_t(3) << 52));
  frame.push_back(control(0, 0xF1, 0));
  writeSeed(dir, "frame8_segment", opt({8, 0, 0, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7FRAME8, frame));
  writeSeed(dir, "frame16_segment", opt({4 | 8, 0, 0, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7FRAME16, frame));
  writeSeed(dir, "forced_frame", opt({8, 16, 0, 0, 3}),
            FileBuilder().header().chunk(
                MVHDR_VX7TOATOT, {control(1, 0xF0, 0), control(1, 0xF2, 0), 0x1122334455667788,
                                  control(1, 0xF0, 1), control(0, 0xF1, 0), control(0, 0xF3, 5)}));
  writeSeed(dir, "segment_without_width", opt({8, 0, 0, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7FRAME8,
                                         {control(0, 0xF2, 0), 42, control(0, 0xF1, 0)}));
}

// Every timer and control code, and Pelvan blocks of two links.
void timerAndPelvanSeeds(const std::filesystem::path& dir) {
  writeSeed(
      dir, "timers", opt({2 | 8, 0, 0, 0, 3}),
      FileBuilder().header().chunk(
          MVHDR_VX7TOATOT,
          {control(0, 0xE0, 100), control(0, 0xE0, 150), control(1, 0xE0, 7), control(0, 0xE0, 120),
           control(0, 0xEA, 10), control(0, 0xEA, 5), control(1, 0xE1, 1000),
           control(1, 0xE2, 1600), control(1, 0xE2, 1700), control(0, 0xE3, 9), control(0, 0xFF, 5),
           control(1, 0xFF, 5), 0x1E, 0xFFFFFFFF00000000ULL, control(0, 0xE4, 1),
           control(0, 0xE9, 1), control(0, 0xFE, 1), 0}));

  std::vector<uint64_t> pelvan(256, 0);
  for (size_t i = 0; i < pelvan.size(); ++i) {
    if (i % 128 == 0) {
      pelvan[i] = uint64_t(3) << 43 | uint64_t(5) << 11 | uint64_t(i / 128 * 17 % 32) << 6;
    } else if (i % 128 == 127) {
      pelvan[i] = 126;
    } else if (i % 5 != 0) {
      pelvan[i] = pixel(0, i % 224, i, i);
    }
  }
  writeSeed(dir, "pelvan_blocks", opt({2 | 8 | 64, 0, 0, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7FRAME8, pelvan));
}

// Streams for the test-generator and counter checks, with faults.
void checkSeeds(const std::filesystem::path& dir) {
  std::vector<uint64_t> testGen;
  for (uint64_t i = 0; i < 60; ++i) {
    if (i == 10) testGen.push_back(0x1E);
    if (i == 20) testGen.push_back(control(0, 0xFF, 5));
    if (i == 21) testGen.push_back(control(0, 0xFF, 6));
    uint64_t link = i % 2, n = i / 2;
    uint64_t toaValue = (i == 31) ? 51 : n;
    testGen.push_back(testGenPixel(link * 112 + (510 + n) / 512 % 112, (510 + n) % 512, toaValue));
  }
  writeSeed(dir, "testgen_two_links", opt({16 | 8, 1, 0, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7TOATOT, testGen));

  std::vector<uint64_t> counters;
  for (uint64_t i = 0; i < 50; ++i) counters.push_back(i == 17 ? 999 : ~uint64_t(0) - 20 + i);
  writeSeed(dir, "counter_one_link", opt({4, 0, 0, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7PC24, counters));
  std::vector<uint64_t> counters3;
  for (uint64_t i = 0; i < 60; ++i) counters3.push_back((i % 3) * 1000 + i / 3);
  writeSeed(dir, "counter_three_links", opt({4, 2, 1, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7PC24, counters3));
}

// Data split over chunks of other kinds, cut inside a word, or declared
// larger than the file.
void chunkBoundarySeeds(const std::filesystem::path& dir) {
  writeSeed(dir, "chunks_between_data", opt({4 | 8, 128, 1, 7, 3}),
            FileBuilder()
                .header()
                .chunk(MVHDR_VX7TOATOT, {pixel(0, 1, 1, 5), pixel(0, 2, 2, 6)})
                .jsonChunk(MVHDR_RUNINFO, "{\"run\":7}")
                .chunk(MVHDR_VX7PC24, {})
                .chunk(MVHDR_DATA, {pixel(1, 9, 9, 9)})
                .chunk(MVHDR_VX7FRAME16, {pixel(0, 4, 4, 4)})
                .chunk(0x1010ULL << 48, {1})
                .chunk(MVHDR_VX7PC24, {pixel(0, 5, 5, 5)}));
  writeSeed(dir, "data_cut_mid_word", opt({4, 0, 0, 0, 3}),
            FileBuilder().header().chunk(MVHDR_VX7PC24, {1, 2, 3}).truncateTo(8 + 8 + 20));
  writeSeed(
      dir, "data_huge_declared", opt({4, 0, 0, 0, 3}),
      FileBuilder().header().chunkHeader(MVHDR_VX7TOATOT, 0xFFFFFFFF).words({pixel(0, 1, 2, 3)}));
}

void packetSeeds(const std::filesystem::path& dir) {
  pixelSeeds(dir);
  frameSeeds(dir);
  timerAndPelvanSeeds(dir);
  checkSeeds(dir);
  chunkBoundarySeeds(dir);
}

// The document of a run over the files with the options set by how (on
// top of --json, without a picture), written in the current folder.
std::string document(const std::vector<std::string>& files, void (*how)(morven::RunSettings&)) {
  morven::RunSettings s;
  s.json = true;
  s.imageBase.clear();
  s.threads = 1;
  how(s);
  std::ostringstream out;
  morven::runReport(s, files, out);
  return out.str();
}

// Statistics documents with lists longer than a run writes them, each a
// little past its bound in the shortest entries that reach it, and long
// lists (a few thousand short entries) where the bound is beyond the
// fuzzer's 32 KiB: the reader refuses them as it reads them.
template <class Seed>
void hostileSeeds(const std::string& statistics, const Seed& seed) {
  using nlohmann::json;
  const json doc = json::parse(statistics);
  const auto edited = [&](const std::string& name, const auto& edit) {
    json d = doc;
    edit(d);
    seed("hostile_" + name, 0, d.dump());
  };
  const auto list = [](size_t n, const json& entry) { return json(n, entry); };
  edited("types", [](json& d) { d["statistics"]["types"].push_back(json::object()); });
  edited("tot", [&](json& d) { d["statistics"]["tot"]["counts"] = list(2049, json::array()); });
  edited("pc", [&](json& d) { d["statistics"]["pc"]["counts"] = list(177, json::array()); });
  edited("chunk_counts",
         [&](json& d) { d["statistics"]["chunk_counts"] = list(257, json::object()); });
  edited("row", [&](json& d) { d["statistics"]["hits"][0] = list(9, 0); });
  edited("file_errors", [&](json& d) { d["files"][0]["errors"] = list(1025, json::object()); });
  edited("quick_look", [&](json& d) {
    d["statistics"]["quick_look"] = {{"html", nullptr}, {"errors", list(17, "")}};
  });
  edited("members", [](json& d) {
    for (int i = 0; i < 65; ++i) d["settings"][std::to_string(i)] = 0;
  });
  edited("toa", [&](json& d) { d["statistics"]["toa"]["counts"] = list(3500, {1, 1}); });
  edited("chunk_hits", [&](json& d) { d["statistics"]["chunk_hits"] = {list(10000, 0)}; });
  edited("files", [&](json& d) { d["files"] = list(250, d["files"][0]); });
  edited("unknown", [&](json& d) { d["statistics"]["later"] = list(10000, 0); });
  edited("image", [](json& d) { d["statistics"]["image"] = 3; });
  std::string twice = statistics;
  twice.insert(1, "\"mode\":\"statistics\",");
  seed("hostile_twice", 0, twice);
}

// Documents of every mode, and statistics with every counting option;
// single ones, and pairs split by a zero byte, behind fuzz_merge's option
// bytes. The data files are written into a folder of their own, and the
// runs name them without a folder, so the seeds are the same bytes on
// every machine.
void mergeSeeds(const std::filesystem::path& dir) {
  const std::filesystem::path files = dir / "files";
  std::filesystem::create_directories(files);
  std::vector<uint64_t> toa, pc;
  for (uint64_t i = 0; i < 12; ++i) {
    toa.push_back(pixel(i & 1, i * 37 % 224, i * 13, i * 0x123456789));
    pc.push_back(pixel(i & 1, i * 11 % 224, i * 7, i));
  }
  toa.push_back(control(0, 0xE0, 5));
  std::ofstream(files / "a.mv", std::ios::binary)
      << FileBuilder().header().chunk(MVHDR_VX7TOATOT, toa).jsonChunk(MVHDR_RUNINFO, "{}").bytes();
  std::ofstream(files / "b.mv", std::ios::binary)
      << FileBuilder().header().chunk(MVHDR_VX7PC24, pc).chunk(0x7001ULL << 48, {1}).bytes();
  const std::filesystem::path back = std::filesystem::current_path();
  std::filesystem::current_path(files);
  using S = morven::RunSettings;
  const auto stats = [](S& s) { s.pixelScan = true; };
  const std::string a = document({"a.mv"}, stats), b = document({"b.mv"}, stats);
  const std::string both = document({"a.mv", "b.mv"}, stats);
  const std::string skipped = document({"a.mv"}, [](S& s) { s.pixelScan = true, s.skipCount = 3; });
  const std::string reversed =
      document({"b.mv"}, [](S& s) { s.pixelScan = s.reverseWords = s.reverseBytes = true; });
  const std::string pelvan = document({"a.mv"}, [](S& s) { s.pixelScan = s.fromPelvan = true; });
  const std::string histogram =
      document({"b.mv"}, [](S& s) { s.pixelScan = s.histogram = true, s.histogramBins = 5; });
  const std::string check = document({"a.mv"}, [](S& s) { s.listChunks = true; });
  const std::string testGen = document({"a.mv"}, [](S& s) { s.pixelScan = s.testGen = true; });
  const std::string counter = document({"b.mv"}, [](S& s) { s.pixelScan = s.counterCheck = true; });
  const std::string failed = document({"a.mv", "missing.mv"}, stats);
  std::filesystem::current_path(back);
  std::filesystem::remove_all(files);

  const auto seed = [&](const std::string& name, uint8_t options, const std::string& text) {
    std::ofstream f(dir / name, std::ios::binary | std::ios::trunc);
    f << char(options) << char(4) << text;
  };
  constexpr uint8_t JSON = 1, DUPLICATES = 2, HISTOGRAM = 4, EOC = 8, TWICE = 32, WHOLE = 64;
  seed("statistics", 0, a);
  seed("statistics_json", WHOLE | JSON | HISTOGRAM, b);
  seed("two_files", WHOLE | EOC, both);
  seed("skipped", 0, skipped);
  seed("reversed", WHOLE | JSON, reversed);
  seed("pelvan", WHOLE | EOC | 16, pelvan);
  seed("histogram", HISTOGRAM, histogram);
  seed("file_check", 0, check);
  seed("test_generator", 0, testGen);
  seed("counter_check", 0, counter);
  seed("failed_run", WHOLE, failed);
  seed("twice", TWICE, a);
  seed("twice_allowed", WHOLE | TWICE | DUPLICATES | JSON, b);
  seed("pair", WHOLE | JSON, a + '\0' + b);
  seed("pair_text", WHOLE | EOC | HISTOGRAM, b + '\0' + a);
  seed("pair_other_options", 0, a + '\0' + reversed);
  hostileSeeds(a, seed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  std::filesystem::create_directories(root / "chunks");
  std::filesystem::create_directories(root / "packets");
  std::filesystem::create_directories(root / "merge");
  chunkSeeds(root / "chunks");
  packetSeeds(root / "packets");
  mergeSeeds(root / "merge");
  return 0;
}
