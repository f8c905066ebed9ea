"""Times fennick.replace against the NumPy code a user would write instead.

``python -m fennick.bench`` (a few minutes) prints which vector width served
the run, a table of the goals fennick is built to meet, each with its
measured ratio and a pass or miss mark, and a grid of every numeric element
type against every layout family.  ``--full`` times more sizes and shares of
matches and prints a row per case; ``--help`` explains every column.

Every case is an array of one element type, layout, size and share of
matching elements; on it, in one process and in interleaved samples, so
that machine drift hits every competitor alike, are timed:

- ``fennick``: ``replace(a, old, new)``;
- the idioms: ``a[a == old] = new``, ``np.putmask(a, a == old, new)`` and
  ``np.copyto(a, new, where=(a == old))``, with ``np.isnan(a)`` as the mask
  for a NaN ``old``; the fastest of the three is "the best idiom";
- ``inplace``: NumPy's fastest loop that reads and writes every element in
  place (the faster of ``np.negative(a, out=a)`` and
  ``np.multiply(a, 1, out=a)``; ``np.logical_not`` for bool);
- ``readonly``: NumPy's fastest loop that only reads every element (the
  faster of ``np.max(a)`` and ``np.count_nonzero(a)``).

Each timed call does real work: calls alternate ``(old, new)`` and
``(new, old)``, so every call finds its matches again.  The results of
fennick and the idioms are checked once before they are timed.  Times are
medians of repeated samples; the plot needs matplotlib
(``pip install fennick[plot]``).
"""

import argparse
import gc
import importlib.util
import json
import math
import os
import platform
import statistics
import sys
import time

import numpy as np

from fennick import _reference_loops, replace

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

OLD, NEW = 1, 2
MATCHES = ("1%", "50%", "NaN 1%", "NaN 50%")  # NaN: `old` is NaN

# Statements timed, with {old}, {new} and {mask} filled in per call.
IDIOMS = {
    "a[a==old]=new": "a[{mask}] = {new}",
    "putmask": "putmask(a, {mask}, {new})",
    "copyto": "copyto(a, {new}, where={mask})",
}
INPLACE = {
    "negative": "negative(a, out=a)",
    "multiply": "multiply(a, 1, out=a)",
}
INPLACE_BOOL = {"logical_not": "logical_not(a, out=a)"}
READONLY = {"max": "amax(a)", "count_nonzero": "count_nonzero(a)"}
NAMESPACE = {
    "replace": replace,
    "putmask": np.putmask,
    "copyto": np.copyto,
    "isnan": np.isnan,
    "multiply": np.multiply,
    "negative": np.negative,
    "logical_not": np.logical_not,
    "amax": np.max,
    "count_nonzero": np.count_nonzero,
}

# Sampling: short samples, many of them; a sample the scheduler interrupts
# is an outlier, which the median ignores.  `case_s` bounds the sampling
# time of one case, but every competitor gets MIN_REPEAT samples.
FULL = {"repeat": 21, "sample_ms": 1.0, "case_s": 1.5}
DEFAULT = {"repeat": 11, "sample_ms": 0.5, "case_s": 0.4}
MIN_REPEAT = 3
TIMED_IDIOMS_UP_TO = 10**7  # larger arrays time fennick and the bounds only


def make_calls(stmt, nan_old):
    """Returns (run, once): run(a, x, y, pairs) makes `pairs` pairs of calls
    (x -> y, then y -> x); once(a, x, y) makes the first call only."""
    first = stmt.format(
        old="x", new="y", mask="isnan(a)" if nan_old else "a == x"
    )
    second = stmt.format(old="y", new="x", mask="a == y")
    src = (
        f"def once(a, x, y):\n    {first}\n"
        f"def run(a, x, y, pairs):\n"
        f"    for _ in range(pairs):\n        {first}\n        {second}\n"
    )
    ns = dict(NAMESPACE)
    exec(compile(src, f"<bench {stmt}>", "exec"), ns)
    return ns["run"], ns["once"]


