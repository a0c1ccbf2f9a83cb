#!/bin/sh
# Installs the server package built by scripts/check-package.sh (dpkg -i) on this Debian
# machine, as root, and checks it the way an administrator would meet it:
#   - the system user and group vexlan exist, own the service's directories (data a root-run
#     version left there included, kept as it was), and the registry, log and status file are
#     not readable by others;
#   - the installed vexland, run as the unit runs it (its user, capabilities, directories,
#     environment, working directory and umask, read from the installed unit; no systemd is
#     needed), tells a stand-in notification socket READY=1, answers vexlanctl, and stops in
#     order on SIGTERM;
#   - purging the package removes the user and group.
# The machine is left as it was found: whatever the test created is removed, and a machine
# that has the package or a user vexlan of its own is not touched at all.
set -eu
cd "$(dirname "$0")/.."
deb=$(ls build-package/vexlan_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "check-package-install: no package; run scripts/check-package.sh" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "check-package-install: needs root (dpkg -i)" >&2; exit 1; }
if dpkg-query -W -f='${Status}' vexlan 2>/dev/null | grep -q installed; then
  echo "check-package-install: the package vexlan is installed here; leaving this machine alone" >&2
  exit 1
fi
if getent passwd vexlan >/dev/null || getent group vexlan >/dev/null; then
  echo "check-package-install: this machine has a user or group vexlan of its own; leaving it alone" >&2
  exit 1
fi

fail() { echo "check-package-install: $*" >&2; exit 1; }
existed=""
for d in /var/lib/vexlan /var/log/vexlan /run/vexlan /etc/vexlan; do
  [ -e "$d" ] && existed="$existed $d"
done
work=$(mktemp -d)
server=""
cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill -KILL "$server" 2>/dev/null || true
  fi
  if dpkg-query -W -f='${Status}' vexlan 2>/dev/null | grep -q "ok installed\|config-files"; then
    dpkg --purge vexlan >/dev/null 2>&1 || true
  fi
  for d in /var/lib/vexlan /var/log/vexlan /run/vexlan /etc/vexlan; do
    case " $existed " in *" $d "*) ;; *) rm -rf "$d" ;; esac
  done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# What a version that ran as root left behind: its data, root's and readable by all. The
# installation keeps it and gives it to vexlan.
old_data=""
case " $existed " in
  *" /var/lib/vexlan "*) ;;
  *)
    old_data=/var/lib/vexlan/crash-reports/kept.dat
    mkdir -p /var/lib/vexlan/crash-reports
    echo "data of a root-run server" >"$old_data"
    chmod 0644 "$old_data"
    ;;
esac

dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }

# The user and group, and what belongs to them.
getent group vexlan >/dev/null || fail "no group vexlan"
entry=$(getent passwd vexlan) || fail "no user vexlan"
uid=$(echo "$entry" | cut -d: -f3)
[ "$uid" -lt 1000 ] || fail "vexlan is not a system user (uid $uid)"
echo "$entry" | grep -q ':/var/lib/vexlan:/usr/sbin/nologin$' || fail "vexlan's home or shell: $entry"
mode() { stat -c '%U:%G %a' "$1"; }
[ "$(mode /var/lib/vexlan)" = "vexlan:vexlan 750" ] || fail "/var/lib/vexlan is $(mode /var/lib/vexlan)"
[ "$(mode /var/log/vexlan)" = "vexlan:vexlan 750" ] || fail "/var/log/vexlan is $(mode /var/log/vexlan)"
[ "$(mode /etc/vexlan/vexlan.conf)" = "root:vexlan 640" ] || fail "vexlan.conf is $(mode /etc/vexlan/vexlan.conf)"
if [ -n "$old_data" ]; then
  [ "$(cat "$old_data")" = "data of a root-run server" ] || fail "the data of the root-run server changed"
  [ "$(mode "$old_data")" = "vexlan:vexlan 640" ] || fail "$old_data is $(mode "$old_data")"
fi
# A second configure (an upgrade, a reinstall) finds everything in place.
/var/lib/dpkg/info/vexlan.postinst configure "$(dpkg-query -W -f='${Version}' vexlan)" >/dev/null 2>&1 ||
  fail "a second configure failed"
[ "$(getent passwd vexlan)" = "$entry" ] || fail "a second configure changed the user"
[ "$(mode /var/lib/vexlan)" = "vexlan:vexlan 750" ] || fail "a second configure changed /var/lib/vexlan"

# The unit, as the service manager would run it.
unit=/usr/lib/systemd/system/vexlan.service
[ -f "$unit" ] || unit=/lib/systemd/system/vexlan.service
key() { sed -n "s/^$1=//p" "$unit"; }
[ "$(key User)" = vexlan ] && [ "$(key Group)" = vexlan ] || fail "the unit does not run as vexlan"
caps=$(key AmbientCapabilities | tr 'A-Z ' 'a-z,' | sed 's/cap_/+/g')
[ "$caps" = "+net_raw,+net_bind_service" ] || fail "the unit's capabilities: $caps"
exec_start=$(key ExecStart)
workdir=$(key WorkingDirectory)
umask_value=$(key UMask)
unit_env=$(key Environment)
# What systemd makes for RuntimeDirectory= with RuntimeDirectoryMode=.
install -d -o vexlan -g vexlan -m "$(key RuntimeDirectoryMode)" /run/vexlan

