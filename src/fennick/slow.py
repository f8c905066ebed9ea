"""Reference implementations of fennick's native functions.

``fennick.dozudiror`` hands every call it has no native loop for (other
element types, data in non-native byte order) to the function of the same
name here, with the caller's own arguments.  Numeric element types (bool,
integers, float16 to float64, in either byte order) go on to the native
loops of ``fennick.dozudiror`` (its private ``_replace_numeric``), by the
same rules; everything else is replaced through NumPy masks below.  Where
those types share rules with the native ones (long double, complex) the scalar
handling copies them: ``old`` and ``new`` become C doubles first, then each
element type rounds them to its own precision.
"""

import datetime
import math
import operator
import warnings

import numpy as np

from fennick.dozudiror import _replace_numeric

__all__ = ["replace"]

_NOT_AN_ARRAY = "works in place so input must be an array, not (e.g.) a list"


def _as_double(x):
    """Convert like CPython's PyFloat_AsDouble, which the native module uses.

    Unlike float() this refuses strings and buffers: only floats, objects
    with __float__ and objects with __index__ are numbers here.  Complex
    numbers are refused, NumPy's included, which would otherwise convert
    with a ComplexWarning and lose their imaginary part.
    """
    if isinstance(x, float):
        return float.__float__(x)  # the stored value; overrides are ignored
    if isinstance(x, (complex, np.complexfloating)):
        raise TypeError("must be real number, not complex")
    tp = type(x)
    if hasattr(tp, "__float__"):
        res = tp.__float__(x)
        if not isinstance(res, float):
            raise TypeError("__float__ returned non-float")
        return float.__float__(res)
    if hasattr(tp, "__index__"):
        return float(operator.index(x))  # OverflowError past the double range
    raise TypeError("must be real number")


def _as_complex(x):
    """Convert like PyComplex_AsCComplex: complex, __complex__, else real."""
    if isinstance(x, complex):
        return complex(x.real, x.imag)
    tp = type(x)
    if hasattr(tp, "__complex__"):
        res = tp.__complex__(x)
        if not isinstance(res, complex):
            raise TypeError("__complex__ returned non-complex")
        return complex(res.real, res.imag)
    return complex(_as_double(x), 0.0)


def _convert(conv, old, new):
    # Both scalars are converted before anything else, `old` first, and the
    # converter's own error is replaced by a fixed message.
    return _convert_one(conv, old, "`old`"), _convert_one(conv, new, "`new`")


def _convert_one(conv, x, name):
    try:
        return conv(x)
    except Exception:
        raise TypeError(f"{name} must be a number") from None


def _is_float_nan(x):
    """Whether `x` is a Python float or NumPy floating scalar that is NaN."""
    return isinstance(x, (float, np.floating)) and math.isnan(x)


_float_nans = np.frompyfunc(_is_float_nan, 1, 1)


def _as_object(x):
    """A 0-d object array holding `x`, so a tuple or list is one value."""
    box = np.empty((), dtype=object)
    box[()] = x
    return box


def _as_element(dtype, new, name="`new`"):
    """`new` as one element of `dtype`, so that a value the array cannot
    hold is refused before anything is written."""
    if dtype.kind == "O":
        return _as_object(new)
    try:
        return np.asarray(new, dtype=dtype)
    except Exception as exc:
        raise ValueError(
            f"cannot store {name} in elements of dtype {dtype}"
        ) from exc


def _date_element(dtype, x, name, wrong):
    """`x` as a 0-d array of the datetime64 or timedelta64 `dtype`.

    A value of the array's own kind (np.datetime64, datetime.date and
    datetime.datetime, a date string; np.timedelta64, datetime.timedelta)
    is cast to the array's unit as NumPy's assignment casts it, and refused
    with ValueError where the cast loses information (a finer unit's
    remainder, a date the unit cannot reach) or where NumPy's assignment
    refuses it (years or months to days or finer).  An integer, and a value of
    NumPy's unit-less "generic" kind, counts ticks of the array's own unit.
    Any other `x` raises `wrong`.  Each value keeps its bits, so NaT, the
    most negative tick count, is one value in any unit.
    """
    ticks = np.dtype(dtype.str[0] + "i8")  # the elements' bits, same order
    cast_error = f"Cannot safely cast {name} to int"
    is_date = isinstance(x, (np.datetime64, np.timedelta64))
    if not is_date and type(x) is not bool and hasattr(type(x), "__index__"):
        x = operator.index(x)
        if not -(2**63) <= x < 2**63:
            raise ValueError(cast_error)
        return np.asarray(x, dtype=ticks).view(dtype)
    own = np.datetime64 if dtype.kind == "M" else np.timedelta64
    native = (datetime.date, str) if dtype.kind == "M" else datetime.timedelta
    if isinstance(x, native) and not is_date:
        try:
            x = own(x)
        except Exception:
            raise wrong from None
    if not isinstance(x, own):
        raise wrong
    value = np.asarray(x)
    if np.datetime_data(value.dtype)[0] == "generic":
        return value.view(np.int64).astype(ticks).view(dtype)
    if not np.can_cast(value.dtype, dtype, casting="same_kind"):
        raise ValueError(cast_error)  # years and months against fixed units
    with warnings.catch_warnings():
        # Past the unit's range the cast wraps silently, warns or raises,
        # by NumPy release; the round trip tells where it wraps.
        warnings.simplefilter("ignore", RuntimeWarning)
        try:
            cast = value.astype(dtype)
            back = cast.astype(value.dtype)
        except OverflowError:
            raise ValueError(cast_error) from None
    if back.view(np.int64) != value.view(np.int64):
        raise ValueError(cast_error)
    return cast


