"""replace agrees with the NumPy-mask oracle on random views and values,
edge values included, and writes nothing outside the view; so does every
vector width of the loops, for every numeric element type."""

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra.numpy import array_shapes
from numpy.lib.stride_tricks import as_strided

import fennick
from conftest import (
    EDGE_BITS,
    NATIVE_DTYPES,
    Guard,
    check_replace,
    fill_from_pool,
    float_from_bits,
    float_pool,
    guard_value,
    int_pool,
    int_range,
    placed,
)
from fennick import dozudiror
from fennick.dozudiror import replace
from fennick.many import _pairs

# Scalars at or past the edges of what the integer types hold exactly.
INEXACT = [
    0.5,
    -2.5,
    float("nan"),
    float("inf"),
    -float("inf"),
    3e9,
    2.0**31,
    2.0**63,
    -(2.0**63),
    2**63 - 1,
    1e300,
    -0.0,
]


def scalars(dtype):
    """Values for `old` and `new`: mostly ones the element type can hold."""
    if dtype.kind == "f":
        pool = [float(v) for v in float_pool(dtype)]
        edge = st.sampled_from(EDGE_BITS[8]).map(float_from_bits)
        return st.one_of(
            edge,
            st.sampled_from(pool),
            st.floats(),
            st.integers(-(2**70), 2**70),
        )
    if dtype.kind == "b":
        return st.sampled_from([0, 1, True, False, 2, 0.5, -0.0, float("nan")])
    lo, hi = int_range(dtype)
    pool = [int(v) for v in int_pool(dtype)]
    exact = st.one_of(st.sampled_from(pool), st.integers(lo, hi))
    return st.one_of(
        exact, exact, exact, exact.map(float), st.sampled_from(INEXACT)
    )


def random_view(draw, base):
    """A random strided, reversed, broadcast and transposed view of base."""
    index = []
    for length in base.shape:
        kind = draw(
            st.sampled_from(["all", "all", "all", "reversed", "slice"])
        )
        if kind == "all":
            index.append(slice(None))
        elif kind == "reversed":
            index.append(slice(None, None, -1))
        else:
            start = draw(st.integers(0, length))
            stop = draw(st.integers(start, length))
            step = draw(st.sampled_from([1, 2, 3, -1, -2]))
            index.append(
                slice(start, stop, step)
                if step > 0
                else slice(
                    stop - 1 if stop else None,
                    start - 1 if start else None,
                    step,
                )
            )
    view = base[tuple(index) + (Ellipsis,)]  # a view even when 0-d
    if draw(st.booleans()) and view.ndim < 4:
        # An extra axis of stride 0: the same elements seen several times.
        repeat = draw(st.integers(1, 3))
        axis = draw(st.integers(0, view.ndim))
        shape = view.shape[:axis] + (repeat,) + view.shape[axis:]
        strides = view.strides[:axis] + (0,) + view.strides[axis:]
        view = as_strided(view, shape, strides, writeable=True)
    return view.transpose(draw(st.permutations(range(view.ndim))))


# Values of `new` whose bits are easy to lose on the way to memory.
FRAGILE = [
    -0.0,
    float_from_bits(0x7FF0000000000001),
    float_from_bits(0xFFF8000000C0FFEE),
]


# Every element type the loops serve, in both byte orders.
CODES = "f8 f4 e l i q h b B H I L ? >f8 >f4 >e >i8 >u8 >i4 >u2 >i2"
NUMERIC = [np.dtype(c) for c in CODES.split()]


def scalars_and_region(draw, dtype, shape, order):
    """`old` and `new` for `dtype`, and an array of `shape` placed, possibly
    misaligned, in a region whose other elements hold `old`."""
    old = draw(scalars(dtype))
    new = draw(st.one_of(scalars(dtype), st.sampled_from(FRAGILE)))
    region, base = placed(
        dtype,
        shape,
        guard_value(dtype, old),
        order=order,
        misalign=draw(st.integers(0, dtype.itemsize - 1)),
    )
    return old, new, region, base


@settings(max_examples=400, deadline=None)
@given(st.data())
def test_every_width_agrees_with_oracle(data):
    # The same random view, values and scalars, replaced by the loops of
    # each vector width this processor runs and by fennick.replace (which
    # routes), must give the oracle's bits, errors and untouched guards.
    draw = data.draw
    dtype = draw(st.sampled_from(NUMERIC))
    shape = draw(
        st.one_of(
            array_shapes(min_dims=0, max_dims=4, min_side=0, max_side=9),
            st.integers(0, 300).map(lambda n: (n,)),
        )
    )
    order = draw(st.sampled_from("CF"))
    old, new, region, base = scalars_and_region(draw, dtype, shape, order)
    view = random_view(draw, base)
    fill_from_pool(view, [old], draw(st.integers(0, 2**32 - 1)))
    start = region.copy()
    runs = {
        w: lambda w=w: dozudiror._replace_with(w, view, old, new)
        for w in dozudiror._widths
    }
    runs["fennick.replace"] = lambda: replace(view, old, new)
    for run in runs.values():
        region[...] = start
        check_replace(view, old, new, Guard(region, view), run=run)


