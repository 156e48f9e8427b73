#!/usr/bin/env bash
# The main job: builds what is needed, starts the virtual reader and opens
# it through the library, printing the reader's version and module.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh linux
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kpdev kpdev-sim KP_DEV
./build/tools/kpdev --sim version "$@"
