"""Tests of the reference module fennick.slow and of the hand-off to it.

fennick.replace serves float64, float32, int64 and int32 arrays in native
byte order itself and passes everything else, arguments untouched, to
fennick.slow.replace.  A byte-swapped copy of a native array therefore runs
the reference code on the same values, which lets the two be compared.
"""

import datetime
import subprocess
import sys
import textwrap
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import fennick
from conftest import INF, NAN, Index, bits_of, frozen, generic_timedelta
from fennick import slow

NATIVE = ["f8", "f4", "l", "i4"]  # type numbers 12, 11, 7, 5


def swapped(x):
    return x.astype(x.dtype.newbyteorder(">"))


def outcome(x, old, new):
    """Call fennick.replace; return the error as (type, message) or None."""
    try:
        result = fennick.replace(x, old, new)
    except Exception as exc:
        return type(exc), str(exc)
    assert result is x
    return None


def sample(code):
    """Twelve edge values of a native element type."""
    if code[0] == "f":
        width = np.dtype(f"u{np.dtype(code).itemsize}")
        quiet = int(np.array(NAN, code).view(width))
        sign = 1 << (8 * width.itemsize - 1)
        payloads = np.array([quiet | 1, quiet | sign | 5], width).view(code)
        return np.concatenate(
            [
                np.array(
                    [0.0, -0.0, 1.0, 0.1, 2.5, 1e-40, 2.0**53, INF, -INF, NAN],
                    code,
                ),
                payloads,
            ]
        )
    info = np.iinfo(code)
    return np.array(
        [
            0,
            1,
            -1,
            2,
            7,
            info.min,
            info.max,
            info.min + 1,
            info.max - 1,
            min(2**53, info.max),
            2**31 - 1,
            -5,
        ],
        code,
    )


SCALARS = [
    (0, 5),
    (-0.0, 7),
    (NAN, 0),
    (1, NAN),
    (INF, 0),
    (-INF, 1),
    (0.1, 2),
    (1e300, 0),
    (1, 1e300),
    (1e-50, 3),
    (2.5, 5),
    (1.5, 2.5),
    (NAN, 2.5),
    (NAN, INF),
    (1, -0.0),
    (2.0, -1),
    (7, 2**31),
    (0, -(2**31)),
    (3e9, 0),
    (-(2**31), 1),
    (2**63, 0),
    (-(2**63), 1),
    (2**63 - 1, 0),
    (0, 2**63 - 1),
    (2**53 + 1, 0),
    (True, False),
    (np.float32(0.1), 9),
    (Fraction(5, 2), 0),
    (Index(7), 3),
    ("1", 0),
    (0, "1"),
    (None, None),
    (10**400, 0),
    (1, 10**400),
    (1 + 0j, 0),
    (0, [1]),
    (np.complex128(1j), 0),
    (0, np.complex64(1)),
    (2**63 - 1, 2**53 + 1),
    (np.uint64(2**64 - 1), 0),
]


@pytest.mark.parametrize("code", NATIVE)
@pytest.mark.parametrize("old, new", SCALARS)
def test_byte_swapped_agrees_with_native(code, old, new):
    native = sample(code)
    big = swapped(native)
    assert outcome(big, old, new) == outcome(native, old, new)
    np.testing.assert_array_equal(
        bits_of(big, native=True), bits_of(native, native=True)
    )


@pytest.mark.parametrize("code", NATIVE)
@pytest.mark.parametrize("old, new", [(0, 9), (99, 9), (NAN, 0), (2.5, 1)])
def test_read_only_agrees_with_native(code, old, new):
    native = sample(code)
    big = swapped(native)
    before = bits_of(native, native=True)
    native.flags.writeable = big.flags.writeable = False
    assert outcome(big, old, new) == outcome(native, old, new)
    np.testing.assert_array_equal(bits_of(big, native=True), before)
    np.testing.assert_array_equal(bits_of(native, native=True), before)


