// The packet streams of mvgen. Each stream is a small state machine that
// hands out one 64-bit packet at a time; control packets that belong
// together (a heartbeat from each chip half, a shutter edge from each half)
// wait in a short queue.
#include "Content.h"

#include <algorithm>
#include <array>
#include <utility>

#include "Random.h"
#include "format/MorvenFormat.h"
#include "format/Packet.h"

namespace mvgen {
namespace {

using morven::N_PIXELS;

using morven::IDLE_WORD;
using morven::TESTGEN_FIXED;

constexpr int64_t COLUMNS = int64_t(morven::CHIP_COLUMNS);
constexpr int64_t ROWS = int64_t(morven::CHIP_ROWS);
constexpr uint64_t SEGMENT_PACKETS = 1792;

uint64_t controlWord(uint64_t type, bool top, uint64_t value) {
  return morven::controlPacket(top, type, value);
}

// Bits 63..46 of the data packet of the chip pixel in column x (0..447) and
// row y (0..511), in place.
uint64_t pixelBits(int64_t x, int64_t y) {
  return morven::pixelPacket(morven::pixelIndexAt(uint64_t(x), uint64_t(y)), 0);
}

// The chip pixel of position index (EoC x 512 + pixel number) of a half.
void pixelPosition(bool top, uint64_t index, int64_t& x, int64_t& y) {
  const morven::PixelPlace p = morven::pixelPlace((top ? morven::PIXEL_INDEX_TOP_HALF : 0) | index);
  x = p.x;
  y = p.y;
}

// Control packets that go out back to back.
class Pending {
 public:
  void push(uint64_t w) {
    if (_count < _words.size()) _words[_count++] = w;
  }
  bool empty() const { return _head == _count; }
  uint64_t pop() {
    const uint64_t w = _words[_head++];
    if (_head == _count) _head = _count = 0;
    return w;
  }
  void pushBothHalves(uint64_t type, uint64_t value) {
    push(controlWord(type, false, value));
    push(controlWord(type, true, value));
  }

 private:
  std::array<uint64_t, 8> _words{};
  size_t _head = 0;
  size_t _count = 0;
};

// Counts down packets to the next IDLE word that the readout slips in.
class IdleClock {
 public:
  IdleClock(Random& random, uint64_t meanSpacing) : _random(random), _spread(2 * meanSpacing) {
    rewind();
  }
  bool tick() {
    if (--_left != 0) return false;
    rewind();
    return true;
  }

 private:
  void rewind() { _left = 1 + _random.below(_spread); }
  Random& _random;
  uint64_t _spread;
  uint64_t _left = 1;
};

enum class Source { Spot, Hot, Noise };

struct Hit {
  uint64_t bits;  // packet bits 63..46
  Source source;
};

// Where the hits of a run land: a beam spot of roughly Gaussian profile, a
// few hot pixels that fire far more often than their neighbours, and a thin
// uniform background over the whole 448 x 512 matrix.
class HitMap {
 public:
  explicit HitMap(Random& random)
      : _spotX(int64_t(120 + random.below(208))),
        _spotY(int64_t(156 + random.below(200))),
        _sigmaX(int64_t(18 + random.below(24))),
        _sigmaY(int64_t(18 + random.below(24))) {
    for (Point& p : _hot) p = {int64_t(random.below(COLUMNS)), int64_t(random.below(ROWS))};
  }

  Hit pick(Random& random) const {
    const uint64_t u = random.next();
    const uint64_t share = u & 1023;
    if (share < HOT_SHARE) {
      const Point& p = _hot[(u >> 10) % _hot.size()];
      return {pixelBits(p.x, p.y), Source::Hot};
    }
    if (share >= HOT_SHARE + NOISE_SHARE) {
      const int64_t x = _spotX + spread(u >> 16, _sigmaX);
      const int64_t y = _spotY + spread(random.next(), _sigmaY);
      if (x >= 0 && x < COLUMNS && y >= 0 && y < ROWS) return {pixelBits(x, y), Source::Spot};
    }
    const int64_t x = int64_t(((u >> 10) & 0xFFFF) * COLUMNS >> 16);
    const int64_t y = int64_t(((u >> 26) & 0xFFFF) * ROWS >> 16);
    return {pixelBits(x, y), Source::Noise};
  }

