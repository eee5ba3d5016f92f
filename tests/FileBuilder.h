// Builds MORVEN data files in memory for the tests: a file header, chunk
// header words, payloads of packets, JSON text or register records, and
// deliberate damage (a cut at any byte, raw bytes anywhere).
#ifndef MVSCAN_TESTS_FILEBUILDER_H
#define MVSCAN_TESTS_FILEBUILDER_H

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "format/MorvenFormat.h"

namespace testing_files {

inline std::string le64(uint64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[size_t(i)] = char((v >> (8 * i)) & 0xFF);
  return s;
}

inline std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[size_t(i)] = char((v >> (8 * i)) & 0xFF);
  return s;
}

// A chunk-header word: type (in place, bits 63..48), stream id, size in words.
inline uint64_t chunkWord(uint64_t type, uint64_t sizeWords, uint64_t streamId = 0) {
  return (type & morven::MVHDR_CHUNKTYPE_MASK) | ((streamId & 0xFFFF) << 32) |
         (sizeWords & 0xFFFFFFFF);
}

// A register record: address, value-byte count, value bytes, fill to 8.
inline std::string configRecord(uint32_t address, const std::vector<uint8_t>& value) {
  std::string s = le32(address) + le32(uint32_t(value.size()));
  for (uint8_t b : value) s += char(b);
  while (s.size() % 8 != 0) s += '\0';
  return s;
}

class FileBuilder {
 public:
  FileBuilder& header() { return raw("MORVEN" + std::string(2, '\0')); }
  FileBuilder& raw(const std::string& bytes) {
    _bytes += bytes;
    return *this;
  }
  FileBuilder& word(uint64_t w) { return raw(le64(w)); }
  FileBuilder& words(const std::vector<uint64_t>& ws) {
    for (uint64_t w : ws) word(w);
    return *this;
  }
  // A header word alone, declaring sizeWords words of payload.
  FileBuilder& chunkHeader(uint64_t type, uint64_t sizeWords, uint64_t streamId = 0) {
    return word(chunkWord(type, sizeWords, streamId));
  }
  // A whole chunk of 64-bit words.
  FileBuilder& chunk(uint64_t type, const std::vector<uint64_t>& ws, uint64_t streamId = 0) {
    chunkHeader(type, ws.size(), streamId);
    return words(ws);
  }
  // A chunk whose payload is the given bytes, zero-filled to whole words.
  FileBuilder& bytesChunk(uint64_t type, std::string payload) {
    while (payload.size() % 8 != 0) payload += '\0';
    chunkHeader(type, payload.size() / 8);
    return raw(payload);
  }
  FileBuilder& jsonChunk(uint64_t type, const std::string& text) { return bytesChunk(type, text); }
  FileBuilder& configChunk(const std::vector<std::string>& records) {
    std::string payload;
    for (const std::string& r : records) payload += r;
    return bytesChunk(morven::MVHDR_VX7CFG, payload);
  }
  FileBuilder& truncateTo(size_t n) {
    _bytes.resize(n);
    return *this;
  }

  const std::string& bytes() const { return _bytes; }
  size_t size() const { return _bytes.size(); }

  void writeTo(const std::string& path) const {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(_bytes.data(), std::streamsize(_bytes.size()));
  }

 private:
  std::string _bytes;
};

// A fresh directory under the system's temporary folder, removed with all
// it holds when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "mvscan-test-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    char* made = ::mkdtemp(buf.data());
    _path = made ? made : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!_path.empty()) std::filesystem::remove_all(_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return _path; }
  std::string file(const std::string& name) const { return _path + "/" + name; }
  // Writes the builder's bytes to a file of this directory; returns its path.
  std::string write(const std::string& name, const FileBuilder& b) const {
    b.writeTo(file(name));
    return file(name);
  }

 private:
  std::string _path;
};

}  // namespace testing_files

#endif  // MVSCAN_TESTS_FILEBUILDER_H
