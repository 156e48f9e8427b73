#!/usr/bin/env bash
# The library as an application developer gets it: installs the build into
# a throw-away prefix whose path holds a space, checks the installed shared
# object (SONAME, exactly the 102 exports), that no installed file names the
# build tree, builds the two C examples against the installed files only
# (pkg-config; find_package) and runs them and the Python example against a
# virtual reader, then runs the Python package's tests.
# Usage: scripts/ci-install.sh [BUILD_DIR]      (default build, configured)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath "${1:-build}")
# Debian's interpreter, which has Debian's pytest.
python=/usr/bin/python3
command -v pkg-config >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq pkg-config
"$python" -c "import pytest" 2>/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-pytest
# Virtual environments with Debian's pip (python3-venv brings its wheel).
"$python" -c "import ensurepip" 2>/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-venv

work=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
prefix="$work/kpdev prefix"

echo "== install into '$prefix'"
cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -type f -o -type l | sort)
lib=$(ls "$prefix"/lib/libKP_DEV.so.2.*)

echo "== installed library"
readelf -d "$lib" | grep -q 'SONAME.*\[libKP_DEV\.so\.2\]' || { echo "SONAME is not libKP_DEV.so.2" >&2; exit 1; }
[[ $(readlink "$prefix/lib/libKP_DEV.so.2") == "$(basename "$lib")" ]]
[[ $(readlink "$prefix/lib/libKP_DEV.so") == libKP_DEV.so.2 ]]
nm -D --defined-only "$lib" | awk '{print $3}' | sort >"$work/exports"
grep -oE '^[A-Za-z_][A-Za-z0-9_]*'$'\t''[0-9]+'$'\t' src/api/exports.tsv | cut -f1 | sort >"$work/expected"
if ! diff "$work/expected" "$work/exports"; then
  echo "the installed library's dynamic symbols are not exactly the exports" >&2
  exit 1
fi
echo "SONAME libKP_DEV.so.2, $(wc -l <"$work/exports") exported functions"
if grep -rlF "$build" "$prefix"; then
  echo "installed files name the build tree" >&2
  exit 1
fi

echo "== examples against the installed files"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
pkg-config --cflags --libs kpdev
# The README's line as it stands (pkg-config writes a space in a path as
# "\ ", which only the shell's own parsing undoes: hence eval); the run
# path it records lets the program start without LD_LIBRARY_PATH.
(cd "$work" && eval cc "$root"/examples/c/version.c $(pkg-config --cflags --libs kpdev) \
  -Wl,-rpath,$(pkg-config --variable=libdir kpdev) -o kpdev-version)
cp "$work/kpdev-version" "$work/version-pc"
eval "cc -Wall -Wextra -Werror -o \"\$work/version-strict\" examples/c/version.c $(pkg-config --cflags --libs kpdev)"
cmake -S examples/cmake -B "$work/cmake-example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-example" >/dev/null

"$prefix/bin/kpdev-sim" --family t1 --link "$work/tty" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" && break; sleep 0.1; done
grep -q '^ready' "$work/sim.out"
export KPDEV_COM7="$work/tty"
"$work/version-pc" COM7:9600:N:8:1 1
LD_LIBRARY_PATH="$prefix/lib" "$work/version-strict" COM7:9600:N:8:1 1
"$work/cmake-example/kpdev-version" COM7:9600:N:8:1 1
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=
unset KPDEV_COM7
"$prefix/bin/kpdev" --sim version
if [[ -x $prefix/bin/kpdevd ]]; then
  "$prefix/bin/kpdevd" --version
  grep -qxF "ExecStart=\"$prefix/bin/kpdevd\"" "$prefix/lib/systemd/user/kpdevd.service"
fi

pythonpath="$prefix/lib/python3/dist-packages"
PYTHONPATH="$pythonpath" "$python" examples/python/version.py

# The bindings find the library and kpdev-sim beside themselves: no
# LD_LIBRARY_PATH, no KPDEV_SIM.
if [[ -f "$prefix/lib/cli/kpdev/Kpdev.dll" ]]; then
  echo "== .NET example against the installed assembly"
  eval "mcs -nologo -warnaserror+ -out:\"\$work/Version.exe\" examples/dotnet/Version.cs $(pkg-config --libs kpdev-sharp)"
  MONO_PATH="$prefix/lib/cli/kpdev" mono "$work/Version.exe"
else
  echo "the .NET binding was not built (no mcs): its example is not run" >&2
fi
if [[ -f "$prefix/share/java/kpdev.jar" ]]; then
  echo "== Java example against the installed archive"
  java -cp "$prefix/share/java/kpdev.jar" examples/java/Version.java
else
  echo "the Java binding was not built (no javac): its example is not run" >&2
fi

echo "== Python package tests (installed package)"
PYTHONPATH="$pythonpath" PYTHONDONTWRITEBYTECODE=1 "$python" -m pytest -q -p no:cacheprovider \
  --rootdir "$root/bindings/python" "$root/bindings/python/tests"

echo "== pip install ./bindings/python (offline, build isolation on, into virtual environments)"
# The prefix recorded at install time, then the virtual environment's own
# prefix: found without KPDEV_LIBRARY.  pip must not warn.
before=$(git -C "$root" status --porcelain --ignored bindings/python)
"$python" -m venv "$work/venv"
"$work/venv/bin/pip" install --no-index --config-settings "prefix=$prefix" "$root/bindings/python" >"$work/pip.log" 2>&1 ||
  { cat "$work/pip.log" >&2; exit 1; }
if grep -iE 'warning|deprecat' "$work/pip.log"; then
  echo "pip warned" >&2
  exit 1
fi
"$python" -m venv "$work/venv2"
cmake --install "$build" --prefix "$work/venv2" >/dev/null
"$work/venv2/bin/pip" install -q --no-index "$root/bindings/python"
for venv in venv venv2; do
  (cd "$work" && env -u KPDEV_LIBRARY "$work/$venv/bin/python" -c \
    "import kpdev; assert kpdev.library_version() == '2.0.0.2'; print('pip-installed kpdev', kpdev.__version__)")
done
after=$(git -C "$root" status --porcelain --ignored bindings/python)
if [[ $after != "$before" ]]; then
  echo "pip left files in the source tree:" >&2
  diff <(echo "$before") <(echo "$after") >&2
  exit 1
fi