  // Expected exposure of a pixel, 0..1024: the beam spot with a Lorentzian
  // profile (1024 in its centre, half that at one sigma), 1024 for a hot pixel.
  uint64_t brightness(int64_t x, int64_t y) const {
    for (const Point& p : _hot) {
      if (p.x == x && p.y == y) return 1024;
    }
    const int64_t dx = x - _spotX;
    const int64_t dy = y - _spotY;
    const int64_t q = dx * dx * 1024 / (_sigmaX * _sigmaX) + dy * dy * 1024 / (_sigmaY * _sigmaY);
    return uint64_t(1024 * 1024 / (1024 + q));
  }

 private:
  struct Point {
    int64_t x;
    int64_t y;
  };
  static constexpr uint64_t HOT_SHARE = 3;     // of 1024 hits
  static constexpr uint64_t NOISE_SHARE = 80;  // of 1024 hits

  // An offset of about Gaussian spread sigma, from the low 48 bits of r: the
  // sum of three uniform 16-bit numbers, doubled and centred, has a spread
  // of 65536. Rounded to the nearest pixel, so that no offset gets more than
  // its share.
  static int64_t spread(uint64_t r, int64_t sigma) {
    const int64_t sum =
        2 * int64_t((r & 0xFFFF) + (r >> 16 & 0xFFFF) + (r >> 32 & 0xFFFF)) - 3 * 65535;
    return (sum * sigma + 32768) >> 16;
  }

  int64_t _spotX;
  int64_t _spotY;
  int64_t _sigmaX;
  int64_t _sigmaY;
  std::array<Point, 6> _hot{};
};

// A ToA/ToT run. The shutter opens and closes over and over; while it is
// open, hits arrive at random intervals and carry the low 16 bits of the
// readout clock as their ToA. Both halves send a heartbeat with the clock
// every HEARTBEAT_TICKS and mark every shutter edge; now and then the
// readout slips in an IDLE word.
class ToaTotContent final : public Content {
 public:
  explicit ToaTotContent(uint64_t seed)
      : _random(seed), _map(_random), _idle(_random, 5000), _time(_random.below(1 << 20)) {
    _nextHeartbeat = _time;
    _nextEdge = _time + 100;
  }

  void fill(uint64_t* out, size_t count, uint64_t) override {
    for (size_t i = 0; i < count; ++i) out[i] = nextWord();
  }

 private:
  static constexpr uint64_t HEARTBEAT_TICKS = 1 << 16;
  static constexpr uint64_t SHUTTER_OPEN_TICKS = 150000;
  static constexpr uint64_t SHUTTER_CLOSED_TICKS = 20000;

  uint64_t nextWord() {
    for (;;) {
      if (!_pending.empty()) return _pending.pop();
      if (_time >= _nextHeartbeat) {
        _pending.pushBothHalves(morven::VX7_EOC_HEARTBEAT, _time);
        _nextHeartbeat += HEARTBEAT_TICKS;
        continue;
      }
      if (_time >= _nextEdge) {
        _pending.pushBothHalves(
            _shutterOpen ? morven::VX7_EOC_SHUTTER_FALL : morven::VX7_EOC_SHUTTER_RISE, _time);
        _shutterOpen = !_shutterOpen;
        _nextEdge = _time + (_shutterOpen ? SHUTTER_OPEN_TICKS : SHUTTER_CLOSED_TICKS);
        continue;
      }
      if (!_shutterOpen) {
        _time = std::min(_nextHeartbeat, _nextEdge);
        continue;
      }
      if (_idle.tick()) return IDLE_WORD;
      return hit();
    }
  }

  uint64_t hit() {
    const Hit h = _map.pick(_random);
    const uint64_t r = _random.next();
    _time += 1 + (r & 15);
    const uint64_t toa = _time & 0xFFFF;
    const uint64_t ftoaRise = r >> 4 & 31;
    const uint64_t ftoaFall = r >> 9 & 31;
    const uint64_t uftoaStart = r >> 14 & 15;
    const uint64_t uftoaStop = r >> 18 & 15;
    const uint64_t tot = 8 + (r >> 22 & 511) + (r >> 31 & 255);
    const uint64_t pileup = (r >> 39 & 1023) == 0 ? 1 : 0;
    return morven::toaTotPacket(morven::packetPixelIndex(h.bits), toa, uftoaStop, uftoaStart,
                                ftoaRise, ftoaFall, tot, pileup != 0);
  }

  Random _random;
  HitMap _map;
  IdleClock _idle;
  Pending _pending;
  uint64_t _time;
  uint64_t _nextHeartbeat = 0;
  uint64_t _nextEdge = 0;
  bool _shutterOpen = false;
};

// A counting run: per exposure both halves send a heartbeat and the shutter
// edges, then the pixels that counted are read out, one packet per pixel
// with its 24-bit count (hot pixels close to saturation).
class Pc24Content final : public Content {
 public:
  explicit Pc24Content(uint64_t seed)
      : _random(seed), _map(_random), _idle(_random, 5000), _time(_random.below(1 << 20)) {}

