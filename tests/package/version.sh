#!/usr/bin/env bash
# Checks that every place that names the release names the project's
# version (project(VERSION) in CMakeLists.txt): the newest release of the
# AppStream metainfo, the top entry of the Debian changelog (with the same
# date as that release), the version in the .TH line of each manual page,
# and the .deb file name the README shows.
#
#   version.sh VERSION SOURCE-DIR
set -uo pipefail
export LC_ALL=C

if [ $# -ne 2 ]; then
    echo "usage: version.sh VERSION SOURCE-DIR" >&2
    exit 2
fi
version=$1
source=$2
differing=()
differ() { # PLACE FOUND
    echo "version: $1 names '$2', not '$version'" >&2
    differing+=("$1")
}

# The metainfo's releases, newest first as AppStream keeps them: the first
# must be this version, and no later one may be newer.
metainfo=$source/data/org.qevra.Qevra.metainfo.xml
releases=$(grep -o '<release [^>]*>' "$metainfo")
first=$(sed -n '1s/.*version="\([^"]*\)".*/\1/p' <<<"$releases")
newest=$(sed -n 's/.*version="\([^"]*\)".*/\1/p' <<<"$releases" | sort -V | tail -n 1)
[ "$first" = "$version" ] && [ "$newest" = "$version" ] ||
    differ metainfo "${first:-nothing} (newest ${newest:-nothing})"
release_date=$(sed -n '1s/.*date="\([^"]*\)".*/\1/p' <<<"$releases")

changelog=$source/data/debian/changelog
top=$(sed -n '1s/^qevra (\([^)]*\)).*/\1/p' "$changelog")
[ "$top" = "$version" ] || differ changelog "${top:-nothing}"
# The top entry's trailer: " -- NAME <MAIL>  Day, DD Mon YYYY HH:MM:SS +ZZZZ".
trailer=$(grep -m 1 '^ -- ' "$changelog" | sed 's/.*>  //')
changelog_date=$(date -u -d "$trailer" +%F 2>/dev/null)
if [ -n "$release_date" ] && [ "$changelog_date" != "$release_date" ]; then
    echo "version: the changelog dates $version ${changelog_date:-nowhere}," \
        "the metainfo $release_date" >&2
    differing+=("changelog-date")
fi

for page in "$source"/data/man/*.1; do
    name=$(basename "$page")
    found=$(sed -n 's/^\.TH .*"Qevra \([^"]*\)".*/\1/p' "$page" | head -n 1)
    [ "$found" = "$version" ] || differ "$name" "${found:-nothing}"
done

readme=$(grep -o 'qevra_[^_ ]*_amd64\.deb' "$source/README.md" | sort -u)
[ "$readme" = "qevra_${version}_amd64.deb" ] || differ README "${readme:-nothing}"

if [ ${#differing[@]} -gt 0 ]; then
    echo "version: FAIL: these differ from $version: ${differing[*]}"
    exit 1
fi
echo "version: PASS (every place names $version)"
