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

#include <array>
#include <cstdint>

#include "format/MorvenFormat.h"

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
constexpr uint64_t PIXEL_INDEX_TOP_HALF = uint64_t(1) << 17;
constexpr uint64_t pixelIndex(bool top, uint64_t eoc, uint64_t pixnr) {
  return (top ? PIXEL_INDEX_TOP_HALF : 0) | eoc << 9 | pixnr;
}
constexpr uint64_t packetToa(uint64_t w) {
  return bitField(w, 45, 30);
}
constexpr uint64_t packetTot(uint64_t w) {
  return bitField(w, 11, 1);
}
// The count of a counting (PC24) data packet.
constexpr uint64_t packetPc(uint64_t w) {
  return bitField(w, 23, 0);
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
constexpr uint64_t CHIP_COLUMNS = 448;
constexpr uint64_t CHIP_ROWS = 512;
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

// The other way round: the hit-counter index (half, EoC block, pixel
// number) of the pixel in column x (0..447) and row y (0..511).
constexpr uint64_t pixelIndexAt(uint64_t x, uint64_t y) {
  const bool top = y >= 256;
  if (top) {
    x = 447 - x;
    y = 511 - y;
  }
  const uint64_t eoc = x >> 1;
  const uint64_t pixnr = (y >> 2) << 3 | (x & 1) << 2 | (y & 3);
  return uint64_t(top) << 17 | eoc << 9 | pixnr;
}

// Packet words from their fields, for writers of test data.
constexpr uint64_t pixelPacket(uint64_t pixelIndex, uint64_t low46) {
  return pixelIndex << VX7_PIXELNR_SHIFT | (low46 & ((uint64_t(1) << VX7_PIXELNR_SHIFT) - 1));
}
constexpr uint64_t toaTotPacket(uint64_t pixelIndex, uint64_t toa, uint64_t uftoaStop,
                                uint64_t uftoaStart, uint64_t ftoaRise, uint64_t ftoaFall,
                                uint64_t tot, bool pileup) {
  return pixelPacket(pixelIndex, (toa & 0xFFFF) << 30 | (uftoaStop & 15) << 26 |
                                     (uftoaStart & 15) << 22 | (ftoaRise & 31) << 17 |
                                     (ftoaFall & 31) << 12 | (tot & 0x7FF) << 1 | uint64_t(pileup));
}
constexpr uint64_t controlPacket(bool top, uint64_t type, uint64_t timer) {
  return uint64_t(top) << 63 | (type & 0xFF) << 55 | (timer & TIMER_VALUE_MASK);
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
                      uint16_t(packetTot(w)),
                      (w & 1) != 0,
                      uint32_t(packetPc(w)),
                      packetTimer(w)};
}

// The pixel number within the EoC block (data packets).
constexpr uint64_t packetPixelNumber(uint64_t w) {
  return bitField(w, 54, 46);
}

// ---- Frame markers -----------------------------------------------------------
// FRAME_START, FRAME_END, SEGMENT_START and SEGMENT_END carry the segment
// address in bits 54..52 and the readout mode in bits 51..50; bits 48..0
// of a genuine FRAME_START or SEGMENT_START are zero.
constexpr uint64_t markerSegmentAddr(uint64_t w) {
  return bitField(w, 54, 52);
}
constexpr uint64_t markerReadoutMode(uint64_t w) {
  return bitField(w, 51, 50);
}
constexpr bool markerIsGenuine(uint64_t w) {
  return bitField(w, 48, 0) == 0;
}

// ---- Test-generator packets ----------------------------------------------------
// The test generator counts in a pixel packet's type byte (as the EoC),
// pixel-number and ToA fields and fills the low 30 bits with TESTGEN_FIXED;
// the chip-half bit is not part of the pattern. Its heartbeat, type
// TESTGEN_HEARTBEAT, counts in bits 53..0.
constexpr uint64_t PACKET_TOP_BIT = uint64_t(1) << 63;

