#!/usr/bin/env bash
# Builds the benchmarks in release (in build/bench, apart from every other build), runs each
# timing program twice, once per thread placement (bench/Placement.hpp: "same", every thread on
# CPU 0; "split", the timing thread on CPU 0 and the program's other threads on CPU 1), with
# repetitions in random interleaving (each figure and its floor are timed side by side within a
# benchmark, see Paired.hpp), and prints the performance table (medians over the repetitions;
# ratios within one run of one binary; a timed target counts as met only in both placements),
# ending with the line "N/M targets met". The HTTP rows come from bench/http_bench.py: wrk against
# connector-host and a minimal Beast server, every process on CPU 0 ("same") or free ("split").
#
#   bench/run.sh                    # the full run, as in docs/PERFORMANCE.md
#   REPETITIONS=3 bench/run.sh      # quicker, less stable
#
# Environment: BUILD_DIR (build/bench), REPETITIONS (12), MIN_TIME (0.1 s per repetition),
# JOBS (2), HTTP_SECONDS (2 per wrk run), HTTP_REPETITIONS (5). Needs two CPUs and wrk.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh bench

build_dir=${BUILD_DIR:-build/bench}
repetitions=${REPETITIONS:-12}
min_time=${MIN_TIME:-0.1}
jobs=${JOBS:-2}
results="$build_dir/results"
programs=(future_bench delivery_bench host_evaluation_bench observability_bench)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQCI_WERROR=ON \
  -DQCI_BUILD_TESTS=OFF > /dev/null
cmake --build "$build_dir" -j "$jobs" --target "${programs[@]}" allocation_bench connector-host \
  http_floor_server > /dev/null

rm -rf "$results"
mkdir -p "$results/same" "$results/split"
echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
# Each program's console output goes to a log beside its JSON (shown if the program fails).
run() {
  local out=$1 program=$2
  shift 2
  if ! "$build_dir/bench/$program" "$@" --benchmark_out="$out/$program.json" \
      --benchmark_out_format=json > "$out/$program.log" 2>&1; then
    cat "$out/$program.log" >&2
    exit 1
  fi
}
for placement in same split; do
  # The scaling benchmarks pin their own threads to CPUs 0 and 1: one run of them is enough.
  filter=.
  [ "$placement" = same ] && filter=-Scaling
  for program in "${programs[@]}"; do
    QCI_BENCH_PLACEMENT=$placement run "$results/$placement" "$program" \
      --benchmark_filter="$filter" --benchmark_repetitions="$repetitions" \
      --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
      --benchmark_min_time="$min_time"
  done
done
# The HTTP path under wrk, against the floor server and the stdin path (bench/http_bench.py).
for placement in same split; do
  python3 bench/http_bench.py "$build_dir" "$results/$placement/http.json" "$placement" \
    "${HTTP_SECONDS:-2}" "${HTTP_REPETITIONS:-5}"
done
# Counts, not timings: one short run gives them.
run "$results" allocation_bench --benchmark_min_time=0.05
echo "load average after the run:  $(cut -d' ' -f1-3 /proc/loadavg)"
echo

python3 bench/report.py "$results"
