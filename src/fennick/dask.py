"""``replace`` and ``replace_many`` for dask arrays:
``fennick.dask.replace(x, old, new)``, ``fennick.dask.replace_many(x, old,
new)`` (``new`` omitted when ``old`` is a mapping).

Needs dask (``pip install fennick[dask]``), which only this module imports.
A dask block may be shared by several tasks, or be a view of the array the
dask array was made from, so blocks are copied before they are replaced.
"""

import dask.array as da
import numpy as np
from dask.base import tokenize

import fennick
from fennick.dozudiror import _replace_many, _replaced_many
from fennick.dozudiror import _settle as settle
from fennick.dozudiror import _settle_many as settle_many
from fennick.many import _OMITTED, _pairs

__all__ = ["replace", "replace_many"]


def _replaced_copy(block, old, new):
    # A plain array is copied and replaced in one pass; a subclass (a
    # masked block) keeps its type through a copy replaced in place.
    if type(block) is np.ndarray:
        return fennick.replaced(block, old, new)
    out = np.array(block, copy=True, order="K", subok=True)
    return fennick.replace(out, old, new)


def _many_replaced_copy(block, olds, news, pairwise):
    if type(block) is np.ndarray:
        if len(olds) == 1:
            return fennick.replaced(block, olds[0], news[0])
        # one pass where a copying walk serves the olds (a few of them)
        out = _replaced_many(block, olds, news, pairwise)
        if out is not NotImplemented:
            return out
    out = np.array(block, copy=True, order="K", subok=True)
    return _replace_many(out, olds, news, pairwise)


def replace(x, old, new):
    """Replace given scalar values in a copy of each block of a dask array.

    The result is a dask array like `x` with every element equal to `old`
    (every NaN when `old` is NaN) replaced by `new`.  Each of its blocks is
    a copy of a block of `x` replaced as ``fennick.replace`` does (made in
    one pass by ``fennick.replaced``); `x` and the arrays it was made from
    are not changed.  The scalars are checked when
    the graph is built, against an empty array of ``x.dtype``.

    Parameters
    ----------
    x : dask.array.Array
        The array to read.
    old, new : number
        As for ``fennick.replace``.

    Returns
    -------
    dask.array.Array
        A lazy array with the dtype and chunks of `x`.

    Raises
    ------
    TypeError
        If `x` is not a dask array, or `old` or `new` is not a number, as
        ``fennick.replace`` raises it.
    ValueError
        If an integer `x` cannot hold `old` or `new`, as
        ``fennick.replace`` raises it.

    See Also
    --------
    fennick.replace : The same, in place, on a NumPy array.

    Examples
    --------
    >>> import dask.array as da, numpy as np
    >>> import fennick.dask
    >>> x = da.from_array(np.array([1.0, -999.0, 3.0, -999.0]), chunks=2)
    >>> y = fennick.dask.replace(x, -999.0, np.nan)
    >>> y.chunks == x.chunks, y.dtype == x.dtype
    (True, True)
    >>> y.compute()
    array([ 1., nan,  3., nan])
    """
    if not isinstance(x, da.Array):
        raise TypeError(f"x must be a dask array, not {type(x).__name__}")
    # Plain numbers make a graph that any worker can unpickle, and run a
    # user's conversion once; other kinds get the scalars as they are.
    empty = np.empty(0, x.dtype)
    settled = settle(empty, old, new)
    if settled is not NotImplemented:
        old, new = settled
    # Raises now, with replace's own error, what every block would raise.
    fennick.replace(empty, old, new)
    name = f"fennick-replace-{tokenize(x, old, new)}"
    return x.map_blocks(_replaced_copy, old, new, dtype=x.dtype, name=name)


def replace_many(x, old, new=_OMITTED):
    """Replace several values in a copy of each block of a dask array.

    The result is a dask array like `x` with every element equal to one of
    the olds replaced by that old's new, as ``fennick.replace_many`` does
    it; each of its blocks is a copy of a block of `x`, and `x` is not
    changed.  The olds and news are checked when the graph is built,
    against an empty array of ``x.dtype``.

    Parameters
    ----------
    x : dask.array.Array
        The array to read.
    old : list of numbers, or mapping
        As for ``fennick.replace_many``.
    new : number or list of numbers, optional
        As for ``fennick.replace_many``.

    Returns
    -------
    dask.array.Array
        A lazy array with the dtype and chunks of `x`.

    Raises
    ------
    TypeError
        If `x` is not a dask array, or as ``fennick.replace_many`` raises
        it.
    ValueError
        As ``fennick.replace_many`` raises it.

    See Also
    --------
    fennick.replace_many : The same, in place, on a NumPy array.
    fennick.dask.replace : One value.

    Examples
    --------
    >>> import dask.array as da, numpy as np
    >>> import fennick.dask
    >>> x = da.from_array(np.array([1.0, -999.0, 3.0, -9999.0]), chunks=2)
    >>> fennick.dask.replace_many(x, [-999, -9999], np.nan).compute()
    array([ 1., nan,  3., nan])
    >>> codes = da.from_array(np.array([1, 2, 3, 1]), chunks=3)
    >>> fennick.dask.replace_many(codes, {1: 2, 2: 1}).compute()
    array([2, 1, 3, 2])
    """
    if not isinstance(x, da.Array):
        raise TypeError(f"x must be a dask array, not {type(x).__name__}")
    # Arrays of olds or news as tuples: map_blocks would take an array for
    # one to cut into blocks.
    olds, news, pairwise = (
        tuple(v.tolist()) if isinstance(v, np.ndarray) else v
        for v in _pairs(old, new)
    )
    empty = np.empty(0, x.dtype)
    settled = settle_many(empty, olds, news, pairwise)
    if settled is not NotImplemented:
        olds, news, pairwise = settled
    # Raises now, with replace_many's own error, what every block would.
    _replace_many(empty, olds, news, pairwise)
    name = f"fennick-replace-many-{tokenize(x, olds, news, pairwise)}"
    return x.map_blocks(
        _many_replaced_copy, olds, news, pairwise, dtype=x.dtype, name=name
    )
