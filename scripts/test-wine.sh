#!/usr/bin/env bash
# Runs the Windows test program under Wine against the virtual reader:
# builds kpdev-sim natively and the program with MinGW-w64 (64-bit or
# 32-bit KP_DEV.dll), creates a throw-away Wine prefix, maps the reader's
# pseudo-terminal to COM5 and drive D: to a scratch directory (which also
# holds the reader's bank-card profiles), runs the tests and ends with the
# line "wineNN: N passed, N failed, N skipped".  The 64-bit run also runs
# kpdevd.exe's case (tools/kpdevd/tests/wine_test.py), counted as one test.
# Exit status 0 only when every test passed; a build or start-up failure
# counts as one failed test.
#
# Usage: scripts/test-wine.sh [--arch 64|32] [--sim-build DIR] [--win-build DIR]
#                             [--jobs N] [--] [test program arguments]
#   --arch 32     the i686 build, whose exports are __stdcall; needs the
#                 32-bit Wine (scripts/deps.sh wine32 installs it)
#   --sim-build   build directory of kpdev-sim (default build-wine-sim); one
#                 already configured keeps its settings
#   --win-build   build directory of the cross build (default build-win64
#                 or build-win32), so that several people can run this side
#                 by side
#   --jobs        parallel build jobs (default 1)
# Other arguments go to the test program (e.g. --gtest_filter=SimReader.*).
#
# Environment: WINE (the loader to use), KPDEV_WINE_KEEP=1 keeps the scratch
# directory for inspection.
set -euo pipefail

arch=64
sim_build=
win_build=
jobs=1
args=()
while (($#)); do
  case $1 in
    --arch)
      arch=$2
      shift 2
      ;;
    --sim-build)
      sim_build=$(realpath -m "$2")
      shift 2
      ;;
    --win-build)
      win_build=$(realpath -m "$2")
      shift 2
      ;;
    --jobs)
      jobs=$2
      shift 2
      ;;
    --)
      shift
      args+=("$@")
      break
      ;;
    *)
      args+=("$1")
      shift
      ;;
  esac
done
case $arch in
  64) triplet=x86_64 ;;
  32) triplet=i686 ;;
  *)
    echo "test-wine: --arch takes 32 or 64" >&2
    exit 2
    ;;
esac
label=wine$arch
cd "$(dirname "$0")/.."
root=$PWD
sim_build=${sim_build:-$root/build-wine-sim}
win_build=${win_build:-$root/build-win$arch}