def make_case(dtype, layout, size, match, rng):
    """The view of one case, filled so that about `match` of its elements
    hold `old`, and the scalars (old, new) as Python numbers."""
    dtype = np.dtype(dtype)
    view = LAYOUTS[layout][1](size, dtype, rng)
    values = _noise(view.shape, dtype, rng)
    hits = rng.random(view.shape, np.float32) < (
        0.5 if "50" in match else 0.01
    )
    if view.size:
        hits.flat[rng.integers(view.size)] = True  # at least one
    old = math.nan if match.startswith("NaN") else OLD
    values[hits] = old
    view[...] = values
    if dtype.kind == "b":
        return view, True, True  # only True matches; it stays True
    if dtype.kind == "f":
        return view, float(old), float(NEW)
    return view, OLD, NEW


def competitors(dtype, size):
    """name -> statement for one case."""
    inplace = INPLACE_BOOL if np.dtype(dtype).kind == "b" else INPLACE
    timed = {"fennick": "replace(a, {old}, {new})"}
    if size <= TIMED_IDIOMS_UP_TO:
        timed.update(IDIOMS)
    return {**timed, **inplace, **READONLY}


def check(name, once, a, old, new):
    """One call of `name` leaves the oracle's bits in `a`; `a` is restored."""
    before = a.copy()
    mask = np.isnan(before) if old != old else before == old
    wanted = np.where(mask, np.array(new, a.dtype), before)
    once(a, old, new)
    ok = a.tobytes() == wanted.astype(a.dtype).tobytes()
    a[...] = before
    if not ok:
        raise AssertionError(f"{name} gave a wrong result")


def sample(run, a, old, new, pairs):
    """Time per call, in nanoseconds, of `pairs` pairs of calls."""
    start = time.perf_counter_ns()
    run(a, old, new, pairs)
    return (time.perf_counter_ns() - start) / (2 * pairs)


def calibrate(run, a, old, new, target_ns):
    """Pairs of calls that make one sample last about `target_ns`, and the
    time (ns) such a sample takes."""
    pairs = 1
    while True:
        t = sample(run, a, old, new, pairs) * 2 * pairs
        if t >= target_ns / 10 or pairs >= 1 << 24:
            n = max(1, round(pairs * target_ns / t))
            return n, t / pairs * n
        pairs *= 10 if t < target_ns / 100 else 2


def time_case(a, old, new, timed, mode):
    """Median time per call (ns) of every competitor on `a`, with their
    samples interleaved and their order rotated."""
    runs, round_ns = [], 0
    for name, stmt in timed.items():
        run, once = make_calls(stmt, old != old)
        if name == "fennick" or name in IDIOMS:
            check(name, once, a, old, new)
        pairs, ns = calibrate(run, a, old, new, mode["sample_ms"] * 1e6)
        runs.append((name, run, pairs))
        round_ns += ns
    repeat = min(
        mode["repeat"], max(MIN_REPEAT, int(mode["case_s"] * 1e9 / round_ns))
    )
    samples = {name: [] for name, _, _ in runs}
    for r in range(repeat):
        for name, run, pairs in runs[r % len(runs) :] + runs[: r % len(runs)]:
            samples[name].append(sample(run, a, old, new, pairs))
    return {name: statistics.median(s) for name, s in samples.items()}


def ratios(t):
    """The derived figures of one case's times."""
    r = {
        "inplace": min(t[k] for k in (*INPLACE, *INPLACE_BOOL) if k in t),
        "readonly": min(t[k] for k in READONLY),
    }
    r["fennick/inplace"] = t["fennick"] / r["inplace"]
    r["fennick/bound"] = t["fennick"] / min(r["inplace"], r["readonly"])
    if "putmask" in t:
        best = min(IDIOMS, key=t.get)
        r["best_idiom"] = best
        r["idiom/fennick"] = t[best] / t["fennick"]
    return r


