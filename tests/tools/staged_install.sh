#!/bin/sh
# Installs the build into a staging directory (DESTDIR), builds the example worker against
# the staged SDK (CMake package and pkg-config), and runs the staged server briefly: its
# workers must come from the staged worker directory and the example must join as the extra
# process.
#   staged_install.sh BUILD_DIR SOURCE_DIR PREFIX [LINKER_FLAGS]
set -eu
build=$1 source=$2 prefix=$3 ldflags=${4:-}
stage=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill -9 "$server" 2>/dev/null || true
  rm -rf "$stage"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  for f in "$stage/run/err" "$stage/run/log/server.log"; do
    [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
  done
  exit 1
}

DESTDIR=$stage cmake --install "$build" >/dev/null
root=$stage$prefix
for f in sbin/vexland bin/vexlanctl lib/vexlan/vexlan-worker lib/vexlan/vexlan-dbms \
         share/man/man8/vexland.8 share/man/man8/vexlanctl.8 share/man/man5/vexlan.conf.5 \
         lib/systemd/system/vexlan.service include/vexlan/sdk/worker.h; do
  [ -e "$root/$f" ] || fail "$f not installed"
done
grep -q "^ExecStart=$prefix/sbin/vexland " "$root/lib/systemd/system/vexlan.service" ||
  fail "the unit does not run the installed server"

# The example, through the CMake package and through pkg-config.
cmake -S "$source/examples/worker" -B "$stage/example" -G Ninja \
      -DCMAKE_PREFIX_PATH="$root" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null ||
  fail "configuring the example"
cmake --build "$stage/example" >/dev/null || fail "building the example"
flags=$(PKG_CONFIG_PATH="$(dirname "$(find "$root" -name vexlan-worker.pc)")" \
        pkg-config --define-variable=prefix="$root" --cflags --libs vexlan-worker) ||
  fail "pkg-config"
c++ "$source/examples/worker/main.cc" $flags $ldflags -o "$stage/example/by-pkg-config" ||
  fail "building the example with pkg-config"

# The staged server with its staged workers and the example as the extra process.
mkdir -p "$stage/run"
cat >"$stage/run/vexlan.conf" <<CONF
logdir = "$stage/run/log"
working_directory = "$stage/run"
layout_conf = "$stage/run/layout.conf"
dbms_tsdb = "$stage/run/tsdb"
dbms_odb = "$stage/run/odb"
smem_size = 16
passive = true
CONF
export VX_WORKER_DIR="$root/lib/vexlan" RUNTIME_DIRECTORY="$stage/run"
export VX_REGISTRY_USER="$stage/run/user.db" VX_REGISTRY_MACHINE="$stage/run/machine.db"
export VX_EXTRA_PROCESS="$stage/example/vexlan-example-worker"
unset NOTIFY_SOCKET VX_RUN_IN_BACKGROUND
"$root/sbin/vexland" -v -f "$stage/run/vexlan.conf" >/dev/null 2>"$stage/run/err" &
server=$!
i=0
until grep -q "Vexlan: Spawned OK." "$stage/run/err" 2>/dev/null; do
  i=$((i + 1))
  [ $i -le 300 ] && kill -0 $server 2>/dev/null || fail "the staged server did not come up"
  sleep 0.1
done
i=0
until grep -q "example worker up on" "$stage/run/log/server.log" 2>/dev/null; do
  i=$((i + 1))
  [ $i -le 100 ] || fail "the example worker did not report"
  sleep 0.1
done
pid=$(sed -n 's/.*Spawned vexlan-dbms.exe with pid \([0-9]*\).*/\1/p' "$stage/run/log/server.log")
[ "$(readlink "/proc/$pid/exe")" = "$root/lib/vexlan/vexlan-worker" ] ||
  fail "the database worker is $(readlink "/proc/$pid/exe"), not the staged one"
"$root/bin/vexlanctl" status | grep -q "extr .*vexlan-example-worker" ||
  fail "vexlanctl status does not show the example worker"

kill -INT $server
wait $server || fail "the staged server ended with status $?"
server=""
echo "staged install: OK"
