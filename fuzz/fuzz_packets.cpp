// Fuzz target for the packet stream: the input is one data file (after four
// option bytes). It is scanned as a pixel-scan run over four files would
// scan it, once in each mode (display, test-generator check, counter check,
// statistics), with the state carried over from one pass to the next; then
// its bytes are handed in as a memory block and scanned again in each mode.
//
// Option bytes:
//   0  bit 0: valid file header in front      bit 1: -C (packet numbers)
//      bit 2: -R (raw word)                   bit 3: -P (decoded fields)
//      bit 4: -Q (test-generator layout)      bit 5: -0 (no zero words)
//      bit 6: -W (Pelvan blocks)              bit 7: -w (words reversed)
//   1  bits 0..2: -L minus 1 (stride, links)  bits 3..4: -F none, 8, 16,
//      or a width that clears the frame flags bit 5: -r (bytes reversed)
//      bit 6: -E rather than -e               bit 7: hand in a memory block
//      in the middle of the statistics pass
//   2  -s: packets to skip in each pass
//   3  number of bins of the ToA histogram, minus 1
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "DataInspector.h"
#include "MemoryFile.h"

namespace {

// Takes any text and keeps none: the display writes to standard output,
// and every line must still be formatted.
class DiscardBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct Settings {
  bool showCounter, showRaw, showFields, testGen, skipZeroPackets, fromPelvan, reverseWords,
      reverseBytes, eocListAll, blockInStatistics;
  int links, frameBits, bins;
  uint64_t skipCount;
};

Settings readSettings(mvscan_fuzz::InputBytes& in, bool& withHeader) {
  const uint8_t a = in.take(), b = in.take(), skip = in.take(), bins = in.take();
  static constexpr int FRAME_BITS[4] = {0, 8, 16, 12};
  Settings s{};
  withHeader = (a & 1) != 0;
  s.showCounter = (a & 2) != 0;
  s.showRaw = (a & 4) != 0;
  s.showFields = (a & 8) != 0 || !s.showRaw;
  s.testGen = (a & 16) != 0;
  s.skipZeroPackets = (a & 32) != 0;
  s.fromPelvan = (a & 64) != 0;
  s.reverseWords = (a & 128) != 0;
  s.links = 1 + (b & 7);
  s.frameBits = FRAME_BITS[(b >> 3) & 3];
  s.reverseBytes = (b & 32) != 0;
  s.eocListAll = (b & 64) == 0;
  s.blockInStatistics = (b & 128) != 0;
  s.skipCount = skip;
  s.bins = 1 + bins;
  return s;
}

enum class Mode { Display, TestGen, Counters, Statistics };

// The display loop of the pixel-scan run, from packet number index on.
void displayLoop(morven::DataInspector& inspector, const Settings& s, uint64_t index) {
  int k = 0;
  while (inspector.nextPixel()) {
    ++index;
    (void)inspector.pixelIsData();
    (void)inspector.pixelIsFromTop();
    (void)inspector.pixelTypeString();
    if (++k == s.links) {
      k = 0;
      inspector.displayPixel(index, s.showCounter, s.showRaw, s.showFields, s.testGen,
                             s.skipZeroPackets);
    }
  }
}

void statistics(morven::DataInspector& inspector, const Settings& s, std::ostream& out) {
  while (inspector.processNextPixel()) {
  }
  inspector.logEocCounters(s.eocListAll);
  inspector.toaHistogram(out, s.bins);
  out << inspector.pixelCounterTotal() << inspector.heartbeatCounter()
      << inspector.shutterRiseCounter() << inspector.shutterFallCounter() << "\n";
  inspector.logChunkCounters();
}

void runMode(morven::DataInspector& inspector, Mode mode, const Settings& s, std::ostream& out) {
  switch (mode) {
    case Mode::Display:
      displayLoop(inspector, s, 0);
      break;
    case Mode::TestGen:
      out << inspector.checkAsTestGenPixels(out, s.links) << "\n";
      break;
    case Mode::Counters:
      out << inspector.checkAsCounters(out, s.links) << "\n";
      break;
    case Mode::Statistics:
      statistics(inspector, s, out);
      break;
  }
}

// One file of a pixel-scan run: open, skip, set the flags, run the mode.
void scanFile(morven::DataInspector& inspector, const std::string& path, bool reset, Mode mode,
              const Settings& s, std::vector<uint64_t>& block, std::ostream& out) {
  if (!inspector.setFile(path, reset)) return;
  if (s.frameBits != 0) inspector.forceFrameData(s.frameBits);
  uint64_t skipped = 0;
  while (skipped < s.skipCount && inspector.nextPixel()) ++skipped;
  inspector.setReverseBytes(s.reverseBytes);
  inspector.setReverseWords(s.reverseWords);
  inspector.setFromPelvan(s.fromPelvan);
  if (mode == Mode::Display) {
    displayLoop(inspector, s, skipped);
    return;
  }
  if (mode == Mode::Statistics && s.blockInStatistics && !block.empty()) {
    // A memory block put in front of the file's remaining packets: its
    // words come first, then the stream reads on in the file.
    inspector.setDataChunk(reinterpret_cast<unsigned char*>(block.data()), block.size() * 8 - 3);
    while (inspector.processNextPixel()) {
    }
  }
  runMode(inspector, mode, s, out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Never destroyed: standard output is flushed at exit, after every static
  // object of this file is gone.
  static DiscardBuffer* discard = new DiscardBuffer;
  std::cout.rdbuf(discard);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static mvscan_fuzz::MemoryFile file;
  mvscan_fuzz::InputBytes in(data, size);
  bool withHeader = false;
  const Settings s = readSettings(in, withHeader);

  std::string bytes;
  if (withHeader) bytes.assign("MORVEN\0\0", 8);
  bytes.append(reinterpret_cast<const char*>(in.rest()), in.restSize());
  file.assign(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

  // The memory block holds the same bytes, in words (setDataChunk hands its
  // memory out as 64-bit packets) and rewritten by the reversal in place,
  // so every pass gets a fresh copy.
  const size_t words = (bytes.size() + 7) / 8;
  std::vector<uint64_t> block(words);

  // One inspector serves every input (building one with its 16 MiB buffer
  // costs more than most scans); the first pass resets it. Its stream is
  // emptied and set back to its start format, as the checks leave the fill
  // character '0' behind.
  static std::ostringstream out;
  static morven::DataInspector inspector(out, true);
  static const std::ostringstream pristine;
  out.str("");
  out.clear();
  out.copyfmt(pristine);
  bool first = true;
  for (Mode mode : {Mode::Display, Mode::TestGen, Mode::Counters, Mode::Statistics}) {
    if (!block.empty()) std::memcpy(block.data(), bytes.data(), bytes.size());
    scanFile(inspector, file.path(), first, mode, s, block, out);
    first = false;
  }
  for (Mode mode : {Mode::Display, Mode::TestGen, Mode::Counters, Mode::Statistics}) {
    if (block.empty()) break;
    std::memcpy(block.data(), bytes.data(), bytes.size());
    inspector.setDataChunk(reinterpret_cast<unsigned char*>(block.data()), bytes.size());
    runMode(inspector, mode, s, out);
  }
  return 0;
}
