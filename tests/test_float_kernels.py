"""IEEE semantics of the float64 and float32 loops: signed zeros, NaNs of
every sign and payload, infinities and the conversion of the scalars to
float32."""

import numpy as np
import pytest

from conftest import (
    NAN_BITS,
    bits_of,
    check_replace,
    float_from_bits,
    from_bits,
)
from fennick.dozudiror import replace

FLOATS = [np.float64, np.float32]
FLOAT_IDS = ["f8", "f4"]


def with_nans(dtype, n=21):
    """n elements: the NaNs of NAN_BITS spread among ordinary values."""
    x = np.arange(n, dtype=dtype) - 3
    x[-1] = np.inf
    nans = NAN_BITS[np.dtype(dtype).itemsize]
    positions = np.linspace(0, n - 2, len(nans)).astype(int)
    for pos, bits in zip(positions, nans, strict=True):
        x[pos] = from_bits(bits, dtype)
    return x, positions


def replaced_at(before, after):
    return np.flatnonzero(bits_of(before) != bits_of(after))


@pytest.mark.parametrize("dtype", FLOATS, ids=FLOAT_IDS)
@pytest.mark.parametrize("old", [0, 0.0, -0.0], ids=["int", "pos", "neg"])
def test_zero_matches_both_signed_zeros(dtype, old):
    x = np.array([0.0, -0.0, 1.0, -0.0, 2.0, 0.0, 0.0, -0.0, 3.0], dtype)
    assert replace(x, old, 5) is x
    np.testing.assert_array_equal(x, [5, 5, 1, 5, 2, 5, 5, 5, 3])


@pytest.mark.parametrize("dtype", FLOATS, ids=FLOAT_IDS)
def test_negative_zero_is_written_with_its_sign(dtype):
    x = np.ones(9, dtype)
    replace(x, 1, -0.0)
    assert np.signbit(x).all() and (x == 0).all()


@pytest.mark.parametrize("dtype", FLOATS, ids=FLOAT_IDS)
@pytest.mark.parametrize(
    "old_bits",
    [
        0x7FF8000000000000,
        0xFFF8000000000000,
        0x7FF0000000000001,
        0x7FF8000000001234,
    ],
    ids=["nan", "-nan", "snan", "payload"],
)
@pytest.mark.parametrize("step", [1, -1, 2])
def test_nan_old_matches_every_nan(dtype, old_bits, step):
    x, _ = with_nans(dtype)
    view = x[::step]
    before = view.copy()
    replace(view, float_from_bits(old_bits), 0)
    wanted = np.isnan(before)
    assert wanted.sum() >= 4
    np.testing.assert_array_equal(
        replaced_at(before, view), np.flatnonzero(wanted)
    )
    assert (view[wanted] == 0).all() and not np.signbit(view[wanted]).any()


@pytest.mark.parametrize("dtype", FLOATS, ids=FLOAT_IDS)
@pytest.mark.parametrize(
    "old", [1.0, 0.0, np.inf, -2.0], ids=["one", "zero", "inf", "negative"]
)
def test_unmatched_nans_keep_their_bits(dtype, old):
    x, positions = with_nans(dtype)
    before = x.copy()
    check_replace(x, old, 100)
    np.testing.assert_array_equal(
        bits_of(x)[positions], bits_of(before)[positions]
    )
    assert np.count_nonzero(x == 100) == 1


@pytest.mark.parametrize("dtype", FLOATS, ids=FLOAT_IDS)
def test_nan_new_is_written(dtype):
    x = np.array([1, 2, 1, 3, 1, 1, 1, 4, 1], dtype)
    replace(x, 1, np.nan)
    assert np.isnan(x).sum() == 6
    np.testing.assert_array_equal(x[~np.isnan(x)], [2, 3, 4])


@pytest.mark.parametrize(
    "new_bits",
    [0x8000000000000000, 0xFFF8000000C0FFEE, 0x7FF0000000000001],
    ids=["-0", "payload-nan", "signalling-nan"],
)
@pytest.mark.parametrize("n", [1, 4, 9])
def test_float64_new_is_written_bit_for_bit(new_bits, n):
    x = np.ones(n)
    replace(x, 1, float_from_bits(new_bits))
    assert (bits_of(x) == new_bits).all(), [hex(b) for b in bits_of(x)]


@pytest.mark.parametrize("dtype", FLOATS, ids=FLOAT_IDS)
def test_infinities_match_only_themselves(dtype):
    x = np.array(
        [np.inf, -np.inf, 1, np.inf, np.nan, -np.inf, 0, np.inf], dtype
    )
    replace(x, np.inf, 7)
    np.testing.assert_array_equal(x, [7, -np.inf, 1, 7, np.nan, -np.inf, 0, 7])
    replace(x, -np.inf, 8)
    np.testing.assert_array_equal(x, [7, 8, 1, 7, np.nan, 8, 0, 7])


