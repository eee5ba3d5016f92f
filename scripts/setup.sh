#!/usr/bin/env bash
# Installs the Debian packages that building and testing mvscan need.
# Quiet and quick when everything is there already.
set -euo pipefail

packages=(g++ cmake make libgtest-dev libgmock-dev nlohmann-json3-dev libpng++-dev libpng-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
