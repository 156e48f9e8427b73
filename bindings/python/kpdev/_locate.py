"""Where an installed library may be, besides the loader's own search.

The prefix recorded when the package was built (pip's config setting
"prefix", see pyproject.toml), then the virtual environment's own prefix:
`cmake --install build --prefix "$VIRTUAL_ENV"` puts the library there,
where the system's loader does not look.
"""

import os
import sys
import sysconfig


def _library_dirs(prefix):
    multiarch = sysconfig.get_config_var("MULTIARCH")
    dirs = [os.path.join(prefix, "lib")]
    if multiarch:
        dirs.append(os.path.join(prefix, "lib", multiarch))
    dirs.append(os.path.join(prefix, "lib64"))
    return dirs


def prefixes():
    found = []
    try:
        from . import _build_prefix

        found.append(_build_prefix.PREFIX)
    except ImportError:
        pass
    if sys.prefix != getattr(sys, "base_prefix", sys.prefix):
        found.append(sys.prefix)
    return found


def library_paths(file_name):
    """Absolute paths of `file_name` under the known prefixes that exist."""
    for prefix in prefixes():
        for directory in _library_dirs(prefix):
            path = os.path.join(directory, file_name)
            if os.path.exists(path):
                yield path