  void fill(uint64_t* out, size_t count, uint64_t) override {
    for (size_t i = 0; i < count; ++i) out[i] = nextWord();
  }

 private:
  static constexpr uint64_t EXPOSURE_TICKS = 400000;
  static constexpr uint64_t READOUT_TICKS = 100000;

  uint64_t nextWord() {
    for (;;) {
      if (!_pending.empty()) return _pending.pop();
      if (_readoutLeft == 0) {
        _pending.pushBothHalves(morven::VX7_EOC_HEARTBEAT, _time);
        _pending.pushBothHalves(morven::VX7_EOC_SHUTTER_RISE, _time);
        _time += EXPOSURE_TICKS;
        _pending.pushBothHalves(morven::VX7_EOC_SHUTTER_FALL, _time);
        _time += READOUT_TICKS;
        _readoutLeft = 2000 + _random.below(3000);
        continue;
      }
      if (_idle.tick()) return IDLE_WORD;
      --_readoutLeft;
      const Hit h = _map.pick(_random);
      uint64_t count = 0;
      switch (h.source) {
        case Source::Spot:
          count = 200 + _random.below(3000);
          break;
        case Source::Hot:
          count = 0xF00000 + _random.below(0x100000);
          break;
        case Source::Noise:
          count = 1 + _random.below(40);
          break;
      }
      return h.bits | count;
    }
  }

  Random _random;
  HitMap _map;
  IdleClock _idle;
  Pending _pending;
  uint64_t _time;
  uint64_t _readoutLeft = 0;
};

// Frame readout: per frame a shutter rise and fall, FRAME_START, the
// segments of the bottom half and then of the top half, FRAME_END. A
// segment is SEGMENT_START, 1792 packets of raw pixel values in the order
// of the pixel-counter index (EoC x 512 + pixel number), SEGMENT_END. With
// 8-bit values a segment holds 28 EoC blocks and a half 8 segments; with
// 16-bit values 14 blocks and 16 segments, whose address (3 bits) counts
// modulo 8.
class FrameContent final : public Content {
 public:
  FrameContent(uint64_t seed, bool sixteenBits)
      : _random(seed),
        _sixteen(sixteenBits),
        _valuesPerPacket(sixteenBits ? 4 : 8),
        _segmentsPerHalf(N_PIXELS / (SEGMENT_PACKETS * _valuesPerPacket)),
        _time(_random.below(1 << 20)),
        _image(2 * N_PIXELS) {
    const HitMap map(_random);
    for (uint64_t half = 0; half < 2; ++half) {
      for (uint64_t index = 0; index < N_PIXELS; ++index) {
        int64_t x = 0;
        int64_t y = 0;
        pixelPosition(half == 1, index, x, y);
        const uint64_t b = map.brightness(x, y);
        _image[half * N_PIXELS + index] =
            uint16_t(_sixteen ? 400 + b * 60000 / 1024 : 16 + b * 220 / 1024);
      }
    }
  }

  void fill(uint64_t* out, size_t count, uint64_t) override {
    for (size_t i = 0; i < count; ++i) out[i] = nextWord();
  }

 private:
  enum class Phase { Rise, Fall, FrameStart, Segments, FrameEnd };
  static constexpr uint64_t EXPOSURE_TICKS = 300000;
  static constexpr uint64_t FRAME_TICKS = 1000000;

  static uint64_t marker(uint64_t type, bool top, uint64_t segmentAddress) {
    return morven::controlPacket(top, type, (segmentAddress & 7) << 52);
  }

  uint64_t nextWord() {
    uint64_t w = 0;
    switch (_phase) {
      case Phase::Rise:
        w = controlWord(morven::VX7_EOC_SHUTTER_RISE, false, _time);
        _phase = Phase::Fall;
        break;
      case Phase::Fall:
        w = controlWord(morven::VX7_EOC_SHUTTER_FALL, false, _time + EXPOSURE_TICKS);
        _phase = Phase::FrameStart;
        break;
      case Phase::FrameStart:
        w = marker(morven::VX7_EOC_FRAME_START, false, 0);
        _segment = 0;
        _step = 0;
        _phase = Phase::Segments;
        break;
      case Phase::Segments:
        w = segmentWord();
        break;
      case Phase::FrameEnd:
        w = marker(morven::VX7_EOC_FRAME_END, false, 0);
        _time += FRAME_TICKS;
        _phase = Phase::Rise;
        break;
    }
    return w;
  }

