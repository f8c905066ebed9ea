"""fennick.pandas against pandas' own replace as the oracle: values, dtype,
index, columns, name and attrs, over every kind of column it serves or
hands on; the input never changed."""

import numpy as np
import pytest

pd = pytest.importorskip("pandas")
import fennick.pandas as fp  # noqa: E402

COLUMNS = {
    "f8": lambda: pd.Series([1.0, -999.0, np.nan, 3.0, -999.0, 0.0]),
    "f4": lambda: pd.Series([1.0, -999.0, 0.1, 3.0, -999.0, 0.5], dtype="f4"),
    "i8": lambda: pd.Series([1, -999, 2, 3, -999, 0]),
    "i1": lambda: pd.Series([1, -9, 2, 3, -9, 0], dtype="i1"),
    "u1": lambda: pd.Series([1, 9, 2, 3, 9, 0], dtype="u1"),
    "bool": lambda: pd.Series([True, False, True, True, False, True]),
    "object": lambda: pd.Series([1, "x", -999, 3.0, None, -999], dtype=object),
    "str": lambda: pd.Series(["a", "b", "a", "c", "b", "a"]),
    "category": lambda: pd.Series([1, -999, 2, 1, -999, 2], dtype="category"),
    "Int64": lambda: pd.Series([1, -999, None, 3, -999, 0], dtype="Int64"),
    "Float64": lambda: pd.Series(
        [1.0, -999.0, None, 3.0, -999.0, 0.0], dtype="Float64"
    ),
    "datetime": lambda: pd.Series(pd.date_range("2020", periods=6)),
}

SCALARS = [
    (-999, np.nan),
    (-999, 0),
    (-999.0, 7.5),
    (np.nan, -1.0),
    (1, 2),
    (True, False),
    (0.1, 0.2),
    (2, 300),
    (9, -1),
    ("a", "z"),
]

MANY = [
    ([-999, 1], np.nan),
    ([-999, 1], [0, 5]),
    ({-999: 1, 1: -999},),
    ({np.nan: 0.0, 3: 4},),
    ([1, 1], [2, 3]),
    # plain ints, which the column's range decides at once
    ({1: 200, 2: 3},),
    ([2**70, 1], 0),
    ([-999, 1], -(2**63)),
    (["a", "b"], "q"),
    ([], 1),
]


def check(obj, run, oracle):
    before = obj.copy(deep=True)
    try:
        want = oracle()
    except Exception as e:  # noqa: BLE001 - the same must be raised
        with pytest.raises(type(e)):
            run()
        return
    got = run()
    if isinstance(obj, pd.Series):
        pd.testing.assert_series_equal(got, want)
        pd.testing.assert_series_equal(obj, before)
    else:
        pd.testing.assert_frame_equal(got, want)
        pd.testing.assert_frame_equal(obj, before)
    assert got.attrs == want.attrs


def _series(kind):
    s = COLUMNS[kind]()
    s.name = "col"
    s.index = pd.RangeIndex(10, 16)
    s.attrs["units"] = "K"
    return s


@pytest.mark.parametrize("kind", COLUMNS)
@pytest.mark.parametrize("old, new", SCALARS)
def test_series_replace_is_pandas(kind, old, new):
    s = _series(kind)
    check(s, lambda: fp.replace(s, old, new), lambda: s.replace(old, new))


@pytest.mark.parametrize("kind", COLUMNS)
@pytest.mark.parametrize("args", MANY)
def test_series_replace_many_is_pandas(kind, args):
    s = _series(kind)
    check(s, lambda: fp.replace_many(s, *args), lambda: s.replace(*args))


def _frame():
    df = pd.DataFrame({k: make().to_numpy() for k, make in COLUMNS.items()})
    df = df.astype({k: make().dtype for k, make in COLUMNS.items()})
    df.index = pd.Index(list("abcdef"), name="row")
    df.attrs["source"] = "test"
    return df


@pytest.mark.parametrize("old, new", SCALARS)
def test_frame_replace_is_pandas(old, new):
    df = _frame()
    check(df, lambda: fp.replace(df, old, new), lambda: df.replace(old, new))


@pytest.mark.parametrize("args", MANY)
def test_frame_replace_many_is_pandas(args):
    df = _frame()
    check(df, lambda: fp.replace_many(df, *args), lambda: df.replace(*args))


def test_duplicate_column_names_and_empty_frames():
    df = pd.DataFrame([[1.0, -999.0], [-999.0, 2.0]], columns=["x", "x"])
    check(df, lambda: fp.replace(df, -999, 0), lambda: df.replace(-999, 0))
    empty = pd.DataFrame(index=[1, 2])
    check(empty, lambda: fp.replace(empty, 1, 2), lambda: empty.replace(1, 2))


def test_not_pandas_raises():
    with pytest.raises(TypeError):
        fp.replace(np.arange(3), 1, 2)


@pytest.mark.parametrize("dtype", ["f8", "f4", "i8", "u1", "bool"])
@pytest.mark.parametrize("old, new", SCALARS)
def test_frames_of_one_dtype_are_pandas(dtype, old, new):
    # A frame whose columns share one dtype is made into one new block.
    values = np.array([[1, 0, 9], [-999, 2, 1], [3, -999, 0]] * 3)
    df = pd.DataFrame(values.astype(dtype), columns=["a", "b", "a"])
    df.attrs["k"] = 1
    check(df, lambda: fp.replace(df, old, new), lambda: df.replace(old, new))
