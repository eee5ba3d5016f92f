#!/usr/bin/env bash
# A first look at mvscan: sets everything up, builds mvscan and mvgen
# (Release, in build/), writes a sample ToA/ToT run with mvgen into
# build/demo/ and shows what mvscan's file check and statistics make of it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target mvscan mvgen

demo=build/demo
mkdir -p "$demo"
cd "$demo"

echo
echo "==> mvgen -k toatot -n 2M -c 65536 -s 2025 -o run.mv"
../tools/mvgen -k toatot -n 2M -c 65536 -s 2025 -o run.mv

echo
echo "==> mvscan -f -j -c run.mv"
../mvscan -f -j -c run.mv

echo
echo "==> mvscan -p -e -H 8 run.mv"
../mvscan -p -e -H 8 run.mv

echo
echo "The hit-count picture of this run is $(pwd)/inspect.png"
