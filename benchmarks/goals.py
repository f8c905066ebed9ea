"""The figures of each case and the goals fennick is built to meet, and
their check on a run kept with ``--json``: ``python -m benchmarks.goals
bench.json`` prints each goal's verdict and exits with 1 if one is missed.

A figure compares one competitor's time with another's in the same case:
``fennick/inplace`` is fennick's time over NumPy's in-place loop,
``idiom/fennick`` the best idiom's time over fennick's (how many times
faster fennick is).  Each width's loops, when timed (--widths), get the
same figures under their name: ``avx2/inplace``, ``idiom/avx2``.
"""

import argparse
import json
import math
import statistics
import sys
from dataclasses import dataclass

from . import frames
from .cases import (
    CALLS,
    CLUSTERED,
    CONTIGUOUS,
    DTYPES,
    FEW,
    LAYOUTS,
    MANY_DTYPES,
    MAP_SIZE,
    MORE,
    NAMED,
    NARROW,
    NATIVE,
    OTHER,
    RANDOM,
    STORES,
    WIDE,
)
from .competitors import ALL_IDIOMS, INPLACE_NAMES, ONE, READONLY, RIVALS

FEW_DTYPES = MANY_DTYPES["olds"]


def figures(times, subjects, matches):
    """The figures of one case: the bounds ("inplace", "readonly"), the
    copy's time where it was timed, the best idiom's name, and for each of
    `subjects` (fennick, widths) its time over the bounds, the idioms' and
    numba's time over its own, and its time per stored element; for
    replace_many, its time over one replace call's ("fennick/one") and each
    rival's time over its own ("pandas/fennick")."""
    r = {
        "inplace": min(t for k, t in times.items() if k in INPLACE_NAMES),
        "readonly": min(times[k] for k in READONLY),
    }
    if "copy" in times:
        r["copy"] = times["copy"]
    idioms = [k for k in times if k in ALL_IDIOMS]
    best = min(idioms, key=times.get) if idioms else None
    if best:
        r["best_idiom"] = best
    if best and ONE in times:  # what idiom/fennick is at the cost of one pass
        r["idiom/one"] = times[best] / times[ONE]
    for s in (s for s in subjects if s in times):
        t = times[s]
        r[f"{s}/inplace"] = t / r["inplace"]
        r[f"{s}/readonly"] = t / r["readonly"]
        r[f"{s}/bound"] = t / min(r["inplace"], r["readonly"])
        if best:
            r[f"idiom/{s}"] = times[best] / t
        if "numba" in times:
            r[f"numba/{s}"] = times["numba"] / t
        if matches:
            r[f"{s} ns/stored"] = t / matches
        if ONE in times:
            r[f"{s}/one"] = t / times[ONE]
        if "copy" in times:
            r[f"{s}/copy"] = t / times["copy"]
        for rival in (rival for rival in RIVALS if rival in times):
            r[f"{RIVALS[rival]}/{s}"] = times[rival] / t
    return r


def add_share_ratio(results):
    """fennick's time with 50% matches over its time with 1%, per array."""

    def key(r, match):
        return (r["dtype"], r["layout"], r["size"], match, r["call"])

    times = {key(r, r["match"]): r["times_ns"]["fennick"] for r in results}
    for r in results:
        low = times.get(key(r, "1%"))
        if r["match"] == "50%" and low:
            r["fennick 50%/1%"] = r["times_ns"]["fennick"] / low


def _sel(
    dtypes=NATIVE,
    layouts=None,
    lo=0,
    hi=math.inf,
    matches=RANDOM,
    match=None,
    calls=("replace",),
):
    """Which cases a goal holds for."""

    def keep(r):
        return (
            r["dtype"] in dtypes
            and (calls is None or r["call"] in calls)
            and (layouts is None or r["layout"] in layouts)
            and lo <= r["size"] <= hi
            and (matches is None or r["match"] in matches)
            and (match is None or r["match"] == match)
        )

    return keep


@dataclass(frozen=True)
class Goal:
    """A figure held to a target over a set of cases.

    `figure` names a figure of the cases; with `per_width`, "{}" in it
    stands for each width timed (fennick without --widths) and the goal
    has a row each.  `target` is ">= x" (every case at least x), "<= x"
    (at most x), or "report" (the figure is shown, not judged; its worst
    case is its highest, or with `higher` its lowest).  A case for which
    `also_passes(subject)` holds meets the goal whatever its figure.
    """

    desc: str
    figure: str
    target: str
    keep: object
    per_width: bool = False
    also_passes: object = None
    higher: bool = False


