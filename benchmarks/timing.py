"""Timing one case: every competitor checked once, then sampled in
interleaved rounds whose order rotates, so that machine drift hits every
competitor alike; the median sample is the time.

Each timed call does real work: calls alternate ``(old, new)`` and the
call that undoes it (``(new, old)`` for replace), so every call finds its
matches again; a competitor that returns a new array (pandas) makes the
first call every time.  Samples are short and many: a sample the
scheduler interrupts is an outlier, which the median ignores.
"""

import statistics
import time

import numpy as np

from .competitors import ONE, changes_array, namespace, oracle_args, returns

# `case_s` bounds the sampling time of one case, `repeat` the samples of a
# competitor, but every competitor gets `least` samples (`slow` when one
# sample outlasts the whole case: pandas on a 1000-entry dict).
MODES = {
    "full": {
        "repeat": 21,
        "sample_ms": 1.0,
        "case_s": 1.5,
        "least": 5,
        "slow": 3,
    },
    "default": {
        "repeat": 11,
        "sample_ms": 0.5,
        "case_s": 0.4,
        "least": 5,
        "slow": 3,
    },
    "quick": {
        "repeat": 5,
        "sample_ms": 0.2,
        "case_s": 0.1,
        "least": 3,
        "slow": 1,
    },
}


def make_calls(stmt, nan_old, returns=False, names=None):
    """Returns (run, once): run(a, x, y, m, u, v, w, rounds) makes `rounds`
    rounds of calls and returns how many calls it made: in each, old x ->
    new y with more m, then u -> v with w, which undoes it, or when the
    competitor `returns` a new array and leaves `a` as it was, the first
    call alone; once(a, x, y, m) makes the first call only, and returns its
    value when `returns`.  The statement runs among `names` (by default
    competitors.namespace())."""
    first = stmt.format(
        old="x", new="y", more="m", mask="isnan(a)" if nan_old else "a == x"
    )
    second = stmt.format(old="u", new="v", more="w", mask="a == u")
    body = [first] if returns else [first, second]
    src = (
        f"def once(a, x, y, m):\n    {'return ' * returns}{first}\n"
        "def run(a, x, y, m, u, v, w, rounds):\n"
        "    for _ in range(rounds):\n"
        + "".join(f"        {line}\n" for line in body)
        + f"    return {len(body)} * rounds\n"
    )
    ns = dict(namespace() if names is None else names)
    exec(compile(src, f"<bench {stmt}>", "exec"), ns)
    return ns["run"], ns["once"]


def expected(a, old, new):
    """What replacing `old` (a number, or a list or array of them) with
    `new` (a number, or one per old) makes of `a`, in plain NumPy: a mask
    per old, or past 16 olds (none NaN), a lookup of each distinct value of
    `a` in a dict of the olds."""
    olds = list(old) if np.ndim(old) else [old]
    news = list(new) if np.ndim(new) else [new] * len(olds)
    out = a.copy()
    if len(olds) <= 16:
        for o, n in zip(olds, news, strict=True):
            out[np.isnan(a) if o != o else a == o] = n
        return out
    as_a = np.array(olds, a.dtype).tolist(), np.array(news, a.dtype).tolist()
    lookup = dict(zip(*as_a, strict=True))
    values, where = np.unique(a, return_inverse=True)
    replaced = [lookup.get(v, v) for v in values.tolist()]
    out[...] = np.array(replaced, a.dtype)[where].reshape(a.shape)
    return out


def check(name, once, a, call, wanted, returns):
    """One call of `name` leaves `wanted` in `a` (or, when it `returns` its
    result, returns it and leaves `a` as it was); `a` is restored.  (The
    first call also compiles the numba loop for this signature.)"""
    before = a.copy()
    got = once(a, *call)
    ok = a.tobytes() == (before if returns else wanted).tobytes()
    if returns:
        got = np.asarray(got)
        ok &= got.dtype == a.dtype and got.tobytes() == wanted.tobytes()
    a[...] = before
    if not ok:
        raise AssertionError(f"{name} gave a wrong result")


def sample(run, a, args, rounds):
    """Time per call, in nanoseconds, of `rounds` rounds of calls, and the
    time of them all."""
    start = time.perf_counter_ns()
    calls = run(a, *args, rounds)
    took = time.perf_counter_ns() - start
    return took / calls, took


def calibrate(run, a, args, target_ns):
    """Rounds of calls that make one sample last about `target_ns`, the
    time (ns) such a sample takes, and the samples already taken with that
    many rounds (at most one: a competitor slower than the target is
    sampled while calibrated)."""
    rounds = 1
    while True:
        per_call, t = sample(run, a, args, rounds)
        if t >= target_ns / 10 or rounds >= 1 << 24:
            n = max(1, round(rounds * target_ns / t))
            return n, t / rounds * n, [per_call] if n == rounds else []
        rounds *= 10 if t < target_ns / 100 else 2


def time_case(a, forth, back, timed, mode):
    """Median time per call (ns) of every competitor of `timed` (name ->
    statement) on `a`, called with the arguments `forth` (a Call) and
    `back` in turn (a competitor that returns its result and leaves `a` as
    it was, with `forth` alone), each checked once before it is timed (see
    interleave)."""
    runs, oracles = {}, {}
    nan_old = np.ndim(forth.old) == 0 and forth.old != forth.old
    for name, stmt in timed.items():
        returned = returns(stmt)
        run, once = make_calls(stmt, nan_old, returned)
        if changes_array(name) or returned:
            # one oracle, of the array as made, for all but one replace: a
            # competitor after one whose rounds did not undo its calls fails
            key = name == ONE
            if key not in oracles:
                oracles[key] = expected(a, *oracle_args(name, forth))
            check(name, once, a, forth, oracles[key], returned)
        runs[name] = run
    samples = interleave(runs, a, (*forth, *back), mode)
    return {name: statistics.median(s) for name, s in samples.items()}


def interleave(runs, a, args, mode):
    """The samples (ns per call) of every competitor of `runs` (name -> run,
    see make_calls) on `a` with `args`, taken in interleaved rounds whose
    order rotates.  Each competitor gets an equal share of the case's
    sampling time, so that the fast ones (fennick, the bounds) get more
    samples than slow idioms on large arrays; every one gets at least
    mode["least"], or mode["slow"] when one sample takes longer than the
    whole case should."""
    timed, quota, samples = [], {}, {}
    share_ns = mode["case_s"] * 1e9 / len(runs)
    for name, run in runs.items():
        rounds, ns, samples[name] = calibrate(
            run, a, args, mode["sample_ms"] * 1e6
        )
        timed.append((name, run, rounds))
        slow = ns > mode["case_s"] * 1e9
        least = mode["slow"] if slow else mode["least"]
        quota[name] = min(mode["repeat"], max(least, int(share_ns / ns)))
    for r in range(max(quota.values())):
        for name, run, rounds in (
            timed[r % len(timed) :] + timed[: r % len(timed)]
        ):
            if len(samples[name]) < quota[name]:
                samples[name].append(sample(run, a, args, rounds)[0])
    return samples
