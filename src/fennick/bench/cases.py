"""What is timed on: element types, layouts, patterns of matches, calls,
and the plan of cases for a run.

A case is (dtype, layout, size, match, call): an array of about `size`
elements of one element type, seen through one layout, in which the
elements that `match` picks hold `old` (one of the olds of a call of
replace_many), replaced by `call`.
"""

import math
from collections import namedtuple

import numpy as np

NATIVE = ("float64", "float32", "int64", "int32")
OTHER = (
    "int16",
    "uint16",
    "int8",
    "uint8",
    "uint32",
    "uint64",
    "bool",
    "float16",
    "longlong",
    ">f8",
    ">f4",
    ">i8",
    ">i4",
    ">i2",
)
DTYPES = NATIVE + OTHER
NARROW = tuple(d for d in DTYPES if np.dtype(d).itemsize <= 2)  # 8/16-bit
WIDE = tuple(d for d in DTYPES if d not in NARROW)  # 32/64-bit


def _noise(shape, dtype, rng):
    """Values that never match: 3..99 (every numeric type holds them), or
    False for bool, whose matches are True."""
    if dtype.kind == "b":
        return np.zeros(shape, dtype)
    return rng.integers(3, 100, shape).astype(dtype)


def _rows(n):
    return 10 if n >= 100 else 1


