#!/usr/bin/env bash
# kpdev watch reports every swipe on the three readers with a magnetic head:
# type 2 (the head's own module), type 61 (the head always on the line) and
# type 1 (the head behind the magnetic module).  On types 1 and 61 a card is
# also swiped at the moment the tool powers a newly inserted chip card on.
# Usage: watch_swipe_test.sh KPDEV
set -uo pipefail
# The tool's own --sim starts the virtual reader: no kpdev-sim is named.
source "$(dirname "$0")/lib.sh" "$1" ""

# watch_type TYPE: watches a virtual reader of that type, swipes a card,
# and (types 1 and 61) swipes another while a contact card is powered on;
# checks the swipes reported.
watch_type() {
  local type=$1 port=
  exec 4< <("$kpdev" --sim --sim-arg=--pacing --sim-arg=off --json watch --type "$type" --interval 100 \
    2>"$scratch/watch-$type.err")
  local watch_pid=$!
  pids+=("$watch_pid")
  for _ in $(seq 50); do
    port=$(sed -n 's/.*control port \([0-9]*\).*/\1/p' "$scratch/watch-$type.err")
    [[ -n $port ]] && break
    sleep 0.1
  done
  [[ -n $port ]] || { fail "type $type: no control port: $(cat "$scratch/watch-$type.err")"; return; }
  request() {
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf '%s\n' "$1" >&3
    read -r -t 5 reply <&3
    exec 3>&-
    [[ $reply == ok* ]] || fail "type $type: $1: $reply"
  }
  sleep 0.5
  request "swipe B1111^FIRST^2912 1111=2912"
  sleep 1.2
  if [[ $type != 2 ]]; then
    request "head swipe-on 3222 B2222^DURING^3012 2222=3012"
    request "insert 0 cpu"
    sleep 1.5
  fi
  kill -INT "$watch_pid"
  local events
  events=$(cat <&4)
  python3 - "$type" "$events" <<'PY' || fail "type $type: watch events: $events"
import json, sys
kind, lines = sys.argv[1], sys.argv[2]
events = [json.loads(line) for line in lines.splitlines()]
swipes = [(e["track1"]["text"], e["track2"]["text"]) for e in events if e.get("event") == "swipe"]
expected = [("B1111^FIRST^2912", "1111=2912")]
if kind != "2":
    expected.append(("B2222^DURING^3012", "2222=3012"))
    assert [e["event"] for e in events if e.get("where") == "seat 0"][-1] == "powered", events
assert swipes == expected, swipes
PY
}

for type in 2 61 1; do watch_type "$type"; done
[[ $failures -eq 0 ]] && echo "every swipe reported"
exit $((failures > 0))
