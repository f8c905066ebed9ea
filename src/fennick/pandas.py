"""``replace`` and ``replace_many`` for pandas Series and DataFrames:
``fennick.pandas.replace(obj, old, new)``,
``fennick.pandas.replace_many(obj, old, new=None)``.

Needs pandas (``pip install fennick[pandas]``), which only this module
imports.  The answer is always pandas' own ``obj.replace(...)``: columns
held as NumPy bool, integer or float arrays whose dtype holds every old and
new exactly are made by ``fennick.replaced`` / ``fennick.replaced_many``,
one column at a time with no transposing copy; every other column (object,
strings, categoricals, nullable or Arrow-backed, or a new that pandas would
upcast the column for, such as NaN into int64) is handed to pandas.
"""

import functools
import math
import numbers

import numpy as np
import pandas as pd

import fennick
from fennick.dozudiror import _replaced
from fennick.many import _OMITTED, _pairs

__all__ = ["replace", "replace_many"]


@functools.cache
def _integer_range(dtype):
    """The least and the most int of an integer `dtype`; for a float one,
    a range of ints that it holds exactly."""
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        return int(info.min), int(info.max)
    most = 2 ** np.finfo(dtype).nmant
    return -most, most


def _exact_in(dtype, value):
    """Whether `value` is a number that `dtype` holds exactly, compared and
    stored alike by pandas and by fennick."""
    if isinstance(value, (bool, np.bool_)):
        return dtype.kind == "b"
    if dtype.kind == "b":
        return False
    if type(value) is int or isinstance(value, numbers.Integral):
        v = int(value)
        least, most = _integer_range(dtype)
        if dtype.kind in "iu":
            return least <= v <= most
        return least <= v <= most and float(dtype.type(v)) == v
    if isinstance(value, numbers.Real) and dtype.kind == "f":
        f = float(value)
        return math.isnan(f) or float(dtype.type(f)) == f
    return False


def _served(values, olds, news):
    """Whether the column `values` is served natively for these scalars."""
    if not isinstance(values, np.ndarray) or values.dtype.kind not in "biuf":
        return False
    if not values.dtype.isnative:
        return False
    scalars = (*olds, *news)
    if values.dtype.kind in "iu" and set(map(type, scalars)) <= {int}:
        # Plain ints (a recoding's dict): their least and most decide.
        least, most = _integer_range(values.dtype)
        if scalars and not least <= min(scalars) <= max(scalars) <= most:
            return False
    elif not all(_exact_in(values.dtype, v) for v in scalars):
        return False
    # Olds that repeat: pandas takes the first, fennick refuses.
    keys = [("nan",) if v != v else float(v) for v in olds]
    return len(set(keys)) == len(keys)


def _series(s, olds, news, pairwise, by_pandas):
    # A NumPy dtype means a NumPy array underneath; read-only, never
    # written.
    values = s.to_numpy(copy=False) if isinstance(s.dtype, np.dtype) else None
    if not _served(values, olds, news if pairwise else news[:1]):
        return by_pandas(s)
    if pairwise:
        out = fennick.replaced_many(values, list(olds), list(news))
    else:
        out = fennick.replaced_many(values, list(olds), news[0])
    return s._constructor(out, index=s.index, name=s.name, copy=False)


def _block(frame, olds, news, pairwise):
    """The columns of `frame` made into one new 2-d block, where every column
    has one served dtype and one old (a frame's block as pandas keeps it:
    a column per row, so no transposing copy); else None."""
    if len(olds) != 1 or frame.shape[1] < 2:
        return None
    dtypes = set(frame.dtypes)
    if len(dtypes) != 1 or not isinstance(next(iter(dtypes)), np.dtype):
        return None
    values = [
        frame.iloc[:, i].to_numpy(copy=False) for i in range(frame.shape[1])
    ]
    if not _served(values[0], olds, news[:1]):
        return None
    block = np.empty((len(values), len(frame)), values[0].dtype)
    for v, row in zip(values, block, strict=True):
        if _replaced(v, olds[0], news[0], row) is NotImplemented:
            return None
    return [
        pd.Series(row, index=frame.index, name=frame.columns[i], copy=False)
        for i, row in enumerate(block)
    ]


