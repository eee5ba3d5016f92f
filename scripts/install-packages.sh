#!/usr/bin/env bash
# Installs the named Debian packages that are not installed yet; quiet and
# quick when all of them are there.
#   scripts/install-packages.sh LABEL PACKAGE...
#
# On a fresh machine another package job (unattended upgrades at boot) may
# hold the package manager's lock: apt waits for it, up to
# APT_LOCK_TIMEOUT seconds (default 600), and a line on standard error says
# so when the lock is held as the wait begins.
set -euo pipefail
label=$1
shift
lock_timeout=${APT_LOCK_TIMEOUT:-600}
# The locks of apt and dpkg (APT_LOCK_FILES: others, space-separated).
read -r -a lock_files <<<"${APT_LOCK_FILES:-/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock}"

# Whether a process holds one of the locks: its inode in /proc/locks, where
# the device field reads MAJOR:MINOR:INODE.
lock_held() {
  local f inode
  for f in "${lock_files[@]}"; do
    inode=$(stat -c %i "$f" 2>/dev/null) || continue
    grep -Eq ":$inode( |$)" /proc/locks 2>/dev/null && return 0
  done
  return 1
}

# apt-get with the bounded wait for the lock.
apt_get() {
  if lock_held; then
    echo "$label: waiting up to ${lock_timeout} s for the package manager's lock" \
      "(another package job runs)" >&2
  fi
  $sudo apt-get -o DPkg::Lock::Timeout="$lock_timeout" "$@"
}

missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "$label: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  apt_get update -qq
  DEBIAN_FRONTEND=noninteractive apt_get install -y -qq "${missing[@]}" >/dev/null
fi
