#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
# Usage: scripts/deps.sh [linux|bindings|windows|wine32|checks|all]
#   linux: the library, its tools and tests, and the .NET and Java bindings
#   with their tests (bindings: only these: Mono's C# compiler and
#   runtime with code page 936, NUnit 2.6, a JDK, JNA and JUnit 5).
#   checks: Clang, clang-format, clang-tidy and ccache, for the compiler
#   matrix, the format check and clang-tidy (scripts/ci-builds.sh).
#   wine32: the 32-bit Wine (wine32 of the i386 architecture) that runs the
#   tests of the 32-bit DLL. The i386 architecture is added for it (and
#   removed again when the install fails, since an i386 index that cannot be
#   fetched would otherwise make every later apt-get update fail). The
#   security suite's i386 index can be out of step with the main one, which
#   leaves wine32's dependencies uninstallable; for this one install the
#   security suite is pinned below the installed versions through a
#   preferences file given on apt's command line, so nothing in /etc/apt
#   changes.
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
  pin=$(mktemp)
  trap 'rm -f "$pin"' EXIT
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 50\n' >"$pin"
  chmod 644 "$pin"
  apt_pinned() { "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 -o Dir::Etc::Preferences="$pin" "$@"; }
  echo "installing: wine32:i386"
  # One index failing to download leaves the others usable: the install
  # decides.
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq || true
  request=(wine32:i386 libgstreamer-plugins-base1.0-0:i386)
  # A library installed for both architectures must have one version in
  # both. A native one already updated from the security suite has no i386
  # twin of that version, and apt would remove it (and wine64 with it):
  # such packages are brought to the version the i386 side gets.
  native=$(dpkg --print-architecture)
  plan=$(apt_pinned -s install --no-install-recommends "${request[@]}" 2>/dev/null || true)
  # Packages that depend on such a library at its exact version follow it
  # to the newest version outside the security suite.
  while read -r name; do
    version=$(sed -n "s/^Inst $name:i386 (\([^ ]*\) .*/\1/p" <<<"$plan")
    if [[ -z $version ]]; then
      version=$(apt-cache madison "$name" | awk -F' [|] ' '$3 !~ /-security/ && $3 ~ /'"$native"'|all/ {print $2; exit}')
    fi
    if [[ -n $version ]]; then request+=("$name:$native=$version"); fi
  done < <(sed -n 's/^Remv \([^ :]*\)\(:'"$native"'\)\? .*/\1/p' <<<"$plan")
  installed wine64 && request+=(wine64)
  if ! DEBIAN_FRONTEND=noninteractive apt_pinned install -y -qq --no-install-recommends --allow-downgrades \
    "${request[@]}"; then
    if ((added)); then
      "${sudo_cmd[@]}" dpkg --remove-architecture i386
      "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq || true
    fi
    echo "deps: wine32:i386 could not be installed" >&2
    exit 1
  fi
  exit 0
fi

bindings=(mono-mcs mono-devel libmono-i18n-cjk4.0-cil nunit-console libnunit-cil-dev default-jdk-headless libjna-java
          junit5)
pkgs=(build-essential cmake g++ libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev python3 python3-pytest pkg-config
      libpcsclite-dev help2man ser2net libboost-dev chromium chromium-driver python3-selenium "${bindings[@]}")
if [[ $what == bindings ]]; then
  pkgs=("${bindings[@]}")
fi
if [[ $what == windows || $what == all ]]; then
  pkgs+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine64 googletest llvm)
fi
if [[ $what == checks || $what == all ]]; then
  pkgs+=(clang clang-format clang-tidy ccache)
fi
missing=()
for p in "${pkgs[@]}"; do
  installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}"
fi
