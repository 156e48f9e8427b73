"""The virtual reader (kpdev-sim): start it, drive it, stop it.

    from kpdev.sim import VirtualReader
    import kpdev

    with VirtualReader(family="t1", port=1) as sim:     # COM1 is the reader now
        sim.insert(0, "cpu")
        with kpdev.Reader(1) as reader:
            print(reader.power_on().hex())
        sim.swipe("6222=2912")
        print(sim.traffic().host_to_device.hex())

VirtualReader points the environment variable KPDEV_COM<port> at the
reader's pseudo-terminal, so the library opens it as that COM port.

Lower level: SimProcess starts a kpdev-sim process, Control is one
connection to its control interface (one text line per request over TCP on
127.0.0.1, answered by "ok ..." or "err <reason>"), HostPort is the host's
raw end of the line.  Every failure raises SimError.  Standard library only.
"""

import os
import select
import shutil
import signal
import socket
import subprocess
import time

try:  # the host port helper needs a POSIX terminal interface
    import termios
    import tty
except ImportError:  # pragma: no cover - Windows
    termios = None
    tty = None

__all__ = ["SimError", "SimProcess", "Control", "Status", "Traffic", "HostPort", "VirtualReader", "find_executable"]


class SimError(Exception):
    """The process, the connection or a reply is not what it must be."""


class SimProcess:
    """A kpdev-sim process, started and waited for until it says 'ready'."""

    def __init__(self, executable, args=(), timeout=10.0):
        self.port_path = None
        self.control_port = None
        # Programs driving the reader want its behaviour, not its real time,
        # unless they ask for pacing themselves.
        pacing = [] if "--pacing" in args else ["--pacing", "off"]
        self._process = subprocess.Popen(
            [executable, *pacing, *args], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL
        )
        try:
            self._read_startup(executable, timeout)
        except BaseException:
            self.terminate(2.0)
            raise

    def _read_startup(self, executable, timeout):
        deadline = time.monotonic() + timeout
        stdout = self._process.stdout
        text = b""
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise SimError("no 'ready' from %s in time" % executable)
            readable, _, _ = select.select([stdout], [], [], left)
            if not readable:
                continue
            chunk = os.read(stdout.fileno(), 512)
            if not chunk:
                raise SimError("%s ended before 'ready'" % executable)
            text += chunk
            while b"\n" in text:
                line, text = text.split(b"\n", 1)
                line = line.decode("utf-8", "replace")
                if line.startswith("port "):
                    self.port_path = line[5:]
                elif line.startswith("control "):
                    self.control_port = int(line[8:])
                elif line == "ready":
                    stdout.close()
                    if not self.port_path or not self.control_port:
                        raise SimError("%s said ready without port and control" % executable)
                    return

    @property
    def pid(self):
        return self._process.pid

    def control(self, timeout=5.0):
        """A new connection to this process's control interface."""
        return Control(self.control_port, timeout)

    def terminate(self, timeout=5.0):
        """SIGTERM, then SIGKILL after `timeout`; returns the exit code."""
        if self._process.stdout and not self._process.stdout.closed:
            self._process.stdout.close()
        if self._process.poll() is None:
            self._process.send_signal(signal.SIGTERM)
            try:
                self._process.wait(timeout)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait(5.0)
        return self._process.returncode

    def wait(self, timeout):
        """Waits for the process to end by itself; its exit code or None."""
        try:
            return self._process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.terminate()


class Status(dict):
    """The key=value words of a status reply."""

    def number(self, key):
        try:
            return int(self[key])
        except KeyError:
            raise SimError("status has no '%s'" % key) from None
        except ValueError:
            raise SimError("status %s=%s is not a number" % (key, self[key])) from None


class Traffic:
    """The traffic log: ordered (tag, bytes) runs and the bytes per direction."""

    TAGS = {"H>D": "host_to_device", "D>H": "device_to_host", "H~D": "host_noise", "D~H": "device_lost"}

    def __init__(self, reply_text):
        words = reply_text.split()
        if len(words) % 2:
            raise SimError("traffic reply has an odd number of words")
        self.segments = []
        collected = {name: bytearray() for name in self.TAGS.values()}
        for tag, hex_text in zip(words[0::2], words[1::2]):
            if tag not in self.TAGS:
                raise SimError("unknown traffic tag '%s'" % tag)
            data = bytes.fromhex(hex_text)
            self.segments.append((tag, data))
            collected[self.TAGS[tag]] += data
        self.host_to_device = bytes(collected["host_to_device"])
        self.device_to_host = bytes(collected["device_to_host"])
        self.host_noise = bytes(collected["host_noise"])
        self.device_lost = bytes(collected["device_lost"])


