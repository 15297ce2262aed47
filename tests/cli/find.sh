#!/usr/bin/env bash
# qevra-find as a user runs it, on real trees, as a whole process: every
# option and its mistakes, odd names (a line end, bytes that are not UTF-8)
# through -0 and --json, the exit statuses, no display, and Ctrl+C. Its pairs
# must be the copies editor's, byte for byte, for all three criteria.
#
#   find.sh QEVRA_FIND QEVRA_BENCH [PASSTHROUGH]
#
# QEVRA_BENCH gives the editor's pairs (qevra-bench --window --rows);
# PASSTHROUGH, when given, is the tests' FUSE pass-through, which makes a
# share whose reads never answer for the Ctrl+C case.
set -u
find=$1
bench=$2
passthrough=${3:-}
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

work=$(mktemp -d /tmp/qevra-find-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
# The remembered comparisons go to the test's own folder.
export XDG_CACHE_HOME=$work/cache
unset QEVRA_NO_CACHE
tree=$work/tree
mkdir -p "$tree/a" "$tree/b" "$tree/c" "$tree/d"
printf 'same bytes' >"$tree/a/x.txt"
printf 'same bytes' >"$tree/b/x.txt"
printf 'same bytes' >"$tree/b/new
line.txt"
printf 'same bytes' >"$tree/c/caf$(printf '\351').txt"
printf 'other data' >"$tree/c/x.txt"
printf 'unique' >"$tree/d/u.txt"
printf 'same bytes' >"$tree/d/.hidden.txt"
ln -s "$tree/a/x.txt" "$tree/d/link.txt"
printf 'picture' >"$tree/a/p.jpg"
printf 'picture' >"$tree/b/p.JPG"
printf 'film' >"$tree/a/v.avi"
printf 'film' >"$tree/c/v.mpg"
tree_real=$(cd "$tree" && pwd -P)

run() { # expected-status description command...
    local expected=$1 what=$2
    shift 2
    "$@" >"$work/out" 2>"$work/err"
    local got=$?
    [[ $got == "$expected" ]] || fail "$what: status $got, expected $expected ($(head -c 300 "$work/err"))"
}

# Help, version and mistakes.
run 0 "--help" "$find" --help
grep -q '^Usage: qevra-find' "$work/out" || fail "--help: no usage on standard output"
run 0 "--version" "$find" --version
grep -qx 'qevra-find [0-9.]*' "$work/out" || fail "--version: $(cat "$work/out")"
run 2 "no directory" "$find"
run 2 "an unknown option" "$find" --bogus "$tree"
run 2 "two criteria" "$find" --name --size "$tree"
run 2 "two extensions" "$find" --pictures --ext txt "$tree"
run 2 "-0 with --json" "$find" -0 --json "$tree"
run 2 "--ext without a value" "$find" "$tree" --ext
[[ -s $work/out ]] && fail "a mistake wrote to standard output"
run 1 "a missing directory" "$find" "$tree/none"

# The remembered comparisons: kept by a search by content, not with
# --no-cache or QEVRA_NO_CACHE, emptied by --forget (alone or before a
# search), and the pairs the same either way.
store=$XDG_CACHE_HOME/qevra/comparisons
run 0 "--no-cache" "$find" --no-cache "$tree"
[[ ! -e $store ]] || fail "--no-cache kept comparisons"
QEVRA_NO_CACHE=1 "$find" "$tree" >/dev/null 2>&1
[[ ! -e $store ]] || fail "QEVRA_NO_CACHE kept comparisons"
"$find" --no-cache "$tree" >"$work/without" 2>/dev/null
run 0 "a search that remembers" "$find" "$tree"
[[ -s $store ]] || fail "a search by content kept no comparisons"
cmp -s "$work/out" "$work/without" || fail "the pairs differ with the comparisons kept"
run 0 "a search that recalls" "$find" "$tree"
cmp -s "$work/out" "$work/without" || fail "the pairs differ with the comparisons recalled"
run 0 "--forget alone" "$find" --forget
[[ ! -e $store ]] || fail "--forget left the comparisons"
run 0 "--forget before a search" "$find" --forget "$tree"
cmp -s "$work/out" "$work/without" || fail "the pairs differ after --forget"
run 1 "a file for a directory" "$find" "$tree/a/x.txt"

# The pairs, as the copies editor lists them, for each criterion.
for criterion in content size name; do
    run 0 "--$criterion -0" "$find" "--$criterion" --ext txt -0 "$tree"
    cp "$work/out" "$work/find-$criterion"
    QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "$bench" --window --dir "$tree_real" \
        --ext txt --criterion "$criterion" --no-collect --rows "$work/editor-$criterion" \
        >/dev/null 2>&1 || fail "qevra-bench --window --criterion $criterion"
    cmp -s "$work/find-$criterion" "$work/editor-$criterion" \
        || fail "--$criterion: the pairs differ from the editor's"
    [[ -s $work/find-$criterion ]] || fail "--$criterion: no pair"
done
# By content: the four files of equal bytes, never the other, the hidden
# file or the link; each pair twice through a tab and a line end.
pairs=$(tr -cd '\0' <"$work/find-content" | wc -c)
[[ $pairs == 12 ]] || fail "--content -0: $pairs paths, expected 12 (six pairs)"
grep -qa 'other data\|hidden\|link' "$work/find-content" && fail "--content: a file that is no copy"
run 0 "--content" "$find" --ext txt "$tree"
lines=$(grep -c "	" "$work/out")
[[ $lines -ge 6 ]] || fail "the pairs: $lines lines with a tab"

# The groups, with -0: paths ended by NUL, the group by one more.
run 0 "--groups -0" "$find" --groups -0 --ext txt "$tree"
python3 - "$work/out" "$tree_real" <<'EOF' || fail "--groups -0"
import sys
data = open(sys.argv[1], 'rb').read()
tree = sys.argv[2].encode()
assert data.endswith(b'\0\0'), data
groups = [g.split(b'\0') for g in data[:-2].split(b'\0\0')]
assert len(groups) == 1, groups
expected = {tree + p for p in (b'/a/x.txt', b'/b/x.txt', b'/b/new\nline.txt', b'/c/caf\xe9.txt')}
assert set(groups[0]) == expected, groups
EOF
run 0 "--groups" "$find" --groups --size --ext txt "$tree"
blocks=$(awk 'BEGIN { RS = ""; } END { print NR }' "$work/out")
[[ $blocks == 1 ]] || fail "--groups --size: $blocks blocks"

# The JSON document: every path back to its bytes.
run 0 "--json" "$find" --json --ext txt "$tree"
python3 - "$work/out" "$tree_real" <<'EOF' || fail "--json"
import json, os, sys
doc = json.load(open(sys.argv[1], encoding='utf-8', errors='surrogatepass'))
tree = sys.argv[2].encode()
assert doc['criterion'] == 'content' and doc['pairs'] == 6 and doc['candidates'] == 6, doc
paths = {os.fsencode(f['path']) for g in doc['groups'] for f in g['files']}
assert paths == {tree + p for p in (b'/a/x.txt', b'/b/x.txt', b'/b/new\nline.txt', b'/c/caf\xe9.txt')}, paths
assert doc['bytes_freed'] == 30, doc['bytes_freed']
assert doc['warnings'] == [], doc['warnings']
assert [os.fsencode(r) for r in doc['roots']] == [tree], doc['roots']
EOF

# The summary, and the extension groups.
run 0 "--summary" "$find" --summary --ext txt "$tree"
grep -qx 'bytes freed 30' "$work/out" || fail "--summary: $(tr '\n' ' ' <"$work/out")"
grep -qx 'groups 1' "$work/out" || fail "--summary groups"
run 0 "--pictures" "$find" --pictures -0 "$tree"
[[ $(tr -cd '\0' <"$work/out" | wc -c) == 2 ]] || fail "--pictures: $(tr '\0' ' ' <"$work/out")"
run 0 "--video" "$find" --video --groups "$tree"
[[ $(grep -c . "$work/out") == 2 ]] || fail "--video: $(cat "$work/out")"
run 0 "every file" "$find" --summary "$tree"
grep -qx 'candidates 10' "$work/out" || fail "every file: $(tr '\n' ' ' <"$work/out")"

# An unreadable file: named on standard error, left out, the search goes on.
if ((EUID == 0)) && command -v setpriv >/dev/null; then
    chmod 0 "$tree/c/x.txt"
    chmod o+rx "$work"
    setpriv --reuid=65534 --regid=65534 --clear-groups "$find" --json --ext txt "$tree" \
        >"$work/out" 2>"$work/err"
    got=$?
    chmod 644 "$tree/c/x.txt"
    [[ $got == 0 ]] || fail "an unreadable file: status $got"
    grep -q "c/x.txt: Permission denied" "$work/err" || fail "an unreadable file: $(cat "$work/err")"
    python3 -c "import json,sys; w=json.load(open(sys.argv[1],errors='surrogatepass'))['warnings']; \
assert len(w)==1 and w[0]['error']==13, w" "$work/out" || fail "an unreadable file in --json"
fi

# No display, and no windowing library.
run 0 "no display" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$find" --summary "$tree"
if ldd "$find" | grep -qE 'libQt6(Gui|Widgets)|libX11|libxcb|libgst'; then
    fail "qevra-find links a windowing or media library"
fi

# Output that cannot be written is an error.
if [[ -w /dev/full ]]; then
    "$find" --ext txt "$tree" >/dev/full 2>"$work/err"
    got=$?
    [[ $got == 1 ]] || fail "/dev/full: status $got"
fi

# Ctrl+C: at once, status 130, nothing on standard output. On a share whose
# reads never answer, the search is surely still running when it comes;
# `release` then lets the share answer, so that the program, which has
# given up the read, can close its files and end.
interrupt() { # DIR DELAY [RELEASE...]
    local dir=$1 delay=$2
    shift 2
    "$find" --content "$dir" >"$work/out" 2>"$work/err" &
    local pid=$!
    sleep "$delay"
    local sent=$EPOCHREALTIME
    kill -INT "$pid"
    local took=0
    while ! grep -q interrupted "$work/err" && ((took < 5000)); do
        sleep 0.01
        took=$(awk -v a="$sent" -v b="$EPOCHREALTIME" 'BEGIN { printf "%d", (b - a) * 1000 }')
    done
    (($#)) && "$@"
    wait "$pid"
    local got=$?
    [[ $got == 130 ]] || fail "Ctrl+C: status $got ($(cat "$work/err"))"
    [[ -s $work/out ]] && fail "Ctrl+C: something was written to standard output"
    ((took < 3000)) || fail "Ctrl+C: the search gave up $took ms after it"
}
plain_interrupt() {
    mkdir -p "$work/many"
    for i in $(seq 1 3000); do printf 'same bytes' >"$work/many/f$i"; done
    interrupt "$work/many" 0.05
}
if [[ -n $passthrough && -w /dev/fuse ]] && command -v unshare >/dev/null; then
    export -f interrupt fail
    export find work
    unshare -m bash -c '
        set -u
        status=0
        mkdir -p "$work/mnt"
        mount --make-rprivate / && mount -t tmpfs qevra-test "$work/mnt" || exit 77
        mkdir -p "$work/mnt/source" "$work/mnt/share"
        head -c 300000 /dev/zero >"$work/mnt/source/a"
        head -c 300000 /dev/zero >"$work/mnt/source/b"
        "$0" --hang-reads "$work/mnt/source" "$work/mnt/share" >"$work/said" &
        share=$!
        for i in $(seq 1 500); do
            grep -q mounted "$work/said" 2>/dev/null && break
            kill -0 "$share" 2>/dev/null || exit 77
            sleep 0.01
        done
        grep -q mounted "$work/said" || exit 77
        interrupt "$work/mnt/share" 1 kill -USR2 "$share"
        kill -TERM "$share"
        wait "$share"
        exit $status
    ' "$passthrough"
    got=$?
    if [[ $got == 77 ]]; then
        echo "the kernel refuses a private FUSE mount here: Ctrl+C tried on a plain tree" >&2
        plain_interrupt
    elif [[ $got != 0 ]]; then
        status=1
    fi
else
    echo "no pass-through file system here: Ctrl+C tried on a plain tree" >&2
    plain_interrupt
fi

exit $status
