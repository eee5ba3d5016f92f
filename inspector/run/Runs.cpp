#include "run/Runs.h"

#include <cstring>
#include <functional>
#include <sstream>

#include "report/Checks.h"
#include "report/ChunkReports.h"
#include "report/CounterImage.h"
#include "report/PixelDisplay.h"
#include "report/TallyReports.h"
#include "run/FollowRun.h"
#include "run/JsonReport.h"
#include "run/QuickLookRun.h"
#include "run/ReplaceFile.h"
#include "run/RunReport.h"
#include "text/Format.h"

namespace morven {

namespace {

std::string padRight(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// The chunk listing, the JSON text or the register listing of the current
// chunk, as the settings ask.
void reportChunk(const RunSettings& s, const ChunkWalker& walk, std::ostream& out,
                 bool firstChunk) {
  if (s.listChunks) {
    if (firstChunk) {
      out << "--> List of chunks:" << std::endl;
      out << padRight("Chunk Header", 25) << "  "
          << "Size [bytes]" << std::endl;
      out << padRight("------------", 25) << "  "
          << "------------" << std::endl;
    }
    out << padRight(chunkTypeName(walk.chunkType()), 25) << "  " << walk.chunkBytes() << std::endl;
  }
  if (s.showJson && walk.chunkIsJson()) {
    if (!s.listChunks) out << "=> " << chunkTypeName(walk.chunkType()) << ":" << std::endl;
    std::string text = walk.jsonString();
    if (text.empty()) {
      out << "<empty>" << std::endl;
    } else {
      out << text << std::endl;
    }
  } else if (s.showConfig && walk.chunkIsVx7Config()) {
    if (!s.listChunks) {
      out << "=> " << chunkTypeName(walk.chunkType()) << " (size=" << walk.chunkBytes() << "):";
      if (walk.configBytes().empty()) out << std::endl;
    }
    displayVx7Config(walk, out);
  }
}

// What the file check says once a file's chunk walk has ended.
void reportEndOfFile(const RunSettings& s, const ChunkWalker& walk, std::ostream& out) {
  if (walk.errNo() != 0) out << "### Error errno: " << std::strerror(walk.errNo()) << std::endl;
  if (walk.ferror()) out << "### File error" << std::endl;
  if (walk.feof()) {
    out << "=> End-of-file reached (index=" << walk.fileIndex() << ")" << std::endl;
  } else {
    out << "### Not at end-of-file?" << std::endl;
  }
  out << "Chunks = " << walk.headerTotal() << ", Total data bytes = " << walk.chunkBytesTotal()
      << " (" << walk.chunkBytesTotal() / 8 << " pixels)" << std::endl;
  logChunkCounters(walk, out);
  if (s.histogram) chunkSizesHistogram(walk, out, s.histogramBins);
  if (walk.hasError()) out << "### There were errors in this file" << std::endl;
}

// The report a person reads: every line on the one output stream, which the
// inspector writes to as well.
class TextReport : public RunReport {
 public:
  TextReport(const RunSettings& s, bool severalFiles, std::ostream& out)
      : RunReport(out, s.listChunks || s.showJson || s.showConfig),
        _s(s),
        _severalFiles(severalFiles),
        _out(out) {}

  std::ostream& checkStream() override { return _out; }
  CheckFindings* findingsOut() override { return _findings; }
  void setFindingsOut(CheckFindings* findings) { _findings = findings; }
  void fileFailed(const std::string&) override {}
  // A data chunk that the packet stream finds cut short is no part of the
  // pixel modes' text.
  void problem(const FileProblem& p) override {
    if (p.shownInText) _out << problemText(p) << std::flush;
  }

  void checkFileOpened(const std::string& name, const DataInspector& inspector) override {
    _out << "File opened: " << name << std::endl;
    _out << "File header: " << inspector.walker().fileHeaderString() << std::endl;
    if (inspector.walker().sizeKnownAtOpen()) {
      _out << checkSizeLine(inspector) << std::flush;
    } else {
      holdSizeLine();
    }
  }
  void chunk(const DataInspector& inspector, bool firstChunk) override {
    reportChunk(_s, inspector.walker(), _out, firstChunk);
  }
  // A stream's size is the bytes it held: told once it has been read.
  void checkFileEnded(const DataInspector& inspector) override {
    reportEndOfFile(_s, inspector.walker(), _out);
    if (!inspector.walker().sizeKnownAtOpen()) sizeLineAtEnd(checkSizeLine(inspector));
    if (_severalFiles) _out << std::endl;
  }

  void scanFileOpened(const std::string& name, const DataInspector& inspector) override {
    _out << "File opened: " << name << std::endl;
    _out << "File header: " << inspector.walker().fileHeaderString() << std::endl;
    if (inspector.walker().sizeKnownAtOpen()) {
      _out << scanSizeLine(inspector) << std::flush;
    } else {
      holdSizeLine();
    }
  }
  void skipped(uint64_t packets) override {
    if (packets > 0) {
      _out << "Skip to pixel " << packets + 1 << " (bytes " << hexString(packets * 8) << ")"
           << std::endl;
    }
  }
  // The text display takes the packets in batches, straight from the
  // inspector's buffer.
  void display(const RunSettings& s, DataInspector& inspector, uint64_t index) override {
    displayPackets(_out, inspector.stream(), displayState(),
                   DisplayOptions{s.showCounter, s.showRaw, s.showFields, s.testGen,
                                  s.skipZeroPackets, s.lineByLine},
                   index, s.links);
  }
  void packet(DataInspector& inspector, uint64_t index, uint64_t) override {
    displayPixel(
        _out, inspector.stream(), displayState(),
        DisplayOptions{_s.showCounter, _s.showRaw, _s.showFields, _s.testGen, _s.skipZeroPackets},
        index);
  }
  void testGenChecked(const DataInspector& inspector, uint64_t checked) override {
    _out << "Total pixelpackets = " << inspector.stream().delivered()
         << " (heartbeats = " << inspector.tallies().types[VX7_EOC_HEARTBEAT] << ")" << std::endl;
    if (checked == 0) _out << "### Nothing was actually checked: check file contents\n";
  }
  void countersChecked(const DataInspector& inspector, uint64_t checked) override {
    _out << "Total 'packets' = " << inspector.stream().delivered() << std::endl;
    if (checked == 0) _out << "### Nothing was actually checked: check file contents\n";
  }
  void statistics(const DataInspector& inspector) override {
    if (!printStatistics(_s, inspector, _out)) pictureFailed();
  }
  void scanFileEnded(const DataInspector& inspector) override {
    if (!inspector.walker().sizeKnownAtOpen()) sizeLineAtEnd(scanSizeLine(inspector));
    if (_severalFiles) _out << std::endl;
  }
  void runEnded(RunEnd) override {}

 private:
  static std::string checkSizeLine(const DataInspector& inspector) {
    return "File size  : " + std::to_string(inspector.walker().fileSize()) + " bytes\n";
  }
  static std::string scanSizeLine(const DataInspector& inspector) {
    const uint64_t size = inspector.walker().fileSize();
    std::string line =
        "File size  : " + std::to_string(size) + " bytes (" + std::to_string(size / 8) + "*8";
    if (size % 8 != 0) line += " + " + std::to_string(size % 8);
    return line + ")\n";
  }
  // A stream's size line: at the end of its file's report, or, when the
  // report is held (a followed run), where a file's would be.
  void holdSizeLine() {
    if (_heldSizes != nullptr) _heldAt = uint64_t(_out.tellp());
  }
  void sizeLineAtEnd(const std::string& line) {
    if (_heldSizes != nullptr) {
      _heldSizes->emplace_back(_heldAt, line);
    } else {
      _out << line << std::flush;
    }
  }

 public:
  // Size lines of streams to be put in where a file's would be, in the
  // held report: (offset, line).
  void holdSizeLines(std::vector<std::pair<uint64_t, std::string>>* held) { _heldSizes = held; }

 private:
  std::vector<std::pair<uint64_t, std::string>>* _heldSizes = nullptr;
  uint64_t _heldAt = 0;

  const RunSettings& _s;
  bool _severalFiles;
  std::ostream& _out;
  CheckFindings* _findings = nullptr;
};

// The packets of one opened file, in the mode the settings ask for.
void scanPackets(const RunSettings& s, DataInspector& inspector, RunReport& report,
                 uint64_t skipped) {
  if (s.displayPixels) {
    report.display(s, inspector, skipped);
  } else if (s.testGen || s.counterCheck) {
    // The run counts what the checks find wrong (for --strict), also where
    // the report keeps no records of it.
    CheckFindings counted;
    counted.keepRecords = false;
    CheckFindings* findings = report.findingsOut() != nullptr ? report.findingsOut() : &counted;
    const uint64_t before = findings->failures;
    if (s.testGen) {
      report.testGenChecked(inspector, checkAsTestGenPixels(report.checkStream(),
                                                            inspector.stream(), s.links, findings));
    } else {
      report.countersChecked(
          inspector, checkAsCounters(report.checkStream(), inspector.stream(), s.links, findings));
    }
    report.checkFailed(findings->failures - before);
  } else {
    inspector.processAllPixels();
    report.statistics(inspector);
  }
}

// Tells the progress of the run, if any, where the walk has got.
void followProgress(const RunSettings& s, DataInspector& inspector, size_t fileIndex) {
  if (s.progress == nullptr) return;
  RunProgress* progress = s.progress;
  // A compressed file's size is known only at its end, but its compressed
  // size at the start: its progress is the compressed bytes read of those.
  uint64_t compressed;
  if (!inspector.walker().sizeKnownAtOpen() && inspector.walker().compressedTotal(compressed)) {
    progress->fileStarted(fileIndex, compressed);
    const ChunkWalker& walker = inspector.walker();
    inspector.walker().setProgressHook(
        [progress, &walker](uint64_t) { progress->at(walker.compressedSize()); });
    return;
  }
  progress->fileStarted(fileIndex, inspector.walker().sizeKnownAtOpen()
                                       ? inspector.walker().fileSize()
                                       : RunProgress::UNKNOWN_SIZE);
  inspector.walker().setProgressHook([progress](uint64_t offset) { progress->at(offset); });
}

void followIfLast(const RunSettings& s, DataInspector& inspector, size_t index, size_t files) {
  inspector.walker().setFollow(s.follow && index + 1 == files ? s.followSettings : nullptr);
}

RunEnd checkLoop(const RunSettings& s, const std::vector<std::string>& fileNames,
                 DataInspector& inspector, RunReport& report) {
  // A file whose reading failed is reported as far as it was read, and the
  // run goes on to the next file; it ends as failed.
  bool readFailed = false;
  for (size_t i = 0; i < fileNames.size(); ++i) {
    const std::string& name = fileNames[i];
    if (!report.writable()) return RunEnd::OutputFailed;
    followIfLast(s, inspector, i, fileNames.size());
    if (!inspector.setFile(name, true)) {
      report.fileFailed(name);
      return report.writable() ? RunEnd::FileFailed : RunEnd::OutputFailed;
    }
    followProgress(s, inspector, i);
    report.checkFileOpened(name, inspector);
    bool firstChunk = true;
    const bool follow = report.followsChunks();
    while (report.writable() && inspector.walker().nextChunk()) {
      if (follow) report.chunk(inspector, firstChunk);
      firstChunk = false;
    }
    if (!report.writable()) return RunEnd::OutputFailed;
    inspector.walker().walkEnded();
    report.checkFileEnded(inspector);
    readFailed = readFailed || inspector.walker().ferror();
  }
  if (!report.writable()) return RunEnd::OutputFailed;
  return readFailed ? RunEnd::ReadFailed : RunEnd::Completed;
}

// How the packet stream is read, as the settings ask.
void readPacketsAs(const RunSettings& s, DataInspector& inspector) {
  inspector.stream().setReverseBytes(s.reverseBytes);
  inspector.stream().setReverseWords(s.reverseWords);
  inspector.stream().setFromPelvan(s.fromPelvan);
  inspector.setThreads(s.threads);
}

RunEnd scanLoop(const RunSettings& s, const std::vector<std::string>& fileNames,
                DataInspector& inspector, RunReport& report, bool resetFirst = true) {
  bool firstFile = resetFirst;
  bool readFailed = false;
  for (size_t i = 0; i < fileNames.size(); ++i) {
    const std::string& name = fileNames[i];
    if (!report.writable()) return RunEnd::OutputFailed;
    followIfLast(s, inspector, i, fileNames.size());
    if (!inspector.setFile(name, firstFile)) {
      report.fileFailed(name);
      return report.writable() ? RunEnd::FileFailed : RunEnd::OutputFailed;
    }
    followProgress(s, inspector, i);
    if (s.frameBits != 0) forceFrameData(report.displayState(), report.checkStream(), s.frameBits);
    report.scanFileOpened(name, inspector);
    firstFile = false;

    uint64_t skipped = 0;
    while (skipped < s.skipCount && inspector.stream().nextPixel()) ++skipped;
    report.skipped(skipped);
    readPacketsAs(s, inspector);
    if (!report.writable()) return RunEnd::OutputFailed;
    scanPackets(s, inspector, report, skipped);
    report.scanFileEnded(inspector);
    readFailed = readFailed || inspector.walker().ferror();
  }
  if (!report.writable()) return RunEnd::OutputFailed;
  return readFailed ? RunEnd::ReadFailed : RunEnd::Completed;
}

// A run over a report, its problems and its end told to the report.
RunEnd reportedRun(const RunSettings& s, const std::vector<std::string>& fileNames,
                   DataInspector& inspector, RunReport& report) {
  inspector.setProblemSink([&report](const FileProblem& p) { report.tell(p); });
  const RunEnd end = runFiles(s, fileNames, inspector, report);
  report.runEnded(end);
  return end == RunEnd::Completed && report.imageFailed() ? RunEnd::ImageFailed : end;
}

}  // namespace

// The display loop: every links-th packet from the one after the skip.
void RunReport::display(const RunSettings& s, DataInspector& inspector, uint64_t index) {
  int k = 0;
  uint64_t word;
  while (inspector.stream().nextPixel(&word)) {
    ++index;
    if (++k == s.links) {
      k = 0;
      packet(inspector, index, word);
      if (!writable()) return;
    }
  }
}

bool isStatisticsRun(const RunSettings& s) {
  return s.pixelScan && !s.displayPixels && !s.testGen && !s.counterCheck;
}

// The statistics block after each file: EoC list, picture, ToA histogram,
// total, chunk counts.
bool printStatistics(const RunSettings& s, const DataInspector& inspector, std::ostream& out) {
  if (s.eocList) {
    out << std::endl;
    logEocCounters(inspector.tallies(), out, s.eocListAll);
  }
  const std::string image = imageFileName(s);
  const std::string imageError =
      image.empty() ? std::string() : writeRunPicture(s, inspector.tallies().pixels.get(), image);
  if (!imageError.empty()) out << "### " << imageError << std::endl;
  if (s.histogram) toaHistogram(inspector.tallies(), out, s.histogramBins);
  out << "Total pixelpackets = " << inspector.stream().delivered() << std::endl;
  out << std::endl;
  logChunkCounters(inspector.walker(), out);
  return imageError.empty();
}

void printBanner(const RunSettings& s, bool severalFiles, std::ostream& out) {
  if (s.testGen && s.displayPixels) {
    out << "=> Display TestGenerator pixel format (#links=" << s.links << ")";
  } else if (s.testGen) {
    out << "=> Check TestGenerator pixel format (#links=" << s.links << ")";
  } else if (s.counterCheck) {
    out << "=> Check TestGenerator counter (#links=" << s.links << ")";
  }
  if (s.testGen || s.counterCheck) out << std::endl;
  if (s.displayPixels) {
    out << "=> Display pixels (using stride=" << s.links << ")" << std::endl;
  } else if (s.pixelScan && !s.testGen && !s.counterCheck) {
    out << "=> Scan pixels gathering statistics" << std::endl;
  } else if (!s.testGen && !s.counterCheck) {
    out << "=> MORVEN data file check" << std::endl;
  }
  if (s.pixelScan && s.reverseWords) out << "(words reversed)" << std::endl;
  if (s.pixelScan && s.reverseBytes) out << "(bytes reversed)" << std::endl;
  if (severalFiles) out << std::endl;
}

RunEnd runFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                DataInspector& inspector, RunReport& report) {
  return s.pixelScan ? scanLoop(s, fileNames, inspector, report)
                     : checkLoop(s, fileNames, inspector, report);
}

namespace {

// While a run of the caller's inspector goes on, the problems that no one
// else takes are the text report's.
class ProblemsToReport {
 public:
  ProblemsToReport(DataInspector& inspector, RunReport& report)
      : _inspector(inspector), _told(!inspector.problemSink()) {
    if (_told) inspector.setProblemSink([&report](const FileProblem& p) { report.tell(p); });
  }
  ~ProblemsToReport() {
    if (_told) _inspector.setProblemSink(nullptr);
  }
  ProblemsToReport(const ProblemsToReport&) = delete;
  ProblemsToReport& operator=(const ProblemsToReport&) = delete;

