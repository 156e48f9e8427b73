#!/usr/bin/env bash
# kpdev ports and kpdev probe on COM numbers that name serial device
# servers (KPDEV_COM<n>=rfc2217://HOST:PORT or tcp://HOST:PORT).  A server
# that is not there: both name host and port and say what happened.  With
# Debian's ser2net in front of a virtual reader (skipped, saying so, when
# ser2net is not installed): ports says the server takes a connection, and
# probe finds the reader at its own speed through the server and leaves it
# there.
# Usage: network_test.sh KPDEV KPDEV_SIM
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"

# A loopback port nothing listens on (chosen by the system, then let go).
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# ---- a server that is not there
gone=$(free_port)
export KPDEV_COM7=rfc2217://127.0.0.1:$gone
expect 0 "COM7 +rfc2217://127\.0\.0\.1:$gone +KPDEV_COM7 +no: connection refused \(host 127\.0\.0\.1 port $gone\)" ports
expect 5 "skipped COM7 \(rfc2217://127\.0\.0\.1:$gone\): connection refused \(host 127\.0\.0\.1 port $gone\)" \
  probe --port 7 --type 61
expect 2 "connection refused \(host 127\.0\.0\.1 port $gone\)" version --port 7
KPDEV_COM7=tcp://127.0.0.1
expect 2 'not a device server address' version --port 7
unset KPDEV_COM7

# ---- ser2net in front of a type-61 reader at 115200; the server's port
# starts at 9600 and the library sets the speed it tries.
ser2net=$(command -v ser2net || true)
[[ -x /usr/sbin/ser2net ]] && ser2net=/usr/sbin/ser2net
if [[ -z $ser2net ]]; then
  echo "SKIP: ser2net is not installed (Debian package ser2net; scripts/deps.sh installs it)"
  finish
fi
start_sim t61 --family t61 --device-baud 115200 --version "KP-T61 V1.05"
port=$(free_port)
cat >"$scratch/ser2net.yaml" <<EOF
connection: &reader
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$scratch/t61,9600n81,local
  options:
    chardelay: false
EOF
"$ser2net" -n -u -c "$scratch/ser2net.yaml" -P "$scratch/ser2net.pid" >"$scratch/ser2net.log" 2>&1 &
pids+=("$!")
listening=
for _ in $(seq 50); do
  if ss -Hltn "sport = :$port" 2>/dev/null | grep -q .; then
    listening=1
    break
  fi
  sleep 0.1
done
[[ -n $listening ]] || fail "ser2net did not listen on $port: $(cat "$scratch/ser2net.log")"

export KPDEV_COM8=rfc2217://127.0.0.1:$port
expect 0 "COM8 +rfc2217://127\.0\.0\.1:$port +KPDEV_COM8 +yes \(device server\)" ports
json=$("$kpdev" --json probe --port 8 2>"$scratch/probe.err")
status=$?
[[ $status -eq 0 ]] || fail "probe through ser2net exited $status: $(cat "$scratch/probe.err")"
python3 - "$json" "$port" <<'PY' || fail "probe through ser2net found: $json"
import json, sys
doc, port = json.loads(sys.argv[1]), sys.argv[2]
found = [(r["com"], r["device"], r["type"], r["baud"], r["version"]) for r in doc["readers"]]
assert found == [(8, "rfc2217://127.0.0.1:" + port, 61, 115200, "KP-T61 V1.05")], found
assert doc["skipped"] == [], doc
PY
status_line=$(control "${sim_control[t61]}" status)
[[ $status_line =~ device_baud=115200 ]] || fail "the reader was left at another speed: $status_line"
expect 0 'KP-T61 V1\.05' version --port 8 --type 61 --baud 115200
finish
