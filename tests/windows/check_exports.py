#!/usr/bin/env python3
"""Checks the export table of a built KP_DEV.dll: the 102 undecorated names at
their ordinals and nothing else, the two alias pairs on one entry each and
every other name on its own; in a 32-bit DLL every return of an export pops
4 bytes per argument (__stdcall), and the import library (--implib) holds
the decorated names a __stdcall caller references; no MinGW runtime DLL is
needed.  Prints each failed check and "N passed, N failed"; exit status 1
when any failed.
"""

import argparse
import re
import shutil
import subprocess
import sys

# (name, ordinal, number of 32-bit arguments), in ordinal order.
EXPORTS = [
    ("KP_DEV_GetDllVersion", 1, 1),
    ("KP_DEV_OpenDevice", 2, 3),
    ("KP_DEV_CloseDevice", 3, 1),
    ("KP_DEV_SetDeviceModule", 4, 2),
    ("KP_DEV_IC_SoftReset", 5, 2),
    ("KP_DEV_IC_GetStatus", 6, 3),
    ("KP_DEV_IC_PowerOn", 7, 4),
    ("KP_DEV_IC_PowerOff", 8, 2),
    ("KP_DEV_IC_ConnectlessActive", 9, 6),
    ("KP_DEV_IC_ConnectlessHalt", 10, 1),
    ("KP_DEV_IC_SendApdu", 11, 6),
    ("KP_DEV_IC_SetCardType", 12, 3),
    ("KP_DEV_IC_GetCardType", 13, 3),
    ("KP_DEV_IC_InitializeKey", 14, 3),
    ("KP_DEV_IC_VerifyPwd", 15, 3),
    ("KP_DEV_IC_ReadStoreData", 16, 5),
    ("KP_DEV_IC_WriteStoreData", 17, 4),
    ("KP_DEV_IC_ConnectlessActiveStoreCard", 18, 6),
    ("KP_DEV_IC_ConnectlessCertifySector", 19, 4),
    ("KP_DEV_IC_ConnectlessReadBlock", 20, 5),
    ("KP_DEV_IC_ConnectlessWriteBlock", 21, 4),
    ("KP_DEV_IC_ConnectlessReadValueBlock", 22, 4),
    ("KP_DEV_IC_ConnectlessWriteValueBlock", 23, 4),
    ("KP_DEV_IC_ConnectlessIncrease", 24, 4),
    ("KP_DEV_IC_ConnectlessDecrease", 25, 4),
    ("KP_DEV_IC_ConnectlessWriteKey", 26, 4),
    ("KP_DEV_Magnetic_Reset", 27, 1),
    ("KP_DEV_Magnetic_Accept", 28, 1),
    ("KP_DEV_Magnetic_CancelAccept", 29, 1),
    ("KP_DEV_Magnetic_ReadTrack", 30, 3),
    ("KP_DEV_Magnetic_WaitForWriteTrack", 31, 3),
    ("KP_DEV_Magnetic_ConfirmWriteTrack", 32, 1),
    ("KP_DEV_Magnetic_CancelWriteTrack", 33, 1),
    ("KP_AscToBcd", 34, 2),
    ("KP_BcdToAsc", 35, 2),
    ("KP_DEV_CheckIsOpen", 36, 2),
    ("KP_DEV_ReadFinanceICTrack2", 37, 4),
    ("KP_DEV_ReadAll", 38, 13),
    ("KP_DEV_CancelReadAll", 39, 0),
    ("KP_DEV_ReadICCardInfo", 40, 6),
    ("KP_DEV_GetICTraceInfo", 41, 7),
    ("KP_DEV_IC_Voice", 42, 2),
    ("KP_DEV_IC_SendApdu_A", 43, 6),
    ("KP_DEV_ReadICCardGPOData", 44, 5),
    ("ICCardFindSubStr", 45, 3),
    ("KP_DEV_AutoOpenDevice", 46, 4),
    ("KP_DEV_IC_SetBaudRate", 47, 3),
    ("KP_DEV_ReadAll_A", 48, 13),
    ("KP_DEV_IC_VerifyPwdEXAT102", 49, 4),
    ("KP_DEV_IC_VerifyPwdEXAT1604", 50, 4),
    ("KP_DEV_IC_VerifyPwdEXAT1608", 51, 4),
    ("KP_DEV_IC_ReadStoreDataEXAT1608", 52, 6),
    ("KP_DEV_IC_WriteStoreDataEXAT1608", 53, 5),
    ("KP_DEV_SLE4428_VerifyPwd", 54, 3),
    ("KP_DEV_SLE4428_ModifyPwd", 55, 3),
    ("KP_DEV_SLE4428_ReadERROR", 56, 3),
    ("KP_DEV_SLE4428_ReadData", 57, 7),
    ("KP_DEV_SLE4428_WriteData", 58, 5),
    ("KP_DEV_SLE4442_VerifyPwd", 59, 3),
    ("KP_DEV_SLE4442_ModifyPwd", 60, 3),
    ("KP_DEV_SLE4442_ReadERROR", 61, 3),
    ("KP_DEV_SLE4442_ReadDataForUser", 62, 5),
    ("KP_DEV_SLE4442_WriteDataForUser", 63, 4),
    ("KP_DEV_SLE4442_ReadDataForProtection", 64, 5),
    ("KP_DEV_SLE4442_WriteDataForProtection", 65, 4),
    ("KP_DEV_AT24CXX_ReadData", 66, 5),
    ("KP_DEV_AT24CXX_WriteData", 67, 4),
    ("KP_DEV_GetDeviceVersion", 68, 2),
    ("KP_DEV_AT88SC102_Fuse", 69, 2),
    ("KP_DEV_AT88SC102_VerifyPwd", 70, 4),
    ("KP_DEV_AT88SC102_ModifyPwd", 71, 4),
    ("KP_DEV_AT88SC102_ReadERROR", 72, 4),
    ("KP_DEV_AT88SC102_ReadData", 73, 5),
    ("KP_DEV_AT88SC102_WriteData", 74, 4),
    ("KP_DEV_AT88SC1604_Fuse", 75, 2),
    ("KP_DEV_AT88SC1604_VerifyPwd", 76, 4),
    ("KP_DEV_AT88SC1604_ModifyPwd", 77, 4),
    ("KP_DEV_AT88SC1604_ReadERROR", 78, 4),
    ("KP_DEV_AT88SC1604_ReadData", 79, 5),
    ("KP_DEV_AT88SC1604_WriteData", 80, 4),
    ("KP_DEV_AT88SC1608_Fuse", 81, 2),
    ("KP_DEV_AT88SC1608_VerifyPwd", 82, 5),
    ("KP_DEV_AT88SC1608_ModifyPwd", 83, 5),
    ("KP_DEV_AT88SC1608_ReadERROR", 84, 5),
    ("KP_DEV_AT88SC1608_ReadData", 85, 6),
    ("KP_DEV_AT88SC1608_WriteData", 86, 5),
    ("KP_DEV_AT45DB041_ReadData", 87, 6),
    ("KP_DEV_AT45DB041_WriteData", 88, 5),
    ("KP_DEV_ID_FindID", 89, 1),
    ("KP_DEV_ID_GetData", 90, 3),
    ("KP_DEV_ID_Read", 91, 3),
    ("KP_DEV_SetBaudRate", 92, 2),
    ("KP_DEV_SLE4428_ReadPwd", 93, 3),
    ("KP_DEV_SLE4442_ReadPwd", 94, 3),
    ("KP_DEV_AT88SC102_ReadPwd", 95, 4),
    ("KP_DEV_AT88SC1604_ReadPwd", 96, 4),
    ("KP_DEV_AT88SC1608_ReadPwd", 97, 5),
    ("KP_DEV_AT88SC1608_InitAuthenticationCard", 98, 3),
    ("KP_DEV_AT88SC1608_AuthenticationCard", 99, 3),
    ("KP_DEV_AT88SC1608_ReadFuse", 100, 3),
    ("KP_DEV_AT88SC102_ClearData", 101, 4),
    ("KP_DEV_AT88SC102_CWriteData", 102, 4),
]