@settings(max_examples=200, deadline=None)
@given(st.data())
def test_contiguous_runs_agree_with_oracle(data):
    # Runs long enough for the vector blocks, plus every tail length.
    draw = data.draw
    dtype = draw(st.sampled_from(NATIVE_DTYPES))
    n = draw(st.integers(0, 300))
    shape = draw(st.sampled_from([(n,), (2, n), (n, 3)]))
    order = draw(st.sampled_from("CF"))
    old, new, region, view = scalars_and_region(draw, dtype, shape, order)
    fill_from_pool(view, [old], draw(st.integers(0, 2**32 - 1)))
    check_replace(view, old, new, Guard(region, view))


def _outcome(run):
    """What `run()` gives: ("ok", result) or ("raise", type, message)."""
    try:
        return ("ok", run())
    except Exception as e:  # noqa: BLE001 - compared with the oracle's
        return ("raise", type(e), str(e))


@settings(max_examples=300, deadline=None)
@given(st.data())
def test_replaced_agrees_with_copy_and_replace(data):
    # fennick.replaced, and the copying loops of every width, give the
    # bits, dtype, strides and errors of np.copy(order="K") + replace, and
    # leave the view (even a read-only one) as it was.
    draw = data.draw
    dtype = draw(st.sampled_from(NUMERIC))
    shape = draw(
        st.one_of(
            array_shapes(min_dims=0, max_dims=4, min_side=0, max_side=9),
            st.integers(0, 300).map(lambda n: (n,)),
        )
    )
    order = draw(st.sampled_from("CF"))
    old, new, region, base = scalars_and_region(draw, dtype, shape, order)
    view = random_view(draw, base)
    fill_from_pool(view, [old], draw(st.integers(0, 2**32 - 1)))
    view.flags.writeable = draw(st.booleans())
    start = region.copy()

    def oracle():
        b = np.copy(view, order="K")
        replace(b, old, new)
        return b

    runs = {
        w: lambda w=w: dozudiror._replaced_with(w, view, old, new)
        for w in dozudiror._widths
    }
    runs["fennick.replaced"] = lambda: fennick.replaced(view, old, new)
    _copies_agree(_outcome(oracle), runs, region, start)


def _copies_agree(wanted, runs, region, start):
    """Each of `runs` gives the `wanted` outcome of an oracle that copies
    and replaces (or NotImplemented), a new base array of its bits, dtype,
    shape and strides, and leaves `region` as it was (`start`)."""
    for name, run in runs.items():
        got = _outcome(run)
        assert region.tobytes() == start.tobytes()
        if got[0] == "ok" and got[1] is NotImplemented:
            continue
        assert got[0] == wanted[0], (name, got, wanted)
        if got[0] == "raise":
            assert got[1:] == wanted[1:], name
            continue
        out, want = got[1], wanted[1]
        assert type(out) is np.ndarray
        assert out.dtype == want.dtype and out.shape == want.shape
        assert out.strides == want.strides, name
        assert out.base is None and out.flags.writeable
        assert out.tobytes() == want.tobytes(), name


@settings(max_examples=200, deadline=None)
@given(st.data())
def test_replaced_many_agrees_with_copy_and_replace_many(data):
    # fennick.replaced_many, and the copying loops of a few olds at every
    # width, give what np.copy(order="K") + replace_many gives, and leave
    # the view (even a read-only one) as it was.
    draw = data.draw
    dtype = draw(st.sampled_from(NUMERIC))
    shape = draw(
        st.one_of(
            array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=9),
            st.integers(0, 300).map(lambda n: (n,)),
        )
    )
    old, new, region, base = scalars_and_region(
        draw, dtype, shape, draw(st.sampled_from("CF"))
    )
    olds = [old, *draw(st.lists(scalars(dtype), min_size=1, max_size=9))]
    pairwise = draw(st.booleans())
    news = draw(
        st.lists(scalars(dtype), min_size=len(olds), max_size=len(olds))
    )
    given_new = news if pairwise else new
    view = random_view(draw, base)
    fill_from_pool(view, olds, draw(st.integers(0, 2**32 - 1)))
    view.flags.writeable = draw(st.booleans())
    start = region.copy()

    def oracle():
        b = np.copy(view, order="K")
        fennick.replace_many(b, olds, given_new)
        return b

    handed = _pairs(olds, given_new)
    runs = {
        w: lambda w=w: dozudiror._replaced_many_with(w, view, *handed)
        for w in dozudiror._widths
    }
    runs["fennick.replaced_many"] = lambda: fennick.replaced_many(
        view, olds, given_new
    )
    _copies_agree(_outcome(oracle), runs, region, start)
