"""The tests run against the package in the source tree unless an installed
one comes first on PYTHONPATH; the library and kpdev-sim come from the
environment (KPDEV_LIBRARY, KPDEV_SIM) or from beside an installed package."""

import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.append(os.path.dirname(here))
