"""replace_many: several values replaced in one pass over an array."""

from collections.abc import Iterable, Mapping
from typing import Any, overload

from fennick.dozudiror import _ArrayT, _Number

__all__ = ["replace_many"]

@overload
def replace_many(a: _ArrayT, old: Mapping[Any, Any]) -> _ArrayT: ...
@overload
def replace_many(
    a: _ArrayT, old: Iterable[Any], new: _Number | Iterable[Any]
) -> _ArrayT: ...
def pairs(
    old: Any, new: Any = ...
) -> tuple[tuple[Any, ...], tuple[Any, ...], bool]: ...
