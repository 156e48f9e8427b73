#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the library: every
# source file under src/ that the build compiles, and the headers of src/
# and include/ they include.  Any finding fails the run.
# Usage: scripts/tidy.sh [--build DIR] [--jobs N] [FILE...]
#   --build  a configured build tree whose compile_commands.json is used
#            (default: build-tidy/, configured here for Clang with only the
#            library enabled; configuring takes seconds, nothing is built)
#   --jobs   parallel clang-tidy processes (default: the number of cores)
#   FILE     only these sources (e.g. the files a change touches)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=
jobs=$(nproc)
files=()
while (($#)); do
  case $1 in
    --build)
      build=$(realpath -m "$2")
      shift 2
      ;;
    --jobs)
      jobs=$2
      shift 2
      ;;
    *)
      files+=("$(realpath -m "$1")")
      shift
      ;;
  esac
done
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [[ -z $tidy ]]; then
  echo "tidy: clang-tidy is missing (scripts/deps.sh checks installs it)" >&2
  exit 2
fi
if [[ -z $build ]]; then
  build=$root/build-tidy
  cc=$(command -v clang-14 || command -v clang || echo cc)
  cxx=$(command -v clang++-14 || command -v clang++ || echo c++)
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DKPDEV_BUILD_TESTS=OFF -DKPDEV_BUILD_SIM=OFF -DKPDEV_BUILD_TOOLS=OFF -DKPDEV_BUILD_BENCH=OFF >/dev/null
fi
db=$build/compile_commands.json
if [[ ! -f $db ]]; then
  echo "tidy: $db is missing (configure the build tree first)" >&2
  exit 2
fi
if ((${#files[@]} == 0)); then
  mapfile -t files < <(python3 - "$db" "$root/src/" <<'PY'
import json, os, sys
db, prefix = sys.argv[1], sys.argv[2]
seen = set()
for entry in json.load(open(db)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(prefix) and path not in seen:
        seen.add(path)
        print(path)
PY
  )
fi
if ((${#files[@]} == 0)); then
  echo "tidy: no source of src/ in $db" >&2
  exit 2
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# One clang-tidy per file, each writing to a file of its own so that the
# parallel outputs do not mix.
printf '%s\0' "${files[@]}" |
  xargs -0 -r -P "$jobs" -I{} sh -c '"$0" -p "$1" --quiet "$3" >"$2/$(echo "$3" | tr / _).log" 2>&1 || true' \
    "$tidy" "$build" "$out" {}
log=$out/all
# Only the findings and their context; not the counts of suppressed ones.
cat "$out"/*.log | grep -v ' warnings\? generated\.$' >"$log" || true
findings=$({ grep -E '^[^ ].*:[0-9]+:[0-9]+: (warning|error):' "$log" || true; } | sort -u | wc -l)
if ((findings)); then
  cat "$log"
  echo "tidy: $findings finding(s) in ${#files[@]} files" >&2
  exit 1
fi
echo "tidy: ${#files[@]} files, no findings"
