"""Fast in-place NumPy array operations in hand-written native loops."""

from importlib.metadata import version as _version

from fennick.copying import replaced, replaced_many
from fennick.dozudiror import replace
from fennick.many import replace_many
from fennick.parallel import replace_many_parallel, replace_parallel

# The one version is meson.build's; the installed metadata carries it.
__version__ = _version("fennick")
__all__ = [
    "replace",
    "replace_many",
    "replaced",
    "replaced_many",
    "replace_parallel",
    "replace_many_parallel",
    "__version__",
]
