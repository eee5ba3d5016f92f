// The lines of mvscan's reports that many expected outputs share: a file's
// opening lines, the end-of-file summary and the chunk counters, written
// out from their parts.
#ifndef MVSCAN_TESTS_REPORTLINES_H
#define MVSCAN_TESTS_REPORTLINES_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace report_lines {

// The lines every file-check report starts a file with.
inline std::string fileLines(const std::string& name, uint64_t size) {
  return "File opened: " + name + "\nFile header: MORVEN\nFile size  : " + std::to_string(size) +
         " bytes\n";
}

// The pixel-scan run also shows the size in 8-byte words.
inline std::string scanLines(const std::string& name, uint64_t size) {
  std::string s = "File opened: " + name +
                  "\nFile header: MORVEN\nFile size  : " + std::to_string(size) + " bytes (" +
                  std::to_string(size / 8) + "*8";
  if (size % 8 != 0) s += " + " + std::to_string(size % 8);
  return s + ")\n";
}

// A chunk type name in the column of the counters and of the chunk list.
inline std::string padded(const std::string& name) {
  return name + std::string(25 - name.size(), ' ');
}

inline std::string counters(const std::vector<std::pair<std::string, int>>& rows) {
  std::string s = "=> Chunk counters:\n";
  for (const auto& [name, count] : rows) s += padded(name) + std::to_string(count) + "\n";
  return s;
}

// The totals of the chunk walk, after its end-of-file line or where it
// stopped.
inline std::string chunkTotals(uint64_t headers, uint64_t dataBytes) {
  return "Chunks = " + std::to_string(headers) +
         ", Total data bytes = " + std::to_string(dataBytes) + " (" +
         std::to_string(dataBytes / 8) + " pixels)\n";
}

inline std::string eofReport(uint64_t index, uint64_t headers, uint64_t dataBytes) {
  return "=> End-of-file reached (index=" + std::to_string(index) + ")\n" +
         chunkTotals(headers, dataBytes);
}

inline const std::string ERRORS = "### There were errors in this file\n";

}  // namespace report_lines

#endif
