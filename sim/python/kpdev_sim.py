"""The simulator client now lives in the Python package kpdev (kpdev.sim);
this module keeps `from kpdev_sim import SimProcess` working."""

import os
import sys

try:
    from kpdev.sim import *  # noqa: F401,F403
    from kpdev.sim import __all__  # noqa: F401
except ImportError:
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bindings", "python"))
    from kpdev.sim import *  # noqa: F401,F403
    from kpdev.sim import __all__  # noqa: F401
