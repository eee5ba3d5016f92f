// Reports over what the chunk walk gathered: the register listing of a chip
// configuration chunk and the histogram of data-chunk sizes. Each line is
// built in a LineWriter and written, flushed, in one piece.
#include <algorithm>
#include <deque>
#include <ios>
#include <ostream>
#include <string>
#include <vector>

#include "format/ChunkTypes.h"
#include "format/RegisterRecords.h"
#include "report/ChunkReports.h"
#include "text/LineWriter.h"

namespace morven {

namespace {

using Line = LineWriter<256>;

// Upper-case hexadecimal, zero-filled to at least width digits: the register
// listing alone prints its digits this way.
void putUpperHex(Line& line, uint64_t v, int width) {
  LineWriter<32> digits;
  std::string_view s = digits.hex(v, width, '0').view();
  for (char c : s) {
    const char upper = c >= 'a' && c <= 'f' ? char(c - 'a' + 'A') : c;
    line.text({&upper, 1});
  }
}

// Value bytes of a register, 32 to a line; continuation lines are indented
// by five blanks so that the bytes stand under those of the first line.
void listValueBytes(Line& line, std::ostream& out, const unsigned char* bytes, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    if (i != 0 && i % 32 == 0) line.end(out).text("     ");
    line.text(" ");
    putUpperHex(line, bytes[i], 2);
  }
}

}  // namespace

void chunkSizesHistogram(const ChunkWalker& walker, std::ostream& out, int bins) {
  const std::deque<uint64_t>& sizes = walker.chunkSizes();
  // The bins need only the largest size, so the list is scanned rather than
  // sorted. Without any data chunk the histogram is drawn as if the largest
  // size were 0: a bin width of 1, every bin empty.
  uint64_t max = 0;
  for (uint64_t s : sizes) max = std::max(max, s);
  uint64_t nbins = uint64_t(std::max(bins, 1));
  uint64_t width = (max + nbins - 1) / nbins + 1;
  std::vector<uint64_t> counts(nbins, 0);
  for (uint64_t s : sizes) ++counts[s / width];

  Line line;
  line.text("Chunk Size   Bin Count").end(out);
  line.text("----------   ---------").end(out);
  for (uint64_t i = 0; i < nbins; ++i) {
    line.dec(i * width, 9).text("      ").dec(counts[i], 6).end(out);
  }
  line.dec(nbins * width, 9).end(out);
  line.end(out);
}

// The listing starts with a line break after the caller's heading, and
// leaves the stream decimal with blank fill, as every report does.
void displayVx7Config(const ChunkWalker& walker, std::ostream& out) {
  const std::vector<unsigned char>& bytes = walker.configBytes();
  if (bytes.empty()) return;
  Line line;
  line.end(out);
  bool first = true;
  forEachRegisterRecord(bytes.data(), bytes.size(), [&](const RegisterRecord& r) {
    if (!first) line.end(out);
    first = false;
    if (r.headCut) {
      line.text("(### cut record:");
      listValueBytes(line, out, r.bytes, r.shown);
      line.text(")");
      return;
    }
    putUpperHex(line, r.address, 4);
    line.text(":");
    listValueBytes(line, out, r.bytes, r.shown);
    if (r.cut()) {
      // Value bytes cut off by the end of the payload: those that are there.
      line.text(" (### cut: ").dec(r.shown).text(" of ").dec(r.length).text(" bytes)");
    } else if (r.length <= 8) {
      if (r.length <= 2) line.text("      ");
      line.text("   (0x");
      putUpperHex(line, r.value(), int(std::max<uint64_t>(2 * r.length, 1)));
      line.text(")");
    }
  });
  line.end(out);
  out << std::dec;
  out.fill(' ');
  out.unsetf(std::ios::uppercase);
}

void logChunkCounters(const ChunkWalker& walker, std::ostream& out) {
  if (walker.chunkTypeCounters().empty()) return;
  out << "=> Chunk counters:" << std::endl;
  // The names are padded here rather than with the stream's fill, which a
  // check may have left at '0'.
  out << std::left;
  for (const auto& [key, count] : walker.chunkTypeCounters()) {
    std::string name = chunkTypeName(key);
    if (name.size() < 25) name.append(25 - name.size(), ' ');
    out << name << count << std::endl;
  }
  out << std::right;
}

}  // namespace morven
