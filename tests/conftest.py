"""Shared helpers for the tests of fennick.

The oracle below restates the behaviour of ``replace`` with plain NumPy
masks; the buffer helpers place arrays inside larger byte regions so that a
test can prove no byte outside an array (or view) was written.  Around
them: the messages, inputs, bit tables and fills that several test files
use.
"""

import contextlib
import math
import platform
import warnings

import numpy as np
import pytest
from hypothesis import Phase, settings

import fennick
from fennick.dozudiror import replace

NAN, INF = float("nan"), float("inf")


@pytest.fixture(scope="session", autouse=True)
def _what_ran(record_testsuite_property):
    """Names in --junitxml's report what the suite ran on: CI checks that
    fennick came from the environment's site-packages, not the tree."""
    record_testsuite_property("python", platform.python_version())
    record_testsuite_property("numpy", np.__version__)
    record_testsuite_property("fennick", fennick.__file__)


# The mutation check's runs (.ci/mutants.py): repeatable, and a failure
# reported without shrinking it, as only whether a test fails counts.
settings.register_profile(
    "mutants",
    derandomize=True,
    database=None,
    phases=[Phase.explicit, Phase.generate],
    print_blob=False,
)


# The four element types served by native loops: float64, float32 and the
# platform's long (64-bit) and int (32-bit).
NATIVE_DTYPES = [np.dtype("d"), np.dtype("f"), np.dtype("l"), np.dtype("i")]
NATIVE_IDS = ["f8", "f4", "i8", "i4"]


def generic_timedelta(v):
    """np.timedelta64(v) in NumPy's unit-less "generic" unit: a signed
    NumPy integer to fennick's numeric arrays.  NumPy 2.5 deprecates
    building one from an int; a view of int64 builds it without the
    warning, while NumPy still has the unit."""
    return np.array(v, np.int64).view("m8")[()]


def set_dtype(x, dtype):
    """x.dtype = dtype, which NumPy 2.5 deprecates; fennick must still
    cope with arrays whose dtype changes under it while NumPy allows it."""
    with warnings.catch_warnings():
        warnings.filterwarnings(
            "ignore", "Setting the dtype", DeprecationWarning
        )
        x.dtype = dtype


def int_range(dtype):
    info = np.iinfo(dtype)
    return int(info.min), int(info.max)


INT_RANGE = {d: int_range(d) for d in (np.dtype("l"), np.dtype("i"))}

# --- messages -------------------------------------------------------------

NOT_ARRAY = "works in place so input must be an array, not (e.g.) a list"
OLD_NUMBER = "`old` must be a number"
NEW_NUMBER = "`new` must be a number"
OLD_CAST = "Cannot safely cast `old` to int"
NEW_CAST = "Cannot safely cast `new` to int"
READ_ONLY = "assignment destination is read-only"


@contextlib.contextmanager
def raises_msg(exc_type, message):
    """Like pytest.raises, but the message must be exactly `message`."""
    with pytest.raises(exc_type) as info:
        yield info
    assert str(info.value) == message


# --- inputs ---------------------------------------------------------------

# Things that are not arrays, by name.
NON_ARRAYS = {
    "list": [0.0, 1.0],
    "tuple": (0.0, 1.0),
    "float": 0.0,
    "int": 3,
    "None": None,
}


def frozen(values):
    """A read-only copy of `values`."""
    a = np.array(values, copy=True)
    a.setflags(write=False)
    return a


def frozen_view(values):
    """A reversed, strided view of a read-only copy."""
    return frozen(np.repeat(values, 2))[::-2]


def broadcast(values):
    """`values` seen four times over: read-only, as broadcasts are."""
    return np.broadcast_to(values, (4,) + values.shape)


def over_bytes(values):
    """A copy of `values` over a bytes object, which is never writeable."""
    return np.frombuffer(values.tobytes(), values.dtype)


READ_ONLY_MAKERS = [frozen, frozen_view, broadcast, over_bytes]


class IntSub(int):
    """An int whose float conversion disagrees with its value."""

    def __float__(self):
        return 0.5