def plan(args):
    """The cases to time, as (dtype, layout, size, match) tuples."""
    dtypes = [d for d in DTYPES if d in args.dtypes]
    native = [d for d in dtypes if d in NATIVE]
    other = [d for d in dtypes if d not in NATIVE]
    layouts = [lay for lay in LAYOUTS if lay in args.layouts]

    def shares(dtype, full):
        keep = MATCHES if full else MATCHES[:2]
        return [
            m
            for m in keep
            if np.dtype(dtype).kind == "f" or not m.startswith("NaN")
        ]

    if args.sizes:  # exactly what was asked for
        return [
            (d, lay, n, m)
            for d in dtypes
            for lay in layouts
            for n in args.sizes
            for m in shares(d, args.full)
        ]
    contiguous = [lay for lay in CONTIGUOUS if lay in layouts]
    one_d = [lay for lay in ("1-d",) if lay in layouts]
    big = [10**7] + ([10**8] if args.large else [])
    cases = []
    # tiny arrays, natively and through the reference module
    cases += [
        (d, lay, n, "1%")
        for d in native
        for lay in one_d
        for n in ((1, 10, 100) if args.full else (1, 10))
    ]
    cases += [(d, lay, 10, "1%") for d in other for lay in one_d]
    # contiguous arrays in cache, and at the speed of memory
    cases += [
        (d, lay, n, m)
        for d in native
        for lay in contiguous
        for n in (10**4, 10**5, 10**6)
        for m in shares(d, args.full)
    ]
    cases += [
        (d, lay, n, m)
        for d in native
        for lay in one_d
        for n in big
        for m in shares(d, args.full)
    ]
    # every element type against every layout
    grid_sizes = (
        (10**3, 10**4, 10**5, 10**6, 10**7) if args.full else (10**3, 10**5)
    )
    grid_shares = ("1%", "50%") if args.full else ("1%",)
    cases += [
        (d, lay, n, m)
        for d in dtypes
        for lay in layouts
        for n in grid_sizes
        for m in grid_shares
    ]
    seen = set()
    return [c for c in cases if not (c in seen or seen.add(c))]


# The goals: (description, figure, target, which cases).  A figure with
# target ">= x" must be at least x in every case, "<= x" at most x.
def _sel(dtypes=NATIVE, layouts=None, lo=0, hi=math.inf, match=None):
    def keep(r):
        return (
            r["dtype"] in dtypes
            and (layouts is None or r["layout"] in layouts)
            and lo <= r["size"] <= hi
            and (match is None or r["match"] == match)
        )

    return keep


GOALS = [
    (
        "1 and 10 elements",
        "idiom/fennick",
        ">= 8",
        _sel(layouts=("1-d",), hi=10),
    ),
    (
        "10 elements, through fennick.slow",
        "idiom/fennick",
        ">= 2",
        _sel(dtypes=OTHER, lo=10, hi=10),
    ),
    (
        "contiguous 1e4-1e6, 1% and 50%",
        "fennick/inplace",
        "<= 1.2",
        _sel(layouts=CONTIGUOUS, lo=10**4, hi=10**6),
    ),
    (
        "contiguous 1e5-1e6, 1%",
        "idiom/fennick",
        ">= 2",
        _sel(layouts=CONTIGUOUS, lo=10**5, hi=10**6, match="1%"),
    ),
    (
        "contiguous 1e5-1e6, 50%",
        "idiom/fennick",
        ">= 25",
        _sel(layouts=CONTIGUOUS, lo=10**5, hi=10**6, match="50%"),
    ),
    (
        "contiguous 1e5-1e6",
        "fennick 50%/1%",
        "<= 1.15",
        _sel(layouts=CONTIGUOUS, lo=10**5, hi=10**6, match="50%"),
    ),
    (
        "contiguous 1e7 and up, 1%",
        "fennick/bound",
        "<= 1.05",
        _sel(layouts=CONTIGUOUS, lo=10**7, match="1%"),
    ),
    (
        "contiguous 1e7 and up, 50%",
        "fennick/inplace",
        "<= 1.1",
        _sel(layouts=CONTIGUOUS, lo=10**7, match="50%"),
    ),
    (
        "x[::2] and x[::-1] from 1e5, 1%",
        "idiom/fennick",
        ">= 2",
        _sel(layouts=("x[::2]", "x[::-1]"), lo=10**5, match="1%"),
    ),
    (
        "the named N-d layouts 1e5-1e6, 1%",
        "idiom/fennick",
        ">= 2",
        _sel(layouts=NAMED, lo=10**5, hi=10**6, match="1%"),
    ),
    (
        "every dtype and layout 1e3-1e7",
        "idiom/fennick",
        ">= 1",
        _sel(dtypes=DTYPES, lo=10**3, hi=10**7),
    ),
    (
        "every dtype and layout 1e5-1e7",
        "idiom/fennick",
        ">= 1.5",
        _sel(dtypes=DTYPES, lo=10**5, hi=10**7),
    ),
]


