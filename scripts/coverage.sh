#!/usr/bin/env bash
# Line and branch coverage of the product code (connector/, host/, standin/, tools/) by the whole
# test suite: builds the `coverage` preset (gcc --coverage), runs every CTest test, and has gcovr
# (Debian's gcovr) summarise. Branches the compiler adds for exceptions and for code it can prove
# unreachable are left out, so that the branch figure counts decisions written in the source.
#
#   bash scripts/coverage.sh            # summary on stdout, HTML in build/coverage/coverage/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh coverage

cmake --preset coverage >/dev/null
cmake --build --preset coverage -j "${JOBS:-2}"
find build/coverage -name '*.gcda' -delete
# A failing test lowers the figures but does not hide them.
ctest --preset coverage -j "${JOBS:-2}" || echo "coverage: some tests failed (figures below are still those of this run)"

mkdir -p build/coverage/coverage
gcovr --root . --object-directory build/coverage -j "${JOBS:-2}" \
      --filter 'connector/' --filter 'host/' --filter 'standin/' --filter 'tools/' \
      --exclude-throw-branches --exclude-unreachable-branches \
      --exclude-directories '.*CompilerIdCXX.*' --exclude-directories '.*package-test.*' \
      --html-details build/coverage/coverage/index.html --print-summary
