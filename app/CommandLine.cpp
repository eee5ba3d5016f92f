#include "CommandLine.h"

#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ios>
#include <ostream>
#include <string>
#include <vector>

#include "Progress.h"
#include "StdoutBuffer.h"
#include "format/MorvenFormat.h"
#include "io/FollowSource.h"
#include "run/Merge.h"

namespace mvscan {

namespace {

void usage(std::ostream& out) {
  out << "mvscan version " << std::hex << morven::VERSION_ID << std::endl << std::dec;
  out << "Inspect the data in a file (or files) containing MORVEN data." << std::endl
      << std::endl
      << "Usage: mvscan -h|V -c -C -e -f -j -H<bins> -L<links> -p|P|Q|q|R -s<cnt> -W <filenames>"
      << std::endl
      << "  -h         : Show this help text." << std::endl
      << "  -V         : Show version." << std::endl
      << "  -c         : In case of a chunk containing a Vexar7 configuration," << std::endl
      << "               display the contents, i.e. each register setting." << std::endl
      << "  -C         : Display a pixel packet counter as the first number (with options -P/R/Q)."
      << std::endl
      << "  -e|E       : Display a list of EoC counters (with option -p);" << std::endl
      << "               option -E: display only the counter values > 0." << std::endl
      << "  -f         : Display individual chunk headers and sizes (without options -p/P/Q)."
      << std::endl
      << "  -j         : Show JSON string in case of JSON-formatted chunks (without options "
         "-p/P/Q)."
      << std::endl
      << "  -H <bins>  : Display a histogram with <bins> bins (lines of text) of:" << std::endl
      << "               ToA (with option -p) or data chunk sizes (without -p)." << std::endl
      << "  -L <links> : Number of (Vexar7) links (with option -Q or -q) *or*" << std::endl
      << "               the stride when displaying pixels (with option -P);" << std::endl
      << "               use option -s to start from a pixel other than the first," << std::endl
      << "               to allow display of pixels from a selected link only." << std::endl
      << "  -p         : Scan the pixels, collecting statistics on ToA and EoC and" << std::endl
      << "               pixel x/y 'hits' (accumulated in case multiple file names are given)."
      << std::endl
      << "               (a greyscale image representation of the x/y counters is generated)."
      << std::endl
      << "  -P         : Scan the pixels, display individual pixel bit fields." << std::endl
      << "  -R         : Scan the pixels, display raw 64-bit value (hex) of each pixel."
      << std::endl
      << "  -Q         : Scan the pixels, check for the 'test-generator' format "
         "(work-in-progress),"
      << std::endl
      << "               or display 'test-generator pixel' bit fields (with option -P or -R)."
      << std::endl
      << "  -q         : Scan 8-byte packets, checking for being an incrementing counter value "
         "per link."
      << std::endl
      << "  -s <cnt>   : Skip <cnt> pixels before starting the pixel scan (with option -p/P/Q)."
      << std::endl
      << "  -W         : Expect a 'pelvan' header and trailer (8 bytes) in each 1KB (126 pixels)."
      << std::endl
      << " <filenames> : Name(s) of MORVEN data file(s)." << std::endl;
}

int arg_error(std::ostream& out, char option) {
  out << "### -" << option << ": error in argument" << std::endl;
  return 1;
}

int arg_range(std::ostream& out, char option, int lowest, int highest) {
  out << "### -" << option << ": argument not in range (" << lowest << ".." << highest << ")"
      << std::endl;
  return 1;
}

// Reads a signed decimal number the way "%d" does: leading blanks and a
// sign, then digits up to the first other character. False when there is
// no number at all. Out-of-range values saturate, so that the range checks
// see them as out of range rather than wrapped into range.
bool readInt(const char* text, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 10);
  return end != text;
}

// Reads an unsigned decimal number the way "%lu" does: a leading minus
// sign is taken and the value wraps modulo 2^64.
bool readUnsigned(const char* text, uint64_t& value) {
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return end != text;
}

// The short options, as getopt reads them.
constexpr char SHORT_OPTIONS[] = "0cCeEfF:hH:jL:pPQqrRs:VwW";

// The long options have codes above any character.
enum LongOptionCode {
  OPT_HELP = 256,
  OPT_VERSION,
  OPT_JSON,
  OPT_IMAGE,
  OPT_NO_IMAGE,
  OPT_MERGE,
  OPT_ALLOW_DUPLICATES,
  OPT_STRICT,
  OPT_NO_PROGRESS,
  OPT_THREADS,
  OPT_HTML,
  OPT_HOT_PIXELS,
  OPT_HOT_FACTOR,
  OPT_FOLLOW,
  OPT_IDLE,
  OPT_INTERVAL,
  OPT_SNAPSHOT,
};

// The one table of long options: getopt's table and the help text's list
// are both made from it, and the tests hold the man page and the bash
// completion to it.
constexpr LongOption LONG_OPTIONS[] = {
    {"help", nullptr, OPT_HELP, "Show this help text, with this list of long options."},
    {"version", nullptr, OPT_VERSION, "Show version (the same as -V)."},
    {"json", nullptr, OPT_JSON, "One JSON document as the report (JSON Lines with -P/-R)."},
    {"image", "PATH", OPT_IMAGE, "Write the picture of -p to PATH instead of inspect.png."},
    {"no-image", nullptr, OPT_NO_IMAGE, "Write no picture."},
    {"merge", nullptr, OPT_MERGE, "Report the sum of statistics documents of -p --json runs."},
    {"allow-duplicates", nullptr, OPT_ALLOW_DUPLICATES,
     "With --merge: count a file that two documents hold twice."},
    {"strict", nullptr, OPT_STRICT, "Status 3 on a structural error or a failed -Q/-q check."},
    {"no-progress", nullptr, OPT_NO_PROGRESS, "Show no progress line on standard error."},
    {"threads", "N", OPT_THREADS, "Tally the statistics on N threads (default: every core)."},
    {"html", "PATH", OPT_HTML, "Write the quick-look page of -p or --merge to PATH."},
    {"hot-pixels", "PATH", OPT_HOT_PIXELS, "Write the hot pixels of -p or --merge to PATH as CSV."},
    {"hot-factor", "K", OPT_HOT_FACTOR,
     "A pixel is hot above K x the median around it (default 10)."},
    {"follow", nullptr, OPT_FOLLOW, "Follow the last file as it is written (as tail -f does)."},
    {"idle", "SECONDS", OPT_IDLE, "With --follow: end once the file stops growing that long."},
    {"interval", "SECONDS", OPT_INTERVAL, "With --follow: renew picture and page this often (2)."},
    {"snapshot", "PATH", OPT_SNAPSHOT, "With --follow -p --json: the document so far, to PATH."},
};

// getopt's table of the long options, ended by a zero entry.
std::vector<option> getoptTable() {
  std::vector<option> table;
  for (const LongOption& o : LONG_OPTIONS) {
    table.push_back(
        {o.name, o.value != nullptr ? required_argument : no_argument, nullptr, o.code});
  }
  table.push_back({nullptr, 0, nullptr, 0});
  return table;
}

// The option as the help text shows it: "--image=PATH".
std::string optionText(const LongOption& o) {
  return std::string("--") + o.name + (o.value != nullptr ? std::string("=") + o.value : "");
}

// What --help prints after the text of -h: every long option on one line,
// the descriptions aligned.
void longUsage(std::ostream& out) {
  size_t width = 0;
  for (const LongOption& o : LONG_OPTIONS) width = std::max(width, optionText(o).size());
  out << std::endl
      << "Long options (anywhere among the arguments; a value also as the next argument):"
      << std::endl;
  for (const LongOption& o : LONG_OPTIONS) {
    const std::string text = optionText(o);
    out << "  " << text << std::string(width + 2 - text.size(), ' ') << o.help << std::endl;
  }
}

// Threads beyond any machine's cores make no scan faster.
constexpr int MAX_THREADS = 1024;

// A long option's argument refused: what is wrong with it, and the exit
// status.
int longArgError(std::ostream& out, const char* name,
                 const std::string& what = "error in argument") {
  out << "### " << name << ": " << what << std::endl;
  return EXIT_USAGE;
}

// The name of a file to write: anything but empty. -1: taken; otherwise
// the exit status.
int readOutputName(const char* name, const char* arg, std::string& file, std::ostream& out) {
  if (*arg == '\0') return longArgError(out, name);
  file = arg;
  return -1;
}

// The quick-look options: a file name each, and the hot-pixel factor (a
// number above 1). -1: taken; otherwise the exit status of a bad argument.
int readQuickLookOption(int c, const char* arg, morven::RunSettings& s, std::ostream& out) {
  const char* name = c == OPT_HTML         ? "--html"
                     : c == OPT_HOT_PIXELS ? "--hot-pixels"
                                           : "--hot-factor";
  if (c == OPT_HTML) return readOutputName(name, arg, s.htmlFile, out);
  if (c == OPT_HOT_PIXELS) return readOutputName(name, arg, s.hotPixelsFile, out);
  char* end = nullptr;
  const double k = std::strtod(arg, &end);
  if (*arg == '\0' || *end != '\0') return longArgError(out, name);
  if (!(k > 1 && k <= 1e9)) {
    return longArgError(out, name, "argument not in range (above 1, at most 1e9)");
  }
  s.hotFactor = k;
  return -1;
}

// --idle and --interval: seconds, a number from 0.01 up to a day (--idle 0:
// never). -1: taken; otherwise the exit status of a bad argument.
int readSeconds(int c, const char* arg, morven::RunSettings& s, std::ostream& out) {
  const char* name = c == OPT_IDLE ? "--idle" : "--interval";
  char* end = nullptr;
  const double seconds = std::strtod(arg, &end);
  if (*arg == '\0' || *end != '\0') return longArgError(out, name);
  const bool idleOff = c == OPT_IDLE && seconds == 0;
  if (!idleOff && !(seconds >= 0.01 && seconds <= 86400)) {
    return longArgError(out, name, "argument not in range (0.01..86400 seconds)");
  }
  (c == OPT_IDLE ? s.idleSeconds : s.intervalSeconds) = seconds;
  return -1;
}

// -F: frame data of 8 or 16 bits; -1 when taken, as the options below.
int readFrameBits(const char* arg, morven::RunSettings& s, std::ostream& out) {
  long long number;
  if (!readInt(arg, number)) return arg_error(out, 'F');
  if (number != 8 && number != 16) {
    out << "### -F: argument not 8 or 16" << std::endl;
    return 1;
  }
  s.frameBits = int(number);
  return -1;
}

// -H and -L: a whole number from lowest to highest; -1 when taken.
int readBounded(char option, const char* arg, int lowest, int highest, int& value,
                std::ostream& out) {
  long long number;
  if (!readInt(arg, number)) return arg_error(out, option);
  if (number < lowest || number > highest) return arg_range(out, option, lowest, highest);
  value = int(number);
  return -1;
}

// One short option (code c, value optarg): -1 when it was taken, or the
// exit status of the run (help or version shown, a bad value).
int readShortOption(int c, Options& o, std::ostream& out) {
  morven::RunSettings& s = o.run;
  switch (c) {
    case '0':
      s.skipZeroPackets = true;
      break;
    case 'c':
      s.showConfig = true;
      break;
    case 'C':
      s.showCounter = true;
      break;
    case 'e':
      s.eocList = true;
      break;
    case 'E':
      s.eocList = true, s.eocListAll = false;
      break;
    case 'f':
      s.listChunks = true;
      break;
    case 'F':
      return readFrameBits(optarg, s, out);
    case 'h':
      usage(out);
      return 0;
    case 'H':
      s.histogram = true;
      return readBounded('H', optarg, 1, 65536, s.histogramBins, out);
    case 'j':
      s.showJson = true;
      break;
    case 'L':
      return readBounded('L', optarg, 1, 8, s.links, out);
    case 'p':
      s.pixelScan = true;
      break;
    case 'P':
      s.pixelScan = s.displayPixels = s.showFields = true;
      break;
    case 'Q':
      s.pixelScan = s.testGen = s.showFields = true;
      break;
    case 'q':
      s.pixelScan = s.counterCheck = true;
      break;
    case 'r':
      s.reverseBytes = true;
      break;
    case 'R':
      s.pixelScan = s.displayPixels = s.showRaw = true;
      break;
    case 's':
      if (!readUnsigned(optarg, s.skipCount)) return arg_error(out, 's');
      break;
    case 'V':
      out << "Version " << std::hex << morven::VERSION_ID << std::dec << std::endl;
      return 0;
    case 'w':
      s.reverseWords = true;
      break;
    case 'W':
      s.fromPelvan = true;
      break;
    default:
      return EXIT_USAGE;  // getopt has said what was wrong on standard error
  }
  return -1;
}

// One long option, as readShortOption.
int readLongOption(int c, Options& o, std::ostream& out) {
  morven::RunSettings& s = o.run;
  long long number;
  switch (c) {
    case OPT_HELP:
      usage(out);
      longUsage(out);
      return 0;
    case OPT_JSON:
      s.json = true;
      break;
    case OPT_IMAGE:
      return readOutputName("--image", optarg, s.imageFile, out);
    case OPT_NO_IMAGE:
      s.imageFile.clear();
      s.imageBase.clear();
      break;
    case OPT_MERGE:
      o.merge = true;
      break;
    case OPT_ALLOW_DUPLICATES:
      o.mergeOptions.allowDuplicates = true;
      break;
    case OPT_STRICT:
      o.strict = true;
      break;
    case OPT_NO_PROGRESS:
      o.progress = false;
      break;
    case OPT_THREADS:
      if (!readInt(optarg, number)) return longArgError(out, "--threads");
      if (number < 1 || number > MAX_THREADS) {
        return longArgError(out, "--threads",
                            "argument not in range (1.." + std::to_string(MAX_THREADS) + ")");
      }
      s.threads = int(number);
      break;
    case OPT_HTML:
    case OPT_HOT_PIXELS:
    case OPT_HOT_FACTOR:
      o.hotFactorGiven = o.hotFactorGiven || c == OPT_HOT_FACTOR;
      return readQuickLookOption(c, optarg, s, out);
    case OPT_FOLLOW:
      s.follow = true;
      break;
    case OPT_SNAPSHOT:
      return readOutputName("--snapshot", optarg, s.snapshotFile, out);
    case OPT_IDLE:
    case OPT_INTERVAL:
      return readSeconds(c, optarg, s, out);
    case OPT_VERSION:
      return readShortOption('V', o, out);
    default:
      return EXIT_USAGE;
  }
  return -1;
}

}  // namespace

