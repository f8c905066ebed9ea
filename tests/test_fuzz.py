"""replace under hostile input: random argument tuples and keyword dicts,
scalars of every sort, arrays of every element type, byte order and layout.
Each call has exactly the predicted outcome (a plain-NumPy oracle for native
element types, fennick.slow on a twin of the array otherwise), raises only
documented exceptions, and writes nothing outside the array, nor into it
when read-only or on a failure."""

import math
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import fennick.slow
from conftest import (
    INF,
    NAN,
    NEW_NUMBER,
    NON_ARRAYS,
    NOT_ARRAY,
    OLD_NUMBER,
    READ_ONLY,
    Guard,
    Index,
    IntSub,
    expected,
)
from fennick.dozudiror import replace

DOCUMENTED = (TypeError, ValueError, RuntimeError)
NATIVE = {np.dtype(c).num for c in "dfli"}
RECORD = np.dtype([("x", "<i4"), ("y", ">f8")])


def Float(result):
    """An object whose __float__ returns `result`, or raises it."""

    def convert(self):
        if isinstance(result, Exception):
            raise result
        return result

    return type("Float", (), {"__float__": convert})()


# A float subclass converts by its stored value, an int subclass by its own
# __float__.
FloatSub = type("FloatSub", (float,), {"__float__": lambda self: 12345.0})


def _narrowed(element, v):  # overflow warnings are ignored by the test
    return element(v), float(element(v))


# Scalars as (value, the double the native conversion makes, None: fails);
# none of the ints below lies just under 2**1024, where rounding overflows.
FLOATS = st.floats() | st.sampled_from(
    [
        0.0,
        -0.0,
        1.0,
        2.0,
        -1.0,
        0.5,
        0.1,
        NAN,
        -NAN,
        INF,
        -INF,
        1e300,
        1e-50,
        2.0**31,
        2.0**63,
        -(2.0**63),
        2.0**53 + 2,
        3.4028235e38,
        1e-45,
    ]
)
INTS = st.integers(-(2**70), 2**70) | st.sampled_from(
    [
        0,
        1,
        2,
        -1,
        255,
        2**31 - 1,
        2**31,
        -(2**31) - 1,
        2**53 + 1,
        2**63 - 1,
        2**63,
        -(2**63),
        2**64,
        10**308,
        10**309,
        -(10**400),
    ]
)
ODD = [
    (True, 1.0),
    (False, 0.0),
    (IntSub(7), 0.5),
    (FloatSub(2.0), 2.0),
    (Index(7), 7.0),
    (Index(10**400), None),
    (10**400, None),
    (np.complex128(1.0), None),
    (np.complex64(0), None),
    (np.clongdouble(1), None),
    (type("C", (complex,), {})(2), None),
    (Fraction(1, 3), 1 / 3),
    (Decimal("2.5"), 2.5),
    (Decimal("nan"), NAN),
    (Fraction(10**400, 3), None),
    (1j, None),
    ("1.0", None),
    (b"1", None),
    (bytearray(b"2"), None),
    (None, None),
    ([1.0], None),
    (object(), None),
    (np.array([1.0, 2.0]), None),
    (Float(ValueError()), None),
    (Float(ZeroDivisionError()), None),
    (Float(1), None),
    (Float(None), None),
    (Index(1.5), None),
    (np.datetime64("2000-01-01"), None),
    (np.str_("x"), None),
]
FLOAT_FORMS = [float, FloatSub, Float, lambda v: Float(FloatSub(v)), np.array]
SCALARS = st.one_of(
    st.builds(lambda f, v: (f(v), v), st.sampled_from(FLOAT_FORMS), FLOATS),
    st.builds(_narrowed, st.sampled_from([np.float32, np.float16]), FLOATS),
    st.builds(
        lambda f, v: (f(v), float(v) if abs(v) < 2**1024 else None),
        st.sampled_from([int, Index]),
        INTS,
    ),
    st.integers(-(2**63), 2**63 - 1).map(lambda v: _narrowed(np.int64, v)),
    st.integers(0, 2**64 - 1).map(lambda v: _narrowed(np.uint64, v)),
    st.sampled_from(ODD),
)

DTYPES = [
    "f8",
    "f4",
    "l",
    "i",
    "q",
    "i1",
    "u1",
    "i2",
    "u2",
    "u4",
    "u8",
    "f2",
    "g",
    "c8",
    "c16",
    "?",
    "M8[D]",
    "m8[s]",
    "S3",
    "U2",
    RECORD,
    "O",
]
POOLS = {
    "f": [0.0, -0.0, 1.0, 2.0, -1.0, 0.5, NAN, INF, -INF, 1e-45],
    "b": [False, True],
    "M": [0, 1, -1, -(2**63)],  # the last is NaT
    "S": [b"", b"a", b"ab", b"1"],
    "U": ["", "a", "ab", "1"],
    "V": [(0, 0.0), (1, 1.0), (2, NAN)],
    "O": [0, 1, 2.0, NAN, None, "a", (1, 2)],
}
POOLS.update(c=POOLS["f"], m=POOLS["M"])


