"""Times fennick past one core: ``python -m benchmarks --parallel``, or
alone ``python -m benchmarks.parallel``.

On one float64 array (10**8 elements by default, about 1% of them equal to
``old``) it times, in interleaved rounds so that machine drift hits every
competitor alike:

- ``replace(a, old, new)``, the single call;
- ``replace_parallel(a, old, new, workers=k)`` for k = 1, 2, ... up to
  ``fennick.parallel.default_workers()`` (the cores this process may use,
  at most ``MAX_DEFAULT_WORKERS``);
- on a dask array of the same data and dask's threaded scheduler,
  ``fennick.dask.replace(x, old, new)`` against ``da.where(x == old, new,
  x)``, each computed to a NumPy array (rows left out without dask).

In-place calls alternate ``(old, new)`` and ``(new, old)``, so every call
finds its matches again; each competitor's result is checked once before
it is timed.  Times are medians over the rounds; GB/s is the array's bytes
over the time.
"""

import argparse
import statistics
import sys
import time

import numpy as np

from fennick import parallel, replace, replace_parallel

OLD, NEW = 1.0, 2.0


def make_data(size, seed=2024):
    rng = np.random.default_rng(seed)
    a = rng.integers(3, 1000, size).astype(np.float64)
    a[rng.random(size, np.float32) < 0.01] = OLD
    return a


def in_place(name, call, a, swap):
    """A competitor that changes `a`.  The in-place competitors share
    `swap`, [old, new], and reverse it after each call, so that every call
    finds the matches the previous one wrote."""

    def run():
        call(a, *swap)
        swap.reverse()

    return name, run


def competitors(a, workers, chunks):
    """(name, run) pairs; `run()` makes one timed call."""
    swap = [OLD, NEW]
    runs = [in_place("replace", replace, a, swap)]
    for k in workers:
        runs.append(
            in_place(
                f"replace_parallel workers={k}",
                lambda b, o, n, k=k: replace_parallel(b, o, n, workers=k),
                a,
                swap,
            )
        )
    try:
        import dask.array as da

        import fennick.dask
    except ImportError:
        return runs, None
    # A copy of its own: the in-place calls leave `a` swapped half the time.
    x = da.from_array(a.copy(), chunks=chunks)
    threads = max(workers)
    lazy = {
        "fennick.dask.replace": fennick.dask.replace(x, OLD, NEW),
        "da.where(x == old, new, x)": da.where(x == OLD, NEW, x),
    }
    for name, y in lazy.items():
        runs.append(
            (
                name,
                lambda y=y: y.compute(
                    scheduler="threads", num_workers=threads
                ),
            )
        )
    return runs, x.chunksize


def check(runs, a):
    """Runs each competitor once (twice for in-place ones, restoring `a`)
    and compares with NumPy's result."""
    wanted = np.where(a == OLD, NEW, a)
    for name, run in runs:
        out = run()
        got = a if out is None else out
        if not np.array_equal(got, wanted):
            raise AssertionError(f"{name} gave a wrong result")
        if out is None:
            run()  # back to the data as it was


def measure(runs, rounds):
    """Median seconds per call of each competitor, over `rounds` rounds
    whose order rotates."""
    samples = {name: [] for name, _ in runs}
    for r in range(rounds):
        for name, run in runs[r % len(runs) :] + runs[: r % len(runs)]:
            start = time.perf_counter()
            run()
            samples[name].append(time.perf_counter() - start)
    return {name: statistics.median(s) for name, s in samples.items()}


def run(size=10**8, rounds=5, workers=None, chunks="auto", out=sys.stdout):
    """Times every competitor on `size` elements; prints a table to `out`
    and returns its rows as dicts (name, seconds, GB/s, ratio to the
    row's baseline: the single call, or the dask idiom)."""
    workers = list(workers or range(1, parallel.default_workers() + 1))
    a = make_data(size)
    runs, chunksize = competitors(a, workers, chunks)
    check(runs, a)
    times = measure(runs, rounds)

    nbytes = a.nbytes
    rows = []
    for name, seconds in times.items():
        dask_row = name.startswith(("fennick.dask", "da."))
        base = times["da.where(x == old, new, x)" if dask_row else "replace"]
        rows.append(
            {
                "name": name,
                "seconds": seconds,
                "GB/s": nbytes / seconds / 1e9,
                "speed-up": base / seconds,
            }
        )
    print(
        f"{size} float64 elements ({nbytes / 1e6:.0f} MB), "
        f"{parallel.usable_cores()} "
        f"cores, median of {rounds}; pieces of at least "
        f"{parallel.MIN_PIECE_BYTES} bytes"
        + (f"; dask chunks {chunksize}" if chunksize else "; no dask"),
        file=out,
    )
    print(
        f"{'competitor':32} {'time':>10} {'GB/s':>7} {'speed-up':>9}", file=out
    )
    for r in rows:
        print(
            f"{r['name']:32} {r['seconds'] * 1e3:8.2f} ms "
            f"{r['GB/s']:7.2f} {r['speed-up']:9.2f}",
            file=out,
        )
    return rows


def main(argv=None):
    p = argparse.ArgumentParser(
        prog="python -m benchmarks.parallel",
        description=__doc__.split("\n\n")[0],
    )
    p.add_argument(
        "--size",
        type=lambda s: int(float(s)),
        default=10**8,
        help="elements (default 1e8)",
    )
    p.add_argument(
        "--rounds",
        type=int,
        default=5,
        help="timed calls per competitor (default 5)",
    )
    p.add_argument(
        "--workers",
        type=lambda s: [int(k) for k in s.split(",")],
        help="comma-separated thread counts (default 1 to the cores, at "
        "most fennick.parallel.MAX_DEFAULT_WORKERS)",
    )
    p.add_argument(
        "--chunks",
        type=lambda s: int(float(s)),
        help="dask chunk length (default: dask's choice)",
    )
    args = p.parse_args(argv)
    run(args.size, args.rounds, args.workers, args.chunks or "auto")
    return 0


if __name__ == "__main__":
    sys.exit(main())
