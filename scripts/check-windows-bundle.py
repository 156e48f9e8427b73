#!/usr/bin/env python3
"""Checks a Windows bundle made by build-windows.sh: the files it must hold,
the DLL's version resource (file and product version, names, original file
name) and that the MSVC import library names every export.
Usage: check-windows-bundle.py ZIP VERSION"""

import re
import struct
import sys
import zipfile

path, version = sys.argv[1], sys.argv[2]
name = path.rsplit("/", 1)[-1][: -len(".zip")]
expected = {
    name + "/" + member
    for member in ("KP_DEV.dll", "KP_DEV.def", "libKP_DEV.dll.a", "KP_DEV.lib", "kpdevd.exe", "include/kp_dev.h",
                   "README.txt")
}
bundle = zipfile.ZipFile(path)
members = {info.filename for info in bundle.infolist() if not info.is_dir()}
if members != expected:
    sys.exit("%s: holds %s, expected %s" % (path, sorted(members), sorted(expected)))

dll = bundle.read(name + "/KP_DEV.dll")
# VS_FIXEDFILEINFO: signature FEEF04BD, struct version, then the file and
# product versions as (major << 16 | minor, build << 16 | revision).
at = dll.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    sys.exit("%s: KP_DEV.dll has no version resource" % path)
file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", dll, at + 8)
parts = [int(part) for part in version.split(".")]
want = (parts[0] << 16 | parts[1], parts[2] << 16 | parts[3])
if (file_ms, file_ls) != want or (product_ms, product_ls) != want:
    sys.exit("%s: version resource says %08X.%08X, expected %s" % (path, file_ms, file_ls, version))
for key, value in (
    ("CompanyName", "The kpdev project"),
    ("ProductName", "kpdev"),
    ("OriginalFilename", "KP_DEV.dll"),
    ("FileVersion", version),
    ("ProductVersion", version),
):
    # String table entries: key, padding to 4 bytes, value, all UTF-16.
    key_text = (key + "\0").encode("utf-16-le")
    at = dll.find(key_text)
    if at < 0:
        sys.exit("%s: version resource has no %s" % (path, key))
    at += len(key_text)
    at += (4 - at % 4) % 4
    found = dll[at : at + 2 * len(value)].decode("utf-16-le", "replace")
    if found != value:
        sys.exit("%s: %s is %r, expected %r" % (path, key, found, value))

lib = bundle.read(name + "/KP_DEV.lib")
definitions = bundle.read(name + "/KP_DEV.def").decode("ascii").splitlines()
exports = [line.split()[0].split("@")[0] for line in definitions if line.startswith((" ", "\t")) and line.strip()]
# 32-bit: the caller's decorated name _Name@N, imported by the plain name.
missing = [export for export in exports if not re.search(rb"[\0_]" + export.encode("ascii") + rb"[@\0]", lib)]
if len(exports) != 102 or missing:
    sys.exit("%s: KP_DEV.lib lacks %s (of %d exports)" % (path, missing, len(exports)))
print("%s: %d files, version resource %s, MSVC import library with %d exports" % (path, len(members), version, len(exports)))
