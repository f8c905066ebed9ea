"""replace walks every element of any layout, in place, and writes no byte
outside the array: each view below sits in a larger buffer whose other
elements hold `old`, so a stray write would show."""

import functools
import math
import subprocess
import sys

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

from conftest import (
    NATIVE_DTYPES,
    NATIVE_IDS,
    Guard,
    check_replace,
    fill_pattern,
    guard_value,
    placed,
)
from fennick import dozudiror, replace, replace_many


def strided(base, shape, item_strides):
    """as_strided with strides counted in items, writeable."""
    strides = tuple(s * base.itemsize for s in item_strides)
    return as_strided(base, shape, strides, writeable=True)


def view_of(shape, index=..., order="C", then=None):
    """A layout: `then(x[index])` for x of `shape` placed in a region."""

    def make(dt, fill):
        region, x = placed(dt, shape, fill, order=order)
        view = x[index]
        return region, view if then is None else then(view)

    return make


LAYOUTS = {
    "zero_d": view_of(()),
    "empty": view_of((0,)),
    "empty_outer": view_of((0, 5)),
    "empty_inner": view_of((5, 0)),
    "empty_inner_fortran": view_of((4, 0), order="F"),
    "empty_slice_of_2d": view_of((3, 4), np.s_[:, 2:2]),
    "c_order": view_of((5, 7)),
    "fortran_order": view_of((5, 7), order="F"),
    "every_second": view_of((31,), np.s_[::2]),
    "every_third_column": view_of((4, 10), np.s_[:, ::3]),
    "reversed_1d": view_of((13,), np.s_[::-1]),
    "reversed_2d": view_of((5, 6), np.s_[::-1, ::-1]),
    "reversed_columns": view_of((5, 6), np.s_[:, ::-1]),
    "transposed": view_of((3, 4), then=np.transpose),
    "fortran_every_second_row": view_of((6, 8), np.s_[::2, :], order="F"),
    # Five elements, all at one address.
    "stride_zero": view_of(
        (3,), np.s_[1:], then=lambda x: strided(x, (5,), (0,))
    ),
    "stride_zero_rows": view_of(
        (9,), np.s_[2:], then=lambda x: strided(x, (4, 5), (0, 1))
    ),
    "new_axis": view_of((9,), np.s_[None, :]),
    "one_row": view_of((1, 9)),
    "one_column": view_of((9, 1)),
    # C-contiguous, as left by slicing the last axis of a transposed array.
    "c_contiguous_last_axis_one": view_of(
        (8,), then=lambda x: strided(x, (2, 2, 1), (2, 1, 4))
    ),
    "fortran_contiguous_first_axis_one": view_of(
        (6,), then=lambda x: strided(x, (1, 2, 3), (6, 1, 2))
    ),
    "mixed_3d": view_of(
        (4, 5, 6), np.s_[1:3, ::-2, 1::2], then=lambda x: x.transpose(2, 0, 1)
    ),
    # Runs merged across axes, flipped and freed of length-1 axes.
    "first_column_of_pairs": view_of((9, 2), np.s_[:, :1]),
    "column_axis": view_of((9,), np.s_[:, None]),
    "every_second_plane": view_of((6, 4, 3), np.s_[::2]),
    "flipped_3d": view_of((4, 5, 6), np.s_[::-1, ::-1, ::-1]),
    "flipped_fortran_3d": view_of((4, 5, 6), np.s_[::-1, :, ::-1], order="F"),
    "transposed_3d": view_of((4, 5, 6), then=lambda x: x.transpose(2, 0, 1)),
    "column_of_wide": view_of((7, 40), np.s_[:, 3]),
    # Distinct elements, interleaved: no axis steps past the one inside.
    "interleaved": view_of((11,), then=lambda x: strided(x, (3, 3), (3, 2))),
    "length_one_between": view_of((5, 1, 7), np.s_[::-1, :, 1:]),
}


def many_dims(seed):
    def make(dt, fill):
        rng = np.random.default_rng(seed)
        region, x = placed(dt, (3,) * 9, fill)
        index = tuple(
            rng.choice(
                [
                    slice(None),
                    slice(None, None, -1),
                    slice(None, None, 2),
                    slice(1, None),
                    slice(None, None, -2),
                ]
            )
            for _ in range(x.ndim)
        )
        return region, x[index].transpose(rng.permutation(x.ndim))

    return make


for _seed in range(3):
    LAYOUTS[f"many_dims_{_seed}"] = many_dims(_seed)


def packed_field(shape, index=...):
    def make(dt, fill):
        record = np.dtype([("c", "u1"), ("x", dt)], align=False)
        pad = 2
        recs = np.zeros(math.prod(shape) + 2 * pad, record)
        recs["c"] = 0xA5
        recs["x"] = fill
        field = recs[pad:-pad].reshape(shape)["x"][index]
        return recs.view(np.uint8), field

    return make


