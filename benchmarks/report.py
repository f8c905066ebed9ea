"""What a run prints: the machine, a row per case (--full), the goals with
pass or MISS marks, the grid of element types against layout families,
replace_many's tables, the pandas and xarray rows, and with --widths a
table per width."""

import math
import platform

import numpy as np

from fennick import dozudiror
from fennick.parallel import usable_cores

from .cases import CALLS, DTYPES, FAMILIES, PATTERNS
from .competitors import MANY, ONE
from .goals import grid, headline

COLUMNS = """\
columns of the per-case rows (--full):
  fennick    time of one replace(a, old, new) call
  /elem      that time divided by the number of elements
  idiom      time of the best (fastest) of a[a == old] = new,
             np.putmask(a, a == old, new) and np.copyto(a, new,
             where=a == old) (np.isnan(a) as the mask for a NaN old)
  inplace    NumPy's fastest loop that reads and writes every element in
             place: np.negative (np.bitwise_not for unsigned) or
             np.multiply(a, 1) with out=a (np.logical_not or
             np.bitwise_not for bool)
  readonly   NumPy's fastest loop that only reads every element: np.max or
             np.count_nonzero
  idiom/f    best idiom's time over fennick's: how many times faster
             fennick is than the NumPy code a user would write
  f/inpl     fennick's time over inplace: below 1, faster than writing
             every element once
  f/bound    fennick's time over the faster of inplace and readonly
  numba/f    the numba loop's time over fennick's (1-d arrays)
bandwidth, a table per size from 1e7 after the goals: GB of the array per
second (its bytes over the time of one call) of fennick, or with --widths
of each width, beside the in-place and read-only loops and np.copy(a)
replace_many, a table per form after the goals (--many times these alone;
"match" is the share of elements that are olds):
  2-256 olds  a list of olds and one new: replace_many(a, olds, new);
             sentinels far from the data (1, and 100 up; the data 3..99)
  2-8 pairs  each old with its own new: replace_many(a, olds, news)
  16, 48 inside  olds among the data's values (4, 6, 8, ...; the data the
             odd values 3..99) each with its own new
  20, 1000 map  20 or 1000 codes drawn from 0 to 2**20 (or what the type
             holds) to others ("50%": about half the elements are olds;
             "every": all are, a whole recoding), as two arrays (fennick)
             and a dict (dict)
  65536 table  every value of a 16-bit type through a permutation, as two
             arrays and as a dict
  on 8       replace_many with the same olds on the array's first 8
             elements: the cost of a call before its walk
  replaced   fennick.replaced(a, old, new), a replaced copy, beside
             np.copy(a) and np.where(a == old, new, a)
  one        replace(a, olds[0], news[0]) on the same array: it finds every
             match of a list (after the first call all hold olds[0]) and
             one old's share of the matches of pairs
  idioms     a[np.isin(a, olds)] = new (and kind="table" for integers);
             a[(a == o1) | (a == o2) | ...] =
             new; a[a == o] = n per pair; the searchsorted recipe, the olds
             sorted outside the timing: i = np.searchsorted(keys, a);
             i[i == len(keys)] = 0; hit = keys[i] == a; a[hit] =
             vals[i[hit]]; np.take(table, a, out=a)
  pandas     pd.Series(a, copy=False).replace(olds, news) (or the dict),
             which returns a new Series (1-d arrays, when installed)
  chained    a replace call per old (no new is an old, so it is right)
  f/one      fennick's time over one's; "pandas/fennick" and the like, a
             rival's time over fennick's; "idiom/one", the best idiom's
             over one's: idiom/fennick when replace_many costs one pass
  avx2 ...   with --widths, each width's loops (through
             fennick.dozudiror._replace_many_with or _replaced_with);
             "avx2/one", "chained/avx2" and the like set them against one
             replace and the chained calls at the width this processor
             runs, as fennick's are
  Past 1e6 elements only fennick, one, the widths and the bounds are
  timed.
matches: 1%, 50%, 90% of the elements at random; none; one block of 30%;
runs of 64 to 1024 matches covering 5% or 90%; every element; NaN: `old` is
NaN.
goals: each compares a figure with its target over a set of cases and marks
the worst case pass or MISS ("report": shown, not judged); "fennick
50%/1%" is fennick's time with half the elements matching over its time
with 1%; "ns/stored" is the time per element replaced.  With --widths,
"avx2/inplace" and the like are the figures of that width's loops (called
through fennick.dozudiror._replace_with), one row per width.  The
grid gives, per element type and layout family, the worst idiom/fennick
from 1e5 elements.
"""


