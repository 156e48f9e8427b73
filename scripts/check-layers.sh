#!/usr/bin/env bash
# Fails when a source file of the library includes a header of a higher
# layer.  Layers, lowest first:
#   0 wire       bytes and hex, nibbles, frames, status words, BER-TLV,
#                families: a library of its own that the virtual reader,
#                the tool and the PC/SC driver link too; it includes only
#                itself (and the public header)
#   0 base       results, conversions, the trace sink
#   1 platform   one file per operating system; log (the daily log file)
#   2 serial     the serial port, the frame codec, the port text
#   3 readers    reader classes and their card technologies; idcard
#   4 services   APDU chaining, EMV services, read-any-card, automatic open
#   5 api        the exported functions
# A file may include its own layer and any lower one, and the public header.
set -euo pipefail
cd "$(dirname "$0")/../src"

level() {
  case "$1" in
    wire | base) echo 0 ;;
    platform | log) echo 1 ;;
    serial) echo 2 ;;
    readers | idcard) echo 3 ;;
    services) echo 4 ;;
    api) echo 5 ;;
    *) echo -1 ;;
  esac
}

status=0
while IFS= read -r file; do
  dir=${file%%/*}
  own=$(level "$dir")
  if [[ $own -lt 0 ]]; then
    echo "check-layers: $file is in no known layer" >&2
    status=1
    continue
  fi
  while IFS= read -r line; do
    target=${line#*\"}
    target=${target%%\"*}
    [[ $target == */* ]] || continue
    other=$(level "${target%%/*}")
    if [[ $other -lt 0 || $other -gt $own || ($dir == wire && ${target%%/*} != wire) ]]; then
      echo "check-layers: $file includes $target (a higher or unknown layer)" >&2
      status=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find . -name '*.cpp' -o -name '*.h' | sed 's#^\./##' | sort)

# The other programs reach the library's sources only through the three
# libraries made for them, the wire vocabulary (wire/), the network seam
# (kpdev_network: platform/network_*, rfc2217, socket) and the system's
# serial-port list (kpdev_ports: platform/ports); everything else they use
# is the exported interface.
if grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(base|platform|log|serial|readers|idcard|services|api)/' \
  ../sim ../tools ../pcsc | grep -vE '"platform/(network_[a-z_]+|rfc2217|socket|ports)\.h"'; then
  echo "check-layers: the includes above reach into the library from another program" >&2
  status=1
fi

# Only the export layer calls the exported functions.
if grep -rnE '\bKP_DEV_[A-Za-z0-9_]+[[:space:]]*\(' --include='*.cpp' --include='*.h' . |
  grep -v '^\./api/' | grep -vE ':[0-9]+:[[:space:]]*//'; then
  echo "check-layers: the calls above reach an export from below the export layer" >&2
  status=1
fi
[[ $status -eq 0 ]] && echo "check-layers: ok"
exit $status
