#!/usr/bin/env bash
# The main job: builds what is needed, starts the virtual reader and opens
# it through the library (printing its version), then runs the
# read-any-card loop against a virtual reader with a sample card presented
# (a contact bank card unless the arguments choose another) and prints the
# card's kind and the data read.  Arguments go to "kpdev read-all".
#
# It configures the same build tree as scripts/test.sh (preset "dev",
# build/) with the same flags and builds only the library, the tool and
# the virtual reader, so a later scripts/test.sh compiles only the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh linux
# A new build tree compiles through ccache when there is one.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
fi
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$(nproc)" --target kpdev kpdev-sim KP_DEV
./build/tools/kpdev --sim version
./build/tools/kpdev --sim read-all --timeout 10 "$@"
