#!/bin/sh
# Installs what is missing, builds and runs the whole test suite.
#   scripts/run-tests.sh               ordinary build
#   scripts/run-tests.sh asan          the same suite under AddressSanitizer + UBSan
#   scripts/run-tests.sh default -R X  extra arguments go to ctest
set -eu
cd "$(dirname "$0")/.."
preset=default
if [ $# -gt 0 ]; then preset="$1"; shift; fi
scripts/setup-debian.sh
scripts/build.sh "$preset"
exec ctest --preset "$preset" "$@"