class Index:
    """A number only through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


# --- bits -----------------------------------------------------------------

BITS = {1: np.uint8, 2: np.uint16, 4: np.uint32, 8: np.uint64}

# NaNs of every kind, by element size: quiet, negative, signalling,
# negative signalling, payload-carrying, all ones, negative all ones, and
# a signalling one with a high payload bit.
NAN_BITS = {
    8: [
        0x7FF8000000000000,
        0xFFF8000000000000,
        0x7FF0000000000001,
        0xFFF0000000000001,
        0x7FF8DEADBEEF0001,
        0x7FFFFFFFFFFFFFFF,
        0xFFFFFFFFFFFFFFFF,
        0x7FF4000000000000,
    ],
    4: [
        0x7FC00000,
        0xFFC00000,
        0x7F800001,
        0xFF800001,
        0x7FC0BEEF,
        0x7FFFFFFF,
        0xFFFFFFFF,
        0x7FA00000,
    ],
    2: [0x7E00, 0xFE00, 0x7C01, 0xFC01, 0x7E55, 0x7FFF, 0xFFFF, 0x7D00],
}


def from_bits(bits, dtype=np.float64):
    """The value (or array, for a list) of `dtype` with the given bit
    pattern(s), NaN payloads included."""
    dtype = np.dtype(dtype)
    return np.array(bits, BITS[dtype.itemsize]).view(dtype)[()]


def float_from_bits(bits):
    """A Python float with the given 64-bit pattern (payload kept)."""
    return float(from_bits(bits, np.float64))


def bits_of(a, native=False):
    """The bits of a float or int array as unsigned integers: as stored, or
    with `native` of its values in native byte order, so that a
    byte-swapped array and a native one compare."""
    if native:
        a = a.astype(a.dtype.newbyteorder("="))
    a = np.ascontiguousarray(a)
    return a.view(BITS[a.dtype.itemsize])


# --- the oracle -----------------------------------------------------------


def exact_value(value):
    """What an integer loop compares or writes for `value`: an int's or a
    NumPy integer's own value, else the double when it is integral."""
    if isinstance(value, (int, np.integer)):
        return int(value)
    value = float(value)
    if math.isfinite(value) and value == math.trunc(value):
        return int(value)
    return None


def _fits(value, dtype):
    lo, hi = int_range(dtype)
    exact = exact_value(value)
    return exact is not None and lo <= exact <= hi


def cast_error(dtype, old, new):
    """The ValueError message an integer array must raise, or None."""
    if math.isnan(float(old)):
        return None
    if not _fits(old, dtype):
        return OLD_CAST
    if not _fits(new, dtype):
        return NEW_CAST
    return None


def as_element(dtype, value):
    """`value` (any number) as the element type would see it, or None."""
    dtype = np.dtype(dtype)
    if dtype.kind == "f":
        with np.errstate(all="ignore"):
            return dtype.type(float(value))
    if dtype.kind == "b":
        return np.bool_(float(value) != 0)  # NaN is true
    if _fits(value, dtype):
        return dtype.type(exact_value(value))
    return None


def match_mask(a, old):
    """Boolean mask of the elements of `a` that `replace` must overwrite."""
    if a.dtype.kind == "f":
        if math.isnan(float(old)):
            return np.isnan(a)
        with np.errstate(all="ignore"):
            return a == as_element(a.dtype, old)
    if a.dtype.kind == "b":
        # 0 matches false, 1 any nonzero byte (true), other values nothing
        v, nonzero = float(old), a.view(np.uint8) != 0
        if v in (0, 1):
            return nonzero if v else ~nonzero
        return np.zeros(a.shape, bool)
    if math.isnan(float(old)):
        return np.zeros(a.shape, bool)
    return a == a.dtype.type(exact_value(old))


def expected(a, old, new):
    """A copy of `a` after replace(a, old, new); raises its ValueError."""
    message = cast_error(a.dtype, old, new) if a.dtype.kind in "iu" else None
    if message is not None:
        raise ValueError(message)
    out = np.array(a, copy=True)
    mask = match_mask(out, old)
    if mask.any():
        out[mask] = as_element(a.dtype, new)
    return out


def guard_value(dtype, old):
    """What to fill guard bytes with: `old` itself, as stored in `dtype`."""
    value = as_element(dtype, old)
    return np.dtype(dtype).type(0) if value is None else value


# --- buffers --------------------------------------------------------------


def aligned_buffer(nbytes, align=64, misalign=0):
    """A uint8 array of `nbytes` whose data starts `misalign` bytes past an
    `align`-byte boundary."""
    raw = np.empty(nbytes + align + misalign, np.uint8)
    ptr = raw.__array_interface__["data"][0]
    start = -ptr % align + misalign
    return raw[start : start + nbytes]


def placed(dtype, shape, fill, order="C", misalign=0, pad=3):
    """An array of `shape` placed `pad` items into a byte region.

    Returns (region, array). Every item of the region, the array included,
    holds `fill`; the region starts `misalign` bytes past a 64-byte boundary
    so the array's elements are misaligned when `misalign` is not 0.
    """
    dtype = np.dtype(dtype)
    size = math.prod(shape)
    region = aligned_buffer(
        (size + 2 * pad) * dtype.itemsize, misalign=misalign
    )
    region.view(dtype)[...] = fill
    start = pad * dtype.itemsize
    body = region[start : start + size * dtype.itemsize].view(dtype)
    return region, body.reshape(shape, order=order)


def footprint(region, view):
    """Boolean mask over the bytes of `region` that `view`'s elements use."""
    start = (
        view.__array_interface__["data"][0]
        - region.__array_interface__["data"][0]
    )
    if view.size == 0:
        offsets = np.empty(0, np.intp)
    elif view.ndim == 0:
        offsets = np.array([start])
    else:
        index = np.indices(view.shape).reshape(view.ndim, -1)
        strides = np.array(view.strides)[:, None]
        offsets = start + (index * strides).sum(axis=0)
    where = (offsets[:, None] + np.arange(view.itemsize)).ravel()
    assert ((0 <= where) & (where < region.nbytes)).all(), "view escapes"
    mask = np.zeros(region.nbytes, bool)
    mask[where] = True
    return mask


