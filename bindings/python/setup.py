"""The kpdev Python package: pure Python over ctypes.  Installs offline:
pip install ./bindings/python  (the library itself comes from the C build)."""

from setuptools import setup

setup(
    name="kpdev",
    version="2.0.0.2",
    description="Python interface to the KP_DEV card reader library and its virtual reader",
    packages=["kpdev"],
    python_requires=">=3.8",
)