LAYOUTS["packed_field"] = packed_field((11,))
LAYOUTS["packed_field_reversed"] = packed_field((11,), np.s_[::-1])
LAYOUTS["packed_field_2d"] = packed_field((3, 6), np.s_[:, ::-2])


def misaligned(shape, order, misalign):
    def make(dt, fill):
        return placed(
            dt, shape, fill, order=order, misalign=misalign % dt.itemsize
        )

    return make


LAYOUTS["misaligned_1"] = misaligned((23,), "C", 1)
LAYOUTS["misaligned_3_2d"] = misaligned((3, 7), "C", 3)
LAYOUTS["misaligned_7_fortran"] = misaligned((7, 3), "F", 7)
LAYOUTS["misaligned_5_general"] = misaligned((1, 9), "C", 5)


@pytest.mark.parametrize(
    "old, new", [(2, -7), (np.nan, -7)], ids=["value", "nan"]
)
@pytest.mark.parametrize("dtype", NATIVE_DTYPES, ids=NATIVE_IDS)
@pytest.mark.parametrize("make", LAYOUTS.values(), ids=LAYOUTS)
def test_layout(make, dtype, old, new):
    region, view = make(dtype, guard_value(dtype, old))
    fill_pattern(view, old, seed=view.size)
    check_replace(view, old, new, Guard(region, view))


def check_every_width(region, view, old, new):
    """check_replace through the loops of each vector width this processor
    runs, each from the same bytes."""
    start = region.copy()
    for w in dozudiror._widths:
        region[...] = start
        run = functools.partial(dozudiror._replace_with, w, view, old, new)
        check_replace(view, old, new, Guard(region, view), run)


@pytest.mark.parametrize("misalign", [0, 1, 3])
@pytest.mark.parametrize("step", [1, 2, -1, -2])
@pytest.mark.parametrize("dtype", NATIVE_DTYPES, ids=NATIVE_IDS)
def test_lengths_cover_blocks_and_tails(dtype, step, misalign):
    # Contiguous runs go through a head up to a vector boundary, blocks of
    # four vectors, single vectors, then a tail; strided ones through
    # vectors over their span or 64-element steps.  Every width.
    for n in list(range(70)) + [127, 128, 129, 255, 256, 257]:
        region, x = placed(
            dtype,
            (n * abs(step),),
            guard_value(dtype, 2),
            misalign=misalign % dtype.itemsize,
        )
        view = x[::step]
        fill_pattern(view, 2, seed=n)
        check_every_width(region, view, 2, -7)


def runs_of(n, seed, longest):
    """A mask of n elements: runs of True and False of 1 to `longest`."""
    rng = np.random.default_rng(seed)
    lengths = rng.integers(1, longest + 1, n)
    return (np.repeat(np.arange(n) % 2, lengths)[:n] == 1) ^ (seed % 2 == 1)


@pytest.mark.parametrize("step", [1, -1, 2, 3, -5, 17])
@pytest.mark.parametrize("code", ["u1", "i2", "f4", "f8", ">f4", "e"])
def test_matches_in_runs_at_every_width(code, step):
    # Every element, runs of matches from one lane to several blocks (whole
    # vectors, whole blocks, one or two runs of lanes in a vector) and
    # nearly every element: the stores of whole vectors and of runs of
    # lanes must write matches only.  Zero as `old` takes the masked test
    # where the bits are compared (float16, byte-swapped floats).
    dt = np.dtype(code)
    old, new = (0, 5) if dt.kind == "f" else (2, 7)
    n = 1100
    fills = [
        np.ones(n, bool),
        runs_of(n, 1, 40),
        runs_of(n, 2, 300),
        np.random.default_rng(3).random(n) > 0.05,
    ]
    for misalign in (0, 1):
        region, x = placed(
            dt, (n * abs(step),), old, misalign=misalign % dt.itemsize
        )
        view = x[::step]
        for mask in fills:
            view[...] = np.where(mask, old, 3).astype(dt)
            if dt.kind == "f":
                view[mask & runs_of(n, 5, 3)] = -0.0
            check_every_width(region, view, old, new)


@pytest.mark.parametrize("step", [1, -1])
@pytest.mark.parametrize("dtype", NATIVE_DTYPES, ids=NATIVE_IDS)
def test_single_match_at_every_position(dtype, step):
    n = 19
    for pos in range(n):
        region, x = placed(dtype, (n,), 2)
        view = x[::step]
        view[...] = 1
        view[pos] = 2
        assert np.count_nonzero(view == 2) == 1
        check_replace(view, 2, -7, Guard(region, view))
        assert view[pos] == -7


