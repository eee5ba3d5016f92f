// The register records of a chip-configuration payload: each a
// little-endian 32-bit address, a 32-bit count of value bytes, then the
// value bytes, filled up to a multiple of 8. One walk for every report of
// them (the listing, the JSON report, the Python module), pure, no I/O.
#ifndef MORVEN_REGISTERRECORDS_H
#define MORVEN_REGISTERRECORDS_H

#include <cstdint>

#include "format/ByteOrder.h"

namespace morven {

struct RegisterRecord {
  // Fewer than 8 bytes were left for the record's head: only `shown` bytes
  // from `bytes` on, and no address or count.
  bool headCut;
  uint32_t address;
  uint64_t length;             // the value bytes the record declares
  uint64_t shown;              // the value bytes the payload holds: less than length when cut
  const unsigned char* bytes;  // the value bytes (the cut head's bytes when headCut)

  bool cut() const { return headCut || shown < length; }
  // The value of a record of at most 8 bytes, little-endian.
  uint64_t value() const {
    uint64_t v = 0;
    for (uint64_t i = shown; i > 0; --i) v = (v << 8) | bytes[i - 1];
    return v;
  }
};

// Calls f(record) for each record of the payload, in order; a cut record
// is the last.
template <typename F>
void forEachRegisterRecord(const unsigned char* payload, uint64_t size, F f) {
  uint64_t offset = 0;
  while (offset < size) {
    const unsigned char* head = payload + offset;
    if (size - offset < 8) {
      f(RegisterRecord{true, 0, size - offset, size - offset, head});
      return;
    }
    const uint64_t n = loadLE32(head + 4);
    const uint64_t avail = size - offset - 8;
    f(RegisterRecord{false, loadLE32(head), n, n < avail ? n : avail, head + 8});
    const uint64_t recordBytes = 8 + (n + 7) / 8 * 8;
    if (n > avail || recordBytes > size - offset) return;
    offset += recordBytes;
  }
}

}  // namespace morven

#endif  // MORVEN_REGISTERRECORDS_H
