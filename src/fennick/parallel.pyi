"""replace on several cores: disjoint pieces of one array, one thread each."""

from collections.abc import Iterable, Mapping
from typing import Any, SupportsIndex, overload

from fennick.dozudiror import _ArrayT, _Number

__all__ = ["replace_parallel", "replace_many_parallel"]

MIN_PIECE_BYTES: int
MAX_DEFAULT_WORKERS: int

def usable_cores() -> int: ...
def default_workers() -> int: ...
def replace_parallel(
    a: _ArrayT,
    old: _Number,
    new: _Number,
    *,
    workers: SupportsIndex | None = None,
) -> _ArrayT: ...
@overload
def replace_many_parallel(
    a: _ArrayT, old: Mapping[Any, Any], *, workers: SupportsIndex | None = None
) -> _ArrayT: ...
@overload
def replace_many_parallel(
    a: _ArrayT,
    old: Iterable[Any],
    new: _Number | Iterable[Any],
    *,
    workers: SupportsIndex | None = None,
) -> _ArrayT: ...
