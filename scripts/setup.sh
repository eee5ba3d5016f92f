#!/usr/bin/env bash
# Installs the Debian packages that building and testing mvscan need.
# Quiet and quick when everything is there already.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-packages.sh setup g++ cmake make libgtest-dev libgmock-dev nlohmann-json3-dev \
  libpng++-dev libpng-dev parallel jq
