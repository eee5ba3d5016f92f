#!/usr/bin/env bash
# Sets everything up, builds mvscan and runs all tests.
#   scripts/test.sh            normal build in build/, with the Python module and its
#                              pytest suites (the build fails if it cannot make the module)
#   scripts/test.sh sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/,
#                              without the Python module
#   scripts/test.sh tsan       ThreadSanitizer build in build-tsan/ of the programs and the
#                              tests that run code on several threads (tests/thread_tests.txt)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

if [ "${1:-}" = "sanitize" ]; then
  dir=build-asan
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DMVSCAN_SANITIZE=ON >/dev/null
elif [ "${1:-}" = "tsan" ]; then
  dir=build-tsan
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMVSCAN_SANITIZE=thread >/dev/null
  # A data race is a failure, not a warning on standard error.
  export TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}"
else
  dir=build
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DMVSCAN_REQUIRE_PYTHON=ON >/dev/null
fi
# Many tests wait on the programs they start, on writers and on timers:
# two at a time per core keep the cores busy.
jobs=$(( $(nproc) * 2 ))
if [ "${1:-}" = "tsan" ]; then
  mapfile -t programs < <(grep -E '^[a-z_]+$' tests/thread_tests.txt)
  cmake --build "$dir" -j"$(nproc)" --target mvscan mvgen "${programs[@]}"
  cd "$dir"
  # The checked threads are slow and their follow tests timed: one a core.
  ctest --output-on-failure -j"$(nproc)" -L threads
  exit
fi
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
ctest --output-on-failure -j"$jobs"
