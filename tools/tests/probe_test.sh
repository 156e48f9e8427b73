#!/usr/bin/env bash
# kpdev probe and kpdev ports.  Virtual readers of the three families, each
# at a speed of its own, are found with their type, speed and version, and
# each is left as it was found: same speed, same module, and nothing on its
# line but the two version requests (ESC 'e' NUL and the frame of command
# 3111 with data 00).  A version text that names no family is settled by
# the identity module.  What a user without access is told: a regular
# file is no port; a device nobody but its owner may open needs a udev
# rule, not a group; a device its group may open, that group.
# Usage: probe_test.sh KPDEV KPDEV_SIM
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"

# ---- three families, then two readers whose version names no family
start_sim t1 --family t1 --device-baud 115200 --version "KP-T1 V2.10"
start_sim t61 --family t61 --device-baud 115200 --version "KP-T61 V1.05"
start_sim t0 --family t0 --device-baud 38400 --version "KP-T0 V3.02"
start_sim t0plain --family t0 --device-baud 9600 --version "READER V1"
start_sim t1plain --family t1 --device-baud 19200 --version "READER V1"
export KPDEV_COM1=$scratch/t1 KPDEV_COM2=$scratch/t61 KPDEV_COM3=$scratch/t0 KPDEV_COM4=$scratch/t0plain
export KPDEV_COM5=$scratch/t1plain
json=$("$kpdev" --json probe --port 1 --port 2 --port 3 --port 4 --port 5 2>"$scratch/probe.err")
status=$?
[[ $status -eq 0 ]] || fail "probe exited $status: $(cat "$scratch/probe.err")"
python3 - "$json" <<'PY' || fail "probe found: $json"
import json, sys
doc = json.loads(sys.argv[1])
found = [(r["com"], r["type"], r["baud"], r["version"]) for r in doc["readers"]]
assert found == [
    (1, 1, 115200, "KP-T1 V2.10  [4B502D54312056322E3130]"),
    (2, 61, 115200, "KP-T61 V1.05"),
    (3, 0, 38400, "KP-T0 V3.02  [4B502D54302056332E3032]"),
    (4, 0, 9600, "READER V1  [524541444552205631]"),
    (5, 1, 19200, "READER V1  [524541444552205631]"),
], found
assert "identity module answered" in doc["readers"][3]["how"], doc["readers"][3]
assert "no identity module answered" in doc["readers"][4]["how"], doc["readers"][4]
assert doc["exit"] == 0 and doc["skipped"] == [], doc
PY
# One progress line per request, in the order made: COM1 at 9600 (both
# requests) and 115200 (both); COM2 at 9600 (both) and 115200 (the first
# answers); COM3 at four speeds; COM4 at 9600; COM5 at three.
want="1 9600 61|1 9600 0|1 115200 61|1 115200 0|2 9600 61|2 9600 0|2 115200 61|3 9600 61|3 9600 0|3 115200 61"
want+="|3 115200 0|3 19200 61|3 19200 0|3 38400 61|3 38400 0|4 9600 61|4 9600 0|5 9600 61|5 9600 0|5 115200 61"
want+="|5 115200 0|5 19200 61|5 19200 0"
got=$(sed -n 's/^kpdev: probe COM\([0-9]*\) *\([0-9]*\) *type \(61\|1\/0\) .*/\1 \2 \3/p' "$scratch/probe.err" |
  sed 's|1/0|0|' | paste -sd'|')
[[ $got == "$want" ]] || fail "probe progress: $got (expected $want): $(cat "$scratch/probe.err")"
for name in t1 t61 t0 t0plain t1plain; do
  port=${sim_control[$name]}
  control "$port" status >"$scratch/status"
  traffic=$(control "$port" traffic)
  python3 - "$name" "$(cat "$scratch/status")" "$traffic" <<'PY' || fail "$name after the probe"
import re, sys
name, status, traffic = sys.argv[1], sys.argv[2].split(), sys.argv[3].split()
state = dict(word.split("=", 1) for word in status[1:])
baud = {"t1": "115200", "t61": "115200", "t0": "38400", "t0plain": "9600", "t1plain": "19200"}[name]
assert state["device_baud"] == baud and state["module"] == "I", state
# Only the two version requests reached the reader at its own speed (and,
# where the version names no family, the identity module's find-card frame).
allowed = ["1B6500", "0230303033333131313030323003"]
if name.endswith("plain"):
    allowed.append("AAAAAA96690003200122")
sent = "".join(traffic[i + 1] for i in range(1, len(traffic) - 1, 2) if traffic[i] == "H>D")
assert re.fullmatch("(%s)+" % "|".join(allowed), sent), sent
PY
done