@pytest.mark.parametrize("code", NATIVE)
@pytest.mark.parametrize(
    "view",
    [
        lambda x: x[::-1],
        lambda x: x[:, ::2],
        lambda x: x.T,
        lambda x: x[1, 2, ...],
        lambda x: x[:0],
        lambda x: x[None, 1],
    ],
    ids=["reversed", "strided", "transposed", "0-d", "empty", "newaxis"],
)
def test_layouts_agree_with_native(code, view):
    native = sample(code).reshape(3, 4)
    big = swapped(native)
    old = native[1, 2].item()
    assert outcome(view(big), old, 5) == outcome(view(native), old, 5)
    np.testing.assert_array_equal(
        bits_of(big, native=True), bits_of(native, native=True)
    )


VALUE = st.one_of(
    st.floats(), st.integers(-(2**64), 2**64), st.sampled_from([-0.0, NAN])
)


@settings(max_examples=300, deadline=None)
@given(
    st.sampled_from(NATIVE),
    st.lists(st.integers(0, 11), max_size=20),
    VALUE,
    VALUE,
)
def test_random_calls_agree_with_native(code, picks, old, new):
    native = sample(code)[picks]
    big = swapped(native)
    assert outcome(big, old, new) == outcome(native, old, new)
    np.testing.assert_array_equal(
        bits_of(big, native=True), bits_of(native, native=True)
    )


# Every integer width, the native ones and byte-swapped ones included.
INTEGERS = [
    "i1",
    "u1",
    "i2",
    "u2",
    "i4",
    "u4",
    "l",
    "u8",
    "q",
    ">i8",
    ">u8",
    ">u2",
    ">i4",
]
SENTINELS = [-(2**63), -(2**31), -1, 2**31 - 1, 2**63 - 1, 2**64 - 1]


def numpy_integer(v):
    return np.int64(v) if v < 2**63 else np.uint64(v)


def timedelta(v):
    """A timedelta64 (a signed integer) where one holds `v`; its minimum
    is NaT, not a number."""
    return generic_timedelta(v) if -(2**63) < v < 2**63 else numpy_integer(v)


class NanInt(int):
    """An int whose float conversion is NaN: its own value still counts."""

    def __float__(self):
        return NAN


@pytest.mark.parametrize("code", INTEGERS)
@pytest.mark.parametrize(
    "form",
    [int, numpy_integer, timedelta, NanInt],
    ids=["int", "numpy", "timedelta", "nan-float"],
)
def test_integer_sentinels_are_exact_in_every_integer_type(code, form):
    info = np.iinfo(code)
    for v in sorted({info.min, info.max, *SENTINELS}):
        x = np.array([info.min, 5, info.max, 5], code)
        fits = info.min <= v <= info.max
        if fits:
            wanted = [info.min, v, info.max, v]
            assert fennick.replace(x, form(5), form(v)) is x
            assert x.tolist() == wanted
            assert fennick.replace(x, form(v), 5).tolist() == [
                5 if w == v else w for w in wanted
            ]
        else:
            for old, new, name in [(v, 5, "old"), (5, v, "new")]:
                with pytest.raises(
                    ValueError, match=f"^Cannot safely cast `{name}` "
                ):
                    fennick.replace(x, form(old), form(new))
            assert x.tolist() == [info.min, 5, info.max, 5]


@pytest.mark.parametrize("code", INTEGERS)
def test_other_numbers_must_be_integral_doubles_in_range(code):
    info = np.iinfo(code)
    x = np.array([info.min, 5, 2], code)
    assert fennick.replace(x, 5.0, np.float32(2)) is x
    assert x.tolist() == [info.min, 2, 2]
    for old, new, name in [
        (float(info.max) * 2, 0, "old"),
        (0.5, 0, "old"),
        (Fraction(1, 2), 0, "old"),
        (0, INF, "new"),
        (0, NAN, "new"),
        (1.5, 2**70, "old"),
        (2**70, 1.5, "old"),
    ]:
        with pytest.raises(ValueError, match=f"^Cannot safely cast `{name}` "):
            fennick.replace(x, old, new)
    assert fennick.replace(x, NAN, 0.5) is x
    assert x.tolist() == [info.min, 2, 2]


def test_longlong_behaves_like_long():
    for old, new in SCALARS:
        x, y = sample("l"), sample("l").astype("q")
        assert y.dtype.num == 9
        assert outcome(y, old, new) == outcome(x, old, new)
        np.testing.assert_array_equal(y, x)


