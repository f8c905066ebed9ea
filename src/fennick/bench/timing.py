"""Timing one case: every competitor checked once, then sampled in
interleaved rounds whose order rotates, so that machine drift hits every
competitor alike; the median sample is the time.

Each timed call does real work: calls alternate ``(old, new)`` and
``(new, old)``, so every call finds its matches again.  Samples are short
and many: a sample the scheduler interrupts is an outlier, which the median
ignores.
"""

import statistics
import time

import numpy as np

from fennick.bench.competitors import changes_array, namespace

# `case_s` bounds the sampling time of one case, `repeat` the samples of a
# competitor, but every competitor gets MIN_REPEAT samples.
MODES = {
    "full": {"repeat": 21, "sample_ms": 1.0, "case_s": 1.5},
    "default": {"repeat": 11, "sample_ms": 0.5, "case_s": 0.4},
    "quick": {"repeat": 5, "sample_ms": 0.2, "case_s": 0.1},
}
MIN_REPEAT = 5


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
    ns = dict(namespace())
    exec(compile(src, f"<bench {stmt}>", "exec"), ns)
    return ns["run"], ns["once"]


def check(name, once, a, old, new):
    """One call of `name` leaves the oracle's bits in `a`; `a` is restored.
    (The first call also compiles the numba loop for this signature.)"""
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
    """Median time per call (ns) of every competitor of `timed` (name ->
    statement) on `a`, with their samples interleaved.  Each competitor
    gets an equal share of the case's sampling time, so that the fast ones
    (fennick, the bounds) get more samples than slow idioms on large
    arrays; every one gets at least MIN_REPEAT."""
    runs, quota = [], {}
    share_ns = mode["case_s"] * 1e9 / len(timed)
    for name, stmt in timed.items():
        run, once = make_calls(stmt, old != old)
        if changes_array(name):
            check(name, once, a, old, new)
        pairs, ns = calibrate(run, a, old, new, mode["sample_ms"] * 1e6)
        runs.append((name, run, pairs))
        quota[name] = min(mode["repeat"], max(MIN_REPEAT, int(share_ns / ns)))
    samples = {name: [] for name, _, _ in runs}
    for r in range(max(quota.values())):
        for name, run, pairs in runs[r % len(runs) :] + runs[: r % len(runs)]:
            if len(samples[name]) < quota[name]:
                samples[name].append(sample(run, a, old, new, pairs))
    return {name: statistics.median(s) for name, s in samples.items()}
