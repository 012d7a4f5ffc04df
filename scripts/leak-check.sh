#!/usr/bin/env bash
# scripts/leak-check.sh [BUILD_DIR]: runs every unit-test executable of BUILD_DIR (default
# build/release) under valgrind memcheck. Fails on any memory error and on any block definitely
# or indirectly lost; blocks still reachable at exit (static singletons of Boost.Log, POCO) are
# listed in the summary only. The end-to-end and stress suites are left to the sanitizer runs.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
if ! command -v valgrind >/dev/null 2>&1; then
  echo "leak-check: valgrind not found (apt-get install valgrind)" >&2
  exit 2
fi

status=0
for suite in framework_tests information_tests standin_tests boundary_tests connector_host_core_tests; do
  binary="$build/tests/$suite"
  if [ ! -x "$binary" ]; then
    echo "leak-check: $binary not built" >&2
    exit 2
  fi
  log="$build/valgrind-$suite.log"
  echo "== valgrind $suite"
  if valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
      --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --track-origins=yes \
      --log-file="$log" "$binary" --gtest_brief=1 >/dev/null; then
    grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|still reachable' "$log" | sed 's/^==[0-9]*== /   /'
  else
    status=1
    echo "-- $suite failed (a memcheck error, a leak or a failing test); see $log"
    tail -40 "$log"
  fi
done
exit $status
