"""replace_many: several values replaced in one pass over an array."""

from collections.abc import Iterable, Mapping
from typing import Any, overload

from numpy.typing import NDArray

from fennick.dozudiror import _ArrayT, _Number

__all__ = ["replace_many"]

@overload
def replace_many(a: _ArrayT, old: Mapping[Any, Any]) -> _ArrayT: ...
@overload
def replace_many(
    a: _ArrayT, old: Iterable[Any], new: _Number | Iterable[Any]
) -> _ArrayT: ...

# (olds, news, pairwise): a list's values as a tuple, or a 1-d numeric
# array's as a copy of it.
def _pairs(
    old: Any, new: Any = ...
) -> tuple[
    tuple[Any, ...] | NDArray[Any], tuple[Any, ...] | NDArray[Any], bool
]: ...
