"""Calls as users write them: mypy --strict accepts them, and they run."""

import datetime
from fractions import Fraction
from typing import Any

import numpy as np
import numpy.typing as npt
from typing_extensions import assert_type

import fennick
from fennick import slow


class Celsius(np.ndarray[Any, np.dtype[np.float64]]):
    """A subclass: replace returns the array it was given, typed as such."""


x: npt.NDArray[np.float64] = np.zeros(4)
i: npt.NDArray[np.int16] = np.zeros(4, np.int16)
c: npt.NDArray[np.complex128] = np.zeros(4, np.complex128)
any_array: npt.NDArray[Any] = np.zeros(4, np.float32)
assert_type(fennick.replace(x, 0, 3), npt.NDArray[np.float64])
assert_type(fennick.replace(i, np.uint8(3), True), npt.NDArray[np.int16])
assert_type(fennick.replace(any_array, 0.5, float("nan")), npt.NDArray[Any])
fennick.replace(x, np.float32(0.1), Fraction(1, 2))
fennick.replace(new=1, a=x, old=0)
assert_type(slow.replace(c, 1 + 2j, 0j), npt.NDArray[np.complex128])
celsius = np.array([-273.15, 20.0]).view(Celsius)
assert_type(fennick.replace(celsius, -273.15, np.nan), Celsius)
assert_type(fennick.replace_parallel(x, 0, 3), npt.NDArray[np.float64])
assert_type(fennick.replace_parallel(celsius, 0, np.nan, workers=2), Celsius)
assert_type(
    fennick.replace_many(x, [0, -999], np.nan), npt.NDArray[np.float64]
)
assert_type(fennick.replace_many(celsius, {0: 1.0, 1: 2.0}), Celsius)
assert_type(fennick.replace_many(i, (1, 2), [3, 4]), npt.NDArray[np.int16])
assert float(fennick.replace(np.zeros(4), 0, 1).sum()) == 4.0
d: npt.NDArray[np.datetime64] = np.zeros(2, "M8[D]")
nat = np.datetime64("NaT", "D")
assert_type(
    fennick.replace(d, nat, datetime.date(2024, 3, 1)),
    npt.NDArray[np.datetime64],
)
fennick.replace(np.zeros(2, "m8[s]"), datetime.timedelta(0), 5)
version: str = fennick.__version__
