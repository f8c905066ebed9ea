"""The int64 and int32 loops: `old` and `new` must be exact values of the
element type (ints and NumPy integers by their own value, other numbers by
their double); everything else is refused before the array is touched."""

import numpy as np
import pytest

from conftest import (
    INF,
    INT_RANGE,
    NAN,
    NEW_CAST,
    OLD_CAST,
    IntSub,
    check_replace,
    raises_msg,
)
from fennick.dozudiror import replace

I8, I4 = np.dtype("l"), np.dtype("i")
INTS = [I8, I4]
INT_IDS = ["i8", "i4"]

BAD_EITHER = [
    (2.5, 0, OLD_CAST),
    (-0.5, 0, OLD_CAST),
    (1.5, 2.5, OLD_CAST),
    (INF, 0, OLD_CAST),
    (-INF, 0, OLD_CAST),
    (1e300, NAN, OLD_CAST),
    (0, 2.5, NEW_CAST),
    (0, 1e-300, NEW_CAST),
    (1, NAN, NEW_CAST),
    (1, INF, NEW_CAST),
    (1, -INF, NEW_CAST),
]
BAD_I4 = [
    (3e9, 0, OLD_CAST),
    (2**31, 0, OLD_CAST),
    (-(2**31) - 1, 0, OLD_CAST),
    (0, 2**31, NEW_CAST),
    (0, -(2**31) - 1, NEW_CAST),
    (0, 3e9, NEW_CAST),
]
BAD_I8 = [
    (2**63, 0, OLD_CAST),
    (float(2**63 - 1), 0, OLD_CAST),  # the double is 2**63
    (-(2**63) - 1, 0, OLD_CAST),
    (np.uint64(2**63), 0, OLD_CAST),
    (1e19, 0, OLD_CAST),
    (0, 2**63, NEW_CAST),
    (0, np.float64(2**63 - 1), NEW_CAST),
    (0, -(2**63) - 1, NEW_CAST),
    (2**64, 2**65, OLD_CAST),
]
BAD = [(I8, *case) for case in BAD_EITHER + BAD_I8] + [
    (I4, *case) for case in BAD_EITHER + BAD_I4
]


@pytest.mark.parametrize(
    "dtype, old, new, message",
    BAD,
    ids=[f"{d.char}-{o!r}-{n!r}" for d, o, n, _ in BAD],
)
def test_inexact_scalars_are_refused(dtype, old, new, message):
    lo, hi = INT_RANGE[dtype]
    x = np.array([0, 1, 2, lo, hi, 0, 1, 2, 0, 1, 0], dtype)
    before = x.copy()
    with raises_msg(ValueError, message):
        replace(x, old, new)
    with raises_msg(ValueError, message):
        replace(x[::-2], old=old, new=new)
    np.testing.assert_array_equal(x, before)


@pytest.mark.parametrize("dtype", INTS, ids=INT_IDS)
@pytest.mark.parametrize("new", [5, 2.5, INF, -INF, NAN, 1e300, 2**64])
def test_nan_old_is_a_no_op(dtype, new):
    x = np.array([0, 1, 2, 3, 0, 1, 2, 3, 0], dtype)
    assert replace(x, NAN, new) is x
    np.testing.assert_array_equal(x, [0, 1, 2, 3, 0, 1, 2, 3, 0])


@pytest.mark.parametrize("dtype", INTS, ids=INT_IDS)
@pytest.mark.parametrize(
    "old, new", [(2.0, 5), (2, 5.0), (-0.0, 5), (np.float32(2), np.int8(5))]
)
def test_integral_floats_are_exact(dtype, old, new):
    x = np.array([0, 2, 1, 2, 0, 2, 3, 2, 2], dtype)
    check_replace(x, old, new)


@pytest.mark.parametrize("dtype", INTS, ids=INT_IDS)
def test_negative_zero_replaces_zeros(dtype):
    x = np.array([0, 1, 0, -1, 0, 0, 0, 0, 0], dtype)
    replace(x, -0.0, 5)
    np.testing.assert_array_equal(x, [5, 1, 5, -1, 5, 5, 5, 5, 5])


@pytest.mark.parametrize("dtype", INTS, ids=INT_IDS)
def test_range_limits_are_accepted(dtype):
    lo, hi = INT_RANGE[dtype]
    x = np.zeros(9, dtype)
    replace(x, 0, lo)
    assert (x == lo).all()
    replace(x, lo, 7)
    assert (x == 7).all()
    if dtype == I4:
        # Every int32 is exact as a double, the maximum included.
        replace(x, 7, hi)
        assert (x == hi).all()
        replace(x, hi, 3)
        assert (x == 3).all()


BIG = [
    2**53,
    2**53 + 1,
    2**53 + 2,
    2**62 - 1,
    2**62,
    2**62 + 1,
    2**63 - 1024,
    2**63 - 2,
    2**63 - 1,
    -(2**63),
    -(2**63) + 1,
    0,
    1,
]


@pytest.mark.parametrize(
    "form",
    [int, np.int64, np.uint64, IntSub],
    ids=["int", "np.int64", "np.uint64", "int-subclass"],
)
@pytest.mark.parametrize("old", BIG[:10])
def test_int64_takes_integers_exactly(form, old):
    if form is np.uint64 and old < 0:
        pytest.skip("not a uint64")
    new = 2**63 - 1 if old != 2**63 - 1 else 2**62 - 1  # INT64_MAX sentinel
    x = np.array(BIG, I8)
    wanted = x.copy()
    wanted[wanted == old] = new
    assert replace(x, form(old), form(new)) is x
    np.testing.assert_array_equal(x, wanted)
    assert (x != np.array(BIG)).sum() == 1  # only `old` itself, exactly


def test_other_numbers_pass_through_a_double():
    x = np.array(BIG, I8)
    replace(x, float(2**53 + 1), 7)  # the double is 2**53
    replace(x, np.float64(2**62 + 1), 8)  # and here 2**62
    replace(x, True, False)  # bools are ints: 1 becomes 0
    assert x[:6].tolist() == [7, 2**53 + 1, 2**53 + 2, 2**62 - 1, 8, 2**62 + 1]
    assert x[-2:].tolist() == [0, 0]


@pytest.mark.parametrize("dtype", INTS, ids=INT_IDS)
def test_lanes_compare_every_bit(dtype):
    # Values that agree with `old` in one half of their bits must not match,
    # and `new` must be written in full.
    half = 32 if dtype == I8 else 16
    old, new = 5, -(2 ** (2 * half - 14)) + 3
    near = [
        5 + 2**half,
        5 - 2**half,
        5 + 2 ** (2 * half - 2),
        5 - 2 ** (2 * half - 1),
        4,
        7,
    ]
    for n in range(4, 20):
        x = np.resize(np.array([old] + near, dtype), n)
        check_replace(x, old, new)
        assert (x == new).sum() == (n + 6) // 7


@pytest.mark.parametrize("dtype", INTS, ids=INT_IDS)
@pytest.mark.parametrize("which", range(7))
def test_extreme_values(dtype, which):
    lo, hi = INT_RANGE[dtype]
    values = [lo, hi, -1, 0, 1, lo + 1, hi - 1]
    x = np.resize(np.array(values, dtype), 23)
    old = values[which]
    check_replace(x, old, values[(which + 3) % 7])
