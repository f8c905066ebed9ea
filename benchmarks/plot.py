"""The figures of a run, drawn with matplotlib (``pip install ".[bench]"``
in the clone), a PNG file each, sized for a page of the documentation:

- ``bench.png``: elements per second against size, 1-d arrays of the
  native types with 1% and 50% matching: fennick, the best idiom, numba,
  and NumPy's in-place and read-only loops;
- ``bench-widths.png`` (``--widths``): each vector width's time over the
  in-place loop, per pattern of matches and element type;
- ``bench-patterns.png``: how many times faster fennick is than the best
  idiom and than numba, per pattern of matches;
- ``bench-many.png``: replace_many against what users write instead, at
  the size where every rival is timed.

A figure is drawn only from what the run timed, and left out when the run
timed none of it: a run without ``--widths`` has no widths figure, a
``--many`` run only the last one.
"""

import datetime
import math
import os
import statistics

from .cases import CALLS, CLUSTERED, DTYPES, NATIVE, PATTERNS
from .competitors import MANY, TIMED_MANY_RIVALS_UP_TO

WIDTH_IN = 9  # inches: at DPI, about the width of the page's text
DPI = 100
SHARES = ("1%", "50%")  # of the throughput figure, a row each
PATTERN_SIZES = (10**6, 10**7)  # of the pattern figures, where timed
# The element types that get a panel, in this order, and at most six: the
# types the default run times on the patterns first.
PANEL_DTYPES = (*NATIVE, "int16", "uint8")
MOST_PANELS = 6
# One colour per competitor in every figure.
COLOURS = {
    "fennick": "black",
    "best idiom": "tab:red",
    "numba": "tab:blue",
    "inplace": "tab:gray",
    "readonly": "tab:olive",
    "fennick dict": "dimgray",
    "fennick on 8": "gainsboro",
    "one replace": "silver",
    "isin": "tab:red",
    "isin table": "lightcoral",
    "or-ed masks": "tab:orange",
    "mask per pair": "tab:pink",
    "searchsorted": "tab:purple",
    "pandas": "tab:brown",
    "chained replace": "tab:cyan",
    "take": "tab:green",
}
LINES = ("fennick", "best idiom", "numba", "inplace", "readonly")
# The legends' names of competitors, where the benchmark's are terse.
LABELS = {
    "inplace": "in-place loop",
    "readonly": "read-only loop",
    "fennick dict": "replace_many, a dict",
    "fennick on 8": "replace_many on 8 elements",
    "one replace": "one replace call",
    "isin": "np.isin mask",
    "isin table": "np.isin mask, kind='table'",
    "or-ed masks": "or-ed masks",
    "mask per pair": "a mask per pair",
    "searchsorted": "np.searchsorted recipe",
    "pandas": "pandas Series.replace",
    "chained replace": "a replace call per old",
    "take": "np.take",
}


def files(path):
    """name -> file of each figure: `path` is a directory (bench*.png in
    it) or a file whose stem the other names extend (x.png, x-widths.png,
    ...)."""
    if os.path.isdir(path) or path.endswith(os.sep):
        stem, ext = os.path.join(path, "bench"), ".png"
    else:
        stem, ext = os.path.splitext(path)
        ext = ext or ".png"
    return {
        name: f"{stem}{'' if name == 'sizes' else '-' + name}{ext}"
        for name in FIGURES
    }


