"""Who is timed: fennick, the NumPy code a user would write instead, NumPy's
own loops that bound the work, and, where installed, a numba loop.

Each competitor is a statement with {old}, {new} and {mask} to fill in
(see timing.make_calls), run in the namespace of `namespace()`.
"""

import functools

import numpy as np

from fennick import _reference_loops, replace, replace_many
from fennick.bench.cases import CALLS

# The idioms; the fastest of them is "the best idiom".
IDIOMS = {
    "a[a==old]=new": "a[{mask}] = {new}",
    "putmask": "putmask(a, {mask}, {new})",
    "copyto": "copyto(a, {new}, where={mask})",
}
# replace_many(a, olds, new), and the idioms for a list of olds and one new
MANY_OLDS = {
    "fennick": "replace_many(a, {old}, {new})",
    "a[isin(a,olds)]=new": "a[isin(a, {old})] = {new}",
    "putmask isin": "putmask(a, isin(a, {old}), {new})",
    "replace each old": "for o in {old}: replace(a, o, {new})",
}
# replace_many(a, olds, news), and the idioms for pairs of an old and its
# new, which find every match before they write one
MANY_PAIRS = {
    "fennick": "replace_many(a, {old}, {new})",
    "masks, then writes": (
        "for m, n in [(a == o, n) for o, n in zip({old}, {new})]: a[m] = n"
    ),
    "select": (
        "a[...] = select([a == o for o in {old}], array({new}, a.dtype), a)"
    ),
}
ALL_IDIOMS = {*IDIOMS, *MANY_OLDS, *MANY_PAIRS} - {
    "fennick",
    "replace each old",
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
        "replace_many": replace_many,
        "replace_with": _reference_loops.replace_with,
        "numba_loop": numba_loop(),
        "putmask": np.putmask,
        "copyto": np.copyto,
        "isnan": np.isnan,
        "isin": np.isin,
        "select": np.select,
        "array": np.array,
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


def competitors(a, call, old, widths=()):
    """name -> statement for the case of array `a` and `call`: fennick,
    the loops of each of `widths` (through replace_with, for replace), the
    idioms, the numba loop and the bounds."""
    if call != "replace":
        timed = dict(MANY_PAIRS if CALLS[call][1] else MANY_OLDS)
        if a.size > TIMED_IDIOMS_UP_TO:
            timed = {"fennick": timed["fennick"]}
        return {**timed, **INPLACE[a.dtype.kind], **READONLY}
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
