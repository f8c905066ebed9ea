"""replace_many: several olds in one pass, each by the rules of replace,
every element compared with the olds as it was before the call."""

import math
import os
import platform
import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra.numpy import array_shapes
from test_properties import NUMERIC, random_view, scalars

from conftest import BITS as BITS_OF_SIZE
from conftest import (
    NOT_ARRAY,
    READ_ONLY,
    Guard,
    _fits,
    as_element,
    assert_same,
    bits_of,
    exact_value,
    fill_from_pool,
    float_pool,
    int_pool,
    over_bytes,
    placed,
    raises_msg,
)
from fennick import dozudiror, replace_many
from fennick.many import _pairs

CONFLICT = re.compile(
    r"`old\[(\d+)\]` and `old\[(\d+)\]` match the same elements but their "
    r"news differ"
)


def old_key(dtype, old):
    """What an old matches, as a value: equal keys, the same elements;
    None for none."""
    if dtype.kind == "f":
        if math.isnan(float(old)):
            return "nan"
        return float(as_element(dtype, old)) + 0.0  # -0.0 is 0.0
    if dtype.kind == "b":
        v = exact_value(old) if isinstance(old, int) else float(old)
        return v if v in (0, 1) else None
    return exact_value(old)


def expected_many(a, olds, news, pairwise):
    """A copy of `a` after replace_many, or the ValueError it raises (a
    conflict as the pattern CONFLICT)."""
    dtype = a.dtype
    news = list(news) if pairwise else list(news) * len(olds)
    names = [f"`new[{i}]`" if pairwise else "`new`" for i in range(len(olds))]
    skipped = dtype.kind in "iu"
    kept = [
        i for i, o in enumerate(olds) if not (skipped and math.isnan(float(o)))
    ]
    if dtype.kind in "iu":
        for i in kept:
            if not _fits(olds[i], dtype):
                return ValueError(f"Cannot safely cast `old[{i}]` to int")
        for i in kept:
            if not _fits(news[i], dtype):
                return ValueError(f"Cannot safely cast {names[i]} to int")
    new_bits = {
        i: bits_of(np.array([as_element(dtype, news[i])]))[0] for i in kept
    }
    first = {}
    for i in kept:
        key = old_key(dtype, olds[i])
        j = first.setdefault(key, i)
        if key is not None and new_bits[j] != new_bits[i]:
            return CONFLICT
    out = np.array(a, copy=True)
    for i in kept:
        mask = match_old(a, olds[i])
        out[mask] = as_element(dtype, news[i])
    return out


def match_old(a, old):
    """Elements of `a` that `old` matches (as replace would)."""
    key = old_key(a.dtype, old)
    if key is None:
        return np.zeros(a.shape, bool)
    if key == "nan":
        return np.isnan(a)
    if a.dtype.kind == "b":
        nonzero = a.view(np.uint8) != 0
        return nonzero if key else ~nonzero
    with np.errstate(all="ignore"):
        return a == a.dtype.type(key)


def check_many(view, olds, news, pairwise, guard=None, run=None, wanted=None):
    """replace_many(view, olds, new) (or `run()`) against the oracle (or
    `wanted`, its answer found before)."""
    before = view.copy()
    if wanted is None:
        wanted = expected_many(view, olds, news, pairwise)
    new = news if pairwise else news[0]
    if run is None:

        def run():
            return replace_many(view, olds, new)

    if wanted is CONFLICT or isinstance(wanted, ValueError):
        with pytest.raises(ValueError) as info:
            run()
        message = str(info.value)
        if wanted is CONFLICT:
            i, j = map(int, CONFLICT.fullmatch(message).groups())
            assert old_key(view.dtype, olds[i]) == old_key(view.dtype, olds[j])
        else:
            assert message == str(wanted)
        assert_same(view, before)
    else:
        assert run() is view
        # float16/32 NaN news may be quietened on the way (by the hardware's
        # conversions, on some processors): any NaN will do where one was
        # written, over a NaN too when an old is NaN
        loose = None
        if view.dtype.kind == "f" and view.dtype.itemsize < 8:
            nan_old = any(isinstance(o, float) and o != o for o in olds)
            loose = np.isnan(wanted) & (nan_old | ~np.isnan(before))
        assert_same(view, wanted, loose)
    if guard is not None:
        guard.check()


