#!/usr/bin/env bash
# Byte order check: cross-builds the inspector library (without the image)
# and its unit tests for s390x, a big-endian machine, statically linked, and
# runs the tests under qemu. Every word of a data file is little-endian, so
# a reader that forgets to convert one passes on x86 and fails here.
#
#   scripts/cross-s390x.sh        builds in build-s390x/
#
# The tests that run are the test programs labelled "library" in
# tests/CMakeLists.txt (listed in tests/library_tests.txt): they drive the
# library on string streams with FileBuilder files, and run no binary, write
# no image and use no output buffer of the command line.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
dir="$root/build-s390x"
start=$SECONDS

scripts/install-packages.sh cross-s390x g++-s390x-linux-gnu qemu-user googletest nlohmann-json3-dev cmake make
cxx=s390x-linux-gnu-g++
qemu=$(command -v qemu-s390x || command -v qemu-s390x-static)
mkdir -p "$dir"
max_jobs=$(nproc)
. scripts/background-jobs.sh

# The JSON library is header-only; it is offered to the cross compiler on its
# own, since adding the host's /usr/include would mix the host's C library
# headers into the s390x build.
json="$dir/json"
if [ ! -e "$json/include/nlohmann/json.hpp" ]; then
  mkdir -p "$json/include"
  ln -sfn /usr/include/nlohmann "$json/include/nlohmann"
  cat >"$json/nlohmann_jsonConfig.cmake" <<EOF
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "$json/include")
EOF
  cat >"$json/nlohmann_jsonConfigVersion.cmake" <<'EOF'
set(PACKAGE_VERSION 3.11)
set(PACKAGE_VERSION_COMPATIBLE TRUE)
EOF
fi

# GoogleTest from its Debian source package, built once.
gtest="$dir/gtest"
gsrc=/usr/src/googletest/googletest
if [ ! -e "$gtest/libgtest.a" ]; then
  mkdir -p "$gtest"
  start_job "$cxx" -std=c++20 -O1 -I"$gsrc/include" -I"$gsrc" -c "$gsrc/src/gtest-all.cc" -o "$gtest/gtest-all.o"
  start_job "$cxx" -std=c++20 -O1 -I"$gsrc/include" -c "$gsrc/src/gtest_main.cc" -o "$gtest/gtest_main.o"
  finish_jobs
  s390x-linux-gnu-ar rcs "$gtest/libgtest.a" "$gtest/gtest-all.o" "$gtest/gtest_main.o"
fi

cmake -S "$root" -B "$dir/lib" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=s390x \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release -DMVSCAN_WITH_IMAGE=OFF -DMVSCAN_WITH_COMPRESSION=OFF \
  -DBUILD_TESTING=OFF -Dnlohmann_json_DIR="$json" >/dev/null
cmake --build "$dir/lib" -j"$max_jobs" --target morven_run >/dev/null

tests=()
while read -r name; do
  case "$name" in "" | "#"*) continue ;; esac
  tests+=("$root/tests/$name.cpp")
done <"$root/tests/library_tests.txt"
echo "cross-s390x: tests run on s390x: ${tests[*]##*/}"

# The library's layers, the highest first, as the linker wants them.
layers=()
for layer in run report scan io; do layers+=("$dir/lib/inspector/libmorven_$layer.a"); done

build_test() {
  local src=$1 name
  name=$(basename "$src" .cpp)
  "$cxx" -std=c++20 -O1 -static -Wall -Wextra -I"$root/inspector" -I"$root/tests" \
    -I"$json/include" -I"$gsrc/include" "$src" "${layers[@]}" "$gtest/libgtest.a" \
    -pthread -o "$dir/$name"
}
for src in "${tests[@]}"; do
  rm -f "$dir/$(basename "$src" .cpp)"
  start_job build_test "$src"
done
finish_jobs

# The tests make their files in the system's temporary folder, as on x86.
failed=0
for src in "${tests[@]}"; do
  name=$(basename "$src" .cpp)
  if ! "$qemu" "$dir/$name" --gtest_brief=1; then
    echo "cross-s390x: FAILED $name"
    failed=1
  fi
done
echo "cross-s390x: done in $((SECONDS - start)) s"
exit $failed
