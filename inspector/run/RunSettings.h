// What a run is asked to do: the settings that the command line fills from
// its options, and what a run tells of its end and its progress. Apart from
// the runs themselves (Runs.h), so that a report (RunReport.h) knows the
// settings without knowing the run loops.
#ifndef MORVEN_RUNSETTINGS_H
#define MORVEN_RUNSETTINGS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace morven {

class RunProgress;
struct FollowSettings;  // io/FollowSource.h

struct RunSettings {
  // The pixel scan and its modes; without pixelScan, the file check.
  bool pixelScan = false;
  bool displayPixels = false;  // -P, -R
  bool showFields = false;     // -P, -Q
  bool showRaw = false;        // -R
  bool showCounter = false;    // -C
  bool skipZeroPackets = false;
  bool testGen = false;       // -Q
  bool counterCheck = false;  // -q
  bool eocList = false;
  bool eocListAll = true;
  // The file check's reports.
  bool listChunks = false;
  bool showJson = false;
  bool showConfig = false;
  bool histogram = false;  // ToA histogram in the statistics, chunk sizes in the check
  // How the packet stream is read.
  bool reverseBytes = false;
  bool reverseWords = false;
  bool fromPelvan = false;
  int frameBits = 0;  // 0, 8 or 16
  int histogramBins = 1;
  int links = 1;  // links of the checks, stride of the display
  uint64_t skipCount = 0;
  // The output is a terminal: the display hands every line over as it
  // ends rather than in batches.
  bool lineByLine = false;
  // Threads of the statistics scan; 0: the cores available to the process.
  int threads = 0;
  // Where the statistics run writes its hit-count picture (".png" is
  // added); empty: no picture.
  std::string imageBase = "inspect";
  // The picture's whole file name; when set, it is used instead of
  // imageBase.
  std::string imageFile;
  // One JSON document (the display: JSON Lines) instead of the text report.
  bool json = false;
  // The quick-look page and the hot-pixel list of a statistics run, written
  // after its last file; empty: none. A pixel is hot above hotFactor times
  // the median hits of the hit pixels.
  std::string htmlFile;
  std::string hotPixelsFile;
  double hotFactor = 10.0;
  // Told how far the run has got; none: nullptr.
  RunProgress* progress = nullptr;
  // The last file is followed while it is written (see io/FollowSource.h):
  // the run ends when it is stopped or when the file has not grown for
  // idleSeconds (0: never); every intervalSeconds the picture and the
  // quick-look page are written anew (each to a temporary file that then
  // takes the name, so a viewer never sees half a file).
  bool follow = false;
  double idleSeconds = 0;
  double intervalSeconds = 2;
  // A followed statistics run with --json also writes the document so far
  // to this file at every interval; empty: no snapshot.
  std::string snapshotFile;
  // Hands what the output holds to the system at once, when a followed
  // display waits for the writer (an output that writes in large blocks
  // holds its lines otherwise); none: a flush of the stream.
  std::function<void()> handOutputOn;
  // How the followed file is read: made by the run from the above.
  const FollowSettings* followSettings = nullptr;
};

// How far a run has got, for a progress line: each file as it is opened,
// then the place reached in it, once per read piece of a data chunk and
// every few thousand chunks.
class RunProgress {
 public:
  virtual ~RunProgress() = default;
  // The size of a stream, which is known only once it has been read.
  static constexpr uint64_t UNKNOWN_SIZE = UINT64_MAX;
  // A file's size and the offsets reached in it; for a compressed file
  // whose compressed size is known, that size and the compressed bytes read.
  virtual void fileStarted(size_t index, uint64_t size) = 0;
  virtual void at(uint64_t offset) = 0;
  // A followed file: the packets and problems so far, for the status line.
  virtual void counts(uint64_t packets, uint64_t problems) {
    (void)packets;
    (void)problems;
  }
};

// How a run ended.
enum class RunEnd {
  Completed,     // every file was read to its end
  FileFailed,    // a file could not be opened or is not a MORVEN data file
  OutputFailed,  // the output stream refused a write
  ImageFailed,   // every file was read, but the picture could not be written
  ReadFailed,    // a file could not be read to its end (its report ends where it failed)
};

// The picture's file name of the settings; empty: no picture.
inline std::string imageFileName(const RunSettings& s) {
  if (!s.imageFile.empty()) return s.imageFile;
  return s.imageBase.empty() ? std::string() : s.imageBase + ".png";
}

}  // namespace morven

#endif  // MORVEN_RUNSETTINGS_H
