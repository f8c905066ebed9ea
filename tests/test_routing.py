"""Which arrays and scalars replace accepts, and which arrays it hands to
fennick.slow instead of serving them with a native loop."""

import numpy as np
import pytest

import fennick.slow
from conftest import (
    NATIVE_DTYPES,
    NATIVE_IDS,
    NON_ARRAYS,
    NOT_ARRAY,
    raises_msg,
    set_dtype,
)
from fennick.dozudiror import replace


class Recorder:
    """Stands in for fennick.slow.replace: records each call, returns a
    sentinel."""

    def __init__(self):
        self.calls = []
        self.result = object()

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.result


@pytest.fixture
def reference(monkeypatch):
    recorder = Recorder()
    monkeypatch.setattr(fennick.slow, "replace", recorder)
    return recorder


# --- the array test -------------------------------------------------------


@pytest.mark.parametrize("a", NON_ARRAYS.values(), ids=NON_ARRAYS)
@pytest.mark.parametrize("old", [0, "x"], ids=["old-ok", "old-bad"])
def test_non_arrays_are_refused(a, old, reference):
    with raises_msg(TypeError, NOT_ARRAY):
        replace(a, old, 1)
    with raises_msg(TypeError, NOT_ARRAY):
        replace(a=a, old=old, new=1)
    assert reference.calls == []


def test_ndarray_subclass_is_accepted():
    class Tagged(np.ndarray):
        pass

    x = np.array([0.0, 1.0, 0.0]).view(Tagged)
    assert replace(x, 0, 4) is x
    assert type(x) is Tagged
    np.testing.assert_array_equal(x, [4.0, 1.0, 4.0])


@pytest.mark.parametrize("dtype", ["f8", "i4", "i2", ">f8"])
def test_masked_array_is_replaced_in_its_data(dtype):
    # Masked or not, every matching element of the data is replaced; the
    # mask is left alone.
    x = np.ma.array([0, 1, 0, 2], mask=[True, False, False, True], dtype=dtype)
    assert replace(x, 0, 7) is x
    assert x.data.tolist() == [7, 1, 7, 2]
    assert x.mask.tolist() == [True, False, False, True]


@pytest.mark.parametrize("dtype", NATIVE_DTYPES, ids=NATIVE_IDS)
def test_returns_the_array_and_writes_through_views(dtype):
    base = np.array([0, 1, 0, 2, 0], dtype)
    view = base[1:]
    assert replace(view, 0, 7) is view
    np.testing.assert_array_equal(base, [0, 1, 7, 2, 7])


# --- the scalars ------------------------------------------------------------

BAD_NUMBERS = {
    "str": "abc",
    "numeric-str": "0",
    "None": None,
    "complex": 1 + 0j,
    "huge-int": 10**400,
    "list": [0],
    # NumPy's complex scalars would convert with a ComplexWarning,
    # dropping the imaginary part.
    "np.complex128": np.complex128(1j),
    "np.complex64": np.complex64(0),
    "clongdouble": np.clongdouble(1),
    "complex-subclass": type("C", (complex,), {})(0),
}


@pytest.mark.filterwarnings("error")
@pytest.mark.parametrize("bad", BAD_NUMBERS.values(), ids=BAD_NUMBERS)
@pytest.mark.parametrize(
    "dtype", NATIVE_DTYPES + [np.dtype("D")], ids=NATIVE_IDS + ["c16"]
)
def test_scalars_must_convert_to_float(dtype, bad, reference):
    # Native byte order: refused before any route is chosen.
    x = np.array([0, 1, 0], dtype)
    with raises_msg(TypeError, "`old` must be a number"):
        replace(x, bad, 1)
    with raises_msg(TypeError, "`new` must be a number"):
        replace(x, 0, bad)
    with raises_msg(TypeError, "`old` must be a number"):
        replace(x, bad, bad)
    np.testing.assert_array_equal(x, np.array([0, 1, 0], dtype))
    assert reference.calls == []


class FloatLike:
    def __float__(self):
        return 2.0


@pytest.mark.parametrize("dtype", NATIVE_DTYPES, ids=NATIVE_IDS)
@pytest.mark.parametrize(
    "old, new, after",
    [
        (-1, 9, [9, 1, 2, 9]),  # -1.0 without an error is a value
        (True, False, [-1, 0, 2, -1]),  # bools convert to 1.0 and 0.0
        (FloatLike(), np.int64(5), [-1, 1, 5, -1]),
        (np.float32(2), np.float64(-3), [-1, 1, -3, -1]),
    ],
    ids=["minus-one", "bools", "__float__", "numpy-scalars"],
)
def test_number_like_scalars_are_accepted(dtype, old, new, after):
    x = np.array([-1, 1, 2, -1], dtype)
    assert replace(x, old, new) is x
    np.testing.assert_array_equal(x, np.array(after, dtype))


# --- routing to fennick.slow ------------------------------------------------

REFERENCE_DTYPES = [
    "?",
    "b",
    "h",
    "B",
    "H",
    "I",
    "L",
    "e",
    "g",
    "F",
    "D",
    "O",
    ">f8",
    ">f4",
    ">i8",
    ">i4",
    ">i2",
]
if np.dtype("q").num == 9:
    # A 64-bit integer, but not the type number of the platform's long.
    REFERENCE_DTYPES.append("q")


