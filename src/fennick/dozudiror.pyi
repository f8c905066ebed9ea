"""Fennick nonreducing functions."""

import datetime
from typing import Any, SupportsFloat, SupportsIndex, TypeAlias, TypeVar

import numpy as np

# Any array, subclasses included; replace works in place and returns the
# array it was given, so the caller keeps the precise type.
_ArrayT = TypeVar("_ArrayT", bound=np.ndarray[Any, Any])

# What `old` and `new` may be: anything the interpreter converts to a C
# double (floats, ints, bools, NumPy real scalars, Fraction, Decimal, any
# object with __float__ or __index__).  replace converts both before it
# picks a route, so this holds for every array in native byte order,
# including those it hands to fennick.slow; only byte-swapped arrays pass
# their scalars on unconverted.  Date-time arrays also take date-time
# values (their scalars go to fennick.slow unconverted; date strings too,
# which this alias leaves out).
_Number: TypeAlias = (
    SupportsFloat
    | SupportsIndex
    | np.datetime64
    | np.timedelta64
    | datetime.date
    | datetime.timedelta
)

def replace(a: _ArrayT, old: _Number, new: _Number) -> _ArrayT: ...
def _replace_many(
    a: _ArrayT, olds: tuple[Any, ...], news: tuple[Any, ...], pairwise: bool
) -> _ArrayT: ...
def _replaced(a: Any, old: _Number, new: _Number, into: Any = ...) -> Any: ...
def _replaced_many(
    a: Any, olds: tuple[Any, ...], news: tuple[Any, ...], pairwise: bool
) -> Any: ...

# Private: the loops on fennick.slow's, fennick.parallel's and fennick.dask's
# behalf, and the width hook through which tests and the benchmark run
# every build of the loops.
_width: str
_widths: tuple[str, ...]
_width_isas: dict[str, str]

def _replace_numeric(a: Any, old: Any, new: Any) -> Any: ...
def _settle(a: Any, old: Any, new: Any) -> Any: ...
def _settle_many(a: Any, olds: Any, news: Any, pairwise: bool) -> Any: ...
def _replace_with(width: str, a: Any, old: Any, new: Any) -> Any: ...
def _replaced_with(width: str, a: Any, old: Any, new: Any) -> Any: ...
def _replace_many_with(
    width: str, a: Any, olds: Any, news: Any, pairwise: bool
) -> Any: ...
def _replaced_many_with(
    width: str, a: Any, olds: Any, news: Any, pairwise: bool
) -> Any: ...