@pytest.mark.parametrize("code", ["f2", ">f2", ">f4"])
def test_narrow_floats_round_like_float32(code):
    x = np.array([0.1, 0.0, -0.0, INF, -INF, NAN, 1.0], code)
    fennick.replace(x, 0.1, 2)  # the element type's nearest value to 0.1
    fennick.replace(x, 1e-60, 3)  # rounds to zero, matches both zeros
    fennick.replace(x, 1e300, 4)  # rounds to +inf
    fennick.replace(x, NAN, 1e300)  # writes +inf
    expected = np.array([2, 3, 3, 4, -INF, INF, 1], code)
    np.testing.assert_array_equal(x, expected)
    z = np.array(-NAN, code)
    assert fennick.replace(z, NAN, 5) is z and z == 5


@pytest.mark.parametrize("code", ["g", ">g"])
def test_long_double(code):
    eps = np.finfo("g").eps
    x = np.array([1, 1, 1e300, NAN, -0.0], code)
    x[1] += eps  # not a double: a double `old` cannot match it
    fennick.replace(x, 1.0, 0)
    fennick.replace(x, 1e300, 0.1)
    fennick.replace(x, NAN, 0.0)
    fennick.replace(x, 0, 9)
    assert x.tolist() == [9, 1 + eps, 0.1, 9, 9]


@pytest.mark.parametrize("code", ["c8", "c16", ">c16", "G", ">c8"])
def test_complex(code):
    nan_parts = [complex(NAN, 1), complex(1, NAN), complex(NAN, NAN)]
    x = np.array([1 + 2j, 0.1, 3, *nan_parts], code)
    for nan_old in (NAN, complex(0, NAN), np.complex64(complex(NAN, 0))):
        y = x.copy()
        assert slow.replace(y, nan_old, 7j) is y
        np.testing.assert_array_equal(y[3:], 7j)
        np.testing.assert_array_equal(y[:3], x[:3])
    slow.replace(x, 1 + 2j, 5)
    fennick.replace(x, 0.1, 6)  # rounded to the element type first
    fennick.replace(x, Index(3), np.float32(2.5))
    assert x[:3].tolist() == [5, 6, 2.5]
    with pytest.raises(TypeError, match="^`new` must be a number$"):
        slow.replace(x, 1, "1")


def test_complex_old_needs_the_reference_route():
    x = np.array([1, 2], "c16")
    with pytest.raises(TypeError, match="^`old` must be a number$"):
        fennick.replace(x, 1 + 0j, 0)  # the native module wants a real
    y = swapped(x)
    fennick.replace(y, 1 + 0j, 1j)
    assert y.tolist() == [1j, 2]


def test_bool():
    x = np.array([True, False, False])
    fennick.replace(x, 0, 1)
    assert x.all()
    fennick.replace(x, 2, 0)  # no bool equals 2
    fennick.replace(x, NAN, 0)
    assert x.all()
    fennick.replace(x, True, 0.0)
    assert not x.any()
    fennick.replace(x, NanInt(0), NanInt(1))  # ints by their own value
    assert x.all()
    fennick.replace(x, NanInt(1), NanInt(0))
    assert not x.any()
    with pytest.raises(TypeError, match="^`old` must be a number$"):
        fennick.replace(x, "0", 1)