  uint64_t segmentWord() {
    const bool top = _segment >= _segmentsPerHalf;
    const uint64_t inHalf = _segment % _segmentsPerHalf;
    uint64_t w = 0;
    if (_step == 0) {
      w = marker(morven::VX7_EOC_SEGMENT_START, top, inHalf);
    } else if (_step <= SEGMENT_PACKETS) {
      const uint64_t first =
          (top ? N_PIXELS : 0) + (inHalf * SEGMENT_PACKETS + _step - 1) * _valuesPerPacket;
      w = _sixteen ? values16(&_image[first]) : values8(&_image[first]);
    } else {
      w = marker(morven::VX7_EOC_SEGMENT_END, top, inHalf);
    }
    if (++_step == SEGMENT_PACKETS + 2) {
      _step = 0;
      if (++_segment == 2 * _segmentsPerHalf) _phase = Phase::FrameEnd;
    }
    return w;
  }

  // Eight 8-bit values; value k goes to the byte that the readout uses for
  // pixel k: bytes 7, 5, 3, 1, 6, 4, 2, 0.
  uint64_t values8(const uint16_t* base) {
    static constexpr int SHIFTS[8] = {56, 40, 24, 8, 48, 32, 16, 0};
    const uint64_t r = _random.next();
    uint64_t w = 0;
    for (int k = 0; k < 8; ++k) {
      const int64_t v = std::clamp<int64_t>(base[k] + int64_t(r >> (8 * k) & 15) - 8, 0, 255);
      w |= uint64_t(v) << SHIFTS[k];
    }
    return w;
  }

  // Four 16-bit values, high byte first: value k in bytes 7:5, 3:1, 6:4, 2:0.
  uint64_t values16(const uint16_t* base) {
    static constexpr int HIGH[4] = {56, 24, 48, 16};
    static constexpr int LOW[4] = {40, 8, 32, 0};
    const uint64_t r = _random.next();
    uint64_t w = 0;
    for (int k = 0; k < 4; ++k) {
      const int64_t v = std::clamp<int64_t>(base[k] + int64_t(r >> (16 * k) & 255) - 128, 0, 65535);
      w |= (uint64_t(v) >> 8) << HIGH[k] | (uint64_t(v) & 0xFF) << LOW[k];
    }
    return w;
  }

  Random _random;
  bool _sixteen;
  uint64_t _valuesPerPacket;
  uint64_t _segmentsPerHalf;
  uint64_t _time;
  std::vector<uint16_t> _image;  // expected value per half and pixel-counter index
  Phase _phase = Phase::Rise;
  uint64_t _segment = 0;
  uint64_t _step = 0;
};

// Hands out the injected error at a position, if there is one; positions
// are asked for in increasing order.
class ErrorCursor {
 public:
  explicit ErrorCursor(std::vector<InjectedError> errors) : _errors(std::move(errors)) {}
  const InjectedError* at(uint64_t position) {
    while (_next < _errors.size() && _errors[_next].position < position) ++_next;
    if (_next < _errors.size() && _errors[_next].position == position) return &_errors[_next];
    return nullptr;
  }

 private:
  std::vector<InjectedError> _errors;
  size_t _next = 0;
};

// The test generator: each link walks through the 512 pixel numbers of an
// EoC block, then on to the next block, wrapping inside its own group of
// 224 / links blocks, with a ToA that goes up by one per packet and the
// fixed pattern in bits 29..0. The links take turns packet by packet. Once
// every link has sent its first packet, heartbeats (a counter from 0 in
// bits 53..0 of a type-0xFF word) and idle words come in between.
//
// Heartbeats and idle words are placed by the number of pixel packets sent,
// never by an injected error, so a stream with errors has them in the same
// places as the same stream without, unless an error position lands on one
// of them: then the error packet takes the place and the other word follows.
class TestGenContent final : public Content {
 public:
  TestGenContent(uint64_t seed, int links, std::vector<InjectedError> errors)
      : _random(seed), _links(links), _errors(std::move(errors)) {
    const uint64_t group = 224 / uint64_t(links);
    for (int k = 0; k < links; ++k) {
      Link& l = _link[k];
      l.groupStart = uint64_t(k) * group;
      l.group = group;
      l.eoc = l.groupStart + _random.below(group);
      l.pixnr = _random.below(512);
      l.toa = _random.below(65536);
    }
    _nextHeartbeatAt = uint64_t(links) + heartbeatSpacing();
    _idleAt = uint64_t(links) + idleSpacing();
  }

