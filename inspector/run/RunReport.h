// What a run tells about the files it reads, as calls: the run loops of
// Runs.cpp walk the files and call a report at each step; the text report
// prints the lines a person reads, the JSON report (JsonReport.h) builds
// one document of the same figures. There is one copy of each run loop, and
// a report never reads the files itself.
#ifndef MORVEN_RUNREPORT_H
#define MORVEN_RUNREPORT_H

#include <cstdint>
#include <ostream>
#include <string>

#include "report/CheckFindings.h"
#include "report/DisplayState.h"
#include "run/RunSettings.h"
#include "scan/DataInspector.h"

namespace morven {

class RunReport {
 public:
  virtual ~RunReport() = default;

  // False once the output has refused a write: the run stops. Asked before
  // every chunk of a walk over millions of them: not a virtual call.
  bool writable() const { return bool(_output); }
  // Whether the file check calls chunk() for every chunk: a plain text
  // check of a file of a million chunks says nothing per chunk.
  bool followsChunks() const { return _followsChunks; }
  // A file that the run was asked to write beside its output (the
  // picture, the quick-look page, the hot-pixel list) could not be written.
  virtual bool imageFailed() const { return _imageFailed; }
  // The stream the checks write their lines to.
  virtual std::ostream& checkStream() = 0;
  // Where the checks put their findings besides their lines; none: nullptr.
  virtual CheckFindings* findingsOut() { return nullptr; }
  // What the display carries from file to file of the run.
  virtual DisplayState& displayState() { return _display; }

  // A file that could not be opened or is not a MORVEN data file; the run
  // stops after it.
  virtual void fileFailed(const std::string& name) = 0;
  // A problem of the file being read (or about to be), at the moment the
  // walk finds it: the text report writes its lines, the JSON report and
  // the quick-look page keep it for the file's entry.
  virtual void problem(const FileProblem& p) = 0;
  // Counts a problem and hands it to problem(): what the run's sink calls.
  void tell(const FileProblem& p) {
    ++_problems;
    problem(p);
  }
  // The problems told so far, read while it grows (the progress line).
  const uint64_t& problemsTold() const { return _problems; }
  // What a file's check found wrong (CheckFindings::failures), and the sum
  // over the run.
  void checkFailed(uint64_t failures) { _checkFailures += failures; }
  uint64_t checkFailuresTold() const { return _checkFailures; }

  // ---- The file check ----
  virtual void checkFileOpened(const std::string& name, const DataInspector& inspector) = 0;
  virtual void chunk(const DataInspector& inspector, bool firstChunk) = 0;
  virtual void checkFileEnded(const DataInspector& inspector) = 0;

  // ---- The pixel scan ----
  virtual void scanFileOpened(const std::string& name, const DataInspector& inspector) = 0;
  virtual void skipped(uint64_t packets) = 0;
  // The display of a file's packets, numbered on from index: by default
  // every links-th packet goes to packet() until the output refuses.
  virtual void display(const RunSettings& s, DataInspector& inspector, uint64_t index);
  // The display: the current packet, word, the index-th of the file.
  virtual void packet(DataInspector& inspector, uint64_t index, uint64_t word) = 0;
  // After the check of a file; checked: the words it judged.
  virtual void testGenChecked(const DataInspector& inspector, uint64_t checked) = 0;
  virtual void countersChecked(const DataInspector& inspector, uint64_t checked) = 0;
  // After the statistics scan of a file: the tallies of all files so far.
  virtual void statistics(const DataInspector& inspector) = 0;
  virtual void scanFileEnded(const DataInspector& inspector) = 0;

  // After the last step of the run, however it ended.
  virtual void runEnded(RunEnd end) = 0;

 protected:
  RunReport(const std::ostream& output, bool followsChunks)
      : _output(output), _followsChunks(followsChunks) {}
  void pictureFailed() { _imageFailed = true; }

 private:
  const std::ostream& _output;
  const bool _followsChunks;
  bool _imageFailed = false;
  uint64_t _problems = 0;
  DisplayState _display;
  uint64_t _checkFailures = 0;
};

// The run loops over a report: the file check or the pixel scan as the
// settings ask, without a banner.
RunEnd runFiles(const RunSettings& s, const std::vector<std::string>& fileNames,
                DataInspector& inspector, RunReport& report);

}  // namespace morven

#endif  // MORVEN_RUNREPORT_H
