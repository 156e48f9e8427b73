#!/usr/bin/env bash
# The main job: builds what is needed, starts the virtual reader and opens
# it through the library (printing its version), then runs the
# read-any-card loop against a virtual reader with a sample card presented
# (a contact bank card unless the arguments choose another) and prints the
# card's kind and the data read.  Arguments go to "kpdev read-all".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh linux
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kpdev kpdev-sim KP_DEV
./build/tools/kpdev --sim version
./build/tools/kpdev --sim read-all --timeout 10 "$@"