def _under_readonly(s):
    return lambda r: r[f"{s}/readonly"] <= 1


def _mapping(call):
    return _sel(
        dtypes=MANY_DTYPES[CALLS[call][1]],
        lo=MAP_SIZE,
        hi=MAP_SIZE,
        matches=None,
        calls=(call,),
    )


def _frame(layout, call):
    """The row of frames.ROWS with this layout and call, at its size."""
    (row,) = [r for r in frames.ROWS if r[0] == layout and r[2] == call]
    _, dtype, _, match, size = row
    return _sel(
        dtypes=(dtype,),
        layouts=(layout,),
        lo=size,
        hi=size,
        match=match,
        matches=None,
        calls=(call,),
    )


MAP, TABLE = _mapping("1000 map"), _mapping("65536 table")
FEW_1E6 = _sel(dtypes=FEW_DTYPES, lo=10**6, hi=10**6, calls=FEW)

GOALS = [
    Goal(
        "1 and 10 elements",
        "idiom/fennick",
        ">= 8",
        _sel(layouts=("1-d",), hi=10),
    ),
    Goal(
        "10 elements, through fennick.slow",
        "idiom/fennick",
        ">= 2",
        _sel(dtypes=OTHER, lo=10, hi=10),
    ),
    Goal(
        "contiguous 1e4-1e6, 1% and 50%",
        "fennick/inplace",
        "<= 1.2",
        _sel(layouts=CONTIGUOUS, lo=10**4, hi=10**6),
    ),
    Goal(
        "contiguous 1e5-1e6, 1%",
        "idiom/fennick",
        ">= 2",
        _sel(layouts=CONTIGUOUS, lo=10**5, hi=10**6, match="1%"),
    ),
    Goal(
        "contiguous 1e5-1e6, 50%",
        "idiom/fennick",
        ">= 25",
        _sel(layouts=CONTIGUOUS, lo=10**5, hi=10**6, match="50%"),
    ),
    Goal(
        "contiguous 1e5-1e6",
        "fennick 50%/1%",
        "<= 1.15",
        _sel(layouts=CONTIGUOUS, lo=10**5, hi=10**6, match="50%"),
    ),
    Goal(
        "contiguous 1e7 and up, 1%",
        "fennick/bound",
        "<= 1.05",
        _sel(layouts=CONTIGUOUS, lo=10**7, match="1%"),
    ),
    Goal(
        "contiguous 1e7 and up, 50%",
        "fennick/inplace",
        "<= 1.1",
        _sel(layouts=CONTIGUOUS, lo=10**7, match="50%"),
    ),
    Goal(
        "x[::2] and x[::-1] from 1e5, 1%",
        "idiom/fennick",
        ">= 2",
        _sel(layouts=("x[::2]", "x[::-1]"), lo=10**5, match="1%"),
    ),
    Goal(
        "the named N-d layouts 1e5-1e6, 1%",
        "idiom/fennick",
        ">= 2",
        _sel(layouts=NAMED, lo=10**5, hi=10**6, match="1%"),
    ),
    Goal(
        "every dtype and layout 1e3-1e7",
        "idiom/fennick",
        ">= 1",
        _sel(dtypes=DTYPES, lo=10**3, hi=10**7),
    ),
    Goal(
        "every dtype and layout 1e5-1e7",
        "idiom/{}",
        ">= 1.5",
        _sel(dtypes=DTYPES, lo=10**5, hi=10**7),
        per_width=True,
    ),
    # Every width, on the patterns of real data and the dense random ones.
    Goal(
        "patterns 1e6-1e7 (or < readonly)",
        "{}/inplace",
        "<= 1.1",
        _sel(
            dtypes=DTYPES,
            layouts=("1-d",),
            lo=10**6,
            hi=10**7,
            matches=CLUSTERED,
        ),
        per_width=True,
        also_passes=_under_readonly,
    ),
    Goal(
        "random 50%, 90%: 32/64-bit 1e6-1e7",
        "{}/inplace",
        "<= 1.5",
        _sel(
            dtypes=WIDE, layouts=("1-d",), lo=10**6, hi=10**7, matches=STORES
        ),
        per_width=True,
    ),
    Goal(
        "random 50%, 90%: 8/16-bit 1e6-1e7",
        "{}/inplace",
        "report",
        _sel(
            dtypes=NARROW, layouts=("1-d",), lo=10**6, hi=10**7, matches=STORES
        ),
        per_width=True,
    ),
    Goal(
        "random 50%, 90%: 8/16-bit 1e6-1e7",
        "{} ns/stored",
        "report",
        _sel(
            dtypes=NARROW, layouts=("1-d",), lo=10**6, hi=10**7, matches=STORES
        ),
        per_width=True,
    ),
    Goal(
        "every case: pattern, dtype, layout",
        "idiom/{}",
        ">= 1",
        _sel(dtypes=DTYPES, matches=None),
        per_width=True,
    ),
    Goal(
        "1-d layouts, where numba runs",
        "numba/{}",
        ">= 1",
        _sel(dtypes=DTYPES, matches=None),
        per_width=True,
    ),
    # replace_many: several olds in one pass, as a list of olds or pairs, a
    # mapping of 1000 codes, a full 16-bit table
    Goal(
        "2-8 olds, pairs: 1e5-1e7, 1% and 50%",
        "{}/one",
        "<= 1.3",
        _sel(dtypes=FEW_DTYPES, lo=10**5, hi=10**7, calls=FEW),
        per_width=True,
    ),
    *(
        Goal(
            "2-8 olds, pairs: 1e6, 1% and 50%",
            figure,
            target,
            FEW_1E6,
            per_width="{}" in figure,
            higher=True,
        )
        for figure, target in (
            ("idiom/{}", ">= 5"),
            ("idiom/one", "report"),
            ("pandas/{}", "report"),
            ("chained/{}", "report"),
        )
    ),
    # 9 to 256 sentinels far from the data: the prefilter turns whole
    # vectors away; olds inside the data: the lanes in range looked up
    Goal(
        "9-256 olds far from the data: 1e5-1e7, 1% and 50%",
        "{}/one",
        "<= 1.5",
        _sel(
            dtypes=MANY_DTYPES["olds"],
            lo=10**5,
            hi=10**7,
            calls=tuple(c for c in MORE if CALLS[c][1] == "olds"),
        ),
        per_width=True,
    ),
    *(
        Goal(
            "9-256 olds, 16-48 inside the data: 1e6, 1% and 50%",
            figure,
            target,
            _sel(
                dtypes=MANY_DTYPES["olds"] + MANY_DTYPES["inside"],
                lo=10**6,
                hi=10**6,
                calls=MORE,
            ),
            per_width=True,
            higher=True,
        )
        for figure, target in (("idiom/{}", ">= 2"), ("chained/{}", ">= 1"))
    ),
    # fennick with the olds and news as two arrays, "fennick dict" with a
    # dict of them
    *(
        Goal(
            f"1000-entry map 1e6{form}",
            f"{rival}/{{}}" if not form else f"{rival}/fennick{form}",
            aim,
            MAP,
            per_width=not form,
        )
        for form in ("", " dict")
        for rival, aim in (("searchsorted", ">= 10"), ("pandas", ">= 100"))
    ),
    # the arrays against np.take with the table made; the dict against
    # making that table from it with NumPy and np.take
    Goal("65536 table 1e6", "take/{}", ">= 2", TABLE, per_width=True),
    Goal("65536 table 1e6 dict", "take dict/fennick dict", ">= 1", TABLE),
    # fennick.pandas and fennick.xarray against pandas' and xarray's own
    # calls, on the objects and sizes of the default run (frames.ROWS)
    *(
        Goal(desc, figure, target, _frame(layout, call))
        for desc, layout, call, figure, target in (
            (
                "Series 1e6, 1% -999 -> NaN",
                "Series",
                "pandas replace",
                "replace/fennick",
                ">= 1.5",
            ),
            (
                "Series 1e6, 3 sentinels -> NaN",
                "Series",
                "pandas 3 olds",
                "replace/fennick",
                ">= 5",
            ),
            (
                "Series int64 1e6, 1000-key dict",
                "Series",
                "pandas 1000 map",
                "replace/fennick",
                ">= 50",
            ),
            (
                "Series int64 1e6, 1000-key dict",
                "Series",
                "pandas 1000 map",
                "map fillna/fennick",
                ">= 3",
            ),
            (
                "DataFrame 20 x 1e6, 1% -999 -> NaN",
                "DataFrame 20 columns",
                "pandas replace",
                "replace/fennick",
                ">= 2.5",
            ),
            (
                "DataArray 1e7, 1% -999 -> NaN",
                "DataArray",
                "xarray replace",
                "where/fennick",
                ">= 2",
            ),
            (
                "Dataset 5 x 1e6, 1% -999 -> NaN",
                "Dataset 5 variables",
                "xarray replace",
                "where/fennick",
                ">= 2",
            ),
        )
    ),
    Goal(
        "pandas and xarray rows: the fastest rival",
        "best/fennick",
        "report",
        lambda r: any(
            _frame(layout, call)(r) for layout, _, call, _, _ in frames.ROWS
        ),
        higher=True,
    ),
]