def machine(numba):
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
    return {
        "cpu": cpu,
        "cores": usable_cores(),
        "system": platform.platform(),
        "python": platform.python_version(),
        "numpy": np.__version__,
        "numba": numba,
        "width": dozudiror._width,
        "widths": list(dozudiror._widths),
    }


def print_machine(info, cases, mode, widths):
    print(
        f"benchmarks on {info['cpu']} ({info['cores']} cores), "
        f"{info['system']}, Python {info['python']}, NumPy {info['numpy']}, "
        + (
            f"numba {info['numba']}"
            if info["numba"]
            else "no numba (pip install '.[bench]')"
        )
    )
    print(
        f"vector width: {info['width']} (this processor runs: "
        f"{', '.join(info['widths'])}); {cases} cases, median of up "
        f"to {mode['repeat']} samples of about {mode['sample_ms']:g} ms"
        + (f"; every width timed: {', '.join(widths)}" if widths else "")
    )


def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


ROW_HEADER = (
    f"{'dtype':9} {'layout':22} {'size':>9} {'match':18} "
    f"{'fennick':>9} {'/elem':>9} {'idiom':>9} {'inplace':>9} "
    f"{'readonly':>9} {'idiom/f':>8} {'f/inpl':>7} {'f/bound':>7} "
    f"{'numba/f':>7}"
)


def row(r):
    t = r["times_ns"]
    idiom = t[r["best_idiom"]] if "best_idiom" in r else math.nan
    match = r["match"] + ("" if r["call"] == "replace" else f", {r['call']}")
    return (
        f"{r['dtype']:9} {r['layout']:22} {r['size']:>9} {match:18} "
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
        f" {r.get('numba/fennick', math.nan):7.2f}"
    )


def print_headline(rows):
    """The goals' table: a row per row of goals.headline, its verdict
    marked pass, MISS, "-" (reported only) or n/a (no case in the run)."""
    print("\nGoals (worst case of this run; median over its cases)")
    print(
        f"  {'cases':36} {'figure':25} {'target':>8} {'worst':>7} "
        f"{'median':>7}  mark   worst case"
    )
    for desc, key, target, worst, case, median, passed in rows:
        if worst is None:
            print(f"  {desc:36} {key:25} {target:>8} {'n/a':>7} {'':>7}  -")
            continue
        mark = "-" if passed is None else "pass" if passed else "MISS"
        print(
            f"  {desc:36} {key:25} {target:>8} {worst:7.2f} {median:7.2f}"
            f"  {mark:5}  {case}"
        )


def print_goals(results, subjects):
    """The goals' table, then the grid of element types against layout
    families."""
    print_headline(headline(results, subjects))
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


def print_widths(results, widths):
    """A table per width of its loops on the 1-d patterns from 1e6
    elements: time over the in-place loop and over the read-only loop, and
    the time per stored element."""
    cases = {
        (r["dtype"], r["match"], r["size"]): r
        for r in results
        if r["layout"] == "1-d"
        and r["call"] == "replace"
        and r["size"] >= 10**6
        and r["match"] in PATTERNS
        and f"{widths[0]}/inplace" in r
    }
    sizes = sorted({n for _, _, n in cases})
    if not sizes:
        return
    print(
        "\nEvery width on 1-d arrays: its loops' time over NumPy's in-place "
        "loop (/inpl)\nand read-only loop (/read), and per element stored "
        "(ns/st)"
    )
    for w in widths:
        print(
            f"\n  {w:20}"
            + "".join(
                f"{f'{n:.0e} /inpl':>13} {'/read':>6} {'ns/st':>6}"
                for n in sizes
            )
        )
        for dtype in DTYPES:
            for match in PATTERNS:
                rs = [cases.get((dtype, match, n)) for n in sizes]
                if not any(rs):
                    continue
                line = f"  {dtype:9} {match:10}"
                for r in rs:
                    stored = r and r.get(f"{w} ns/stored")
                    line += (
                        f"{'':27}"
                        if r is None
                        else f"{r[f'{w}/inplace']:13.2f} "
                        f"{r[f'{w}/readonly']:6.2f} "
                        + (f"{stored:6.2f}" if stored else f"{'':6}")
                    )
                print(line.rstrip())