class Control:
    """One connection to the control interface."""

    def __init__(self, port, timeout=5.0, host="127.0.0.1"):
        try:
            self._socket = socket.create_connection((host, port), timeout)
        except OSError as error:
            raise SimError("control port %s: %s" % (port, error)) from None
        self._socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self._timeout = timeout
        self._pending = b""

    def request(self, line):
        """Sends one request line; returns the reply line."""
        self._socket.sendall(line.encode("utf-8") + b"\n")
        deadline = time.monotonic() + self._timeout
        while b"\n" not in self._pending:
            left = deadline - time.monotonic()
            if left <= 0:
                raise SimError("no reply to '%s' in time" % line)
            self._socket.settimeout(left)
            try:
                chunk = self._socket.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                raise SimError("control connection closed during '%s'" % line)
            self._pending += chunk
        reply, self._pending = self._pending.split(b"\n", 1)
        return reply.decode("utf-8", "replace")

    def ok(self, line):
        """As request, but raises unless the reply is ok; returns the text after 'ok '."""
        reply = self.request(line)
        if reply == "ok":
            return ""
        if reply.startswith("ok "):
            return reply[3:]
        raise SimError("'%s' -> %s" % (line, reply))

    def status(self):
        status = Status()
        for word in self.ok("status").split():
            key, sep, value = word.partition("=")
            if not sep:
                raise SimError("bad status word '%s'" % word)
            status[key] = value
        return status

    def traffic(self):
        return Traffic(self.ok("traffic"))

    def clear(self):
        self.ok("clear")

    def fault(self, words):
        """Arms a fault, e.g. fault("nonstx"), fault("delay 900 2")."""
        self.ok("fault " + words)

    def clear_faults(self):
        self.ok("fault clear")

    def set_version(self, text):
        self.ok("version " + text)

    def set_version_bytes(self, data):
        self.ok("version-hex " + bytes(data).hex().upper())

    def set_family(self, family):
        self.ok("family " + family)

    def set_device_baud(self, baud):
        self.ok("baud %d" % baud)

    def insert(self, seat, kind, *args):
        """Puts a card in a seat, e.g. insert(0, "sle4442"), insert(255, "sector")."""
        self.ok(" ".join(["insert", str(int(seat)), kind, *args]))

    def remove(self, seat):
        self.ok("remove %d" % int(seat))

    def swipe(self, *tracks):
        """A magnetic card passes the head; tracks as the control verb takes them."""
        return self.ok(" ".join(["swipe", *tracks]))

    def quit(self):
        self.ok("quit")

    def close(self):
        self._socket.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class HostPort:
    """The host's end of the serial line, raw, for wire-level tests (POSIX)."""

    def __init__(self, path, baud):
        if termios is None:
            raise SimError("HostPort needs a POSIX terminal interface")
        self._fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            self.set_baud(baud)
            termios.tcflush(self._fd, termios.TCIOFLUSH)
        except BaseException:
            os.close(self._fd)
            raise

    def set_baud(self, baud):
        speed = getattr(termios, "B%d" % baud, None)
        if speed is None:
            raise SimError("no line speed %d" % baud)
        tty.setraw(self._fd)
        attrs = termios.tcgetattr(self._fd)
        attrs[2] |= termios.CLOCAL | termios.CREAD
        attrs[4] = attrs[5] = speed
        termios.tcsetattr(self._fd, termios.TCSANOW, attrs)

    def write(self, data):
        view = memoryview(bytes(data))
        while view:
            try:
                written = os.write(self._fd, view)
            except BlockingIOError:
                select.select([], [self._fd], [], 1.0)
                continue
            view = view[written:]

    def read(self, count, timeout):
        """Reads until `count` bytes came or `timeout` seconds passed."""
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            readable, _, _ = select.select([self._fd], [], [], left)
            if readable:
                data += os.read(self._fd, count - len(data))
        return data

    def read_until_quiet(self, quiet):
        """Reads whatever arrives until the line was quiet for `quiet` seconds."""
        data = b""
        while True:
            readable, _, _ = select.select([self._fd], [], [], quiet)
            if not readable:
                return data
            data += os.read(self._fd, 4096)

    def close(self):
        if self._fd >= 0:
            os.close(self._fd)
            self._fd = -1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def find_executable():
    """kpdev-sim: $KPDEV_SIM, beside an installed package, then the PATH."""
    own = os.environ.get("KPDEV_SIM")
    if own:
        return own
    try:
        from . import _installed

        beside = os.path.normpath(
            os.path.join(os.path.dirname(os.path.abspath(__file__)), _installed.PROGRAM_DIR, "kpdev-sim")
        )
        if os.access(beside, os.X_OK):
            return beside
    except ImportError:
        pass
    found = shutil.which("kpdev-sim")
    if not found:
        raise SimError("kpdev-sim not found (set KPDEV_SIM)")
    return found


class VirtualReader:
    """A kpdev-sim process serving as COM port `port` for the library."""

    def __init__(self, family="t1", port=1, args=(), executable=None, timeout=10.0):
        if not isinstance(port, int) or not 1 <= port <= 32:
            raise ValueError("port must be a COM number from 1 to 32")
        self.port = port
        self._variable = "KPDEV_COM%d" % port
        self._saved = os.environ.get(self._variable)
        self.process = SimProcess(executable or find_executable(), ["--family", family, *args], timeout)
        try:
            self.control = self.process.control()
        except BaseException:
            self.process.terminate(2.0)
            raise
        os.environ[self._variable] = self.process.port_path

    @property
    def port_path(self):
        return self.process.port_path

    def port_text(self, baud=9600):
        return "COM%d:%d:N:8:1" % (self.port, baud)

    def insert(self, seat, kind, *args):
        self.control.insert(seat, kind, *args)

    def remove(self, seat):
        self.control.remove(seat)

    def swipe(self, *tracks):
        return self.control.swipe(*tracks)

    def fault(self, words):
        self.control.fault(words)

    def traffic(self):
        return self.control.traffic()

    def clear(self):
        self.control.clear()

    def status(self):
        return self.control.status()

    def stop(self):
        """Ends the process and restores KPDEV_COM<port>; returns the exit code."""
        if self._saved is None:
            os.environ.pop(self._variable, None)
        else:
            os.environ[self._variable] = self._saved
        self.control.close()
        return self.process.terminate()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
