"""kpdevd.exe under Wine: `ports` lists the system's serial ports and the
device servers named by KPDEV_COM<n>, and `probe` finds virtual readers
behind Wine COM ports.

Usage: wine_test.py WINE KPDEVD_EXE KPDEV_SIM
The Wine prefix (WINEPREFIX) must be booted; the readers are put behind
COM6 and COM7 as a serial driver would announce them: a device link and,
where the prefix has one, a value in the system's serial-port map.
"""

import os
import subprocess
import sys

from harness import Service, WsClient, check, sim_reader, summary

WINE, KPDEVD, SIM = sys.argv[1], sys.argv[2], sys.argv[3]
SERIALCOMM = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"
# The virtual readers' default version texts.
T1_VERSION = "KP-T1 V2.10"
T61_VERSION = "KP-T61 V1.05"


def announce(ports):
    """Each COM number of `ports` ({com: device}) leads to its device (a
    link of the prefix) and, where the prefix has a serial-port map, is
    listed there as a serial driver would list it.  True when listed: the
    map's key is volatile, made by Wine's mount manager only when it finds
    serial devices, and a value cannot be added to a map that is absent."""
    listed = True
    for com, device in ports.items():
        link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com%d" % com)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(device, link)
        done = subprocess.run([WINE, "reg", "add", SERIALCOMM, "/v", r"\Device\kpdevtest%d" % com, "/t", "REG_SZ",
                               "/d", "COM%d" % com, "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        listed = listed and done.returncode == 0
    return listed


def main():
    t61 = sim_reader(SIM, "t61")
    t1 = sim_reader(SIM, "t1")
    try:
        return run(announce({6: t61.port_path, 7: t1.port_path}))
    finally:
        t61.terminate()
        t1.terminate()


def run(mapped):
    # A device server replaces COM9; a device path in a variable means
    # nothing to a Windows program, so COM11 stays unlisted.
    env = {"KPDEV_COM9": "tcp://127.0.0.1:9", "KPDEV_COM11": r"C:\not-a-port"}
    service = Service([WINE, KPDEVD], [], env)
    try:
        client = WsClient(service.port)
        doc = client.call({"op": "ports"})
        listed = {p["com"]: p for p in doc.get("ports", [])}
        check("ports answers", doc.get("exit") == 0, doc)
        check("ports is in COM order", [p["com"] for p in doc.get("ports", [])] == sorted(listed), doc)
        expected = {
            6: {"device": r"\\.\COM6", "resolved": r"\\.\COM6", "source": "default", "access": "not checked",
                "can_open": True, "com": 6},
            7: {"device": r"\\.\COM7", "resolved": r"\\.\COM7", "source": "default", "access": "not checked",
                "can_open": True, "com": 7},
            9: {"device": "tcp://127.0.0.1:9", "resolved": "tcp://127.0.0.1:9", "source": "KPDEV_COM9",
                "access": "not checked (network)", "can_open": True, "com": 9},
        }
        for com, entry in expected.items():
            if com in (6, 7) and not mapped:
                print("skip ports lists COM%d: this prefix has no serial-port map to announce it in" % com)
                continue
            check("ports lists COM%d" % com, listed.get(com) == entry, listed.get(com))
        check("a variable naming no device server lists nothing", 11 not in listed, doc)

        doc = client.call({"op": "probe", "ports": [7, 8, 6]}, timeout=60)
        found = [(r["com"], r["device"], r["type"], r["baud"], r["version_raw"], r["how"])
                 for r in doc.get("readers", [])]
        check("probe finds both readers behind their COM ports, ascending", doc.get("exit") == 0 and found == [
            (6, r"\\.\COM6", 61, 9600, T61_VERSION, "answers the type-61 version request"),
            (7, r"\\.\COM7", 1, 9600, T1_VERSION.encode().hex().upper(), "the version text names type 1"),
        ], doc)
        check("probe skips a COM port that leads nowhere", doc.get("skipped") == [
            {"com": 8, "device": r"\\.\COM8", "reason": "no such device",
             "fix": "'kpdev ports' lists the serial ports; KPDEV_COM<n> may name a device server instead"}], doc)
        client.close()
    finally:
        service.stop()
    return summary()


if __name__ == "__main__":
    sys.exit(main())
