#!/usr/bin/env bash
# The PC/SC driver under the real pcscd: builds the driver and the virtual
# reader, starts the virtual reader and pcscd in the foreground (as root, on
# pcscd's default socket: Debian's pcscd has no socket-name setting), runs
# pcsc_scan, opensc-tool and the pyscard tests, and stops both at the end,
# also on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${KPDEV_PCSC_BUILD:-build}

if [[ $(id -u) -ne 0 ]]; then
  echo "ci-pcsc: pcscd must run as root on its default socket; run as root" >&2
  exit 1
fi
scripts/deps.sh linux
pkgs=(pcscd pcsc-tools opensc python3-pyscard python3-pytest libpcsclite-dev pkg-config ser2net)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
if ps -C pcscd -o stat= | grep -qv "^Z"; then
  echo "ci-pcsc: a pcscd is already running; stop it first" >&2
  exit 1
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target ifdkpdev ifdkpdev_tests kpdev-sim
"$build"/pcsc/ifdkpdev_tests --gtest_brief=1

work=$(mktemp -d /tmp/kpdev-pcsc.XXXXXX)
sim_pid='' silent_pid='' net_pid='' ser2net_pid='' pcscd_pid=''
stop() {
  local rc=$?
  for pid in $pcscd_pid $ser2net_pid $net_pid $sim_pid $silent_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
  if ((rc != 0)) && [[ -f $work/pcscd.log ]]; then
    echo "---- pcscd log (last 60 lines)"
    tail -n 60 "$work/pcscd.log"
    cp "$work/pcscd.log" /tmp/kpdev-pcsc-pcscd.log
  fi
  rm -rf "$work"
  exit $rc
}
trap stop EXIT INT TERM

# start_sim FIFO-PREFIX ARGS...: starts kpdev-sim, sets $started_pid and $started_control.
start_sim() {
  local out=$work/$1.out
  shift
  "$build"/sim/kpdev-sim --pacing off "$@" >"$out" 2>"$work/sim.err" &
  started_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$out" 2>/dev/null && break
    sleep 0.05
  done
  grep -q '^ready' "$out" || { echo "ci-pcsc: kpdev-sim did not start" >&2; cat "$work/sim.err" >&2; return 1; }
  started_control=$(awk '$1 == "control" {print $2}' "$out")
}
start_sim sim --link "$work/tty" --insert "0 cpu atr=3B6800008031C0FE4B504331" \
  --insert "255 sector uid=A1B2C3D4"
sim_pid=$started_pid control=$started_control
# A reader that never answers (refused at open, pcscd carries on).
start_sim silent --link "$work/silent"
silent_pid=$started_pid
exec 3<>/dev/tcp/127.0.0.1/"$started_control"
echo "fault silent 1000" >&3
read -r -t 5 reply <&3
exec 3>&-
[[ $reply == ok ]]

# A reader behind a device server: ser2net (RFC 2217) on a third virtual
# reader's line, on a port of 127.0.0.1 the system chooses.
start_sim net --link "$work/net" --insert "0 cpu atr=3B6800008031C0FE4B504E31"
net_pid=$started_pid
printf 'connection: &net\n  accepter: telnet(rfc2217),tcp,127.0.0.1,0\n  connector: serialdev,%s,9600n81,local\n' \
  "$(readlink -f "$work/net")" >"$work/ser2net.yaml"
ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
ser2net_pid=$!
net_port=
for _ in $(seq 100); do
  # The listening socket among ser2net's descriptors, looked up in the
  # kernel's table.
  net_port=$(python3 - "$ser2net_pid" <<'PY'
import os, sys
pid = sys.argv[1]
inodes = set()
for fd in os.listdir("/proc/%s/fd" % pid):
    target = os.readlink("/proc/%s/fd/%s" % (pid, fd))
    if target.startswith("socket:["):
        inodes.add(target[8:-1])
for line in open("/proc/net/tcp").readlines()[1:]:
    f = line.split()
    if f[3] == "0A" and f[9] in inodes:
        print(int(f[1].split(":")[1], 16))
        break
PY
  ) || true
  [[ -n $net_port ]] && break
  sleep 0.05
done
[[ -n $net_port ]] || { echo "ci-pcsc: ser2net did not listen" >&2; cat "$work/ser2net.log" >&2; exit 1; }

lib=$root/$build/pcsc/libifdkpdev.so
mkdir "$work/conf"
entry() { printf 'FRIENDLYNAME "%s"\nDEVICENAME %s\nLIBPATH %s\nCHANNELID 0\n\n' "$1" "$2" "$lib"; }
{
  entry "KPDEV virtual reader" "$work/tty:type=1:baud=115200:sam=1"
  entry "KPDEV network reader" "rfc2217://127.0.0.1:$net_port:type=1:baud=9600"
  entry "KPDEV broken name" "$work/tty:type=9"
  entry "KPDEV broken busy" "$work/tty:type=1:baud=115200"
  entry "KPDEV broken missing" "$work/none:type=1"
  entry "KPDEV broken silent" "$work/silent:type=1:baud=9600"
} >"$work/conf/kpdev"
pcscd --foreground --debug --config "$work/conf" >"$work/pcscd.log" 2>&1 &
pcscd_pid=$!

for _ in $(seq 100); do
  scan=$(timeout 5 pcsc_scan -r 2>/dev/null || true)
  grep -q 'KPDEV virtual reader 00 01' <<<"$scan" && grep -q 'KPDEV network reader .. 00' <<<"$scan" && break
  sleep 0.1
done
echo "$scan"
grep -q 'KPDEV virtual reader 00 00' <<<"$scan"
if grep -q 'KPDEV broken' <<<"$scan"; then
  echo "ci-pcsc: a refused DEVICENAME became a reader" >&2
  exit 1
fi
for why in "DEVICENAME '$work/tty:type=9' not understood" "$work/tty: cannot be opened" \
  "$work/none: cannot be opened" "$work/silent: no answer from a type-1 reader"; do
  grep -qF "ifdkpdev: $why" "$work/pcscd.log" || { echo "ci-pcsc: no log line '$why'" >&2; exit 1; }
done

# pcsc_scan with a contact and a contactless card in place.
timeout 4 pcsc_scan -n >"$work/scan.txt" 2>&1 || true
sed -n '/^Scanning present readers/,/^ Reader 1/{p}; /^ Reader 1/,/ATR:/{p}' "$work/scan.txt" | uniq | head -n 20
grep -q 'ATR: 3B 68 00 00 80 31 C0 FE 4B 50 43 31' "$work/scan.txt"
grep -q 'ATR: 3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A' "$work/scan.txt"
# The card behind the device server.
grep -q 'ATR: 3B 68 00 00 80 31 C0 FE 4B 50 4E 31' "$work/scan.txt"
grep -qF "ifdkpdev: rfc2217://127.0.0.1:$net_port: type 1 reader at 9600 baud" "$work/pcscd.log"

atr=$(opensc-tool --reader 0 --atr)
echo "opensc-tool --atr: $atr"
[[ ${atr,,} == "3b:68:00:00:80:31:c0:fe:4b:50:43:31" ]]

KPDEV_PCSC_CONTROL=$control KPDEV_PCSC_READER="KPDEV virtual reader" \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider pcsc/tests/test_pcsc.py
kill -0 "$pcscd_pid"  # pcscd survived everything
echo "ci-pcsc: passed"
