"""Fast in-place NumPy array operations in hand-written native loops."""

from fennick.dozudiror import replace

__version__ = "0.1.0"
__all__ = ["replace", "__version__"]