@pytest.mark.parametrize("dtype", REFERENCE_DTYPES)
def test_other_types_go_to_the_reference(dtype, reference):
    x = np.zeros(5, dtype)
    old, new = 0, 1
    assert replace(x, old, new) is reference.result
    assert replace(x, old, new=new) is reference.result
    assert replace(a=x, old=old, new=new) is reference.result
    (a1, k1), (a2, k2), (a3, k3) = reference.calls
    assert a1[0] is x and a1[1] is old and a1[2] is new and k1 == {}
    assert a2[0] is x and a2[1] is old and len(a2) == 2
    assert list(k2) == ["new"] and k2["new"] is new
    assert a3 == () and list(k3) == ["a", "old", "new"]
    assert k3["a"] is x and k3["old"] is old and k3["new"] is new
    np.testing.assert_array_equal(x, np.zeros(5, dtype))


def test_longlong_is_not_mistaken_for_long(reference):
    x = np.zeros(3, "q")
    if x.dtype.num != 9:
        pytest.skip("int64 of type number 9 is not available here")
    assert replace(x, 0, 1) is reference.result
    assert len(reference.calls) == 1


@pytest.mark.parametrize("dtype", [">f8", ">i4", ">c16", ">i2"])
@pytest.mark.parametrize(
    "old, new",
    [("abc", None), (1 + 0j, 10**400)],
    ids=["str-none", "complex-huge"],
)
def test_big_endian_skips_scalar_conversion(dtype, old, new, reference):
    x = np.zeros(3, dtype)
    assert replace(x, old, new) is reference.result
    ((args, kwargs),) = reference.calls
    assert args[0] is x and args[1] is old and args[2] is new
    assert kwargs == {}


def test_non_native_type_converts_scalars_first(reference):
    x = np.zeros(3, np.int16)
    with raises_msg(TypeError, "`old` must be a number"):
        replace(x, None, 1)
    with raises_msg(TypeError, "`new` must be a number"):
        replace(x, 0, None)
    assert reference.calls == []


@pytest.mark.parametrize("dtype", NATIVE_DTYPES, ids=NATIVE_IDS)
def test_native_types_never_call_the_reference(dtype, reference):
    x = np.zeros((3, 4), dtype)
    assert replace(x, 0, 1) is x
    assert replace(x[::2, ::-1], 1, 2) is not reference.result
    assert replace(a=x, old=np.nan, new=5) is x
    assert reference.calls == []
    assert np.count_nonzero(x == 2) == 8


def test_reference_errors_pass_through_unchanged(monkeypatch):
    class Oops(Exception):
        pass

    def failing(*args, **kwargs):
        raise Oops("from the reference")

    monkeypatch.setattr(fennick.slow, "replace", failing)
    with raises_msg(Oops, "from the reference"):
        replace(np.zeros(2, np.int8), 0, 1)


def test_reference_function_is_looked_up_on_every_call(monkeypatch):
    first, second = Recorder(), Recorder()
    x = np.zeros(2, np.uint8)
    monkeypatch.setattr(fennick.slow, "replace", first)
    assert replace(x, 0, 1) is first.result
    monkeypatch.setattr(fennick.slow, "replace", second)
    assert replace(x, 0, 1) is second.result
    assert len(first.calls) == len(second.calls) == 1


@pytest.mark.parametrize(
    "dtype", ["b", "h", "B", "H", "I", "e", "q", ">f8", ">f4", ">i8", ">i4"]
)
def test_reference_route_end_to_end(dtype):
    x = np.array([0, 1, 0, 2], dtype)
    replace(x, 0, 3)
    np.testing.assert_array_equal(x, np.array([3, 1, 3, 2], dtype))


def test_dtype_changed_by_old_float_is_routed_afresh(reference):
    # __float__ runs Python code; a byte order it sets must still be honoured
    # rather than walking swapped data with a native loop.
    x = np.array([1.0, 2.0, 1.0])

    class SwapsOrder:
        def __float__(self):
            set_dtype(x, ">f8")
            return 1.0

    assert replace(x, SwapsOrder(), 5.0) is reference.result
    assert len(reference.calls) == 1


def test_interrupt_in_conversion_is_not_a_bad_number():
    class Interrupts:
        def __float__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        replace(np.zeros(3), Interrupts(), 1.0)


@pytest.mark.parametrize("dtype", ["f8", "l", ">l", ">f4"])
def test_each_scalar_is_read_once(dtype):
    # A native loop, or fennick.slow for a byte-swapped array, converts each
    # scalar once, __float__ and exact value together.  (In native byte
    # order the reference route converts twice: once to check, once in
    # fennick.slow, which receives the caller's own objects.)
    calls = []

    class Counted(int):
        def __float__(self):
            calls.append(("float", int(self)))
            return float(int(self))

        def __index__(self):
            calls.append(("index", int(self)))
            return int(self)

    x = np.array([0, 1, 0], dtype)
    assert replace(x, Counted(0), Counted(2)) is x
    assert x.tolist() == [2, 1, 2]
    assert sorted(calls) == [("float", 0), ("float", 2)]
