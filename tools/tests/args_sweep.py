#!/usr/bin/env python3
"""Every option and positional argument of every kpdev subcommand, given
values a script or a user may pass by mistake (bytes that are not UTF-8,
control characters, empty, negative, huge, very long text): kpdev must end
with a code of its exit-code table, and with --json print one JSON document
whose "exit" is that code.  No reader is reached: every COM port names a
device that does not exist, so a value that passes its checks ends with 2.
The --sim-* options run against a virtual reader.

Usage: args_sweep.py KPDEV KPDEV_SIM [--sample N]
  --sample N  only every Nth command line (the sanitizer builds, where each
              run of kpdev costs many times more)"""

import concurrent.futures
import json
import os
import re
import subprocess
import sys

KPDEV, SIM = sys.argv[1], sys.argv[2]
SAMPLE = int(sys.argv[4]) if len(sys.argv) > 4 and sys.argv[3] == "--sample" else 1
EXIT_CODES = {0, 1, 2, 3, 4, 5, 64, 130}
WEIRD = [b"\xff\xfe", b"1\xff", b"", b"-1", b"99999999999999999999", b"A" * 4000, b"\x01\n\t", b"0x", "\u00e9".encode()]
# Values that pass, for the options a subcommand requires.
GOOD = {"--chip": "sle4442", "--length": "4", "--data": "11223344", "--pwd": "FFFFFF", "--sector": "1",
        "--block": "0", "--key": "FFFFFFFFFFFF", "--new-key": "FFFFFFFFFFFF", "--amount": "1.00", "apdu": "00A4040000"}
# Shared by every subcommand that opens a reader: swept on one of them.
SHARED = {"--port", "--type", "--baud", "--seat"}
# Commands that wait until Ctrl-C, whatever happens: still running at the
# end of their time is no failure.
ENDLESS = {("watch",), ("probe",)}

ENV = dict(os.environ, KPDEV_SIM=SIM, KPDEV_LOG="off")
for n in range(1, 33):
    ENV["KPDEV_COM%d" % n] = "/nonexistent/kpdev-sweep-tty%d" % n


def help_of(words):
    return subprocess.run([KPDEV, *words, "--help"], capture_output=True, env=ENV, check=True).stdout.decode()


def leaves(words=()):
    text = help_of(list(words))
    subs = re.findall(r"^  ([a-z][a-z0-9-]*)\s", text.split("Subcommands:", 1)[1], re.M) if "Subcommands:" in text else []
    if not subs:
        return [tuple(words)]
    return [leaf for sub in subs for leaf in leaves(words + (sub,))]


def arguments_of(words):
    """[(name, takes a value, required)] of a leaf: options and positionals."""
    text = help_of(list(words))
    found = []
    for line in text.splitlines():
        m = re.match(r"^  (?:-\w,)?(--[a-z0-9-]+)( \S+)?", line)
        if m and m.group(1) not in ("--help",):
            found.append((m.group(1), m.group(2) is not None, "REQUIRED" in line))
        m = re.match(r"^  ([a-z]\w*) TEXT", line)
        if m and "Positionals:" in text:
            found.append((m.group(1), True, "REQUIRED" in line))
    return found


def run(argv, endless):
    try:
        done = subprocess.run([KPDEV, *argv], capture_output=True, env=ENV, timeout=5 if endless else 60)
    except subprocess.TimeoutExpired:
        return None if endless else "did not end within 60 s"
    if done.returncode not in EXIT_CODES:
        return "exit %d (%s)" % (done.returncode, done.stderr.decode("utf-8", "replace").strip()[-300:])
    if "--json" in argv:
        try:
            lines = done.stdout.decode("utf-8").strip().splitlines()
            document = json.loads(lines[-1] if lines and lines[-1].startswith("{\"") else done.stdout.decode())
        except (UnicodeDecodeError, ValueError, IndexError) as error:
            return "exit %d, stdout is not one UTF-8 JSON document (%s): %r" % (done.returncode, error,
                                                                             done.stdout[:200])
        if document.get("exit") != done.returncode:
            return "exit %d, the document says %r" % (done.returncode, document.get("exit"))
    return None


def cases():
    swept_shared = False
    for leaf in leaves():
        args = arguments_of(leaf)
        base = []
        positional = []
        for name, value, required in args:
            if required:
                if name not in GOOD:
                    raise SystemExit("args_sweep: no value that passes for %s of kpdev %s" % (name, " ".join(leaf)))
                (positional if not name.startswith("-") else base).extend(
                    [GOOD[name]] if not name.startswith("-") else [name, GOOD[name]])
        share = not swept_shared and any(name == "--seat" for name, _, _ in args)
        swept_shared = swept_shared or share
        for name, value, _ in args:
            if not value or (name in SHARED and not share):
                continue
            sim = name.startswith("--sim-")
            for weird in WEIRD:
                words = [w for w in base]
                if name.startswith("-"):
                    if name in words:
                        words[words.index(name) + 1] = weird
                    else:
                        words += [name, weird]
                    words += positional
                else:
                    words += [weird]
                prefix = ["--json"] + (["--sim", "--sim-arg=--pacing", "--sim-arg=off"] if sim else [])
                yield [*prefix, *leaf, *words], leaf in ENDLESS
                if weird[:1] == b"\xff" and not sim:
                    yield [*leaf, *words], leaf in ENDLESS
    for weird in WEIRD:
        yield ["--json", "--sim", "--sim-arg", weird, "version"], False
        yield ["--json", weird], False


def main():
    failures = 0
    count = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        chosen = [case for number, case in enumerate(cases()) if number % SAMPLE == 0]
        futures = {pool.submit(run, argv, endless): argv for argv, endless in chosen}
        for future in concurrent.futures.as_completed(futures):
            count += 1
            problem = future.result()
            if problem:
                failures += 1
                print("FAIL: kpdev %s: %s" % (b" ".join(w if isinstance(w, bytes) else w.encode()
                                                       for w in futures[future])[:300], problem))
    print("%d command lines, %d failed" % (count, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
