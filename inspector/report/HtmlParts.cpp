#include "report/HtmlParts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace morven::html {

namespace {

// Viridis at nine points from 0 to 1; the palette interpolates between them.
constexpr uint8_t VIRIDIS[9][3] = {{0x44, 0x01, 0x54}, {0x47, 0x2d, 0x7b}, {0x3b, 0x52, 0x8b},
                                   {0x2c, 0x72, 0x8e}, {0x21, 0x91, 0x8c}, {0x28, 0xae, 0x80},
                                   {0x5e, 0xc9, 0x62}, {0xad, 0xdc, 0x30}, {0xfd, 0xe7, 0x25}};
constexpr uint8_t NO_HITS[3] = {0xee, 0xee, 0xee};

uint32_t crc32(const std::string& bytes, size_t from) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = from; i < bytes.size(); ++i) c = table[(c ^ uint8_t(bytes[i])) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void put32(std::string& s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += char((v >> shift) & 0xFF);
}

// A PNG chunk: length, type, data, CRC of type and data.
void pngChunk(std::string& png, const char* type, const std::string& data) {
  put32(png, uint32_t(data.size()));
  const size_t start = png.size();
  png += type;
  png += data;
  put32(png, crc32(png, start));
}

// A zlib stream of stored deflate blocks.
std::string storedZlib(const std::string& raw) {
  std::string z = "\x78\x01";
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    z += char(at + n == raw.size() ? 1 : 0);
    z += char(n & 0xFF), z += char(n >> 8);
    z += char(~n & 0xFF), z += char((~n >> 8) & 0xFF);
    z.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  put32(z, (b << 16) | a);
  return z;
}

double niceStep(double range, int n) {
  const double raw = range / std::max(n, 1);
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * p >= raw) return m * p;
  }
  return 10 * p;
}

}  // namespace

std::array<uint8_t, 3> paletteColour(int i) {
  if (i <= 0) return {NO_HITS[0], NO_HITS[1], NO_HITS[2]};
  const double t = double(i - 1) / 254.0 * 8.0;
  const int k = std::min(int(t), 7);
  const double f = t - k;
  std::array<uint8_t, 3> c{};
  for (int j = 0; j < 3; ++j) {
    c[j] = uint8_t(std::lround(VIRIDIS[k][j] + f * (VIRIDIS[k + 1][j] - VIRIDIS[k][j])));
  }
  return c;
}

int colourIndex(uint64_t count, uint64_t most, bool logScale) {
  if (count == 0) return 0;
  if (most <= 1) return 255;
  const double f =
      logScale ? std::log(double(count)) / std::log(double(most)) : double(count) / double(most);
  return 1 + int(std::lround(254.0 * std::clamp(f, 0.0, 1.0)));
}

std::string escape(const std::string& text) {
  std::string s;
  for (char c : text) {
    switch (c) {
      case '&':
        s += "&amp;";
        break;
      case '<':
        s += "&lt;";
        break;
      case '>':
        s += "&gt;";
        break;
      case '"':
        s += "&quot;";
        break;
      case '\'':
        s += "&#39;";
        break;
      default:
        s += c;
    }
  }
  return s;
}

std::string base64(const std::string& bytes) {
  static const char* const DIGITS =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  s.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= uint8_t(bytes[i + 2]);
    s += DIGITS[v >> 18], s += DIGITS[(v >> 12) & 63];
    s += i + 1 < bytes.size() ? DIGITS[(v >> 6) & 63] : '=';
    s += i + 2 < bytes.size() ? DIGITS[v & 63] : '=';
  }
  return s;
}

std::string palettePng(const std::vector<uint8_t>& indexes, uint32_t width, uint32_t height) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  put32(header, width);
  put32(header, height);
  header += std::string("\x08\x03\x00\x00\x00", 5);  // 8 bits, palette
  pngChunk(png, "IHDR", header);
  std::string palette;
  for (int i = 0; i < 256; ++i) {
    for (uint8_t c : paletteColour(i)) palette += char(c);
  }
  pngChunk(png, "PLTE", palette);
  std::string raw;
  raw.reserve(size_t(height) * (width + 1));
  for (uint32_t row = 0; row < height; ++row) {
    raw += '\0';  // no filter
    raw.append(reinterpret_cast<const char*>(indexes.data()) + size_t(row) * width, width);
  }
  pngChunk(png, "IDAT", storedZlib(raw));
  pngChunk(png, "IEND", "");
  return png;
}

std::vector<double> niceTicks(double lo, double hi, int n) {
  std::vector<double> ticks;
  if (!(hi > lo)) return {lo};
  const double step = niceStep(hi - lo, n);
  for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) {
    ticks.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
  }
  return ticks;
}

std::string tickLabel(double v) {
  char text[32];
  if (std::abs(v) >= 1e6) {
    std::snprintf(text, sizeof text, "%.3g", v);
  } else {
    std::snprintf(text, sizeof text, "%.10g", v);
  }
  return text;
}

}  // namespace morven::html