def _add_share_ratio(results):
    """fennick's time with 50% matches over its time with 1%, per array."""
    times = {
        (r["dtype"], r["layout"], r["size"], r["match"]): r["times_ns"][
            "fennick"
        ]
        for r in results
    }
    for r in results:
        low = times.get((r["dtype"], r["layout"], r["size"], "1%"))
        if r["match"] == "50%" and low:
            r["fennick 50%/1%"] = r["times_ns"]["fennick"] / low


def _passes(value, target):
    bound = float(target.split()[1])
    return value >= bound if target.startswith(">") else value <= bound


def headline(results):
    """One row per goal: (goal, figure, target, worst, worst case, median,
    passed), with None where the run has no case for it."""
    _add_share_ratio(results)
    rows = []
    for desc, key, target, keep in GOALS:
        cases = [r for r in results if key in r and keep(r)]
        if not cases:
            rows.append((desc, key, target, None, "", None, None))
            continue
        pick = min if target.startswith(">") else max
        worst = pick(cases, key=lambda r: r[key])
        rows.append(
            (
                desc,
                key,
                target,
                worst[key],
                label(worst),
                statistics.median(r[key] for r in cases),
                _passes(worst[key], target),
            )
        )
    return rows


def grid(results):
    """{(dtype, family): (worst idiom/fennick from 1e5, worst from 1e3)}."""
    cells = {}
    for r in results:
        if "idiom/fennick" not in r or r["size"] < 10**3:
            continue
        key = (r["dtype"], LAYOUTS[r["layout"]][0])
        big, small = cells.get(key, (math.inf, math.inf))
        ratio = r["idiom/fennick"]
        cells[key] = (
            min(big, ratio) if r["size"] >= 10**5 else big,
            min(small, ratio),
        )
    return cells


def label(r):
    return f"{r['dtype']} {r['layout']} {r['size']:.0e} {r['match']}"


def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


ROW_HEADER = (
    f"{'dtype':9} {'layout':22} {'size':>9} {'match':7} "
    f"{'fennick':>9} {'/elem':>9} {'idiom':>9} {'inplace':>9} "
    f"{'readonly':>9} {'idiom/f':>8} {'f/inpl':>7} {'f/bound':>7}"
)


def row(r):
    t = r["times_ns"]
    idiom = t[r["best_idiom"]] if "best_idiom" in r else math.nan
    return (
        f"{r['dtype']:9} {r['layout']:22} {r['size']:>9} {r['match']:7} "
        + " ".join(
            f"{fmt_time(v):>9}"
            for v in (
                t["fennick"],
                t["fennick"] / max(1, r["elements"]),
                idiom,
                r["inplace"],
                r["readonly"],
            )
        )
        + f" {r.get('idiom/fennick', math.nan):8.2f}"
        f" {r['fennick/inplace']:7.2f} {r['fennick/bound']:7.2f}"
    )


