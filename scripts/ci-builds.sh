#!/usr/bin/env bash
# CI: the format check, the compiler x build-type matrix and clang-tidy.
#
# scripts/test.sh already builds and tests GCC RelWithDebInfo (and the
# sanitizer build), so the matrix adds the five other combinations, build
# only, warnings as errors:
#   GCC Release, Clang Debug     everything, tests included: GCC's -O3 flow
#                                analysis and Clang's own diagnostics see
#                                all the code;
#   GCC Debug, Clang Release,    library, virtual reader, tool and
#   Clang RelWithDebInfo         benchmark (the tests add nothing new to
#                                what the builds above already cover).
# clang-tidy then reuses the compile commands of the Clang Debug tree. The
# .NET and Java bindings do not depend on the C++ compiler: scripts/test.sh
# builds and tests them once, the matrix leaves them out.
# Every build goes through ccache.
# Usage: scripts/ci-builds.sh [--jobs N]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
if [[ ${1:-} == --jobs ]]; then
  jobs=$2
fi

scripts/deps.sh linux
scripts/deps.sh checks
# CMake takes the launcher from the environment for every new build tree.
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)

start=$SECONDS
# Each step reports its wall-clock and processor time.
TIMEFORMAT='   (%0R s; processor %0U s user, %0S s system)'

echo "== format check"
time scripts/format.sh --check

# build NAME C-COMPILER C++-COMPILER BUILD-TYPE TESTS
build() {
  local dir=build-ci-$1
  echo "== build $1"
  time {
    cmake --preset dev -B "$dir" -DCMAKE_C_COMPILER="$2" -DCMAKE_CXX_COMPILER="$3" -DCMAKE_BUILD_TYPE="$4" \
      -DKPDEV_BUILD_TESTS="$5" -DKPDEV_BUILD_BINDINGS=OFF >/dev/null
    cmake --build "$dir" -j"$jobs"
  }
}
build gcc-release gcc g++ Release ON
build clang-debug "$cc" "$cxx" Debug ON
build gcc-debug gcc g++ Debug OFF
build clang-release "$cc" "$cxx" Release OFF
build clang-relwithdebinfo "$cc" "$cxx" RelWithDebInfo OFF

echo "== clang-tidy"
time scripts/tidy.sh --build build-ci-clang-debug --jobs "$jobs"

echo "== matrix, format check and clang-tidy: $((SECONDS - start)) s"
ccache --show-stats 2>/dev/null | grep -E '^ *(Hits|Misses):' || true
