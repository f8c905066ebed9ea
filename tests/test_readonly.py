"""Arrays that may not be written are refused and left as they were."""

import numpy as np
import pytest

from conftest import NATIVE_DTYPES, OLD_CAST, raises_msg
from fennick.dozudiror import replace

READ_ONLY = "assignment destination is read-only"


def frozen(values):
    a = values.copy()
    a.setflags(write=False)
    return a


def frozen_view(values):
    return frozen(np.repeat(values, 2))[::-2]


def broadcast(values):
    return np.broadcast_to(values, (4,) + values.shape)


def over_bytes(values):
    return np.frombuffer(values.tobytes(), values.dtype)


MAKERS = [frozen, frozen_view, broadcast, over_bytes]


CASES = [(dtype, old) for dtype in NATIVE_DTYPES
         for old in ([0, 1, np.nan] if dtype.kind == "f" else [0, 1])]


@pytest.mark.parametrize("make", MAKERS, ids=lambda f: f.__name__)
@pytest.mark.parametrize("dtype, old", CASES,
                         ids=[f"{d.char}-{o}" for d, o in CASES])
def test_read_only_is_refused(make, dtype, old):
    a = make(np.array([old, 1, old, 2, old, old, 3, old, 0], dtype))
    assert not a.flags.writeable
    before = a.copy()
    with raises_msg(ValueError, READ_ONLY):
        replace(a, old, 9)
    np.testing.assert_array_equal(a, before)


def test_bytes_object_is_not_written():
    data = np.array([0.0, 1.0, 0.0, 2.0, 0.0]).tobytes()
    kept = bytes(data)
    a = np.frombuffer(data, np.float64)
    with raises_msg(ValueError, READ_ONLY):
        replace(a, 0, 5)
    assert data == kept


@pytest.mark.parametrize("dtype", ["l", "i"])
def test_cast_error_is_reported_before_read_only(dtype):
    a = frozen(np.array([2, 3, 2], dtype))
    with raises_msg(ValueError, OLD_CAST):
        replace(a, 2.5, 0)


@pytest.mark.reference_module
@pytest.mark.parametrize("dtype", [">f8", ">i4", "h"])
def test_read_only_through_the_reference_module(dtype):
    a = frozen(np.array([0, 1, 0, 2], dtype))
    before = a.copy()
    with raises_msg(ValueError, READ_ONLY):
        replace(a, 0, 9)
    np.testing.assert_array_equal(a, before)