def print_headline(results):
    print("\nGoals (worst case of this run; median over its cases)")
    print(
        f"  {'cases':36} {'figure':16} {'target':>8} {'worst':>7} "
        f"{'median':>7}  mark   worst case"
    )
    for desc, key, target, worst, case, median, passed in headline(results):
        if worst is None:
            print(f"  {desc:36} {key:16} {target:>8} {'n/a':>7} {'':>7}  -")
            continue
        mark = "pass" if passed else "MISS"
        print(
            f"  {desc:36} {key:16} {target:>8} {worst:7.2f} {median:7.2f}"
            f"  {mark:5}  {case}"
        )
    cells = grid(results)
    if not cells:
        return
    print(
        "\nidiom/fennick by element type and layout family: the worst case "
        "from 1e5 elements\n(target >= 1.5; '!' marks a miss, or a case "
        "below 1.0 from 1e3)"
    )
    print(f"  {'dtype':9}" + "".join(f"{f:>12}" for f in FAMILIES))
    for dtype in DTYPES:
        line = []
        for family in FAMILIES:
            big, small = cells.get((dtype, family), (math.inf, math.inf))
            if big == math.inf and small == math.inf:
                line.append(f"{'':>12}")
                continue
            shown = big if big != math.inf else small
            miss = big < 1.5 or small < 1.0
            line.append(f"{shown:11.2f}{'!' if miss else ' '}")
        if any(cell.strip() for cell in line):
            print(f"  {dtype:9}" + "".join(line))


def plot(results, path):
    """Throughput against size for 1-d arrays of the native types: one panel
    per dtype and share of matches, one line per competitor."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    shares = ("1%", "50%")
    fig, axes = plt.subplots(
        len(shares),
        len(NATIVE),
        figsize=(16, 7.5),
        sharex=True,
        sharey=True,
        squeeze=False,
    )
    for i, share in enumerate(shares):
        for j, dtype in enumerate(NATIVE):
            ax = axes[i][j]
            rs = sorted(
                (
                    r
                    for r in results
                    if r["layout"] == "1-d"
                    and r["dtype"] == dtype
                    and r["match"] == share
                    and "best_idiom" in r
                ),
                key=lambda r: r["size"],
            )
            for name in ("fennick", *IDIOMS, "inplace", "readonly"):
                ts = [
                    r[name] if name in r else r["times_ns"][name] for r in rs
                ]
                ax.plot(
                    [r["elements"] for r in rs],
                    [
                        r["elements"] / t * 1e9
                        for r, t in zip(rs, ts, strict=True)
                    ],
                    marker="o",
                    ms=3,
                    label=name,
                    lw=2.5 if name == "fennick" else 1.2,
                    ls="--" if name in ("inplace", "readonly") else "-",
                )
            ax.set(xscale="log", yscale="log", title=f"{dtype}, {share} match")
            ax.grid(True, which="major", alpha=0.3)
            if i == len(shares) - 1:
                ax.set_xlabel("elements")
            if j == 0:
                ax.set_ylabel("elements per second")
    axes[0][0].legend(fontsize=8)
    fig.suptitle("fennick.replace against NumPy idioms (1-d contiguous)")
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(
                line.split(":", 1)[1].strip()
                for line in f
                if line.startswith("model name")
            )
    except (OSError, StopIteration):
        pass
    try:
        cores = len(os.sched_getaffinity(0))
    except AttributeError:
        cores = os.cpu_count()
    return {
        "cpu": cpu,
        "cores": cores,
        "system": platform.platform(),
        "python": platform.python_version(),
        "numpy": np.__version__,
        "width": _reference_loops.width,
        "widths": list(_reference_loops.widths),
    }


COLUMNS = """\
columns of the per-case rows (--full):
  fennick    time of one replace(a, old, new) call
  /elem      that time divided by the number of elements
  idiom      time of the best (fastest) of a[a == old] = new,
             np.putmask(a, a == old, new) and np.copyto(a, new,
             where=a == old) (np.isnan(a) as the mask for a NaN old)
  inplace    NumPy's fastest loop that reads and writes every element in
             place: np.negative or np.multiply(a, 1) with out=a
             (np.logical_not for bool)
  readonly   NumPy's fastest loop that only reads every element: np.max or
             np.count_nonzero
  idiom/f    best idiom's time over fennick's: how many times faster
             fennick is than the NumPy code a user would write
  f/inpl     fennick's time over inplace: below 1, faster than writing
             every element once
  f/bound    fennick's time over the faster of inplace and readonly
