#!/bin/sh
# Installs what is missing, builds, and runs the server in the foreground on the bundled example
# configuration with the reference workers. Ctrl+C stops it in order.
#
# Everything the server keeps lives in ./state/ of this tree: the configuration's directories,
# and the registry (server variables, saved entropy) unless VX_REGISTRY_USER or
# VX_REGISTRY_MACHINE already point elsewhere.
set -eu
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
scripts/build.sh default
mkdir -p state/log
: "${VX_REGISTRY_USER:=$PWD/state/registry-user.db}"
: "${VX_REGISTRY_MACHINE:=$PWD/state/registry-machine.db}"
export VX_REGISTRY_USER VX_REGISTRY_MACHINE
exec build/bin/vexland -v -f examples/vexlan.conf