def _passes(value, target):
    bound = float(target.split()[1])
    return value >= bound if target.startswith(">") else value <= bound


def label(r):
    call = "" if r["call"] == "replace" else f", {r['call']}"
    return f"{r['dtype']} {r['layout']} {r['size']:.0e} {r['match']}{call}"


def headline(results, subjects=("fennick",)):
    """One row per goal (per goal and subject for per-width goals):
    (goal, figure, target, worst, worst case, median, passed), with worst
    None where the run has no case for it and passed None for a figure
    that is only reported.  The worst case is that of the worst miss
    when there is one."""
    add_share_ratio(results)
    rows = []
    for goal in GOALS:
        for s in subjects if goal.per_width else ("fennick",):
            key = goal.figure.format(s)
            cases = [r for r in results if key in r and goal.keep(r)]
            if not cases:
                rows.append(
                    (goal.desc, key, goal.target, None, "", None, None)
                )
                continue
            judged = goal.target != "report"
            higher = goal.higher or goal.target.startswith(">")
            pick = min if higher else max
            misses = [
                r
                for r in cases
                if judged
                and not _passes(r[key], goal.target)
                and not (goal.also_passes and goal.also_passes(s)(r))
            ]
            worst = pick(misses or cases, key=lambda r: r[key])
            rows.append(
                (
                    goal.desc,
                    key,
                    goal.target,
                    worst[key],
                    label(worst),
                    statistics.median(r[key] for r in cases),
                    not misses if judged else None,
                )
            )
    return rows


