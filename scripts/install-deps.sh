#!/usr/bin/env bash
# Installs with apt-get what a purpose needs and is missing; nothing runs when all is there.
#
#   bash scripts/install-deps.sh demo       build connector-host and run it (make demo)
#   bash scripts/install-deps.sh test       build and pass every test (make test; the default)
#   bash scripts/install-deps.sh package    build the Debian packages (make package)
#   bash scripts/install-deps.sh bench      run the benchmarks (bench/run.sh)
#   bash scripts/install-deps.sh coverage   measure coverage (scripts/coverage.sh)
#   bash scripts/install-deps.sh ci         all that CI runs (.ci/run): tests under the
#                                           sanitizers, fuzzing, packages and their checks
set -euo pipefail

purpose=${1:-test}

build=(build-essential cmake ninja-build pkg-config
       libboost-dev libboost-thread-dev libboost-log-dev libboost-locale-dev
       libboost-program-options-dev libpoco-dev libsystemd-dev)
# The unit, end-to-end, browser and binary-interface tests.
test=(libgtest-dev libgmock-dev libbenchmark-dev python3 python3-prometheus-client
      chromium nodejs abigail-tools)
package=(dpkg-dev file help2man)
package_checks=(lintian systemd)

case "$purpose" in
  demo|build) packages=("${build[@]}") ;;
  test) packages=("${build[@]}" "${test[@]}") ;;
  package) packages=("${build[@]}" "${package[@]}") ;;
  bench) packages=("${build[@]}" libbenchmark-dev python3 wrk) ;;
  coverage) packages=("${build[@]}" "${test[@]}" gcovr) ;;
  ci) packages=("${build[@]}" "${test[@]}" "${package[@]}" "${package_checks[@]}"
                clang libclang-rt-14-dev) ;;
  *) echo "install-deps: unknown purpose '$purpose' (demo, test, package, bench, coverage, ci)" >&2
     exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps ($purpose): all dependencies present"
  exit 0
fi

echo "install-deps ($purpose): installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
