"""replace on several cores: disjoint pieces of one array, one thread each."""

from typing import SupportsIndex

from fennick.dozudiror import _ArrayT, _Number

__all__ = ["replace_parallel"]

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