goals: each compares a figure with its target over a set of cases and marks
the worst case pass or MISS; "fennick 50%/1%" is fennick's time with half
the elements matching over its time with 1%.  The grid gives, per element
type and layout family, the worst idiom/fennick from 1e5 elements.
"""


def parse_args(argv=None):
    p = argparse.ArgumentParser(
        prog="python -m fennick.bench",
        description=__doc__.split("\n\n")[0],
        epilog=COLUMNS,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument(
        "--full",
        action="store_true",
        help="more sizes, 50%% and NaN matches everywhere, longer "
        "samples, and a row per case (tens of minutes)",
    )
    p.add_argument(
        "--large",
        action="store_true",
        help="add contiguous arrays of 1e8 elements",
    )
    p.add_argument(
        "--parallel",
        action="store_true",
        help="also time replace_parallel with 1, 2, ... threads and "
        "fennick.dask.replace against da.where, on 1e8 float64 elements "
        "(python -m fennick.bench_parallel)",
    )
    p.add_argument("--json", metavar="FILE", help="write the results here")
    p.add_argument("--plot", metavar="FILE.png", help="draw throughput here")
    p.add_argument(
        "--sizes",
        type=lambda s: [int(float(x)) for x in s.split(",")],
        help="time exactly these sizes for the chosen dtypes and "
        "layouts, instead of the planned cases",
    )
    p.add_argument(
        "--dtypes",
        type=lambda s: s.split(","),
        default=DTYPES,
        help="comma-separated, from " + ",".join(DTYPES),
    )
    p.add_argument(
        "--layouts",
        type=lambda s: s.split("|"),
        default=list(LAYOUTS),
        help="'|'-separated, from " + "|".join(LAYOUTS),
    )
    p.add_argument("--repeat", type=int, help="most samples per competitor")
    p.add_argument("--sample-ms", type=float, help="length of one sample")
    args = p.parse_args(argv)
    for name, known in (("dtypes", DTYPES), ("layouts", LAYOUTS)):
        if not set(getattr(args, name)) <= set(known):
            p.error(f"--{name} takes some of: {', '.join(known)}")
    if args.plot and importlib.util.find_spec("matplotlib") is None:
        p.error("--plot needs matplotlib (pip install matplotlib)")
    return args


def main(argv=None):
    args = parse_args(argv)
    mode = dict(FULL if args.full else DEFAULT)
    for key in ("repeat", "sample_ms"):
        if getattr(args, key) is not None:
            mode[key] = getattr(args, key)
    cases = plan(args)
    info = machine()
    print(
        f"fennick.bench on {info['cpu']} ({info['cores']} cores), "
        f"{info['system']}, Python {info['python']}, NumPy {info['numpy']}"
    )
    print(
        f"vector width: {info['width']} (this processor runs: "
        f"{', '.join(info['widths'])}); {len(cases)} cases, median of up "
        f"to {mode['repeat']} samples of about {mode['sample_ms']:g} ms"
    )
    if args.full:
        print("\n" + ROW_HEADER)
    progress = sys.stderr.isatty()
    rng = np.random.default_rng(2024)
    results = []
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        for i, (dtype, layout, size, match) in enumerate(cases):
            if progress:
                sys.stderr.write(
                    f"\r[{i + 1}/{len(cases)}] {dtype} {layout} "
                    f"{size} {match} ...   \033[K"
                )
                sys.stderr.flush()
            a, old, new = make_case(dtype, layout, size, match, rng)
            times = time_case(a, old, new, competitors(dtype, size), mode)
            r = {
                "dtype": dtype,
                "layout": layout,
                "size": size,
                "elements": int(a.size),
                "match": match,
                "times_ns": times,
                **ratios(times),
            }
            results.append(r)
            del a
            if args.full:
                print(row(r), flush=True)
    finally:
        if progress:
            sys.stderr.write("\r\033[K")
        if gc_was_enabled:
            gc.enable()

    print_headline(results)
    past_one_core = None
    if args.parallel:
        from fennick import bench_parallel

        print("\nPast one core (1e8 float64 elements, 1% matching)")
        past_one_core = bench_parallel.run()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(
                {
                    "machine": info,
                    "settings": mode,
                    "results": results,
                    "headline": headline(results),
                    "parallel": past_one_core,
                },
                f,
                indent=1,
            )
    if args.plot:
        plot(results, args.plot)
        print(f"plot written to {args.plot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