# Only the family asked for: a type-0 search finds the type-1 reader, not its type.
expect 0 'COM2 +type 61  115200 baud  KP-T61 V1\.05' probe --type 61 --port 2
expect 5 'no reader of type 0 answered' probe --type 0 --port 1
expect 5 '115200  type 1/0 version command \(0x3111\): -308 .*: a type-61 reader answers so' probe --type 0 --port 2

# A port nothing answers on: every speed is tried, then exit 5.
python3 -c 'import os,pty,time; m,s=pty.openpty(); print(os.ttyname(s), flush=True); time.sleep(60)' >"$scratch/pty" &
pids+=("$!")
for _ in $(seq 50); do [[ -s $scratch/pty ]] && break; sleep 0.1; done
export KPDEV_COM9
KPDEV_COM9=$(cat "$scratch/pty")
expect 5 'no reader answered on COM9 at any speed' probe --port 9 --type 61

# ---- ports: a regular file is no serial port.
: >"$scratch/file"
export KPDEV_COM7=$scratch/file
"$kpdev" --json ports >"$scratch/ports.json" || fail "ports exited $?"
python3 - "$scratch/ports.json" "$scratch/file" <<'PY' || fail "ports on a regular file: $(cat "$scratch/ports.json")"
import json, sys
ports = json.load(open(sys.argv[1]))["ports"]
entry = [p for p in ports if p["com"] == 7][0]
assert entry["device"] == sys.argv[2], entry
assert entry["access"] == "no: not a serial device (a regular file)" and entry["can_open"] is False, entry
PY
expect 2 'skipped COM7 .*not a serial device \(a regular file\)' probe --port 7
unset KPDEV_COM7

# ---- as a user without access to the devices
if [[ -n $nobody_skip ]]; then
  echo "skipped: the unprivileged cases: $nobody_skip"
  finish
fi
# A device only its owner may open: joining its group would not help.
if mknod "$scratch/private" c 4 64 2>/dev/null && mknod "$scratch/grouped" c 4 64 2>/dev/null; then
  chown root:root "$scratch/private" && chmod 600 "$scratch/private"
  chown root:dialout "$scratch/grouped" && chmod 660 "$scratch/grouped"
  export KPDEV_COM6=$scratch/private KPDEV_COM8=$scratch/grouped
  out=$(as_nobody version --port 6 2>&1)
  status=$?
  [[ $status -eq 2 && $out == *"permission denied (owner root:root, mode 0600)"* && $out == *"udev rule"* &&
    $out == *'GROUP="dialout", MODE="0660"'* && $out != *"join the group 'root'"* ]] ||
    fail "a device without group access: exit $status: $out"
  # The kernel's name of 4:64 goes into the rule when sysfs knows it.
  if [[ -e /sys/dev/char/4:64 ]]; then
    [[ $out == *'KERNEL=="ttyS0"'* && $out == *"--name-match=ttyS0"* ]] || fail "the rule names no device: $out"
  fi
  out=$(as_nobody version --port 8 2>&1)
  status=$?
  [[ $status -eq 2 && $out == *"permission denied (owner root:dialout, mode 0660)"* &&
    $out == *"join the group 'dialout': sudo usermod -aG dialout \$USER"* && $out != *udev* ]] ||
    fail "a device with group access: exit $status: $out"
  out=$(as_nobody --json ports 2>&1)
  python3 - "$out" <<'PY' || fail "ports as nobody: $out"
import json, sys
ports = {p["com"]: p for p in json.loads(sys.argv[1])["ports"] if p["com"] in (6, 8)}
assert ports[6]["access"] == "no: permission denied (owner root:root, mode 0600)", ports[6]
assert ports[6]["can_open"] is False and "udev" in ports[6]["fix"], ports[6]
assert ports[8]["fix"].startswith("join the group 'dialout'"), ports[8]
PY
  # probe says which ports it skipped and why, and what would help.
  out=$(as_nobody probe --port 6 --port 8 2>&1)
  status=$?
  [[ $status -eq 2 && $out == *"skipped COM6 ($scratch/private): permission denied"* &&
    $out == *"skipped COM8 ($scratch/grouped): permission denied"* && $out == *"every port was skipped"* ]] ||
    fail "probe as nobody: exit $status: $out"
  unset KPDEV_COM6 KPDEV_COM8
else
  echo "skipped: the device cases need mknod"
fi
# A pseudo-terminal belongs to whoever opened it.
out=$(as_nobody version --port 1 2>&1)
status=$?
[[ $status -eq 2 && $out == *"permission denied"* && $out == *"pseudo-terminal"* && $out != *"join the group 'root'"* ]] ||
  fail "a pseudo-terminal of root: exit $status: $out"
finish