# Each alias and the name whose entry it shares.
ALIASES = {
    "KP_DEV_IC_VerifyPwdEXAT102": "KP_DEV_IC_VerifyPwdEXAT1608",
    "KP_DEV_Magnetic_CancelWriteTrack": "KP_DEV_Magnetic_CancelAccept",
}

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
    args = parser.parse_args()

    objdump = args.objdump or shutil.which("i686-w64-mingw32-objdump") or "objdump"
    headers = run(objdump, "-p", args.dll)
    fmt = re.search(r"file format (\S+)", headers)
    is32 = fmt is not None and fmt.group(1) == "pei-i386"
    checks = Checks()

    base, rvas, names = parse_exports(headers)
    checks.expect(base == 1, "ordinal base is %s, not 1" % base)
    expected_names = {name for name, _, _ in EXPORTS}
    for name in sorted(set(names) - expected_names):
        checks.expect(False, "unexpected export %s" % name)
    checks.expect(len(rvas) == len(EXPORTS), "%d entries in the address table, not %d" % (len(rvas), len(EXPORTS)))

    for name, ordinal, _ in EXPORTS:
        got = names.get(name)
        checks.expect(got == ordinal, "%s: ordinal %s, expected %d" % (name, got, ordinal))

    by_name = {name: rvas.get(ordinal) for name, ordinal, _ in EXPORTS}
    for alias, target in ALIASES.items():
        checks.expect(by_name[alias] is not None and by_name[alias] == by_name[target],
                      "%s does not share the entry of %s" % (alias, target))
    owners = {}
    for name, _, _ in EXPORTS:
        if name in ALIASES or by_name[name] is None:
            continue
        owners.setdefault(by_name[name], []).append(name)
    for rva, sharing in owners.items():
        checks.expect(len(sharing) == 1, "entry %#x shared by %s" % (rva, ", ".join(sharing)))
    checks.expect(len(owners) == len(EXPORTS) - len(ALIASES),
                  "%d distinct entries, expected %d" % (len(owners), len(EXPORTS) - len(ALIASES)))

    for dll in re.findall(r"DLL Name: (\S+)", headers):
        checks.expect(not RUNTIME_DLL.match(dll), "needs the runtime DLL %s" % dll)

    if is32:
        image_base = int(re.search(r"ImageBase\s+([0-9a-fA-F]+)", headers).group(1), 16)
        blocks = parse_functions(run(objdump, "-d", "--no-show-raw-insn", args.dll))
        for name, ordinal, argc in EXPORTS:
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
            for name, _, argc in EXPORTS:
                decorated = "__imp__%s@%d" % (name, 4 * argc)
                checks.expect(decorated in symbols, "import library lacks %s" % decorated)

    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
