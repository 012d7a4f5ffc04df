#!/usr/bin/env bash
# Builds the benchmarks in release (in build/bench, apart from every other build), runs each
# program with repetitions in random interleaving (each figure and its baselines are timed side by
# side within a benchmark, see Paired.hpp) and prints the performance table (medians over the
# repetitions; ratios within one run of one binary), ending with the line "N/M targets met".
#
#   bench/run.sh                    # the full run, as in docs/PERFORMANCE.md
#   REPETITIONS=3 bench/run.sh      # quicker, less stable
#
# Environment: BUILD_DIR (build/bench), REPETITIONS (12), MIN_TIME (0.1 s per repetition),
# JOBS (2).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build/bench}
repetitions=${REPETITIONS:-12}
min_time=${MIN_TIME:-0.1}
jobs=${JOBS:-2}
results="$build_dir/results"
programs=(future_bench delivery_bench host_evaluation_bench)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQCI_WERROR=ON \
  -DQCI_BUILD_TESTS=OFF > /dev/null
cmake --build "$build_dir" -j "$jobs" --target "${programs[@]}" allocation_bench > /dev/null

mkdir -p "$results"
echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
# Each program's console output goes to a log beside its JSON (shown if the program fails).
run() {
  local program=$1
  shift
  if ! "$build_dir/bench/$program" "$@" --benchmark_out="$results/$program.json" \
      --benchmark_out_format=json > "$results/$program.log" 2>&1; then
    cat "$results/$program.log" >&2
    exit 1
  fi
}
for program in "${programs[@]}"; do
  run "$program" --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_min_time="$min_time"
done
# Counts, not timings: one short run gives them.
run allocation_bench --benchmark_min_time=0.05
echo "load average after the run:  $(cut -d' ' -f1-3 /proc/loadavg)"
echo

python3 bench/report.py "$results"
