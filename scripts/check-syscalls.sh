#!/bin/sh
# Runs vexland of the build (build/bin) with the reference workers under strace through a start,
# status, metrics and log-level requests over the admin channel, a log rotation and an orderly
# stop, and checks what the unit's filters allow: every system call made is in systemd's
# @system-service set, and no mapping asks for memory both writable and executable
# (MemoryDenyWriteExecute). Needs strace and systemd-analyze (no running systemd).
set -eu
cd "$(dirname "$0")/.."
bin=$(pwd)/build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 0700 "$work/run"
cat >"$work/vexlan.conf" <<CONF
logdir = "$work/log"
working_directory = "$work"
layout_conf = "$work/layout.conf"
dbms_tsdb = "$work/tsdb"
dbms_odb = "$work/odb"
smem_size = 16
passive = false
CONF
export VX_REGISTRY_USER="$work/user.db" VX_REGISTRY_MACHINE="$work/machine.db" RUNTIME_DIRECTORY="$work/run"
strace -f -qq -o "$work/trace" "$bin/vexland" -v -f "$work/vexlan.conf" 2>"$work/err" &
tracer=$!
for _ in $(seq 200); do grep -q "Spawned OK" "$work/err" 2>/dev/null && break; sleep 0.1; done
grep -q "Spawned OK" "$work/err" || { cat "$work/err" >&2; exit 1; }
"$bin/vexlanctl" status >/dev/null
"$bin/vexlanctl" metrics --format=openmetrics >/dev/null
"$bin/vexlanctl" log-level '*' debug >/dev/null
server=$(pgrep -x -P "$tracer" vexland)
kill -USR1 "$server"
sleep 0.5
kill -INT "$server"
wait "$tracer"
python3 - "$work/trace" <<'PY'
import re, subprocess, sys
used = set()
wx = []
for line in open(sys.argv[1], errors="replace"):
    m = re.match(r"^\d+\s+(?:<\.\.\. )?([a-z0-9_]+)(?:\(| resumed)", line)
    if m:
        used.add(m.group(1))
    if re.search(r"\b(mmap|mprotect|pkey_mprotect)\(.*PROT_EXEC", line) and (
            "PROT_WRITE" in line or "mprotect" in line):
        wx.append(line.strip())
groups, cur = {}, None
for line in subprocess.run(["systemd-analyze", "syscall-filter"], capture_output=True,
                           text=True, check=True).stdout.splitlines():
    s = line.strip()
    if line.startswith("@"):
        cur = s
        groups[cur] = []
    elif s and not s.startswith("#") and cur:
        groups[cur].append(s)
def expand(g):
    out = set()
    for x in groups.get(g, []):
        out |= expand(x) if x.startswith("@") else {x}
    return out
outside = sorted(used - expand("@system-service"))
print(f"check-syscalls: {len(used)} system calls, outside @system-service: {outside or 'none'}; "
      f"writable+executable mappings: {len(wx)}")
sys.exit(1 if outside or wx else 0)
PY
