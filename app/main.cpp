// mvscan: inspects MORVEN data files of Vexar7 pixel-detector chips.
//
// The options choose one of two runs: the file check (every file walked
// chunk by chunk, with a structure report) or the pixel scan (every file
// walked packet by packet, in one of four modes: statistics, display,
// test-generator check, counter check).
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ios>
#include <ostream>
#include <string>
#include <vector>

#include "DataInspector.h"
#include "Format.h"
#include "MorvenFormat.h"
#include "StdoutBuffer.h"

namespace {

// A display of millions of lines often goes into a pipe (grep, less). With
// the pipe's default 64 KiB the writer and the reader take turns many
// thousands of times; a larger pipe halves the time of such a run. Best
// effort: where the system refuses, the pipe stays as it is.
void widenOutputPipe() {
#ifdef F_SETPIPE_SZ
  struct stat st;
  if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
  }
#endif
}

mvscan::StdoutBuffer& outputBuffer() {
  static mvscan::StdoutBuffer buffer(STDOUT_FILENO, ::isatty(STDOUT_FILENO) != 0);
  return buffer;
}

// All text of the program goes through this one stream on standard output.
std::ostream& output() {
  static std::ostream stream(&outputBuffer());
  return stream;
}

// A report that could not be written (a full disk) is not a completed run:
// say so on standard error, where the report itself cannot go, and end with
// status 1. A reader that went away (a closed pipe) needs no message.
int finish() {
  if (outputBuffer().writeOut()) return 0;
  int err = outputBuffer().writeError();
  if (err != EPIPE)
    std::fprintf(stderr, "mvscan: cannot write standard output: %s\n", std::strerror(err));
  return 1;
}

// Ends the process after an option error; exit() runs the destructors of
// the static output buffer, so nothing printed so far is lost.
[[noreturn]] void fail() {
  output().flush();
  std::exit(1);
}

