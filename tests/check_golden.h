// The golden case of both checks: one file of one ToA/ToT data chunk, run
// through the mvscan binary with -Q or -q, its whole output compared. A
// program that includes this instantiates CheckGolden with its cases.
#ifndef MVSCAN_TESTS_CHECK_GOLDEN_H
#define MVSCAN_TESTS_CHECK_GOLDEN_H

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"

namespace check_cases {

using morven::MVHDR_VX7TOATOT;
using testing_files::FileBuilder;
using testing_files::runMvscan;
using testing_files::RunResult;
using testing_files::TempDir;

// ---- Expected output ----------------------------------------------------------------

inline std::string banner(char mode, int links) {
  return std::string(mode == 'Q' ? "=> Check TestGenerator pixel format (#links="
                                 : "=> Check TestGenerator counter (#links=") +
         std::to_string(links) + ")\n";
}

inline std::string fileLines(const std::string& name, uint64_t size) {
  return "File opened: " + name + "\nFile header: MORVEN\nFile size  : " + std::to_string(size) +
         " bytes (" + std::to_string(size / 8) + "*8)\n";
}

inline std::string totals(char mode, uint64_t packets) {
  return mode == 'Q' ? "Total pixelpackets = " + std::to_string(packets) + " (heartbeats = 0)\n"
                     : "Total 'packets' = " + std::to_string(packets) + "\n";
}

inline const std::string NOTHING = "### Nothing was actually checked: check file contents\n";

// mvscan with the arguments over the files, written as a.mv, b.mv, ... in a
// directory of their own.
inline RunResult runOnFiles(std::vector<std::string> args, const std::vector<FileBuilder>& files) {
  TempDir dir;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string name = std::string(1, char('a' + i)) + ".mv";
    dir.write(name, files[i]);
    args.push_back(name);
  }
  return runMvscan(args, dir.path());
}

// ---- Golden cases: one file, one data chunk -----------------------------------------

struct CheckCase {
  const char* name;
  char mode;  // 'Q' or 'q'
  int links;
  std::vector<uint64_t> words;  // the payload of one ToA/ToT data chunk
  std::string lines;            // what the check writes
  bool nothingChecked = false;
};

inline void PrintTo(const CheckCase& c, std::ostream* os) {
  *os << c.name;
}

class CheckGolden : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckGolden, WholeOutput) {
  const CheckCase& tc = GetParam();
  FileBuilder file = FileBuilder().header().chunk(MVHDR_VX7TOATOT, tc.words);
  RunResult r = runOnFiles({std::string("-") + tc.mode, "-L", std::to_string(tc.links)}, {file});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, banner(tc.mode, tc.links) + fileLines("a.mv", file.size()) + tc.lines +
                       totals(tc.mode, tc.words.size()) + (tc.nothingChecked ? NOTHING : ""));
}

}  // namespace check_cases

#endif  // MVSCAN_TESTS_CHECK_GOLDEN_H