# Layouts by family: name -> (family, view of about n elements).
LAYOUTS = {
    "1-d": ("contiguous", lambda n, d, r: _noise(n, d, r)),
    "2-d C": (
        "contiguous",
        lambda n, d, r: _noise((_rows(n), n // _rows(n)), d, r),
    ),
    "2-d F": (
        "contiguous",
        lambda n, d, r: np.asfortranarray(
            _noise((_rows(n), n // _rows(n)), d, r)
        ),
    ),
    "2-d [:, ::-1]": (
        "contiguous",
        lambda n, d, r: _noise((_rows(n), n // _rows(n)), d, r)[:, ::-1],
    ),
    "x[::-1]": ("reversed", lambda n, d, r: _noise(n, d, r)[::-1]),
    "3-d [::-1, ::-1, ::-1]": (
        "reversed",
        lambda n, d, r: _noise((max(1, n // 100), 10, 10), d, r)[
            ::-1, ::-1, ::-1
        ],
    ),
    "x[::2]": ("strided", lambda n, d, r: _noise(2 * n, d, r)[::2]),
    "planes[::2]": (
        "strided",
        lambda n, d, r: _noise((2 * max(1, n // 30), 10, 3), d, r)[::2],
    ),
    "x[:, 3] of (n, 16)": (
        "strided",
        lambda n, d, r: _noise((n, 16), d, r)[:, 3],
    ),
    "x2[:, :1]": ("length 1", lambda n, d, r: _noise((n, 2), d, r)[:, :1]),
    "x[None, :]": ("length 1", lambda n, d, r: _noise(n, d, r)[None, :]),
    "x[:, None]": ("length 1", lambda n, d, r: _noise(n, d, r)[:, None]),
    "3-d transposed": (
        "transposed",
        lambda n, d, r: _noise((max(1, n // 100), 10, 10), d, r).transpose(
            2, 0, 1
        ),
    ),
}
FAMILIES = ("contiguous", "reversed", "strided", "length 1", "transposed")
CONTIGUOUS = ("1-d", "2-d C", "2-d F")
NAMED = (
    "x2[:, :1]",
    "x[None, :]",
    "x[:, None]",
    "planes[::2]",
    "3-d [::-1, ::-1, ::-1]",
    "3-d transposed",
    "x[:, 3] of (n, 16)",
)


# Patterns of matches, as a mask of n elements in the view's logical order.
def _random(n, share, rng):
    hits = rng.random(n, np.float32) < share
    if n:
        hits[rng.integers(n)] = True  # at least one
    return hits


def _block(n, share, rng):
    """One contiguous region: a nodata edge or an empty tile."""
    hits = np.zeros(n, bool)
    k = round(share * n)
    start = rng.integers(n - k + 1)
    hits[start : start + k] = True
    return hits


RUN = (64, 1024)  # the lengths of runs, inclusive


def _runs(n, share, rng):
    """Runs of RUN[0] to RUN[1] matches (a sensor's outages, a blob in an
    image), apart by gaps drawn so that the runs cover about `share`."""
    run = sum(RUN) / 2
    gap = run * (1 - share) / share  # the mean gap
    lengths, total = [], 0
    while total < n:  # alternate gap, run, gap, run, ...
        k = int(n / (run + gap)) + 2
        pairs = np.stack(
            [
                rng.integers(0, int(2 * gap) + 1, k),
                rng.integers(RUN[0], RUN[1] + 1, k),
            ],
            axis=1,
        ).ravel()
        lengths.append(pairs)
        total += int(pairs.sum())
    lengths = np.concatenate(lengths)
    return np.repeat(np.tile([False, True], len(lengths) // 2), lengths)[:n]


# name -> (mask of n elements, share).  Random shares are those of the
# first benchmarks; the others are the clustered matches of real data
# (nodata regions, outage runs, saturated blobs) beside none and all.
MATCHES = {
    "1%": (_random, 0.01),
    "50%": (_random, 0.5),
    "90%": (_random, 0.9),
    "none": (lambda n, share, rng: np.zeros(n, bool), 0.0),
    "block 30%": (_block, 0.3),
    "runs 5%": (_runs, 0.05),
    "runs 90%": (_runs, 0.9),
    "every": (lambda n, share, rng: np.ones(n, bool), 1.0),
    "NaN 1%": (_random, 0.01),  # `old` is NaN
    "NaN 50%": (_random, 0.5),
}
RANDOM = ("1%", "50%", "NaN 1%", "NaN 50%")  # the grid and the first goals
STORES = ("50%", "90%")  # random shares that store much
CLUSTERED = ("none", "block 30%", "runs 5%", "runs 90%", "every")
PATTERNS = (*CLUSTERED, "1%", *STORES)  # timed on 1-d arrays of 1e6, 1e7

OLD, NEW = 1, 2

# The calls: replace(a, old, new), and replace_many with k olds, as a list
# of olds and one new (several nodata sentinels), or as pairs of an old and
# its new (a remap of class codes, here a cycle among the olds).
CALLS = {"replace": (1, False), "3 olds": (3, False), "16 pairs": (16, True)}
MANY = ("3 olds", "16 pairs")

Case = namedtuple("Case", "dtype layout size match call", defaults=["replace"])


def _number(dtype, x):
    return x if dtype.kind == "b" else float(x) if dtype.kind == "f" else x


def _calls(dtype, call, nan_old):
    """The arguments (old, new) of a call and of the call after it that
    puts the matches back, so that every call finds its matches again."""
    k, pairwise = CALLS[call]
    if dtype.kind == "b":  # only True matches; it stays True
        return (True, True), (True, True)
    old = math.nan if nan_old else OLD
    if k == 1:
        old, new = _number(dtype, old), _number(dtype, NEW)
        return (old, new), (new, old)
    # olds that no noise value (3..99) equals, and that int8 holds
    olds = [_number(dtype, x) for x in (old, *range(100, 99 + k))]
    if pairwise:  # a cycle: olds[i] -> olds[i + 1]
        news = olds[1:] + olds[:1]
        return (olds, news), (news, olds)
    new = _number(dtype, NEW)
    return (olds, new), ([new, *olds[1:]], olds[0])


def make_case(case, rng):
    """The view of one case with its olds where `case.match` puts them, the
    arguments of the timed call and of the call that undoes it (see
    _calls), and the number of matches."""
    dtype = np.dtype(case.dtype)
    view = LAYOUTS[case.layout][1](case.size, dtype, rng)
    values = _noise(view.shape, dtype, rng)
    pattern, share = MATCHES[case.match]
    hits = pattern(view.size, share, rng).reshape(view.shape)
    forth, back = _calls(dtype, case.call, case.match.startswith("NaN"))
    olds = np.array(forth[0], dtype).ravel()  # one or k
    values[hits] = olds[rng.integers(len(olds), size=np.count_nonzero(hits))]
    view[...] = values
    return view, forth, back, int(np.count_nonzero(hits))


# What each scope of run times: the default takes a few minutes, --quick
# well under one, --full tens of minutes.
SCOPES = {
    "quick": {
        "tiny": (1, 10),
        "contiguous": (10**5, 10**6),
        "big": (),
        "grid": (10**5,),
        "grid dtypes": (*NATIVE, "int16", "uint8", "bool", ">i2"),
        "patterns": (10**6,),
        "pattern dtypes": ("float64", "float32", "int16", "uint8"),
        "many": (10**5,),
        "many layouts": ("1-d",),
    },
    "default": {
        "tiny": (1, 10),
        "contiguous": (10**4, 10**5, 10**6),
        "big": (10**7,),
        "grid": (10**3, 10**5),
        "grid dtypes": DTYPES,
        "patterns": (10**6, 10**7),
        "pattern dtypes": (*NATIVE, "int16", "uint8"),
        "many": (10**5, 10**6),
        "many layouts": ("1-d",),
    },
    "full": {
        "tiny": (1, 10, 100),
        "contiguous": (10**4, 10**5, 10**6),
        "big": (10**7,),
        "grid": (10**3, 10**4, 10**5, 10**6, 10**7),
        "grid dtypes": DTYPES,
        "patterns": (10**6, 10**7),
        "pattern dtypes": DTYPES,
        "many": (10**5, 10**6, 10**7),
        "many layouts": ("1-d", "x[::2]", "2-d F"),
    },
}


def _kept(matches, dtype):
    """`matches` less the NaN ones where `dtype` holds no NaN."""
    return [
        m
        for m in matches
        if np.dtype(dtype).kind == "f" or not m.startswith("NaN")
    ]


def plan(args):
    """The cases to time."""
    dtypes = [d for d in DTYPES if d in args.dtypes]
    native = [d for d in dtypes if d in NATIVE]
    other = [d for d in dtypes if d not in NATIVE]
    layouts = [lay for lay in LAYOUTS if lay in args.layouts]
    shares = RANDOM if args.full else RANDOM[:2]

    if args.sizes:  # exactly what was asked for
        return [
            Case(d, lay, n, m, call)
            for d in dtypes
            for lay in layouts
            for n in args.sizes
            for m in _kept(args.patterns or shares, d)
            for call in args.calls or ("replace",)
            if call == "replace" or (d != "bool" and not m.startswith("NaN"))
        ]
    scope = SCOPES[
        "full" if args.full else "quick" if args.quick else "default"
    ]
    contiguous = [lay for lay in CONTIGUOUS if lay in layouts]
    one_d = [lay for lay in ("1-d",) if lay in layouts]
    big = [*scope["big"], *([10**8] if args.large else [])]
    cases = []
    # tiny arrays, natively and through the reference module
    cases += [
        Case(d, lay, n, "1%")
        for d in native
        for lay in one_d
        for n in scope["tiny"]
    ]
    cases += [Case(d, lay, 10, "1%") for d in other for lay in one_d]
    # contiguous arrays in cache, and at the speed of memory
    cases += [
        Case(d, lay, n, m)
        for d in native
        for lay in contiguous
        for n in scope["contiguous"]
        for m in _kept(shares, d)
    ]
    cases += [
        Case(d, lay, n, m)
        for d in native
        for lay in one_d
        for n in big
        for m in _kept(shares, d)
    ]
    # the patterns of real data, where memory bounds the loops
    cases += [
        Case(d, lay, n, m)
        for d in dtypes
        if d in scope["pattern dtypes"]
        for lay in one_d
        for n in scope["patterns"]
        for m in _kept(args.patterns or PATTERNS, d)
    ]
    # every element type against every layout
    grid_shares = ("1%", "50%") if args.full else ("1%",)
    cases += [
        Case(d, lay, n, m)
        for d in dtypes
        if d in scope["grid dtypes"]
        for lay in layouts
        for n in scope["grid"]
        for m in grid_shares
    ]
    # several olds in one call of replace_many
    cases += [
        Case(d, lay, n, m, call)
        for d in dtypes
        if d in scope["pattern dtypes"]
        for lay in layouts
        if lay in scope["many layouts"]
        for n in scope["many"]
        for m in ("1%", "50%")
        for call in args.calls or MANY
        if call != "replace" and d != "bool"
    ]
    seen = set()
    return [c for c in cases if not (c in seen or seen.add(c))]
