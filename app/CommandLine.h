// The command line of mvscan: its options read into the run's settings,
// the help and version texts, and the whole program but for where its
// output goes. main() puts the output buffer on standard output around it;
// tests call it on a string stream, in-process.
#ifndef MVSCAN_COMMANDLINE_H
#define MVSCAN_COMMANDLINE_H

#include <ostream>

#include "Runs.h"

namespace mvscan {

// Reads all options into s; returns -1 to go on with the run, or the exit
// status to end with (0 after the help or version text, 1 after an option
// error). Option errors of the arguments are printed to out, getopt's own
// to standard error.
int readOptions(int argc, char** argv, morven::RunSettings& s, std::ostream& out);

// The whole program on out: options, banner and run. Returns the exit
// status, leaving to the caller whether out could be written.
int commandLine(int argc, char** argv, std::ostream& out);

}  // namespace mvscan

#endif  // MVSCAN_COMMANDLINE_H
