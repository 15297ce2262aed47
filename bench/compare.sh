#!/usr/bin/env bash
# Times our content search against jdupes, fdupes, rmlint and rdfind on one
# tree, with a warm cache or, with --cold, with the page cache dropped
# before every run (as root: sync; echo 3 > /proc/sys/vm/drop_caches).
#
#   bench/compare.sh [--cold] DIR [RUNS]
#
# Every tool searches DIR recursively for files of equal contents, hidden
# files included, symbolic links not followed, empty files counted as
# duplicates, its output to /dev/null or to a temporary directory (never into
# the tree). One untimed round reads the tree into the cache and counts the
# pairs of equal files each tool reports; then RUNS rounds (default 3) run
# each tool once, the order rotating from round to round. Printed: the
# median wall time of each, our time over theirs, and whether ours is at
# most 0.7 x the fastest of them warm, 0.6 x cold. Cold, the rounds also time
# reading every file that shares its size with another (what a content
# search must read) with many reads in flight, and ours should stay within
# 1.2 x of that.
#
# Ours is qevra-find --content, a whole process as the peers are,
# build/bench/src/qevra-find unless QEVRA_FIND names another;
# missing tools are installed with apt-get.
set -euo pipefail

cold=false
if [[ ${1:-} == --cold ]]; then
    cold=true
    shift
fi
if [[ $# -lt 1 || $# -gt 2 || ! -d $1 ]]; then
    echo "usage: $0 [--cold] DIR [RUNS]" >&2
    exit 2
fi
if $cold && ((EUID != 0)); then
    echo "--cold drops the page cache: run as root" >&2
    exit 2
fi
dir=$(cd "$1" && pwd)
runs=${2:-3}
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
    echo "RUNS: a positive number" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
ours=${QEVRA_FIND:-$here/../build/bench/src/qevra-find}
if [[ ! -x $ours ]]; then
    echo "$ours not found; build it first (make bench)" >&2
    exit 2
fi

missing=()
for tool in jdupes fdupes rmlint rdfind; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}" >&2
    as_root=()
    ((EUID == 0)) || as_root=(sudo)
    "${as_root[@]}" apt-get install -y "${missing[@]}" >&2
fi

work=$(mktemp -d /tmp/qevra-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT

drop_caches() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
}

# The files a content search must read: those sharing their size with
# another, NUL-separated.
find "$dir" -type f -printf '%s\t%p\0' |
    awk 'BEGIN { RS = "\0"; ORS = "\0" } { t = index($0, "\t"); s = substr($0, 1, t - 1);
        p = substr($0, t + 1); n[s]++; f[NR] = p; z[NR] = s }
        END { for (i = 1; i <= NR; i++) if (n[z[i]] > 1) print f[i] }' >"$work/to-read"

# Each tool's command; OUT is where its list of duplicates goes.
run_tool() { # NAME OUT
    local out=$2
    case $1 in
    reading)
        # Every file a content search must read, 32 reads in flight.
        xargs -0 -P 32 -n 64 cat <"$work/to-read" >/dev/null
        ;;
    ours)
        # A whole process, as the peers are: every file, by content, every
        # pair as two NUL-terminated paths.
        "$ours" --content --no-cache -0 "$dir" >"$out" 2>/dev/null
        ;;
    jdupes) jdupes -r -z -q "$dir" >"$out" ;;
    fdupes) fdupes -r -q "$dir" >"$out" ;;
    rmlint)
        # Run from the temporary directory, so that nothing lands in the
        # tree or here; its list always goes to a file of ours, since rmlint
        # replaces the file it writes (it must never be handed /dev/null).
        local list=$out
        [[ $out == /dev/null ]] && list=$work/rmlint-results.txt
        (cd "$work" && rmlint -T df --size 0 --hidden --no-followlinks \
            -o "fdupes:$list" "$dir" >/dev/null 2>&1)
        ;;
    rdfind)
        local name=$out
        [[ $out == /dev/null ]] && name=$work/rdfind-results.txt
        (cd "$work" && rdfind -dryrun true -ignoreempty false -followsymlinks false \
            -outputname "$name" "$dir" >/dev/null)
        ;;
    esac
}

