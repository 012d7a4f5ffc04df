#!/usr/bin/env bash
# Profiles one benchmark with callgrind, for docs/PERFORMANCE.md: builds the benchmarks in
# release with debug information (build/bench-prof), runs the chosen benchmark under callgrind
# and prints callgrind_annotate's inclusive costs with call counts ("(N x)" after each callee),
# after the calls of a few telling functions (allocation, locks) summed over all their callers.
# For a paired benchmark (bench/Paired.hpp), VARIANT runs that variant alone and the script first
# prints how many operations it ran: a cost per operation is a total divided by that number.
#
#   bench/profile.sh future_bench '^Futures_Chained$' chained
#   bench/profile.sh delivery_bench '^Json/ServiceRegistry$' plugin 0.2
#
# Arguments: PROGRAM FILTER [VARIANT [MIN_TIME seconds, default 0.1]]. Output file:
# build/bench-prof/callgrind.<PROGRAM>.out (open it with callgrind_annotate or kcachegrind).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
  awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
  exit 2
fi
program=$1
filter=$2
variant=${3:-}
min_time=${4:-0.1}
build_dir=build/bench-prof
out="$build_dir/callgrind.$program.out"

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQCI_WERROR=ON \
  -DQCI_BUILD_TESTS=OFF "-DCMAKE_CXX_FLAGS=-g -fno-omit-frame-pointer" > /dev/null
cmake --build "$build_dir" -j 2 --target "$program" > /dev/null

env ${variant:+QCI_BENCH_ONLY="$variant"} valgrind --tool=callgrind --callgrind-out-file="$out" \
  "$build_dir/bench/$program" --benchmark_filter="$filter" --benchmark_min_time="$min_time" \
  > /dev/null 2> "$out.log"
if [ -n "$variant" ]; then
  awk '$1 == "operations" { n += $3 } END { print "operations of variant '"$variant"': " n }' \
    "$out.log"
fi
annotated="$out.annotated"
callgrind_annotate --inclusive=yes --tree=calling --threshold=100 "$out" > "$annotated" 2> /dev/null
# Calls of a few telling functions, summed over all their callers.
echo "calls summed over callers:"
awk '
  /^ *[0-9,]+ \([ 0-9.]+%\)  >   / && match($0, /\(([0-9,]+)x\)/) {
    n = substr($0, RSTART + 1, RLENGTH - 3); gsub(",", "", n)
    name = $0; sub(/^ *[0-9,]+ \([ 0-9.]+%\)  >   /, "", name); sub(/ \([0-9,]+x\).*/, "", name)
    sub(/^[^:]*:/, "", name); calls[name] += n
  }
  END {
    for (name in calls)
      if (name ~ /^(malloc|free|pthread_mutex_lock@@GLIBC_2.2.5|pthread_rwlock_rdlock@@GLIBC_2.34|std::condition_variable::notify_all\(\)|pthread_cond_destroy@@GLIBC_2.3.2|__dynamic_cast)$/)
        printf "  %10d  %s\n", calls[name], name
  }' "$annotated" | sort -k2
echo
echo "the most expensive functions, inclusive (whole listing: $annotated):"
head -n 400 "$annotated"
