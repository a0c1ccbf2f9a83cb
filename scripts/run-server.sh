#!/bin/sh
# Installs what is missing, builds, and runs the server in the foreground on the bundled example
# configuration with the reference workers. Ctrl+C stops it in order.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
scripts/build.sh default
exec build/bin/vexland -v -f examples/vexlan.conf
