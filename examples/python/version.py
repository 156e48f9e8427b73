#!/usr/bin/env python3
"""Starts a virtual reader on COM1, prints the library's and the reader's
version, powers the contact card on and selects the payment directory."""

import kpdev
from kpdev.sim import VirtualReader

with VirtualReader(family="t1", port=1) as sim:
    sim.insert(0, "bank", "profile=pboc-debit-two-sfi")
    with kpdev.Reader(1, device_type=1) as reader:
        print("library ", kpdev.library_version())
        print("version ", reader.device_version().decode("latin-1"))
        print("atr     ", reader.power_on(seat=0).hex().upper())
        answer = reader.apdu(b"\x00\xa4\x04\x00\x0e" + b"1PAY.SYS.DDF01", chained=True)
        print("select  ", answer[-2:].hex().upper())
        print("track2  ", reader.track2(seat=0))