@settings(max_examples=300, deadline=None)
@given(st.data())
def test_agrees_with_oracle(data):
    # A few olds are compared a vector at a time, many through a lookup:
    # both, with repeats, NaNs, zeros of both signs and chains (a new that
    # is another old), on random views, by every width's loops.
    draw = data.draw
    dtype = draw(st.sampled_from(NUMERIC))
    shape = draw(
        st.one_of(
            array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=8),
            st.integers(0, 300).map(lambda n: (n,)),
        )
    )
    count = draw(st.one_of(st.integers(0, 10), st.integers(11, 40)))
    olds = draw(st.lists(scalars(dtype), min_size=count, max_size=count))
    pairwise = draw(st.booleans())
    chained = st.sampled_from(olds) if olds else scalars(dtype)
    news = draw(
        st.lists(
            st.one_of(scalars(dtype), chained),
            min_size=count if pairwise else 1,
            max_size=count if pairwise else 1,
        )
    )
    region, base = placed(dtype, shape, 0, order=draw(st.sampled_from("CF")))
    view = random_view(draw, base)
    fill_from_pool(view, olds, draw(st.integers(0, 2**32 - 1)))
    start = region.copy()
    handed = _pairs(olds, news if pairwise else news[0])
    runs = [
        lambda w=w: dozudiror._replace_many_with(w, view, *handed)
        for w in dozudiror._widths
    ]
    for run in [None, *runs]:
        region[...] = start
        check_many(view, olds, news, pairwise, Guard(region, view), run)


def many_olds(dtype, count, rng):
    """`count` olds as the element type holds them: clusters of
    consecutive bits from random places, values from the type's pool (NaN,
    zeros of both signs, the extremes, ints past 2**53 and 2**63) and
    random bits, with repeats."""
    bits = BITS_OF_SIZE[dtype.itemsize]
    top = 2 ** (8 * dtype.itemsize)
    parts = []
    while sum(map(len, parts)) < count:
        kind = rng.integers(3)
        if kind == 0:
            start = int.from_bytes(rng.bytes(8), "little") % top
            step = int(rng.choice([1, 1, 2, 3, 1000]))
            length = int(rng.integers(1, count + 1))
            parts.append([(start + step * i) % top for i in range(length)])
        elif kind == 1:
            pool = float_pool(dtype) if dtype.kind == "f" else int_pool(dtype)
            parts.append(rng.choice(bits_of(pool), 5).tolist())
        else:
            parts.append(
                [
                    int.from_bytes(rng.bytes(8), "little") % top
                    for _ in range(5)
                ]
            )
    drawn = np.array(sum(parts, [])[:count], np.uint64).astype(bits)
    rng.shuffle(drawn)
    return drawn.view(dtype).tolist()


