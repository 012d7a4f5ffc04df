#!/usr/bin/env bash
# fuzz/run.sh SECONDS [TARGET...]: builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (the whole tree instrumented) in a build directory of their own, and
# runs each target for SECONDS seconds, starting from its seed corpus in fuzz/corpus/<target>/
# and the third-party test data in tests/data/.
# Without TARGET it runs fuzz_codecs, fuzz_host_input and fuzz_utf, one after the other.
#
# Exits non-zero if the build fails or if any target finds something: a failed property, a
# crash, a sanitizer report, a leak, a time-out (30 s for one input) or more than 2 GB of memory.
# The input that caused it is kept in fuzz/artifacts/<target>/; rerun it with
#   build/fuzz/fuzz/<target> fuzz/artifacts/<target>/<file>
# New inputs the fuzzer finds go to the working corpus <build>/corpus/<target>/, never into the
# seed corpus.
#
# Environment: QCI_FUZZ_BUILD_DIR (default build/fuzz), QCI_FUZZ_CXX (default clang++),
# JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz/run.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=(fuzz_codecs fuzz_host_input fuzz_utf); fi

build=${QCI_FUZZ_BUILD_DIR:-build/fuzz}
cxx=${QCI_FUZZ_CXX:-clang++}
jobs=${JOBS:-2}
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "fuzz/run.sh: $cxx not found; the fuzzers need clang" >&2
  exit 2
fi

sanitizers="-fsanitize=address,undefined"
echo "== configure $build ($cxx)"
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$sanitizers,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" \
  -DCMAKE_SHARED_LINKER_FLAGS="$sanitizers" \
  -DQCI_WERROR=ON -DQCI_BUILD_FUZZERS=ON -DQCI_BUILD_TESTS=OFF -DQCI_BUILD_BENCHMARKS=OFF \
  >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
echo "== build ${targets[*]}"
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# Leaks are findings; UBSan reports stop the run (the flags above make them fatal).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
summary=()
for target in "${targets[@]}"; do
  case $target in
    fuzz_host_input) max_len=8192 ;;
    fuzz_codecs) max_len=8192 ;;
    *) max_len=4096 ;;
  esac
  # Seeds: the target's own, plus the third-party test data the end-to-end tests read too.
  case $target in
    fuzz_utf) third_party=(tests/data/json-test-suite/test_parsing tests/data/utf8) ;;
    *) third_party=(tests/data/json-test-suite/test_parsing) ;;
  esac
  work="$build/corpus/$target"
  artifacts="fuzz/artifacts/$target"
  log="$build/$target.log"
  mkdir -p "$work" "$artifacts"
  echo "== $target: ${seconds}s, seeds fuzz/corpus/$target and ${third_party[*]}"
  status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "fuzz/corpus/$target" "${third_party[@]}" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  corpus=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$done_line")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
  summary+=("$(printf '%-16s status %-3s execs %-10s corpus %-12s cov %s' \
    "$target" "$status" "${execs:-?}" "${corpus:-?}" "${cov:-?}")")
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "-- $target FAILED (exit $status); last lines of $log:"
    tail -60 "$log"
  fi
done

echo "== fuzz summary (${seconds}s per target; corpus = units/size in memory at the end)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz/run.sh: findings in ${failed[*]} (inputs in fuzz/artifacts/)" >&2
  exit 1
fi
