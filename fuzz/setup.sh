#!/usr/bin/env bash
# Installs what the fuzz targets need on top of the normal build: clang with
# libFuzzer and the sanitizer runtimes. The normal build and CI do not need
# it; only fuzz/build.sh does.
set -euo pipefail

"$(dirname "$0")/../scripts/install-packages.sh" "fuzz setup" clang libclang-rt-14-dev libzstd-dev zlib1g-dev
