# shellcheck shell=bash disable=SC2154  # demo_name and com come from the sourcing script
# What the demo scripts share, sourced by each after it has set demo_name
# and com: the programs to run, a scratch directory removed at exit, the
# virtual reader in the background, and the checked steps.
#
#   demo_name=demo-x com=7
#   source "$(dirname "$0")/demo-common.sh" "$@"
#
# The script's arguments are [KPDEV [KPDEV_SIM]]: KPDEV defaults to $KPDEV,
# else build/tools/kpdev; KPDEV_SIM to $KPDEV_SIM, else kpdev-sim next to
# kpdev.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

kpdev=${1:-${KPDEV:-$root/build/tools/kpdev}}
sim=${2:-${KPDEV_SIM:-$(dirname "$kpdev")/kpdev-sim}}
[[ -x $kpdev ]] || { echo "$demo_name: no kpdev at $kpdev" >&2; exit 2; }
[[ -x $sim ]] || { echo "$demo_name: no kpdev-sim at $sim" >&2; exit 2; }

scratch=$(mktemp -d)
sim_pid=
control=
cleanup() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# start_sim FAMILY CARD: the virtual reader of FAMILY on COM$com with CARD
# ("SEAT KIND ARGS") inserted; it tells its control port and readiness on
# the coprocess pipe.
start_sim() {
  coproc SIM { exec "$sim" --family "$1" --link "$scratch/com$com" --insert "$2"; }
  # shellcheck disable=SC2153  # SIM_PID is set by coproc
  sim_pid=$SIM_PID
  local word value
  while read -r -t 10 word value <&"${SIM[0]}"; do
    case $word in
      control) control=$value ;;
      ready) break ;;
    esac
  done
  [[ -n $control ]] || { echo "$demo_name: the virtual reader did not start" >&2; exit 1; }
  export "KPDEV_COM$com=$scratch/com$com"
  echo "virtual reader: COM$com -> $scratch/com$com, control port $control"
}

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
    echo "$demo_name: step $step_no exited with $status, expected $want_exit" >&2
    exit 1
  fi
  if [[ $out != *"$want_text"* ]]; then
    echo "$demo_name: step $step_no did not print '$want_text'" >&2
    exit 1
  fi
}

# card REQUEST EXPECTED: a control request to the virtual reader itself,
# whose reply must be EXPECTED.
card() {
  local reply
  exec 3<>"/dev/tcp/127.0.0.1/$control"
  printf '%s\n' "$1" >&3
  read -r -t 5 reply <&3
  exec 3>&-
  echo "[card] $1: $reply"
  [[ $reply == "$2" ]] || { echo "$demo_name: expected '$2'" >&2; exit 1; }
}