def plot(results, path, info):
    """Draws each figure the results hold, titled with the machine (`info`,
    from report.machine) and today's date; returns the files written."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    widest = info["widths"][0] if info["widths"] else info["width"]
    served = "" if widest == info["width"] else f", {info['width']} served"
    today = datetime.date.today().isoformat()
    machine = f"{info['cpu']} ({widest} loops{served}), {today}"
    written = []
    with plt.rc_context({"font.size": 8.5, "axes.titlesize": 9}):
        for name, file in files(path).items():
            drawn = FIGURES[name](plt, results, info)
            if drawn is None:
                continue
            fig, title = drawn
            fig.suptitle(f"{title}\n{machine}", fontsize=10)
            os.makedirs(os.path.dirname(file) or ".", exist_ok=True)
            fig.savefig(file, dpi=DPI)
            plt.close(fig)
            written.append(file)
    return written


def _replace_1d(results):
    return [
        r for r in results if r["call"] == "replace" and r["layout"] == "1-d"
    ]


def _time(r, name):
    """The time of `name` in case `r` (a competitor, "best idiom", or a
    bound: "inplace", "readonly"), or None where it was not timed."""
    if name in ("inplace", "readonly"):
        return r[name]
    return r["times_ns"].get(
        r.get("best_idiom") if name == "best idiom" else name
    )


def _panel_dtypes(rs):
    present = {r["dtype"] for r in rs}
    order = [*PANEL_DTYPES, *(d for d in DTYPES if d not in PANEL_DTYPES)]
    return [d for d in order if d in present][:MOST_PANELS]


def _grid(plt, panels, height):
    """A figure of `panels` axes, up to three to a row; the unused ones
    hidden."""
    cols = 2 if panels in (2, 4) else min(3, panels)
    rows = math.ceil(panels / cols)
    fig, axes = plt.subplots(
        rows,
        cols,
        figsize=(WIDTH_IN, height * rows),
        squeeze=False,
        layout="constrained",
    )
    for ax in axes.flat[panels:]:
        ax.set_visible(False)
    return fig, axes.flat[:panels]


def _legend(fig, axes, ncol=7):
    """One legend for the figure, below the panels."""
    seen = {}
    for ax in axes:
        for h, label in zip(*ax.get_legend_handles_labels(), strict=True):
            seen.setdefault(label, h)
    fig.legend(
        seen.values(),
        seen.keys(),
        loc="outside lower center",
        ncol=min(ncol, len(seen)),
        frameon=False,
    )


def _span(series):
    """The scale of bars (see _bars): from below the smallest bar and 1 to
    above the largest and 1."""
    ends = [
        (v - below, v + above)
        for _, _, values, errors in series
        for v, (below, above) in zip(
            values, errors or [(0, 0)] * len(values), strict=True
        )
        if v is not None
    ]
    return (
        min([0.5, *(low / 1.5 for low, _ in ends)]),
        max([1, *(high for _, high in ends)]) * 1.6,
    )


def _bars(ax, groups, series, ylabel, span=None):
    """Grouped bars on a log scale with a line at 1: `series` is a list of
    (name, colour, values, errors) with a value per group (None where not
    timed) and errors None or (below, above) per group; `span`, the scale
    (the series' own by default)."""
    from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter

    series = [s for s in series if any(v is not None for v in s[2])]
    floor, top = span or _span(series)
    step = 0.8 / max(1, len(series))
    for k, (name, colour, values, errors) in enumerate(series):
        offset = (k - (len(series) - 1) / 2) * step
        ax.bar(
            [i + offset for i in range(len(groups))],
            [math.nan if v is None else v - floor for v in values],
            step,
            bottom=floor,
            label=LABELS.get(name, name),
            color=colour,
            yerr=None if errors is None else list(zip(*errors, strict=True)),
            error_kw={"lw": 0.8, "capsize": 1.5},
        )
    ax.set_ylim(floor, top)
    ax.axhline(1, color="black", lw=0.8)
    ax.set_yscale("log")
    ax.yaxis.set_major_locator(LogLocator(subs=(1, 2, 5)))
    ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}"))
    ax.yaxis.set_minor_formatter(NullFormatter())
    ax.set_xticks(range(len(groups)), groups, rotation=35, ha="right")
    ax.set_ylabel(ylabel)
    ax.grid(True, axis="y", which="major", alpha=0.3)


def _elements(n):
    """10 to the power, as the titles write sizes."""
    k = round(math.log10(n)) if n > 0 else 0
    return f"$10^{{{k}}}$" if 10**k == n else f"{n:,}"


def _pattern_cases(results):
    """The 1-d cases of replace on the patterns, of the element types timed
    on the clustered ones, at the sizes their figures show: 1e6 and 1e7
    where timed, else the largest two."""
    rs = [r for r in _replace_1d(results) if r["match"] in PATTERNS]
    clustered = [r for r in rs if r["match"] in CLUSTERED]
    sizes = sorted({r["size"] for r in clustered})
    shown = [n for n in PATTERN_SIZES if n in sizes] or sizes[-2:]
    dtypes = {r["dtype"] for r in clustered}
    rs = [r for r in rs if r["size"] in shown and r["dtype"] in dtypes]
    return rs, shown


