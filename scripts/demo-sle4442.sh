#!/usr/bin/env bash
# An SLE4442 session across several kpdev invocations against one virtual
# reader running in the background: present the PSC, write and read main
# memory, present a wrong PSC and watch the error counter go down, then
# restore it with the right PSC.  Every step checks the tool's exit status
# and output; the script exits non-zero at the first step that fails.
#
#   scripts/demo-sle4442.sh [KPDEV [KPDEV_SIM]]
#
# KPDEV and KPDEV_SIM default as scripts/demo-common.sh says.
demo_name=demo-sle4442
com=7
# shellcheck source=scripts/demo-common.sh
source "$(dirname "$0")/demo-common.sh" "$@"

psc=C0FFEE
# A fresh SLE4442 in seat 0.
start_sim t1 "0 sle4442 psc=$psc"

mem() { "$kpdev" mem "$@" --chip sle4442 --port "$com" --type 1; }

step 0 "tries    3" "present the PSC" mem verify --pwd "$psc"
step 0 "written  5 bytes" "write 'Hello' at address 32" mem write --address 32 --data 48656C6C6F
step 0 "data     48656C6C6F" "read it back" mem read --address 32 --length 5
step 1 "tries    2" "present a wrong PSC: one try gone" mem verify --pwd 000000
step 0 "tries    2" "the counter on its own" mem counter
step 1 "tries    1" "another wrong PSC" mem verify --pwd 111111
step 1 "-316" "writing is closed again" mem write --address 32 --data 00
step 0 "tries    3" "the right PSC restores the counter" mem verify --pwd "$psc"

# What the card holds, asked of the virtual reader itself.
card "dump 0 memory 32 5" "ok 48656C6C6F"
echo "demo-sle4442: all steps passed"