def test_empty_array_with_huge_other_axis_returns_at_once():
    # 2**40 rows of nothing: walking them one empty run at a time, with the
    # lock released, would never finish, so check in a child process.
    code = (
        "import numpy as np, fennick\n"
        "from numpy.lib.stride_tricks import as_strided\n"
        "x = as_strided(np.zeros(1), (2**40, 0), (16, 8))\n"
        "assert fennick.replace(x, 0, 1) is x\n"
        "assert fennick.replace(x.T, 0, 1) is not None\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True, timeout=120)


# Bytes offsets of views whose elements share bytes (as_strided with
# strides below the item size, or rows that reach into the next).
OVERLAPPING = {
    "1-d": ((40,), (1,)),
    "a step past 64": ((65,), (1,)),
    "reversed": ((30,), (-3,)),
    "2-d": ((9, 7), (3, 1)),
    "mixed signs": ((6, 5), (-1, 2)),
    "3-d": ((4, 4, 3), (5, -2, 1)),
    "rows into rows": ((9, 5), (12, 8)),
    "columns": ((5, 9), (1, 3)),
}


@pytest.mark.parametrize(
    "shape, strides", OVERLAPPING.values(), ids=OVERLAPPING
)
@pytest.mark.parametrize(
    "code", ["?", "u1", "i2", "i4", "l", "f4", "f8", "e", ">i4", ">f8"]
)
def test_overlapping_elements_get_numpys_bytes(code, shape, strides):
    # NumPy's b = v.copy(); v[b == old] = new compares every element as it
    # was before the call, then writes the matches in C order: where two
    # matches share bytes, the later one's end up there, at every width,
    # for replace and replace_many, one old or several, whatever the new
    # (also one equal to the old, which must still be written).
    dt = np.dtype(code)
    # Mostly zero bytes: runs of matches whose writes overlap.
    start = (np.random.default_rng(0).random(400) < 0.05).astype(np.uint8)

    def run(replace_view, *args):
        buf = start.copy()
        view = np.ndarray(shape, dt, buffer=buf, offset=200, strides=strides)
        replace_view(view, *args)
        return buf

    def idiom(v, olds, news):
        b = v.copy()
        hit = np.isin(b, olds)
        v[hit] = np.asarray(news, dt)[np.searchsorted(olds, b[hit])]

    zero = np.zeros((), dt)[()]
    one = np.frombuffer(b"\x01" * dt.itemsize, dt)[0]
    mixed = np.frombuffer(bytes(range(1, dt.itemsize + 1)), dt)[0]
    if dt.kind == "b":
        zero, one, mixed = False, True, True
    cases = [
        ([zero], [mixed]),
        ([zero], [zero]),
        ([zero, one], [mixed, one]),
        ([zero, one], [one, zero]),
    ]
    if dt.kind != "b":
        # past the olds that are compared a vector at a time: the lookup
        many = np.unique(np.r_[np.array([zero, one], dt), np.arange(2, 80)])
        many = many.astype(dt)
        cases.append((list(many), list(many[::-1])))
    for olds, news in cases:
        want = run(idiom, olds, news)
        for w in dozudiror._widths:
            many = functools.partial(dozudiror._replace_many_with, w)
            got = [run(many, tuple(olds), tuple(news), True)]
            if len(olds) == 1:
                one_width = functools.partial(dozudiror._replace_with, w)
                got.append(run(one_width, olds[0], news[0]))
            for g in got:
                np.testing.assert_array_equal(g, want, err_msg=w)
        if dt.isnative and dt.char in "dfli":
            np.testing.assert_array_equal(run(replace_many, olds, news), want)
            if len(olds) == 1:
                np.testing.assert_array_equal(
                    run(replace, olds[0], news[0]), want
                )


def test_overlap_costs_the_elements_not_the_span():
    # Eight int64 elements in four rows 2**29 bytes apart, sharing bytes
    # within each row: the copies the comparison needs hold the elements,
    # so the calls succeed with far less memory to spare than the span.
    code = (
        "import re, resource, numpy as np, fennick\n"
        "from numpy.lib.stride_tricks import as_strided\n"
        "buf = np.zeros((3 << 29) + 16, np.uint8)\n"
        "with open('/proc/self/status') as f:\n"
        "    status = f.read()\n"
        "used = int(re.search(r'VmSize:\\s*(\\d+)', status)[1]) << 10\n"
        "resource.setrlimit(resource.RLIMIT_AS, (used + (1 << 30),) * 2)\n"
        "x = as_strided(buf[:8].view(np.int64), (4, 2), (1 << 29, 4))\n"
        "fennick.replace(x, 0, 1)\n"
        "assert (x[:, 0] == 2**32 + 1).all(), x\n"
        "assert (x[:, 1] == 1).all(), x\n"
        "fennick.replace_many(x, list(range(2, 30)) + [1], 5)\n"
        "assert (x[:, 0] == 5 * 2**32 + 1).all(), x\n"
        "assert (x[:, 1] == 5).all(), x\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True, timeout=120)
