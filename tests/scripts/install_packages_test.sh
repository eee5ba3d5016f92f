#!/usr/bin/env bash
# scripts/install-packages.sh against stand-ins of apt-get, dpkg-query and
# sudo on PATH: apt-get is called with a bounded wait for the package
# manager's lock, on update and install; a held lock is told on standard
# error before each call, and nothing is said when none is held.
#   install_packages_test.sh SOURCE_DIR
set -euo pipefail
root=${1:-$(dirname "$0")/../..}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

mkdir "$tmp/bin"
cat >"$tmp/bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$CALLS"
STUB
cat >"$tmp/bin/dpkg-query" <<'STUB'
#!/bin/sh
case " $INSTALLED " in *" $3 "*) printf 'install ok installed' ;; *) exit 1 ;; esac
STUB
printf '#!/bin/sh\nexec "$@"\n' >"$tmp/bin/sudo"
chmod +x "$tmp/bin/"*
export CALLS=$tmp/calls PATH="$tmp/bin:$PATH"
lock=$tmp/lock-frontend
: >"$lock"
export APT_LOCK_FILES="$tmp/no-such-lock $lock"

failed=0
# check NAME EXPECTED_STDERR EXPECTED_CALLS [ENV...]: one run of the script.
check() {
  local name=$1 want_err=$2 want_calls=$3
  shift 3
  : >"$CALLS"
  local err
  err=$(env "$@" bash "$root/scripts/install-packages.sh" setup pkg-a pkg-b 2>&1 >/dev/null) || {
    echo "FAIL $name: the script failed: $err"
    failed=1
    return
  }
  if [ "$err" != "$want_err" ]; then
    printf 'FAIL %s: standard error\n--- got\n%s\n--- expected\n%s\n' "$name" "$err" "$want_err"
    failed=1
  fi
  if [ "$(cat "$CALLS")" != "$want_calls" ]; then
    printf 'FAIL %s: calls\n--- got\n%s\n--- expected\n%s\n' "$name" "$(cat "$CALLS")" "$want_calls"
    failed=1
  fi
}

calls() {
  printf 'apt-get -o DPkg::Lock::Timeout=%s update -qq\n' "$1"
  printf 'apt-get -o DPkg::Lock::Timeout=%s install -y -qq pkg-b' "$1"
}

check "NothingMissing" "" "" INSTALLED="pkg-a pkg-b"
check "LockFree" "" "$(calls 600)" INSTALLED="pkg-a"
check "TimeoutGiven" "" "$(calls 5)" INSTALLED="pkg-a" APT_LOCK_TIMEOUT=5

# Another process holds the lock (this shell, on a descriptor of its own
# that the script does not use): each call is told before it waits.
exec {held}>"$lock"
flock "$held"
inode=$(stat -c %i "$lock")
grep -Eq ":$inode( |$)" /proc/locks || { echo "FAIL: the lock was not taken"; exit 1; }
said="setup: waiting up to 5 s for the package manager's lock (another package job runs)"
check "LockHeld" "$said"$'\n'"$said" "$(calls 5)" INSTALLED="pkg-a" APT_LOCK_TIMEOUT=5

[ $failed -eq 0 ] && echo "install-packages: bounded lock waits, told when held"
exit $failed
