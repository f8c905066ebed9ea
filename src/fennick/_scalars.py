"""Reduce `old` and `new` to plain Python numbers once, for calls that hand
them to ``replace`` many times (one piece of an array each, or one block of
a dask array each).

A user's number then runs its conversion once, every piece sees the same
value, and a dask graph carries only ints and floats to its workers.  A
scalar is reduced only where ``replace`` provably reads nothing but its
exact integer value (ints and NumPy's own integers) or its C double (every
other number): in arrays of bools, integers and floats.  Elsewhere (complex
arrays read ``__complex__``, text, date-time, record and object arrays
compare the object itself) and for int subclasses, whose ``__float__`` may
disagree with their value, the scalar passes through unchanged.
"""

import numpy as np

# Element kinds whose every route reads a scalar only as (exact integer
# value, C double): the native loops and, for the other sizes and byte
# orders, fennick.slow.
_NUMERIC_KINDS = "biuf"


def _settled(x):
    """`x` as a plain int or float with the same meaning, or `x` itself."""
    tp = type(x)
    if tp in (int, float, bool):
        return x
    if isinstance(x, float):
        return float.__float__(x)  # the stored value, as replace reads it
    if isinstance(x, np.integer) and tp.__module__ == "numpy":
        return x.item()
    if isinstance(x, (int, np.integer, complex, np.complexfloating)):
        return x  # exact value and double may differ; or not a real number
    try:
        # For a number that passed replace's checks, float() takes the
        # route of PyFloat_AsDouble: __float__, else __index__.
        return float(x)
    except Exception:
        return x  # a conversion that does not repeat: leave it to replace


def settle(dtype, old, new):
    """(old, new), as plain numbers where that cannot change the outcome of
    ``replace`` on elements of `dtype`.  Call only after replace has
    accepted the pair for that dtype."""
    if np.dtype(dtype).kind not in _NUMERIC_KINDS:
        return old, new
    return _settled(old), _settled(new)
