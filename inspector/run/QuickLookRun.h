// The quick-look report of a statistics run (--html, --hot-pixels): a
// RunReport that passes every step on to the run's own report (text or
// JSON) and notes what the page tells about the files, then writes the page
// and the list when the run has ended.
#ifndef MORVEN_QUICKLOOKRUN_H
#define MORVEN_QUICKLOOKRUN_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/QuickLook.h"
#include "run/RunReport.h"
#include "run/Runs.h"

namespace morven {

// Writes the page and the list that the settings ask for from q; returns
// what went wrong, one line per file that could not be written.
std::vector<std::string> writeQuickLook(const RunSettings& s, QuickLook& q);

// The settings of a document, by name, as the page lists them.
void quickLookSettings(const nlohmann::json& settings, QuickLook& q);

class QuickLookRun : public RunReport {
 public:
  // inner: the report of the run; out: its output stream.
  QuickLookRun(const RunSettings& s, RunReport& inner, DataInspector& inspector, std::ostream& out);

  // The page and list of the run so far, while its last file is followed:
  // written to temporary files that then take their names, the page with a
  // refresh. Returns what could not be written.
  std::vector<std::string> snapshot(int refreshSeconds);
  // What the page writing said (after runEnded); empty: all written.
  const std::vector<std::string>& failures() const { return _failures; }
  // Called with the failures before the run's report hears of the end.
  std::function<void(const std::vector<std::string>&)> onWritten;

  std::ostream& checkStream() override { return _inner.checkStream(); }
  CheckFindings* findingsOut() override { return _inner.findingsOut(); }
  DisplayState& displayState() override { return _inner.displayState(); }
  void fileFailed(const std::string& name) override;
  // Noted for the page, and passed on.
  void problem(const FileProblem& p) override;
  void checkFileOpened(const std::string& name, const DataInspector& inspector) override {
    _inner.checkFileOpened(name, inspector);
  }
  void chunk(const DataInspector& inspector, bool firstChunk) override {
    _inner.chunk(inspector, firstChunk);
  }
  void checkFileEnded(const DataInspector& inspector) override { _inner.checkFileEnded(inspector); }
  void scanFileOpened(const std::string& name, const DataInspector& inspector) override;
  void skipped(uint64_t packets) override { _inner.skipped(packets); }
  void display(const RunSettings& s, DataInspector& inspector, uint64_t index) override {
    _inner.display(s, inspector, index);
  }
  void packet(DataInspector& inspector, uint64_t index, uint64_t word) override {
    _inner.packet(inspector, index, word);
  }
  void testGenChecked(const DataInspector& inspector, uint64_t checked) override {
    _inner.testGenChecked(inspector, checked);
  }
  void countersChecked(const DataInspector& inspector, uint64_t checked) override {
    _inner.countersChecked(inspector, checked);
  }
  void statistics(const DataInspector& inspector) override { _inner.statistics(inspector); }
  void scanFileEnded(const DataInspector& inspector) override;
  void runEnded(RunEnd end) override;
  bool imageFailed() const override { return _inner.imageFailed() || !_failures.empty(); }

 private:
  const RunSettings& _s;
  RunReport& _inner;
  DataInspector& _inspector;
  std::vector<QuickLookFile> _files;
  std::vector<QuickLookError> _pending;  // problems before the file's report began
  bool _inFile = false;
  uint64_t _packetsBefore = 0;
  std::vector<std::string> _failures;
};

}  // namespace morven

#endif  // MORVEN_QUICKLOOKRUN_H
