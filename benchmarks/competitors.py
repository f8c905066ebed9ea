"""Who is timed: fennick, the NumPy code a user would write instead, NumPy's
own loops that bound the work (and on large arrays its copy), and, where
installed, a numba loop.

Each competitor is a statement with {old}, {new}, {mask} and {more} (the
Call's extra arguments, see cases._more) to fill in (see
timing.make_calls), run in the namespace of `namespace()`.
"""

import functools

import numpy as np

from fennick import dozudiror, replace, replace_many, replaced
from fennick.many import _pairs

from .cases import CALLS

# The idioms; the fastest of them is "the best idiom".
IDIOMS = {
    "a[a==old]=new": "a[{mask}] = {new}",
    "putmask": "putmask(a, {mask}, {new})",
    "copyto": "copyto(a, {new}, where={mask})",
}
# replace_many, and what users write instead, by form of call (see
# cases.CALLS).  "one replace" is a single replace of the first old (the
# baseline of a pass over the array); "pandas" makes a Series over `a` and
# returns a new one.
# The same call on the first 8 elements: what a call costs before its walk
# (the olds' conversion and the plan), beside the call on the whole array
SETUP = "fennick on 8"
SEARCHSORTED = (  # the olds sorted beforehand, outside the timing
    "i = searchsorted({more}.keys, a); i[i == len({more}.keys)] = 0; "
    "hit = {more}.keys[i] == a; a[hit] = {more}.vals[i[hit]]"
)
MANY = {
    "olds": {
        "fennick": "replace_many(a, {old}, {new})",
        SETUP: "replace_many(a[:8], {old}, {new})",
        "one replace": "replace(a, {old}[0], {new})",
        "isin": "a[isin(a, {old})] = {new}",
        "isin table": "a[isin(a, {old}, kind='table')] = {new}",  # integers
        "or-ed masks": None,  # a[(a == o1) | (a == o2) | ...], per count
        "pandas": "Series(a, copy=False).replace({old}, {new})",
        "chained replace": "for o in {old}: replace(a, o, {new})",
    },
    "pairs": {
        "fennick": "replace_many(a, {old}, {new})",
        "one replace": "replace(a, {old}[0], {new}[0])",
        "mask per pair": "for o, n in zip({old}, {new}): a[a == o] = n",
        "searchsorted": SEARCHSORTED,
        "pandas": "Series(a, copy=False).replace({old}, {new})",
        "chained replace": "for o, n in zip({old}, {new}): replace(a, o, n)",
    },
    "map": {
        "fennick": "replace_many(a, {old}, {new})",
        SETUP: "replace_many(a[:8], {old}, {new})",
        "fennick dict": "replace_many(a, {more}.mapping)",
        "one replace": "replace(a, {old}[0], {new}[0])",
        "searchsorted": SEARCHSORTED,
        "pandas": "Series(a, copy=False).replace({more}.mapping)",
        "chained replace": (
            "for o, n in {more}.mapping.items(): replace(a, o, n)"
        ),
    },
    "table": {  # no value is free for one replace to undo through
        "fennick": "replace_many(a, {old}, {new})",
        SETUP: "replace_many(a[:8], {old}, {new})",
        "fennick dict": "replace_many(a, {more}.mapping)",
        "take": "take({more}.table, a, out=a)",
        # the user's table made from the dict with NumPy, then taken from
        "take dict": "take(table_of({more}.mapping, a.dtype), a, out=a)",
    },
}
MANY["inside"] = MANY["pairs"]
# replaced: a replaced copy, against the copy alone and NumPy's way to it
MANY["copy"] = {
    "fennick": "replaced(a, {old}, {new})",
    "copy": "copy(a)",
    "np.where": "where(a == {old}, {new}, a)",
}
ONE = "one replace"
# The statements that leave `a` as it was and return the result (and
# each width's replaced, see returns)
RETURNS = {
    *(MANY[form]["pandas"] for form in ("olds", "pairs", "map")),
    *(MANY["copy"][name] for name in ("fennick", "np.where")),
}


def returns(stmt):
    """Whether the statement `stmt` leaves `a` as it was and returns the
    result."""
    return stmt in RETURNS or stmt.startswith("replaced_with(")


# The NumPy recipes of replace_many's and replaced's cases; the fastest is
# "the best idiom"
MANY_IDIOMS = {
    "isin",
    "isin table",
    "or-ed masks",
    "mask per pair",
    "searchsorted",
    "take",
    "take dict",
    "np.where",
}
# Rivals with a figure of their own: their time over each subject's
RIVALS = {
    "pandas": "pandas",
    "chained replace": "chained",
    "searchsorted": "searchsorted",
    "take": "take",
    "take dict": "take dict",
    "np.where": "where",
}
ALL_IDIOMS = {*IDIOMS, *MANY_IDIOMS}
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
# NumPy's copy of the array, which reads it and writes as much elsewhere:
# beside the bounds on 1-d arrays from COPY_FROM elements, where memory
# sets the pace.
COPY = {"copy": "copy(a)"}
COPY_FROM = 10**7

