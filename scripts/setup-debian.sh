#!/bin/sh
# Installs the Debian 12 packages this project needs. Idempotent and non-interactive: packages
# already present are left alone, so a second run does nothing and needs no network.
#   scripts/setup-debian.sh            build, run and test dependencies
#   scripts/setup-debian.sh fuzz       also clang and its runtime for the libFuzzer targets
#   scripts/setup-debian.sh dev        also clang-format, the packaging tools and what the
#                                      package test uses (adduser, python3, setpriv, strace)
set -eu

base="build-essential cmake ninja-build pkg-config git ccache
      libspdlog-dev libfmt-dev libsqlite3-dev libsystemd-dev
      libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
      procps psmisc"
fuzz="clang lld libclang-rt-14-dev"
dev="clang-format dpkg-dev fakeroot file adduser python3 util-linux strace"

want="$base"
for group in "$@"; do
  case "$group" in
    fuzz) want="$want $fuzz" ;;
    dev) want="$want $dev" ;;
    all) want="$want $fuzz $dev" ;;
    *) echo "setup-debian.sh: unknown group '$group' (fuzz, dev, all)" >&2; exit 2 ;;
  esac
done

missing=""
for p in $want; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=""
elif command -v sudo >/dev/null 2>&1; then
  SUDO="sudo"
else
  echo "setup-debian.sh: run as root to install:$missing" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