// The bottom-half word of the given counters. Each value must fit its
// field (8, 9 and 16 bits); a value of 256 for the EoC lands on the half bit.
constexpr uint64_t testGenWord(uint64_t eoc, uint64_t pixnr, uint64_t toa) {
  return eoc << 55 | pixnr << 46 | toa << 30 | TESTGEN_FIXED;
}
// What a word carries where the fixed pattern belongs.
constexpr uint64_t testGenFixed(uint64_t w) {
  return w & TESTGEN_FIXED_MASK;
}
constexpr bool isTestGenHeartbeat(uint64_t w) {
  return packetType(w) == TESTGEN_HEARTBEAT;
}
constexpr uint64_t testGenHeartbeatCount(uint64_t w) {
  return bitField(w, 53, 0);
}
// The 18-bit counter window from bit 46 that the display shows, without
// packet bit 60.
constexpr uint64_t testGenCounter46(uint64_t w) {
  return (w >> 46) & 0x3BFFF;
}
// The 16-bit counter from bit 30 (where a pixel packet has its ToA).
constexpr uint64_t testGenCounter30(uint64_t w) {
  return bitField(w, 45, 30);
}

// ---- Frame data ------------------------------------------------------------------
// A packet of a frame segment carries pixel values instead of fields: eight
// 8-bit values, the odd bytes from the top down, then the even ones; or
// four 16-bit values, each the pair of bytes two apart with the upper one
// the high byte (bytes 7:5, 3:1, 6:4, 2:0).
constexpr uint64_t frame8Value(uint64_t w, int i) {
  constexpr int READOUT_BYTES[8] = {7, 5, 3, 1, 6, 4, 2, 0};
  const int b = READOUT_BYTES[i];
  return bitField(w, 8 * b + 7, 8 * b);
}
constexpr uint64_t frame16Value(uint64_t w, int i) {
  constexpr int HIGH_BYTE[4] = {7, 3, 6, 2};
  const int b = HIGH_BYTE[i];
  return bitField(w, 8 * b + 7, 8 * b) << 8 | bitField(w, 8 * b - 9, 8 * b - 16);
}

// ---- Pelvan framing ------------------------------------------------------------
// The header word of a Pelvan block: sequence numbers in bits 47..43 and
// 15..11, the 5-bit link number in bits 10..6; the trailer: the payload
// count in bits 9..0.
constexpr uint64_t pelvanSeqHigh(uint64_t header) {
  return bitField(header, 47, 43);
}
constexpr uint64_t pelvanSeqLow(uint64_t header) {
  return bitField(header, 15, 11);
}
constexpr uint64_t pelvanLink(uint64_t header) {
  return bitField(header, 10, 6);
}
constexpr uint64_t pelvanPayload(uint64_t trailer) {
  return bitField(trailer, 9, 0);
}

// In a stream of Pelvan blocks, word n (counted from 1) is the block's
// header when n % 128 == 1 and its trailer when n % 128 == 0; zero words
// fill blocks. None of them is a packet.
constexpr bool notAPelvanPacket(uint64_t n, uint64_t w) {
  return (n & (PELVAN_BLOCK_WORDS - 1)) <= 1 || w == 0;
}

// Names of the control type codes 224..255; the empty ones have no name.
inline constexpr std::array<const char*, 32> CONTROL_TYPE_NAMES = {
    "HEARTBEAT",   "SHUTTER_RISE", "SHUTTER_FALL",   "T0_SYNC",
    "SIGNAL_RISE", "SIGNAL_FALL",  nullptr,          nullptr,
    nullptr,       nullptr,        "CTRL_DATA_TEST", nullptr,
    nullptr,       nullptr,        nullptr,          nullptr,
    "FRAME_START", "FRAME_END",    "SEGMENT_START",  "SEGMENT_END",
    nullptr,       nullptr,        nullptr,          nullptr,
    nullptr,       nullptr,        nullptr,          nullptr,
    nullptr,       nullptr,        nullptr,          "MORVEN_EMPTY_PACKET"};

// The name of a control type code; null for a pixel type or a code without
// one.
constexpr const char* controlTypeName(uint64_t type) {
  if (type < VX7_EOC_MAX_COLS || type >= VX7_EOC_MAX_COLS + CONTROL_TYPE_NAMES.size())
    return nullptr;
  return CONTROL_TYPE_NAMES[type - VX7_EOC_MAX_COLS];
}

// The type of a packet as the display and the reports name it: "DATA" for a
// pixel type, the control type's name, or "????".
constexpr const char* packetTypeName(uint64_t type) {
  if (type <= VX7_EOC_MAX_COLNR) return "DATA";
  const char* name = controlTypeName(type);
  return name != nullptr ? name : "????";
}

// How the words of the stream become packets: word reversal (a swap of the
// 32-bit halves) before byte reversal, and in a stream of Pelvan blocks the
// headers, trailers and fill words left out by their place in the stream.
struct PacketForm {
  bool reverseWords;
  bool reverseBytes;
  bool pelvan;
};

}  // namespace morven

#endif  // MORVEN_PACKET_H
