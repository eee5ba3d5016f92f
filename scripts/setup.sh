#!/usr/bin/env bash
# Installs the Debian packages that building and testing mvscan need.
# Quiet and quick when everything is there already.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-packages.sh setup g++ cmake make libgtest-dev libgmock-dev nlohmann-json3-dev \
  libpng++-dev libpng-dev python3-dev python3-pybind11 python3-numpy python3-pytest \
  python3-matplotlib parallel jq chromium python3-pil pkg-config libzstd-dev zlib1g-dev zstd gzip \
  lintian man-db slurm-wlm munge python3-mypy python3-distributed