def print_bandwidth(results, subjects):
    """A table per size of the 1-d patterns where the copy was timed (from
    competitors.COPY_FROM elements): the rate at which each of `subjects`
    (fennick, or each width) walks the array, beside NumPy's in-place and
    read-only loops and its copy, in GB of the array per second."""
    rows = [
        r
        for r in results
        if r["layout"] == "1-d"
        and r["call"] == "replace"
        and r["match"] in PATTERNS
        and "copy" in r
    ]
    for n in sorted({r["size"] for r in rows}):
        print(
            f"\nBandwidth on 1-d arrays of {n:.0e} elements: GB of the array "
            "per second (its bytes\nover the time of one call; the "
            "in-place loop and the copy move twice as many)"
        )
        heads = [*subjects, "inplace", "readonly", "copy"]
        print(
            f"  {'dtype':9} {'match':10}" + "".join(f"{h:>12}" for h in heads)
        )
        for r in (r for r in rows if r["size"] == n):
            nbytes = r["elements"] * np.dtype(r["dtype"]).itemsize
            t = r["times_ns"]
            times = [t.get(s) for s in subjects] + [
                r["inplace"],
                r["readonly"],
                r["copy"],
            ]
            print(
                f"  {r['dtype']:9} {r['match']:10}"
                + "".join(
                    f"{nbytes / ns:12.1f}" if ns else f"{'':12}"
                    for ns in times
                )
            )


# replace_many's competitors as the table heads them
SHORT = {
    "fennick dict": "dict",
    ONE: "one",
    "or-ed masks": "or-masks",
    "mask per pair": "per pair",
    "searchsorted": "searchsort",
    "chained replace": "chained",
    "fennick on 8": "on 8",
}
# The figures after the times of a form's table: (figure, head, width)
RATIOS = {
    "copy": (("fennick/copy", "f/copy", 7), ("where/fennick", "where/f", 8))
}
ONE_AND_IDIOM = (("fennick/one", "f/one", 7), ("idiom/fennick", "idiom/f", 8))


def print_many(results, widths=()):
    """A table per form of replace_many's calls: the time of one call of
    each competitor (and with --widths of each width's loops), fennick's
    time over one replace's and the best idiom's over fennick's."""
    rows = [r for r in results if r["call"] != "replace"]
    if rows:
        print(
            "\nreplace_many: time of one call; f/one: fennick's time over "
            "one replace's;\nidiom/f: the best idiom's over fennick's; "
            "match: the share of elements that are olds\n(replaced: "
            "f/copy, its time over np.copy's; where/f, np.where's over "
            "its)"
            + (f"; {', '.join(widths)}: that width's loops" if widths else "")
        )
    for form, competitors in MANY.items():
        rs = [r for r in rows if CALLS[r["call"]][1] == form]
        names = [
            n
            for n in (*competitors, *widths)
            if any(n in r["times_ns"] for r in rs)
        ]
        if not rs:
            continue
        wide = max(len(r["layout"]) for r in rs)
        ratios = RATIOS.get(form, ONE_AND_IDIOM)
        print(
            f"\n  {'call':11} {'dtype':8} {'layout':{wide}} {'size':>5} "
            f"{'match':5}"
            + "".join(f"{SHORT.get(n, n):>11}" for n in names)
            + "".join(f"{head:>{w}}" for _, head, w in ratios)
        )
        for r in rs:
            t = r["times_ns"]
            print(
                f"  {r['call']:11} {r['dtype']:8} {r['layout']:{wide}} "
                f"{r['size']:5.0e} {r['match']:5}"
                + "".join(
                    f"{fmt_time(t[n]) if n in t else '':>11}" for n in names
                )
                + "".join(
                    f"{r[key]:{w}.2f}" if key in r else " " * w
                    for key, _, w in ratios
                )
            )


def print_frames(results):
    """A line per row: fennick's time, then each rival's, with its time
    over fennick's, and its number of samples when fewer than fennick's
    (a rival slower than a whole case's sampling time, such as pandas'
    replace with a 1000-entry dict, gets MODES' "slow" samples)."""
    if not results:
        return
    print(
        "\npandas and xarray: time of one call; (x): the rival's time over "
        "fennick's; size:\nthe elements of one column or variable; best: the "
        "fastest rival"
    )
    for r in results:
        t, n = r["times_ns"], r["samples"]
        rivals = ", ".join(
            f"{k} {fmt_time(t[k])} ({r[f'{k}/fennick']:.2f}x"
            + (f", {n[k]} samples)" if n[k] < n["fennick"] else ")")
            for k in t
            if k != "fennick"
        )
        print(
            f"  {r['layout']:20} {r['dtype']:7} {r['size']:5.0e} "
            f"{r['match']:3} {r['call']:15} fennick {fmt_time(t['fennick'])}"
            f"; {rivals}; best {r['best']}"
        )
