"""replace and replace_many for dask arrays: every block a replaced copy."""

from collections.abc import Iterable, Mapping
from typing import Any, overload

import dask.array as da

from fennick.dozudiror import _Number

__all__ = ["replace", "replace_many"]

def replace(x: da.Array, old: _Number, new: _Number) -> da.Array: ...
@overload
def replace_many(x: da.Array, old: Mapping[Any, Any]) -> da.Array: ...
@overload
def replace_many(
    x: da.Array, old: Iterable[Any], new: _Number | Iterable[Any]
) -> da.Array: ...