def test_numpy_equality_for_other_types():
    # Native-order arrays get here only with numbers for `old` and `new`
    # (fennick.replace converts them first), so most calls are direct.
    s = np.array(["ab", "c", "ab"], ">U2")  # big-endian: raw scalars pass
    assert fennick.replace(s, "ab", "z") is s
    assert s.tolist() == ["z", "c", "z"]
    b = np.array([b"x", b"y"])
    assert slow.replace(b, b"y", b"w") is b
    assert b.tolist() == [b"x", b"w"]
    o = np.array([None, (1, 2), 3, (1, 2)], object)
    slow.replace(o, (1, 2), [4])  # a sequence is one value here
    assert o.tolist() == [None, [4], 3, [4]]
    # A NaN `old` matches the float NaNs of an object array, and only them.
    o = np.array([NAN, np.float32(NAN), "nan", complex(NAN, 0), 1.0], object)
    assert fennick.replace(o, np.float16(NAN), 0) is o
    assert o.tolist()[:2] == [0, 0] and o[2] == "nan" and o[4] == 1.0
    d = np.array(["2020-01-01", "NaT"], "M8[D]")
    slow.replace(d, np.datetime64("2020-01-01"), np.datetime64("1999-12-31"))
    assert d.astype(str).tolist() == ["1999-12-31", "NaT"]
    r = np.array([(1, 2.5), (0, 0.0)], "i4,f8")
    slow.replace(r, (0, 0.0), (7, 7.5))
    assert r.tolist() == [(1, 2.5), (7, 7.5)]


DAY = np.datetime64("2024-03-01", "D")
NAT_DAY = np.datetime64("NaT", "D")


def days(*values, code="M8[D]"):
    """A datetime64 array of `values` (dates as strings, or "NaT")."""
    return np.array(values, "M8[D]").astype(code)


# (array, old, new, the array afterwards): every form of old and new that
# dates and durations take, through fennick.replace and each byte order.
DATE_CALLS = [
    # a NaT old matches every NaT, whatever its unit
    (days("NaT", "2024-03-01", "NaT"), NAT_DAY, DAY, ["2024-03-01"] * 3),
    (
        days("NaT", "2024-03-01", code="M8[s]"),
        np.datetime64("NaT", "ns"),
        np.datetime64("2000-01-01", "Y"),
        ["2000-01-01T00:00:00", "2024-03-01T00:00:00"],
    ),
    (days("2024-03-01", "NaT"), DAY, NAT_DAY, ["NaT", "NaT"]),
    # a coarser or an exact finer unit, a string, datetime objects
    (
        days("2024-03-01", "2024-03-02", code="M8[ms]"),
        DAY,
        np.datetime64("2024-03-02T00:00:00.000000000"),
        ["2024-03-02T00:00:00.000", "2024-03-02T00:00:00.000"],
    ),
    (
        days("2024-03-01"),
        np.datetime64("2024-03-01T00:00:00"),
        0,
        ["1970-01-01"],
    ),
    (
        days("2024-03-01"),
        "2024-03-01",
        datetime.date(1999, 1, 2),
        ["1999-01-02"],
    ),
    (
        days("2024-03-01", code="M8[us]"),
        datetime.datetime(2024, 3, 1),
        "2024-03-02T12",
        ["2024-03-02T12:00:00.000000"],
    ),
    # integers count the array's own unit
    (days("1970-01-02", "NaT"), 1, np.int8(3), ["1970-01-04", "NaT"]),
    (
        np.array([1, 3], "M8[s]"),
        1,
        2,
        ["1970-01-01T00:00:02", "1970-01-01T00:00:03"],
    ),
    (days("NaT"), -(2**63), np.uint64(5), ["1970-01-06"]),  # NaT's ticks
    (np.array([5, -5, 5], "m8[ms]"), 5, -1, [-1, -5, -1]),
    (
        np.array([1500, 0], "m8[ms]"),
        datetime.timedelta(seconds=1.5),
        np.timedelta64(2, "s"),
        [2000, 0],
    ),
    (
        np.array([-5, 3], "m8[s]"),
        np.timedelta64(-5000, "ms"),
        generic_timedelta(7),  # NumPy's unit-less duration: ticks as well
        [7, 3],
    ),
    (np.array([-5, 3], "m8[s]"), generic_timedelta(3), 0, [-5, 0]),
    (
        np.array([0, -(2**63)], "m8[h]"),
        np.timedelta64("NaT", "s"),
        np.timedelta64(1, "D"),
        [0, 24],
    ),
]


def _values(x):
    """Dates as strings, durations as tick counts, in either byte order."""
    x = x.astype(x.dtype.newbyteorder("="))
    return (
        x.astype(str).tolist()
        if x.dtype.kind == "M"
        else x.view("i8").tolist()
    )