def beside(view, olds, rng):
    """Puts into some elements of `view` the bits next to olds' (one more
    and one less, as unsigned integers), the edges of the ranges a
    prefilter may draw around them."""
    bits = BITS_OF_SIZE[view.dtype.itemsize]
    held = [as_element(view.dtype, o) for o in olds]
    held = np.array([h for h in held if h is not None], view.dtype)
    if view.size == 0 or held.size == 0:
        return
    near = bits_of(held).astype(np.uint64)  # wraps, as the lanes do
    one = np.ones(1, np.uint64)
    near = np.concatenate(
        [
            near - one,
            near + one,
            near.min(keepdims=True) - one,
            near.max(keepdims=True) + one,
        ]
    )
    flat = view.reshape(-1) if view.flags.forc else None
    if flat is None:
        return
    picks = rng.integers(0, view.size, min(view.size, near.size) // 2 + 1)
    flat.view(bits)[picks] = rng.choice(near, picks.size).astype(bits)


class _Int(int):
    """An int that is not exactly an int."""


def handed_as(values, form):
    """`values` as a caller may hand them: a list (exact ints go straight
    into the lookup), a 1-d array where one holds them exactly, or a list
    whose first int is of a subclass (each is then made a scalar first)."""
    if form == "array":
        held = np.array(values)
        exact = held.dtype.kind in "biu" or all(
            type(v) is float for v in values
        )
        return held if exact and held.ndim == 1 else values
    if form == "subclass" and values and type(values[0]) is int:
        return [_Int(values[0]), *values[1:]]
    return values


@settings(max_examples=40, deadline=None)
@given(st.data())
def test_many_olds_agree_with_oracle(data):
    # Past a few olds the vectors turn away what lies outside the olds'
    # ranges and look up the rest: 9 to 2000 olds in clusters and apart,
    # with repeats and the pool's edges, over elements that hold them and
    # the bits beside them, by every width's loops, handed as lists, as
    # arrays and as lists that are not all exact ints.
    draw = data.draw
    dtype = draw(st.sampled_from(NUMERIC))
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    count = draw(st.one_of(st.integers(9, 40), st.integers(41, 2000)))
    olds = many_olds(dtype, count, rng)
    edges = draw(st.lists(scalars(dtype), max_size=3))
    olds[: len(edges)] = edges
    pairwise = draw(st.booleans())
    if pairwise:
        # news that depend on the old alone, or not: repeats agree or clash
        agree = draw(st.booleans())
        news = [
            olds[(i * 7 + 3) % count]
            if agree
            else olds[int(rng.integers(count))]
            for i in range(count)
        ]
        if agree:
            by_old = {}
            news = [
                by_old.setdefault(old_key(dtype, o), n)
                for o, n in zip(olds, news, strict=True)
            ]
    else:
        news = [olds[int(rng.integers(count))]]
    shape = draw(
        st.one_of(
            array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=8),
            st.integers(0, 300).map(lambda n: (n,)),
        )
    )
    region, base = placed(dtype, shape, 0, order=draw(st.sampled_from("CF")))
    view = random_view(draw, base)
    fill_from_pool(view, olds, int(rng.integers(2**32)))
    beside(view, olds, rng)
    start = region.copy()
    wanted = expected_many(view, olds, news, pairwise)
    form = draw(st.sampled_from(["list", "array", "subclass"]))
    given_olds = handed_as(olds, form)
    given_new = handed_as(news, form) if pairwise else news[0]
    handed = _pairs(given_olds, given_new)
    runs = [
        lambda w=w: dozudiror._replace_many_with(w, view, *handed)
        for w in dozudiror._widths
    ]
    for run in [lambda: replace_many(view, given_olds, given_new), *runs]:
        region[...] = start
        check_many(
            view, olds, news, pairwise, Guard(region, view), run, wanted
        )


@pytest.mark.parametrize("width", dozudiror._widths)
@pytest.mark.parametrize("dtype", ["u1", "i2", "i4", "f4", "f8", ">f8", "e"])
@pytest.mark.parametrize("count", [9, 20, 41, 64, 65])
@pytest.mark.parametrize("one_new", [True, False])
def test_olds_far_from_the_data_but_one(width, dtype, count, one_new):
    # Most vectors lie outside the olds' ranges and are turned away whole,
    # beside vectors whose matches take their news: every walk behind the
    # prefilter, in runs and blocks of vectors, with one new for all or
    # several.
    a = np.full(1024, 3, dtype)
    a[:512:5] = 1
    olds = [1, *range(90, 89 + count)]
    news = 2 if one_new else [2] + [7] * (count - 1)
    want = a.copy()
    want[a == 1] = 2
    dozudiror._replace_many_with(width, a, *_pairs(olds, news))
    np.testing.assert_array_equal(a, want)


@pytest.mark.parametrize("width", dozudiror._widths)
@pytest.mark.parametrize("dtype", ["u1", ">u2", "i4", "f8"])
@pytest.mark.parametrize("size", [7, 39, 70])
def test_one_new_for_many_olds_reaches_the_last_elements(width, dtype, size):
    # 80 olds, behind the prefilter: a table (8 and 16 bits), a dense table
    # (int32) or a hash (float64).  The elements past the last whole vector
    # are looked up one by one, and with one new for all the walk stores the
    # new it holds: a last element that matches nothing must not change it.
    olds = list(range(10, 250, 3))
    a = np.full(size, 5, dtype)
    a[-3] = olds[7]
    want = a.copy()
    want[-3] = 2
    dozudiror._replace_many_with(width, a, *_pairs(olds, 2))
    np.testing.assert_array_equal(a, want)


@pytest.mark.parametrize("width", dozudiror._widths)
@pytest.mark.parametrize("dtype", ["u1", "i1"])
@pytest.mark.parametrize("count", [3, 5, 9, 100, 255])
@pytest.mark.parametrize("one_new", [True, False])
def test_8_bit_olds_anywhere_among_the_values(width, dtype, count, one_new):
    # Every 8-bit value, in order, shuffled and reversed, through olds
    # drawn from all of them: where the target holds the set of olds and
    # their news in registers, each value is answered from its own place
    # in it, in either half of the values.
    rng = np.random.default_rng(count)
    values = np.arange(256, dtype=np.uint8).view(dtype)
    a = np.concatenate([values, rng.permutation(values), values[::-1]])
    olds = rng.choice(values, count, replace=False)
    news = rng.choice(values, 1 if one_new else count)
    want = a.copy()
    for old, new in zip(olds, np.resize(news, count), strict=True):
        want[a == old] = new
    new = news[0].item() if one_new else news.tolist()
    dozudiror._replace_many_with(width, a, *_pairs(olds.tolist(), new))
    np.testing.assert_array_equal(a, want)


