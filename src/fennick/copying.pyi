"""replaced and replaced_many: a replaced copy of an array."""

from collections.abc import Iterable, Mapping
from typing import Any, overload

import numpy as np

from fennick.dozudiror import _Number

__all__ = ["replaced", "replaced_many"]

def replaced(a: np.ndarray, old: _Number, new: _Number) -> np.ndarray: ...
@overload
def replaced_many(a: np.ndarray, old: Mapping[Any, Any]) -> np.ndarray: ...
@overload
def replaced_many(
    a: np.ndarray, old: Iterable[Any], new: _Number | Iterable[Any]
) -> np.ndarray: ...
