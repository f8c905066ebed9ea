"""The pandas and xarray family: fennick.pandas and fennick.xarray against
the pandas and xarray code a user would write instead (``--frames`` alone;
in the default run where pandas and xarray import).

Each row is an object of NumPy numbers (a Series, a DataFrame of 20
columns, a DataArray, a Dataset of 5 variables) in which `match` picks the
elements that hold sentinels, or the codes of a mapping; its size counts
the elements of one column or variable.  Every competitor returns a new
object and leaves its input as it was, so each timed call finds the same
matches.  Before any timing, each competitor's result is checked against
fennick's (pandas' ``equals``, xarray's ``identical``) and fennick's values
against a plain NumPy oracle.  "best" is the fastest competitor that is
not fennick: the user's fastest code without it.
"""

import functools
import gc
import statistics
from types import SimpleNamespace

import numpy as np

from .cases import MATCHES, Case, _mapping, _more, _noise
from .timing import expected, interleave, make_calls

SENTINEL = -999.0  # nodata, far from the data (3..99)
SENTINELS = [SENTINEL, -9999.0, -99999.0]
NAN = float("nan")

# The rows: (layout, dtype, call, match, size in the default run)
ROWS = (
    ("Series", "float64", "pandas replace", "1%", 10**6),
    ("Series", "float64", "pandas 3 olds", "1%", 10**6),
    ("Series", "int64", "pandas 1000 map", "50%", 10**6),
    ("DataFrame 20 columns", "float64", "pandas replace", "1%", 10**6),
    ("DataArray", "float64", "xarray replace", "1%", 10**7),
    ("Dataset 5 variables", "float64", "xarray replace", "1%", 10**6),
)
CALLS = tuple(dict.fromkeys(call for _, _, call, _, _ in ROWS))
# columns or variables of each layout
WIDTH = {
    "Series": 1,
    "DataFrame 20 columns": 20,
    "DataArray": 1,
    "Dataset 5 variables": 5,
}
# the sizes of --quick: a tenth of the default's
QUICK = 10

# The statements of each call, run with `a` the object (see
# timing.make_calls); "fennick" first.  `where` and `mask` turn the
# matches into NaN, the new of every row that has them.
COMPETITORS = {
    "pandas replace": {
        "fennick": "fennick_pandas.replace(a, {old}, {new})",
        "replace": "a.replace({old}, {new})",
        "where": "a.where(a != {old})",
    },
    "pandas 3 olds": {
        "fennick": "fennick_pandas.replace_many(a, {old}, {new})",
        "replace": "a.replace({old}, {new})",
        "mask isin": "a.mask(a.isin({old}))",
    },
    "pandas 1000 map": {
        "fennick": "fennick_pandas.replace_many(a, {more}.mapping)",
        "replace": "a.replace({more}.mapping)",
        # map leaves NaN where no key matches, so float64: filled from
        # the Series and cast back to its dtype
        "map fillna": "a.map({more}.mapping).fillna(a).astype(a.dtype)",
        "get_indexer": "by_indexer(a, {more})",
    },
    "xarray replace": {
        "fennick": "fennick_xarray.replace(a, {old}, {new})",
        "where": "a.where(a != {old})",
    },
}
LIBRARY = {call: call.split()[0] for call in CALLS}


def by_indexer(s, more):
    """A mapping's news where the Series `s` holds its olds, through a
    hash index of the olds (made outside the timing): what map does
    without going through float64."""
    i = more.index.get_indexer(s)
    hit = i >= 0
    values = s.to_numpy(copy=True)
    values[hit] = more.vals[i[hit]]
    return type(s)(values, index=s.index, name=s.name, copy=False)


@functools.cache
def imported():
    """library -> its module and fennick's, or the line that says why the
    rows of the library are skipped."""
    found = {}
    try:
        import pandas

        import fennick.pandas

        found["pandas"] = (pandas, fennick.pandas)
    except ImportError:
        found["pandas"] = "pandas is not installed"
    try:
        import xarray

        import fennick.xarray

        found["xarray"] = (xarray, fennick.xarray)
    except ImportError:
        found["xarray"] = "xarray is not installed"
    return found


def namespace():
    """The names the statements use: fennick's module of each library
    that imports, and the recipes written as functions."""
    names = {"by_indexer": by_indexer}
    for lib, mods in imported().items():
        if not isinstance(mods, str):
            names[f"fennick_{lib}"] = mods[1]
    return names


