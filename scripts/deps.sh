#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
# Usage: scripts/deps.sh [linux|windows|wine32|all]
#   wine32: the 32-bit Wine (wine32 of the i386 architecture) that runs the
#   tests of the 32-bit DLL. The i386 architecture is added for it and
#   removed again when the install fails, since an i386 index that cannot be
#   fetched would otherwise make every later apt-get update fail.
set -euo pipefail
what=${1:-linux}
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if [[ $what == wine32 ]]; then
  installed wine32:i386 && exit 0
  added=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
    added=1
  fi
  echo "installing: wine32:i386"
  # One index failing to download leaves the others usable: the install
  # decides.
  "${sudo_cmd[@]}" apt-get update -qq || true
  if ! DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq wine32:i386; then
    if ((added)); then
      "${sudo_cmd[@]}" dpkg --remove-architecture i386
      "${sudo_cmd[@]}" apt-get update -qq || true
    fi
    echo "deps: wine32:i386 could not be installed" >&2
    exit 1
  fi
  exit 0
fi

pkgs=(build-essential cmake g++ libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev python3 pkg-config libpcsclite-dev)
if [[ $what == windows || $what == all ]]; then
  pkgs+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 googletest)
fi
missing=()
for p in "${pkgs[@]}"; do
  installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
