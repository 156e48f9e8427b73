#!/usr/bin/env bash
# A contactless sector-card session across several kpdev invocations
# against one virtual reader running in the background: activate the card,
# authenticate a sector, write a block and read it back, store a value,
# increase and decrease it and read it back, then see a wrong key refused
# (after which the card must be activated again).  Every step checks the
# tool's exit status and output; the script exits non-zero at the first
# step that fails.
#
#   scripts/demo-contactless.sh [KPDEV [KPDEV_SIM]]
#
# KPDEV defaults to $KPDEV, else build/tools/kpdev; KPDEV_SIM to $KPDEV_SIM,
# else kpdev-sim next to kpdev.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

kpdev=${1:-${KPDEV:-$root/build/tools/kpdev}}
sim=${2:-${KPDEV_SIM:-$(dirname "$kpdev")/kpdev-sim}}
[[ -x $kpdev ]] || { echo "demo-contactless: no kpdev at $kpdev" >&2; exit 2; }
[[ -x $sim ]] || { echo "demo-contactless: no kpdev-sim at $sim" >&2; exit 2; }

com=8
uid=CAFEF00D
key=FFFFFFFFFFFF
scratch=$(mktemp -d)
sim_pid=
cleanup() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# The virtual reader with a sector card in the field (seat 255); its
# start-up lines arrive on the coprocess pipe.
coproc SIM { exec "$sim" --family t1 --link "$scratch/com$com" --insert "255 sector uid=$uid"; }
sim_pid=$SIM_PID
control=
while read -r -t 10 word value <&"${SIM[0]}"; do
  case $word in
    control) control=$value ;;
    ready) break ;;
  esac
done
[[ -n $control ]] || { echo "demo-contactless: the virtual reader did not start" >&2; exit 1; }
export "KPDEV_COM$com=$scratch/com$com"
echo "virtual reader: COM$com -> $scratch/com$com, control port $control"

# step EXIT TEXT DESCRIPTION COMMAND...: runs the command, shows its output,
# and fails unless it exits with EXIT and prints TEXT.
step_no=0
step() {
  local want_exit=$1 want_text=$2 what=$3
  shift 3
  step_no=$((step_no + 1))
  echo "[$step_no] $what"
  echo "    \$ kpdev rf $*"
  local out status=0
  out=$("$kpdev" rf "$@" --port "$com" --type 1 2>&1) || status=$?
  printf '%s\n' "$out" | sed 's/^/    /'
  if [[ $status -ne $want_exit ]]; then
    echo "demo-contactless: step $step_no exited with $status, expected $want_exit" >&2
    exit 1
  fi
  if [[ $out != *"$want_text"* ]]; then
    echo "demo-contactless: step $step_no did not print '$want_text'" >&2
    exit 1
  fi
}

# card REQUEST EXPECTED: a control request to the virtual reader itself.
card() {
  local reply
  exec 3<>"/dev/tcp/127.0.0.1/$control"
  printf '%s\n' "$1" >&3
  read -r -t 5 reply <&3
  exec 3>&-
  echo "[card] $1: $reply"
  [[ $reply == "$2" ]] || { echo "demo-contactless: expected '$2'" >&2; exit 1; }
}

step 0 "uid      $uid" "activate the sector card" activate --store
step 0 "sector   1 authenticated" "authenticate sector 1 with key A" auth --sector 1 --key "$key"
step 0 "written  sector 1 block 0" "write 'Hello' into sector 1, block 0" write --sector 1 --block 0 --data 48656C6C6F
step 0 "data     48656C6C6F0000000000000000000000" "read it back" read --sector 1 --block 0
step 0 "value    10.00" "make block 1 a value block holding 10.00" value --sector 1 --block 1 --set 10.00
step 0 "increased 2.50" "increase it by 2.50" increase --sector 1 --block 1 --amount 2.50
step 0 "value    12.50" "read the value back" value --sector 1 --block 1
step 0 "decreased 0.75" "decrease it by 0.75" decrease --sector 1 --block 1 --amount 0.75
step 0 "value    11.75" "read the value back" value --sector 1 --block 1
step 1 "-316" "a block of sector 2 is not open" read --sector 2 --block 0
step 1 "-312" "a wrong key is refused" auth --sector 1 --key 000000000000
step 1 "-306" "and the card must be activated again" read --sector 1 --block 0
step 0 "data     48656C6C6F" "activate, authenticate and read in one go" read --sector 1 --block 0 --key "$key"

# What the card holds: the block, and the value block (1175 hundredths,
# inverted, again, then the block number 5 four times, inverted twice).
card "rf-block 4" "ok 48656C6C6F0000000000000000000000"
card "rf-block 5" "ok 9704000068FBFFFF9704000005FA05FA"
echo "demo-contactless: all steps passed"