def test_float32_old_is_rounded_to_float32():
    near = np.float32(0.1)
    neighbours = np.nextafter(near, [np.float32(0), np.float32(1)])
    y = np.array(
        [near, neighbours[0], near, neighbours[1], 0.1] * 3, np.float32
    )
    replace(y, 0.1, 1)
    np.testing.assert_array_equal(
        y, np.array([1, neighbours[0], 1, neighbours[1], 1] * 3, np.float32)
    )


@pytest.mark.parametrize("dtype", [np.float32, np.float16], ids=["f4", "f2"])
@pytest.mark.parametrize(
    "old, matches",
    [
        (1 / 2, 0),  # halfway: ties to even, down
        (3 / 2, 2),  # halfway: ties to even, up
        (1 / 2 + 2**-16, 1),  # just past halfway: up
        (1 / 2 - 2**-16, 0),  # just short of halfway: down
    ],
)
def test_conversion_rounds_to_nearest_even(dtype, old, matches):
    # `old` is 1 + old ulp, and matches 1 + matches ulp, with ulp the
    # type's step above 1.
    ulp = float(np.finfo(dtype).eps)
    candidates = np.array([1.0, 1 + ulp, 1 + 2 * ulp] * 4, dtype)
    y = candidates.copy()
    replace(y, 1 + old * ulp, -1)
    np.testing.assert_array_equal(
        y, np.where(candidates == 1 + matches * ulp, -1, candidates)
    )


def test_float32_overflow_becomes_infinity():
    y = np.array(
        [np.inf, 3e38, -np.inf, 1, np.inf, 0, 1, np.inf, 1], np.float32
    )
    replace(y, 1e300, 0)
    np.testing.assert_array_equal(
        y, np.array([0, 3e38, -np.inf, 1, 0, 0, 1, 0, 1], np.float32)
    )
    replace(y, -1e300, 2)
    np.testing.assert_array_equal(
        y, np.array([0, 3e38, 2, 1, 0, 0, 1, 0, 1], np.float32)
    )
    replace(y, 1, 1e300)
    replace(y, 2, -1e300)
    np.testing.assert_array_equal(
        y,
        np.array(
            [0, 3e38, -np.inf, np.inf, 0, 0, np.inf, 0, np.inf], np.float32
        ),
    )


def test_float32_new_is_converted_after_nan_old():
    y = np.array(
        [np.nan, 1, np.nan, 2, np.nan, 3, np.nan, 4, np.nan], np.float32
    )
    replace(y, np.nan, 1e300)
    np.testing.assert_array_equal(
        y, [np.inf, 1, np.inf, 2, np.inf, 3, np.inf, 4, np.inf]
    )
    replace(y, np.inf, 0.1)
    assert (y[::2] == np.float32(0.1)).all()


@pytest.mark.parametrize("old", [1e-50, -1e-50])
def test_float32_underflow_matches_both_zeros(old):
    y = np.array(
        [0.0, -0.0, 1e-45, 1, -0.0, 0.0, 0.0, 0.0, -1e-45], np.float32
    )
    replace(y, old, 7)
    np.testing.assert_array_equal(
        y, np.array([7, 7, 1e-45, 1, 7, 7, 7, 7, -1e-45], np.float32)
    )


def test_float32_subnormal_old():
    tiny = np.float32(1e-45)  # the smallest float32 subnormal
    y = np.array(
        [tiny, 0, -tiny, tiny, 2 * tiny, tiny, 0, 0, tiny], np.float32
    )
    replace(y, float(tiny), 3)
    np.testing.assert_array_equal(
        y, np.array([3, 0, -tiny, 3, 2 * tiny, 3, 0, 0, 3], np.float32)
    )


def test_float64_old_is_not_rounded():
    # 0.1 as a float32 is a different float64 from 0.1.
    x = np.array([0.1, float(np.float32(0.1))] * 4)
    replace(x, 0.1, 0)
    np.testing.assert_array_equal(x, [0, float(np.float32(0.1))] * 4)


@pytest.mark.parametrize("dtype", FLOATS, ids=FLOAT_IDS)
@pytest.mark.parametrize("n", [0, 1, 5, 8, 17])
def test_no_match_leaves_contents_equal(dtype, n):
    x = np.arange(n, dtype=dtype) + 1
    x[::3] = np.nan
    before = x.copy()
    assert replace(x, -5, 1) is x
    np.testing.assert_array_equal(bits_of(x), bits_of(before))
    assert replace(x, np.nan, 1) is x
    assert not np.isnan(x).any()


@pytest.mark.parametrize("dtype", FLOATS, ids=FLOAT_IDS)
def test_lanes_compare_every_bit(dtype):
    # Neighbours of `old` that share the upper or the lower half of its
    # bits must not match.
    uint = np.uint64 if dtype == np.float64 else np.uint32
    half = 32 if dtype == np.float64 else 16
    one = int(bits_of(np.array([1.0], dtype))[0])
    near = [
        one + 1,
        one + (1 << half),
        one - (1 << half),
        one ^ (1 << (2 * half - 1)),
    ]
    for n in range(4, 20):
        pool = np.array([one] + near + [0, 0], uint)
        x = np.resize(pool, n).view(dtype)
        check_replace(x, 1.0, 2.5)
        assert (x == 2.5).sum() == (n + 6) // 7
