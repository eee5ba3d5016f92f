// Vexar7 pixel packets: the fields of a 64-bit packet word.
//
// Pure functions, no state and no I/O. The statistics loop, the display,
// the checks, the picture, the Python module and mvgen all take a packet's
// fields from here, so the bit layout is written down once:
//
//   bit  63      chip half (1: top)
//   bits 62..55  type byte: EoC block 0..223 of a data packet, or a
//                control code 224..255 (heartbeat, shutter, frame markers)
//   bits 54..46  pixel number within the EoC block (data packets)
//   ToA/ToT data packets:
//   bits 45..30  ToA        29..26 ultra-fine ToA stop  25..22 ultra-fine ToA start
//   bits 21..17  fine ToA at the rise                    16..12 fine ToA at the fall
//   bits 11..1   ToT        0      pile-up
//   Counting (PC24) data packets: bits 23..0 the count.
//   Control packets: bits 54..0 a timer value.
#ifndef MORVEN_PACKET_H
#define MORVEN_PACKET_H

#include <cstdint>

#include "MorvenFormat.h"

namespace morven {

// Bits high..low of w, shifted down.
constexpr uint64_t bitField(uint64_t w, int high, int low) {
  return (w >> low) & ((uint64_t(2) << (high - low)) - 1);
}

constexpr bool packetIsTop(uint64_t w) {
  return (w >> 63) != 0;
}
constexpr uint64_t packetType(uint64_t w) {
  return bitField(w, 62, 55);
}
constexpr bool packetIsData(uint64_t w) {
  return packetType(w) <= VX7_EOC_MAX_COLNR;
}
// Half, EoC block and pixel number as one 18-bit number: the index of the
// pixel's hit counter (bottom half 0..0x1BFFF, top half from 0x20000).
constexpr uint64_t packetPixelIndex(uint64_t w) {
  return w >> VX7_PIXELNR_SHIFT;
}
constexpr uint64_t packetToa(uint64_t w) {
  return bitField(w, 45, 30);
}
// The value of a timer or control packet.
constexpr uint64_t TIMER_VALUE_MASK = 0x007FFFFFFFFFFFFFULL;
constexpr uint64_t packetTimer(uint64_t w) {
  return w & TIMER_VALUE_MASK;
}

// Where a pixel sits on the chip, 448 columns by 512 rows. Within a half,
// the EoC block is a double column and the pixel number runs through
// super-pixels of 2 x 4: bit 2 the column within the double column, bits
// 8..3 the super-pixel, bits 1..0 its row. The top half holds rows 256..511,
// its coordinates mirrored in both directions.
struct PixelPlace {
  uint16_t x;
  uint16_t y;
};

//
// The mirroring is done without a branch: the halves of a run's packets come
// in no order a branch predictor could learn, and a decode of every packet
// spent most of its time in mispredicted branches. With m all ones for the
// top half, (x ^ m) + (m & 448) is 447 - x, and (y ^ m) + (m & 512) is
// 511 - y; with m zero both are x and y.
constexpr PixelPlace pixelPlace(uint64_t pixelIndex) {
  const uint64_t eoc = bitField(pixelIndex, 16, 9);
  const uint64_t pixnr = bitField(pixelIndex, 8, 0);
  const uint64_t x = 2 * eoc + ((pixnr >> 2) & 1);
  const uint64_t y = 4 * (pixnr >> 3) + (pixnr & 3);
  const uint64_t m = 0 - bitField(pixelIndex, 17, 17);
  return {uint16_t((x ^ m) + (m & 448)), uint16_t((y ^ m) + (m & 512))};
}

// Every field of a packet, decoded at once. Which fields mean something
// depends on the packet: the place for data packets, the ToA/ToT fields in
// a ToA/ToT chunk, pc in a counting chunk, timer for control packets.
struct PacketFields {
  bool top;
  uint8_t type;    // EoC block or control code
  uint16_t pixel;  // pixel number within the EoC block
  uint16_t x, y;
  uint16_t toa;
  uint8_t uftoaStop, uftoaStart;
  uint8_t ftoaRise, ftoaFall;
  uint16_t tot;
  bool pileup;
  uint32_t pc;
  uint64_t timer;
};

constexpr PacketFields decodePacket(uint64_t w) {
  const PixelPlace place = pixelPlace(packetPixelIndex(w));
  return PacketFields{packetIsTop(w),
                      uint8_t(packetType(w)),
                      uint16_t(bitField(w, 54, 46)),
                      place.x,
                      place.y,
                      uint16_t(packetToa(w)),
                      uint8_t(bitField(w, 29, 26)),
                      uint8_t(bitField(w, 25, 22)),
                      uint8_t(bitField(w, 21, 17)),
                      uint8_t(bitField(w, 16, 12)),
                      uint16_t(bitField(w, 11, 1)),
                      (w & 1) != 0,
                      uint32_t(bitField(w, 23, 0)),
                      packetTimer(w)};
}

// In a stream of Pelvan blocks, word n (counted from 1) is the block's
// header when n % 128 == 1 and its trailer when n % 128 == 0; zero words
// fill blocks. None of them is a packet.
constexpr bool notAPelvanPacket(uint64_t n, uint64_t w) {
  return (n & (PELVAN_BLOCK_WORDS - 1)) <= 1 || w == 0;
}

}  // namespace morven

#endif  // MORVEN_PACKET_H
