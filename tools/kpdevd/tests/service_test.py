#!/usr/bin/env python3
"""kpdevd against virtual readers, from a client that forges what a browser
would not let a page forge: Host and Origin headers, oversized messages,
hundreds of idle connections, a cancel from another connection.
Usage: service_test.py KPDEVD KPDEV_SIM"""

import json
import os
import select
import socket
import sys
import tempfile
import time

from harness import Closed, Service, WsClient, check, http_get, sim_reader, summary

KPDEVD, SIM = sys.argv[1], sys.argv[2]
# The bank card of the virtual reader's profile pboc-debit-two-sfi: its
# tag 57 is 6200001234567892 D 3012 220 0000012340000 F.
BANK = "0 bank profile=pboc-debit-two-sfi"
TRACK2 = "6200001234567892D30122200000012340000F"
# The virtual readers' default version texts; the framed firmware reports
# its version bytes as hex, shown spelled with the hex after it.
T1_VERSION = "KP-T1 V2.10"
T61_VERSION = "KP-T61 V1.05"


def refused_upgrade(port, **headers):
    client = WsClient(port, **headers)
    try:
        return client.status
    finally:
        client.close()


def main():
    t1 = sim_reader(SIM, "t1", inserts=[BANK])               # COM3: version, events
    bank = sim_reader(SIM, "t61", 115200, inserts=[BANK])    # COM4: read-any-card finds a bank card
    empty = sim_reader(SIM, "t61", 115200)                   # COM5: read-any-card waits
    t0 = sim_reader(SIM, "t0")                               # COM6: identity card presence
    try:
        return run(t1, bank, empty, t0)
    finally:
        for sim in (t1, bank, empty, t0):
            sim.terminate()


