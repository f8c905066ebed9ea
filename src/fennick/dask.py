"""``replace`` for dask arrays: ``fennick.dask.replace(x, old, new)``.

Needs dask (``pip install fennick[dask]``), which only this module imports.
A dask block may be shared by several tasks, or be a view of the array the
dask array was made from, so blocks are copied before they are replaced.
"""

import dask.array as da
import numpy as np
from dask.base import tokenize

import fennick
from fennick._reference_loops import settle

__all__ = ["replace"]


def _replaced_copy(block, old, new):
    out = np.array(block, copy=True, order="K", subok=True)
    return fennick.replace(out, old, new)


def replace(x, old, new):
    """Replace given scalar values in a copy of each block of a dask array.

    The result is a dask array like `x` with every element equal to `old`
    (every NaN when `old` is NaN) replaced by `new`.  Each of its blocks is
    a copy of a block of `x` put through ``fennick.replace``; `x` and the
    arrays it was made from are not changed.  The scalars are checked when
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
