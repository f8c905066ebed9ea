"""replace for dask arrays: every block a replaced copy."""

import dask.array as da

from fennick.dozudiror import _Number

__all__ = ["replace"]

def replace(x: da.Array, old: _Number, new: _Number) -> da.Array: ...