@pytest.mark.parametrize("swap", [False, True], ids=["native", "swapped"])
@pytest.mark.parametrize("x, old, new, after", DATE_CALLS)
def test_dates_and_durations(x, old, new, after, swap):
    if swap:
        x = swapped(x)
    assert fennick.replace(x, old, new) is x
    assert _values(x) == after


OLD_CAST, NEW_CAST = (
    "Cannot safely cast `old` to int",
    "Cannot safely cast `new` to int",
)


@pytest.mark.parametrize(
    "x, old, new, error",
    [
        # casts that lose information, or that NumPy's assignment refuses
        (days("2024-03-01"), np.datetime64("2024-03-01T12", "h"), 0, OLD_CAST),
        (
            days("2024-03-01"),
            DAY,
            np.datetime64("2024-03-01T00:00:01"),
            NEW_CAST,
        ),
        (
            days("2024-03-01", code="M8[ns]"),
            np.datetime64("3000-01-01"),
            0,
            OLD_CAST,
        ),
        (np.zeros(2, "m8[D]"), np.timedelta64(1, "Y"), 0, OLD_CAST),
        (np.zeros(2, "m8[s]"), 0, np.timedelta64(1, "M"), NEW_CAST),
        (np.zeros(2, "m8[s]"), 2**63, 0, OLD_CAST),
        (np.zeros(2, "m8[s]"), 0, -(2**63) - 1, NEW_CAST),
        # values of another kind
        (
            days("2024-03-01"),
            0.0,
            0,
            "cannot compare elements of dtype datetime64[D] with `old`",
        ),
        (
            days("2024-03-01"),
            True,
            0,
            "cannot compare elements of dtype datetime64[D] with `old`",
        ),
        (
            days("2024-03-01"),
            np.timedelta64(0, "D"),
            0,
            "cannot compare elements of dtype datetime64[D] with `old`",
        ),
        (
            days("2024-03-01"),
            "not a date",
            0,
            "cannot compare elements of dtype datetime64[D] with `old`",
        ),
        (
            np.zeros(2, "m8[s]"),
            DAY,
            0,
            "cannot compare elements of dtype timedelta64[s] with `old`",
        ),
        (
            np.zeros(2, "m8[s]"),
            "1",
            0,
            "cannot compare elements of dtype timedelta64[s] with `old`",
        ),
        (
            np.zeros(2, "m8[s]"),
            0,
            1.5,
            "cannot store `new` in elements of dtype timedelta64[s]",
        ),
        (
            days("2024-03-01"),
            0,
            None,
            "cannot store `new` in elements of dtype datetime64[D]",
        ),
        # `old` is read first
        (
            np.zeros(2, "m8[s]"),
            0.5,
            2**64,
            "cannot compare elements of dtype timedelta64[s] with `old`",
        ),
    ],
)
def test_dates_and_durations_refused(x, old, new, error):
    before = x.copy()
    kind = (
        ValueError
        if error.startswith(("Cannot", "cannot store"))
        else TypeError
    )
    for y in (x, swapped(x), frozen(x)):
        with pytest.raises(kind) as info:
            fennick.replace(y, old, new)
        assert str(info.value) == error.replace(str(x.dtype), str(y.dtype))
    assert (x.view("i8") == before.view("i8")).all()


def test_dates_and_durations_many():
    x = days("NaT", "2024-03-01", "1970-01-02", "2024-03-02")
    # olds of one element (every NaT, in any unit) must agree on the new
    with pytest.raises(ValueError, match="^`old.0.` and `old.1.` match"):
        fennick.replace_many(x, [NAT_DAY, np.datetime64("NaT", "s")], [1, 2])
    with pytest.raises(
        ValueError, match="^Cannot safely cast `old.1.` to int$"
    ):
        fennick.replace_many(x, [DAY, np.datetime64("2024-03-02T01")], 0)
    with pytest.raises(
        ValueError, match="^Cannot safely cast `new.1.` to int$"
    ):
        fennick.replace_many(x, [1, 2], [0, np.datetime64("2024-03-02T01")])
    assert _values(x) == ["NaT", "2024-03-01", "1970-01-02", "2024-03-02"]
    got = fennick.replace_many(
        x, {NAT_DAY: DAY, "2024-03-01": -(2**63), 1: np.int64(2)}
    )
    assert got is x
    assert _values(x) == ["2024-03-01", "NaT", "1970-01-03", "2024-03-02"]
    y = np.array([-5, 0, 5], "m8[ms]")
    fennick.replace_many(y, np.array([-5, 5]), np.timedelta64(1, "s"))
    assert _values(y) == [1000, 0, 1000]


