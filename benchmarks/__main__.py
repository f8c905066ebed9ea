"""The command line: ``python -m benchmarks``, from the clone's root."""

import argparse
import gc
import importlib.util
import json
import sys

import numpy as np

from fennick import dozudiror

from . import __doc__ as ABOUT
from . import frames
from .cases import CALLS, DTYPES, LAYOUTS, MATCHES, make_case, plan
from .competitors import competitors, numba_version
from .goals import figures, headline
from .report import (
    COLUMNS,
    ROW_HEADER,
    machine,
    print_bandwidth,
    print_frames,
    print_goals,
    print_machine,
    print_many,
    print_widths,
    row,
)
from .timing import MODES, time_case


def parse_args(argv=None):
    p = argparse.ArgumentParser(
        prog="python -m benchmarks",
        description=ABOUT.split("\n\n")[0],
        epilog=COLUMNS,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    scope = p.add_mutually_exclusive_group()
    scope.add_argument(
        "--quick",
        action="store_true",
        help="fewer cases and shorter samples (well under a minute)",
    )
    scope.add_argument(
        "--full",
        action="store_true",
        help="more sizes, 50%% and NaN matches everywhere, every dtype on "
        "the patterns, longer samples, and a row per case (tens of "
        "minutes)",
    )
    p.add_argument(
        "--large",
        action="store_true",
        help="add contiguous arrays of 1e8 elements",
    )
    p.add_argument(
        "--widths",
        action="store_true",
        help="also time the loops of every width this processor runs "
        "(fennick.dozudiror._widths) on the same arrays, and print "
        "a table per width",
    )
    p.add_argument(
        "--parallel",
        action="store_true",
        help="also time replace_parallel with 1, 2, ... threads and "
        "fennick.dask.replace against da.where, on 1e8 float64 elements "
        "(python -m benchmarks.parallel)",
    )
    p.add_argument("--json", metavar="FILE", help="write the results here")
    p.add_argument(
        "--plot",
        metavar="PATH",
        help="draw the figures of what the run timed: PATH.png "
        "(throughput against size), PATH-widths.png (with --widths), "
        "PATH-patterns.png and PATH-many.png; a directory gets bench*.png",
    )
    p.add_argument(
        "--sizes",
        type=lambda s: [int(float(x)) for x in s.split(",")],
        help="time exactly these sizes for the chosen dtypes, layouts "
        "and patterns (1%%,50%% unless --patterns), instead of the "
        "planned cases",
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
    p.add_argument(
        "--patterns",
        type=lambda s: s.split(","),
        help="the patterns of matches on 1-d arrays of 1e6 and 1e7 "
        "elements (with --sizes: of every case), comma-separated, from "
        + ",".join(MATCHES).replace("%", "%%"),
    )
    p.add_argument(
        "--calls",
        type=lambda s: s.split(","),
        help="the calls of the replace_many family timed (with --sizes: "
        "the calls of every case, replace alone by default), "
        "comma-separated, from " + ",".join(CALLS),
    )
    p.add_argument(
        "--many",
        action="store_true",
        help="time the replace_many family only: 2 to 8 olds and pairs, "
        "the 1000-entry map and the 65536-entry table, on the element "
        "types and sizes of their goals",
    )
    p.add_argument(
        "--frames",
        action="store_true",
        help="time the pandas and xarray family only (with --many: both "
        "families): fennick.pandas and fennick.xarray against "
        "Series.replace, DataFrame.replace, Series.map and where, on the "
        "sizes of their goals (with --sizes: on these sizes, per column "
        "or variable); in the default run where pandas and xarray import",
    )
    p.add_argument("--repeat", type=int, help="most samples per competitor")
    p.add_argument("--sample-ms", type=float, help="length of one sample")
    args = p.parse_args(argv)
    for name, known in (
        ("dtypes", DTYPES),
        ("layouts", LAYOUTS),
        ("patterns", MATCHES),
        ("calls", CALLS),
    ):
        if not set(getattr(args, name) or ()) <= set(known):
            p.error(f"--{name} takes some of: {', '.join(known)}")
    if args.plot and importlib.util.find_spec("matplotlib") is None:
        p.error("--plot needs matplotlib (pip install '.[bench]')")
    return args


def run_cases(cases, widths, mode, show_rows):
    """Times every case; returns a result (a dict) per case."""
    progress = sys.stderr.isatty()
    rng = np.random.default_rng(2024)
    results = []
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        for i, case in enumerate(cases):
            if progress:
                sys.stderr.write(
                    f"\r[{i + 1}/{len(cases)}] {' '.join(map(str, case))}"
                    " ...   \033[K"
                )
                sys.stderr.flush()
            a, forth, back, matches = make_case(case, rng)
            timed = competitors(a, case.call, forth.old, widths)
            times = time_case(a, forth, back, timed, mode)
            r = {
                **case._asdict(),
                "elements": int(a.size),
                "matches": matches,
                "times_ns": times,
                **figures(
                    times, ("fennick", "fennick dict", *widths), matches
                ),
            }
            results.append(r)
            del a
            if show_rows:
                print(row(r), flush=True)
    finally:
        if progress:
            sys.stderr.write("\r\033[K")
        if gc_was_enabled:
            gc.enable()
    return results


def main(argv=None):
    args = parse_args(argv)
    mode = dict(
        MODES["full" if args.full else "quick" if args.quick else "default"]
    )
    for key in ("repeat", "sample_ms"):
        if getattr(args, key) is not None:
            mode[key] = getattr(args, key)
    cases = plan(args)
    frame_cases = frames.plan(args)
    widths = list(dozudiror._widths) if args.widths else []
    info = machine(numba_version())
    print_machine(info, len(cases) + len(frame_cases), mode, widths)
    if args.full:
        print("\n" + ROW_HEADER)
    results = run_cases(cases, widths, mode, args.full)
    frame_results = frames.run(frame_cases, mode)

    subjects = widths or ["fennick"]
    print_goals(results + frame_results, subjects)
    print_many(results, widths)
    print_frames(frame_results)
    if widths:
        print_widths(results, widths)
    print_bandwidth(results, subjects)
    past_one_core = None
    if args.parallel:
        from . import parallel

        print("\nPast one core (1e8 float64 elements, 1% matching)")
        past_one_core = parallel.run()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(
                {
                    "machine": info,
                    "settings": mode,
                    "results": results,
                    "frames": frame_results,
                    "headline": headline(results + frame_results, subjects),
                    "parallel": past_one_core,
                },
                f,
                indent=1,
            )
    if args.plot:
        from .plot import plot

        drawn = plot(results, args.plot, info)
        print("figures written:", ", ".join(drawn) or "none")
    return 0


if __name__ == "__main__":
    sys.exit(main())
