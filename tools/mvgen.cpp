// mvgen: writes synthetic MORVEN data files of Vexar7 pixel packets, for
// trying out and testing mvscan: ToA/ToT, counting and frame runs, and the
// test-generator and counter patterns of the readout (optionally with
// injected errors and Pelvan block framing). The same options and seed
// always give the same bytes.
#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "CompressedFile.h"
#include "Content.h"
#include "Metadata.h"
#include "format/ByteOrder.h"
#include "format/MorvenFormat.h"

namespace {

using mvgen::ErrorKind;
using mvgen::InjectedError;
using mvgen::Kind;

constexpr uint64_t DEFAULT_PACKETS = 1000000;
constexpr uint64_t DEFAULT_CHUNK_WORDS = 16384;
using morven::PELVAN_BLOCK_WORDS;
constexpr size_t BUFFER_WORDS = 1 << 19;  // 4 MiB written at a time

void usage() {
  std::cout
      << "mvgen version " << std::hex << morven::VERSION_ID << std::dec << "\n"
      << "Write a synthetic MORVEN data file of Vexar7 pixel packets.\n"
      << "\n"
      << "Usage: mvgen [-k kind] [-n packets | -b bytes] [-s seed] [-L links] [-c packets]\n"
      << "             [-W] [-e error@position]... [-t ms] -o file\n"
      << "  -k kind     : Content of the data chunks (default toatot):\n"
      << "                toatot   ToA/ToT run: beam spot, hot pixels, heartbeats, shutter\n"
      << "                         edges and idle words, in MVHDR_VX7TOATOT chunks;\n"
      << "                pc24     counting run: shutter edges, then 24-bit pixel counts\n"
      << "                         (MVHDR_VX7PC24 chunks);\n"
      << "                frame8   frames of 8-bit pixel data, segments of 1792 packets\n"
      << "                         (MVHDR_VX7FRAME8 chunks);\n"
      << "                frame16  the same with 16-bit pixel data (MVHDR_VX7FRAME16 chunks);\n"
      << "                testgen  test-generator pixels on 1..8 interleaved links, with\n"
      << "                         heartbeats and idle words (check with mvscan -Q);\n"
      << "                counter  one incrementing 64-bit counter per link, links\n"
      << "                         interleaved (check with mvscan -q).\n"
      << "  -n packets  : Number of 8-byte packets in the data chunks (default 1000000).\n"
      << "  -b bytes    : Size of the whole file instead, a multiple of 8.\n"
      << "                Both take a suffix K, M or G (times 1024, 1024^2, 1024^3).\n"
      << "  -s seed     : Seed of the pseudo-random content (default 1); the same seed\n"
      << "                gives the same bytes.\n"
      << "  -L links    : Number of links of testgen and counter, 1..8 (default 1).\n"
      << "  -c packets  : Packets per data chunk, 1..4294967295 (default 16384);\n"
      << "                the last chunk holds the rest.\n"
      << "  -W          : Frame the packet stream in 1 KB Pelvan blocks: a header,\n"
      << "                126 packets and a trailer (read them with mvscan -W).\n"
      << "  -e error@position : Inject an error at packet number position (counted from 1\n"
      << "                over all data chunks, as mvscan -C counts); may be repeated.\n"
      << "                testgen: fixed   (a wrong fixed pattern in this packet),\n"
      << "                         toa     (the link's ToA jumps by 256 from here on),\n"
      << "                         missing (the link's packet is left out);\n"
      << "                counter: corrupt (one bit of this word flipped),\n"
      << "                         missing (the link skips a value),\n"
      << "                         repeat  (the link repeats its previous value).\n"
      << "  -t ms       : Write the file slowly: after each data chunk, hand the bytes so\n"
      << "                far to the system and pause ms milliseconds (to watch it\n"
      << "                with mvscan --follow).\n"
      << "  -o file     : Output file; - writes to standard output (not to a terminal).\n"
      << "  -h          : Show this help text.\n"
      << "  -V          : Show version.\n";
}

[[noreturn]] void fail(const std::string& message) {
  std::cerr << "mvgen: " << message << std::endl;
  std::exit(1);
}

// A whole argument as an unsigned decimal number (or hexadecimal after
// "0x"), with an optional K, M or G suffix when allowed. False on anything
// else, an empty text and on overflow.
bool parseNumber(const std::string& text, bool withSuffix, uint64_t& value) {
  size_t pos = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    pos = 2;
  }
  uint64_t v = 0;
  size_t digits = 0;
  for (; pos < text.size(); ++pos, ++digits) {
    const char c = text[pos];
    uint64_t d = 0;
    if (c >= '0' && c <= '9') {
      d = uint64_t(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = uint64_t(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      d = uint64_t(c - 'A' + 10);
    } else {
      break;
    }
    if (v > (UINT64_MAX - d) / uint64_t(base)) return false;
    v = v * uint64_t(base) + d;
  }
  if (digits == 0) return false;
  if (pos < text.size()) {
    if (!withSuffix || pos + 1 != text.size()) return false;
    int shift = 0;
    switch (text[pos]) {
      case 'k':
      case 'K':
        shift = 10;
        break;
      case 'm':
      case 'M':
        shift = 20;
        break;
      case 'g':
      case 'G':
        shift = 30;
        break;
      default:
        return false;
    }
    if (v > (UINT64_MAX >> shift)) return false;
    v <<= shift;
  }
  value = v;
  return true;
}

struct Options {
  mvgen::RunDescription run;
  bool packetsGiven = false;
  bool bytesGiven = false;
  uint64_t packets = DEFAULT_PACKETS;
  uint64_t bytes = 0;
  std::vector<InjectedError> errors;
  std::string output;
  uint64_t pauseMs = 0;  // -t: after each data chunk
};

bool parseKind(const std::string& text, Kind& kind) {
  for (Kind k :
       {Kind::ToaTot, Kind::Pc24, Kind::Frame8, Kind::Frame16, Kind::TestGen, Kind::Counter}) {
    if (text == mvgen::kindName(k)) {
      kind = k;
      return true;
    }
  }
  return false;
}

struct ErrorName {
  const char* name;
  ErrorKind kind;
  Kind content;
};

constexpr ErrorName ERROR_NAMES[] = {
    {"fixed", ErrorKind::Fixed, Kind::TestGen},     {"toa", ErrorKind::Toa, Kind::TestGen},
    {"missing", ErrorKind::Missing, Kind::TestGen}, {"corrupt", ErrorKind::Corrupt, Kind::Counter},
    {"missing", ErrorKind::Missing, Kind::Counter}, {"repeat", ErrorKind::Repeat, Kind::Counter},
};

// Turns the -e texts into errors once the kind of content is known.
std::vector<InjectedError> parseErrors(const Options& o) {
  std::vector<InjectedError> errors;
  const Kind content = o.run.kind;
  for (const std::string& text : o.run.errors) {
    const size_t at = text.find('@');
    uint64_t position = 0;
    if (at == std::string::npos || !parseNumber(text.substr(at + 1), false, position)) {
      fail("-e: expected error@position, not '" + text + "'");
    }
    if (content != Kind::TestGen && content != Kind::Counter) {
      fail("-e: errors can be injected into -k testgen and -k counter only");
    }
    const std::string name = text.substr(0, at);
    const ErrorName* found = nullptr;
    for (const ErrorName& e : ERROR_NAMES) {
      if (e.content == content && name == e.name) found = &e;
    }
    if (found == nullptr) {
      fail("-e: no error '" + name + "' for -k " + mvgen::kindName(content) +
           (content == Kind::TestGen ? " (fixed, toa or missing)"
                                     : " (corrupt, missing or repeat)"));
    }
    if (position == 0) fail("-e: positions count from 1, not '" + text + "'");
    errors.push_back({position, found->kind});
  }
  std::sort(errors.begin(), errors.end(),
            [](const InjectedError& a, const InjectedError& b) { return a.position < b.position; });
  for (size_t i = 1; i < errors.size(); ++i) {
    if (errors[i].position == errors[i - 1].position) {
      fail("-e: two errors at position " + std::to_string(errors[i].position));
    }
  }
  return errors;
}

Options readOptions(int argc, char** argv) {
  Options o;
  o.run.chunkWords = DEFAULT_CHUNK_WORDS;
  bool linksGiven = false;
  int c;
  uint64_t number = 0;
  while ((c = getopt(argc, argv, "b:c:e:hk:L:n:o:s:t:VW")) != -1) {
    const std::string arg = optarg != nullptr ? optarg : "";
    switch (c) {
      case 'b':
        if (!parseNumber(arg, true, o.bytes)) fail("-b: not a size in bytes: '" + arg + "'");
        o.bytesGiven = true;
        break;
      case 'c':
        if (!parseNumber(arg, true, number) || number < 1 ||
            number > morven::MVHDR_CHUNKSIZE_MASK) {
          fail("-c: packets per chunk must be 1..4294967295, not '" + arg + "'");
        }
        o.run.chunkWords = number;
        break;
      case 'e':
        o.run.errors.push_back(arg);
        break;
      case 'h':
        usage();
        std::exit(0);
      case 'k':
        if (!parseKind(arg, o.run.kind)) {
          fail("-k: unknown kind '" + arg +
               "' (toatot, pc24, frame8, frame16, testgen or counter)");
        }
        break;
      case 'L':
        if (!parseNumber(arg, false, number) || number < 1 || number > 8) {
          fail("-L: links must be 1..8, not '" + arg + "'");
        }
        o.run.links = int(number);
        linksGiven = true;
        break;
      case 'n':
        if (!parseNumber(arg, true, o.packets)) fail("-n: not a number of packets: '" + arg + "'");
        o.packetsGiven = true;
        break;
      case 'o':
        if (arg.empty()) fail("-o: empty file name");
        o.output = arg;
        break;
      case 's':
        if (!parseNumber(arg, false, o.run.seed)) fail("-s: not a seed: '" + arg + "'");
        break;
      case 't':
        if (!parseNumber(arg, false, o.pauseMs) || o.pauseMs > 3600000) {
          fail("-t: a pause of 0..3600000 ms, not '" + arg + "'");
        }
        break;
      case 'V':
        std::cout << "mvgen version " << std::hex << morven::VERSION_ID << std::dec << std::endl;
        std::exit(0);
      case 'W':
        o.run.pelvan = true;
        break;
      default:
        fail("see 'mvgen -h' for the options");
    }
  }
  if (optind < argc) fail(std::string("unexpected argument '") + argv[optind] + "'");
  if (o.output.empty()) fail("no output file given (-o file)");
  if (o.packetsGiven && o.bytesGiven) fail("-n and -b exclude each other");
  if (linksGiven && o.run.kind != Kind::TestGen && o.run.kind != Kind::Counter) {
    fail("-L: links apply to -k testgen and -k counter only");
  }
  o.errors = parseErrors(o);
  return o;
}

uint64_t chunksFor(uint64_t packets, uint64_t chunkWords) {
  return packets / chunkWords + (packets % chunkWords != 0 ? 1 : 0);
}

// The number of packets and the padding of the run information that make
// the file exactly o.bytes long. Words of data chunks come in steps of one
// (one more packet) or two (one more packet and a chunk header), so a size
// that the steps jump over is reached with one word of padding.
void fitToSize(const Options& o, const std::string& metadata, uint64_t& packets,
               uint64_t& padWords) {
  if (o.bytes % 8 != 0) fail("-b: " + std::to_string(o.bytes) + " is not a multiple of 8");
  const uint64_t fixedWords = 1 + metadata.size() / 8;
  if (o.bytes / 8 < fixedWords) {
    fail("-b: a " + std::string(mvgen::kindName(o.run.kind)) + " file needs at least " +
         std::to_string(8 * fixedWords) + " bytes");
  }
  const uint64_t c = o.run.chunkWords;
  for (padWords = 0; padWords < 2; ++padWords) {
    const uint64_t words = o.bytes / 8 - fixedWords - padWords;
    if (words == 0) {
      packets = 0;
      return;
    }
    const uint64_t first = words / (c + 1);
    for (uint64_t chunks = first; chunks <= first + 2 && chunks <= words; ++chunks) {
      if (chunks > 0 && chunksFor(words - chunks, c) == chunks) {
        packets = words - chunks;
        return;
      }
    }
  }
  fail("-b: cannot reach " + std::to_string(o.bytes) + " bytes");  // not reached
}

void checkPositions(const Options& o, uint64_t packets) {
  for (const InjectedError& e : o.errors) {
    if (e.position > packets) {
      fail("-e: position " + std::to_string(e.position) + " is beyond the last packet (" +
           std::to_string(packets) + ")");
    }
    const uint64_t inBlock = e.position % PELVAN_BLOCK_WORDS;
    if (o.run.pelvan && (inBlock == 0 || inBlock == 1)) {
      fail("-e: position " + std::to_string(e.position) + " is a Pelvan header or trailer word");
    }
  }
}

// Writes the words of the file through a large buffer, little-endian.
class WordWriter {
 public:
  WordWriter(std::FILE* file) : _file(file), _buffer(BUFFER_WORDS) {}
  bool ok() const { return _ok; }
  uint64_t* room(size_t& count) {
    count = _buffer.size() - _used;
    return _buffer.data() + _used;
  }
  void commit(size_t count) {
    _used += count;
    if (_used == _buffer.size()) flush();
  }
  void put(uint64_t w) {
    _buffer[_used] = w;
    commit(1);
  }
  void flush() {
    if constexpr (std::endian::native == std::endian::big) {
      for (size_t i = 0; i < _used; ++i) _buffer[i] = morven::byteSwap64(_buffer[i]);
    }
    if (_used > 0 && std::fwrite(_buffer.data(), 8, _used, _file) != _used) _ok = false;
    _used = 0;
  }

 private:
  std::FILE* _file;
  std::vector<uint64_t> _buffer;
  size_t _used = 0;
  bool _ok = true;
};

// The packet stream, with Pelvan framing if asked: in every block of 128
// words the first is a header (block sequence number split into seqH and
// seqL, link 0) and the last a trailer whose payload is the number of
// packets in a full block.
class PacketStream {
 public:
  PacketStream(mvgen::Content& content, bool pelvan) : _content(content), _pelvan(pelvan) {}

  void fill(uint64_t* out, size_t count) {
    while (count > 0) {
      const uint64_t inBlock = _number % PELVAN_BLOCK_WORDS;
      size_t run = count;
      if (_pelvan && (inBlock == 1 || inBlock == 0)) {
        const uint64_t block = (_number - 1) / PELVAN_BLOCK_WORDS;
        *out =
            inBlock == 1 ? ((block >> 5) & 31) << 43 | (block & 31) << 11 : PELVAN_BLOCK_WORDS - 2;
        run = 1;
      } else {
        if (_pelvan) run = std::min<size_t>(run, PELVAN_BLOCK_WORDS - inBlock);
        _content.fill(out, run, _number);
      }
      out += run;
      count -= run;
      _number += run;
    }
  }

 private:
  mvgen::Content& _content;
  bool _pelvan;
  uint64_t _number = 1;  // position of the next word in the packet stream
};

bool writeFile(std::FILE* file, const std::string& metadata, const Options& o, uint64_t packets) {
  const std::string magic = mvgen::le64(morven::MVHDR_MAGIC);
  if (std::fwrite(magic.data(), 1, magic.size(), file) != magic.size() ||
      std::fwrite(metadata.data(), 1, metadata.size(), file) != metadata.size()) {
    return false;
  }
  auto content = mvgen::makeContent(o.run.kind, o.run.seed, o.run.links, o.errors);
  PacketStream stream(*content, o.run.pelvan);
  WordWriter writer(file);
  const uint64_t type = mvgen::dataChunkType(o.run.kind);
  for (uint64_t left = packets; left > 0 && writer.ok();) {
    const uint64_t chunk = std::min(left, o.run.chunkWords);
    writer.put(type | chunk);
    for (uint64_t inChunk = chunk; inChunk > 0;) {
      size_t room = 0;
      uint64_t* out = writer.room(room);
      const size_t n = size_t(std::min<uint64_t>(room, inChunk));
      stream.fill(out, n);
      writer.commit(n);
      inChunk -= n;
    }
    left -= chunk;
    if (o.pauseMs > 0) {
      writer.flush();
      if (std::fflush(file) != 0) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(o.pauseMs));
    }
  }
  writer.flush();
  return writer.ok();
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = readOptions(argc, argv);

  std::string metadata;
  uint64_t packets = o.packets;
  uint64_t padWords = 0;
  if (!mvgen::metadataChunks(o.run, 0, metadata)) fail("cannot build the JSON chunks");
  if (o.bytesGiven) {
    fitToSize(o, metadata, packets, padWords);
    if (padWords > 0 && !mvgen::metadataChunks(o.run, padWords, metadata)) {
      fail("cannot build the JSON chunks");
    }
  }
  checkPositions(o, packets);

  const bool toStdout = o.output == "-";
  if (toStdout && ::isatty(STDOUT_FILENO)) {
    fail("standard output is a terminal; give a file name with -o");
  }
  std::FILE* file = toStdout ? stdout : mvgen::openOutput(o.output);
  if (file == nullptr) fail("cannot create '" + o.output + "': " + std::strerror(errno));
  bool written = writeFile(file, metadata, o, packets);
  if (toStdout) {
    written = std::fflush(file) == 0 && written;
  } else {
    written = std::fclose(file) == 0 && written;
  }
  if (!written) fail("cannot write '" + o.output + "': " + std::strerror(errno));

  if (!toStdout) {
    const uint64_t chunks = chunksFor(packets, o.run.chunkWords);
    std::cout << o.output << ": " << mvgen::kindName(o.run.kind) << ", " << packets
              << " packets in " << chunks << " data chunks, "
              << 8 + metadata.size() + 8 * (packets + chunks) << " bytes" << std::endl;
  }
  return 0;
}