@pytest.mark.parametrize(
    "x, old",
    [
        (np.array(["a"]), 1),
        (np.array([b"a"]), "a"),
        (np.array(["a"], ">U1"), 1),
        (np.array(["2020-01-01"], "M8[D]"), 0.5),
        (np.array(["2020-01-01"], "M8[D]"), np.timedelta64(1, "D")),
        (np.array([1], "m8[s]"), "1"),
        (np.zeros(2, "i4,f8"), "x"),
        (np.array([None, np.zeros(2)], object)[1:], 0.0),  # ambiguous truth
    ],
)
def test_uncomparable_old(x, old):
    before = repr(x.tolist())
    with pytest.raises(TypeError, match="^cannot compare elements of dtype"):
        slow.replace(x, old, old)
    assert repr(x.tolist()) == before


def test_direct_calls():
    x = np.ma.array([1, 2, 3], dtype="i2")
    assert slow.replace(new=9, old=2, a=x) is x
    assert x.tolist() == [1, 9, 3]
    with pytest.raises(TypeError, match="^works in place so input must be"):
        slow.replace([1, 2], 1, 2)


def test_read_only():
    for x in (swapped(np.arange(4.0)), np.frombuffer(b"\0\1\2\3", "i1")):
        before = x.copy()
        x.flags.writeable = False
        for old in (1, 99):
            with pytest.raises(
                ValueError, match="^assignment destination is read-only$"
            ):
                fennick.replace(x, old, 9)
        np.testing.assert_array_equal(x, before)


def test_arguments_pass_through(monkeypatch):
    calls = []
    sentinel = object()

    def recorder(*args, **kwargs):
        calls.append((args, kwargs))
        return sentinel

    monkeypatch.setattr(slow, "replace", recorder)
    x = np.zeros(3, "i1")
    old = object()
    assert fennick.replace(a=x, old=0, new=1) is sentinel
    assert calls[-1][0] == () and list(calls[-1][1]) == ["a", "old", "new"]
    assert calls[-1][1]["a"] is x
    assert fennick.replace(x, 0, 1) is sentinel
    assert calls[-1][0][0] is x and calls[-1][0][1:] == (0, 1)
    assert not calls[-1][1]
    y = swapped(np.zeros(3))
    assert fennick.replace(y, old, new="s") is sentinel
    assert calls[-1][0][1] is old and calls[-1][1] == {"new": "s"}
    assert not x.any() and not y.any()


def run(code):
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.splitlines()


PRELUDE = """
    import sys
    import numpy as np
    import fennick

    def attempt(x):
        try:
            fennick.replace(x, 1, 5)
        except Exception as exc:
            return f"{type(exc).__name__}: {exc}"
        return str(x.tolist())

    x = np.array([1, 2], "i2")
"""


def test_unimportable_reference_module_is_retried():
    assert run(
        PRELUDE
        + """
    sys.modules["fennick.slow"] = None
    print(attempt(x))
    del sys.modules["fennick.slow"]
    print(attempt(x))
    """
    ) == ["RuntimeError: Cannot import fennick.slow", "[5, 2]"]


@pytest.mark.parametrize(
    "change, message",
    [
        (
            "del fennick.slow.replace",
            "RuntimeError: Cannot import replace from fennick.slow",
        ),
        (
            "fennick.slow.replace = 5",
            "RuntimeError: fennick.slow.replace is not callable",
        ),
        (
            "def boom(*a, **k): raise KeyError('boom')\n"
            "    fennick.slow.replace = boom",
            "KeyError: 'boom'",
        ),
    ],
)
def test_reference_function_failures(change, message):
    assert run(
        PRELUDE
        + f"""
    import fennick.slow
    {change}
    print(attempt(x))
    """
    ) == [message]
