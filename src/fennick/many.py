"""``replace_many``: several values replaced in one pass over an array."""

from collections.abc import Iterable, Mapping

import numpy as np

from fennick.dozudiror import _replace_many

__all__ = ["replace_many"]

_OMITTED = object()


def _values(x, name, what):
    """The items of a list-like `x`: a tuple, or for a 1-d array of bools,
    integers or floats of up to 8 bytes a copy of it, which the native
    loops read without making an object of each element.  The copy is
    ours: no code of the user's (a __float__ of another item) and no
    thread writing the array (it may be a view of the array replaced)
    changes it while the call reads it."""
    if isinstance(x, np.ndarray) and x.ndim == 1:
        if x.dtype.kind in "biuf" and x.dtype.itemsize <= 8:
            return np.array(x)
        return tuple(x)
    if isinstance(x, (str, bytes, np.ndarray)) or not isinstance(x, Iterable):
        raise TypeError(f"`{name}` must be {what}")
    return tuple(x)


def _is_list(x):
    return isinstance(x, (list, tuple)) or (
        isinstance(x, np.ndarray) and x.ndim > 0
    )


def _pairs(old, new=_OMITTED):
    """(olds, news, pairwise) for the forms replace_many takes: olds[i]
    becomes news[i] when pairwise, else news[0]."""
    if isinstance(old, Mapping):
        if new is not _OMITTED:
            raise TypeError("`new` must be omitted when `old` is a mapping")
        # A mapping's keys and values come in the same order.
        return tuple(old.keys()), tuple(old.values()), True
    if new is _OMITTED:
        raise TypeError("`new` is needed unless `old` is a mapping")
    olds = _values(old, "old", "a list of values or a mapping")
    if not _is_list(new):
        return olds, (new,), False
    news = _values(new, "new", "a value or a list of values")
    if len(news) != len(olds):
        raise ValueError(
            f"`old` and `new` must have the same length, not {len(olds)} "
            f"and {len(news)}"
        )
    return olds, news, True


def replace_many(a, old, new=_OMITTED):
    """Replace (inplace) several values of an array at once.

    Every element of `a` equal to one of the olds is replaced by that old's
    new, in one pass.  Each element is compared with the olds as it was
    before the call, so ``{1: 2, 2: 3}`` turns 1 into 2 and 2 into 3, never
    1 into 3.

    Parameters
    ----------
    a : numpy.ndarray
        The array to change in place.
    old : list of numbers, or mapping
        The values to replace: a list (or tuple, set, 1-d array, any
        iterable) whose elements all become `new`, or with `new` a list of
        the same length, each ``old[i]`` becomes ``new[i]``; or a mapping
        from each old to its new (then `new` is omitted).  A NaN old
        matches every NaN.
    new : number or list of numbers, optional
        The replacement: one value for every old, or a list (or tuple, or
        array) of one per old.

    Returns
    -------
    numpy.ndarray
        `a` itself.

    Raises
    ------
    TypeError
        If `a` is not an ndarray, if `old` is neither a list nor a mapping,
        if `new` is given with a mapping or missing without one, or if an
        old or a new is not a number (``"`old[2]` must be a number"``).
    ValueError
        If the lists differ in length; if an integer array cannot hold an
        old or a new exactly (``"Cannot safely cast `new[1]` to int"``); if
        two olds match the same elements but their news differ; or if `a`
        is read-only.  Every error is raised before anything is written.

    See Also
    --------
    fennick.replace : One value.
    fennick.replace_many_parallel : The same on several threads.
    fennick.dask.replace_many : The same on the blocks of a dask array.

    Notes
    -----
    Each old and each new follows the rules of ``fennick.replace`` for the
    element type: float32 and float16 arrays compare and store them rounded
    to their own type, integer arrays take an int or NumPy integer exactly
    and any other number only when it is integral and in range.  A NaN old
    matches nothing in an integer array and its new is not looked at, as
    for ``replace``.  Two olds that round to the same element value (or
    ``0.0`` and ``-0.0``, which match the same elements) are one old: with
    the same new that is fine, with different news a ValueError.  An empty
    list changes nothing.

    Numeric arrays (bool, integers, float16 to float64, in either byte
    order) are replaced by native loops with the interpreter lock released:
    up to 8 olds are compared a vector at a time; more are first tested a
    vector at a time against the ranges the olds span, so that data far
    from them costs about one ``replace``, and what lies in range is
    compared with each old (up to 64 olds, 32 of 8 or 16 bits) or looked
    up in a table (8- and 16-bit elements, or olds close together) or a
    hash of the olds.  Integer olds and news given as arrays or as lists of
    ints go straight into the lookup.  Every other array goes through
    NumPy masks, computed for every old before anything is written.

    Examples
    --------
    >>> import numpy as np, fennick
    >>> a = np.array([1.0, -999.0, 3.0, -9999.0])
    >>> fennick.replace_many(a, [-999, -9999], np.nan)
    array([ 1., nan,  3., nan])
    >>> codes = np.array([1, 2, 3, 2], dtype=np.int16)
    >>> fennick.replace_many(codes, {1: 2, 2: 3})
    array([2, 3, 3, 3], dtype=int16)
    >>> fennick.replace_many(codes, [3], [0])
    array([2, 0, 0, 0], dtype=int16)
    """
    if not isinstance(a, np.ndarray):
        raise TypeError(
            "works in place so input must be an array, not (e.g.) a list"
        )
    olds, news, pairwise = _pairs(old, new)
    return _replace_many(a, olds, news, pairwise)