def _date_mask(arr, element):
    """Where the elements of a datetime64 or timedelta64 `arr` hold the
    bits of `element` (of the same dtype): NaT matches every NaT."""
    ticks = arr.dtype.str[0] + "i8"
    return arr.view(ticks) == element.view(ticks)


def _date_olds(dtype, olds, names):
    return [
        _date_element(
            dtype,
            o,
            name,
            TypeError(f"cannot compare elements of dtype {dtype} with {name}"),
        )
        for o, name in zip(olds, names, strict=True)
    ]


def _date_news(dtype, news, names):
    return [
        _date_element(
            dtype,
            n,
            name,
            ValueError(f"cannot store {name} in elements of dtype {dtype}"),
        )
        for n, name in zip(news, names, strict=True)
    ]


def _ufunc_compares_text():
    try:
        np.equal(np.array(["a"]), "a")
    except TypeError:
        return False
    return True


# Older NumPy 1 releases (1.23 among them) have no np.equal loop for
# strings and bytes.
_UFUNC_COMPARES_TEXT = _ufunc_compares_text()


def _text_mask(arr, old):
    """``arr == old`` for string and bytes arrays where np.equal cannot.

    Where that NumPy cannot compare, == returns a plain bool (with a
    warning or without) instead of raising; such a result is refused.
    """
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", FutureWarning)
        warnings.simplefilter("ignore", DeprecationWarning)
        mask = arr == old
    if not isinstance(mask, (np.ndarray, np.bool_)):
        raise TypeError("no elementwise comparison")
    return mask


def _generic_mask(arr, old, name="`old`"):
    """Elementwise ``arr == old`` by NumPy's rules, as a bool array."""
    kind = arr.dtype.kind
    try:
        if kind == "O" and _is_float_nan(old):
            mask = np.asarray(_float_nans(arr), dtype=bool)
        elif kind == "O":
            mask = np.equal(arr, _as_object(old))
        elif kind == "V":
            # Only ndarray.__eq__ compares records; give it a matching one.
            mask = arr == np.asarray(old, dtype=arr.dtype)
        elif kind in "SU" and not _UFUNC_COMPARES_TEXT:
            mask = _text_mask(arr, old)
        else:
            # The ufunc, unlike ==, raises when no comparison loop exists.
            mask = np.equal(arr, old)
        mask = np.asarray(mask)
    except Exception as exc:
        raise TypeError(
            f"cannot compare elements of dtype {arr.dtype} with {name}"
        ) from exc
    if mask.dtype != np.bool_ or mask.shape != arr.shape:
        raise TypeError(
            f"cannot compare elements of dtype {arr.dtype} with {name}"
        )
    return mask


def replace(a, old, new):
    """Replace, in place, every element of `a` equal to `old` with `new`.

    Same contract as ``fennick.replace``: a NaN `old` matches every NaN
    element (in object arrays, every float or NumPy floating NaN), integer
    arrays require `old` and `new` to be exact values of the element type,
    and the array itself is returned.

    Parameters
    ----------
    a : numpy.ndarray
        The array to change in place.
    old, new : scalar
        As for ``fennick.replace``.  Numeric arrays take numbers; other
        arrays take whatever NumPy compares with, and stores in, their
        elements.

    Returns
    -------
    numpy.ndarray
        `a` itself.

    Raises
    ------
    TypeError
        If `a` is not an array, if `old` or `new` is not a number where
        one is needed, or if NumPy cannot compare the elements with `old`.
    ValueError
        If an integer array cannot hold `old` or `new`, if `new` does not
        convert to the element type, or if `a` is read-only.

    See Also
    --------
    fennick.replace : The native entry point, which hands this function
        every array it has no native loop for.

    Examples
    --------
    >>> import numpy as np
    >>> import fennick.slow
    >>> fennick.slow.replace(np.array(["ab", "c"]), "ab", "z")
    array(['z', 'c'], dtype='<U2')
    >>> fennick.slow.replace(np.array([1, 0, 1], dtype=np.int8), 1, 5)
    array([5, 0, 5], dtype=int8)
    """
    done = _replace_numeric(a, old, new)
    if done is not NotImplemented:
        return done
    if not isinstance(a, np.ndarray):
        raise TypeError(_NOT_AN_ARRAY)
    # Work on a plain view so that subclass operators cannot interfere;
    # it shares memory with `a`, so writes land in `a`.
    arr = a.view(np.ndarray)
    kind = arr.dtype.kind
    scalar = arr.dtype.type
    nan_mode = False

    if kind == "f":  # long double: the other floats are served natively
        old, new = _convert(_as_double, old, new)
        nan_mode = math.isnan(old)
    elif kind == "c":
        old, new = _convert(_as_complex, old, new)
        nan_mode = math.isnan(old.real) or math.isnan(old.imag)
    elif kind in "Mm":
        (old,) = _date_olds(arr.dtype, [old], ["`old`"])
        (new,) = _date_news(arr.dtype, [new], ["`new`"])
        mask = _date_mask(arr, old)
    else:
        mask = _generic_mask(arr, old)
        new = _as_element(arr.dtype, new)

    if kind in "fc":
        # Round both values to the element type (too big gives +-inf, too
        # small +-0) and compare there, as the float loops do; a NaN `old`
        # is not converted since it matches by NaN-ness alone.
        with np.errstate(all="ignore"):
            new = scalar(new)
            if not nan_mode:
                old = scalar(old)

    # Refuse up front, so a read-only array fails even when nothing would
    # match; errors in `old` and `new` above take priority.
    if not arr.flags.writeable:
        raise ValueError("assignment destination is read-only")

    if nan_mode:
        mask = np.isnan(arr)  # any NaN, whatever its sign, payload or part
    elif kind in "fc":
        mask = arr == old
    arr[mask] = new
    return a


