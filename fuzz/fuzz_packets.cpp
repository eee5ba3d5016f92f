// Fuzz target for the packet stream: the input is one data file (after five
// option bytes). It is scanned by the pixel-scan run (morven::scanFiles)
// once in each mode (display, test-generator check, counter check,
// statistics), with the state carried over from one pass to the next, as
// a run over four files would carry it; then its bytes are handed in as a
// memory block (morven::scanMemory) and scanned again in each mode.
//
// Option bytes:
//   0  bit 0: valid file header in front      bit 1: -C (packet numbers)
//      bit 2: -R (raw word)                   bit 3: -P (decoded fields)
//      bit 4: -Q (test-generator layout)      bit 5: -0 (no zero words)
//      bit 6: -W (Pelvan blocks)              bit 7: -w (words reversed)
//   1  bits 0..2: -L minus 1 (stride, links)  bits 3..4: -F none, 8, 16,
//      or a width that clears the frame flags bit 5: -r (bytes reversed)
//      bit 6: -E rather than -e               bit 7: hand in a memory block
//      just before the statistics pass, so its words come first
//   2  -s: packets to skip in each pass
//   3  number of bins of the ToA histogram, minus 1
//   4  bit 0: -e (EoC list)                   bit 1: -H (ToA histogram)
//      bits 2..7: when not 0, the output refuses every write after this
//      many times 64 bytes (a full disk, a closed pipe); the passes after
//      the one it ended run on a stream that takes everything again
//
// The output is formatted in full and then dropped: keeping it would only
// cost time. The statistics reports print up to 256 EoC rows and 256 ToA
// bins (summing 65536 counters), more work than scanning a small input, so
// they run only when their option bits ask for them, as on the command
// line, and only in the file's statistics pass.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "run/Runs.h"
#include "scan/DataInspector.h"

namespace {

using morven::RunSettings;

struct Options {
  bool withHeader = false;
  bool blockBeforeStatistics = false;
  size_t outputLimit = 0;  // 0: none
  RunSettings settings;
};

Options readOptions(mvscan_fuzz::InputBytes& in) {
  const uint8_t a = in.take(), b = in.take(), skip = in.take(), bins = in.take(), c = in.take();
  static constexpr int FRAME_BITS[4] = {0, 8, 16, 12};
  Options o;
  RunSettings& s = o.settings;
  o.withHeader = (a & 1) != 0;
  s.pixelScan = true;
  s.showCounter = (a & 2) != 0;
  s.showRaw = (a & 4) != 0;
  s.showFields = (a & 8) != 0;
  s.testGen = (a & 16) != 0;
  s.skipZeroPackets = (a & 32) != 0;
  s.fromPelvan = (a & 64) != 0;
  s.reverseWords = (a & 128) != 0;
  s.links = 1 + (b & 7);
  s.frameBits = FRAME_BITS[(b >> 3) & 3];
  s.reverseBytes = (b & 32) != 0;
  s.eocListAll = (b & 64) == 0;
  o.blockBeforeStatistics = (b & 128) != 0;
  s.skipCount = skip;
  s.histogramBins = 1 + bins;
  s.eocList = (c & 1) != 0;
  s.histogram = (c & 2) != 0;
  o.outputLimit = size_t(c >> 2) * 64;
  s.threads = 1;
  s.imageBase = "";
  return o;
}

enum class Mode { Display, TestGen, Counters, Statistics };
constexpr Mode MODES[] = {Mode::Display, Mode::TestGen, Mode::Counters, Mode::Statistics};

// The settings of one mode, as the command line sets them: -P or -R
// display (-Q then shows the test-generator layout), -Q alone checks the
// test-generator pixels, -q the counters, none of them gathers statistics.
RunSettings forMode(RunSettings s, Mode mode) {
  s.displayPixels = mode == Mode::Display;
  if (mode == Mode::Display && !s.showRaw) s.showFields = true;
  if (mode == Mode::Display && s.testGen) s.showFields = true;
  if (mode == Mode::TestGen) s.testGen = true;
  if (mode == Mode::Counters || mode == Mode::Statistics) s.testGen = false;
  s.counterCheck = mode == Mode::Counters;
  return s;
}

// Formats everything and keeps nothing; with a limit, refuses every write
// once that many bytes have been taken.
class DiscardBuffer : public std::streambuf {
 public:
  void limit(size_t bytes) {
    _limited = bytes != 0;
    _left = bytes;
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return xsputn(nullptr, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    if (!_limited) return n;
    const std::streamsize taken = std::min<std::streamsize>(n, std::streamsize(_left));
    _left -= size_t(taken);
    return taken;
  }

 private:
  bool _limited = false;
  size_t _left = 0;
};

// After a refused write the rest of the input's passes still run.
void takeEverythingAgain(std::ostream& out, DiscardBuffer& sink) {
  if (out) return;
  sink.limit(0);
  out.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static mvscan_fuzz::MemoryFile file;
  mvscan_fuzz::InputBytes in(data, size);
  const Options o = readOptions(in);

  std::string bytes;
  if (o.withHeader) bytes.assign("MORVEN\0\0", 8);
  bytes.append(reinterpret_cast<const char*>(in.rest()), in.restSize());
  file.assign(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

  // The memory block holds the same bytes, in words (the block is copied
  // into the inspector's own words in pieces; the reversal rewrites those
  // in place), given a fresh copy for every pass.
  const size_t words = (bytes.size() + 7) / 8;
  std::vector<uint64_t> block(words);
  const auto blockBytes = [&]() {
    if (!block.empty()) std::memcpy(block.data(), bytes.data(), bytes.size());
    return reinterpret_cast<const unsigned char*>(block.data());
  };

  // One inspector serves every input (building one with its 16 MiB buffer
  // costs more than most scans). Its stream is set back to its start
  // format, as the checks leave the fill character '0' behind.
  static DiscardBuffer sink;
  static std::ostream out(&sink);
  static morven::DataInspector inspector(true);
  static const std::ostringstream pristine;
  out.clear();
  out.copyfmt(pristine);
  sink.limit(o.outputLimit);

  // The inspector is in its start state: just built, or reset at the end of
  // the input before. So the passes, like the files of a run after its
  // first, go on from the state the pass before left.
  const std::vector<std::string> files = {file.path()};
  for (Mode mode : MODES) {
    const RunSettings s = forMode(o.settings, mode);
    morven::printBanner(s, false, out);
    if (mode == Mode::Statistics && o.blockBeforeStatistics && !block.empty())
      inspector.stream().setDataChunk(blockBytes(), block.size() * 8 - 3);
    morven::scanFiles(s, files, inspector, out, false);
    takeEverythingAgain(out, sink);
  }
  // The memory passes print no EoC list and no ToA histogram: the file's
  // statistics pass has printed both, and with 256 rows each (and 65536
  // counters summed) they cost more than the rest of a pass.
  RunSettings memorySettings = o.settings;
  memorySettings.eocList = memorySettings.histogram = false;
  for (Mode mode : MODES) {
    if (block.empty()) break;
    morven::scanMemory(forMode(memorySettings, mode), blockBytes(), bytes.size(), inspector, out);
    takeEverythingAgain(out, sink);
  }
  // The reset for the next input, here rather than at its start: what this
  // input's walk allocated (chunk sizes, chunk-type counts, texts) is freed
  // within the same execution, and libFuzzer runs an input whose
  // allocations outnumber its frees a second time, to look for a leak.
  inspector.init();
  return 0;
}
