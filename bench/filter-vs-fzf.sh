#!/usr/bin/env bash
# Times `tolvane filter` beside `fzf --filter` on the same lists, whole process each time: window-
# like titles (1,000 and 100,000 lines, generated from a fixed seed) and file paths (the first
# 1,000 and 100,000 of /usr, sorted). Keeps the top five lines of each for a few queries so the
# rankings can be compared by eye.
#
#   bash bench/filter-vs-fzf.sh [path/to/tolvane]      (default: build/release/src/tolvane)
#
# Prints one row per list and query: the median of five runs of each program in milliseconds,
# the peak resident memory of one run of each in MiB (GNU time's %M), and how many lines each
# printed. The lists and the top fives go to build/filter-vs-fzf/.
set -euo pipefail
cd "$(dirname "$0")/.."
tolvane=${1:-build/release/src/tolvane}
runs=5
out=build/filter-vs-fzf
mkdir -p "$out"
command -v fzf >/dev/null || { echo "filter-vs-fzf: fzf is not installed" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "filter-vs-fzf: GNU time is not installed" >&2; exit 1; }
[[ -x $tolvane ]] || { echo "filter-vs-fzf: no executable at $tolvane" >&2; exit 1; }

# A linear congruential generator in awk, so every run writes the same lines.
generate() {
  awk -v n="$1" 'BEGIN {
    split("Quarterly report|Inbox|Résumé draft|main.cpp|Budget 2026|Straße map|日本語 notes|README.md|Café menu|Pull request|Meeting notes|index.html|Invoice|Slides|Photos", docs, "|")
    split("~/src/tolvane|Downloads|Work|Projets|/etc|Home|~/src/linux|Archive", places, "|")
    split("Firefox|Terminal|Text Editor|Files|Thunderbird|LibreOffice Calc|Kate|Visual Studio Code|GIMP|Inkscape", apps, "|")
    state = 12345
    for (i = 0; i < n; i++) {
      state = (state * 1103515245 + 12345) % 2147483648; d = int(state / 65536) % 15 + 1
      state = (state * 1103515245 + 12345) % 2147483648; p = int(state / 65536) % 8 + 1
      state = (state * 1103515245 + 12345) % 2147483648; a = int(state / 65536) % 10 + 1
      printf "%s %d — %s %s\n", docs[d], i % 997, places[p], apps[a]
    }
  }'
}

# The median wall time of `runs` runs of a command reading the list, in milliseconds.
median_ms() {
  local list=$1; shift
  local times=()
  for ((r = 0; r < runs; r++)); do
    local start end
    start=$(date +%s%N)
    "$@" <"$list" >/dev/null || true  # fzf answers 1 when nothing matches
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v m=$((runs / 2 + 1)) 'NR == m { printf "%.1f", $1 / 1000 }'
}

# The peak resident memory of one run, in MiB.
peak_mib() {
  local list=$1; shift
  /usr/bin/time -f %M -o "$out/peak" "$@" <"$list" >/dev/null 2>&1 || true
  # A failing command's status line comes first.
  tail -n 1 "$out/peak" | awk '{ printf "%.1f", $1 / 1024 }'
}

queries=("rep" "mail" "meeting notes" "fox" "tolv" "résumé" "zzz")
path_queries=("lib" "usr share doc" "py")
top=("rep" "meeting notes" "fox" "résumé")

# Sorted whole first: head closing the pipe early would fail it under pipefail.
{ find /usr -xdev 2>/dev/null || true; } | LC_ALL=C sort >"$out/paths-all.txt"
for n in 1000 100000; do
  generate "$n" >"$out/titles-$n.txt"
  head -n "$n" "$out/paths-all.txt" >"$out/paths-$n.txt"
done

printf '%-14s  %-15s  %10s  %8s  %10s  %8s  %8s  %8s\n' list query "tolvane ms" "fzf ms" \
  "tolvane MiB" "fzf MiB" "tolvane#" "fzf#"
row() {
  local name=$1 q=$2 list="$out/$1.txt"
  local t f tm fm tc fc
  t=$(median_ms "$list" "$tolvane" filter "$q")
  f=$(median_ms "$list" fzf --filter "$q")
  tm=$(peak_mib "$list" "$tolvane" filter "$q")
  fm=$(peak_mib "$list" fzf --filter "$q")
  tc=$("$tolvane" filter "$q" <"$list" | wc -l)
  fc=$(fzf --filter "$q" <"$list" | wc -l || true)
  printf '%-14s  %-15s  %10s  %8s  %10s  %8s  %8s  %8s\n' "$name" "\"$q\"" "$t" "$f" "$tm" "$fm" \
    "$tc" "$fc"
}
for n in 1000 100000; do
  for q in "${queries[@]}"; do row "titles-$n" "$q"; done
  for q in "${path_queries[@]}"; do row "paths-$n" "$q"; done
done

tops="$out/top5.txt"
: >"$tops"
for q in "${top[@]}"; do
  {
    echo "== \"$q\" on 1,000 lines"
    echo "-- tolvane filter"
    "$tolvane" filter "$q" <"$out/titles-1000.txt" | head -5 || true
    echo "-- fzf --filter"
    fzf --filter "$q" <"$out/titles-1000.txt" | head -5 || true
  } >>"$tops"
done
echo "top five of each: $tops"
