#!/usr/bin/env bash
# Builds the library, the virtual reader, the tools and the tests, and runs
# every test.  With --sanitize the build uses AddressSanitizer and
# UndefinedBehaviorSanitizer (in its own build directory).  With --tsan
# only the concurrency tests are built and run, under ThreadSanitizer, in
# build-tsan/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh linux
build=build
flags=()
if [[ ${1:-} == --sanitize ]]; then
  build=build-asan
  flags=(-DKPDEV_SANITIZE=ON -DKPDEV_BUILD_BENCH=OFF)
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
if [[ ${1:-} == --tsan ]]; then
  build=build-tsan
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKPDEV_TSAN=ON -DKPDEV_BUILD_TOOLS=OFF \
    -DKPDEV_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
  # The virtual reader is only a peer process: the plain build's serves
  # when there is one.
  targets=(kpdev_concurrency_tests)
  if [[ -x build/sim/kpdev-sim ]]; then
    export KPDEV_SIM=$PWD/build/sim/kpdev-sim
  else
    targets+=(kpdev-sim)
  fi
  cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
  ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -R '^Leases\.'
  exit 0
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
