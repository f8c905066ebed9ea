"""Who is timed: fennick, the NumPy code a user would write instead, NumPy's
own loops that bound the work, and, where installed, a numba loop.

Each competitor is a statement with {old}, {new} and {mask} to fill in
(see timing.make_calls), run in the namespace of `namespace()`.
"""

import functools

import numpy as np

from fennick import _reference_loops, replace

# The idioms; the fastest of them is "the best idiom".
IDIOMS = {
    "a[a==old]=new": "a[{mask}] = {new}",
    "putmask": "putmask(a, {mask}, {new})",
    "copyto": "copyto(a, {new}, where={mask})",
}
# NumPy's loops that read and write every element in place, by dtype kind;
# the fastest is "inplace".  Each timed pair of calls restores the array.
INPLACE = {
    "f": {
        "negative": "negative(a, out=a)",
        "multiply": "multiply(a, 1, out=a)",
    },
    "i": {
        "negative": "negative(a, out=a)",
        "multiply": "multiply(a, 1, out=a)",
    },
    "u": {
        "bitwise_not": "bitwise_not(a, out=a)",
        "multiply": "multiply(a, 1, out=a)",
    },
    "b": {
        "logical_not": "logical_not(a, out=a)",
        "bitwise_not": "bitwise_not(a, out=a)",
    },
}
INPLACE_NAMES = {name for loops in INPLACE.values() for name in loops}
# NumPy's loops that only read every element; the fastest is "readonly".
READONLY = {"max": "amax(a)", "count_nonzero": "count_nonzero(a)"}

TIMED_IDIOMS_UP_TO = 10**7  # larger arrays time fennick and the bounds only


@functools.cache
def numba_loop():
    """The loop users write when they want speed, compiled by numba for
    each signature at its first call; None without numba."""
    try:
        import numba
    except ImportError:
        return None

    @numba.njit
    def replace_loop(a, old, new):
        for i in range(a.shape[0]):
            if a[i] == old:
                a[i] = new

    return replace_loop


def numba_version():
    """numba's version, or None without numba."""
    if numba_loop() is None:
        return None
    import numba

    return numba.__version__


@functools.cache
def namespace():
    """The names the statements use."""
    return {
        "replace": replace,
        "replace_with": _reference_loops.replace_with,
        "numba_loop": numba_loop(),
        "putmask": np.putmask,
        "copyto": np.copyto,
        "isnan": np.isnan,
        "multiply": np.multiply,
        "negative": np.negative,
        "bitwise_not": np.bitwise_not,
        "logical_not": np.logical_not,
        "amax": np.max,
        "count_nonzero": np.count_nonzero,
    }


def numba_serves(a, old):
    """Whether the numba loop runs on `a`: 1-d, in native byte order, of a
    type numba handles (not float16), matching a number (not NaN)."""
    return (
        a.ndim == 1
        and a.dtype.isnative
        and a.dtype != np.float16
        and old == old
        and numba_loop() is not None
    )


def competitors(a, old, widths=()):
    """name -> statement for the case of array `a`: fennick, the loops of
    each of `widths` (through replace_with), the idioms, the numba loop
    and the bounds."""
    timed = {"fennick": "replace(a, {old}, {new})"}
    for width in widths:
        timed[width] = f"replace_with({width!r}, a, {{old}}, {{new}})"
    if a.size <= TIMED_IDIOMS_UP_TO:
        timed.update(IDIOMS)
    if numba_serves(a, old):
        timed["numba"] = "numba_loop(a, {old}, {new})"
    return {**timed, **INPLACE[a.dtype.kind], **READONLY}


def changes_array(name):
    """Whether `name` replaces, so that its result is checked."""
    return name not in INPLACE_NAMES and name not in READONLY