class Guard:
    """Snapshot of the bytes of `region` that lie outside `view`."""

    def __init__(self, region, view):
        self.region = region
        self.outside = ~footprint(region, view)
        self.before = region[self.outside].copy()

    def check(self):
        after = self.region[self.outside]
        changed = np.flatnonzero(after != self.before)
        assert changed.size == 0, f"bytes outside the view changed: {changed}"


def assert_same(actual, wanted, loose_nan_at=None):
    """`actual` equals `wanted` bit for bit.

    Where `loose_nan_at` is True (elements written with a NaN `new` after a
    float32 conversion) any NaN is accepted.
    """
    assert actual.shape == wanted.shape
    a, w = bits_of(actual), bits_of(wanted)
    if loose_nan_at is not None:
        loose = np.ascontiguousarray(loose_nan_at)
        assert np.isnan(np.ascontiguousarray(actual)[loose]).all()
        a, w = a[~loose], w[~loose]
    np.testing.assert_array_equal(a, w)


def check_replace(view, old, new, guard=None, run=None):
    """Run replace(view, old, new) (or `run()`) and compare with the oracle:
    same bits, same error, same object returned, and nothing outside `view`
    written."""
    if run is None:

        def run():
            return replace(view, old, new)

    before = view.copy()
    try:
        wanted = expected(view, old, new)
    except ValueError as err:
        with raises_msg(ValueError, str(err)):
            run()
        assert_same(view, before)
    else:
        loose = None
        if (
            view.dtype.kind == "f"
            and view.dtype.itemsize < 8
            and math.isnan(float(new))
        ):
            loose = match_mask(before, old)
        assert run() is view
        assert_same(view, wanted, loose)
    if guard is not None:
        guard.check()


# --- fills ----------------------------------------------------------------


def fill_pattern(view, old, seed=0):
    """Fill `view` with a mix of `old` and other values, NaN and -0.0
    included for floats; roughly half the elements hold `old`."""
    dtype = view.dtype
    old_item = as_element(dtype, old)
    if old_item is None or (dtype.kind == "i" and math.isnan(float(old))):
        old_item = dtype.type(2)
    if dtype.kind == "f":
        others = np.array([1, 3, 0, -0.0, np.nan, np.inf, -1], dtype)
    else:
        others = np.array([1, 3, 0, -1], dtype)
    rng = np.random.default_rng(seed)
    values = rng.choice(others, size=view.shape)
    values[rng.random(view.shape) < 0.5] = old_item
    view[...] = values


# Edge values of each float size: zeros, infinities, NAN_BITS, the smallest
# and largest finite magnitudes, 1 and its successor.
EDGE_BITS = {
    8: [
        0x0000000000000000,
        0x8000000000000000,
        0x7FF0000000000000,
        0xFFF0000000000000,
        *NAN_BITS[8],
        0x0000000000000001,
        0x7FEFFFFFFFFFFFFF,
        0x3FF0000000000000,
        0x3FF0000000000001,
    ],
    4: [
        0x00000000,
        0x80000000,
        0x7F800000,
        0xFF800000,
        *NAN_BITS[4],
        0x00000001,
        0x7F7FFFFF,
        0x3F800000,
        0x3F800001,
    ],
    2: [
        0x0000,
        0x8000,
        0x7C00,
        0xFC00,
        *NAN_BITS[2],
        0x0001,
        0x7BFF,
        0x3C00,
        0x3C01,
    ],
}


def float_pool(dtype):
    native = dtype.newbyteorder("=")
    edges = from_bits(EDGE_BITS[dtype.itemsize], native)
    pool = np.concatenate([edges, np.array([-1, 2, 0.1, -2.5], native)])
    return pool.astype(dtype)


def int_pool(dtype):
    if dtype.kind == "b":  # bytes other than 0 and 1 are true as well
        return np.array([0, 1, 1, 2, 255], np.uint8).view(bool)
    lo, hi = int_range(dtype)
    values = [
        0,
        1,
        2,
        lo,
        hi,
        lo + 1,
        hi - 1,
        2**31 - 1,
        -(2**31),
        2**53,
        2**53 + 1,
        2**63 - 1024,
        2**32 + 2,
        -1,
        200,
        2**15,
    ]
    return np.array([v for v in values if lo <= v <= hi], dtype)


def fill_from_pool(view, olds, seed):
    """Fill `view` from its element type's pool and the values `olds` take
    there (as many of those as of the pool, so that matches are common);
    assigned through the bits so NaN payloads arrive intact.  A NaN old
    adds nothing: the pool has NaNs of every kind."""
    dtype = view.dtype
    pool = float_pool(dtype) if dtype.kind == "f" else int_pool(dtype)
    held = [as_element(dtype, old) for old in olds]
    held = [
        v
        for v in held
        if v is not None and not (dtype.kind == "f" and math.isnan(v))
    ]
    if held:
        more = np.resize(np.array(held, dtype), max(len(pool), len(held)))
        pool = np.concatenate([pool, more])
    bits = np.random.default_rng(seed).choice(bits_of(pool), size=view.shape)
    view.view(bits.dtype)[...] = bits
