// Fuzz target for the chunk walk: the input is one data file (after two
// option bytes), walked by the file-check run (morven::checkFiles) with the
// reports the option bits choose, or with the JSON report (morven::runFiles
// on a JsonReport); every report is written to a string stream.
//
// Option bytes:
//   0  bit 0: put a valid file header in front of the file bytes
//      bit 1: check the file twice, as a run over two files (each walked
//             from a reset, with the separating lines of several files)
//      bit 2: after the run, open the file again without a reset, so
//             counts, sizes and the error state carry over, and walk it
//             with further nextChunk calls after each end of the walk (a
//             call after a rejected header seeks over its payload and
//             goes on)
//      bits 3 and 4 both set: the inspector with a read buffer, built
//             once with the file name (whose path never changes) and
//             opened on the file with a reset for every input, as that
//             constructor does; with bits 1 and 2 as well, a new
//             inspector without a buffer, destroyed after the run (the
//             16 MiB buffer would cost more than most walks). Else one inspector
//             without a buffer, made once and reset by the run.
//      bit 4 alone: the JSON report instead (the run of runReport with
//             json; bit 2 is then not used)
//      bit 5: no -f (chunk list)   bit 6: no -j (JSON texts)
//      bit 7: no -c (register listing)
//   1  number of bins of the chunk-size histogram (-H), minus 1
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "run/JsonReport.h"
#include "run/Runs.h"
#include "scan/DataInspector.h"

namespace {

// The chunk walk beyond the run: the same file again on the state the run
// left, and nextChunk called again after each end of the walk. Every round
// reads at least one header word or ends the walk, so a bound by the file
// size is never reached on a correct reader.
void walkOn(morven::DataInspector& inspector, const std::string& path, std::ostream& out) {
  if (!inspector.setFile(path, false)) return;
  const uint64_t maxRounds = inspector.walker().fileSize() / 8 + 2;
  for (uint64_t round = 0; round < maxRounds; ++round) {
    while (inspector.walker().nextChunk()) {
      out << morven::chunkTypeName(inspector.walker().chunkType())
          << inspector.walker().chunkBytes() << inspector.walker().chunkIsData()
          << inspector.walker().chunkIsVx7PixConfig() << "\n";
    }
    if (inspector.walker().feof() || inspector.walker().ferror() || inspector.walker().errNo() != 0)
      break;
  }
  out << inspector.walker().errNo() << inspector.walker().ferror() << inspector.walker().feof()
      << inspector.walker().fileIndex() << inspector.walker().headerTotal()
      << inspector.walker().chunkBytesTotal() << inspector.walker().hasError() << "\n";
}

void checkRun(morven::DataInspector& inspector, const morven::RunSettings& s,
              const std::vector<std::string>& files, bool walkAgain, std::ostream& out) {
  morven::printBanner(s, files.size() > 1, out);
  morven::checkFiles(s, files, inspector, out);
  if (walkAgain) walkOn(inspector, files.front(), out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static mvscan_fuzz::MemoryFile file;
  mvscan_fuzz::InputBytes in(data, size);
  const uint8_t options = in.take();
  morven::RunSettings s;
  s.listChunks = (options & 32) == 0;
  s.showJson = (options & 64) == 0;
  s.showConfig = (options & 128) == 0;
  s.histogram = true;
  s.histogramBins = 1 + in.take();

  std::string bytes;
  if (options & 1) bytes.assign("MORVEN\0\0", 8);
  bytes.append(reinterpret_cast<const char*>(in.rest()), in.restSize());
  file.assign(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

  std::vector<std::string> files = {file.path()};
  if (options & 2) files.push_back(file.path());
  const bool walkAgain = (options & 4) != 0;

  // One stream takes the run's reports and the inspector's messages, as on
  // the command line; it is emptied and set back to its start format for
  // every input (the register listing leaves hex and fill behind).
  static std::ostringstream out;
  static const std::ostringstream pristine;
  out.str("");
  out.clear();
  out.copyfmt(pristine);
  if ((options & 0x1E) == 0x1E) {
    morven::DataInspector inspector(false);
    checkRun(inspector, s, files, walkAgain, out);
    return 0;
  }
  if ((options & 0x18) == 0x18) {
    static morven::DataInspector buffered(file.path());
    buffered.setFile(file.path(), true);
    checkRun(buffered, s, files, walkAgain, out);
    return 0;
  }
  static morven::DataInspector inspector(false);
  if ((options & 0x18) == 0x10) {
    // The JSON report's run as runReport makes it, on the shared inspector
    // (building one for every input would cost more than the walk).
    s.json = true;
    morven::JsonReport report(s, out);
    inspector.setProblemSink([&report](const morven::FileProblem& p) { report.problem(p); });
    report.runEnded(morven::runFiles(s, files, inspector, report));
    inspector.setProblemSink(nullptr);
    return 0;
  }
  checkRun(inspector, s, files, walkAgain, out);
  return 0;
}
