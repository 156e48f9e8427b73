#!/usr/bin/env bash
# Builds the library, the virtual reader, the tools and the tests, and runs
# every test (CMake preset "dev", directory build/, warnings are errors).
# With --sanitize the build uses AddressSanitizer and
# UndefinedBehaviorSanitizer (preset "asan", directory build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh linux
preset=dev
if [[ ${1:-} == --sanitize ]]; then
  preset=asan
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
ctest --preset "$preset" -j"$(nproc)"
