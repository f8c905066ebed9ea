"""Timing one case: every competitor checked once, then sampled in
interleaved rounds whose order rotates, so that machine drift hits every
competitor alike; the median sample is the time.

Each timed call does real work: calls alternate ``(old, new)`` and the
call that undoes it (``(new, old)`` for replace), so every call finds its
matches again.  Samples are short
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
    """Returns (run, once): run(a, x, y, u, v, pairs) makes `pairs` pairs of
    calls (old x -> new y, then u -> v, which undoes it); once(a, x, y)
    makes the first call only."""
    first = stmt.format(
        old="x", new="y", mask="isnan(a)" if nan_old else "a == x"
    )
    second = stmt.format(old="u", new="v", mask="a == u")
    src = (
        f"def once(a, x, y):\n    {first}\n"
        f"def run(a, x, y, u, v, pairs):\n"
        f"    for _ in range(pairs):\n        {first}\n        {second}\n"
    )
    ns = dict(namespace())
    exec(compile(src, f"<bench {stmt}>", "exec"), ns)
    return ns["run"], ns["once"]


def expected(a, old, new):
    """What replacing `old` (a number or a list) with `new` (a number, or a
    list of one per old) makes of `a`, in plain NumPy."""
    olds = old if isinstance(old, list) else [old]
    news = new if isinstance(new, list) else [new] * len(olds)
    out = a.copy()
    for o, n in zip(olds, news, strict=True):
        out[np.isnan(a) if o != o else a == o] = n
    return out


def check(name, once, a, old, new):
    """One call of `name` leaves the oracle's bits in `a`; `a` is restored.
    (The first call also compiles the numba loop for this signature.)"""
    before = a.copy()
    wanted = expected(before, old, new)
    once(a, old, new)
    ok = a.tobytes() == wanted.tobytes()
    a[...] = before
    if not ok:
        raise AssertionError(f"{name} gave a wrong result")


def sample(run, a, calls, pairs):
    """Time per call, in nanoseconds, of `pairs` pairs of calls."""
    start = time.perf_counter_ns()
    run(a, *calls, pairs)
    return (time.perf_counter_ns() - start) / (2 * pairs)


def calibrate(run, a, calls, target_ns):
    """Pairs of calls that make one sample last about `target_ns`, and the
    time (ns) such a sample takes."""
    pairs = 1
    while True:
        t = sample(run, a, calls, pairs) * 2 * pairs
        if t >= target_ns / 10 or pairs >= 1 << 24:
            n = max(1, round(pairs * target_ns / t))
            return n, t / pairs * n
        pairs *= 10 if t < target_ns / 100 else 2


def time_case(a, forth, back, timed, mode):
    """Median time per call (ns) of every competitor of `timed` (name ->
    statement) on `a`, called with the arguments `forth` (old, new) and
    `back` in turn, with their samples interleaved.  Each competitor gets
    an equal share of the case's sampling time, so that the fast ones
    (fennick, the bounds) get more samples than slow idioms on large
    arrays; every one gets at least MIN_REPEAT."""
    old, new = forth
    calls = (*forth, *back)
    runs, quota = [], {}
    share_ns = mode["case_s"] * 1e9 / len(timed)
    for name, stmt in timed.items():
        run, once = make_calls(stmt, not isinstance(old, list) and old != old)
        if changes_array(name):
            check(name, once, a, old, new)
        pairs, ns = calibrate(run, a, calls, mode["sample_ms"] * 1e6)
        runs.append((name, run, pairs))
        quota[name] = min(mode["repeat"], max(MIN_REPEAT, int(share_ns / ns)))
    samples = {name: [] for name, _, _ in runs}
    for r in range(max(quota.values())):
        for name, run, pairs in runs[r % len(runs) :] + runs[: r % len(runs)]:
            if len(samples[name]) < quota[name]:
                samples[name].append(sample(run, a, calls, pairs))
    return {name: statistics.median(s) for name, s in samples.items()}
