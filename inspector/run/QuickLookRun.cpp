#include "run/QuickLookRun.h"

#include <utility>

#include "run/JsonReport.h"
#include "run/ReplaceFile.h"

namespace morven {

std::vector<std::string> writeQuickLook(const RunSettings& s, QuickLook& q) {
  std::vector<std::string> failures;
  std::string why;
  // A followed run's files may be open in a viewer: they are replaced in
  // one step, never written in place.
  const auto put = [&](const std::string& path,
                       bool (*write)(const QuickLook&, const std::string&, std::string&)) {
    if (!s.follow) return write(q, path, why);
    return replaceFile(path, why,
                       [&](const std::string& tmp, std::string& e) { return write(q, tmp, e); });
  };
  if (!s.htmlFile.empty() && !put(s.htmlFile, writeHtmlReport)) {
    failures.push_back("Cannot write the HTML report " + s.htmlFile + ": " + why);
  }
  if (!s.hotPixelsFile.empty() && !put(s.hotPixelsFile, writeHotPixels)) {
    failures.push_back("Cannot write the hot-pixel list " + s.hotPixelsFile + ": " + why);
  }
  return failures;
}

void quickLookSettings(const nlohmann::json& settings, QuickLook& q) {
  if (!settings.is_object()) return;
  for (auto it = settings.begin(); it != settings.end(); ++it) {
    q.settings.emplace_back(
        it.key(), it.value().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }
}

std::vector<std::string> QuickLookRun::snapshot(int refreshSeconds) {
  QuickLook q = quickLookOf(_inspector, _s.hotFactor);
  q.files = _files;
  if (_inFile && !q.files.empty()) {
    q.files.back().packets = _inspector.stream().delivered() - _packetsBefore;
    q.files.back().size = _inspector.walker().fileSize();
  }
  quickLookSettings(jsonSettings(_s), q);
  q.runEnd = "following";
  q.refreshSeconds = refreshSeconds;
  return writeQuickLook(_s, q);
}

QuickLookRun::QuickLookRun(const RunSettings& s, RunReport& inner, DataInspector& inspector,
                           std::ostream& out)
    : RunReport(out, inner.followsChunks()), _s(s), _inner(inner), _inspector(inspector) {}

void QuickLookRun::problem(const FileProblem& p) {
  if (_inFile && !_files.empty()) {
    _files.back().errors.push_back({p.offset, problemMessage(p)});
  } else {
    _pending.push_back({p.offset, problemMessage(p)});
  }
  _inner.problem(p);
}

void QuickLookRun::fileFailed(const std::string& name) {
  QuickLookFile f;
  f.name = name;
  f.opened = false;
  f.errors = std::exchange(_pending, {});
  _files.push_back(std::move(f));
  _inner.fileFailed(name);
}

void QuickLookRun::scanFileOpened(const std::string& name, const DataInspector& inspector) {
  QuickLookFile f;
  f.name = name;
  f.size = inspector.walker().fileSize();
  f.errors = std::exchange(_pending, {});
  _files.push_back(std::move(f));
  _inFile = true;
  _packetsBefore = inspector.stream().delivered();
  _inner.scanFileOpened(name, inspector);
}

void QuickLookRun::scanFileEnded(const DataInspector& inspector) {
  _files.back().packets = inspector.stream().delivered() - _packetsBefore;
  // A stream's size: the bytes it held, known now.
  _files.back().size = inspector.walker().fileSize();
  _inFile = false;
  _inner.scanFileEnded(inspector);
}

void QuickLookRun::runEnded(RunEnd end) {
  QuickLook q = quickLookOf(_inspector, _s.hotFactor);
  q.files = std::move(_files);
  quickLookSettings(jsonSettings(_s), q);
  q.runEnd = runEndName(end, _inner.imageFailed());
  _failures = writeQuickLook(_s, q);
  if (onWritten) onWritten(_failures);
  _inner.runEnded(end);
}

}  // namespace morven