def grid(results):
    """{(dtype, family): (worst idiom/fennick from 1e5, worst from 1e3)},
    over the random shares of matches."""
    cells = {}
    for r in results:
        if (
            "idiom/fennick" not in r
            or r["size"] < 10**3
            or r["match"] not in RANDOM
            or r["call"] != "replace"
        ):
            continue
        key = (r["dtype"], LAYOUTS[r["layout"]][0])
        big, small = cells.get(key, (math.inf, math.inf))
        ratio = r["idiom/fennick"]
        cells[key] = (
            min(big, ratio) if r["size"] >= 10**5 else big,
            min(small, ratio),
        )
    return cells


def subjects_of(data):
    """The subjects a run judged (see headline): each width it timed
    (--widths), or fennick."""
    timed = [
        w
        for w in data["machine"]["widths"]
        if any(w in r["times_ns"] for r in data["results"])
    ]
    return timed or ["fennick"]


def check(data):
    """The goals' rows (see headline) of a run's JSON (its cases and its
    pandas and xarray rows), judged by the goals of this checkout, and
    whether none is missed."""
    rows = headline(
        data["results"] + data.get("frames", []), subjects_of(data)
    )
    return rows, not any(passed is False for *_, passed in rows)


def main(argv=None):
    p = argparse.ArgumentParser(
        prog="python -m benchmarks.goals",
        description="Judges the goals on a run of the benchmark kept with "
        "--json: prints each goal's verdict (pass, MISS, '-' for a figure "
        "only reported, n/a where the run timed no case of it) and exits "
        "with 1 if a goal is missed.",
    )
    p.add_argument("json", metavar="FILE", help="python -m benchmarks --json")
    args = p.parse_args(argv)
    with open(args.json) as f:
        data = json.load(f)
    from .report import print_headline  # report prints with these goals

    rows, met = check(data)
    m = data["machine"]
    print(f"{args.json}: {m['cpu']}, {m['width']} loops, NumPy {m['numpy']}")
    print_headline(rows)
    misses = sum(passed is False for *_, passed in rows)
    untimed = sum(worst is None for _, _, _, worst, *_ in rows)
    print(
        f"\n{len(rows)} goals: {misses} missed, {untimed} with no case in "
        "this run"
    )
    return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