@pytest.mark.parametrize("dtype", ["u1", "i1", "u2", ">i2"])
@pytest.mark.parametrize("form", ["dict", "arrays"])
@pytest.mark.parametrize("step", [1, 3, -1])
def test_a_whole_recoding_table(dtype, form, step):
    # Every value of an 8- or 16-bit type mapped: the table over every
    # value, a word of elements at a time where they are contiguous.
    dtype = np.dtype(dtype)
    info = np.iinfo(dtype)
    values = np.arange(int(info.min), int(info.max) + 1)
    rng = np.random.default_rng(0)
    base = rng.choice(values, 3 * values.size + 5).astype(dtype)
    a = base[::step]
    table = rng.permutation(values)
    want = table[a.astype(np.int64) - int(info.min)].astype(dtype)
    if form == "dict":
        replace_many(
            a, dict(zip(values.tolist(), table.tolist(), strict=True))
        )
    else:
        replace_many(a, values.astype(dtype), table)
    np.testing.assert_array_equal(a, want)


@pytest.mark.parametrize("dtype", ["u1", "i2", "f4", "f8"])
@pytest.mark.parametrize("count", range(1, 10))
def test_each_of_a_few_olds(dtype, count):
    # Vectors compare 2, 4 or 8 olds, padded from the count: each old,
    # with one new and with its own, at every width.
    olds = list(range(10, 10 + count))
    for new in (7, list(range(100, 100 + count))):
        want = np.repeat(new if isinstance(new, list) else [new] * count, 70)
        for width in (None, *dozudiror._widths):
            a = np.repeat(np.array(olds, dtype), 70)
            if width is None:
                replace_many(a, olds, new)
            else:
                dozudiror._replace_many_with(width, a, *_pairs(olds, new))
            np.testing.assert_array_equal(a, want.astype(dtype))


I8 = np.zeros(3, np.int8)
DIFFER = "`old[0]` and `old[1]` match the same elements but their news differ"

# fmt: off
ERRORS = [
    (([1], [1], 0), TypeError, NOT_ARRAY),
    ((I8, 5, 0), TypeError, "`old` must be a list of values or a mapping"),
    ((I8, "ab", 0), TypeError, "`old` must be a list of values or a mapping"),
    ((I8, [1], np.ones((1, 1))), TypeError,
     "`new` must be a value or a list of values"),
    ((I8, {1: 2}, 3), TypeError,
     "`new` must be omitted when `old` is a mapping"),
    ((I8, [1]), TypeError, "`new` is needed unless `old` is a mapping"),
    ((I8, [1, 2], [3]), ValueError,
     "`old` and `new` must have the same length, not 2 and 1"),
    ((I8, [1, "x"], 0), TypeError, "`old[1]` must be a number"),
    ((I8, [1, 1j], 0), TypeError, "`old[1]` must be a number"),
    ((I8, [1, 2], [0, None]), TypeError, "`new[1]` must be a number"),
    ((I8, [1, 2], None), TypeError, "`new` must be a number"),
    ((I8, [300], ["x"]), TypeError, "`new[0]` must be a number"),
    ((I8, [1, 300], 0), ValueError, "Cannot safely cast `old[1]` to int"),
    ((I8, [1, 2.5], 300), ValueError, "Cannot safely cast `old[1]` to int"),
    ((I8, [1, 2], [0, 300]), ValueError, "Cannot safely cast `new[1]` to int"),
    ((I8, [1, 2], 300), ValueError, "Cannot safely cast `new` to int"),
    ((I8, [1.0, 1], [2, 3]), ValueError, DIFFER),
    ((np.zeros(2), [0.0, -0.0], [1, 2]), ValueError, DIFFER),
    ((np.zeros(2, "c16"), [1, 1 + 0j], [1, 2]), ValueError, DIFFER),
    # Many olds: their conflicts are found through the lookup.
    ((np.zeros(2), [*range(1, 14), 1], list(range(14))), ValueError,
     "`old[0]` and `old[13]` match the same elements but their news differ"),
    # Many integer olds and news, read straight into the lookup: the same
    # errors, in the same order.
    ((I8, [*range(12), 128], 0), ValueError,
     "Cannot safely cast `old[12]` to int"),
    ((I8, np.arange(10, dtype="u2") * 20, np.arange(10) * 20), ValueError,
     "Cannot safely cast `old[7]` to int"),
    ((I8, np.arange(10), np.arange(10) - 200), ValueError,
     "Cannot safely cast `new[0]` to int"),
    ((I8, [*range(12), 300], [*range(12), 1j]), TypeError,
     "`new[12]` must be a number"),
    ((np.zeros(2, "u8"), np.arange(-1, 9), 0), ValueError,
     "Cannot safely cast `old[0]` to int"),
    ((np.zeros(2, "i2"), np.array([*range(1, 14), 1]), np.arange(14)),
     ValueError,
     "`old[0]` and `old[13]` match the same elements but their news differ"),
    ((np.zeros(2, "i4"), (*range(1, 14), 1), tuple(range(14))), ValueError,
     "`old[0]` and `old[13]` match the same elements but their news differ"),
    ((over_bytes(np.zeros(2)), [0, 1], 1), ValueError, READ_ONLY),
    ((over_bytes(np.zeros(2, "u1")), np.arange(20), 1), ValueError,
     READ_ONLY),
]
# fmt: on