def plan(args):
    """The rows to time: with --frames, or in a run that times the planned
    cases (neither --many, --sizes nor --calls); every row at each of
    --sizes when given."""
    if not args.frames and (args.many or args.sizes or args.calls):
        return []
    return [
        Case(dtype, layout, n, match, call)
        for layout, dtype, call, match, size in ROWS
        for n in args.sizes or [size // QUICK if args.quick else size]
    ]


def _column(case, rng, codes):
    """One column's values: the data 3..99 (or the codes' other values)
    with the olds where `case.match` puts them."""
    dtype = np.dtype(case.dtype)
    pattern, share = MATCHES[case.match]
    hits = pattern(case.size, share, rng)
    if codes is None:
        values = _noise(case.size, dtype, rng)
        olds = np.array(
            SENTINELS if case.call == "pandas 3 olds" else [SENTINEL]
        )
    else:
        olds, _, rest = codes
        values = rest[rng.integers(len(rest), size=case.size)]
    values[hits] = olds[rng.integers(len(olds), size=np.count_nonzero(hits))]
    return values, int(np.count_nonzero(hits))


def make_row(case, rng):
    """The object of one row, the arguments of its call (old, new, more)
    and the number of matches."""
    dtype = np.dtype(case.dtype)
    codes = None
    old, new, more = SENTINEL, NAN, None
    if case.call == "pandas 1000 map":
        codes = _mapping(dtype, "map", 1000, rng)
        more = _more(codes[0], codes[1], dtype)
        pd = imported()["pandas"][0]
        more.index = pd.Index(more.keys)
        old = new = None
    elif case.call == "pandas 3 olds":
        old = SENTINELS
    columns = [_column(case, rng, codes) for _ in range(WIDTH[case.layout])]
    matches = sum(m for _, m in columns)
    names = [f"v{i}" for i in range(len(columns))]
    lib = imported()[LIBRARY[case.call]][0]
    if case.layout == "Series":
        obj = lib.Series(columns[0][0], name="v0", copy=False)
    elif case.layout == "DataArray":
        obj = lib.DataArray(columns[0][0], dims="time", name="v0")
    elif case.layout == "Dataset 5 variables":
        obj = lib.Dataset(
            {k: ("time", v) for k, (v, _) in zip(names, columns, strict=True)}
        )
    else:  # one 2-d block, as pandas keeps a frame of one dtype
        obj = lib.DataFrame(
            {k: v for k, (v, _) in zip(names, columns, strict=True)}
        )
    return obj, SimpleNamespace(old=old, new=new, more=more), matches


def _values(obj):
    """Each column's or variable's NumPy values."""
    if hasattr(obj, "data_vars"):
        return [obj[k].to_numpy() for k in obj.data_vars]
    if hasattr(obj, "columns"):
        return [obj.iloc[:, i].to_numpy() for i in range(obj.shape[1])]
    return [obj.to_numpy()]


def _same(got, want):
    if hasattr(want, "identical"):  # xarray: values, dims, coords, attrs
        return type(got) is type(want) and got.identical(want)
    return type(got) is type(want) and got.equals(want)


def check(obj, call, results):
    """fennick's result (results["fennick"]) holds what a plain NumPy oracle
    makes of each column, every other result equals it, and `obj` is as it
    was."""
    if call.more is not None:
        old, new = call.more.keys, call.more.vals
    else:
        old, new = call.old, call.new
    before = _values(obj)
    for v, got in zip(before, _values(results["fennick"]), strict=True):
        want = expected(v, old, new)
        if got.dtype != want.dtype or not np.array_equal(
            got, want, equal_nan=True
        ):
            raise AssertionError("fennick gave a wrong result")
    for name, got in results.items():
        if not _same(got, results["fennick"]):
            raise AssertionError(f"{name} gave a result unlike fennick's")


def time_row(obj, call, timed, mode, names):
    """The samples (ns per call) of each competitor of `timed` on `obj`,
    each result checked once before any is timed."""
    runs, results = {}, {}
    for name, stmt in timed.items():
        run, once = make_calls(stmt, False, returns=True, names=names)
        results[name] = once(obj, call.old, call.new, call.more)
        runs[name] = run
    kept = [v.copy() for v in _values(obj)]
    check(obj, call, results)
    del results
    args = (call.old, call.new, call.more) * 2
    samples = interleave(runs, obj, args, mode)
    for v, w in zip(kept, _values(obj), strict=True):
        if not np.array_equal(v, w, equal_nan=True):
            raise AssertionError("a competitor changed its input")
    return samples


def figures(times):
    """Each rival's time over fennick's ("replace/fennick"), and the
    fastest rival's ("best/fennick", the rival named in "best")."""
    rivals = [k for k in times if k != "fennick"]
    best = min(rivals, key=times.get)
    r = {f"{k}/fennick": times[k] / times["fennick"] for k in rivals}
    return {**r, "best": best, "best/fennick": r[f"{best}/fennick"]}


def run(cases, mode, out=print):
    """Times every row whose library imports, printing one line per library
    that does not; returns a result (a dict) per row timed."""
    found = imported()
    for lib in sorted({LIBRARY[c.call] for c in cases}):
        if isinstance(found[lib], str):
            out(f"\n{lib} rows skipped: {found[lib]} (pip install '.[bench]')")
    names = namespace()
    rng = np.random.default_rng(2024)
    results = []
    for case in cases:
        if isinstance(found[LIBRARY[case.call]], str):
            continue
        obj, call, matches = make_row(case, rng)
        gc_was_enabled = gc.isenabled()
        gc.disable()  # as for the arrays' cases: no collection mid-sample
        try:
            samples = time_row(obj, call, COMPETITORS[case.call], mode, names)
        finally:
            if gc_was_enabled:
                gc.enable()
        times = {k: statistics.median(s) for k, s in samples.items()}
        results.append(
            {
                **case._asdict(),
                "elements": case.size * WIDTH[case.layout],
                "matches": matches,
                "times_ns": times,
                "samples": {k: len(s) for k, s in samples.items()},
                **figures(times),
            }
        )
        del obj, call
    return results