void usage() {
  std::ostream& out = output();
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

[[noreturn]] void arg_error(char option) {
  output() << "### -" << option << ": error in argument" << std::endl;
  fail();
}

[[noreturn]] void arg_range(char option, int lowest, int highest) {
  output() << "### -" << option << ": argument not in range (" << lowest << ".." << highest << ")"
           << std::endl;
  fail();
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

struct Settings {
  bool pixelScan = false;
  bool displayPixels = false;
  bool showFields = false;
  bool showRaw = false;
  bool showCounter = false;
  bool skipZeroPackets = false;
  bool testGen = false;
  bool counterCheck = false;
  bool eocList = false;
  bool eocListAll = true;
  bool listChunks = false;
  bool showJson = false;
  bool showConfig = false;
  bool histogram = false;
  bool reverseBytes = false;
  bool reverseWords = false;
  bool fromPelvan = false;
  int frameBits = 0;
  int histogramBins = 1;
  int links = 1;
  uint64_t skipCount = 0;
};

// Reads all options; returns -1 to go on, or the exit status to end with.
int readOptions(int argc, char** argv, Settings& s) {
  int c;
  long long number;
  while ((c = getopt(argc, argv, "0cCeEfF:hH:jL:pPQqrRs:VwW")) != -1) {
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
        if (!readInt(optarg, number)) arg_error('F');
        if (number != 8 && number != 16) {
          output() << "### -F: argument not 8 or 16" << std::endl;
          fail();
        }
        s.frameBits = int(number);
        break;
      case 'h':
        usage();
        return 0;
      case 'H':
        s.histogram = true;
        if (!readInt(optarg, number)) arg_error('H');
        if (number < 1 || number > 65536) arg_range('H', 1, 65536);
        s.histogramBins = int(number);
        break;
      case 'j':
        s.showJson = true;
        break;
      case 'L':
        if (!readInt(optarg, number)) arg_error('L');
        if (number < 1 || number > 8) arg_range('L', 1, 8);
        s.links = int(number);
        break;
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
        if (!readUnsigned(optarg, s.skipCount)) arg_error('s');
        break;
      case 'V':
        output() << "Version " << std::hex << morven::VERSION_ID << std::dec << std::endl;
        return 0;
      case 'w':
        s.reverseWords = true;
        break;
      case 'W':
        s.fromPelvan = true;
        break;
      default:
        return 1;  // getopt has said what was wrong on standard error
    }
  }
  return -1;
}

void printBanner(const Settings& s, bool severalFiles) {
  std::ostream& out = output();
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

std::string padRight(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// The file-check run: each file walked chunk by chunk with a fresh
// inspector state, then its end-of-file report.
void checkFiles(const Settings& s, const std::vector<std::string>& fileNames,
                morven::DataInspector& inspector) {
  std::ostream& out = output();
  const bool severalFiles = fileNames.size() > 1;
  for (const std::string& name : fileNames) {
    if (!inspector.setFile(name, true)) return;
    out << "File opened: " << name << std::endl;
    out << "File header: " << inspector.fileHeaderString() << std::endl;
    out << "File size  : " << inspector.fileSize() << " bytes" << std::endl;
    bool firstChunk = true;
    while (inspector.nextChunk()) {
      if (s.listChunks) {
        if (firstChunk) {
          out << "--> List of chunks:" << std::endl;
          out << padRight("Chunk Header", 25) << "  "
              << "Size [bytes]" << std::endl;
          out << padRight("------------", 25) << "  "
              << "------------" << std::endl;
        }
        out << padRight(inspector.chunkTypeString(), 25) << "  " << inspector.chunkBytes()
            << std::endl;
      }
      firstChunk = false;
      if (s.showJson && inspector.chunkIsJson()) {
        if (!s.listChunks) out << "=> " << inspector.chunkTypeString() << ":" << std::endl;
        std::string text = inspector.jsonString();
        if (text.empty()) {
          out << "<empty>" << std::endl;
        } else {
          out << text << std::endl;
        }
      } else if (s.showConfig && inspector.chunkIsVx7Config()) {
        if (!s.listChunks) {
          out << "=> " << inspector.chunkTypeString() << " (size=" << inspector.chunkBytes()
              << "):";
          if (inspector.configBytes().empty()) out << std::endl;
        }
        inspector.displayVx7Config(out);
      }
    }
    if (inspector.errNo() != 0)
      out << "### Error errno: " << std::strerror(inspector.errNo()) << std::endl;
    if (inspector.ferror()) out << "### File error" << std::endl;
    if (inspector.feof()) {
      out << "=> End-of-file reached (index=" << inspector.fileIndex() << ")" << std::endl;
    } else {
      out << "### Not at end-of-file?" << std::endl;
    }
    out << "Chunks = " << inspector.headerTotal()
        << ", Total data bytes = " << inspector.chunkBytesTotal() << " ("
        << inspector.chunkBytesTotal() / 8 << " pixels)" << std::endl;
    inspector.logChunkCounters();
    if (s.histogram) inspector.chunkSizesHistogram(out, s.histogramBins);
    if (inspector.hasError()) out << "### There were errors in this file" << std::endl;
    if (severalFiles) out << std::endl;
  }
}

// The pixel-scan run: the inspector is reset only for the first file, so
// every count accumulates over the files of the run.
void scanFiles(const Settings& s, const std::vector<std::string>& fileNames,
               morven::DataInspector& inspector) {
  std::ostream& out = output();
  const bool severalFiles = fileNames.size() > 1;
  bool firstFile = true;
  for (const std::string& name : fileNames) {
    if (!inspector.setFile(name, firstFile)) return;
    if (s.frameBits != 0) inspector.forceFrameData(s.frameBits);
    out << "File opened: " << name << std::endl;
    out << "File header: " << inspector.fileHeaderString() << std::endl;
    const uint64_t size = inspector.fileSize();
    out << "File size  : " << size << " bytes (" << size / 8 << "*8";
    if (size % 8 != 0) out << " + " << size % 8;
    out << ")" << std::endl;
    firstFile = false;

    uint64_t skipped = 0;
    while (skipped < s.skipCount && inspector.nextPixel()) ++skipped;
    if (skipped > 0) {
      out << "Skip to pixel " << skipped + 1 << " (bytes " << morven::hexString(skipped * 8) << ")"
          << std::endl;
    }
    inspector.setReverseBytes(s.reverseBytes);
    inspector.setReverseWords(s.reverseWords);
    inspector.setFromPelvan(s.fromPelvan);

    if (s.displayPixels) {
      uint64_t index = skipped;
      int k = 0;
      while (inspector.nextPixel()) {
        ++index;
        if (++k == s.links) {
          k = 0;
          inspector.displayPixel(index, s.showCounter, s.showRaw, s.showFields, s.testGen,
                                 s.skipZeroPackets);
        }
      }
    } else if (s.testGen) {
      uint64_t checked = inspector.checkAsTestGenPixels(out, s.links);
      out << "Total pixelpackets = " << inspector.pixelCounterTotal()
          << " (heartbeats = " << inspector.heartbeatCounter() << ")" << std::endl;
      if (checked == 0) out << "### Nothing was actually checked: check file contents\n";
    } else if (s.counterCheck) {
      uint64_t checked = inspector.checkAsCounters(out, s.links);
      out << "Total 'packets' = " << inspector.pixelCounterTotal() << std::endl;
      if (checked == 0) out << "### Nothing was actually checked: check file contents\n";
    } else {
      inspector.processAllPixels();
      if (s.eocList) {
        out << std::endl;
        inspector.logEocCounters(s.eocListAll);
      }
      inspector.savePixelCounterImage("inspect");
      if (s.histogram) inspector.toaHistogram(out, s.histogramBins);
      out << "Total pixelpackets = " << inspector.pixelCounterTotal() << std::endl;
      out << std::endl;
      inspector.logChunkCounters();
    }
    if (severalFiles) out << std::endl;
  }
}

}  // namespace

int main(int argc, char** argv) {
  widenOutputPipe();
  Settings s;
  int status = readOptions(argc, argv, s);
  if (status > 0) return status;
  if (status == 0) return finish();

  std::ostream& out = output();
  if (optind >= argc) {
    out << "### Provide a file name" << std::endl;
    return finish();
  }
  const std::vector<std::string> fileNames(argv + optind, argv + argc);

  printBanner(s, fileNames.size() > 1);
  morven::DataInspector inspector(out, true);
  if (s.pixelScan) {
    scanFiles(s, fileNames, inspector);
  } else {
    checkFiles(s, fileNames, inspector);
  }
  return finish();
}
