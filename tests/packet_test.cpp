// The packet decoder's chip places, checked directly: every one of the
// 2^18 hit-counter indexes of the 448 x 512 pixels goes to a place of its
// own and back, and a few places worked out by hand from the layout (EoC
// block = double column, super-pixels of 2 x 4, the top half mirrored).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "format/MorvenFormat.h"
#include "format/Packet.h"

using namespace morven;

namespace {

constexpr uint64_t TOP = uint64_t(1) << 17;

uint64_t index(bool top, uint64_t eoc, uint64_t pixnr) {
  return (top ? TOP : 0) | eoc << 9 | pixnr;
}

TEST(PixelPlace, EveryPixelIndexToItsOwnPlaceAndBack) {
  std::vector<uint8_t> seen(448 * 512, 0);
  uint64_t pixels = 0;
  for (uint64_t i = 0; i < VX7_PIXEL_INDEXES; ++i) {
    const uint64_t eoc = (i >> 9) & 0xFF;
    if (eoc > VX7_EOC_MAX_COLNR) continue;  // control codes: no pixel
    const PixelPlace p = pixelPlace(i);
    ASSERT_LT(p.x, 448u) << i;
    ASSERT_LT(p.y, 512u) << i;
    // The bottom half holds rows 0..255, the top half rows 256..511.
    ASSERT_EQ(p.y >= 256, (i & TOP) != 0) << i;
    ASSERT_EQ(seen[p.y * 448u + p.x]++, 0) << "place of " << i << " taken twice";
    ASSERT_EQ(pixelIndexAt(p.x, p.y), i);
    ++pixels;
  }
  EXPECT_EQ(pixels, 2 * N_PIXELS);
  EXPECT_EQ(pixels, 448u * 512u);
}

TEST(PixelPlace, PlacesWorkedOutByHand) {
  struct Case {
    uint64_t index;
    uint16_t x, y;
  };
  const Case cases[] = {
      {index(false, 0, 0), 0, 0},
      {index(false, 0, 1), 0, 1},       // bits 1..0: the row in the super-pixel
      {index(false, 0, 4), 1, 0},       // bit 2: the right column of the pair
      {index(false, 0, 8), 0, 4},       // bits 8..3: the super-pixel, 4 rows up
      {index(false, 5, 0x1D), 11, 13},  // double column 5; super-pixel 3, row 1
      {index(false, 223, 511), 447, 255},
      {index(true, 0, 0), 447, 511},  // the top half mirrored in x and y
      {index(true, 223, 511), 0, 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    const PixelPlace p = pixelPlace(c.index);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
    EXPECT_EQ(pixelIndexAt(c.x, c.y), c.index);
    // The same through a packet word and the decoder.
    const PacketFields f = decodePacket(pixelPacket(c.index, 0));
    EXPECT_EQ(f.x, c.x);
    EXPECT_EQ(f.y, c.y);
  }
}

}  // namespace
