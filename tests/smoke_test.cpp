#include <gtest/gtest.h>

#include "FileBuilder.h"
#include "RunTool.h"

using namespace testing_files;

TEST(Smoke, HeaderOnlyFile) {
  TempDir dir;
  std::string f = dir.write("a.mv", FileBuilder().header());
  RunResult r = runMvscan({f}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> MORVEN data file check\nFile opened: " + f +
                       "\nFile header: MORVEN\nFile size  : 8 bytes\n=> End-of-file reached "
                       "(index=8)\nChunks = 0, Total data bytes = 0 (0 pixels)\n");
}