def _apply(obj, olds, news, pairwise, by_pandas):
    if isinstance(obj, pd.Series):
        return _series(obj, olds, news, pairwise, by_pandas).__finalize__(
            obj, method="replace"
        )
    if not isinstance(obj, pd.DataFrame):
        raise TypeError(
            f"obj must be a pandas Series or DataFrame, not "
            f"{type(obj).__name__}"
        )
    columns = _block(obj, olds, news, pairwise)
    if columns is None:
        columns = [
            _series(obj.iloc[:, i], olds, news, pairwise, by_pandas)
            for i in range(obj.shape[1])
        ]
    out = pd.DataFrame(dict(enumerate(columns)), index=obj.index, copy=False)
    if not columns:
        out = obj.replace(*by_pandas.args)
    out.columns = obj.columns
    return out.__finalize__(obj, method="replace")


class _ByPandas:
    """pandas' own replace of one column, with the caller's arguments."""

    def __init__(self, *args):
        self.args = args

    def __call__(self, s):
        return s.replace(*self.args)


def replace(obj, old, new):
    """Replace a scalar value in a pandas Series or DataFrame.

    The result is what ``obj.replace(old, new)`` gives; columns of NumPy
    numbers that hold `old` and `new` exactly are made by
    ``fennick.replaced``, every other column by pandas.

    Parameters
    ----------
    obj : pandas.Series or pandas.DataFrame
        The object to read; it is not changed.
    old, new : scalar
        The value to replace, and its replacement.  A NaN `old` matches
        every NaN.

    Returns
    -------
    pandas.Series or pandas.DataFrame
        A new object equal to ``obj.replace(old, new)``: values, dtypes,
        index, columns, name and attrs.

    Raises
    ------
    TypeError
        If `obj` is neither a Series nor a DataFrame.

    See Also
    --------
    fennick.replaced : The same on a NumPy array.
    fennick.pandas.replace_many : Several values.

    Notes
    -----
    pandas upcasts a column for a new it cannot hold, where
    ``fennick.replace`` refuses: NaN into an int64 column gives float64.
    This module follows pandas, handing such columns to pandas' own
    replace.

    Examples
    --------
    >>> import numpy as np, pandas as pd
    >>> import fennick.pandas
    >>> s = pd.Series([1.0, -999.0, 3.0], name="t")
    >>> fennick.pandas.replace(s, -999, np.nan)
    0    1.0
    1    NaN
    2    3.0
    Name: t, dtype: float64
    >>> fennick.pandas.replace(pd.Series([1, -999]), -999, np.nan).dtype
    dtype('float64')
    """
    return _apply(obj, (old,), (new,), False, _ByPandas(old, new))


def replace_many(obj, old, new=_OMITTED):
    """Replace several values in a pandas Series or DataFrame.

    The result is what ``obj.replace(list_of_olds, new_or_list)`` or
    ``obj.replace(mapping)`` gives, made as ``replace`` makes it.

    Parameters
    ----------
    obj : pandas.Series or pandas.DataFrame
        The object to read; it is not changed.
    old : list of scalars, or mapping
        The values to replace, or a mapping from each to its new.
    new : scalar or list of scalars, optional
        One new for every old, or one per old; omitted with a mapping.

    Returns
    -------
    pandas.Series or pandas.DataFrame
        A new object equal to pandas' own replace with the same arguments.

    Raises
    ------
    TypeError
        If `obj` is neither a Series nor a DataFrame, or the forms of
        `old` and `new` do not fit (as ``fennick.replace_many``).
    ValueError
        If the lists differ in length.

    See Also
    --------
    fennick.replaced_many : The same on a NumPy array.

    Examples
    --------
    >>> import numpy as np, pandas as pd
    >>> import fennick.pandas
    >>> s = pd.Series([1.0, -999.0, -9999.0])
    >>> fennick.pandas.replace_many(s, [-999, -9999], np.nan).tolist()
    [1.0, nan, nan]
    >>> codes = pd.Series([1, 2, 3])
    >>> fennick.pandas.replace_many(codes, {1: 10, 2: 20}).tolist()
    [10, 20, 3]
    """
    olds, news, pairwise = _pairs(old, new)
    if new is _OMITTED:
        by_pandas = _ByPandas(dict(zip(olds, news, strict=True)))
    elif pairwise:
        by_pandas = _ByPandas(list(olds), list(news))
    else:
        by_pandas = _ByPandas(list(olds), news[0])
    return _apply(obj, olds, news, pairwise, by_pandas)
