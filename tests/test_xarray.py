"""fennick.xarray: every data variable replaced as fennick.replaced does,
everything else about the object kept, dask-backed variables lazy, and a bad
scalar raised before anything is computed."""

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
import fennick  # noqa: E402
import fennick.xarray as fx  # noqa: E402


def _dataset(chunks=None):
    t = np.array([[280.0, -999.0, 281.5], [-999.0, 279.0, np.nan]])
    q = np.array([[1, -999, 3], [4, 5, -999]], dtype=np.int32)
    f = np.array([[0.5, -999.0, 1.0], [2.0, 3.0, -999.0]], dtype=np.float32)
    ds = xr.Dataset(
        {"t": (("y", "x"), t), "q": (("y", "x"), q), "f": (("y", "x"), f)},
        coords={"x": [10, 20, 30], "y": [1, 2], "h": ("x", [-999, 1, 2])},
        attrs={"title": "cleanup"},
    )
    ds.t.attrs["units"] = "K"
    ds.t.encoding["_FillValue"] = -999.0
    if chunks:
        ds = ds.chunk(chunks)
    return ds


def _expected(ds, run):
    """ds with every data variable put through `run` on its values."""
    out = ds.copy(deep=True)
    for k in ds.data_vars:
        out[k] = ds[k].copy(data=run(np.asarray(ds[k].values)))
    return out


@pytest.mark.parametrize("chunks", [None, {"x": 2}])
@pytest.mark.parametrize(
    "call, run",
    [
        (
            lambda o: fx.replace(o, -999, 0),
            lambda a: fennick.replaced(a, -999, 0),
        ),
        (
            lambda o: fx.replace(o, np.nan, -1),
            lambda a: fennick.replaced(a, np.nan, -1),
        ),
        (
            lambda o: fx.replace_many(o, [-999, 3], [0, 30]),
            lambda a: fennick.replaced_many(a, [-999, 3], [0, 30]),
        ),
        (
            lambda o: fx.replace_many(o, {-999: 7}),
            lambda a: fennick.replaced_many(a, {-999: 7}),
        ),
    ],
)
def test_dataset_and_dataarray_as_replaced(chunks, call, run):
    if chunks:
        pytest.importorskip("dask")
    ds = _dataset(chunks)
    before = ds.copy(deep=True)
    got = call(ds)
    if chunks:
        assert all(got[k].chunks is not None for k in got.data_vars)
    xr.testing.assert_identical(got.compute(), _expected(ds.compute(), run))
    assert got.t.encoding == ds.t.encoding
    assert {k: got[k].dtype for k in got} == {k: ds[k].dtype for k in ds}
    xr.testing.assert_identical(ds, before)
    da = ds.t
    got_da = call(da)
    assert got_da.name == "t" and got_da.attrs == da.attrs
    assert got_da.encoding == da.encoding
    np.testing.assert_array_equal(got_da.values, run(da.values))


def test_bad_scalar_raises_before_anything_is_computed():
    dask = pytest.importorskip("dask")
    ds = _dataset({"x": 2})
    with dask.config.set(scheduler=_refuse):
        with pytest.raises(ValueError, match="Cannot safely cast `new`"):
            fx.replace(ds, -999, 0.5)
        with pytest.raises(ValueError, match="Cannot safely cast `old"):
            fx.replace_many(ds, [-999, 1.5], 0)
        lazy = fx.replace(ds, -999, 0)  # builds a graph, computes nothing
    assert lazy.q.compute().values.tolist() == [[1, 0, 3], [4, 5, 0]]


def _refuse(*args, **kwargs):
    raise AssertionError("computed")


def test_not_xarray_raises():
    with pytest.raises(TypeError):
        fx.replace(np.arange(3), 1, 2)
