#!/usr/bin/env bash
# The Debian package: cpack -G DEB packs this build tree's programs, and the
# package unpacked into a temporary root (dpkg-deb -x) holds everything a
# user needs, each part working from there: mvscan and mvgen give the
# output of the build's programs byte for byte, the man pages format
# without a warning, the bash completions load, /usr/bin/python3 imports
# the packed module and gets the figures of mvscan -p. lintian reports no
# error on the package; its other findings are printed.
#   package_test.sh BUILD_DIR MVSCAN MVGEN
set -euo pipefail
build=$1
mvscan=$2
mvgen=$3

fail() {
  echo "FAIL: $*"
  exit 1
}
command -v dpkg-deb >/dev/null || fail "dpkg-deb is missing"
command -v lintian >/dev/null || fail "lintian is missing (scripts/setup.sh)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Packed into a directory of its own, so the build tree keeps no package
# and staging files of the test.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(tail -n 20 "$work/cpack.log")"
debs=("$work"/pkg/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made ${#debs[@]} packages: ${debs[*]}"
deb=${debs[0]}
echo "package: $(basename "$deb")"

# Control fields: the libraries found in the programs and the module, and
# the interpreter and numpy the module needs.
depends=$(dpkg-deb -f "$deb" Depends)
for need in 'libc6 ' 'libstdc++6 ' 'libpng16-16 ' 'python3 (>= ' 'python3 (<< ' 'python3-numpy'; do
  grep -qF -- "$need" <<<"$depends" || fail "Depends lacks $need: $depends"
done
for field in Package Version Architecture Maintainer Section Priority Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "no $field field"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
py=$(cd "$root/usr/lib/python3/dist-packages" && ls morven.*.so)
expected="usr/bin/mvgen
usr/bin/mvscan
usr/lib/python3/dist-packages/morven-stubs/__init__.pyi
usr/lib/python3/dist-packages/$py
usr/lib/python3/dist-packages/morven.pyi
usr/share/bash-completion/completions/mvgen
usr/share/bash-completion/completions/mvscan
usr/share/doc/mvscan/README.md
usr/share/doc/mvscan/changelog.gz
usr/share/doc/mvscan/copyright
usr/share/doc/mvscan/json-report.md
usr/share/doc/mvscan/python-at-scale.md
usr/share/doc/mvscan/threads.md
usr/share/man/man1/mvgen.1.gz
usr/share/man/man1/mvscan.1.gz"
got=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$got" = "$expected" ] || fail "package files differ:$(diff <(echo "$expected") <(echo "$got"))"
dirs=$(cd "$root" && find . -type d ! -perm 755)
[ -z "$dirs" ] || fail "directories not 755: $dirs"
for f in usr/bin/mvgen usr/bin/mvscan; do
  [ "$(stat -c %a "$root/$f")" = 755 ] || fail "$f is not 755"
  file -b "$root/$f" | grep -q ', stripped' || fail "$f is not stripped"
done

# The programs from the package, beside those of the build tree.
cd "$work"
"$root/usr/bin/mvscan" --version >packed-version.txt
"$mvscan" --version >built-version.txt
cmp packed-version.txt built-version.txt || fail "mvscan --version differs"
"$root/usr/bin/mvgen" -k toatot -n 5000 -s 7 -o packed.mv >/dev/null
"$mvgen" -k toatot -n 5000 -s 7 -o built.mv >/dev/null
cmp packed.mv built.mv || fail "the packed mvgen writes another file"
mkdir packed built
(cd packed && "$root/usr/bin/mvscan" -p -E -H 64 ../packed.mv >report.txt) || fail "packed mvscan -p status $?"
(cd built && "$mvscan" -p -E -H 64 ../packed.mv >report.txt) || fail "built mvscan -p status $?"
cmp packed/report.txt built/report.txt || fail "mvscan -p reports differ"
cmp packed/inspect.png built/inspect.png || fail "mvscan -p pictures differ"
packets=$(sed -n 's/^Total pixelpackets = //p' packed/report.txt)
[ "$packets" -gt 0 ] || fail "no packets in the report"

# The module, with the system's interpreter and only the package's path.
PYTHONPATH=$root/usr/lib/python3/dist-packages PYTHONNOUSERSITE=1 /usr/bin/python3 - "$root" \
  packed.mv "$packets" <<'EOF' || fail "import morven from the package"
import sys
import morven
root, path, packets = sys.argv[1], sys.argv[2], int(sys.argv[3])
assert morven.__file__.startswith(root + "/usr/lib/python3/dist-packages/"), morven.__file__
got = morven.statistics([path]).packets
assert got == packets, f"morven.statistics: {got} packets, mvscan -p: {packets}"
EOF

# The man pages, formatted as man shows them, with groff's warnings on.
if command -v man >/dev/null; then
  for page in mvscan mvgen; do
    MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$root/usr/share/man/man1/$page.1.gz" \
      >"$page.txt" 2>"$page.err" || fail "man -l $page.1.gz status $?"
    [ ! -s "$page.err" ] || fail "man -l $page.1.gz: $(cat "$page.err")"
    grep -q "^NAME" "$page.txt" || fail "$page.1.gz has no NAME section"
  done
  grep -qF "/usr/share/doc/mvscan/json-report.md" mvscan.txt ||
    fail "the packed man page does not name /usr/share/doc/mvscan/json-report.md"
else
  echo "man is missing (scripts/setup.sh installs man-db): man pages not formatted"
fi

# The completions define completion functions for both programs.
bash -c 'for p in mvscan mvgen; do source "$1/usr/share/bash-completion/completions/$p"; complete -p $p; done' \
  _ "$root" >/dev/null || fail "the packed bash completions do not load"

# lintian: no error; warnings and notes are shown.
lintian --allow-root --info "$deb" >lintian.txt 2>&1 || true
{ grep -v '^N:' lintian.txt || true; } | sed 's/^/lintian: /'
! grep -q '^E:' lintian.txt || fail "lintian reports errors"
echo "package: unpacked and run, lintian without error"
