#include "CommandLine.h"

#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ios>
#include <ostream>
#include <string>
#include <vector>

#include "MorvenFormat.h"

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

// Reads all options; returns -1 to go on, or the exit status to end with.
}  // namespace

int readOptions(int argc, char** argv, morven::RunSettings& s, std::ostream& out) {
  // Every call reads its arguments afresh.
  optind = 0;
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
        if (!readInt(optarg, number)) return arg_error(out, 'F');
        if (number != 8 && number != 16) {
          out << "### -F: argument not 8 or 16" << std::endl;
          return 1;
        }
        s.frameBits = int(number);
        break;
      case 'h':
        usage(out);
        return 0;
      case 'H':
        s.histogram = true;
        if (!readInt(optarg, number)) return arg_error(out, 'H');
        if (number < 1 || number > 65536) return arg_range(out, 'H', 1, 65536);
        s.histogramBins = int(number);
        break;
      case 'j':
        s.showJson = true;
        break;
      case 'L':
        if (!readInt(optarg, number)) return arg_error(out, 'L');
        if (number < 1 || number > 8) return arg_range(out, 'L', 1, 8);
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
        return 1;  // getopt has said what was wrong on standard error
    }
  }
  return -1;
}

int commandLine(int argc, char** argv, std::ostream& out) {
  morven::RunSettings s;
  int status = readOptions(argc, argv, s, out);
  if (status >= 0) return status;
  if (optind >= argc) {
    out << "### Provide a file name" << std::endl;
    return 0;
  }
  const std::vector<std::string> fileNames(argv + optind, argv + argc);
  morven::run(s, fileNames, out);
  return 0;
}

}  // namespace mvscan