TIMED_IDIOMS_UP_TO = 10**7  # larger arrays time fennick and the bounds only
# and for replace_many, fennick, one replace and the bounds past this size
TIMED_MANY_RIVALS_UP_TO = 10**6


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


@functools.cache
def pandas_series():
    """pandas.Series, or None without pandas."""
    try:
        import pandas
    except ImportError:
        return None
    return pandas.Series


def numba_version():
    """numba's version, or None without numba."""
    if numba_loop() is None:
        return None
    import numba

    return numba.__version__


def table_of(mapping, dtype):
    """The table for np.take that a mapping of every value of a 16-bit
    `dtype` stands for, made with NumPy from its keys and values."""
    n = len(mapping)
    table = np.empty(n, dtype)
    table[np.fromiter(mapping.keys(), np.intp, n)] = np.fromiter(
        mapping.values(), dtype, n
    )
    return table


@functools.cache
def namespace():
    """The names the statements use."""
    return {
        "replace": replace,
        "replace_many": replace_many,
        "replaced": replaced,
        "where": np.where,
        "replace_with": dozudiror._replace_with,
        "replace_many_with": replace_many_with,
        "replaced_with": dozudiror._replaced_with,
        "numba_loop": numba_loop(),
        "putmask": np.putmask,
        "copyto": np.copyto,
        "isnan": np.isnan,
        "isin": np.isin,
        "searchsorted": np.searchsorted,
        "take": np.take,
        "table_of": table_of,
        "Series": pandas_series(),
        "multiply": np.multiply,
        "negative": np.negative,
        "bitwise_not": np.bitwise_not,
        "logical_not": np.logical_not,
        "amax": np.max,
        "count_nonzero": np.count_nonzero,
        "copy": np.copy,
    }


def replace_many_with(width, a, old, new):
    """replace_many(a, old, new) through the loops of `width`."""
    return dozudiror._replace_many_with(width, a, *_pairs(old, new))


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


def _many(a, call, old):
    """name -> statement for replace_many's case of `call` on `a`."""
    form = CALLS[call][1]
    timed = dict(MANY[form])
    if a.dtype.kind not in "iu":  # NumPy's table of values is for integers
        timed.pop("isin table", None)
    if "or-ed masks" in timed:
        masks = " | ".join(f"(a == {{old}}[{i}])" for i in range(len(old)))
        timed["or-ed masks"] = f"a[{masks}] = {{new}}"
    if a.size > TIMED_MANY_RIVALS_UP_TO and form != "copy":
        timed = {
            k: v
            for k, v in timed.items()
            if k.startswith("fennick") or k == ONE
        }
    if a.ndim != 1 or pandas_series() is None:
        timed.pop("pandas", None)
    return timed


def competitors(a, call, old, widths=()):
    """name -> statement for the case of array `a` and `call`: fennick,
    the loops of each of `widths` (through replace_with, for replace), the
    idioms, the numba loop and the bounds; for replace_many, what users
    write instead."""
    if call != "replace":
        # each width's loops as replace_many (or replaced) runs them
        copy = CALLS[call][1] == "copy"
        with_width = "replaced_with" if copy else "replace_many_with"
        per_width = {
            w: f"{with_width}({w!r}, a, {{old}}, {{new}})" for w in widths
        }
        return {
            **_many(a, call, old),
            **per_width,
            **INPLACE[a.dtype.kind],
            **READONLY,
        }
    timed = {"fennick": "replace(a, {old}, {new})"}
    for width in widths:
        timed[width] = f"replace_with({width!r}, a, {{old}}, {{new}})"
    if a.size <= TIMED_IDIOMS_UP_TO:
        timed.update(IDIOMS)
    if numba_serves(a, old):
        timed["numba"] = "numba_loop(a, {old}, {new})"
    if a.ndim == 1 and a.size >= COPY_FROM:
        timed.update(COPY)
    return {**timed, **INPLACE[a.dtype.kind], **READONLY}


def changes_array(name):
    """Whether `name` replaces in `a`, so that `a` is checked after it."""
    return (
        name not in INPLACE_NAMES
        and name not in READONLY
        and name not in COPY
        and name != SETUP
    )


def oracle_args(name, call):
    """The (old, new) whose replacement `name` makes of the call `call`."""
    if name != ONE:
        return call.old, call.new
    return call.old[0], call.new[0] if np.ndim(call.new) else call.new
