"""fennick.dask.replace: lazy, copying, with replace's errors raised when
the graph is built, and the result of NumPy's idiom on a dask array read
from a zarr store by the worker processes of a local cluster."""

import math
import subprocess
import sys

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")
pytest.importorskip("zarr")

import fennick  # noqa: E402
import fennick.dask  # noqa: E402
from conftest import NAN, generic_timedelta  # noqa: E402


def readings(shape=(60, 50), dtype="f8"):
    values = np.random.default_rng(1).integers(0, 5, shape).astype(dtype)
    values[values == 4] = -999
    if values.dtype.kind == "f":
        values[values == 3] = NAN
    return values


def test_cluster_reads_zarr_and_matches_the_idiom(tmp_path):
    store = str(tmp_path / "readings.zarr")
    da.from_array(readings(), chunks=(25, 20)).to_zarr(store)
    x = da.from_zarr(store)
    # Two worker processes on the loopback interface, closed by the test.
    with (
        distributed.LocalCluster(
            n_workers=2,
            processes=True,
            threads_per_worker=1,
            host="127.0.0.1",
            dashboard_address=None,
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        client.wait_for_workers(2, timeout=60)
        for old, new in [(-999, NAN), (NAN, 0.0), (1, 2)]:
            y = fennick.dask.replace(x, old, new)
            assert (y.dtype, y.chunks) == (x.dtype, x.chunks)
            mask = da.isnan(x) if math.isnan(old) else x == old
            got, wanted = client.compute(
                [y, da.where(mask, new, x)], sync=True
            )
            np.testing.assert_array_equal(got, wanted)
    assert cluster.status.name == "closed"
    np.testing.assert_array_equal(da.from_zarr(store).compute(), readings())


@pytest.mark.parametrize(
    "make",
    [
        lambda v: da.from_array(v, chunks=(7, 11)),
        lambda v: da.from_array(np.asfortranarray(v)[::-1, ::2], chunks=9),
        lambda v: da.from_array(v.astype(">f8"), chunks=(60, 1)),
        lambda v: da.from_array(np.nan_to_num(v).astype("i2"), chunks=-1).T,
    ],
    ids=["C", "F reversed strided", "byte-swapped", "reference route"],
)
@pytest.mark.parametrize("many", [False, True], ids=["replace", "many"])
@pytest.mark.parametrize("old", [-999, generic_timedelta(-999)])
def test_blocks_are_copies_and_results_match_replace(make, old, many):
    source = readings()
    x = make(source)
    kept = source.copy()
    if many:  # olds not in the data (7) change nothing
        y = fennick.dask.replace_many(x, [old, 7], [5, 6])
    else:
        y = fennick.dask.replace(x, old, 5)
    got = y.compute(scheduler="threads")
    wanted = fennick.replace(np.array(x.compute()), old, 5)
    np.testing.assert_array_equal(got, wanted)
    assert got.dtype == x.dtype
    np.testing.assert_array_equal(source, kept)  # dask read views of it


@pytest.mark.parametrize(
    "x, old, new, error",
    [
        (da.zeros(4, dtype="i4", chunks=2), 2.5, 0, ValueError),
        (da.zeros(4, dtype="f8", chunks=2), "0", 1, TypeError),
        (np.zeros(4), 0, 1, TypeError),
    ],
)
def test_errors_come_when_the_graph_is_built(x, old, new, error):
    with pytest.raises(error) as got:
        fennick.dask.replace(x, old, new)
    if isinstance(x, da.Array):
        with pytest.raises(error) as wanted:
            fennick.replace(np.zeros(4, x.dtype), old, new)
        assert str(got.value) == str(wanted.value)


def test_graph_names_are_meaningful_and_deterministic():
    x = da.from_array(readings(), chunks=20)
    y = fennick.dask.replace(x, -999, 0)
    assert y.name.startswith("fennick-replace-")
    assert y.name == fennick.dask.replace(x, -999, 0).name
    assert y.name != fennick.dask.replace(x, -999, 1).name


def test_only_fennick_dask_imports_dask():
    code = (
        "import sys, numpy, fennick; fennick.replace_parallel("
        "numpy.zeros(3), 0, 1); print('dask' in sys.modules)"
    )
    done = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.stdout.strip() == "False", done.stderr
