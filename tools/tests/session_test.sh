#!/usr/bin/env bash
# How a kpdev run with its virtual reader begins and ends, and what it says
# on the way: the virtual reader ends with kpdev however kpdev ends (Ctrl-C,
# a closed terminal, a closed pipe, a kill); --sim-trace decodes whole
# frames from a paced reader; watch prints a control command that works as
# printed, and reports an identity card with the module's find-card frame
# alone; usage errors name what is wrong (and come as JSON with --json);
# an APDU to an unpowered card says what to add.
# Usage: session_test.sh KPDEV KPDEV_SIM
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"

# The kpdev-sim children of a process.
sims_of() { pgrep -P "$1" -f kpdev-sim | paste -sd' '; }
wait_gone() {
  local p
  for _ in $(seq 50); do
    local alive=0
    for p in $1; do kill -0 "$p" 2>/dev/null && alive=1; done
    ((alive)) || return 0
    sleep 0.1
  done
  return 1
}

# ---- every way kpdev ends ends its virtual reader
for how in INT TERM HUP KILL; do
  "$kpdev" --sim watch --interval 100 >/dev/null 2>&1 &
  tool=$!
  children=
  for _ in $(seq 50); do
    children=$(sims_of "$tool")
    [[ -n $children ]] && break
    sleep 0.1
  done
  sleep 0.3
  [[ -n $children ]] || fail "no virtual reader under kpdev ($how)"
  kill -"$how" "$tool"
  wait "$tool" 2>/dev/null
  wait_gone "$children" || fail "kpdev-sim $children outlived kpdev after SIG$how"
done
# Nobody reads the output any more: watch ends at its next event, and its
# virtual reader with it.
timeout 20 bash -c '"$0" --json --sim watch --interval 100 2>"$1" | head -n1 >/dev/null' "$kpdev" "$scratch/pipe.err"
[[ $? -eq 0 ]] || fail "watch | head -n1 did not end by itself"
port=$(sed -n 's/.*control port \([0-9]*\).*/\1/p' "$scratch/pipe.err")
[[ -n $port ]] || fail "watch printed no control port: $(cat "$scratch/pipe.err")"
sleep 0.3
if [[ -n $port ]] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  fail "the virtual reader still answers on $port after watch | head -n1"
fi

# ---- the trace of a paced reader, frame by frame
"$kpdev" --sim --sim-trace --sim-arg=--version --sim-arg=KP-T1 version >/dev/null 2>"$scratch/trace"
python3 - "$scratch/trace" <<'PY' || fail "trace: $(cat "$scratch/trace")"
import re, sys
lines = [l for l in open(sys.argv[1]).read().splitlines() if l.startswith("trace")]
what = [re.sub(r"^trace +[0-9.]+ ms  ", "", l) for l in lines]
# The type-1 open: the module escape for 9600 and its reply, the version
# command (3111, data 00) and its answer (status 0000, "KP-T1"), the
# module restored on close.
assert what == [
    "host > reader  raw 1B244930  module I, speed digit 0",
    "reader > host  raw 1B30  module switched",
    "host > reader  command 3111 data 00",
    "reader > host  status 0000 data 4B502D5431",
    "host > reader  raw 1B244930  module I, speed digit 0",
    "reader > host  raw 1B30  module switched",
], what
PY

# ---- watch: the printed command presents a card; an identity card is
# reported from the module's find-card frame only.
watch_sim watch --type 0 --interval 100
port=$watch_port
sleep 0.3
paste_line=$(sed -n 's/^  \(bash -c .*\)/\1/p' "$scratch/watch.err")
[[ $paste_line == "bash -c 'exec 3<>/dev/tcp/127.0.0.1/$port; echo \"\$*\" >&3; head -n1 <&3' - insert 0 cpu" ]] ||
  fail "watch printed: $(cat "$scratch/watch.err")"
reply=$(eval "$paste_line")
[[ $reply == ok ]] || fail "the printed command answered: $reply"
sleep 0.4
control "$port" clear >/dev/null
control "$port" "insert 255 id" >/dev/null
sleep 0.5
traffic=$(control "$port" traffic)
control "$port" "remove 255" >/dev/null
sleep 0.5
kill -INT "$watch_pid"
python3 - "$(cat <&"$watch_fd")" "$traffic" <<'PY' || fail "watch of an identity card"
import json, sys
events = [json.loads(line) for line in sys.argv[1].splitlines()]
seat = [e["event"] for e in events if e.get("where") == "seat 0"]
assert seat[:2] == ["empty", "inserted"], seat
ident = [e["event"] for e in events if e.get("where") == "id"]
assert ident == ["empty", "present", "removed"], ident
# Find card (20 01), never select (20 02) or read (30 01).
traffic = sys.argv[2].split()[1:]
sent = "".join(traffic[i + 1] for i in range(0, len(traffic) - 1, 2) if traffic[i] == "H>D")
assert "AAAAAA96690003200122" in sent, sent
assert "AAAAAA96690003200221" not in sent and "AAAAAA96690003300132" not in sent, sent
PY

# ---- usage errors
expect 64 "unknown subcommand 'verison' \\(did you mean 'version'\\?\\); the subcommands are .*probe" verison
expect 64 "--type 61 --baud 115200: options of 'version' come after its name: kpdev version --type 61 --baud 115200" \
  --type 61 --baud 115200 version
expect 64 "'kpdev cpu' needs one of status, on, off, apdu, type" cpu
expect 64 "unknown subcommand of cpu 'aplu' \\(did you mean 'apdu'\\?\\)" cpu aplu 00A4
expect 64 "'kpdev version' takes no --sim-card x \\(see 'kpdev version --help'\\)" version --sim-card x
json=$("$kpdev" --json verison 2>/dev/null)
python3 - "$json" <<'PY' || fail "usage error as JSON: $json"
import json, sys
doc = json.loads(sys.argv[1])
assert doc["exit"] == 64 and doc["error"]["message"].startswith("unknown subcommand 'verison'"), doc
PY

# ---- an APDU to a card that is not powered on
expect 1 "-306 .*add --power-on" --sim --sim-arg=--pacing --sim-arg=off cpu apdu 00A4040000
finish