def run(t1, bank, empty, t0):
    env = {"KPDEV_COM3": t1.port_path, "KPDEV_COM4": bank.port_path, "KPDEV_COM5": empty.port_path,
           "KPDEV_COM6": t0.port_path}
    service = Service(KPDEVD, ["--allow-origin", "https://counter.example.org"], env)
    port = service.port
    try:
        # ---- Host and Origin, on plain requests and on upgrades
        status, headers, body = http_get(port, "/")
        check("the demo page is served", status == 200 and b"<title>kpdevd" in body and
              headers.get("content-type", "").startswith("text/html"), status)
        check("the page may not be framed", "frame-ancestors 'none'" in headers.get("content-security-policy", ""))
        status, headers, body = http_get(port, "/version", {"Origin": service.origin})
        check("/version answers its own page", status == 200 and json.loads(body)["service"] == "kpdevd", body)
        for host in ["evil.example:%d" % port, "127.0.0.1:%d" % (port + 1), "localhost", "127.0.0.1.nip.io:%d" % port]:
            status, _, _ = http_get(port, "/status", {"Host": host})
            check("rebinding Host %s refused on GET" % host, status == 403, status)
            check("rebinding Host %s refused on upgrade" % host, refused_upgrade(port, host=host) == 403)
        for origin in ["https://evil.example", "null", "http://127.0.0.1:%d" % (port + 1),
                       "https://counter.example.org.evil.example", "http://counter.example.org"]:
            check("foreign Origin %s: 403, no upgrade" % origin, refused_upgrade(port, origin=origin) == 403)
            status, headers, _ = http_get(port, "/status", {"Origin": origin})
            check("foreign Origin %s refused on GET" % origin,
                  status == 403 and "access-control-allow-origin" not in headers, (status, headers))
        status, headers, _ = http_get(port, "/status", {"Origin": "https://counter.example.org"})
        check("an allowed origin is named, never '*'",
              status == 200 and headers.get("access-control-allow-origin") == "https://counter.example.org" and
              headers.get("vary") == "Origin", headers)
        check("own page's origin upgrades", refused_upgrade(port, origin=service.origin) == 101)
        check("localhost names upgrade", refused_upgrade(port, host="localhost:%d" % port,
                                                         origin="http://localhost:%d" % port) == 101)
        status, _, _ = http_get(port, "/ws?pan=1")
        check("no upgrade header: no WebSocket", status == 404, status)

        # ---- requests and their documents
        a = WsClient(port, origin=service.origin)
        doc = a.call({"op": "version", "port": 3})
        check("version on a type-1 reader", doc.get("command") == "version" and doc.get("exit") == 0 and
              doc.get("module") == 1 and doc.get("reader", {}).get("type") == 1, doc)
        doc = a.call({"op": "emv-info", "port": 3})
        check("emv-info: Track 2 and its fields", doc.get("exit") == 0 and doc["track2"]["text"] == TRACK2 and
              doc["track2"]["pan"] == "6200001234567892" and doc["track2"]["expiry"] == "3012", doc)
        doc = a.call({"id": "x", "op": "version", "port": 40})
        check("a bad request is answered, the connection stays",
              doc.get("id") == "x" and doc.get("exit") == 64 and "port" in doc["error"]["message"], doc)
        a.send_text("not json")
        doc = json.loads(a.recv())
        check("text that is not JSON: exit 64", doc.get("exit") == 64, doc)
        doc = a.call({"op": "version", "port": 9})
        check("a port without a device: exit 2", doc.get("exit") == 2 and
              doc["error"]["name"] == "KP_DEV_ERR_OPEN", doc)

        # ---- reader discovery: ports opens nothing, probe runs beside the readers
        doc = a.call({"op": "ports"})
        listed = {p["com"]: p for p in doc.get("ports", [])}
        check("ports lists the virtual reader's COM number", doc.get("exit") == 0 and
              listed.get(3, {}).get("source") == "KPDEV_COM3" and listed[3]["device"] == t1.port_path and
              listed[3]["can_open"] is True, doc)
        p = WsClient(port)
        probing = p.request({"op": "probe", "ports": [5, 3]})
        doc = a.call({"op": "version", "port": 6, "type": 0})
        check("a probe does not hold up another reader's request",
              doc.get("exit") == 0 and not select.select([p.sock], [], [], 0)[0], doc)
        doc = p.answer(probing, timeout=60)
        t1_hex = T1_VERSION.encode().hex().upper()
        found = [(r["com"], r["type"], r["baud"], r["version"], r["version_raw"]) for r in doc.get("readers", [])]
        check("probe finds both free readers, ascending, as they are",
              doc.get("exit") == 0 and doc["skipped"] == [] and
              found == [(3, 1, 9600, "%s  [%s]" % (T1_VERSION, t1_hex), t1_hex),
                        (5, 61, 115200, T61_VERSION, T61_VERSION)], doc)

        # ---- an oversized message closes only its own connection
        big = WsClient(port)
        big.send_text(json.dumps({"op": "version", "pad": "x" * (70 * 1024)}))
        try:
            big.recv(10)
            closed = False
        except (Closed, ConnectionError):
            closed = True
        check("oversized message closes that connection", closed)
        doc = a.call({"op": "version", "port": 3})
        check("... and no other", doc.get("exit") == 0, doc)

        # ---- 200 idle connections do not stop a read
        idle = []
        for i in range(100):
            idle.append(socket.create_connection(("127.0.0.1", port)))  # never sends a request
        for i in range(100):
            idle.append(WsClient(port))  # upgraded, never sends a message
        started = time.monotonic()
        doc = a.call({"op": "read-all", "port": 4, "timeout": 10}, timeout=30)
        check("read-any-card with 200 idle connections open",
              doc.get("exit") == 0 and doc["kind"] == {"code": 3, "name": "contact bank card"} and
              doc["track2"]["text"] == TRACK2, doc)
        check("... within a few seconds", time.monotonic() - started < 8, time.monotonic() - started)
        for c in idle:
            c.close()

        # ---- a cancel from a second connection ends a waiting read
        waiting = a.request({"op": "read-all", "port": 5, "timeout": 60})
        time.sleep(0.7)
        b = WsClient(port)
        doc = p.call({"op": "probe", "ports": [5]})
        check("probe leaves a port alone while a request waits on it",
              doc.get("exit") == 2 and doc["tried"] == [] and doc["readers"] == [] and
              doc["skipped"] == [{"com": 5, "device": empty.port_path,
                                  "reason": "in use by kpdevd: a request runs or waits on it"}], doc)
        doc = b.call({"op": "cancel"})
        check("cancel answers at once, counting the waiting loop", doc.get("exit") == 0 and doc["loops"] == 1, doc)
        started = time.monotonic()
        doc = a.answer(waiting, timeout=10)
        check("the waiting read ends cancelled", doc.get("exit") == 130 and
              doc["error"]["message"] == "cancelled, no card read", doc)
        check("... within a second", time.monotonic() - started < 1.5, time.monotonic() - started)
        doc = a.call({"op": "read-all", "port": 5, "timeout": 0})
        check("the next read is not cancelled by the old cancel", doc.get("exit") == 4, doc)

        # ---- one reader, requests in order
        ids = [a.request({"op": "version", "port": 3}) for _ in range(5)]
        answers = [a.answer(i) for i in ids]
        check("requests on one reader are answered in order", all(d.get("exit") == 0 for d in answers), answers)

        # ---- events
        doc = a.call({"op": "subscribe", "port": 3, "interval": 100})
        check("subscribe", doc.get("exit") == 0, doc)
        b.call({"op": "subscribe", "port": 3})
        event = a.event("powered")
        check("a card in the seat is powered and reported", event["port"] == 3 and
              event["atr"]["hex"].startswith("3B"), event)
        t1.control().remove(0)
        check("removal reaches both subscribers", a.event("removed")["where"] == "seat 0" and
              b.event("removed")["where"] == "seat 0")
        t1.control().insert(0, "bank", "profile=pboc-debit-two-sfi")
        check("insertion too", a.event("inserted")["where"] == "seat 0")
        # The head of a type-1 reader sits behind its magnetic module.
        t1.control().swipe("B4321^SERVICE^3112", "4321=3112")
        event = a.event("swipe")
        check("a swipe on a type-1 reader reaches the subscribers",
              event["where"] == "head" and event["port"] == 3 and event["track1"]["text"] == "B4321^SERVICE^3112" and
              event["track2"]["text"] == "4321=3112", event)
        # A type-0 reader's identity module is asked whether a card lies on it.
        d = WsClient(port)
        doc = d.call({"op": "subscribe", "port": 6, "type": 0, "interval": 100})
        check("subscribe to a type-0 reader", doc.get("exit") == 0, doc)
        event = d.event("empty")
        while event["where"] != "id":
            event = d.event("empty")
        check("no identity card at first", event["port"] == 6, event)
        t0.control().insert(255, "id")
        event = d.event("present")
        check("an identity card laid on the reader", event["where"] == "id" and event["port"] == 6, event)
        t0.control().remove(255)
        event = d.event("removed")
        while event["where"] != "id":
            event = d.event("removed")
        check("and taken away", event["port"] == 6, event)
        d.close()
        doc = b.call({"op": "subscribe", "port": 3, "type": 61, "baud": 115200})
        check("a reader is watched as one type only", doc.get("exit") == 0, doc)  # already subscribed: kept
        c = WsClient(port)
        doc = c.call({"op": "subscribe", "port": 3, "type": 61, "baud": 115200})
        check("another type on a watched port is refused", doc.get("exit") == 75, doc)
        doc = c.call({"op": "probe", "ports": [3]})
        check("probe leaves a watched port alone", doc.get("exit") == 2 and doc["tried"] == [] and
              [(s["com"], s["reason"]) for s in doc["skipped"]] ==
              [(3, "in use by kpdevd: a subscription watches it")], doc)
        c.close()

        # ---- request rate
        rate = WsClient(port)
        ids = [rate.request({"op": "cancel"}) for _ in range(80)]
        codes = [rate.answer(i)["exit"] for i in ids]
        check("a flood of requests is slowed down", codes.count(75) > 20 and codes.count(0) >= 40, codes)
        rate.close()

        # ---- the log holds no card data
        log = service.log()
        check("the log names what was done", "read-all COM4 exit 0" in log, log[-500:])
        check("the log holds no account number or track", "6200001234567892" not in log and TRACK2 not in log)
        a.close()
        b.close()
        p.close()
    finally:
        service.stop()

    # ---- the installation's token
    with tempfile.TemporaryDirectory() as home:
        os.environ["KPDEVD_TEST_CONFIG_HOME"] = home
        os.makedirs(os.path.join(home, "kpdevd"))
        token = "5f0c2a9d41e87b36a1c04e9f2d7b8c63"
        with open(os.path.join(home, "kpdevd", "token"), "w") as f:
            f.write(token + "\n")
        service = Service(KPDEVD, ["--require-token"], env)
        try:
            a = WsClient(service.port)
            doc = a.call({"op": "version", "port": 3})
            check("without the token nothing is done", doc.get("exit") == 77, doc)
            doc = a.call({"op": "hello", "token": token[:-1] + "0"})
            check("a wrong token is refused", doc.get("exit") == 77, doc)
            doc = a.call({"op": "hello", "token": token})
            check("the right token pairs", doc.get("exit") == 0 and doc["paired"] is True, doc)
            doc = a.call({"op": "version", "port": 3})
            check("... and the reader answers", doc.get("exit") == 0, doc)
            b = WsClient(service.port)
            for _ in range(2):
                b.call({"op": "hello", "token": "guess"})
            try:
                b.call({"op": "hello", "token": "guess"})
                b.recv(5)
                closed = False
            except (Closed, ConnectionError):
                closed = True
            check("three wrong tokens close the connection", closed)
        finally:
            service.stop()
        del os.environ["KPDEVD_TEST_CONFIG_HOME"]
    return summary()


if __name__ == "__main__":
    sys.exit(main())
