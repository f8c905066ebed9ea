"""Reference implementations of fennick's native functions: the native
loops of fennick.dozudiror for numeric element types, NumPy masks
for the rest."""

from typing import SupportsComplex, SupportsFloat, SupportsIndex, TypeAlias

import numpy as np

from fennick.dozudiror import _ArrayT

__all__ = ["replace"]

# Called directly, the reference takes more than the native entry point:
# complex numbers for complex arrays and, for text, bytes and record
# arrays, the scalars NumPy compares with their elements.  Object
# arrays compare with any object at run time; such calls are outside what
# this alias promises.
_Scalar: TypeAlias = (
    SupportsFloat
    | SupportsIndex
    | SupportsComplex
    | complex
    | str
    | bytes
    | np.generic
)

def replace(a: _ArrayT, old: _Scalar, new: _Scalar) -> _ArrayT: ...
