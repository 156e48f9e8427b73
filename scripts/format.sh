#!/usr/bin/env bash
# Formats the C and C++ sources with clang-format, following .clang-format.
# Usage: scripts/format.sh [--check] [FILE...]
#   --check  changes nothing: lists the files whose formatting differs and
#            fails when there is any
# Without files, every C/C++ source git knows of (tracked or new, not
# ignored) is taken.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
if [[ ${1:-} == --check ]]; then
  check=1
  shift
fi
format=$(command -v clang-format-14 || command -v clang-format || true)
if [[ -z $format ]]; then
  echo "format: clang-format is missing (scripts/deps.sh checks installs it)" >&2
  exit 2
fi
files=("$@")
if ((${#files[@]} == 0)); then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
    '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp' | sort -u)
  # Tracked files deleted in the working tree are not sources any more.
  present=()
  for f in "${files[@]}"; do [[ -f $f ]] && present+=("$f"); done
  files=("${present[@]}")
fi
if ((!check)); then
  printf '%s\0' "${files[@]}" | xargs -0 -r "$format" -i
  exit 0
fi
# One clang-format run over all files; each difference is reported as
# "FILE:LINE:COL: error: code should be clang-formatted".
mapfile -t bad < <(printf '%s\0' "${files[@]}" | xargs -0 -r "$format" --dry-run --Werror 2>&1 |
  sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
if ((${#bad[@]})); then
  echo "format: these files need scripts/format.sh:" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files formatted as .clang-format says"
