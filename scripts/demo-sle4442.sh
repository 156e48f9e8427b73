#!/usr/bin/env bash
# An SLE4442 session across several kpdev invocations against one virtual
# reader running in the background: present the PSC, write and read main
# memory, present a wrong PSC and watch the error counter go down, then
# restore it with the right PSC.  Every step checks the tool's exit status
# and output; the script exits non-zero at the first step that fails.
#
#   scripts/demo-sle4442.sh [KPDEV [KPDEV_SIM]]
#
# KPDEV defaults to $KPDEV, else build/tools/kpdev; KPDEV_SIM to $KPDEV_SIM,
# else kpdev-sim next to kpdev.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

kpdev=${1:-${KPDEV:-$root/build/tools/kpdev}}
sim=${2:-${KPDEV_SIM:-$(dirname "$kpdev")/kpdev-sim}}
[[ -x $kpdev ]] || { echo "demo-sle4442: no kpdev at $kpdev" >&2; exit 2; }
[[ -x $sim ]] || { echo "demo-sle4442: no kpdev-sim at $sim" >&2; exit 2; }

com=7
psc=C0FFEE
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

# The virtual reader with a fresh SLE4442 in seat 0; its start-up lines
# arrive on the coprocess pipe.
coproc SIM { exec "$sim" --family t1 --link "$scratch/com$com" --insert "0 sle4442 psc=$psc"; }
sim_pid=$SIM_PID
control=
while read -r -t 10 key value <&"${SIM[0]}"; do
  case $key in
    control) control=$value ;;
    ready) break ;;
  esac
done
[[ -n $control ]] || { echo "demo-sle4442: the virtual reader did not start" >&2; exit 1; }
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
  echo "    \$ kpdev $*"
  local out status=0
  out=$("$@" 2>&1) || status=$?
  printf '%s\n' "$out" | sed 's/^/    /'
  if [[ $status -ne $want_exit ]]; then
    echo "demo-sle4442: step $step_no exited with $status, expected $want_exit" >&2
    exit 1
  fi
  if [[ $out != *"$want_text"* ]]; then
    echo "demo-sle4442: step $step_no did not print '$want_text'" >&2
    exit 1
  fi
}

mem() { "$kpdev" mem "$@" --chip sle4442 --port "$com" --type 1; }

step 0 "tries    3" "present the PSC" mem verify --pwd "$psc"
step 0 "written  5 bytes" "write 'Hello' at address 32" mem write --address 32 --data 48656C6C6F
step 0 "data     48656C6C6F" "read it back" mem read --address 32 --length 5
step 1 "tries    2" "present a wrong PSC: one try gone" mem verify --pwd 000000
step 0 "tries    2" "the counter on its own" mem counter
step 1 "tries    1" "another wrong PSC" mem verify --pwd 111111
step 1 "-316" "writing is closed again" mem write --address 32 --data 00
step 0 "tries    3" "the right PSC restores the counter" mem verify --pwd "$psc"

# What the card holds, asked of the virtual reader itself.
exec 3<>"/dev/tcp/127.0.0.1/$control"
printf 'dump 0 memory 32 5\n' >&3
read -r -t 5 reply <&3
exec 3>&-
echo "[card] dump 0 memory 32 5: $reply"
[[ $reply == "ok 48656C6C6F" ]] || { echo "demo-sle4442: the card holds '$reply'" >&2; exit 1; }
echo "demo-sle4442: all steps passed"
