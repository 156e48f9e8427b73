#!/usr/bin/env bash
# The Debian packages: the source package in debian/ built as a maintainer
# builds it (dpkg-buildpackage -us -uc -b, offline, without the tests: the
# test suite runs on its own), lintian on every binary package (no error, no
# warning), then the packages unpacked into a scratch root, where the
# packaged kpdev runs against the packaged virtual reader, the packaged
# Python module loads the packaged library, and a program builds against
# the packaged development files.
# Usage: scripts/ci-deb.sh [BUILD_DIR]      (default build)
# The sources are copied to BUILD_DIR/deb/src, a fixed place so that ccache
# (when CMAKE_CXX_COMPILER_LAUNCHER names it) serves the next run; the
# packages land in BUILD_DIR/deb/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build}")
missing=()
for tool in lintian dpkg-buildpackage dh; do command -v "$tool" >/dev/null || missing+=("$tool"); done
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq lintian dpkg-dev debhelper
fi
out=$build/deb
rm -rf "$out"
mkdir -p "$out/src"
# What git tracks, as it stands in the working tree.
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$out/src"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== dpkg-buildpackage -us -uc -b"
(cd "$out/src" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" DEB_BUILD_PROFILES=nocheck dpkg-buildpackage -us -uc -b >"$out/build.log" 2>&1) || {
  tail -50 "$out/build.log" >&2
  exit 1
}
mapfile -t debs < <(ls "$out"/*.deb)
for deb in "${debs[@]}"; do
  dpkg-deb --show --showformat='  ${Package} ${Version} ${Architecture}: ${Depends}\n' "$deb"
done

echo "== lintian"
status=0
for package in "${debs[@]}" "$out"/*.ddeb; do
  [[ -e $package ]] || continue
  lintian --tag-display-limit 0 --display-info "$package" >"$work/lintian.txt" 2>&1 || true
  errors=$(grep -c '^E: ' "$work/lintian.txt" || true)
  warnings=$(grep -c '^W: ' "$work/lintian.txt" || true)
  echo "$(basename "$package"): $errors errors, $warnings warnings"
  sed 's/^/  /' "$work/lintian.txt"
  ((errors == 0 && warnings == 0)) || status=1
done
((status == 0)) || { echo "lintian found errors or warnings" >&2; exit 1; }

echo "== the packages at work"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$work/root"; done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
export LD_LIBRARY_PATH=$work/root/usr/lib/$multiarch
"$work/root/usr/bin/kpdev" --sim version
PYTHONPATH=$work/root/usr/lib/python3/dist-packages python3 -c \
  "import kpdev; assert kpdev.library_version() == '2.0.0.2'; print('python3-kpdev', kpdev.__version__)"
export PKG_CONFIG_PATH=$work/root/usr/lib/$multiarch/pkgconfig
eval cc "$root"/examples/c/version.c $(pkg-config --cflags --libs kpdev) -o "$work/version"
"$work/version" COM32:9600:N:8:1 1 >/dev/null 2>&1 || [[ $? -eq 2 ]]  # runs; no reader on COM32
echo "packaged programs, module and development files work"