def _sizes(plt, results, info):
    """Elements per second against size: a panel per native type and
    share of matches, a line per competitor."""
    rs = [r for r in _replace_1d(results) if r["match"] in SHARES]
    dtypes = [d for d in NATIVE if any(r["dtype"] == d for r in rs)]
    shares = [s for s in SHARES if any(r["match"] == s for r in rs)]
    if not dtypes:
        return None
    fig, axes = plt.subplots(
        len(shares),
        len(dtypes),
        figsize=(WIDTH_IN, 2.4 * len(shares) + 1),
        sharex=True,
        sharey=True,
        squeeze=False,
        layout="constrained",
    )
    for i, share in enumerate(shares):
        for j, dtype in enumerate(dtypes):
            ax = axes[i][j]
            case = sorted(
                (r for r in rs if r["dtype"] == dtype and r["match"] == share),
                key=lambda r: r["elements"],
            )
            for name in LINES:
                points = [
                    (r["elements"], r["elements"] / t * 1e9)
                    for r in case
                    if (t := _time(r, name))
                ]
                if not points:
                    continue
                ax.plot(
                    *zip(*points, strict=True),
                    marker="o",
                    ms=2.5,
                    label=LABELS.get(name, name),
                    color=COLOURS[name],
                    lw=2 if name == "fennick" else 1.1,
                    ls="--" if name in ("inplace", "readonly") else "-",
                )
            ax.set(xscale="log", yscale="log", title=f"{dtype}, {share} match")
            ax.grid(True, which="major", alpha=0.3)
            if i == len(shares) - 1:
                ax.set_xlabel("elements")
            if j == 0:
                ax.set_ylabel("elements per second")
    _legend(fig, axes.flat)
    return fig, "fennick.replace against NumPy's idioms, 1-d contiguous arrays"


def _widths(plt, results, info):
    """Each width's time over the in-place loop: a panel per element type,
    a group of bars per pattern, a bar per width, at the smaller size."""
    widths = [
        w for w in info["widths"] if any(f"{w}/inplace" in r for r in results)
    ]
    rs, sizes = _pattern_cases(results)
    rs = [r for r in rs if r["size"] == sizes[0]] if widths and rs else []
    if not rs:
        return None
    dtypes = _panel_dtypes(rs)
    fig, axes = _grid(plt, len(dtypes), 2.5)
    colours = plt.get_cmap("viridis")
    for ax, dtype in zip(axes, dtypes, strict=True):
        cases = {r["match"]: r for r in rs if r["dtype"] == dtype}
        matches = [m for m in PATTERNS if m in cases]
        series = [
            (
                w,
                colours(k / max(1, len(widths) - 1)),
                [cases[m].get(f"{w}/inplace") for m in matches],
                None,
            )
            for k, w in enumerate(widths)
        ]
        first = ax.get_subplotspec().is_first_col()
        ylabel = "time over the in-place loop's" if first else ""
        _bars(ax, matches, series, ylabel)
        ax.set_title(dtype)
    _legend(fig, axes)
    return fig, (
        f"Each vector width on 1-d arrays of {_elements(sizes[0])} "
        "elements, per pattern of matches"
    )


