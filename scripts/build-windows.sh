#!/usr/bin/env bash
# Cross-builds KP_DEV.dll for 32-bit and 64-bit Windows with MinGW-w64,
# checks each export table (CTest: windows.exports), and collects the DLL,
# its import library and its module-definition file in out/win32 and
# out/win64.  The 32-bit build also links the Windows test program against
# the import library, so the decorated __stdcall names a 32-bit caller
# uses are proven to resolve.
# Usage: scripts/build-windows.sh [--jobs N]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=1
if [[ ${1:-} == --jobs ]]; then
  jobs=$2
fi

scripts/deps.sh windows

for bits in 32 64; do
  if [[ $bits == 32 ]]; then arch=i686; else arch=x86_64; fi
  build=$root/build-win$bits
  out=$root/out/win$bits
  echo "== KP_DEV.dll, $bits-bit"
  cmake --preset "mingw$bits" >/dev/null
  cmake --build "$build" -j"$jobs"
  ctest --test-dir "$build" --output-on-failure
  mkdir -p "$out"
  cp "$build/src/KP_DEV.dll" "$build/src/libKP_DEV.dll.a" "$out/"
  # The shipped copy carries no debug information (the symbol table stays).
  "$arch-w64-mingw32-strip" --strip-debug "$out/KP_DEV.dll"
  # The file the DLL was linked with: decorated (@N) names for 32-bit,
  # plain names for 64-bit.
  if [[ $bits == 32 ]]; then
    cp src/api/KP_DEV.def "$out/KP_DEV.def"
  else
    cp "$build/src/KP_DEV.def" "$out/KP_DEV.def"
  fi
done
echo "== out/"
ls -l out/win32 out/win64
