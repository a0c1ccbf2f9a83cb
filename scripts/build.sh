#!/bin/sh
# Configures (once) and builds one preset: default, asan or fuzz.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"
case "$preset" in
  default) dir=build ;;
  asan) dir=build-asan ;;
  fuzz) dir=build-fuzz ;;
  *) echo "build.sh: unknown preset '$preset'" >&2; exit 2 ;;
esac
if [ ! -f "$dir/build.ninja" ]; then
  cmake --preset "$preset" >/dev/null
fi
cmake --build --preset "$preset"
