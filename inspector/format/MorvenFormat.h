// Named constants of the MORVEN data file format and of the Vexar7 pixel
// packets. Values only, no logic: the driver and the inspector both include it.
#ifndef MORVEN_MORVENFORMAT_H
#define MORVEN_MORVENFORMAT_H

#include <cstddef>
#include <cstdint>

namespace morven {

// Program version, printed in hexadecimal ("25082700").
constexpr uint32_t VERSION_ID = 0x25082700;

// ---- File header and chunk-header word ------------------------------------
// A file starts with "MORVEN\0\0"; read as a little-endian word it is this.
constexpr uint64_t MVHDR_MAGIC = 0x00004E4556524F4DULL;

// Chunk-header word: type in bits 63..48, stream id in 47..32, payload size
// (in 8-byte words) in 31..0.
constexpr uint64_t MVHDR_CHUNKTYPE_MASK = 0xFFFF000000000000ULL;
constexpr uint64_t MVHDR_CHUNKTYPE_SHIFT = 48;
constexpr uint64_t MVHDR_STREAMID_MASK = 0x0000FFFF00000000ULL;
constexpr uint64_t MVHDR_STREAMID_SHIFT = 32;
constexpr uint64_t MVHDR_CHUNKSIZE_MASK = 0x00000000FFFFFFFFULL;
constexpr uint64_t MVHDR_CHUNKSIZE_SHIFT = 0;

// The chunk type splits into group id (63..60), encoding (59..58) and
// content id (57..48). Every constant below holds its field in place.
constexpr uint64_t MVHDR_GROUPID_MASK = 0xF000000000000000ULL;
constexpr uint64_t MVHDR_ENCODING_MASK = 0x0C00000000000000ULL;
constexpr uint64_t MVHDR_CONTENTID_MASK = 0x03FF000000000000ULL;

constexpr uint64_t MVHDR_GROUPID_DATA = 0x0ULL << 60;
constexpr uint64_t MVHDR_GROUPID_CONFIG = 0x1ULL << 60;
constexpr uint64_t MVHDR_GROUPID_ENVIRON = 0x2ULL << 60;
constexpr uint64_t MVHDR_GROUPID_RES_3 = 0x3ULL << 60;
constexpr uint64_t MVHDR_GROUPID_RES_4 = 0x4ULL << 60;
constexpr uint64_t MVHDR_GROUPID_RES_5 = 0x5ULL << 60;
constexpr uint64_t MVHDR_GROUPID_RES_6 = 0x6ULL << 60;
constexpr uint64_t MVHDR_GROUPID_USER = 0x7ULL << 60;

constexpr uint64_t MVHDR_ENCODING_BINARY = 0x0ULL << 58;
constexpr uint64_t MVHDR_ENCODING_JSON = 0x1ULL << 58;
constexpr uint64_t MVHDR_ENCODING_RESERVED = 0x2ULL << 58;
constexpr uint64_t MVHDR_ENCODING_USER = 0x3ULL << 58;

// Data content ids: the kind of pixel packets a data chunk holds. TOP and
// BOTTOM mark the chip half; the plain ids carry no such mark.
constexpr uint64_t MVHDR_TOATOT_TOP = 0x000ULL << 48;
constexpr uint64_t MVHDR_TOATOT_BOTTOM = 0x001ULL << 48;
constexpr uint64_t MVHDR_TOATOT = 0x002ULL << 48;
constexpr uint64_t MVHDR_PC24_TOP = 0x010ULL << 48;
constexpr uint64_t MVHDR_PC24_BOTTOM = 0x011ULL << 48;
constexpr uint64_t MVHDR_PC24 = 0x012ULL << 48;
constexpr uint64_t MVHDR_FRAME8_TOP = 0x020ULL << 48;
constexpr uint64_t MVHDR_FRAME8_BOTTOM = 0x021ULL << 48;
constexpr uint64_t MVHDR_FRAME8 = 0x022ULL << 48;
constexpr uint64_t MVHDR_FRAME16_TOP = 0x030ULL << 48;
constexpr uint64_t MVHDR_FRAME16_BOTTOM = 0x031ULL << 48;
constexpr uint64_t MVHDR_FRAME16 = 0x032ULL << 48;
constexpr uint64_t MVHDR_DATA_UNKNOWN = 0x3FFULL << 48;

// Configuration and environment content ids.
constexpr uint64_t MVHDR_CONFIG_PIXEL = 0ULL << 48;
constexpr uint64_t MVHDR_CONFIG_CHIP = 1ULL << 48;
constexpr uint64_t MVHDR_CONFIG_BOARD = 2ULL << 48;
constexpr uint64_t MVHDR_CONFIG_RUN = 3ULL << 48;
constexpr uint64_t MVHDR_CONFIG_VX7 = 4ULL << 48;
constexpr uint64_t MVHDR_CONFIG_CTRL = 5ULL << 48;
constexpr uint64_t MVHDR_ENVIRON_SENSORS = 0ULL << 48;

// The named chunk types (group | encoding | content id).
constexpr uint64_t MVHDR_VX7TOATOT_TOP =
    MVHDR_GROUPID_DATA | MVHDR_ENCODING_BINARY | MVHDR_TOATOT_TOP;
constexpr uint64_t MVHDR_VX7TOATOT_BOTTOM =
    MVHDR_GROUPID_DATA | MVHDR_ENCODING_BINARY | MVHDR_TOATOT_BOTTOM;
constexpr uint64_t MVHDR_VX7TOATOT = MVHDR_GROUPID_DATA | MVHDR_ENCODING_BINARY | MVHDR_TOATOT;
constexpr uint64_t MVHDR_VX7PC24 = MVHDR_GROUPID_DATA | MVHDR_ENCODING_BINARY | MVHDR_PC24;
constexpr uint64_t MVHDR_VX7FRAME8 = MVHDR_GROUPID_DATA | MVHDR_ENCODING_BINARY | MVHDR_FRAME8;
constexpr uint64_t MVHDR_VX7FRAME16 = MVHDR_GROUPID_DATA | MVHDR_ENCODING_BINARY | MVHDR_FRAME16;
constexpr uint64_t MVHDR_DATA = MVHDR_GROUPID_DATA | MVHDR_ENCODING_BINARY | MVHDR_DATA_UNKNOWN;
constexpr uint64_t MVHDR_VX7PIXCFG =
    MVHDR_GROUPID_CONFIG | MVHDR_ENCODING_BINARY | MVHDR_CONFIG_PIXEL;
constexpr uint64_t MVHDR_VX7CFG = MVHDR_GROUPID_CONFIG | MVHDR_ENCODING_BINARY | MVHDR_CONFIG_CHIP;
constexpr uint64_t MVHDR_CHIPINFO = MVHDR_GROUPID_CONFIG | MVHDR_ENCODING_JSON | MVHDR_CONFIG_CHIP;
constexpr uint64_t MVHDR_BOARDINFO =
    MVHDR_GROUPID_CONFIG | MVHDR_ENCODING_JSON | MVHDR_CONFIG_BOARD;
constexpr uint64_t MVHDR_RUNINFO = MVHDR_GROUPID_CONFIG | MVHDR_ENCODING_JSON | MVHDR_CONFIG_RUN;

// Size of the read buffer for data-chunk payloads, in bytes (16 MiB).
constexpr uint64_t SUBCHUNKSIZE = 0x1000000;

// ---- Vexar7 pixel packets -------------------------------------------------
// Bit 63: chip half; bits 62..55: type byte (EoC 0..223 or a control code);
// bits 54..46: pixel number of a data packet.
constexpr uint64_t VX7_PIXELNR_MASK = 0x7FFFC00000000000ULL;
constexpr uint64_t VX7_TOPBOTPIXELNR_MASK = 0xFFFFC00000000000ULL;
constexpr uint64_t VX7_PIXELNR_SHIFT = 46;
constexpr uint64_t VX7_EOC_MAX_COLNR = 223;
constexpr uint64_t VX7_EOC_MAX_COLS = 224;
constexpr uint64_t VX7_EOC_HEARTBEAT = 0xE0;
constexpr uint64_t VX7_EOC_SHUTTER_RISE = 0xE1;
constexpr uint64_t VX7_EOC_SHUTTER_FALL = 0xE2;
constexpr uint64_t VX7_EOC_T0_SYNC = 0xE3;
constexpr uint64_t VX7_EOC_SIGNAL_RISE = 0xE4;
constexpr uint64_t VX7_EOC_SIGNAL_FALL = 0xE5;
constexpr uint64_t VX7_EOC_CTRL_DATA_TEST = 0xEA;
constexpr uint64_t VX7_EOC_FRAME_START = 0xF0;
constexpr uint64_t VX7_EOC_FRAME_END = 0xF1;
constexpr uint64_t VX7_EOC_SEGMENT_START = 0xF2;
constexpr uint64_t VX7_EOC_SEGMENT_END = 0xF3;
constexpr uint64_t MORVEN_EMPTY_PACKET = 0xFF;
constexpr uint64_t TESTGEN_HEARTBEAT = 0xFF;
// Pixels per chip half: 224 EoC blocks of 512 pixel numbers.
constexpr uint64_t N_PIXELS = 0x1C000;
// The values a packet field can take, and so the sizes of the tallies over
// them: the type byte, the 18-bit pixel index (half, EoC address, pixel
// number; EoC addresses 224..255 belong to no pixel) and the 16-bit ToA.
constexpr size_t VX7_TYPE_CODES = 0x100;
constexpr size_t VX7_PIXEL_INDEXES = 0x40000;
constexpr size_t VX7_TOA_VALUES = 0x10000;

// ---- Whole words with a meaning of their own ------------------------------
// Told apart from packets by their full 64-bit value: the IDLE word has type
// byte 0 like a data packet of EoC 0, the empty packet carries the code 0xFF
// of a test-generator heartbeat.
constexpr uint64_t IDLE_WORD = 0x000000000000001EULL;
constexpr uint64_t EMPTY_PACKET_WORD = 0xFFFFFFFF00000000ULL;

// The test generator fills the low 30 bits of each pixel packet with this
// constant.
constexpr uint64_t TESTGEN_FIXED = 0x2AEBA954;
constexpr uint64_t TESTGEN_FIXED_MASK = 0x3FFFFFFF;

// Pelvan framing: blocks of 128 words (1 KiB), word 1 the Pelvan header,
// word 128 the trailer, 126 packets between them.
constexpr uint64_t PELVAN_BLOCK_WORDS = 128;

}  // namespace morven

#endif  // MORVEN_MORVENFORMAT_H