def _same_new(x, y):
    """Whether two news (element scalars or 0-d arrays) store the same."""
    if isinstance(x, np.ndarray) and x.dtype.kind == "O":
        x, y = x[()], y[()]
        return x is y or bool(x == y)
    return np.asarray(x).tobytes() == np.asarray(y).tobytes()


def _float_masks(arr, olds, news, pairwise):
    """Masks and news of long double and complex arrays, which compare
    the olds rounded to the element type as ``replace`` does; olds of the
    same element value (all NaNs are one) must have the same new."""
    kind = arr.dtype.kind
    conv = _as_double if kind == "f" else _as_complex
    olds = [_convert_one(conv, o, f"`old[{i}]`") for i, o in enumerate(olds)]
    scalar = arr.dtype.type
    with np.errstate(all="ignore"):
        news = [
            scalar(
                _convert_one(conv, n, f"`new[{i}]`" if pairwise else "`new`")
            )
            for i, n in enumerate(news)
        ]
        if not pairwise:
            news = news * len(olds)
        first, masks = {}, []
        for i, old in enumerate(olds):
            if np.isnan(old):
                key, mask = "nan", np.isnan(arr)
            else:
                key = scalar(old) + 0  # -0.0 and 0.0 match alike
                mask = arr == key
            j = first.setdefault(key, i)
            if not _same_new(news[j], news[i]):
                raise ValueError(
                    f"`old[{j}]` and `old[{i}]` match the same elements but "
                    "their news differ"
                )
            masks.append(mask)
    return masks, news


def _replace_many(a, olds, news, pairwise):
    """``fennick.replace_many`` for arrays the native loops do not serve
    (long double, complex, text, date-time, object and record arrays),
    through NumPy masks, every one computed before anything is written.

    `olds` and `news` are tuples or 1-d arrays: ``olds[i]`` becomes
    ``news[i]`` when `pairwise`, else ``news[0]``.
    """
    if not isinstance(a, np.ndarray):
        raise TypeError(_NOT_AN_ARRAY)
    if len(olds) == 0:
        return a
    arr = a.view(np.ndarray)
    kind = arr.dtype.kind
    old_names = [f"`old[{i}]`" for i in range(len(olds))]
    new_names = [f"`new[{i}]`" for i in range(len(news))]
    if not pairwise:
        new_names = ["`new`"]
    if kind in "fc":
        masks, news = _float_masks(arr, olds, news, pairwise)
    else:
        if kind in "Mm":
            olds = _date_olds(arr.dtype, olds, old_names)
            masks = [_date_mask(arr, o) for o in olds]
            news = _date_news(arr.dtype, news, new_names)
        else:
            masks = [
                _generic_mask(arr, o, name)
                for o, name in zip(olds, old_names, strict=True)
            ]
            news = [
                _as_element(arr.dtype, n, name)
                for n, name in zip(news, new_names, strict=True)
            ]
        if not pairwise:
            news = news * len(olds)
        # Olds that match the same element must agree on its new.
        for i in range(len(olds)):
            for j in range(i):
                if (masks[i] & masks[j]).any() and not _same_new(
                    news[i], news[j]
                ):
                    raise ValueError(
                        f"`old[{j}]` and `old[{i}]` match the same elements "
                        "but their news differ"
                    )
    if not arr.flags.writeable:
        raise ValueError("assignment destination is read-only")
    for mask, new in zip(masks, news, strict=True):
        arr[mask] = new
    return a