@pytest.mark.parametrize("args, error, message", ERRORS)
def test_errors(args, error, message):
    # Each error before anything is written.
    a = args[0]
    before = a.copy() if isinstance(a, np.ndarray) else None
    with raises_msg(error, message):
        replace_many(*args)
    if before is not None:
        np.testing.assert_array_equal(a, before)


class Resizing:
    """A number whose float conversion first resizes an array."""

    def __init__(self, value, victim, size):
        self.value, self.victim, self.size = value, victim, size

    def __float__(self):
        self.victim.resize(self.size, refcheck=False)
        return self.value


@pytest.mark.parametrize("size", [0, 1, 200_000])
@pytest.mark.parametrize("width", dozudiror._widths)
def test_arrays_of_olds_and_news_are_read_before_any_users_code(width, size):
    # A conversion of the user's may resize an array of news or olds given
    # beside it: the call reads both arrays as they were when it began.
    run = dozudiror._replace_many_with
    news = np.array([5.0, 6.0])
    a = np.array([1.0, 2.0, 3.0])
    olds = (Resizing(1.0, news, size), 2.0)
    run(width, a, olds, news, True)
    np.testing.assert_array_equal(a, [5.0, 6.0, 3.0])
    olds = np.array([1.0, 2.0])
    a = np.array([1.0, 2.0, 3.0])
    run(width, a, olds, (Resizing(7.0, olds, size), 8.0), True)
    np.testing.assert_array_equal(a, [7.0, 8.0, 3.0])
    news = np.array([5.0, 6.0])
    a = np.array([1.0, 2.0, 3.0])
    replace_many(a, [Resizing(1.0, news, size), 2.0], news)
    np.testing.assert_array_equal(a, [5.0, 6.0, 3.0])


@pytest.mark.parametrize(
    "a, old, new, want",
    [
        # A NaN old matches no integer and its new is not looked at; an
        # empty list, or only such olds, change nothing.
        (np.array([1, 2]), [float("nan"), 2], [2.5, 0], [1, 0]),
        (np.array([1, 2]), [], 5, [1, 2]),
        (np.array([1, 2]), {}, None, [1, 2]),
        # Chains are simultaneous, also where NumPy masks serve.
        (np.array([1, 2, 3], "c16"), {1: 2, 2: 3 + 1j}, None, [2, 3 + 1j, 3]),
        (np.array(["a", "b"]), {"a": "b", "b": "c"}, None, ["b", "c"]),
        (
            np.array([1, 2], "M8[D]"),
            [np.datetime64(1, "D")],
            np.datetime64(5, "D"),
            np.array([5, 2], "M8[D]"),
        ),
        (
            np.array([1.5, np.nan], np.longdouble),
            [np.nan, 1.5],
            [0, 9],
            [9, 0],
        ),
        (np.array([None, 1], object), {None: 0, 1: None}, None, [0, None]),
        # Many 64-bit olds: a hash, one of whose olds has the bits that
        # mark its empty slots.
        (
            np.array([0xA5A5A5A5A5A5A5A5, 3, 0], np.uint64),
            [0xA5A5A5A5A5A5A5A5, *range(1, 40)],
            7,
            [7, 7, 0],
        ),
        # More olds than vectors compare: the lookup, on a run one element
        # longer than its steps of 64.
        (
            np.arange(65) % 5,
            {k: k + 1 for k in range(1, 10)},
            None,
            [0, 2, 3, 4, 5] * 13,
        ),
        # Big-endian elements, native loops.
        (np.array([1, 2, 3], ">i4"), [1, 3], [3, 1], [3, 2, 1]),
        (np.array([0.0, -0.0, 1.0], ">f8"), [0, 1], 7, [7, 7, 7]),
    ],
)
def test_forms_and_element_types(a, old, new, want):
    if new is None:
        assert replace_many(a, old) is a
    else:
        assert replace_many(a, old, new) is a
    np.testing.assert_array_equal(a, np.asarray(want, a.dtype))


