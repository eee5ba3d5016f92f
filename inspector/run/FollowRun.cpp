#include "run/FollowRun.h"

#include <cmath>
#include <string>

#include "report/CounterImage.h"
#include "run/ReplaceFile.h"
#include "run/Runs.h"

namespace morven {

std::string writeRunPicture(const RunSettings& s, const uint64_t* counters,
                            const std::string& path) {
  if (!s.follow) return writeCounterImage(counters, path);
  std::string error;
  bool pngFailed = false;
  const bool written = replaceFile(path, error, [&](const std::string& tmp, std::string& e) {
    e = writeCounterImage(counters, tmp);
    pngFailed = !e.empty();
    return e.empty();
  });
  if (written) return "";
  return pngFailed ? error : "PNG error: " + path + ": " + error;
}

FollowSettings followSettings(const RunSettings& s, DataInspector& inspector, QuickLookRun* look,
                              const uint64_t& problems, std::function<void()> snapshot) {
  FollowSettings f;
  f.idleSeconds = s.idleSeconds;
  f.intervalSeconds = s.intervalSeconds;
  const std::string image = isStatisticsRun(s) ? imageFileName(s) : std::string();
  const int refresh = std::max(1, int(std::lround(s.intervalSeconds)));
  f.tick = [&s, &inspector, look, &problems, image, refresh, snapshot] {
    // A snapshot that cannot be written now may be written at the next
    // tick; the run's end writes (and reports) the last one.
    if (!image.empty()) (void)writeRunPicture(s, inspector.tallies().pixels.get(), image);
    if (look != nullptr) look->snapshot(refresh);
    if (snapshot) snapshot();
    if (s.progress != nullptr) {
      s.progress->counts(inspector.stream().delivered(), problems);
      s.progress->at(inspector.walker().fileSize());
    }
  };
  return f;
}

}  // namespace morven
