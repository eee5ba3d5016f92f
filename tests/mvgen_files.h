// Reading back the files mvgen writes: mvgen run in a directory of its
// own, the chunks and packets of a file read here without the inspector,
// the lines mvscan prints for a file, and the kinds of file mvgen writes.
#ifndef MVSCAN_TESTS_MVGEN_FILES_H
#define MVSCAN_TESTS_MVGEN_FILES_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "format/MorvenFormat.h"

namespace mvgen_files {

using testing_files::readWholeFile;
using testing_files::RunResult;
using testing_files::runTool;
using testing_files::TempDir;

#ifdef MVGEN_BINARY
// Runs mvgen in a directory of its own, where its output is collected, so
// that tests running at the same time do not share those files. File
// arguments are absolute paths.
inline RunResult runMvgen(const std::vector<std::string>& args) {
  TempDir where;
  return runTool(MVGEN_BINARY, args, where.path());
}
#endif

constexpr uint64_t IDLE = 0x1E;

inline uint64_t typeByte(uint64_t w) {
  return w >> 55 & 0xFF;
}

// The chunks of a file as its header words say, read without the inspector.
struct RawChunk {
  uint64_t type;
  std::string payload;
};

inline std::vector<RawChunk> rawChunks(const std::string& path) {
  const std::string bytes = readWholeFile(path);
  std::vector<RawChunk> chunks;
  size_t offset = 8;
  while (offset + 8 <= bytes.size()) {
    uint64_t w = 0;
    for (int i = 7; i >= 0; --i) w = w << 8 | uint8_t(bytes[offset + size_t(i)]);
    const size_t size = size_t(w & morven::MVHDR_CHUNKSIZE_MASK) * 8;
    offset += 8;
    chunks.push_back({w & morven::MVHDR_CHUNKTYPE_MASK, bytes.substr(offset, size)});
    offset += size;
  }
  return chunks;
}

// All packets of the data chunks, in file order.
inline std::vector<uint64_t> packets(const std::string& path) {
  std::vector<uint64_t> words;
  for (const RawChunk& c : rawChunks(path)) {
    if ((c.type & morven::MVHDR_GROUPID_MASK) != morven::MVHDR_GROUPID_DATA) continue;
    for (size_t i = 0; i + 8 <= c.payload.size(); i += 8) {
      uint64_t w = 0;
      for (int b = 7; b >= 0; --b) w = w << 8 | uint8_t(c.payload[i + size_t(b)]);
      words.push_back(w);
    }
  }
  return words;
}

inline std::string padded(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

inline std::string fileLines(const std::string& path) {
  return "File opened: " + path + "\nFile header: MORVEN\n";
}

inline std::string pixelScanFileLines(const std::string& path) {
  const uint64_t size = std::filesystem::file_size(path);
  return fileLines(path) + "File size  : " + std::to_string(size) + " bytes (" +
         std::to_string(size / 8) + "*8)\n";
}

struct KindCase {
  const char* kind;
  std::vector<std::string> metadata;  // names of the chunks before the data, in file order
  const char* dataName;
};

// A chip's run has chip information and configuration before the data; the
// test-generator and counter patterns have neither.
inline const std::vector<std::string> CHIP_METADATA = {"MVHDR_CHIPINFO", "MVHDR_BOARDINFO",
                                                       "MVHDR_RUNINFO", "MVHDR_VX7CFG"};
inline const std::vector<std::string> PATTERN_METADATA = {"MVHDR_BOARDINFO", "MVHDR_RUNINFO"};

inline const std::vector<KindCase> KINDS = {
    {"toatot", CHIP_METADATA, "MVHDR_VX7TOATOT"},
    {"pc24", CHIP_METADATA, "MVHDR_VX7PC24"},
    {"frame8", CHIP_METADATA, "MVHDR_VX7FRAME8"},
    {"frame16", CHIP_METADATA, "MVHDR_VX7FRAME16"},
    {"testgen", PATTERN_METADATA, "MVHDR_VX7TOATOT"},
    {"counter", PATTERN_METADATA, "MVHDR_VX7TOATOT"},
};

}  // namespace mvgen_files

#endif  // MVSCAN_TESTS_MVGEN_FILES_H
