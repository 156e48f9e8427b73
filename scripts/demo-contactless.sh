#!/usr/bin/env bash
# A contactless sector-card session across several kpdev invocations
# against one virtual reader running in the background: activate the card,
# authenticate a sector, write a block and read it back, store a value,
# increase and decrease it and read it back, then see a wrong key refused
# (after which the card must be activated again).  Every step checks the
# tool's exit status and output; the script exits non-zero at the first
# step that fails.
#
#   scripts/demo-contactless.sh [KPDEV [KPDEV_SIM]]
#
# KPDEV and KPDEV_SIM default as scripts/demo-common.sh says.
demo_name=demo-contactless
com=8
# shellcheck source=scripts/demo-common.sh
source "$(dirname "$0")/demo-common.sh" "$@"

uid=CAFEF00D
key=FFFFFFFFFFFF
# A sector card in the field (seat 255).
start_sim t1 "255 sector uid=$uid"

rf() { "$kpdev" rf "$@" --port "$com" --type 1; }

step 0 "uid      $uid" "activate the sector card" rf activate --store
step 0 "sector   1 authenticated" "authenticate sector 1 with key A" rf auth --sector 1 --key "$key"
step 0 "written  sector 1 block 0" "write 'Hello' into sector 1, block 0" rf write --sector 1 --block 0 --data 48656C6C6F
step 0 "data     48656C6C6F0000000000000000000000" "read it back" rf read --sector 1 --block 0
step 0 "value    10.00" "make block 1 a value block holding 10.00" rf value --sector 1 --block 1 --set 10.00
step 0 "increased 2.50" "increase it by 2.50" rf increase --sector 1 --block 1 --amount 2.50
step 0 "value    12.50" "read the value back" rf value --sector 1 --block 1
step 0 "decreased 0.75" "decrease it by 0.75" rf decrease --sector 1 --block 1 --amount 0.75
step 0 "value    11.75" "read the value back" rf value --sector 1 --block 1
step 1 "-316" "a block of sector 2 is not open" rf read --sector 2 --block 0
step 1 "-312" "a wrong key is refused" rf auth --sector 1 --key 000000000000
step 1 "-306" "and the card must be activated again" rf read --sector 1 --block 0
step 0 "data     48656C6C6F" "activate, authenticate and read in one go" rf read --sector 1 --block 0 --key "$key"

# What the card holds: the block, and the value block (1175 hundredths,
# inverted, again, then the block number 5 four times, inverted twice).
card "rf-block 4" "ok 48656C6C6F0000000000000000000000"
card "rf-block 5" "ok 9704000068FBFFFF9704000005FA05FA"
echo "demo-contactless: all steps passed"