 private:
  DataInspector& _inspector;
  const bool _told;
};

}  // namespace

RunEnd checkFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                  DataInspector& inspector, std::ostream& out) {
  TextReport report(s, fileNames.size() > 1, out);
  ProblemsToReport told(inspector, report);
  return checkLoop(s, fileNames, inspector, report);
}

RunEnd scanFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                 DataInspector& inspector, std::ostream& out, bool resetFirst,
                 CheckFindings* findings) {
  TextReport report(s, fileNames.size() > 1, out);
  report.setFindingsOut(findings);
  ProblemsToReport told(inspector, report);
  return scanLoop(s, fileNames, inspector, report, resetFirst);
}

RunEnd scanMemory(const RunSettings& s, const unsigned char* data, size_t bytes,
                  DataInspector& inspector, std::ostream& out) {
  TextReport report(s, false, out);
  ProblemsToReport told(inspector, report);
  if (!report.writable()) return RunEnd::OutputFailed;
  inspector.stream().setDataChunk(data, bytes);
  readPacketsAs(s, inspector);
  scanPackets(s, inspector, report, 0);
  return report.writable() ? RunEnd::Completed : RunEnd::OutputFailed;
}

RunEnd run(const RunSettings& s, const std::vector<std::string>& fileNames, std::ostream& out) {
  return runReport(s, fileNames, out).end;
}

