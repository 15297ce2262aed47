#!/usr/bin/env bash
# Builds the Debian package from a release build of its own and checks it
# with lintian, pedantic tags included: no error and no warning may remain.
#
#   lintian.sh CMAKE CPACK SOURCE-DIR BUILD-DIR
#
# BUILD-DIR is kept between runs, so a second run only rebuilds what changed.
set -uo pipefail

if [ $# -ne 4 ]; then
    echo "usage: lintian.sh CMAKE CPACK SOURCE-DIR BUILD-DIR" >&2
    exit 2
fi
cmake=$1
cpack=$2
source=$3
build=$4

fail() {
    echo "package: FAIL: $*" >&2
    exit 1
}

command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps installs it)"

# The package's own build: release flags, no tests, no benchmarks, and
# nothing of the sanitizer build this test may run in.
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
log=$build.log
mkdir -p "$build"
{
    "$cmake" -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQEVRA_TESTS=OFF \
        -DQEVRA_BENCH=OFF -DQEVRA_SANITIZE=OFF &&
        "$cmake" --build "$build" -j"$(nproc)"
} >"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    fail "the release build failed (whole log in $log)"
}
rm -f "$build"/qevra_*.deb
(cd "$build" && "$cpack" -G DEB) >>"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    fail "cpack failed (whole log in $log)"
}
deb=$(ls "$build"/qevra_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb in $build"
echo "package: $deb"

# What a Debian package must carry besides the program.
contents=$(dpkg-deb -c "$deb" | awk '{ print $1, $NF }')
for entry in "-rwxr-xr-x ./usr/bin/qevra" "-rwxr-xr-x ./usr/bin/qevra-find" \
    "-rw-r--r-- ./usr/share/applications/org.qevra.Qevra.desktop" \
    "-rw-r--r-- ./usr/share/metainfo/org.qevra.Qevra.metainfo.xml" \
    "-rw-r--r-- ./usr/share/doc/qevra/copyright" \
    "-rw-r--r-- ./usr/share/doc/qevra/changelog.gz" \
    "-rw-r--r-- ./usr/share/man/man1/qevra.1.gz" \
    "-rw-r--r-- ./usr/share/man/ru/man1/qevra.1.gz"; do
    grep -qxF -e "$entry" <<<"$contents" || fail "the package lacks $entry"
done

# lintian warns when run as root; that is not about the package.
lintian --pedantic --display-info --fail-on error,warning "$deb" 2>&1 |
    grep -v '^running with root privileges is not recommended!$' | tee "$build/lintian.txt"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings (exit status $status)"
if grep -q '^[EW]: ' "$build/lintian.txt"; then
    fail "lintian reports errors or warnings"
fi
echo "package: PASS (lintian --pedantic: $(grep -c . "$build/lintian.txt") tags, none an error or warning)"
