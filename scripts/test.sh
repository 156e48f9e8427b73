#!/usr/bin/env bash
# Builds the library, the virtual reader, the tools and the tests, and runs
# every test (CMake preset "dev", directory build/, warnings are errors).
# With --sanitize the build uses AddressSanitizer and
# UndefinedBehaviorSanitizer (preset "asan", directory build-asan/).  With
# --tsan only the concurrency tests are built and run, under
# ThreadSanitizer (preset "tsan", directory build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh linux
# A new build tree compiles through ccache when there is one.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
fi
preset=dev
if [[ ${1:-} == --sanitize ]]; then
  preset=asan
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
if [[ ${1:-} == --tsan ]]; then
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
  cmake --preset tsan >/dev/null
  # The virtual reader is only a peer process: the plain build's serves
  # when there is one.
  targets=(kpdev_concurrency_tests)
  if [[ -x build/sim/kpdev-sim ]]; then
    export KPDEV_SIM=$PWD/build/sim/kpdev-sim
  else
    targets+=(kpdev-sim)
  fi
  cmake --build --preset tsan -j"$(nproc)" --target "${targets[@]}"
  ctest --preset tsan -j"$(nproc)" -R '^(Leases|Cancel)\.'
  exit 0
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
# A failed test runs once more before it counts, so that a machine stalled
# for seconds (a sanitizer build on two busy cores) does not fail the run; a
# real fault fails both runs.
ctest --preset "$preset" -j"$(nproc)" --repeat until-pass:2
