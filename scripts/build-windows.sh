#!/usr/bin/env bash
# Cross-builds KP_DEV.dll for 32-bit and 64-bit Windows with MinGW-w64,
# checks each export table (CTest: windows.exports), and collects the DLL,
# its import library and its module-definition file in out/win32 and
# out/win64.  The 32-bit build also links the Windows test program against
# the import library, so the decorated __stdcall names a 32-bit caller
# uses are proven to resolve.
# Each is also bundled for application developers as
# out/kpdev-<version>-win32.zip and -win64.zip: the DLL (with its version
# resource), the .def, the MinGW and the MSVC import libraries (the latter
# made by llvm-dlltool from the .def), the public header and a README.
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
  cp "$build/tools/kpdevd/kpdevd.exe" "$out/"
  "$arch-w64-mingw32-strip" --strip-debug "$out/kpdevd.exe"
  # The shipped copy carries no debug information (the symbol table stays).
  "$arch-w64-mingw32-strip" --strip-debug "$out/KP_DEV.dll"
  # The file the DLL was linked with, made from the export table:
  # decorated (@N) names for 32-bit, plain names for 64-bit.
  cp "$build/src/KP_DEV.def" "$out/KP_DEV.def"
done
version=$(sed -n 's/^project(kpdev VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for bits in 32 64; do
  out=$root/out/win$bits
  if [[ $bits == 32 ]]; then
    machine=i386 triplet=i686-w64-mingw32 kill_at=(--kill-at)
  else
    machine=i386:x86-64 triplet=x86_64-w64-mingw32 kill_at=()
  fi
  # MSVC's x86 callers reference _Name@N; the import library maps that to
  # the undecorated export name.
  llvm-dlltool -m "$machine" -d "$out/KP_DEV.def" -D KP_DEV.dll "${kill_at[@]}" -l "$out/KP_DEV.lib"
  name=kpdev-$version-win$bits
  stage=$root/out/stage/$name
  rm -rf "$stage" "$root/out/$name.zip"
  mkdir -p "$stage/include"
  cp "$out/KP_DEV.dll" "$out/KP_DEV.def" "$out/libKP_DEV.dll.a" "$out/KP_DEV.lib" "$out/kpdevd.exe" "$stage/"
  cp include/kp_dev.h "$stage/include/"
  sed -e "s/@VERSION@/$version/g" -e "s/@BITS@/$bits/g" -e "s/@TRIPLET@/$triplet/g" \
    packaging/README-windows.txt | sed 's/$/\r/' >"$stage/README.txt"
  (cd "$root/out/stage" && cmake -E tar cf "$root/out/$name.zip" --format=zip "$name")
done
rm -rf "$root/out/stage"
for bits in 32 64; do
  python3 scripts/check-windows-bundle.py "$root/out/kpdev-$version-win$bits.zip" "$version"
done
echo "== out/"
ls -l out/win32 out/win64 out/*.zip