std::span<const LongOption> longOptions() {
  return LONG_OPTIONS;
}

int readOptions(int argc, char** argv, Options& o, std::ostream& out) {
  // Every call reads its arguments afresh.
  optind = 0;
  int c;
  const std::vector<option> table = getoptTable();
  while ((c = getopt_long(argc, argv, SHORT_OPTIONS, table.data(), nullptr)) != -1) {
    const int status = c >= OPT_HELP ? readLongOption(c, o, out) : readShortOption(c, o, out);
    if (status >= 0) return status;
  }
  return -1;
}

namespace {

// The long options that only some modes use: given to another mode they
// would be silently ignored (a page or picture never written), so they are
// refused. Those that only turn something off or set how fast the run goes
// (--no-image, --no-progress, --threads) and --json and --strict serve
// every mode. -1: the options go together; otherwise the exit status.
int checkModeOptions(const Options& o, std::ostream& out) {
  const morven::RunSettings& s = o.run;
  const bool statistics = o.merge || morven::isStatisticsRun(s);
  const char* refused = nullptr;
  if (!s.follow && (s.idleSeconds != 0 || s.intervalSeconds != 2)) {
    refused = "--idle and --interval go with --follow";
  } else if (!s.snapshotFile.empty() && !(s.follow && s.json && morven::isStatisticsRun(s))) {
    refused = "--snapshot goes with --follow, -p and --json";
  } else if (o.merge && s.follow) {
    refused = "--follow goes with a scan, not with --merge";
  } else if (!statistics && !s.imageFile.empty()) {
    refused = "--image goes with -p or --merge";
  } else if (!statistics && !s.htmlFile.empty()) {
    refused = "--html goes with -p or --merge";
  } else if (!statistics && !s.hotPixelsFile.empty()) {
    refused = "--hot-pixels goes with -p or --merge";
  } else if (o.hotFactorGiven && s.htmlFile.empty() && s.hotPixelsFile.empty()) {
    refused = "--hot-factor goes with --html or --hot-pixels";
  } else if (!o.merge && o.mergeOptions.allowDuplicates) {
    refused = "--allow-duplicates goes with --merge";
  }
  if (refused == nullptr) return -1;
  out << "### " << refused << std::endl;
  return EXIT_USAGE;
}

void stopFollow(int) {
  morven::stopFollowing();
}

// SIGINT and SIGTERM end a follow: the run reads what the file holds and
// prints its report. A second one ends the program as usual.
void stopFollowOnSignals() {
  struct sigaction sa = {};
  sa.sa_handler = stopFollow;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace

int commandLine(int argc, char** argv, std::ostream& out, ProgressLine* progress) {
  Options o;
  int status = readOptions(argc, argv, o, out);
  if (status >= 0) return status;
  if (optind >= argc) {
    out << "### Provide a file name" << std::endl;
    return EXIT_USAGE;
  }
  const std::vector<std::string> fileNames(argv + optind, argv + argc);
  status = checkModeOptions(o, out);
  if (status >= 0) return status;
  if (o.run.follow) {
    stopFollowOnSignals();
    // A display into a file or pipe writes in large blocks: while it waits
    // for the writer, what it has goes out, as tail -f's lines do.
    if (auto* buffer = dynamic_cast<StdoutBuffer*>(out.rdbuf())) {
      o.run.handOutputOn = [buffer] { buffer->writeOut(); };
    }
  }
  if (o.merge) {
    uint64_t problems = 0;
    o.mergeOptions.problems = &problems;
    const morven::RunEnd end = morven::mergeStatistics(o.run, fileNames, out, o.mergeOptions);
    if (end != morven::RunEnd::Completed) return EXIT_RUN_FAILED;
    return o.strict && problems > 0 ? EXIT_STRUCTURE : EXIT_DONE;
  }
  // A display on the terminal writes all the time: a progress line there
  // would only flicker between its lines.
  const bool displayOnTerminal = o.run.displayPixels && ::isatty(STDOUT_FILENO);
  o.run.lineByLine = ::isatty(STDOUT_FILENO);
  if (progress != nullptr && o.progress && !displayOnTerminal) {
    progress->start(fileNames);
    o.run.progress = progress;
  }
  const morven::RunSummary summary = morven::runReport(o.run, fileNames, out);
  if (progress != nullptr) progress->erase();
  if (summary.end != morven::RunEnd::Completed) return EXIT_RUN_FAILED;
  const bool failed = summary.problems > 0 || summary.checkFailures > 0;
  return o.strict && failed ? EXIT_STRUCTURE : EXIT_DONE;
}

}  // namespace mvscan
