#!/usr/bin/env python3
"""Checks the export table of a built KP_DEV.dll against src/api/exports.tsv:
the undecorated names at their ordinals and nothing else, the two alias
pairs on one entry each and every other name on its own; in a 32-bit DLL every return of an export pops
4 bytes per argument (__stdcall), and the import library (--implib) holds
the decorated names a __stdcall caller references; no MinGW runtime DLL is
needed.  Prints each failed check and "N passed, N failed"; exit status 1
when any failed.
"""

import argparse
import importlib.util
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def read_table(path):
    """(name, ordinal, number of 32-bit arguments) in ordinal order, and
    {alias: name whose entry it shares}, from the export table."""
    spec = importlib.util.spec_from_file_location(
        "kpdev_table", os.path.join(ROOT, "bindings", "python", "kpdev", "_table.py"))
    table = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(table)
    with open(path, encoding="utf-8") as f:
        exports = table.parse(f.read())
    return ([(e.name, e.ordinal, len(e.arguments)) for e in exports],
            {e.name: e.entry for e in exports if e.entry is not None})


# Runtime DLLs of the MinGW toolchain that a deployed KP_DEV.dll must not need.
RUNTIME_DLL = re.compile(r"^(libgcc|libstdc\+\+|libwinpthread|libssp|libatomic)", re.IGNORECASE)


class Checks:
    passed = 0
    failed = 0

    def expect(self, ok, what):
        self.passed += bool(ok)
        self.failed += not ok
        if not ok:
            print("FAIL: " + what)


def run(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def parse_exports(headers):
    """Ordinal base, {ordinal: rva} and {name: ordinal} from objdump -p."""
    base_match = re.search(r"Export Address Table -- Ordinal Base (\d+)", headers)
    base = int(base_match.group(1)) if base_match else None
    rvas = {}
    names = {}
    section = None
    for line in headers.splitlines():
        if line.startswith("Export Address Table --"):
            section = "addresses"
            continue
        if line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
            continue
        if not line.strip():
            section = None
            continue
        if section == "addresses":
            m = re.match(r"\s*\[\s*(\d+)\]\s+\+base\[\s*(\d+)\]\s+([0-9a-fA-F]+)\s+Export RVA", line)
            if m:
                rvas[int(m.group(2))] = int(m.group(3), 16)
        elif section == "names":
            m = re.match(r"\s*\[\s*(\d+)\]\s+(\S+)", line)
            if m and base is not None:
                if m.group(2) in names:
                    names[m.group(2)] = -1  # a name exported twice is an error of its own
                else:
                    names[m.group(2)] = int(m.group(1)) + base
    return base, rvas, names


def parse_functions(disassembly):
    """{address: [return instructions]} for every labelled block of code."""
    blocks = {}
    current = None
    for line in disassembly.splitlines():
        m = re.match(r"^([0-9a-f]+) <[^>]*>:$", line)
        if m:
            current = blocks.setdefault(int(m.group(1), 16), [])
            continue
        if current is None:
            continue
        m = re.match(r"^\s*[0-9a-f]+:\s+(ret[lwq]?)\b\s*(\$0x[0-9a-f]+)?", line)
        if m:
            current.append(int(m.group(2)[3:], 16) if m.group(2) else 0)
    return blocks


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dll")
    parser.add_argument("--objdump", default=None)
    parser.add_argument("--nm", default=None)
    parser.add_argument("--implib", default=None)
    parser.add_argument("--table", default=os.path.join(ROOT, "src", "api", "exports.tsv"))
    args = parser.parse_args()
    exports, aliases = read_table(args.table)

    objdump = args.objdump or shutil.which("i686-w64-mingw32-objdump") or "objdump"
    headers = run(objdump, "-p", args.dll)
    fmt = re.search(r"file format (\S+)", headers)
    is32 = fmt is not None and fmt.group(1) == "pei-i386"
    checks = Checks()

    base, rvas, names = parse_exports(headers)
    checks.expect(base == 1, "ordinal base is %s, not 1" % base)
    expected_names = {name for name, _, _ in exports}
    for name in sorted(set(names) - expected_names):
        checks.expect(False, "unexpected export %s" % name)
    checks.expect(len(rvas) == len(exports), "%d entries in the address table, not %d" % (len(rvas), len(exports)))

    for name, ordinal, _ in exports:
        got = names.get(name)
        checks.expect(got == ordinal, "%s: ordinal %s, expected %d" % (name, got, ordinal))

    by_name = {name: rvas.get(ordinal) for name, ordinal, _ in exports}
    for alias, target in aliases.items():
        checks.expect(by_name[alias] is not None and by_name[alias] == by_name[target],
                      "%s does not share the entry of %s" % (alias, target))
    owners = {}
    for name, _, _ in exports:
        if name in aliases or by_name[name] is None:
            continue
        owners.setdefault(by_name[name], []).append(name)
    for rva, sharing in owners.items():
        checks.expect(len(sharing) == 1, "entry %#x shared by %s" % (rva, ", ".join(sharing)))
    checks.expect(len(owners) == len(exports) - len(aliases),
                  "%d distinct entries, expected %d" % (len(owners), len(exports) - len(aliases)))

    for dll in re.findall(r"DLL Name: (\S+)", headers):
        checks.expect(not RUNTIME_DLL.match(dll), "needs the runtime DLL %s" % dll)

    if is32:
        image_base = int(re.search(r"ImageBase\s+([0-9a-fA-F]+)", headers).group(1), 16)
        blocks = parse_functions(run(objdump, "-d", "--no-show-raw-insn", args.dll))
        for name, ordinal, argc in exports:
            rva = rvas.get(ordinal)
            if rva is None:
                continue
            returns = blocks.get(image_base + rva)
            checks.expect(bool(returns), "%s: no labelled code with a return at its entry" % name)
            if returns:
                bad = sorted({n for n in returns if n != 4 * argc})
                checks.expect(not bad, "%s: returns popping %s bytes, expected %d" % (name, bad, 4 * argc))

        if args.implib:
            nm = args.nm or shutil.which("i686-w64-mingw32-nm") or "nm"
            symbols = set(re.findall(r"\s(\S+)$", run(nm, args.implib), re.MULTILINE))
            for name, _, argc in exports:
                decorated = "__imp__%s@%d" % (name, 4 * argc)
                checks.expect(decorated in symbols, "import library lacks %s" % decorated)

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
