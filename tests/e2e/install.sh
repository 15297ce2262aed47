#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that everything a
# desktop looks for is where it looks: the program, the menu entry, the icon
# in each size (with the size its place promises), the AppStream metadata,
# the manual pages, the copyright and the changelog; and qevra-find with its
# manual pages.
#
#   install.sh CMAKE BUILD-DIR
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: install.sh CMAKE BUILD-DIR" >&2
    exit 2
fi
cmake=$1
build=$2
prefix=$(mktemp -d /tmp/qevra-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() {
    echo "install: FAIL: $*" >&2
    failed=1
}

"$cmake" --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || {
    cat "$prefix.log" >&2
    rm -f "$prefix.log"
    echo "install: FAIL: cmake --install failed" >&2
    exit 1
}
rm -f "$prefix.log"

for program in qevra qevra-find; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is missing or not executable"
done
for file in share/applications/org.qevra.Qevra.desktop share/metainfo/org.qevra.Qevra.metainfo.xml \
    share/icons/hicolor/scalable/apps/qevra.svg share/man/man1/qevra.1.gz \
    share/man/ru/man1/qevra.1.gz share/man/man1/qevra-find.1.gz \
    share/man/ru/man1/qevra-find.1.gz share/doc/qevra/copyright share/doc/qevra/changelog.gz; do
    [ -s "$prefix/$file" ] || fail "$file is missing"
done

# A PNG's width and height are the big-endian words at bytes 16 and 20.
png_size() {
    od -An -tu1 -j16 -N8 "$1" |
        awk '{ printf "%dx%d", $3 * 256 + $4 + $1 * 16777216 + $2 * 65536, $7 * 256 + $8 + $5 * 16777216 + $6 * 65536 }'
}
for size in 16 24 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x$size/apps/qevra.png
    if [ ! -s "$png" ]; then
        fail "the ${size}x$size icon is missing"
    elif [ "$(png_size "$png")" != "${size}x$size" ]; then
        fail "the ${size}x$size icon is $(png_size "$png")"
    fi
done

if [ "$failed" -eq 0 ]; then
    echo "install: PASS ($(find "$prefix" -type f | wc -l) files)"
fi
exit "$failed"
