"""fennick.replaced and fennick.replaced_many: a replaced copy, the input
never written, for every kind of array and every form of the arguments."""

import numpy as np
import pytest

import fennick
from conftest import raises_msg


def copy_and_replace(a, old, new):
    b = np.copy(a, order="K")
    fennick.replace(b, old, new)
    return b


def copy_and_replace_many(a, old, *new):
    b = np.copy(a, order="K")
    fennick.replace_many(b, old, *new)
    return b


def assert_same_array(out, want):
    assert type(out) is np.ndarray
    assert out.dtype == want.dtype and out.shape == want.shape
    assert out.strides == want.strides
    assert out.tobytes() == want.tobytes()


@pytest.mark.parametrize(
    "a",
    [
        np.array([1.0, -999.0, 3.0]),
        np.arange(24, dtype=np.int32).reshape(2, 3, 4).transpose(2, 0, 1),
        np.arange(50, dtype=np.int64)[::-3],
        np.array([1, 2, 1], dtype=object),
        np.array([1.5, 2.0, 1.5], dtype=np.longdouble),
        np.array([True, False, True]),
        np.arange(10, dtype=">f4"),
    ],
    ids=["f8", "i4-transposed", "i8-reversed", "object", "g", "bool", ">f4"],
)
def test_replaced_equals_copy_and_replace_on_read_only_input(a):
    old = a.flat[0].item() if a.dtype.kind != "O" else a.flat[0]
    new = a.flat[-1].item() if a.dtype.kind != "O" else a.flat[-1]
    a.flags.writeable = False
    before = a.copy()
    out = fennick.replaced(a, old, new)
    assert_same_array(out, copy_and_replace(a, old, new))
    assert a.tobytes() == before.tobytes() and not a.flags.writeable


def test_replaced_of_bytes_and_memmap_like_buffers():
    raw = np.arange(8, dtype=np.float64).tobytes()
    a = np.frombuffer(raw, dtype=np.float64)
    assert_same_array(fennick.replaced(a, 3, -1), copy_and_replace(a, 3, -1))


def test_masked_array_gives_its_data_replaced():
    m = np.ma.array([1.0, 2.0, 1.0], mask=[False, True, True])
    out = fennick.replaced(m, 1.0, 9.0)
    assert_same_array(out, copy_and_replace(m, 1.0, 9.0))
    assert m.data.tolist() == [1.0, 2.0, 1.0]


def test_subclass_gives_a_base_array_as_np_copy_does():
    class Sub(np.ndarray):
        pass

    s = np.arange(4.0).view(Sub)
    assert type(fennick.replaced(s, 1, 2)) is np.ndarray


def test_broadcast_input_gives_a_full_array():
    a = np.broadcast_to(np.array([1, 2, 3]), (4, 3))
    out = fennick.replaced(a, 2, 0)
    assert_same_array(out, copy_and_replace(a, 2, 0))
    out[0, 0] = 7  # every element its own
    assert out[1, 0] == 1


@pytest.mark.parametrize(
    "a, old, new, error",
    [
        (
            np.arange(3),
            0.5,
            1,
            raises_msg(ValueError, "Cannot safely cast `old` to int"),
        ),
        (
            np.arange(3),
            1,
            2**70,
            raises_msg(ValueError, "Cannot safely cast `new` to int"),
        ),
        (
            np.arange(3.0),
            "x",
            1,
            raises_msg(TypeError, "`old` must be a number"),
        ),
        (
            np.arange(3.0),
            1,
            None,
            raises_msg(TypeError, "`new` must be a number"),
        ),
        ([1, 2], 1, 2, pytest.raises(TypeError)),
    ],
)
def test_replaced_raises_as_replace(a, old, new, error):
    with error:
        fennick.replaced(a, old, new)


@pytest.mark.parametrize(
    "args",
    [
        ([-999, -9999], np.nan),
        ({-999: 0, 3: -999},),
        ([3], [4]),
        ([1, 2, 3, 4, 5, 6, 7, 8, 9, 10], [0] * 10),
        ([], 1),
    ],
)
def test_replaced_many_equals_copy_and_replace_many(args):
    a = np.array([1.0, -999.0, 3.0, -9999.0, 5.0, 10.0])[::-1]
    a.flags.writeable = False
    out = fennick.replaced_many(a, *args)
    assert_same_array(out, copy_and_replace_many(a, *args))
    assert a.tolist() == [10.0, 5.0, -9999.0, 3.0, -999.0, 1.0]


def test_replaced_many_raises_before_copying():
    with raises_msg(ValueError, "Cannot safely cast `new[1]` to int"):
        fennick.replaced_many(np.arange(3), [1, 2], [0, 0.5])
    with pytest.raises(TypeError):
        fennick.replaced_many(np.arange(3), {1: 2}, 3)


def test_large_array_streamed_past_the_cache_is_right():
    # Large enough for the stores that bypass the cache, with a head
    # before the first aligned vector.
    a = np.arange(3_000_001, dtype=np.float64)[1:]
    a[::7] = -999.0
    out = fennick.replaced(a, -999.0, np.nan)
    want = np.where(a == -999.0, np.nan, a)
    assert np.array_equal(out, want, equal_nan=True)


def test_large_array_of_short_runs_streamed_past_the_cache_is_right():
    # Runs of 3 and 11 elements, most of them not starting on a vector
    # boundary of the new array, in an array large enough to stream.
    for cols in (3, 11):
        base = np.arange(400_000 * 16, dtype=np.float64).reshape(-1, 16)
        view = base[:, :cols]
        view.flags.writeable = False
        out = fennick.replaced(view, 9.0, -1.0)
        want = np.where(view == 9.0, -1.0, view)
        assert np.array_equal(out, want)
        assert out.strides == np.copy(view, order="K").strides