def _patterns(plt, results, info):
    """How many times faster fennick is than the best idiom and numba: a
    row per rival, a panel per size, a group per pattern, a bar per
    element type."""
    rs, sizes = _pattern_cases(results)
    rivals = [
        rival
        for rival in ("best idiom", "numba")
        if any(_time(r, rival) for r in rs)
    ]
    if not rivals:
        return None
    dtypes = _panel_dtypes(rs)
    fig, axes = plt.subplots(
        len(rivals),
        len(sizes),
        figsize=(WIDTH_IN, 2.7 * len(rivals) + 0.9),
        squeeze=False,
        layout="constrained",
    )
    colours = plt.get_cmap("tab10")
    for i, rival in enumerate(rivals):
        panels = []
        for size in sizes:
            cases = {
                (r["dtype"], r["match"]): r for r in rs if r["size"] == size
            }
            matches = [m for m in PATTERNS if any(k[1] == m for k in cases)]
            series = []
            for k, dtype in enumerate(dtypes):
                ratios = []
                for m in matches:
                    r = cases.get((dtype, m))
                    t = r and _time(r, rival)
                    ratios.append(t / r["times_ns"]["fennick"] if t else None)
                series.append((dtype, colours(k), ratios, None))
            panels.append((size, matches, series))
        # one scale along the row, to compare the sizes
        floors, tops = zip(*(_span(p[2]) for p in panels), strict=True)
        for j, (size, matches, series) in enumerate(panels):
            ylabel = f"{rival}'s time over fennick's" if j == 0 else ""
            span = (min(floors), max(tops))
            _bars(axes[i][j], matches, series, ylabel, span)
            the = "the " if rival == "best idiom" else ""
            axes[i][j].set_title(
                f"against {the}{rival}, {_elements(size)} elements"
            )
    _legend(fig, axes.flat, ncol=len(dtypes))
    return fig, "fennick.replace per pattern of matches, 1-d arrays"


# replace_many's panels, a row of four columns for the few olds and one
# for the mapping and table: form -> (title, columns when not alone)
MANY_PANELS = {
    "olds": ("2, 4, 8 olds, one new", 2),
    "pairs": ("2, 4, 8 pairs of an old and its new", 2),
    "map": ("a mapping of 1000 codes", 3),
    "table": ("a 65536-entry table", 1),
}
MANY_ROWS = (("olds", "pairs"), ("map", "table"))


def _many(plt, results, info):
    """replace_many against its rivals: each rival's time over
    replace_many's, at the largest size where the rivals are timed; for
    2 to 8 olds or pairs the median over element types and shares, with
    their range."""
    rs = [r for r in results if _form(r) in MANY_PANELS]
    sizes = [r["size"] for r in rs if r["size"] <= TIMED_MANY_RIVALS_UP_TO]
    if not sizes:
        return None
    rs = [r for r in rs if r["size"] == max(sizes)]
    rows = []
    for row in MANY_ROWS:
        shown = [f for f in row if any(_form(r) == f for r in rs)]
        if shown:
            rows.append([f for f in shown for _ in range(_columns(f, shown))])
    fig, axes = plt.subplot_mosaic(
        rows, figsize=(WIDTH_IN, 3 * len(rows) + 0.9), layout="constrained"
    )
    for form, ax in axes.items():
        cases = [r for r in rs if _form(r) == form]
        if form in ("olds", "pairs"):  # a group per count, over the types
            groups = [c for c in CALLS if any(r["call"] == c for r in cases)]
            per_group = [[r for r in cases if r["call"] == c] for c in groups]
        else:  # a group per case
            groups = [f"{r['dtype']}, {r['match']}" for r in cases]
            per_group = [[r] for r in cases]
        series = [
            _over_fennick(rival, per_group)
            for rival in MANY[form]
            if rival != "fennick"
        ]
        first = ax.get_subplotspec().is_first_col()
        _bars(ax, groups, series, "time over replace_many's" if first else "")
        ax.set_title(MANY_PANELS[form][0])
    _legend(fig, axes.values(), ncol=5)
    return fig, (
        "fennick.replace_many against what users write instead, 1-d "
        f"arrays of {_elements(max(sizes))} elements"
    )


def _columns(form, row):
    return MANY_PANELS[form][1] if len(row) > 1 else 4


def _over_fennick(rival, per_group):
    """The series (see _bars) of `rival`'s time over fennick's: per group
    of cases the median, and where a group has several cases their
    range."""
    values, errors = [], []
    for group in per_group:
        ratios = [
            r["times_ns"][rival] / r["times_ns"]["fennick"]
            for r in group
            if rival in r["times_ns"]
        ]
        mid = statistics.median(ratios) if ratios else None
        values.append(mid)
        errors.append(
            (mid - min(ratios), max(ratios) - mid) if ratios else (0, 0)
        )
    spread = any(len(group) > 1 for group in per_group)
    return rival, COLOURS[rival], values, errors if spread else None


def _form(r):
    return CALLS[r["call"]][1]


FIGURES = {
    "sizes": _sizes,
    "widths": _widths,
    "patterns": _patterns,
    "many": _many,
}