  void fill(uint64_t* out, size_t count, uint64_t firstNumber) override {
    for (size_t i = 0; i < count; ++i) {
      const InjectedError* e = _errors.at(firstNumber + i);
      if (e == nullptr && _pixels >= _nextHeartbeatAt) {
        out[i] = controlWord(morven::TESTGEN_HEARTBEAT, false, 0) | (_heartbeat++ & HEARTBEAT_MASK);
        _nextHeartbeatAt = _pixels + heartbeatSpacing();
      } else if (e == nullptr && _pixels >= _idleAt) {
        out[i] = IDLE_WORD;
        _idleAt = _pixels + idleSpacing();
      } else {
        out[i] = pixel(e);
      }
    }
  }

 private:
  static constexpr uint64_t HEARTBEAT_MASK = (1ULL << 54) - 1;

  struct Link {
    uint64_t groupStart = 0;
    uint64_t group = 224;
    uint64_t eoc = 0;
    uint64_t pixnr = 0;
    uint64_t toa = 0;
  };

  uint64_t heartbeatSpacing() { return 1500 + _random.below(1000); }
  uint64_t idleSpacing() { return 1 + _random.below(6000); }

  static void advance(Link& l) {
    l.toa = (l.toa + 1) & 0xFFFF;
    l.pixnr = (l.pixnr + 1) & 511;
    if (l.pixnr == 0 && ++l.eoc == l.groupStart + l.group) l.eoc = l.groupStart;
  }

  uint64_t pixel(const InjectedError* e) {
    Link& l = _link[_current];
    if (e != nullptr && e->kind == ErrorKind::Missing) advance(l);
    if (e != nullptr && e->kind == ErrorKind::Toa) l.toa = (l.toa + TOA_JUMP) & 0xFFFF;
    const uint64_t fixed =
        e != nullptr && e->kind == ErrorKind::Fixed ? TESTGEN_BAD_FIXED : TESTGEN_FIXED;
    const uint64_t w =
        morven::pixelPacket(morven::pixelIndex(false, l.eoc, l.pixnr), l.toa << 30 | fixed);
    advance(l);
    _current = (_current + 1) % _links;
    ++_pixels;
    return w;
  }

  Random _random;
  int _links;
  ErrorCursor _errors;
  std::array<Link, 8> _link{};
  int _current = 0;
  uint64_t _pixels = 0;  // pixel packets sent so far
  uint64_t _heartbeat = 0;
  uint64_t _nextHeartbeatAt = 0;
  uint64_t _idleAt = 0;
};

// One incrementing 64-bit counter per link, the links taking turns word by
// word; each link starts at a value of its own.
class CounterContent final : public Content {
 public:
  CounterContent(uint64_t seed, int links, std::vector<InjectedError> errors)
      : _links(links), _errors(std::move(errors)) {
    Random random(seed);
    for (int k = 0; k < links; ++k) _value[k] = random.next() >> 16;
  }

  void fill(uint64_t* out, size_t count, uint64_t firstNumber) override {
    for (size_t i = 0; i < count; ++i) {
      const InjectedError* e = _errors.at(firstNumber + i);
      uint64_t& v = _value[_current];
      uint64_t w = 0;
      if (e != nullptr && e->kind == ErrorKind::Missing) ++v;
      if (e != nullptr && e->kind == ErrorKind::Repeat) {
        w = v - 1;
      } else {
        w = v++;
      }
      if (e != nullptr && e->kind == ErrorKind::Corrupt) w ^= CORRUPT_BIT;
      out[i] = w;
      _current = (_current + 1) % _links;
    }
  }

 private:
  int _links;
  ErrorCursor _errors;
  std::array<uint64_t, 8> _value{};
  int _current = 0;
};

}  // namespace

std::unique_ptr<Content> makeContent(Kind kind, uint64_t seed, int links,
                                     std::vector<InjectedError> errors) {
  links = std::clamp(links, 1, 8);
  switch (kind) {
    case Kind::ToaTot:
      return std::make_unique<ToaTotContent>(seed);
    case Kind::Pc24:
      return std::make_unique<Pc24Content>(seed);
    case Kind::Frame8:
      return std::make_unique<FrameContent>(seed, false);
    case Kind::Frame16:
      return std::make_unique<FrameContent>(seed, true);
    case Kind::TestGen:
      return std::make_unique<TestGenContent>(seed, links, std::move(errors));
    case Kind::Counter:
      return std::make_unique<CounterContent>(seed, links, std::move(errors));
  }
  return nullptr;
}

}  // namespace mvgen
