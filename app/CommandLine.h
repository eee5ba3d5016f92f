// The command line of mvscan: its options read into the run's settings,
// the help and version texts, and the whole program but for where its
// output goes. main() puts the output buffer on standard output around it;
// tests call it on a string stream, in-process.
#ifndef MVSCAN_COMMANDLINE_H
#define MVSCAN_COMMANDLINE_H

#include <ostream>
#include <span>

#include "run/Merge.h"
#include "run/Runs.h"

namespace mvscan {

class ProgressLine;

// The exit statuses of the program.
enum ExitStatus {
  EXIT_DONE = 0,        // the run completed and every named file was read
  EXIT_USAGE = 1,       // an option error, or no file name
  EXIT_RUN_FAILED = 2,  // a file could not be read, or the report not written
  EXIT_STRUCTURE = 3,   // with --strict: a structural error was reported
};

// Everything the options ask for: the run's settings and what the command
// line does around the run.
struct Options {
  morven::RunSettings run;
  bool merge = false;                 // --merge: the files are statistics documents
  morven::MergeOptions mergeOptions;  // --allow-duplicates
  bool strict = false;                // --strict
  bool progress = true;               // not --no-progress
  bool hotFactorGiven = false;        // --hot-factor
};

// A long option of the command line: its name without "--", the name of
// its value in the help text (nullptr for an option without a value), the
// code getopt gives it, and its line of the help text.
struct LongOption {
  const char* name;
  const char* value;
  int code;
  const char* help;
};

// Every long option, in the order of the help text.
std::span<const LongOption> longOptions();

// Reads all options into o; returns -1 to go on with the run, or the exit
// status to end with (0 after the help or version text, 1 after an option
// error). Option errors of the arguments are printed to out, getopt's own
// to standard error. Short options are read exactly as getopt reads them;
// the long ones come on top.
int readOptions(int argc, char** argv, Options& o, std::ostream& out);

// The whole program on out: options, banner and run. Returns the exit
// status, leaving to the caller whether out could be written. With a
// progress line, it is shown during the run unless the options or the
// output say otherwise.
int commandLine(int argc, char** argv, std::ostream& out, ProgressLine* progress = nullptr);

}  // namespace mvscan

#endif  // MVSCAN_COMMANDLINE_H
