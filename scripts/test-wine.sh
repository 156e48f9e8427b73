#!/usr/bin/env bash
# Runs the Windows test program (64-bit KP_DEV.dll) under Wine against the
# virtual reader: builds kpdev-sim natively and the program with MinGW-w64,
# creates a throw-away Wine prefix, maps the reader's pseudo-terminal to
# COM5 and drive D: to a scratch directory, runs the tests and prints
# "N passed, N failed".  Extra arguments go to the test program
# (e.g. --gtest_filter=SimReader.*).  Exit status 0 only when every test
# passed.
#
# Environment: WINE (default /usr/lib/wine/wine64, else wine64 or wine),
# KPDEV_WINE_KEEP=1 keeps the scratch directory for inspection.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh windows

com=5
sim_build=$root/build-wine-sim
win_build=$root/build-win64

cmake -S . -B "$sim_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKPDEV_BUILD_TESTS=OFF -DKPDEV_BUILD_TOOLS=OFF \
  -DKPDEV_BUILD_BENCH=OFF >/dev/null
cmake --build "$sim_build" -j"$(nproc)" --target kpdev-sim >/dev/null
cmake -S . -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$win_build" -j"$(nproc)" --target kpdev_wine_tests >/dev/null

wine=${WINE:-}
if [[ -z $wine ]]; then
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [[ -n $candidate && -x $candidate ]]; then
      wine=$candidate
      break
    fi
  done
fi
[[ -n $wine ]] || { echo "test-wine: no wine found" >&2; exit 1; }
wineserver=$(dirname "$wine")/wineserver
[[ -x $wineserver ]] || wineserver=$(command -v wineserver)

work=$(mktemp -d /tmp/kpdev-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sim_pid=
cleanup() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  "$wineserver" -k >/dev/null 2>&1 || true
  if [[ ${KPDEV_WINE_KEEP:-0} == 1 ]]; then
    echo "test-wine: kept $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The prefix's server stays up for the whole run (it is ended by the
# cleanup), with its own output kept out of the tests'.
mkdir -p "$WINEPREFIX"
"$wineserver" -p >"$work/wineserver.log" 2>&1
"$wine" wineboot -i >"$work/wineboot.log" 2>&1

# Drive D: holds the library's log tree (D:\LOG\KP606).
mkdir -p "$work/d"
ln -sfn "$work/d" "$WINEPREFIX/dosdevices/d:"

"$sim_build/sim/kpdev-sim" --link "$WINEPREFIX/dosdevices/com$com" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
control=
for _ in $(seq 100); do
  if grep -q '^ready$' "$work/sim.out" 2>/dev/null; then
    control=$(sed -n 's/^control \([0-9]*\)$/\1/p' "$work/sim.out")
    break
  fi
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z $control ]]; then
  echo "test-wine: the virtual reader did not start" >&2
  cat "$work/sim.err" >&2
  exit 1
fi

set +e
KPDEV_SIM_CONTROL=$control KPDEV_SIM_COM=$com \
  "$wine" "$win_build/tests/windows/kpdev_wine_tests.exe" --gtest_color=no "$@" 2>&1 | tr -d '\r' |
  tee "$work/tests.out"
status=${PIPESTATUS[0]}
set -e

passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$work/tests.out" | tail -1)
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' "$work/tests.out" | tail -1)
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' "$work/tests.out" | tail -1)
passed=${passed:-0}
failed=${failed:-0}
skipped=${skipped:-0}
if [[ $status -ne 0 && $failed -eq 0 ]]; then
  # The program ended without a summary (a crash, or Wine itself failed).
  failed=1
fi
echo "wine: $passed passed, $failed failed, $skipped skipped"
if [[ $status -ne 0 || $failed -ne 0 || $passed -eq 0 ]]; then
  exit 1
fi
