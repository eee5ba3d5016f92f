// Reports over what the chunk walk gathered: the register listing of a chip
// configuration chunk and the histogram of data-chunk sizes.
#include <algorithm>
#include <iomanip>
#include <ostream>
#include <vector>

#include "ByteOrder.h"
#include "DataInspector.h"
#include "Format.h"

namespace morven {

namespace {

// Upper-case hexadecimal, zero-filled to at least width digits: the register
// listing alone prints its digits this way.
std::string upperHex(uint64_t v, int width) {
  std::string s = hexString(v, width);
  for (char& c : s) {
    if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
  }
  return s;
}

// Value bytes of a register, 32 to a line; continuation lines are indented
// by five blanks so that the bytes stand under those of the first line.
void listValueBytes(std::ostream& out, const unsigned char* bytes, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    if (i != 0 && i % 32 == 0) out << std::endl << "     ";
    out << ' ' << upperHex(bytes[i], 2);
  }
}

}  // namespace

void DataInspector::chunkSizesHistogram(std::ostream& out, int bins) {
  // The bins need only the largest size, so the list is scanned rather than
  // sorted. Without any data chunk the histogram is drawn as if the largest
  // size were 0: a bin width of 1, every bin empty.
  uint64_t max = 0;
  for (uint64_t s : _chunkSizes) max = std::max(max, s);
  uint64_t nbins = uint64_t(std::max(bins, 1));
  uint64_t width = (max + nbins - 1) / nbins + 1;
  std::vector<uint64_t> counts(nbins, 0);
  for (uint64_t s : _chunkSizes) ++counts[s / width];

  out << "Chunk Size   Bin Count" << std::endl;
  out << "----------   ---------" << std::endl;
  for (uint64_t i = 0; i < nbins; ++i) {
    out << decString(i * width, 9) << "      " << decString(counts[i], 6) << std::endl;
  }
  out << decString(nbins * width, 9) << std::endl;
  out << std::endl;
}

void DataInspector::displayVx7Config(std::ostream& out) {
  if (_configBytes.empty()) return;
  const unsigned char* bytes = _configBytes.data();
  const uint64_t size = _configBytes.size();
  out << std::hex << std::uppercase << std::setfill('0');
  uint64_t offset = 0;
  while (offset < size) {
    out << std::endl;
    if (size - offset < 8) {
      // A record head cut off by the end of the payload.
      out << "(### cut record:";
      listValueBytes(out, bytes + offset, size - offset);
      out << ")";
      break;
    }
    uint32_t address = loadLE32(bytes + offset);
    uint64_t n = loadLE32(bytes + offset + 4);
    out << upperHex(address, 4) << ":";
    uint64_t avail = size - offset - 8;
    if (n > avail) {
      // Value bytes cut off by the end of the payload: show what is there.
      listValueBytes(out, bytes + offset + 8, avail);
      out << " (### cut: " << std::dec << avail << " of " << n << " bytes)" << std::hex;
      break;
    }
    listValueBytes(out, bytes + offset + 8, n);
    if (n <= 8) {
      uint64_t value = 0;
      for (uint64_t i = n; i > 0; --i) value = (value << 8) | bytes[offset + 8 + i - 1];
      if (n <= 2) out << "      ";
      out << "   (0x" << upperHex(value, int(std::max<uint64_t>(2 * n, 1))) << ")";
    }
    uint64_t recordBytes = 8 + (n + 7) / 8 * 8;
    if (recordBytes > size - offset) break;
    offset += recordBytes;
  }
  out << std::endl;
  out << std::dec << std::setfill(' ') << std::nouppercase;
}

}  // namespace morven