def _first(x):
    return x[(0,) * x.ndim + (Ellipsis,)]


STEPS = [  # ways to make views; each leaves alone what it cannot apply to
    lambda x: x.T,
    lambda x: x[None],
    lambda x: x[::-1] if x.ndim else x,
    lambda x: x[1::3] if x.ndim else x,
    lambda x: x[..., ::-2] if x.ndim else x,
    lambda x: x[..., :0] if x.ndim else x,
    lambda x: _first(x) if x.size else x,
    lambda x: (
        np.lib.stride_tricks.as_strided(  # one element seen 5 times
            _first(x), (5,), (0,), writeable=x.flags.writeable
        )
        if x.size
        else x
    ),
]


@st.composite
def arrays(draw, old):
    """(array, the bytes holding it or None for object arrays); its values
    include `old` where the element type can hold it."""
    dtype = np.dtype(draw(st.sampled_from(DTYPES)))
    if dtype.kind not in "OVS?" and dtype.itemsize > 1 and draw(st.booleans()):
        dtype = dtype.newbyteorder(">")
    pool = POOLS.get(dtype.kind, [])
    if old is not None and dtype.kind in "fciu":
        pool = pool + [old]
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        pool = [
            int(v)
            for v in pool + [0, 1, 2, info.max, info.min]
            if math.isfinite(v) and v == int(v) and info.min <= v <= info.max
        ]
    values = draw(st.lists(st.sampled_from(pool), max_size=40))
    n, region = len(values), None
    if dtype.kind == "O":
        flat = np.fromiter(values, dtype, n)
    else:  # placed at any offset in random bytes, mutable or not
        offset = draw(st.integers(0, 3 * dtype.itemsize))
        size = offset + (n + 2) * dtype.itemsize
        raw = bytearray(draw(st.binary(min_size=size, max_size=size)))
        np.ndarray((n,), dtype, raw, offset)[...] = np.array(values, dtype)
        region = np.frombuffer(
            bytes(raw) if draw(st.integers(0, 3)) == 0 else raw, np.uint8
        )
        flat = np.ndarray((n,), dtype, region, offset)
    shapes = [(r, n // r) for r in range(1, n + 1) if n % r == 0]
    if shapes and draw(st.booleans()):
        flat = flat.reshape(
            draw(st.sampled_from(shapes)), order=draw(st.sampled_from("CF"))
        )
    for step in draw(st.lists(st.sampled_from(STEPS), max_size=3)):
        flat = step(flat)
    if draw(st.integers(0, 4)) == 0:
        flat.flags.writeable = False
    if draw(st.integers(0, 5)) == 0:
        flat = flat.view(type("SubArray", (np.ndarray,), {}))
    return flat, region


# The shared non-arrays, and a few that look more like one.
ANY_NON_ARRAY = st.sampled_from(
    [*NON_ARRAYS.values(), "abc", np.float64(1.0), memoryview(bytes(16))]
)
KEYWORDS = ["a", "old", "new", "extra", "A", "olds", "new_"]


@st.composite
def calls(draw):
    (old, old_d), (new, new_d) = draw(SCALARS), draw(SCALARS)
    extra = draw(SCALARS)[0]
    a, region = draw(
        ANY_NON_ARRAY.map(lambda a: (a, None))
        if draw(st.integers(0, 9)) == 0
        else arrays(old_d)
    )
    if draw(st.integers(0, 3)) == 0:  # any shape of call at all
        n = draw(st.integers(0, 5))
        names = draw(
            st.lists(st.sampled_from(KEYWORDS), unique=True, max_size=4)
        )
    else:  # mostly well formed: the first n by position, the rest by name
        n = draw(st.integers(0, 3))
        names = draw(st.permutations(["a", "old", "new"][n:]))
        if draw(st.integers(0, 4)) == 0:
            names.append(draw(st.sampled_from(KEYWORDS)))
    value = {"a": a, "old": old, "new": new}
    kwargs = {name: value.get(name, extra) for name in names}
    parts = a, old, new, old_d, new_d, region
    return (a, old, new, extra, extra)[:n], kwargs, parts


def _parse_error(n, kwargs):
    if not kwargs:
        return None if n == 3 else "wrong number of arguments 4"
    if n >= 3:
        return "wrong number of arguments 1"
    for name in ("a", "old", "new")[n:]:
        if name not in kwargs:
            return f"Cannot find `{name}` keyword input"
    return (
        None
        if 3 - n == len(kwargs)
        else ("wrong number of keyword arguments 3")
    )


def _run(call):
    try:
        return call()
    except Exception as exc:  # noqa: BLE001 - compared by the caller
        return exc


def _same(x, y, loose_nan=False):
    """Same bits (same objects in object arrays); with `loose_nan`, any NaN
    stands for a NaN written from a narrowed `new`."""
    x, y = np.asarray(x), np.asarray(y)
    if x.dtype.kind == "O":
        same = [p is q for p, q in zip(x.flat, y.flat, strict=False)]
        return x.shape == y.shape and all(same)
    if x.dtype.kind == "f" and x.dtype.itemsize > 8:
        # A long double's padding bytes hold no value and NumPy may write
        # anything there (NumPy 1 does): compare values and signs instead.
        return x.shape == y.shape and bool(
            np.array_equal(x, y, equal_nan=True)
            and (np.signbit(x) == np.signbit(y)).all()
        )
    if loose_nan and x.shape == y.shape:
        x, y = [z[~(np.isnan(x) & np.isnan(y))] for z in (x, y)]
    return x.shape == y.shape and x.tobytes() == y.tobytes()


@pytest.mark.filterwarnings("ignore")
@settings(
    max_examples=400,
    deadline=None,
    database=None,
    suppress_health_check=[HealthCheck.too_slow],
)
@given(calls())
def test_hostile_calls(call):
    args, kwargs, (a, old_value, new_value, old, new, region) = call
    is_array = isinstance(a, np.ndarray)
    a_before, bystander = np.array(a), np.arange(64.0)
    region_before = None if region is None else region.copy()
    guard = None if region is None else Guard(region, a)
    # Dates and durations, like other byte orders, reach fennick.slow with
    # their scalars unconverted.
    native = is_array and a.dtype.byteorder != ">" and a.dtype.kind not in "Mm"

    message = _parse_error(len(args), kwargs)
    if message is not None:
        predicted = TypeError(message)
    elif not is_array:
        predicted = TypeError(NOT_ARRAY)
    elif native and (old is None or new is None):
        predicted = TypeError(OLD_NUMBER if old is None else NEW_NUMBER)
    elif native and a.dtype.num in NATIVE:
        # Integer loops take ints and NumPy integers by their own value.
        exact = (int, np.integer)
        old = old_value if isinstance(old_value, exact) else old
        new = new_value if isinstance(new_value, exact) else new
        predicted = _run(lambda: expected(a, old, new))
        if not (
            a.flags.writeable
            or isinstance(predicted, Exception)
            or a.dtype.kind == "i"
            and math.isnan(old)
        ):
            predicted = ValueError(READ_ONLY)
    else:  # fennick.slow, called on a twin of the array
        twin = a.copy()
        twin.flags.writeable = a.flags.writeable
        predicted = _run(
            lambda: fennick.slow.replace(twin, old_value, new_value)
        )
        assert predicted is twin or isinstance(predicted, Exception)

    result = _run(lambda: replace(*args, **kwargs))
    if isinstance(predicted, Exception):
        assert (type(result), str(result)) == (type(predicted), str(predicted))
        assert isinstance(result, DOCUMENTED), repr(result)
    else:
        assert result is a
        assert _same(a, predicted, loose_nan=native and a.dtype.kind == "f")

    assert (bystander == np.arange(64.0)).all()
    if guard is not None:
        guard.check()  # no byte outside the array changed
    if is_array and (result is not a or not a.flags.writeable):
        assert _same(a, a_before)  # nor inside it
        assert region is None or (region == region_before).all()


@pytest.mark.parametrize("old, double", ODD)
def test_each_odd_scalar_as_old(old, double):
    x = np.array([2.0, 0.5, 12345.0, 7.0, 0.0 if double is None else double])
    if double is None:
        wanted = x.copy()
        with pytest.raises(TypeError, match="^`old` must be a number$"):
            replace(x, old, -1.0)
    else:
        wanted = expected(x, double, -1.0)
        assert replace(x, old, -1.0) is x
    assert _same(x, wanted)


@pytest.mark.parametrize(
    "dtype, old, new",
    [
        ("m8[s]", 0, 10**30),
        ("m8[s]", 0, 2**63),
        (RECORD, 0, INF),
        pytest.param(
            RECORD,
            0,
            2**31,
            marks=pytest.mark.skipif(
                np.lib.NumpyVersion(np.__version__) < "2.0.0",
                reason="NumPy 1 stores an int past the field's range wrapped "
                "instead of refusing it, and fennick.slow stores what "
                "NumPy stores",
            ),
        ),
        ("M8[D]", Fraction(0), 2**63),
    ],
)
def test_unrepresentable_new_raises_a_documented_error(dtype, old, new):
    x = np.zeros(3, dtype)
    with pytest.raises(DOCUMENTED):
        replace(x, old, new)
    assert (x == np.zeros(3, dtype)).all()
