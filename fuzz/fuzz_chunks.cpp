// Fuzz target for the chunk walk: the input is one data file (after two
// option bytes), walked as the file-check run walks it with -f -j -c -H,
// every report written to a string stream.
//
// Option bytes:
//   0  bit 0: put a valid file header in front of the file bytes
//      bit 1: walk the file a second time without a reset, so counts,
//             sizes and the error state carry over
//      bit 2: after the walk ends, call nextChunk a few more times (it
//             seeks over a rejected payload and goes on)
//      bits 3 and 4 both set: build a new inspector with a file name and a
//             read buffer (else one inspector serves every input, reset
//             by setFile: building one costs more than most walks)
//   1  number of bins of the chunk-size histogram, minus 1
#include <cstdint>
#include <sstream>
#include <string>

#include "DataInspector.h"
#include "MemoryFile.h"

namespace {

// One file, as the file-check run reports it.
void walkFile(morven::DataInspector& inspector, bool opened, const std::string& path, bool reset,
              bool retry, int bins, std::ostringstream& out) {
  if (!opened && !inspector.setFile(path, reset)) return;
  out << inspector.fileHeaderString() << inspector.fileSize() << "\n";
  // A walk ends at the end of the file; after a rejected header a further
  // call steps over the payload it declared and goes on. Every round reads
  // at least one header word or ends the walk, so a bound by the file size
  // is never reached on a correct reader.
  const uint64_t maxRounds = retry ? inspector.fileSize() / 8 + 2 : 1;
  for (uint64_t round = 0; round < maxRounds; ++round) {
    while (inspector.nextChunk()) {
      out << inspector.chunkTypeString() << "  " << inspector.chunkBytes() << "\n";
      if (inspector.chunkIsJson()) {
        out << inspector.jsonString() << "\n";
      } else if (inspector.chunkIsVx7Config()) {
        inspector.displayVx7Config(out);
      }
      (void)inspector.chunkIsData();
      (void)inspector.chunkIsVx7PixConfig();
    }
    if (inspector.feof() || inspector.ferror() || inspector.errNo() != 0) break;
  }
  out << inspector.errNo() << inspector.ferror() << inspector.feof() << inspector.fileIndex()
      << inspector.headerTotal() << inspector.chunkBytesTotal() << inspector.chunkTypeString()
      << "\n";
  inspector.logChunkCounters();
  inspector.chunkSizesHistogram(out, bins);
  out << inspector.hasError() << "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static mvscan_fuzz::MemoryFile file;
  mvscan_fuzz::InputBytes in(data, size);
  const uint8_t options = in.take();
  const int bins = 1 + in.take();

  std::string bytes;
  if (options & 1) bytes.assign("MORVEN\0\0", 8);
  bytes.append(reinterpret_cast<const char*>(in.rest()), in.restSize());
  file.assign(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

  std::ostringstream out;
  const bool retry = (options & 4) != 0;
  if ((options & 0x18) == 0x18) {
    morven::DataInspector inspector(file.path(), out);
    if (!inspector.hasError()) walkFile(inspector, true, file.path(), true, retry, bins, out);
    if (options & 2) walkFile(inspector, false, file.path(), false, retry, bins, out);
    return 0;
  }
  // Messages of the shared inspector go to a stream of its own, emptied and
  // set back to its start format for every input.
  static std::ostringstream messages;
  static morven::DataInspector inspector(messages, false);
  static const std::ostringstream pristine;
  messages.str("");
  messages.clear();
  messages.copyfmt(pristine);
  walkFile(inspector, false, file.path(), true, retry, bins, out);
  if (options & 2) walkFile(inspector, false, file.path(), false, retry, bins, out);
  return 0;
}