cat >"$work/notify.py" <<'EOF'
import socket, sys, time
sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
sock.bind(sys.argv[1])
sock.settimeout(1)
deadline = time.time() + float(sys.argv[3])
with open(sys.argv[2], "a") as out:
    while time.time() < deadline:
        try:
            msg = sock.recv(4096).decode(errors="replace")
        except socket.timeout:
            continue
        out.write(msg.replace("\n", "|") + "\n")
        out.flush()
        if "STOPPING=1" in msg:
            break
EOF
notify="$work/notify.sock"
python3 "$work/notify.py" "$notify" "$work/notify.log" 120 &
listener=$!
for _ in $(seq 50); do [ -S "$notify" ] && break; sleep 0.1; done
chmod 0777 "$work" && chmod 0666 "$notify"

(
  cd "$workdir"
  umask "$umask_value"
  # shellcheck disable=SC2086
  exec setpriv --reuid=vexlan --regid=vexlan --init-groups --no-new-privs \
    --inh-caps="$caps" --ambient-caps="$caps" --bounding-set=-all,"$caps" \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 $unit_env \
    RUNTIME_DIRECTORY=/run/vexlan STATE_DIRECTORY=/var/lib/vexlan LOGS_DIRECTORY=/var/log/vexlan \
    CONFIGURATION_DIRECTORY=/etc/vexlan NOTIFY_SOCKET="$notify" $exec_start
) >"$work/vexland.out" 2>&1 &
server=$!
ready=""
for _ in $(seq 300); do
  if grep -q "READY=1" "$work/notify.log" 2>/dev/null; then ready=1; break; fi
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
[ -n "$ready" ] || { cat "$work/vexland.out" /var/log/vexlan/server.log >&2 2>/dev/null; fail "no READY=1"; }

# It and its workers run as vexlan, with the two capabilities and no other.
proc_uid() { awk '/^Uid:/ { print $2 }' "/proc/$1/status"; }
proc_caps() { awk '/^Cap'"$2"':/ { print $2 }' "/proc/$1/status"; }
[ "$(proc_uid "$server")" = "$uid" ] || fail "vexland runs as uid $(proc_uid "$server")"
worker=$(pgrep -P "$server" | head -n 1)
[ -n "$worker" ] || fail "vexland has no workers"
[ "$(proc_uid "$worker")" = "$uid" ] || fail "a worker runs as uid $(proc_uid "$worker")"
for set in Eff Amb Bnd; do
  [ "$(proc_caps "$worker" $set)" = 0000000000002400 ] ||
    fail "a worker's Cap$set is $(proc_caps "$worker" $set), not CAP_NET_RAW and CAP_NET_BIND_SERVICE"
done
[ "$(mode /run/vexlan/status.json)" = "vexlan:vexlan 640" ] || fail "status.json is $(mode /run/vexlan/status.json)"
[ "$(mode /run/vexlan/admin.sock)" = "vexlan:vexlan 660" ] || fail "admin.sock is $(mode /run/vexlan/admin.sock)"
[ "$(mode /var/log/vexlan/server.log)" = "vexlan:vexlan 640" ] || fail "server.log is $(mode /var/log/vexlan/server.log)"

# The administrator's tool reaches it (root finds the service's files without the unit's
# environment).
vexlanctl status >"$work/status.txt" || { cat "$work/status.txt" >&2; fail "vexlanctl status"; }
grep -q "EVENTS IN/OUT" "$work/status.txt" || fail "vexlanctl status shows no figures"
vexlanctl metrics --format=openmetrics >"$work/metrics.txt" || fail "vexlanctl metrics"
tail -n 1 "$work/metrics.txt" | grep -qx "# EOF" || fail "the metrics do not end in # EOF"
grep -q '^vexlan_uptime_seconds_total{worker="dbms"} ' "$work/metrics.txt" || fail "no dbms metrics"

kill -TERM "$server"
status=0
wait "$server" || status=$?
server=""
[ "$status" -eq 0 ] || { cat /var/log/vexlan/server.log >&2; fail "vexland ended with $status"; }
wait "$listener" 2>/dev/null || true
grep -q "STOPPING=1" "$work/notify.log" || fail "no STOPPING=1"
grep -q "Vexlan shutdown complete" /var/log/vexlan/server.log || fail "no orderly shutdown"
for db in /var/lib/vexlan/registry.db /var/lib/vexlan/user-registry.db; do
  [ ! -e "$db" ] || [ "$(mode "$db")" = "vexlan:vexlan 600" ] || fail "$db is $(mode "$db")"
done
[ -e /var/lib/vexlan/registry.db ] || [ -e /var/lib/vexlan/user-registry.db ] ||
  fail "no registry database was written"

dpkg --purge vexlan >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg --purge failed"; }
getent passwd vexlan >/dev/null && fail "the user vexlan survived the purge"
getent group vexlan >/dev/null && fail "the group vexlan survived the purge"
[ "$(stat -c %U /var/lib/vexlan)" = root ] || fail "the kept data does not belong to root after the purge"
[ -z "$old_data" ] || [ -f "$old_data" ] || fail "the purge removed the data"
echo "check-package-install: $(basename "$deb") installs, runs as vexlan (READY=1), stops and purges OK"
