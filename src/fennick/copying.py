"""``replaced`` and ``replaced_many``: a replaced copy of an array, the
array itself never written."""

import numpy as np

from fennick.dozudiror import _replace_many, _replaced, _replaced_many, replace
from fennick.many import _OMITTED, _pairs

__all__ = ["replaced", "replaced_many"]


def _require_array(a):
    if not isinstance(a, np.ndarray):
        raise TypeError(
            f"input must be an array, not (e.g.) a list: {type(a).__name__}"
        )


def replaced(a, old, new):
    """Return a copy of an array with a given scalar value replaced.

    The result equals ``b = np.copy(a, order="K"); fennick.replace(b, old,
    new)`` bit for bit, but for numeric arrays (bool, integers, float16 to
    float64, in either byte order) it is made in one pass: each element of
    `a` is read once and written once into the new array, whole vectors at
    a time, with the interpreter lock released.  `a` is never written, so
    it may be read-only.

    Parameters
    ----------
    a : numpy.ndarray
        The array to read (any layout; read-only is fine).
    old : number
        The value to replace; NaN matches every NaN.
    new : number
        The value to put in its place.

    Returns
    -------
    numpy.ndarray
        A new base ndarray with the dtype, shape and memory order that
        ``np.copy(a, order="K")`` gives (a masked array's data, as
        ``np.copy`` and ``fennick.replace`` treat it).

    Raises
    ------
    TypeError
        If `a` is not an ndarray, or `old` or `new` is not a number.
    ValueError
        If an integer array cannot hold `old` or `new` exactly.  Errors in
        the scalars of the one-pass types are raised before anything is
        allocated.

    See Also
    --------
    fennick.replace : The same, in place.
    fennick.replaced_many : Several values.

    Notes
    -----
    The rules are ``fennick.replace``'s: `old` and `new` rounded to a
    float32 array's type, taken exactly by an integer array, a NaN `old`
    in an integer array matching nothing.  Other element types are copied
    with ``np.copy`` and replaced in the copy.

    Examples
    --------
    >>> import numpy as np, fennick
    >>> a = np.array([1.0, -999.0, 3.0])
    >>> a.flags.writeable = False
    >>> fennick.replaced(a, -999, np.nan)
    array([ 1., nan,  3.])
    >>> a
    array([   1., -999.,    3.])
    >>> fennick.replaced(np.array([1, 2, 1], dtype=np.int8), 1, 0)
    array([0, 2, 0], dtype=int8)
    """
    _require_array(a)
    out = _replaced(a, old, new)
    if out is NotImplemented:
        out = np.copy(a, order="K")
        replace(out, old, new)
    return out


def replaced_many(a, old, new=_OMITTED):
    """Return a copy of an array with several values replaced.

    The result equals ``b = np.copy(a, order="K");
    fennick.replace_many(b, old, new)``; `a` is never written, so it may be
    read-only.

    Parameters
    ----------
    a : numpy.ndarray
        The array to read (any layout; read-only is fine).
    old : list of numbers, or mapping
        As for ``fennick.replace_many``.
    new : number or list of numbers, optional
        As for ``fennick.replace_many``.

    Returns
    -------
    numpy.ndarray
        A new base ndarray with the dtype, shape and memory order that
        ``np.copy(a, order="K")`` gives.

    Raises
    ------
    TypeError, ValueError
        As ``fennick.replace_many`` raises them, before anything is
        allocated.

    See Also
    --------
    fennick.replace_many : The same, in place.
    fennick.replaced : One value, in one pass.

    Notes
    -----
    Numeric arrays with up to 8 olds are made in one pass, as ``replaced``
    makes them (the olds compared a vector at a time).  With more, or
    another element type, the olds are checked against an empty array of
    `a`'s dtype first, then `a` is copied and replaced in the copy.

    Examples
    --------
    >>> import numpy as np, fennick
    >>> a = np.array([1.0, -999.0, 3.0, -9999.0])
    >>> fennick.replaced_many(a, [-999, -9999], np.nan)
    array([ 1., nan,  3., nan])
    >>> fennick.replaced_many(np.array([1, 2, 3]), {1: 2, 2: 1})
    array([2, 1, 3])
    """
    _require_array(a)
    olds, news, pairwise = _pairs(old, new)
    if len(olds) == 1:
        return replaced(a, olds[0], news[0])
    out = _replaced_many(a, olds, news, pairwise)
    if out is not NotImplemented:
        return out
    # The errors every element type raises, before the copy is made.
    _replace_many(np.empty(0, a.dtype), olds, news, pairwise)
    out = np.copy(a, order="K")
    return _replace_many(out, olds, news, pairwise)
