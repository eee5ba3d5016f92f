// The hit-count image: the picture is read back with png++ and compared
// whole (matrix, separator, grey-scale bar); the PNG's own structure; the
// error lines when the file cannot be written, through the inspector and
// through the statistics run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <png++/png.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FileBuilder.h"
#include "RunTool.h"
#include "report/CounterImage.h"
#include "scan/DataInspector.h"

using namespace morven;
using namespace testing_files;

namespace {

using Image = png::image<png::gray_pixel_16>;
// Picture column and row of a matrix pixel, and its expected value.
using Pixels = std::map<std::pair<uint32_t, uint32_t>, uint16_t>;

uint64_t dataPacket(bool top, uint64_t eoc, uint64_t pixel) {
  return (uint64_t(top) << 63) | (eoc << 55) | (pixel << 46);
}

// Tallies the packets through the statistics path and writes the image as
// dir/inspect.png; returns what the inspector printed and the picture's
// error.
std::string saveImageOf(const TempDir& dir, std::vector<uint64_t> packets) {
  std::ostringstream out;
  DataInspector in(false);
  in.stream().setDataChunk(reinterpret_cast<unsigned char*>(packets.data()), packets.size() * 8);
  while (in.processNextPixel()) {
  }
  return out.str() + writeCounterImage(in.tallies().pixels.get(), dir.file("inspect.png"));
}

Image imageOf(std::vector<uint64_t> packets) {
  TempDir dir;
  EXPECT_EQ(saveImageOf(dir, std::move(packets)), "");
  return Image(dir.file("inspect.png"));
}

// Compares the whole picture: the matrix holds the given pixels and zeros
// elsewhere, then the separator and the grey-scale bar.
void expectPicture(const Image& image, const Pixels& matrix) {
  ASSERT_EQ(image.get_width(), 460u);
  ASSERT_EQ(image.get_height(), 512u);
  uint64_t wrong = 0;
  for (uint32_t row = 0; row < 512; ++row) {
    for (uint32_t col = 0; col < 460; ++col) {
      uint16_t expected = 0;
      if (col >= 450) {
        expected = uint16_t(65535 - 128 * row);
      } else if (col >= 448) {
        expected = 65535;
      } else if (auto it = matrix.find({col, row}); it != matrix.end()) {
        expected = it->second;
      }
      const uint16_t got = image[row][col];
      if (got != expected && ++wrong <= 5) {
        ADD_FAILURE() << "column " << col << " row " << row << ": " << got << " instead of "
                      << expected;
      }
    }
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(HitImage, NoHitsGiveABlackMatrix) {
  const Image image = imageOf({});
  expectPicture(image, {});
  EXPECT_EQ(image[0][450], 65535);
  EXPECT_EQ(image[511][459], 127);
}

// One hit anywhere is the brightest pixel, at the place the chip
// coordinates give: column x, row 511 - y.
TEST(HitImage, ASingleHitLandsAtItsChipCoordinates) {
  struct Case {
    const char* name;
    uint64_t packet;
    uint32_t col, row;
  };
  const std::vector<Case> cases = {
      {"bottom EoC 0 pixel 0: bottom-left corner", dataPacket(false, 0, 0), 0, 511},
      {"top EoC 0 pixel 0: top-right corner", dataPacket(true, 0, 0), 447, 0},
      {"bottom EoC 223 pixel 0x1FF", dataPacket(false, 223, 0x1FF), 447, 256},
      {"top EoC 223 pixel 0x1FF", dataPacket(true, 223, 0x1FF), 0, 255},
      {"bottom x 11 y 13", 0x0287400000000000, 11, 498},
      {"top x 436 y 498", 0x8287400000000000, 436, 13},
      {"bottom pixel bit 2 is the odd column", dataPacket(false, 100, 4), 201, 511},
      {"top pixel bit 2 is the odd column", dataPacket(true, 100, 4), 246, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectPicture(imageOf({c.packet}), {{{c.col, c.row}, 65535}});
  }
}

TEST(HitImage, BrightnessIsScaledToTheMostHitPixel) {
  std::vector<uint64_t> packets(7, dataPacket(false, 0, 0));
  packets.push_back(dataPacket(true, 0, 0));
  for (int i = 0; i < 3; ++i) packets.push_back(dataPacket(false, 5, 0x1D));
  // 65535 * 1 / 7 = 9362.14 and 65535 * 3 / 7 = 28086.43, truncated.
  expectPicture(imageOf(packets), {{{0, 511}, 65535}, {{447, 0}, 9362}, {{11, 498}, 28086}});
}

// Packets of type 224 and above are no hits: they neither appear nor set
// the scale.
TEST(HitImage, ControlPacketsAreNeverDrawn) {
  std::vector<uint64_t> packets;
  for (uint64_t type = 224; type < 256; ++type) {
    for (int i = 0; i < 5; ++i) packets.push_back((type << 55) | (uint64_t(i) << 46));
    packets.push_back((1ULL << 63) | (type << 55));
  }
  packets.push_back(dataPacket(false, 200, 17));
  expectPicture(imageOf(packets), {{{400, 502}, 65535}});
}

// One hit on every pixel of both halves: each of the 448 x 512 matrix
// pixels is drawn, so the mapping leaves no gap and no overlap.
TEST(HitImage, EveryPixelHasItsOwnPlace) {
  std::vector<uint64_t> packets;
  for (uint64_t top = 0; top < 2; ++top) {
    for (uint64_t i = 0; i < N_PIXELS; ++i) packets.push_back((top << 63) | (i << 46));
  }
  Pixels all;
  for (uint32_t col = 0; col < 448; ++col) {
    for (uint32_t row = 0; row < 512; ++row) all[{col, row}] = 65535;
  }
  expectPicture(imageOf(packets), all);
}

// The file is a plain 16-bit greyscale PNG: IHDR, image data, IEND, and no
// palette, gamma or other chunk.
TEST(HitImage, FileIsSixteenBitGreyWithoutExtraChunks) {
  TempDir dir;
  saveImageOf(dir, {dataPacket(false, 1, 1)});
  const std::string png = readWholeFile(dir.file("inspect.png"));
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  std::vector<std::string> chunks;
  std::string ihdr;
  for (size_t at = 8; at + 8 <= png.size();) {
    const size_t length = size_t(uint8_t(png[at])) << 24 | size_t(uint8_t(png[at + 1])) << 16 |
                          size_t(uint8_t(png[at + 2])) << 8 | size_t(uint8_t(png[at + 3]));
    const std::string type = png.substr(at + 4, 4);
    if (chunks.empty() || chunks.back() != type) chunks.push_back(type);
    if (type == "IHDR") ihdr = png.substr(at + 8, length);
    at += 12 + length;
  }
  EXPECT_EQ(chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  // Width 460, height 512, depth 16, colour type 0 (grey), compression,
  // filter and interlace 0.
  EXPECT_EQ(ihdr, std::string("\0\0\x01\xcc\0\0\x02\0\x10\0\0\0\0", 13));
}

TEST(HitImage, AnExistingFileIsReplaced) {
  TempDir dir;
  FileBuilder().raw(std::string(100000, 'x')).writeTo(dir.file("inspect.png"));
  EXPECT_EQ(saveImageOf(dir, {dataPacket(false, 0, 0)}), "");
  expectPicture(Image(dir.file("inspect.png")), {{{0, 511}, 65535}});
}

// ---- Files that cannot be written --------------------------------------------
// The tests may run as root, whom permissions do not stop: the failures come
// from a path through a regular file, a directory in the way, and a device
// that is always full.

TEST(HitImageErrors, FileThatCannotBeWrittenIsReported) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> prepare;
    std::string base;  // relative to the directory
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"parent is a regular file",
       [](const TempDir& d) { FileBuilder().raw("x").writeTo(d.file("plain")); }, "plain/inspect",
       "Not a directory"},
      {"no such directory", [](const TempDir&) {}, "gone/inspect", "No such file or directory"},
      {"a directory of that name",
       [](const TempDir& d) { mkdir(d.file("inspect.png").c_str(), 0755); }, "inspect",
       "Is a directory"},
      {"a full device",
       [](const TempDir& d) { symlink("/dev/full", d.file("inspect.png").c_str()); }, "inspect",
       "No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.prepare(dir);
    std::ostringstream out;
    DataInspector in(false);
    EXPECT_EQ(writeCounterImage(in.tallies().pixels.get(), dir.file(c.base) + ".png"),
              "PNG error: " + dir.file(c.base) + ".png: " + c.reason);
    // Nothing is left in a bad state: the next picture is written.
    EXPECT_EQ(writeCounterImage(in.tallies().pixels.get(), dir.file("next.png")), "");
    EXPECT_EQ(out.str(), "");
    expectPicture(Image(dir.file("next.png")), {});
  }
}

// ---- Through the statistics run ---------------------------------------------

FileBuilder hitsFile(const std::vector<uint64_t>& packets) {
  return FileBuilder().header().chunk(MVHDR_VX7TOATOT, packets);
}

// The image is rewritten after every file with the hits of all files so far.
TEST(HitImageRun, SecondImageIsScaledOverBothFiles) {
  TempDir dir;
  dir.write("a.mv", hitsFile({dataPacket(false, 0, 0)}));
  dir.write("b.mv", hitsFile({dataPacket(true, 0, 0), dataPacket(true, 0, 0)}));
  ASSERT_EQ(runMvscan({"-p", "a.mv"}, dir.path()).status, 0);
  expectPicture(Image(dir.file("inspect.png")), {{{0, 511}, 65535}});
  ASSERT_EQ(runMvscan({"-p", "a.mv", "b.mv"}, dir.path()).status, 0);
  expectPicture(Image(dir.file("inspect.png")), {{{0, 511}, 32767}, {{447, 0}, 65535}});
}

// The report goes on after a picture that cannot be written, and the run
// ends with status 2: the picture is part of the report that was asked for.
TEST(HitImageRun, ImageErrorIsReportedAndTheReportGoesOn) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> prepare;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"directory", [](const TempDir& d) { mkdir(d.file("inspect.png").c_str(), 0755); },
       "Is a directory"},
      {"full device", [](const TempDir& d) { symlink("/dev/full", d.file("inspect.png").c_str()); },
       "No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    c.prepare(dir);
    dir.write("a.mv", hitsFile({dataPacket(false, 0, 0), dataPacket(false, 0, 0)}));
    dir.write("b.mv", hitsFile({dataPacket(false, 1, 0)}));
    RunResult r = runMvscan({"-p", "-E", "a.mv", "b.mv"}, dir.path());
    EXPECT_EQ(r.status, 2);
    const std::string error = std::string("### PNG error: inspect.png: ") + c.reason + "\n";
    EXPECT_EQ(r.out,
              "=> Scan pixels gathering statistics\n\n"
              "File opened: a.mv\nFile header: MORVEN\nFile size  : 32 bytes (4*8)\n"
              "\n=> EoC counters:\n  0  2\n" +
                  error +
                  "Total pixelpackets = 2\n\n"
                  "=> Chunk counters:\nMVHDR_VX7TOATOT          1\n\n"
                  "File opened: b.mv\nFile header: MORVEN\nFile size  : 24 bytes (3*8)\n"
                  "\n=> EoC counters:\n  0  2\n  1  1\n" +
                  error +
                  "Total pixelpackets = 3\n\n"
                  "=> Chunk counters:\nMVHDR_VX7TOATOT          2\n\n");
    EXPECT_EQ(r.err, "");
  }
}

// The JSON report names the picture's error and does not call the run
// completed; a merge that cannot write its picture fails the same way.
TEST(HitImageRun, ImageErrorEndsJsonRunAndMergeWithStatus2) {
  TempDir dir;
  dir.write("a.mv", hitsFile({dataPacket(false, 0, 0)}));
  const std::string missing = dir.file("gone/x.png");
  RunResult r = runMvscan({"-p", "--json", "--image", missing, "a.mv"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("\"image\":{\"error\":\"PNG error: " + missing +
                       ": No such file or directory\",\"file\":\"" + missing + "\"}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(",\"run_end\":\"image_failed\"}\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");

  // The figures of that run are whole: its document still merges.
  dir.write("a.json", FileBuilder().raw(r.out));
  RunResult merged = runMvscan({"--merge", "--no-image", "a.json"}, dir.path());
  EXPECT_EQ(merged.status, 0) << merged.out;

  for (const char* json : {"", "--json"}) {
    SCOPED_TRACE(json);
    std::vector<std::string> args = {"--merge", "--image", missing, "a.json"};
    if (*json != '\0') args.insert(args.begin(), json);
    RunResult m = runMvscan(args, dir.path());
    EXPECT_EQ(m.status, 2);
    EXPECT_NE(m.out.find("PNG error: " + missing + ": No such file or directory"),
              std::string::npos)
        << m.out;
  }
}

}  // namespace
