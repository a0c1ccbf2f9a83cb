#!/bin/sh
# Fuzzes the configuration reader and the custom NetCheck parser for a bounded time each.
#   fuzz/config_run.sh [seconds per target, default 60]
# New inputs go to a scratch corpus under build-fuzz/; copy one into fuzz/corpus/<target>/
# when it is worth replaying in every ordinary build (crashes always are).
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/setup-debian.sh fuzz
scripts/build.sh fuzz
for target in config netcheck; do
  work="build-fuzz/corpus-$target"
  mkdir -p "$work"
  build-fuzz/bin/fuzz_$target -max_total_time="$seconds" -rss_limit_mb=1024 -max_len=16384 \
    -artifact_prefix="build-fuzz/$target-" "$work" "fuzz/corpus/$target"
done
