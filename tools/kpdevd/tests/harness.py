"""What the kpdevd tests share: the service and virtual readers as child
processes, raw HTTP requests, and a small WebSocket client that sends
whatever headers a test wants (a browser would not let a page forge them)."""

import base64
import json
import os
import socket
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "bindings", "python"))
from kpdev.sim import Control, SimProcess  # noqa: E402


failures = []


def check(name, condition, detail=""):
    """One named expectation: printed, and remembered when it fails."""
    print("%s %s%s" % ("ok  " if condition else "FAIL", name, (": " + str(detail)) if not condition else ""))
    if not condition:
        failures.append(name)


def summary():
    """The exit status: 1 when a check failed."""
    if failures:
        print("%d failed: %s" % (len(failures), ", ".join(failures)))
        return 1
    print("all passed")
    return 0


class Closed(Exception):
    def __init__(self, code):
        super().__init__("closed (%s)" % code)
        self.code = code


class Service:
    """kpdevd on a free port; `env` adds to the environment (KPDEV_COM<n>).
    `executable` may be a command list (a loader and the program)."""

    def __init__(self, executable, args=(), env=None):
        command = list(executable) if isinstance(executable, (list, tuple)) else [executable]
        environment = dict(os.environ)
        environment.update(env or {})
        # A configuration of the user's must not change what is tested.
        environment["XDG_CONFIG_HOME"] = environment.get("KPDEVD_TEST_CONFIG_HOME", "/nonexistent")
        self.log_path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "kpdevd-test-%d.log" % os.getpid())
        self._log = open(self.log_path, "w+b")
        self.process = subprocess.Popen([*command, "--port", "0", *args], stdout=subprocess.PIPE,
                                        stderr=self._log, stdin=subprocess.DEVNULL, env=environment)
        line = self.process.stdout.readline().decode()
        if not line.startswith("listening on http://127.0.0.1:"):
            self.stop()
            raise RuntimeError("kpdevd did not start: %r; log: %s" % (line, self.log()))
        self.port = int(line.rsplit(":", 1)[1].strip().rstrip("/"))
        self.origin = "http://127.0.0.1:%d" % self.port

    def log(self):
        self._log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._log.close()
        if os.path.exists(self.log_path):
            os.unlink(self.log_path)
        return self.process.returncode


def sim_reader(sim_exe, family, baud=9600, inserts=()):
    args = ["--family", family, "--device-baud", str(baud)]
    for words in inserts:
        args += ["--insert", words]
    return SimProcess(sim_exe, args)


def http_get(port, path, headers=None, timeout=10):
    """(status, headers as a dict of lower-case names, body)."""
    given = {"Host": "127.0.0.1:%d" % port, "Connection": "close"}
    given.update(headers or {})
    lines = ["GET %s HTTP/1.1" % path] + ["%s: %s" % kv for kv in given.items() if kv[1] is not None]
    with socket.create_connection(("127.0.0.1", port), timeout) as s:
        s.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    head_lines = head.decode("latin-1").split("\r\n")
    status = int(head_lines[0].split()[1])
    names = {}
    for line in head_lines[1:]:
        name, _, value = line.partition(":")
        names[name.strip().lower()] = value.strip()
    return status, names, body


class WsClient:
    def __init__(self, port, host=None, origin=None, path="/ws", timeout=15):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout)
        self.buffer = b""
        self.events = []
        self.next_id = 1
        key = base64.b64encode(os.urandom(16)).decode()
        lines = ["GET %s HTTP/1.1" % path, "Host: %s" % (host or "127.0.0.1:%d" % port), "Upgrade: websocket",
                 "Connection: Upgrade", "Sec-WebSocket-Key: " + key, "Sec-WebSocket-Version: 13"]
        if origin:
            lines.append("Origin: " + origin)
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        while b"\r\n\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            self.buffer += chunk
        head, _, self.buffer = self.buffer.partition(b"\r\n\r\n")
        first = head.split(b"\r\n", 1)[0].decode("latin-1")
        self.status = int(first.split()[1]) if first else 0

    def close(self):
        self.sock.close()

    def _take(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise Closed(None)
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def send_frame(self, opcode, payload):
        header = bytes([0x80 | opcode])
        n = len(payload)
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", n)
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(header + mask + masked)

    def send_text(self, text):
        self.send_frame(0x1, text.encode())

    def recv(self, timeout=15):
        """The next text message; raises Closed when the service closes."""
        self.sock.settimeout(timeout)
        while True:
            b0, b1 = self._take(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._take(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._take(8))[0]
            payload = self._take(n)
            opcode = b0 & 0x0F
            if opcode == 0x8:
                raise Closed(struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else None)
            if opcode == 0x9:
                self.send_frame(0xA, payload)
                continue
            if opcode == 0x1:
                return payload.decode()

    def request(self, obj):
        obj = dict(obj)
        obj.setdefault("id", self.next_id)
        self.next_id += 1
        self.send_text(json.dumps(obj))
        return obj["id"]

    def answer(self, request_id, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no answer to request %r" % request_id)
            doc = json.loads(self.recv(left))
            if "command" in doc or "error" in doc:
                if doc.get("id") == request_id:
                    return doc
            else:
                self.events.append(doc)

    def call(self, obj, timeout=30):
        return self.answer(self.request(obj), timeout)

    def event(self, name, timeout=15):
        """Waits for an event called `name`; returns it."""
        deadline = time.monotonic() + timeout
        while True:
            for i, e in enumerate(self.events):
                if e.get("event") == name:
                    return self.events.pop(i)
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no %s event; got %r" % (name, self.events))
            doc = json.loads(self.recv(left))
            if "event" in doc:
                self.events.append(doc)
