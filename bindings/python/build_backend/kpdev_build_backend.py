"""The build backend of the kpdev package (PEP 517), standard library only.

A pip that isolates the build installs what [build-system] requires first;
requiring nothing, this backend builds offline everywhere.  It makes a pure
Python wheel of the kpdev/ directory and an sdist of the project.  The
version is the one kpdev/__init__.py declares.  The config setting
"prefix" (or the environment variable KPDEV_PREFIX at build time) names
the installation prefix of the C library; it is written into the wheel as
kpdev/_build_prefix.py for the package to look there.
"""

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_NAME = "kpdev"
_SUMMARY = "Python interface to the KP_DEV card reader library and its virtual reader"
_REQUIRES_PYTHON = ">=3.8"
_TAG = "py3-none-any"
# Fixed time stamps keep the archives the same from build to build.
_EPOCH = (2015, 5, 3, 0, 0, 0)


def _version():
    with open(os.path.join(_ROOT, _NAME, "__init__.py"), encoding="utf-8") as source:
        found = re.search(r'^__version__ = "([^"]+)"', source.read(), re.M)
    if found is None:
        raise RuntimeError("kpdev/__init__.py declares no __version__")
    return found.group(1)


def _metadata():
    return (
        "Metadata-Version: 2.1\n"
        "Name: %s\n"
        "Version: %s\n"
        "Summary: %s\n"
        "Requires-Python: %s\n" % (_NAME, _version(), _SUMMARY, _REQUIRES_PYTHON)
    ).encode("utf-8")


def _sources():
    """The package's modules: (path inside the package directory, bytes)."""
    package = os.path.join(_ROOT, _NAME)
    for name in sorted(os.listdir(package)):
        if name.endswith(".py") and name != "_build_prefix.py":
            with open(os.path.join(package, name), "rb") as source:
                yield name, source.read()


def _prefix(config_settings):
    prefix = (config_settings or {}).get("prefix") or os.environ.get("KPDEV_PREFIX", "")
    if isinstance(prefix, list):  # a setting given more than once: the last counts
        prefix = prefix[-1]
    return os.path.abspath(prefix) if prefix else ""


def _dist_info():
    return "%s-%s.dist-info" % (_NAME, _version())


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return "%s,sha256=%s,%d\n" % (path, digest, len(data))


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    directory = os.path.join(metadata_directory, _dist_info())
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "METADATA"), "wb") as out:
        out.write(_metadata())
    return _dist_info()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    name = "%s-%s-%s.whl" % (_NAME, _version(), _TAG)
    files = [("%s/%s" % (_NAME, path), data) for path, data in _sources()]
    prefix = _prefix(config_settings)
    if prefix:
        text = "# Written when the package was built: the prefix the C library was installed into.\n"
        text += "PREFIX = %r\n" % prefix
        files.append(("%s/_build_prefix.py" % _NAME, text.encode("utf-8")))
    info = _dist_info()
    files.append(("%s/METADATA" % info, _metadata()))
    wheel = "Wheel-Version: 1.0\nGenerator: kpdev_build_backend\nRoot-Is-Purelib: true\nTag: %s\n" % _TAG
    files.append(("%s/WHEEL" % info, wheel.encode("ascii")))
    record = "".join(_record_line(path, data) for path, data in files) + "%s/RECORD,,\n" % info
    files.append(("%s/RECORD" % info, record.encode("utf-8")))
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as archive:
        for path, data in files:
            entry = zipfile.ZipInfo(path, _EPOCH)
            entry.external_attr = 0o644 << 16
            archive.writestr(entry, data, zipfile.ZIP_DEFLATED)
    return name


def build_sdist(sdist_directory, config_settings=None):
    base = "%s-%s" % (_NAME, _version())
    name = base + ".tar.gz"
    members = [("PKG-INFO", _metadata())]
    for path in ("pyproject.toml", "build_backend/kpdev_build_backend.py"):
        with open(os.path.join(_ROOT, path), "rb") as source:
            members.append((path, source.read()))
    members += [("%s/%s" % (_NAME, path), data) for path, data in _sources()]
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz", format=tarfile.PAX_FORMAT) as archive:
        for path, data in members:
            entry = tarfile.TarInfo("%s/%s" % (base, path))
            entry.size = len(data)
            entry.mode = 0o644
            archive.addfile(entry, io.BytesIO(data))
    return name
