"""What is timed on: element types, layouts, patterns of matches, calls,
and the plan of cases for a run.

A case is (dtype, layout, size, match, call): an array of about `size`
elements of one element type, seen through one layout, in which the
elements that `match` picks hold `old` (one of the olds of a call of
replace_many), replaced by `call`.
"""

import math
from collections import namedtuple
from types import SimpleNamespace

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

# The calls, by name: (count of olds, form).  "one" is replace(a, old,
# new); the others call replace_many: "olds" with a list of olds and one
# new (several nodata sentinels, far from the data: 1 and 100 up), "pairs"
# with a list of olds and one new each, "inside" with olds among the
# values of the data (every other value from 4 up, the data the values
# between) and a new each, "map" with a mapping of codes to others (20: a
# recode of land-cover classes; 1000 codes), "table" with every value of a
# 16-bit type (a full recoding table).  No new is an old, so replacing one
# pair after another is right too; the table's news are a permutation of
# its olds.
CALLS = {
    "replace": (1, "one"),
    **{f"{k} olds": (k, "olds") for k in (2, 4, 8, 9, 16, 64, 256)},
    **{f"{k} pairs": (k, "pairs") for k in (2, 4, 8)},
    **{f"{k} inside": (k, "inside") for k in (16, 48)},
    "20 map": (20, "map"),
    "1000 map": (1000, "map"),
    "65536 table": (65536, "table"),
    # replaced(a, old, new): a replaced copy, beside np.copy and np.where
    "replaced": (1, "copy"),
}
# a few olds, compared a vector at a time; more, behind the prefilter
FEW = tuple(
    c for c, (k, form) in CALLS.items() if form in ("olds", "pairs") and k <= 8
)
MORE = tuple(
    c
    for c, (k, form) in CALLS.items()
    if form == "inside" or (form == "olds" and k > 8)
)
MANY = tuple(
    c for c, (_, form) in CALLS.items() if form not in ("one", "copy")
)
# the element types each form is planned for
MANY_DTYPES = {
    "olds": ("float64", "float32", "int64", "int32", "int16", "uint8"),
    "pairs": ("float64", "float32", "int16", "uint8"),
    "inside": ("float64", "int64", "int32", "int16", "uint8"),
    "map": ("uint8", "int32", "float64"),
    "table": ("uint16",),
    "copy": ("float64", "int32"),
}
MAP_SIZE = 10**6
MAP_MATCHES = ("50%", "every")  # about half the elements are olds; all are

Case = namedtuple("Case", "dtype layout size match call", defaults=["replace"])

# The arguments of one call: `more` holds what some competitors take
# instead of the lists (see _more), or None.
Call = namedtuple("Call", "old new more", defaults=[None])


def _universe(dtype):
    """How many values from 0 up the olds, news and other elements of a
    mapping are drawn from: values every element type holds exactly."""
    if dtype.kind == "f":
        return 2**20 if dtype.itemsize >= 4 else 0  # float16: too few
    if dtype.kind in "iu":
        return min(2**20, int(np.iinfo(dtype).max) + 1)
    return 0


def serves(call, dtype, match):
    """Whether `call` is timed on elements of `dtype` with `match`."""
    dtype = np.dtype(dtype)
    k, form = CALLS[call]
    if form == "one":
        return True
    if dtype.kind == "b" or match.startswith("NaN"):
        return False
    if form == "copy":  # np.where returns native byte order
        return dtype.isnative
    if form == "map":
        return _universe(dtype) >= 8 * k
    if form == "table":  # every element is an old
        return (
            dtype.kind in "iu"
            and 2 ** (8 * dtype.itemsize) == k
            and (match == "every")
        )
    if dtype.kind in "iu":  # the olds and news of _few fit
        top = {"olds": 98 + k, "pairs": 108 + k, "inside": 149 + k}[form]
        return top <= np.iinfo(dtype).max
    return True


def _number(dtype, x):
    return x if dtype.kind == "b" else float(x) if dtype.kind == "f" else x


def _few(dtype, call, nan_old):
    """The arguments (old, new) of a call of few olds, and of the call after
    it that puts the matches back, so that every call finds its matches
    again."""
    k, form = CALLS[call]
    if dtype.kind == "b":  # only True matches; it stays True
        return Call(True, True), Call(True, True)
    old = math.nan if nan_old else OLD
    if k == 1:
        old, new = _number(dtype, old), _number(dtype, NEW)
        return Call(old, new), Call(new, old)
    # olds and news that no noise value (3..99) equals, and that int8 holds
    olds = [_number(dtype, x) for x in (old, *range(100, 99 + k))]
    if form == "inside":  # even olds among odd noise, news above it
        olds = [_number(dtype, 4 + 2 * i) for i in range(k)]
    if form in ("pairs", "inside"):
        news = (
            (NEW, *range(110, 109 + k))
            if form == "pairs"
            else range(150, 150 + k)
        )
        news = [_number(dtype, x) for x in news]
        return Call(olds, news, _more(olds, news, dtype)), Call(
            news, olds, _more(news, olds, dtype)
        )
    new = _number(dtype, NEW)  # the way back: every match to olds[0]
    return Call(olds, new), Call([new, *olds[1:]], olds[0])


