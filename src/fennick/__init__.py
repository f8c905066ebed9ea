"""Fast in-place NumPy array operations in hand-written native loops."""

from fennick.dozudiror import replace
from fennick.parallel import replace_parallel

__version__ = "0.1.0"
__all__ = ["replace", "replace_parallel", "__version__"]