work=$(mktemp -d /tmp/kpdev-wine.XXXXXX)
summary_done=0
sim_pid=
wineserver=
cleanup() {
  local status=$?
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [[ -n $wineserver ]]; then
    "$wineserver" -k >/dev/null 2>&1 || true
  fi
  if [[ ${KPDEV_WINE_KEEP:-0} == 1 ]]; then
    echo "test-wine: kept $work"
  else
    rm -rf "$work"
  fi
  # Whatever stopped the run before the tests, it ends with a count.
  if [[ $summary_done == 0 ]]; then
    echo "$label: 0 passed, 1 failed"
    ((status != 0)) || status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs a build step with its output in a log, shown only when it fails.
quiet() {
  if ! "$@" >>"$work/build.log" 2>&1; then
    tail -n 60 "$work/build.log" >&2
    echo "test-wine: build step failed: $*" >&2
    return 1
  fi
}

scripts/deps.sh windows
if [[ $arch == 32 ]]; then
  scripts/deps.sh wine32
fi

com=5
# A build directory that is already configured (a developer's build/, the
# test build in CI) keeps its settings: only the virtual reader is built in
# it, so its tests and tools stay as they were.
if [[ ! -f $sim_build/CMakeCache.txt ]]; then
  quiet cmake -S . -B "$sim_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKPDEV_WERROR=ON -DKPDEV_BUILD_TESTS=OFF \
    -DKPDEV_BUILD_TOOLS=OFF -DKPDEV_BUILD_BENCH=OFF
fi
quiet cmake --build "$sim_build" -j"$jobs" --target kpdev-sim
quiet cmake -S . -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-$triplet.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKPDEV_WERROR=ON
quiet cmake --build "$win_build" -j"$jobs" --target kpdev_wine_tests
program=$win_build/tests/windows/kpdev_wine_tests.exe

# The 64-bit loader creates the prefix (a 64-bit one, which also runs
# 32-bit programs once the 32-bit Wine is installed); the program is run
# by the loader of its own architecture.
first_executable() {
  local candidate
  for candidate in "$@"; do
    if [[ -n $candidate && -x $candidate ]]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}
wine64=$(first_executable /usr/lib/wine/wine64 "$(command -v wine64 || true)") || {
  echo "test-wine: no wine64 found" >&2
  exit 1
}
if [[ $arch == 64 ]]; then
  wine=${WINE:-$wine64}
else
  # /usr/bin/wine is only a wrapper that exists without the 32-bit Wine.
  wine=${WINE:-/usr/lib/wine/wine}
  if [[ ! -x $wine ]]; then
    echo "test-wine: no 32-bit Wine loader $wine (package wine32)" >&2
    exit 1
  fi
  # Some kernels are built or booted without 32-bit x86 emulation
  # (ia32_emulation=0): no 32-bit program runs at all, Wine's loader
  # included.  The 32-bit DLL and the test program are still built above;
  # only running them is left out, and the summary says why.
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    summary_done=1
    echo "$label: 0 passed, 0 failed, 1 skipped (this kernel does not run 32-bit x86 programs: $(uname -r))"
    exit 0
  fi
fi
wineserver=$(first_executable "$(dirname "$wine64")/wineserver" "$(command -v wineserver || true)") || {
  echo "test-wine: no wineserver found" >&2
  exit 1
}

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The prefix's server stays up for the whole run (it is ended by the
# cleanup), with its own output kept out of the tests'.
mkdir -p "$WINEPREFIX"
"$wineserver" -p >"$work/wineserver.log" 2>&1
"$wine64" wineboot -i >"$work/wineboot.log" 2>&1

# Drive D: holds the library's log tree (D:\LOG\KP606), and D:\profiles
# the bank-card profiles the program writes for the reader to load.
mkdir -p "$work/d/profiles"
ln -sfn "$work/d" "$WINEPREFIX/dosdevices/d:"

KPDEV_SIM_PROFILES=$work/d/profiles "$sim_build/sim/kpdev-sim" --pacing off --link "$WINEPREFIX/dosdevices/com$com" >"$work/sim.out" 2>"$work/sim.err" &
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

echo "== $label: $program"
set +e
KPDEV_SIM_CONTROL=$control KPDEV_SIM_COM=$com \
  "$wine" "$program" --gtest_color=no ${args[@]+"${args[@]}"} 2>&1 | tr -d '\r' | tee "$work/tests.out"
status=${PIPESTATUS[0]}
set -e

# kpdevd.exe (64-bit): its ports listing and its probe, against two more
# virtual readers that the case announces as COM ports of the prefix.
service=none
if [[ $arch == 64 ]]; then
  if [[ -d $win_build/tools/kpdevd/CMakeFiles/kpdevd.dir ]]; then
    quiet cmake --build "$win_build" -j"$jobs" --target kpdevd
    mkdir -p "$work/kpdevd"
    cp "$win_build/tools/kpdevd/kpdevd.exe" "$win_build/src/KP_DEV.dll" "$work/kpdevd/"
    echo "== $label: kpdevd.exe ports and probe"
    # (TMPDIR stays as it is: Wine finds its server through it.)
    if python3 tools/kpdevd/tests/wine_test.py "$wine" "$work/kpdevd/kpdevd.exe" \
      "$sim_build/sim/kpdev-sim"; then
      service=passed
    else
      service=failed
    fi
  else
    echo "== $label: this build has no kpdevd.exe (no Boost headers): its case is skipped"
    service=skipped
  fi
fi

passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$work/tests.out" | tail -1)
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' "$work/tests.out" | tail -1)
skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' "$work/tests.out" | tail -1)
passed=${passed:-0}
failed=${failed:-0}
skipped=${skipped:-0}
case $service in
  passed) passed=$((passed + 1)) ;;
  failed) failed=$((failed + 1)) ;;
  skipped) skipped=$((skipped + 1)) ;;
esac
if [[ $status -ne 0 && $failed -eq 0 ]]; then
  # The program ended without a summary (a crash, or Wine itself failed).
  failed=1
fi
summary_done=1
echo "$label: $passed passed, $failed failed, $skipped skipped"
if [[ $status -ne 0 || $failed -ne 0 || $passed -eq 0 ]]; then
  exit 1
fi