def _mapping(dtype, form, k, rng):
    """k distinct olds, their k distinct news (none of them an old) and the
    values that are neither, which the other elements hold; a table's olds
    are every value of the type, its news a permutation of them."""
    if form == "table":
        bits = np.arange(k, dtype=f"u{dtype.itemsize}")
        olds = bits.view(f"{dtype.kind}{dtype.itemsize}").astype(dtype)
        return olds, rng.permutation(olds), olds[:0]
    drawn = rng.choice(_universe(dtype), 2 * k, replace=False)
    free = np.ones(_universe(dtype), bool)
    free[drawn] = False
    rest = np.flatnonzero(free)
    return drawn[:k].astype(dtype), drawn[k:].astype(dtype), rest.astype(dtype)


def _more(old, new, dtype):
    """What competitors other than replace_many take for the pairs (old[i],
    new[i]), made before any timing: `mapping`, a dict; `keys` and `vals`,
    the olds sorted and their news, as the searchsorted recipe wants them;
    for 8- and 16-bit integers `table`, the new of every value (itself
    where it is no old), indexed by the value as np.take reads it."""
    old, new = np.array(old, dtype), np.array(new, dtype)
    order = np.argsort(old, kind="stable")
    more = SimpleNamespace(
        mapping=dict(zip(old.tolist(), new.tolist(), strict=True)),
        keys=old[order],
        vals=new[order],
    )
    if dtype.kind in "iu" and dtype.itemsize <= 2:
        span = 2 ** (8 * dtype.itemsize)
        table = np.arange(span).astype(dtype)  # wraps past the largest
        table[old.astype(np.int64) % span] = new  # as take wraps negatives
        more.table = table
    return more


def make_case(case, rng):
    """The view of one case with its olds where `case.match` puts them, the
    arguments (Call) of the timed call and of the call that undoes it (see
    _few), and the number of matches."""
    dtype = np.dtype(case.dtype)
    k, form = CALLS[case.call]
    view = LAYOUTS[case.layout][1](case.size, dtype, rng)
    pattern, share = MATCHES[case.match]
    hits = pattern(view.size, share, rng).reshape(view.shape)
    if form in ("map", "table"):
        olds, news, rest = _mapping(dtype, form, k, rng)
        values = np.empty(view.shape, dtype)
        values[~hits] = rest[rng.integers(len(rest), size=(~hits).sum())]
        forth = Call(olds, news, _more(olds, news, dtype))
        back = Call(news, olds, _more(news, olds, dtype))
    else:
        values = _noise(view.shape, dtype, rng)
        if form == "inside":  # odd values only, between the olds
            values[values % 2 == 0] += 1
        forth, back = _few(dtype, case.call, case.match.startswith("NaN"))
        olds = np.array(forth.old, dtype).ravel()  # one or k
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
        "few": (10**6,),
        "map matches": ("50%",),
        "copies": (10**6,),
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
        "few": (10**5, 10**6, 10**7),
        "map matches": MAP_MATCHES,
        "copies": (10**6, 10**7),
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
        "few": (10**5, 10**6, 10**7),
        "map matches": MAP_MATCHES,
        "copies": (10**6, 10**7),
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
    """The cases to time (none with --frames alone: frames.plan)."""
    if args.frames and not args.many:
        return []
    dtypes = [d for d in DTYPES if d in args.dtypes]
    layouts = [lay for lay in LAYOUTS if lay in args.layouts]
    shares = RANDOM if args.full else RANDOM[:2]

    if args.sizes:  # exactly what was asked for
        return [
            Case(d, lay, n, m, call)
            for d in dtypes
            for lay in layouts
            for n in args.sizes
            for m in _kept(args.patterns or shares, d)
            for call in args.calls or (MANY if args.many else ("replace",))
            if serves(call, d, m)
        ]
    scope = SCOPES[
        "full" if args.full else "quick" if args.quick else "default"
    ]
    cases = [] if args.many else _replace_cases(args, scope, dtypes, layouts)
    # several olds in one call of replace_many: the few as lists and pairs,
    # the mapping and the table, each on the element types of its targets
    # and replaced, a replaced copy, unless --many
    for call in args.calls or (*MANY, *(() if args.many else ("replaced",))):
        form = CALLS[call][1]
        if form == "one":
            continue
        sizes = {"copy": scope["copies"]}.get(
            form, scope["few"] if call in FEW + MORE else (MAP_SIZE,)
        )
        matches = {
            "map": scope["map matches"],
            "table": ("every",),
            "copy": ("none", "1%", "50%"),
        }.get(form, ("1%", "50%"))
        cases += [
            Case(d, lay, n, m, call)
            for d in dtypes
            if d in MANY_DTYPES[form]
            for lay in layouts
            if lay in scope["many layouts"]
            for n in sizes
            for m in matches
            if serves(call, d, m)
        ]
    seen = set()
    return [c for c in cases if not (c in seen or seen.add(c))]


def _replace_cases(args, scope, dtypes, layouts):
    """The cases of replace(a, old, new)."""
    native = [d for d in dtypes if d in NATIVE]
    other = [d for d in dtypes if d not in NATIVE]
    shares = RANDOM if args.full else RANDOM[:2]
    contiguous = [lay for lay in CONTIGUOUS if lay in layouts]
    one_d = [lay for lay in ("1-d",) if lay in layouts]
    big = [*scope["big"], *([10**8] if args.large else [])]
    # tiny arrays, natively and through the reference module
    cases = [
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
    return cases