# Under a limit on the address space: a child process, so that a crash or
# an abort fails the test instead of the run.  AddressSanitizer reserves
# its shadow memory at start and cannot work under such a limit, and under
# qemu-user (how CI runs aarch64) the limit binds the emulator, whose
# reservation the guest's memory comes from, not the guest's allocations.
LIMITED = pytest.mark.skipif(
    not sys.platform.startswith("linux")
    or platform.machine() != "x86_64"
    or "asan" in os.environ.get("LD_PRELOAD", ""),
    reason="needs /proc and an address space of its own",
)


def run_limited(body, headroom):
    """Runs `body` in a child whose address space may grow by `headroom`
    bytes past what it holds after importing; returns its stdout."""
    code = textwrap.dedent(
        f"""
        import resource, numpy as np, fennick
        pages = int(open("/proc/self/statm").read().split()[0])
        hard = resource.getrlimit(resource.RLIMIT_AS)[1]
        soft = pages * resource.getpagesize() + {headroom}
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        """
    ) + textwrap.dedent(body)
    done = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert done.returncode == 0, done.stderr[-2000:]
    return done.stdout


@LIMITED
@pytest.mark.parametrize("dtype", ["u8", "i8", "u4", "f8"])
def test_olds_that_collide_take_memory_by_their_count(dtype):
    # Olds whose products by the golden ratio share their top bits (a
    # hash keyed by those bits alone would pile them up or grow without
    # end), then runs of consecutive values and of floats' exponents: the
    # lookup takes a few pages for each, within 64 MiB whatever the values.
    out = run_limited(
        f"""
        dtype = np.dtype("{dtype}")
        bits = 8 * dtype.itemsize
        inv = pow(0x9e3779b97f4a7c15, -1, 2**64)
        tries = [
            [inv * i % 2**64 for i in range(5)] + list(range(1000, 1004)),
            [(inv * i % 2**64) >> (64 - bits) for i in range(2000)],
            [i << (bits - 12) for i in range(2000)],
            list(range(2000)),
        ]
        for olds in tries:
            olds = np.array(olds, "u8").astype(dtype.str.replace("f", "u"))
            olds = np.unique(olds).view(dtype)
            olds = olds[~np.isnan(olds)] if dtype.kind == "f" else olds
            a = np.concatenate([olds, olds[::-1], np.zeros(7, dtype)])
            want = np.where(np.isin(a, olds), 3, a).astype(dtype)
            fennick.replace_many(a, olds.tolist(), 3)
            assert np.array_equal(a, want)
        print("ok")
        """,
        64 << 20,
    )
    assert out == "ok\n"


@LIMITED
def test_a_lookup_without_memory_raises_and_keeps_nothing():
    # Four million olds need a lookup of half a GiB: MemoryError, every
    # time, with the array untouched and nothing kept (a later call that
    # fits still runs).
    out = run_limited(
        """
        olds = np.arange(1, 2**22 + 2, dtype=np.int64)
        a = np.arange(10, dtype=np.int64)
        for _ in range(5):
            try:
                fennick.replace_many(a, olds, 0)
            except MemoryError:
                pass
            else:
                raise AssertionError("no MemoryError")
        assert np.array_equal(a, np.arange(10))
        fennick.replace_many(a, olds[: 2**17], 0)
        assert np.array_equal(a, [0] * 10)
        print("ok")
        """,
        600 << 20,
    )
    assert out == "ok\n"
