"""Times fennick.replace against the NumPy code a user would write instead.

Run ``python -m fennick.bench`` (``--quick`` for a run of under a minute,
``--help`` for the options).  Every case is an array of one element type,
layout, size and share of matching elements; on it, in one process and in
interleaved samples, so that machine drift hits every competitor alike:

- ``fennick``: ``replace(a, old, new)``;
- the idioms: ``a[a == old] = new``, ``np.putmask(a, a == old, new)`` and
  ``np.copyto(a, new, where=(a == old))``, with ``np.isnan(a)`` as the mask
  for a NaN ``old``;
- a bound: the faster of ``np.multiply(a, 1, out=a)`` and
  ``np.negative(a, out=a)``, which read and write every element once, in
  place, with NumPy's vectorised loops.

Each timed call does real work: calls alternate ``(old, new)`` and
``(new, old)``, so every call finds its matches again.  Each competitor's
result is checked once before it is timed.  Times are medians of repeated
samples; the plot needs matplotlib (``pip install fennick[plot]``).
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

from fennick import replace

DTYPES = ("float64", "float32", "int64", "int32")
LAYOUTS = ("1-d", "2-d C", "2-d F", "x[::2]", "x[::-1]")
CONTIGUOUS = ("1-d", "2-d C", "2-d F")
SIZES = (1, 10, 100, 1000, 10**4, 10**5, 10**6, 10**7)
LARGE_SIZE = 10**8
# Short samples, many of them: a sample that the scheduler interrupts is an
# outlier, which the median ignores.  `case_s` bounds the sampling time of
# one case (but every competitor gets MIN_REPEAT samples).
FULL = {"sizes": SIZES, "repeat": 51, "sample_ms": 1, "case_s": 3}
QUICK = {"sizes": (1, 10, 1000, 10**5, 10**6), "repeat": 15,
         "sample_ms": 0.5, "case_s": 0.3}
MIN_REPEAT = 5
MATCHES = ("1%", "50%", "NaN1%", "NaN50%")  # share matching; NaN: old is NaN

OLD, NEW = 1, 2  # `old` and `new`; data elsewhere is drawn from 3..999

# Statements timed, with {old}, {new} and {mask} filled in per call.
IDIOMS = {
    "a[a==old]=new": "a[{mask}] = {new}",
    "putmask": "putmask(a, {mask}, {new})",
    "copyto": "copyto(a, {new}, where={mask})",
}
BOUNDS = {
    "multiply": "multiply(a, 1, out=a)",
    "negative": "negative(a, out=a)",
}
COMPETITORS = {"fennick": "replace(a, {old}, {new})", **IDIOMS, **BOUNDS}
NAMESPACE = {
    "replace": replace, "putmask": np.putmask, "copyto": np.copyto,
    "isnan": np.isnan, "multiply": np.multiply, "negative": np.negative,
}


def make_calls(stmt, nan_old):
    """Returns (run, once): run(a, x, y, pairs) makes `pairs` pairs of calls
    (x -> y, then y -> x); once(a, x, y) makes the first call only."""
    first = stmt.format(old="x", new="y",
                        mask="isnan(a)" if nan_old else "a == x")
    second = stmt.format(old="y", new="x", mask="a == y")
    src = (f"def once(a, x, y):\n    {first}\n"
           f"def run(a, x, y, pairs):\n"
           f"    for _ in range(pairs):\n        {first}\n        {second}\n")
    ns = dict(NAMESPACE)
    exec(compile(src, f"<bench {stmt}>", "exec"), ns)
    return ns["run"], ns["once"]


def make_case(dtype, layout, size, match, rng):
    """Returns the array of one case (a view of the given layout) and the
    scalars (old, new) as Python numbers."""
    dtype = np.dtype(dtype)
    values = rng.integers(3, 1000, size).astype(dtype)
    hits = rng.random(size, np.float32) < (0.5 if "50" in match else 0.01)
    hits[rng.integers(size)] = True  # at least one, even in tiny arrays
    old = math.nan if match.startswith("NaN") else OLD
    values[hits] = old
    if dtype.kind == "f":
        old, new = float(old), float(NEW)
    else:
        old, new = int(old), int(NEW)

    rows = 1 if size < 10 else min(10, size // 5)
    if layout == "1-d":
        a = values
    elif layout == "2-d C":
        a = values.reshape(rows, -1)
    elif layout == "2-d F":
        a = np.asfortranarray(values.reshape(rows, -1))
    elif layout == "x[::2]":
        base = rng.integers(3, 1000, 2 * size).astype(dtype)
        base[::2] = values
        a = base[::2]
    else:
        a = values[::-1]
    return a, old, new


def expected(name, a, old, new):
    """What the first call of competitor `name` must leave in `a`."""
    if name == "multiply":
        return np.multiply(a, 1)
    if name == "negative":
        return np.negative(a)
    mask = np.isnan(a) if old != old else a == old
    return np.where(mask, np.array(new, a.dtype), a)


def check(name, once, run, a, old, new):
    """Runs one call and one pair of calls of `name` on `a`, comparing bit
    for bit; leaves `a` as it found it."""
    before = a.copy()
    once(a, old, new)
    ok = a.tobytes() == expected(name, before, old, new).tobytes()
    a[...] = before
    run(a, old, new, 1)
    ok = ok and a.tobytes() == before.tobytes()
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


def time_case(a, old, new, mode):
    """Median time per call (ns) of every competitor on `a`, with the
    competitors' samples interleaved and their order rotated.  Big arrays
    get fewer samples (never under MIN_REPEAT), to bound a case's time."""
    runs = []
    round_ns = 0
    for name, stmt in COMPETITORS.items():
        run, once = make_calls(stmt, old != old)
        check(name, once, run, a, old, new)
        pairs, ns = calibrate(run, a, old, new, mode["sample_ms"] * 1e6)
        runs.append((name, run, pairs))
        round_ns += ns
    repeat = min(mode["repeat"], max(MIN_REPEAT,
                                     int(mode["case_s"] * 1e9 / round_ns)))
    samples = {name: [] for name, _, _ in runs}
    for r in range(repeat):
        order = runs[r % len(runs):] + runs[:r % len(runs)]
        for name, run, pairs in order:
            samples[name].append(sample(run, a, old, new, pairs))
    return {name: statistics.median(s) for name, s in samples.items()}


