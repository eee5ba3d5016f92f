// The JSON report of a run (mvscan --json): one document with the figures
// of the text report as numbers and names, in the schema of
// docs/json-report.md; the display writes JSON Lines instead, one object
// per shown packet.
//
// The document is written as the run goes: each file's object when the
// file has been read (each chunk's object as it is met), so a run keeps no
// more in memory than the text report does. Every value is made by
// nlohmann::json, except the long integer lists (ToA counts, hit counts)
// and the packet lines, which have fixed layouts of numbers and are
// written directly.
#ifndef MORVEN_JSONREPORT_H
#define MORVEN_JSONREPORT_H

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/CheckFindings.h"
#include "run/RunReport.h"
#include "run/RunSettings.h"
#include "scan/DataInspector.h"

namespace morven {

// The document's format: its name and the version of its schema.
constexpr const char* JSON_FORMAT_NAME = "mvscan-report";
constexpr int JSON_FORMAT_VERSION = 1;

// The settings a document records; the counting ones must agree for
// documents to be merged.
nlohmann::json jsonSettings(const RunSettings& s);

// The tallies of a statistics run, written into an open object as its
// members "packets", "types", "toa", "hits" and "chunk_counts" (with a
// leading comma), and with the inspector's hit tallies "tot", "pc", "idle",
// "empty", "frame_hits" and "chunk_hits".
void writeStatisticsMembers(const RunSettings& s, const DataInspector& inspector,
                            std::ostream& out);

// A stream buffer that takes everything and keeps nothing: the inspector's
// own text in a JSON run, whose facts reach the report as values.
// The run_end member of a document: how the run ended, and whether a
// picture it was asked for could not be written.
const char* runEndName(RunEnd end, bool imageFailed);

class DiscardBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class JsonReport : public RunReport {
 public:
  JsonReport(const RunSettings& s, std::ostream& out);
  ~JsonReport() override;

  // The quick-look page and list have been written (failures: what could
  // not be): the statistics tell where they are.
  void quickLookWritten(const std::vector<std::string>& failures);

  std::ostream& checkStream() override { return _inspectorOut; }
  CheckFindings* findingsOut() override {
    return _s.testGen || _s.counterCheck ? &_findings : nullptr;
  }
  void fileFailed(const std::string& name) override;
  void problem(const FileProblem& p) override;

  void checkFileOpened(const std::string& name, const DataInspector& inspector) override;
  void chunk(const DataInspector& inspector, bool firstChunk) override;
  void checkFileEnded(const DataInspector& inspector) override;

  void scanFileOpened(const std::string& name, const DataInspector& inspector) override;
  void skipped(uint64_t packets) override;
  void packet(DataInspector& inspector, uint64_t index, uint64_t word) override;
  void testGenChecked(const DataInspector& inspector, uint64_t checked) override;
  void countersChecked(const DataInspector& inspector, uint64_t checked) override;
  void statistics(const DataInspector& inspector) override;
  void scanFileEnded(const DataInspector& inspector) override;

  void runEnded(RunEnd end) override;

  // A followed run holds its document until the end: the size of a stream
  // is then put in where a file's stands, (offset, members) in the held
  // text, so that the document is that of a plain run.
  void holdSizes(std::vector<std::pair<uint64_t, std::string>>* held) { _heldSizes = held; }
  // What closes the document held so far as if the run ended now, the
  // open file with the bytes read so far (a followed run's snapshot; for
  // a statistics run).
  std::string closingNow(const DataInspector& inspector) const;

 private:
  void beginDocument();
  void beginFile(const std::string& name, const DataInspector& inspector);
  void endFile(nlohmann::json members);
  void checked(const DataInspector& inspector, uint64_t checked, bool testGen);
  nlohmann::json takeProblems();

  const RunSettings& _s;
  std::ostream& _out;
  DiscardBuffer _inspectorText;
  std::ostream _inspectorOut;
  bool _lines;  // the display: JSON Lines
  bool _firstFile = true;
  bool _firstChunk = true;
  bool _fileOpen = false;
  // The open file is a stream: its size (and compressed size) go to the
  // end of its object.
  bool _sizeLater = false;
  std::vector<std::pair<uint64_t, std::string>>* _heldSizes = nullptr;
  uint64_t _sizeAt = 0;
  const DataInspector* _openFile = nullptr;
  uint64_t _skipped = 0;
  uint64_t _packetsBefore = 0;  // the packet total when the file was opened
  std::vector<FileProblem> _problems;
  CheckFindings _findings;
  // The run's last statistics, written after the files.
  bool _haveStatistics = false;
  const DataInspector* _statistics = nullptr;
  nlohmann::json _image;
  nlohmann::json _quickLook;
  nlohmann::json _checkTotals;
  nlohmann::json _fileCheck;
  std::string _failedFile;
};

}  // namespace morven

#endif  // MORVEN_JSONREPORT_H
