#!/usr/bin/env bash
# The Debian package: built by cpack from a configured build, checked by
# lintian (no errors allowed), unpacked into a scratch root, where the
# packaged kpdev runs against the packaged virtual reader.
# Usage: scripts/ci-deb.sh [BUILD_DIR]      (default build, built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
missing=()
for tool in lintian dpkg-shlibdeps; do command -v "$tool" >/dev/null || missing+=("$tool"); done
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq lintian dpkg-dev
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== cpack -G DEB"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log) || {
  cat "$work/cpack.log" >&2
  exit 1
}
deb=$(ls "$work"/*.deb)
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\):/  \1:/p'

echo "== lintian"
lintian --no-tag-display-limit "$deb" | tee "$work/lintian.txt" || true
errors=$(grep -c '^E: ' "$work/lintian.txt" || true)
warnings=$(grep -c '^W: ' "$work/lintian.txt" || true)
echo "lintian: $errors errors, $warnings warnings"
((errors == 0))

echo "== packaged kpdev --sim version"
dpkg-deb -x "$deb" "$work/root"
LD_LIBRARY_PATH="$work/root/usr/lib:$work/root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)" \
  "$work/root/usr/bin/kpdev" --sim version