namespace {

// A followed run tallies on the reading thread (the snapshots read the
// tallies between reads) and follows its last file.
RunSettings followedSettings(const RunSettings& s, const FollowSettings* follow) {
  RunSettings run = s;
  if (s.follow) {
    run.threads = 1;
    run.followSettings = follow;
  }
  return run;
}

// The held text of a followed run with each stream's size put in where a
// file's stands.
std::string withSizes(std::string text,
                      const std::vector<std::pair<uint64_t, std::string>>& sizes) {
  for (auto it = sizes.rbegin(); it != sizes.rend(); ++it) text.insert(it->first, it->second);
  return text;
}

// What a followed display does before it waits: its lines go out.
std::function<void()> waitingHook(const RunSettings& s, std::ostream& out) {
  if (s.handOutputOn) return s.handOutputOn;
  return [&out] { out.flush(); };
}

// The run over its report (the quick-look report around it when there is
// one), with the settings a followed last file needs; shown: the output
// of a report that is not held, which a followed display hands on before
// each wait.
RunSummary runReportedOn(const RunSettings& s, const std::vector<std::string>& fileNames,
                         DataInspector& inspector, RunReport& report, QuickLookRun* look,
                         std::function<void()> snapshot, std::ostream* shown) {
  RunReport& told = look != nullptr ? *look : report;
  FollowSettings follow =
      followSettings(s, inspector, look, told.problemsTold(), std::move(snapshot));
  if (shown != nullptr) follow.waiting = waitingHook(s, *shown);
  const RunSettings run = followedSettings(s, &follow);
  RunSummary summary;
  summary.end = reportedRun(run, fileNames, inspector, told);
  summary.problems = told.problemsTold();
  summary.checkFailures = told.checkFailuresTold();
  return summary;
}

// A held report written out at the end of a followed run.
void writeHeld(const std::string& text, std::ostream& out, RunSummary& summary) {
  out << text << std::flush;
  if (!out && summary.end != RunEnd::OutputFailed) summary.end = RunEnd::OutputFailed;
}

// The JSON document. A followed run holds it until the end (as the text
// report); a followed statistics run also writes the document so far to
// the snapshot file at every tick.
RunSummary jsonRun(const RunSettings& s, const std::vector<std::string>& fileNames,
                   std::ostream& out, bool quickLook) {
  const bool hold = s.follow && !s.displayPixels;
  std::ostringstream held;
  std::ostream& text = hold ? held : out;
  JsonReport report(s, text);
  std::vector<std::pair<uint64_t, std::string>> sizes;
  if (hold) report.holdSizes(&sizes);
  DataInspector inspector(true);
  inspector.tallies().keepHits(isStatisticsRun(s));
  QuickLookRun look(s, report, inspector, text);
  look.onWritten = [&](const std::vector<std::string>& failures) {
    report.quickLookWritten(failures);
  };
  std::function<void()> snapshot;
  if (hold && isStatisticsRun(s) && !s.snapshotFile.empty()) {
    snapshot = [&] {
      const std::string document = withSizes(held.str(), sizes) + report.closingNow(inspector);
      std::string why;
      replaceFile(s.snapshotFile, why, [&](const std::string& tmp, std::string& error) {
        return writeTextFile(tmp, document, error);
      });
    };
  }
  RunSummary summary = runReportedOn(s, fileNames, inspector, report, quickLook ? &look : nullptr,
                                     snapshot, hold ? nullptr : &text);
  if (hold) writeHeld(withSizes(held.str(), sizes), out, summary);
  return summary;
}

// The text report. A followed run of a mode that shows nothing while it
// reads (not the display) holds its report until the end, and puts each
// stream's size line where a file's stands: its final report is that of a
// plain run over the finished file.
RunSummary textRun(const RunSettings& s, const std::vector<std::string>& fileNames,
                   std::ostream& out, bool quickLook) {
  const bool hold = s.follow && !s.displayPixels;
  std::ostringstream held;
  std::ostream& text = hold ? held : out;
  printBanner(s, fileNames.size() > 1, text);
  DataInspector inspector(true);
  inspector.tallies().keepHits(quickLook);
  TextReport report(s, fileNames.size() > 1, text);
  std::vector<std::pair<uint64_t, std::string>> sizes;
  if (hold) report.holdSizeLines(&sizes);
  QuickLookRun look(s, report, inspector, text);
  look.onWritten = [&](const std::vector<std::string>& failures) {
    for (const std::string& line : failures) text << "### " << line << std::endl;
  };
  RunSummary summary = runReportedOn(s, fileNames, inspector, report, quickLook ? &look : nullptr,
                                     nullptr, hold ? nullptr : &text);
  if (hold) writeHeld(withSizes(held.str(), sizes), out, summary);
  return summary;
}

}  // namespace

RunSummary runReport(const RunSettings& s, const std::vector<std::string>& fileNames,
                     std::ostream& out) {
  // The quick-look page and list need the hit tallies; the statistics
  // document carries them.
  const bool quickLook = isStatisticsRun(s) && (!s.htmlFile.empty() || !s.hotPixelsFile.empty());
  return s.json ? jsonRun(s, fileNames, out, quickLook) : textRun(s, fileNames, out, quickLook);
}

}  // namespace morven
