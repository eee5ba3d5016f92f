#include "report/CounterImage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

#include <png++/png.hpp>

#include "format/Packet.h"

namespace morven {

namespace {

constexpr uint32_t IMAGE_WIDTH = 460;
constexpr uint32_t IMAGE_HEIGHT = 512;
// 224 double columns of the chip; then the separator, then the bar.
constexpr uint32_t MATRIX_COLUMNS = 448;
constexpr uint32_t SEPARATOR_END = 450;
constexpr uint16_t WHITE = 0xFFFF;

// Where png++ writes the encoded picture. It keeps the system's error number
// of the first failed write or close, so that a full disk is reported with
// the file name and the system's own text, like a file that cannot be
// created, rather than with the library's generic stream message.
class PngFile {
 public:
  PngFile() = default;
  ~PngFile() { close(); }
  PngFile(const PngFile&) = delete;
  PngFile& operator=(const PngFile&) = delete;

  // Creates or empties the file; false (with errNo set) on failure.
  bool open(const std::string& name) {
    _fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    _errNo = _fd < 0 ? errno : 0;
    return _fd >= 0;
  }
  // Closes the file; false if the open, any write or the close failed.
  bool close() {
    if (_fd >= 0 && ::close(_fd) != 0 && _errNo == 0) _errNo = errno;
    _fd = -1;
    return _errNo == 0;
  }
  int errNo() const { return _errNo; }

  // The stream interface png++ writes through.
  void write(const char* data, size_t n) {
    while (n > 0 && good()) {
      ssize_t w = ::write(_fd, data, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        _errNo = w < 0 ? errno : EIO;
        break;
      }
      data += w;
      n -= size_t(w);
    }
  }
  void flush() {}
  bool good() const { return _fd >= 0 && _errNo == 0; }

 private:
  int _fd = -1;
  int _errNo = 0;
};

using Picture = png::image<png::gray_pixel_16>;

// Writes the picture row by row: grey, 16 bits (big-endian in the file), no
// interlacing. Hit counts gain nothing from PNG's row filters, and the
// strongest compression took ten times as long as the fastest for a file
// hardly smaller, on a picture that is rewritten after every data file: so
// no filter and the fastest level.
void writePicture(PngFile& file, Picture& picture) {
  png::writer<PngFile> writer(file);
  png::image_info info = png::make_image_info<png::gray_pixel_16>();
  info.set_width(IMAGE_WIDTH);
  info.set_height(IMAGE_HEIGHT);
  writer.set_image_info(info);
  png_set_filter(writer.get_png_struct(), PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_level(writer.get_png_struct(), 1);
  writer.write_info();
  if constexpr (std::endian::native == std::endian::little) writer.set_swap();
  for (uint32_t row = 0; row < IMAGE_HEIGHT; ++row) {
    writer.write_row(reinterpret_cast<png::byte*>(picture.get_pixbuf().get_row(row).data()));
  }
  writer.write_end_info();
}

uint16_t brightness(uint64_t count, uint64_t most) {
  return uint16_t(65535.0 * double(count) / double(most));
}

}  // namespace

std::string writeCounterImage(const uint64_t* pixelCounters, const std::string& fileName) {
  // Counters of the EoC addresses 224..255 belong to no pixel: they neither
  // set the scale nor appear in the picture.
  const uint64_t* bottom = pixelCounters;
  const uint64_t* top = bottom + PIXEL_INDEX_TOP_HALF;
  uint64_t most = 0;
  for (uint64_t i = 0; i < N_PIXELS; ++i) most = std::max({most, bottom[i], top[i]});

  // png++ and libpng report their failures (memory, a failed write) as
  // exceptions; the report goes on without the picture either way.
  PngFile file;
  try {
    Picture image(IMAGE_WIDTH, IMAGE_HEIGHT);
    for (uint32_t row = 0; row < IMAGE_HEIGHT; ++row) {
      auto& pixels = image[row];
      for (uint32_t col = MATRIX_COLUMNS; col < SEPARATOR_END; ++col) pixels[col] = WHITE;
      const uint16_t grey = uint16_t(WHITE - 128 * row);
      for (uint32_t col = SEPARATOR_END; col < IMAGE_WIDTH; ++col) pixels[col] = grey;
    }
    if (most > 0) {
      // Chip row 0 is the picture's bottom row and chip row 511 its top.
      for (uint64_t i = 0; i < N_PIXELS; ++i) {
        const PixelPlace b = pixelPlace(i), t = pixelPlace(PIXEL_INDEX_TOP_HALF + i);
        image[IMAGE_HEIGHT - 1 - b.y][b.x] = brightness(bottom[i], most);
        image[IMAGE_HEIGHT - 1 - t.y][t.x] = brightness(top[i], most);
      }
    }
    if (file.open(fileName)) writePicture(file, image);
  } catch (const std::exception& e) {
    // A failed write is told below with the system's reason.
    if (file.errNo() == 0) return std::string("PNG error: ") + e.what();
  }
  if (!file.close()) return "PNG error: " + fileName + ": " + std::strerror(file.errNo());
  return {};
}

}  // namespace morven
