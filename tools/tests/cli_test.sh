#!/usr/bin/env bash
# kpdev against the virtual reader: --json parses for every subcommand and
# carries what the text shows; watch reports an insert and a removal made
# through the virtual reader's control interface; open failures (missing
# device, no permission, busy, no reader) are told apart with their exit
# codes; bad option values end with 64 before anything is opened.
# Usage: cli_test.sh KPDEV KPDEV_SIM
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"

# Output, not timing, is checked here: the virtual reader answers at once.
unpaced=(--sim --sim-arg=--pacing --sim-arg=off)

# ---- --json on every subcommand agrees with the text output: the value at
# KEY (a JSON path) must appear in the text, and "exit" must be 0.
check_json() {
  local key=$1
  shift
  local text json
  text=$("$kpdev" "${unpaced[@]}" "$@" 2>/dev/null) || { fail "text: kpdev --sim $*"; return; }
  json=$("$kpdev" "${unpaced[@]}" --json "$@" 2>/dev/null) || { fail "json: kpdev --sim --json $*"; return; }
  python3 - "$key" "$text" "$json" <<'PY' || fail "json of kpdev --sim $* (key $key)"
import json, sys
key, text, doc = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
assert doc["exit"] == 0, doc
value = doc
for part in key.split("/"):
    value = value[int(part)] if isinstance(value, list) else value[part]
assert str(value) in text, (value, text)
PY
}
check_json version version
check_json module version --type 61
check_json state/name cpu status
check_json atr/hex cpu on
check_json atr/fields/1/meaning cpu on
check_json exchanges/0/response cpu apdu --power-on 00A40000020001
check_json type cpu type
check_json track2/pan emv info
check_json track2/service emv track2
check_json records/1/objects/0/children/0/value emv records
check_json records/0/objects/0/children/1/name emv records
check_json chip/objects/8/value emv arqc --amount 1.00 --txn-type 01 --sim-profile pboc-t0-all
check_json uid rf activate
check_json data rf read --sector 1 --block 0 --key FFFFFFFFFFFF
check_json value rf value --sector 1 --block 1 --key FFFFFFFFFFFF --set 0.29
check_json data mem read --chip sle4442 --address 0 --length 4
check_json track2/expiry mag read
check_json number id read
check_json track2/pan read-all --timeout 5
check_json ports/0/device ports
check_json readers/0/baud probe

# One --sim-card grammar, none for an empty seat.
expect 0 'state    1 \(empty\)' "${unpaced[@]}" cpu status --sim-card none
expect 4 'no card' "${unpaced[@]}" cpu on --sim-card none
expect 0 'number     11010519491231002X' "${unpaced[@]}" id read --sim-card "id number=11010519491231002X"

# The amount and value block: exact to the cent, or refused.
expect 0 'value    0\.29' "${unpaced[@]}" rf value --sector 1 --block 1 --key FFFFFFFFFFFF --set 0.29
expect 64 'cannot be carried to the cent' "${unpaced[@]}" rf value --sector 1 --block 1 --key FFFFFFFFFFFF --set 1234567.89
expect 0 '9F02 amount, authorised \(6\) 000000010000' "${unpaced[@]}" emv arqc --amount 100 --sim-profile pboc-t0-all

# ---- bad values: one line, exit 64, nothing opened (no --sim needed: the
# port does not exist).
export KPDEV_COM9=$scratch/absent
expect 64 'APDU' cpu apdu --port 9 00A4
expect 64 '--key takes' rf read --port 9 --sector 1 --block 0 --key FFFF
expect 64 'key type' rf auth --port 9 --sector 1 --key FFFFFFFFFFFF --key-type C
expect 64 'two decimals' rf increase --port 9 --sector 1 --block 1 --amount 1.234
expect 64 'runs past' mem read --port 9 --chip sle4442 --address 250 --length 10
expect 64 'sector' rf read --port 9 --sector 99 --block 0
expect 64 'txn-type' emv arqc --port 9 --txn-type 1

# Bytes that are not UTF-8 (FF FE) are echoed in the message: with --json
# the document carries them as U+FFFD, and the exit is still 64.
# json_usage_error MESSAGE-PART ARGS...
json_usage_error() {
  local part=$1 out status=0
  shift
  out=$("$kpdev" --json "$@" 2>/dev/null) || status=$?
  [[ $status -eq 64 ]] || fail "kpdev --json $* exited $status, expected 64"
  python3 - "$part" "$out" <<'PY' || fail "kpdev --json $*: no usage error document: $out"
import json, sys
doc = json.loads(sys.argv[2])
assert doc["exit"] == 64 and sys.argv[1] in doc["error"]["message"], doc
PY
}
json_usage_error $'APDU is at least 4 bytes of hex, two digits per byte: \'\xef\xbf\xbd\xef\xbf\xbd\'' cpu apdu --port 9 $'\xff\xfe'
json_usage_error $'--amount takes decimal text' emv arqc --port 9 --amount $'1\xff'
json_usage_error 'not in range 1 to 32' version --port $'\xff'
expect 64 'APDU' cpu apdu --port 9 $'\xff\xfe'

# ---- open failures
expect 2 'no such device' version --port 9
start_sim com9
export KPDEV_COM9=$scratch/com9
expect 0 'version  KP-T1' version --port 9
# Busy: a watch holds the port.
"$kpdev" watch --port 9 --interval 1000 >/dev/null 2>&1 &
watcher=$!
pids+=("$watcher")
sleep 0.5
expect 2 "in use by another process \\(.*process $watcher kpdev" version --port 9
kill -INT "$watcher"
wait "$watcher"
[[ $? -eq 130 ]] || fail "watch did not end with 130 on Ctrl-C"
# No permission: the pseudo-terminal is root's, mode 620 (the unprivileged
# cases are in probe_test.sh).
if [[ -z $nobody_skip ]]; then
  out=$(as_nobody version --port 9 2>&1)
  status=$?
  [[ $status -eq 2 && $out == *"permission denied"* ]] || fail "permission: exit $status: $out"
else
  echo "skipped: the permission case: $nobody_skip"
fi
# No reader: a pseudo-terminal that nothing answers on.
python3 -c 'import os,pty,sys,time; m,s=pty.openpty(); print(os.ttyname(s), flush=True); time.sleep(30)' >"$scratch/pty" &
pids+=("$!")
for _ in $(seq 50); do [[ -s $scratch/pty ]] && break; sleep 0.1; done
export KPDEV_COM9=$(cat "$scratch/pty")
expect 5 'nothing answered|no reader answering' version --port 9
expect 5 'no reader answering' read-all --port 9 --timeout 1

# ---- watch: an insert and a removal through the control interface.
watch_sim watch --interval 100
sleep 0.3
control "$watch_port" "insert 0 cpu atr=3B0200AA" >/dev/null
sleep 0.4
control "$watch_port" "remove 0" >/dev/null
sleep 0.4
kill -INT "$watch_pid"
events=$(cat <&"$watch_fd")
python3 - "$events" <<'PY' || fail "watch events: $events"
import json, sys
events = [json.loads(line) for line in sys.argv[1].splitlines()]
seat = [(e["event"], e.get("atr", {}).get("hex")) for e in events if e.get("where") == "seat 0"]
assert seat == [("empty", None), ("inserted", None), ("powered", "3B0200AA"), ("removed", None)], seat
assert events[-1]["event"] == "end" and events[-1]["exit"] == 130, events[-1]
PY

finish