# Pairs of equal files in a tool's list.
count_pairs() { # NAME FILE
    case $1 in
    ours)
        # Rows are NUL-terminated path pairs.
        tr -cd '\0' <"$2" | wc -c | awk '{ print $1 / 2 }'
        ;;
    rdfind)
        # One line per file; files of one set share the id, negative after
        # the first.
        awk '!/^#/ && NF >= 8 { id = $2 < 0 ? -$2 : $2; n[id]++ }
            END { p = 0; for (i in n) p += n[i] * (n[i] - 1) / 2; print p }' "$2"
        ;;
    *)
        # Sets of paths separated by empty lines.
        awk 'NF == 0 { p += n * (n - 1) / 2; n = 0; next } { n++ }
            END { p += n * (n - 1) / 2; print p }' "$2"
        ;;
    esac
}

tools=(ours jdupes fdupes rmlint rdfind)
timed=("${tools[@]}")
$cold && timed+=(reading)

echo "tree: $dir ($(find "$dir" -type f | wc -l) files, $(du -sh "$dir" | cut -f1))"
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
echo "warming the cache and counting pairs of equal files..."
find "$dir" -type f -print0 | xargs -0 cat >/dev/null
for tool in "${tools[@]}"; do
    run_tool "$tool" "$work/$tool.list"
    printf '  %-7s %s pairs\n' "$tool" "$(count_pairs "$tool" "$work/$tool.list")"
    rm -f "$work/$tool.list"
done

declare -A times
for ((round = 0; round < runs; ++round)); do
    for ((k = 0; k < ${#timed[@]}; ++k)); do
        tool=${timed[(k + round) % ${#timed[@]}]}
        $cold && drop_caches
        start=$EPOCHREALTIME
        run_tool "$tool" /dev/null
        end=$EPOCHREALTIME
        seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        times[$tool]+="$seconds "
        echo "round $((round + 1)): $tool ${seconds} s"
    done
done

median() {
    tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo
$cold && cache=cold || cache=warm
echo "median wall time of $runs runs ($cache cache):"
ours_median=$(median <<<"${times[ours]}")
printf '  %-7s %8.3f s\n' ours "$ours_median"
fastest=
fastest_tool=
for tool in "${tools[@]:1}"; do
    m=$(median <<<"${times[$tool]}")
    ratio=$(awk -v a="$ours_median" -v b="$m" 'BEGIN { printf "%.2f", a / b }')
    printf '  %-7s %8.3f s   ours / %s = %s\n' "$tool" "$m" "$tool" "$ratio"
    if [[ -z $fastest ]] || awk -v a="$m" -v b="$fastest" 'BEGIN { exit !(a < b) }'; then
        fastest=$m
        fastest_tool=$tool
    fi
done
goal=0.7
$cold && goal=0.6
limit=$(awk -v f="$fastest" -v g="$goal" 'BEGIN { printf "%.3f", g * f }')
if awk -v a="$ours_median" -v l="$limit" 'BEGIN { exit !(a <= l) }'; then
    echo "GOAL MET: ours $ours_median s <= $goal x $fastest_tool ($fastest s) = $limit s"
else
    echo "GOAL MISSED: ours $ours_median s > $goal x $fastest_tool ($fastest s) = $limit s"
fi
if $cold; then
    reading=$(median <<<"${times[reading]}")
    ratio=$(awk -v a="$ours_median" -v b="$reading" 'BEGIN { printf "%.2f", a / b }')
    printf '  reading the files a content search must read: %.3f s; ours / reading = %s\n' \
        "$reading" "$ratio"
    if awk -v r="$ratio" 'BEGIN { exit !(r <= 1.2) }'; then
        echo "GOAL MET: ours within 1.2 x of reading the files"
    else
        echo "GOAL MISSED: ours beyond 1.2 x of reading the files"
    fi
fi
