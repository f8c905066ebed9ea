"""``replace`` and ``replace_many`` for xarray DataArrays and Datasets:
``fennick.xarray.replace(obj, old, new)``,
``fennick.xarray.replace_many(obj, old, new=None)``.

Needs xarray (``pip install fennick[xarray]``), which only this module
imports.  Every data variable is replaced as ``fennick.replaced`` would
replace it, its dtype kept; coordinates, dims, attrs, encoding and names
are kept.  Variables held as dask arrays stay lazy (``fennick.dask``);
NumPy-backed ones are made at once.  The scalars are checked against every
data variable's dtype before anything is made.
"""

import numpy as np
import xarray as xr

import fennick
from fennick.dozudiror import _replace_many
from fennick.many import _OMITTED, _pairs

__all__ = ["replace", "replace_many"]


def _is_dask(data):
    return type(data).__module__.split(".")[0] == "dask"


def _apply(obj, check, on_numpy, on_dask):
    if isinstance(obj, xr.DataArray):
        variables = {None: obj.variable}
    elif isinstance(obj, xr.Dataset):
        variables = {k: obj[k].variable for k in obj.data_vars}
    else:
        raise TypeError(
            f"obj must be an xarray DataArray or Dataset, not "
            f"{type(obj).__name__}"
        )
    # What every variable would raise, before any is made.
    for v in variables.values():
        check(np.empty(0, v.dtype))
    made = {
        k: (on_dask if _is_dask(v.data) else on_numpy)(v.data)
        for k, v in variables.items()
    }
    if isinstance(obj, xr.DataArray):
        return obj.copy(deep=False, data=made[None])
    out = obj.copy(deep=False)
    for k, data in made.items():
        out[k] = out[k].copy(deep=False, data=data)
    return out


def replace(obj, old, new):
    """Replace a scalar value in every data variable of an xarray object.

    Each data variable is replaced as ``fennick.replaced`` replaces an
    array, its dtype kept; a dask-backed one through ``fennick.dask``,
    lazily.

    Parameters
    ----------
    obj : xarray.DataArray or xarray.Dataset
        The object to read; it is not changed.
    old, new : number
        As for ``fennick.replace``: a NaN `old` matches every NaN.

    Returns
    -------
    xarray.DataArray or xarray.Dataset
        A new object like `obj` (coordinates, dims, attrs, encoding and
        names kept), each data variable replaced with its dtype kept;
        dask-backed variables lazy.

    Raises
    ------
    TypeError
        If `obj` is not a DataArray or Dataset, or a scalar is not a
        number.
    ValueError
        If an integer variable cannot hold `old` or `new`.  Raised before
        anything is made or computed.

    See Also
    --------
    fennick.replaced : The same on a NumPy array.
    fennick.dask.replace : The same on a dask array.

    Examples
    --------
    >>> import numpy as np, xarray as xr
    >>> import fennick.xarray
    >>> t = xr.DataArray([280.0, -999.0, 281.5], dims="time", name="t",
    ...                  attrs={"units": "K"})
    >>> clean = fennick.xarray.replace(t, -999, np.nan)
    >>> clean.values
    array([280. ,   nan, 281.5])
    >>> clean.attrs, clean.name
    ({'units': 'K'}, 't')
    """

    def on_dask(data):
        import fennick.dask

        return fennick.dask.replace(data, old, new)

    return _apply(
        obj,
        lambda empty: fennick.replace(empty, old, new),
        lambda data: fennick.replaced(np.asarray(data), old, new),
        on_dask,
    )


def replace_many(obj, old, new=_OMITTED):
    """Replace several values in every data variable of an xarray object.

    Each data variable is replaced as ``fennick.replaced_many`` replaces an
    array, its dtype kept; a dask-backed one through ``fennick.dask``,
    lazily.

    Parameters
    ----------
    obj : xarray.DataArray or xarray.Dataset
        The object to read; it is not changed.
    old : list of numbers, or mapping
        As for ``fennick.replace_many``.
    new : number or list of numbers, optional
        As for ``fennick.replace_many``.

    Returns
    -------
    xarray.DataArray or xarray.Dataset
        A new object like `obj`, as ``replace`` gives.

    Raises
    ------
    TypeError, ValueError
        As ``fennick.replace_many`` raises them, before anything is made or
        computed.

    See Also
    --------
    fennick.replaced_many : The same on a NumPy array.

    Examples
    --------
    >>> import numpy as np, xarray as xr
    >>> import fennick.xarray
    >>> ds = xr.Dataset({"t": ("x", [1.0, -999.0, -9999.0])})
    >>> fennick.xarray.replace_many(ds, [-999, -9999], np.nan).t.values
    array([ 1., nan, nan])
    """
    olds, news, pairwise = _pairs(old, new)

    def on_dask(data):
        import fennick.dask

        if pairwise:
            return fennick.dask.replace_many(data, list(olds), list(news))
        return fennick.dask.replace_many(data, list(olds), news[0])

    def on_numpy(data):
        if pairwise:
            return fennick.replaced_many(np.asarray(data), olds, news)
        return fennick.replaced_many(np.asarray(data), olds, news[0])

    return _apply(
        obj,
        lambda empty: _replace_many(empty, olds, news, pairwise),
        on_numpy,
        on_dask,
    )
