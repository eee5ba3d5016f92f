// The problems an inspector's chunk walk finds, as the text report writes
// them, on the stream a library test reads: its sink for the tests that
// drive an inspector without a run.
#ifndef MVSCAN_TESTS_PROBLEMSASTEXT_H
#define MVSCAN_TESTS_PROBLEMSASTEXT_H

#include <ostream>

#include "scan/DataInspector.h"
#include "scan/FileProblem.h"

inline morven::DataInspector::ProblemSink problemsAsText(std::ostream& out) {
  return [&out](const morven::FileProblem& p) {
    if (p.shownInText) out << morven::problemText(p) << std::flush;
  };
}

inline void problemsAsText(morven::DataInspector& inspector, std::ostream& out) {
  inspector.setProblemSink(problemsAsText(out));
}

#endif  // MVSCAN_TESTS_PROBLEMSASTEXT_H