def warm_up(seconds=0.3):
    """Runs fennick and an idiom for a moment, so that the first case is not
    timed on a cold processor."""
    a = np.zeros(1000)
    run, _ = make_calls(COMPETITORS["fennick"], False)
    idiom, _ = make_calls(IDIOMS["putmask"], False)
    stop = time.perf_counter() + seconds
    while time.perf_counter() < stop:
        run(a, 0.0, 1.0, 100)
        idiom(a, 0.0, 1.0, 10)


def ratios(t):
    """Adds the best idiom, the bound and the ratios to one case's times."""
    best = min(IDIOMS, key=t.get)
    bound = min(t[b] for b in BOUNDS)
    return {"best_idiom": best, "bound": bound,
            "idiom/fennick": t[best] / t["fennick"],
            "fennick/bound": t["fennick"] / bound}


def fmt_time(ns):
    for unit, scale in (("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


HEADER = (f"{'dtype':8} {'layout':8} {'size':>9} {'match':6} "
          f"{'fennick':>9} {'/elem':>9} {'a[a==o]=n':>9} {'putmask':>9} "
          f"{'copyto':>9} {'bound':>9} {'idiom/f':>8} {'f/bound':>8}")


def row(r):
    t = r["times_ns"]
    return (f"{r['dtype']:8} {r['layout']:8} {r['size']:>9} {r['match']:6} "
            + " ".join(f"{fmt_time(v):>9}" for v in (
                t["fennick"], t["fennick"] / r["size"], t["a[a==old]=new"],
                t["putmask"], t["copyto"], r["bound"]))
            + f" {r['idiom/fennick']:8.2f} {r['fennick/bound']:8.2f}")


def headline(results):
    """The ratios this benchmark exists to show, each over a set of cases:
    (description, worst case, median over the cases, goal) tuples, worst
    meaning the smallest ratio for a goal ">=" and the largest otherwise."""
    def contiguous(lo, hi=math.inf):
        return lambda r: r["layout"] in CONTIGUOUS and lo <= r["size"] <= hi

    def layout(name, lo):
        return lambda r: r["layout"] == name and r["size"] >= lo

    def share(pct, keep):
        return lambda r: r["match"].endswith(pct) and keep(r)

    # fennick's time with 50% matches over its time with 1%, per array
    fennick = {(r["dtype"], r["layout"], r["size"], r["match"]):
               r["times_ns"]["fennick"] for r in results}
    for r in results:
        low = fennick.get((r["dtype"], r["layout"], r["size"],
                           r["match"].replace("50%", "1%")))
        if r["match"].endswith("50%") and low:
            r["fennick 50%/1%"] = r["times_ns"]["fennick"] / low

    mid = contiguous(10**5, 10**6)
    wanted = [(f"tiny (1, 10 elements), {d}", "idiom/fennick", ">= 8",
               lambda r, d=d: r["size"] <= 10 and r["dtype"] == d)
              for d in DTYPES]
    wanted += [
        ("contiguous 1e5-1e6, 1% match", "idiom/fennick", ">= 1.5",
         share("1%", mid)),
        ("contiguous 1e5-1e6, 50% match", "idiom/fennick", ">= 20",
         share("50%", mid)),
        ("contiguous 1e5-1e6", "fennick 50%/1%", "<= 1.15", mid),
        ("contiguous, 1e7 and up", "fennick/bound", "<= 1.2",
         contiguous(10**7)),
        ("x[::2], 1e7 and up", "fennick/bound", "<= 1.2",
         layout("x[::2]", 10**7)),
        ("x[::-1], 1e7 and up", "fennick/bound", "<= 1.2",
         layout("x[::-1]", 10**7)),
        ("x[::2], 1e5 and up", "idiom/fennick", ">= 2",
         layout("x[::2]", 10**5)),
        ("x[::-1], 1e5 and up", "idiom/fennick", ">= 2",
         layout("x[::-1]", 10**5)),
        ("contiguous 1e4-1e5 (in cache)", "fennick/bound", "(report)",
         contiguous(10**4, 10**5)),
    ]
    lines = []
    for desc, key, goal, keep in wanted:
        vals = [r[key] for r in results if key in r and keep(r)]
        worst = (min if goal.startswith(">") else max)(vals) if vals else None
        typical = statistics.median(vals) if vals else None
        lines.append((f"{desc}: {key}", worst, typical, goal))
    return lines


def plot(results, path):
    """Throughput against size for 1-d arrays: one panel per dtype and share
    of matches, one line per competitor."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    shares = ("1%", "50%")
    fig, axes = plt.subplots(len(shares), len(DTYPES), figsize=(16, 7.5),
                             sharex=True, sharey=True, squeeze=False)
    for i, share in enumerate(shares):
        for j, dtype in enumerate(DTYPES):
            ax = axes[i][j]
            rs = sorted((r for r in results if r["layout"] == "1-d"
                         and r["dtype"] == dtype and r["match"] == share),
                        key=lambda r: r["size"])
            for name in ("fennick", *IDIOMS, "bound"):
                ts = [r["bound"] if name == "bound" else r["times_ns"][name]
                      for r in rs]
                ax.plot([r["size"] for r in rs],
                        [r["size"] / t * 1e9 for r, t in zip(rs, ts)],
                        marker="o", ms=3, label=name,
                        lw=2.5 if name == "fennick" else 1.2,
                        ls="--" if name == "bound" else "-")
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
            cpu = next(line.split(":", 1)[1].strip() for line in f
                       if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return {"cpu": cpu, "cpus": os.cpu_count(), "system": platform.platform(),
            "python": platform.python_version(), "numpy": np.__version__}


def main(argv=None):
    p = argparse.ArgumentParser(prog="python -m fennick.bench",
                                description=__doc__.split("\n\n")[0])
    p.add_argument("--quick", action="store_true",
                   help="fewer sizes and shorter samples (under a minute)")
    p.add_argument("--large", action="store_true",
                   help=f"add arrays of {LARGE_SIZE:.0e} elements")
    p.add_argument("--json", metavar="FILE", help="write the results here")
    p.add_argument("--plot", metavar="FILE.png", help="draw throughput here")
    p.add_argument("--sizes", type=lambda s: [int(float(x)) for x in
                                              s.split(",")],
                   help="comma-separated sizes instead of the default set")
    p.add_argument("--dtypes", type=lambda s: s.split(","), default=DTYPES,
                   help="comma-separated, from " + ",".join(DTYPES))
    p.add_argument("--layouts", type=lambda s: s.split(","), default=LAYOUTS,
                   help="comma-separated, from " + ",".join(LAYOUTS))
    p.add_argument("--repeat", type=int, help="most samples per competitor")
    p.add_argument("--sample-ms", type=float, help="length of one sample")
    args = p.parse_args(argv)
    for name, known in (("dtypes", DTYPES), ("layouts", LAYOUTS)):
        if not set(getattr(args, name)) <= set(known):
            p.error(f"--{name} takes some of: {', '.join(known)}")
    if args.plot and importlib.util.find_spec("matplotlib") is None:
        p.error("--plot needs matplotlib (pip install matplotlib)")

    mode = dict(QUICK if args.quick else FULL)
    for key in ("repeat", "sample_ms"):
        if getattr(args, key) is not None:
            mode[key] = getattr(args, key)
    sizes = list(args.sizes or mode["sizes"])
    if args.large:
        sizes.append(LARGE_SIZE)
    cases = [(d, lay, n, m) for d in args.dtypes for lay in args.layouts
             for n in sizes for m in MATCHES
             if not (m.startswith("NaN") and np.dtype(d).kind != "f")]

    info = machine()
    print(f"fennick.bench on {info['cpu']} ({info['cpus']} CPUs), "
          f"{info['system']}, Python {info['python']}, NumPy {info['numpy']}")
    print(f"median of up to {mode['repeat']} samples of about "
          f"{mode['sample_ms']:g} ms; "
          "'/elem' is fennick's time per element\n" + HEADER)
    progress = sys.stderr.isatty()
    rng = np.random.default_rng(2024)
    results = []
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        warm_up()
        for i, (dtype, layout, size, match) in enumerate(cases):
            if progress:
                sys.stderr.write(f"\r[{i + 1}/{len(cases)}] {dtype} {layout} "
                                 f"{size} {match} ...   ")
                sys.stderr.flush()
            a, old, new = make_case(dtype, layout, size, match, rng)
            times = time_case(a, old, new, mode)
            r = {"dtype": dtype, "layout": layout, "size": size,
                 "match": match, "times_ns": times, **ratios(times)}
            results.append(r)
            del a
            if progress:
                sys.stderr.write("\r\033[K")
            print(row(r), flush=True)
    finally:
        if gc_was_enabled:
            gc.enable()

    summary = headline(results)
    print("\nheadline ratios (from this run)" + " " * 30
          + "worst  median  goal")
    for desc, worst, typical, goal in summary:
        shown = " ".join("    n/a" if v is None else f"{v:7.2f}"
                         for v in (worst, typical))
        print(f"  {desc:60} {shown}  {goal}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": info, "settings": mode,
                       "results": results,
                       "headline": summary}, f, indent=1)
    if args.plot:
        plot(results, args.plot)
        print(f"plot written to {args.plot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
