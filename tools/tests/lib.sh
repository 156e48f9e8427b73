# Shared by the tool's shell tests; sourced as
#   source "$(dirname "$0")/lib.sh" KPDEV KPDEV_SIM
# It sets kpdev, sim and scratch (a directory every user may enter, removed
# at the end), and gives:
#   fail MESSAGE                 counts a failure
#   expect EXIT PATTERN ARGS...  runs kpdev ARGS, checks its exit status and
#                                that stdout+stderr match PATTERN
#   start_sim NAME ARGS...       a kpdev-sim reached through $scratch/NAME;
#                                its control port in sim_control[NAME]
#   control PORT REQUEST         one control request; prints the reply
#   watch_sim ARGS...            kpdev --sim --json ARGS (a watch) in the
#                                background: watch_pid, watch_fd (its
#                                output), watch_port (the control port)
#   as_nobody ARGS...            runs kpdev as the user nobody (see below)
#   finish                       the summary line and exit status
kpdev=$1
sim=$2
scratch=$(mktemp -d)
chmod 755 "$scratch"  # some cases run as another user
pids=()
declare -A sim_control
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

expect() {
  local want=$1 pattern=$2 status=0
  shift 2
  out=$("$kpdev" "$@" 2>&1) || status=$?
  [[ $status -eq $want ]] || fail "kpdev $* exited $status, expected $want: $out"
  [[ $out =~ $pattern ]] || fail "kpdev $* did not print /$pattern/: $out"
}

start_sim() {
  local name=$1 word value
  shift
  exec {fd}< <(exec "$sim" --pacing off --link "$scratch/$name" "$@")
  pids+=("$!")
  while read -r -t 10 word value <&"$fd"; do
    [[ $word == control ]] && sim_control[$name]=$value
    [[ $word == ready ]] && return 0
  done
  fail "kpdev-sim $* did not start"
  return 1
}

control() {
  local reply
  exec {c}<>"/dev/tcp/127.0.0.1/$1"
  printf '%s\n' "$2" >&"$c"
  read -r -t 5 reply <&"$c"
  exec {c}>&-
  printf '%s\n' "$reply"
}

watch_sim() {
  exec {watch_fd}< <("$kpdev" --sim --json "$@" 2>"$scratch/watch.err")
  watch_pid=$!
  pids+=("$watch_pid")
  watch_port=
  for _ in $(seq 50); do
    watch_port=$(sed -n 's/.*control port \([0-9]*\).*/\1/p' "$scratch/watch.err")
    [[ -n $watch_port ]] && return 0
    sleep 0.1
  done
  fail "kpdev --sim $* printed no control port: $(cat "$scratch/watch.err")"
}

# The unprivileged cases run a copy of kpdev and its library in $scratch:
# the build tree may sit in a directory only its owner can enter (a
# mode-700 home or temporary directory).  nobody_skip says why they cannot
# run at all.
nobody_skip=
if [[ $(id -u) -ne 0 ]] || ! command -v setpriv >/dev/null; then
  nobody_skip="running as another user needs root and setpriv"
else
  mkdir -p "$scratch/nobody"
  cp "$kpdev" "$scratch/nobody/kpdev"
  library=$(ldd "$kpdev" | sed -n 's/.*libKP_DEV\.so\.[0-9]* => \(.*\) (.*/\1/p')
  [[ -n $library ]] && cp "$library" "$scratch/nobody/"
  chmod -R a+rX "$scratch/nobody"
  if ! setpriv --reuid=nobody --regid=nogroup --clear-groups env LD_LIBRARY_PATH="$scratch/nobody" \
    "$scratch/nobody/kpdev" --version >/dev/null 2>&1; then
    nobody_skip="the user nobody cannot run a copy of kpdev in $scratch (is the temporary directory private?)"
  fi
fi
as_nobody() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups env LD_LIBRARY_PATH="$scratch/nobody" \
    "$scratch/nobody/kpdev" "$@"
}

finish() {
  [[ $failures -eq 0 ]] && echo "all checks of $(basename "$0") passed"
  exit $((failures > 0))
}
