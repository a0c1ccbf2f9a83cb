#!/bin/sh
# Fails when a tracked C++ file differs from what clang-format makes of it.
set -eu
cd "$(dirname "$0")/.."
git ls-files -z '*.h' '*.cc' | xargs -0 -r clang-format --dry-run --Werror
