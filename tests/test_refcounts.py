"""Reference ownership and memory of replace, on every path it can take:
over thousands of calls, the counts of the arguments and of what the module
keeps (fennick.slow and its replace) must not move, nor memory grow."""

import gc
import os
import subprocess
import sys
import sysconfig
import tracemalloc

import numpy as np
import pytest

import fennick.slow
from conftest import (
    INF,
    NAN,
    NEW_CAST,
    NEW_NUMBER,
    NOT_ARRAY,
    OLD_CAST,
    OLD_NUMBER,
    READ_ONLY,
    frozen,
    generic_timedelta,
    over_bytes,
)
from fennick.dozudiror import _settle as settle
from fennick.dozudiror import replace
from fennick.many import replace_many

pytestmark = pytest.mark.skipif(
    not hasattr(sys, "getrefcount")
    or bool(sysconfig.get_config_var("Py_GIL_DISABLED")),
    reason="reference counts are not plain here",
)

CALLS = 2000


def _exact_total_refcount():
    """sys.gettotalrefcount, where it counts every reference: a debug
    interpreter with a NumPy built for it.  A NumPy built for the release
    interpreter takes and drops references uncounted, so the total drifts
    with every NumPy call (NumPy's own arithmetic is the probe)."""
    total = getattr(sys, "gettotalrefcount", None)
    if total is None:
        return None
    x = np.arange(3.0)
    for _ in range(3):
        np.add(x, 1.0)[::-1].copy()
    before = total()
    for _ in range(200):
        np.add(x, 1.0)[::-1].copy()
    return total if abs(total() - before) < 100 else None


# All references the interpreter holds, where it counts them exactly.
TOTAL_REFCOUNT = _exact_total_refcount()
T, V = TypeError, ValueError
W4, W1 = "wrong number of arguments 4", "wrong number of arguments 1"
WKW = "wrong number of keyword arguments 3"
MISSING = "Cannot find `{}` keyword input"


def A(dtype="f8", ro=False, values=(1, 2, 0, 2, 5, 2)):
    x = np.array(values, dtype)
    return frozen(x) if ro else x


def P(*args, **kwargs):
    """The call's arguments, numbers made anew: never shared constants."""
    new = lambda v: type(v)(str(v)) if type(v) in (int, float) else v  # noqa
    return tuple(map(new, args)), {k: new(v) for k, v in kwargs.items()}


SubArray = type("SubArray", (np.ndarray,), {})
FloatRaises = type("FloatRaises", (), {"__float__": lambda self: 1 / 0})


CASES = {  # label: (maker of fresh arguments, None or the exact exception)
    "f8": (lambda: P(A(), 2.0, 1000), None),
    "f4": (lambda: P(A("f4"), 2.0, 1000), None),
    "i8": (lambda: P(A("l"), 2.0, 1000), None),
    "i4": (lambda: P(A("i"), 2.0, 1000), None),
    "f8-nan-old": (lambda: P(A(values=(1, NAN)), NAN, 0.5), None),
    "f4-nan-new": (lambda: P(A("f4"), 2.0, NAN), None),
    "0-d": (lambda: P(np.array(2.0), 2.0, 3.5), None),
    "strided": (
        lambda: P(np.arange(60.0).reshape(6, 10)[::-2, 1::3], 13.0, -1.5),
        None,
    ),
    "empty": (lambda: P(np.empty((0, 3)), 2.0, 3.5), None),
    "subclass": (lambda: P(A().view(SubArray), 2.0, 3.5), None),
    "i8-nan-old": (lambda: P(A("l"), NAN, 2.5), None),
    "i4-nan-old-ro": (lambda: P(A("i", True), NAN, INF), None),
    "kw-all": (lambda: P(a=A(), old=2.0, new=1000), None),
    "kw-new": (lambda: P(A("l"), 2.0, new=1000), None),
    "kw-new-old": (lambda: P(A("f4"), new=1000, old=2.0), None),
    "two-args": (lambda: P(A(), 2.0), T(W4)),
    "no-args": (lambda: P(), T(W4)),
    "three-and-kw": (lambda: P(A(), 2.0, 3.0, new=4.0), T(W1)),
    "missing-a": (lambda: P(old=2.0, new=3.0), T(MISSING.format("a"))),
    "missing-old": (lambda: P(A(), new=3.0), T(MISSING.format("old"))),
    "missing-new": (lambda: P(A(), old=3.0), T(MISSING.format("new"))),
    "extra-kw": (lambda: P(A(), 2.0, new=3.0, extra=4.0), T(WKW)),
    "repeated-kw": (lambda: P(A(), old=2.0, new=3.0, a=A()), T(WKW)),
    "list": (lambda: P([1.5], 2.0, 3.0), T(NOT_ARRAY)),
    "old-text": (lambda: P(A(), "".join("ab"), 3.0), T(OLD_NUMBER)),
    "old-huge": (lambda: P(A("f4"), 10**400, 3.0), T(OLD_NUMBER)),
    "old-raises": (lambda: P(A(), FloatRaises(), 3.0), T(OLD_NUMBER)),
    "new-object": (lambda: P(A(), 2.0, object()), T(NEW_NUMBER)),
    "old-cast": (lambda: P(A("l"), 2.5, 1000), V(OLD_CAST)),
    "new-cast": (lambda: P(A("i"), 2.0, 2**31), V(NEW_CAST)),
    "ro-f8": (lambda: P(A(ro=True), 2.0, 3.0), V(READ_ONLY)),
    "ro-i8": (lambda: P(A("l", True), 2.0, 1000), V(READ_ONLY)),
    "ro-bytes": (lambda: P(over_bytes(np.zeros(10)), 0.0, 3.0), V(READ_ONLY)),
    # the reference route: other element types and non-native byte order
    "i2": (lambda: P(A("i2"), 2.0, 1000), None),
    "i2-nan-old": (lambda: P(A("i2"), NAN, 2.5), None),
    ">f8": (lambda: P(A(">f8"), 2.0, 3.5), None),
    ">i4-kw": (lambda: P(new=1000, a=A(">i4"), old=2.0), None),
    "q-kw-new": (lambda: P(A("q"), 2.0, new=1000), None),
    ">f8-old-text": (lambda: P(A(">f8"), "".join("ab"), 3.0), T(OLD_NUMBER)),
    "i2-old-cast": (lambda: P(A("i2"), 2.5, 1000), V(OLD_CAST)),
    "i2-ro": (lambda: P(A("i2", True), 2.0, 1000), V(READ_ONLY)),
}


# replace_many's paths: a few olds, a lookup (table, hash), the copy of an
# overlapping view, the reference route, and its own errors.
MANY = "`old[0]` and `old[1]` match the same elements but their news differ"
MANY_CASES = {
    "many-few": (lambda: P(A(), [2.0, 5.0], 7.0), None),
    "many-pairs": (lambda: P(A("i"), {2: 5, 5: 2}), None),
    "many-table": (
        lambda: P(A("i2", values=(300, 2, 329)), list(range(300, 330)), 700),
        None,
    ),
    "many-hash": (lambda: P(A(), [*map(float, range(30)), NAN], 7.0), None),
    "many-arrays": (
        lambda: P(A("u2"), np.arange(9), np.arange(9)[::-1]),
        None,
    ),
    "many-overlap": (
        lambda: P(
            np.lib.stride_tricks.as_strided(A("i"), (20,), (1,)), [0, 1], 200
        ),
        None,
    ),
    "many-c16": (lambda: P(A("c16"), [2, 5j], [1, 0]), None),
    "many-nan-int": (lambda: P(A("l"), [NAN], 2.5), None),
    "many-old-text": (
        lambda: P(A(), [1, "x"], 0),
        T("`old[1]` must be a number"),
    ),
    "many-cast": (
        lambda: P(A("i2"), [1], [70000]),
        V("Cannot safely cast `new[0]` to int"),
    ),
    "many-conflict": (lambda: P(A(), [0.0, -0.0], [1, 2]), V(MANY)),
    "many-ro": (lambda: P(A(ro=True), [2.0, 5.0], 100), V(READ_ONLY)),
}


def call(args, kwargs, error, func=replace):
    try:
        result = func(*args, **kwargs)
    except Exception as exc:  # noqa: BLE001 - compared just below
        assert (type(exc), str(exc)) == (type(error), str(error))
    else:
        assert error is None and result is (args[0] if args else kwargs["a"])


def assert_stable(args, kwargs, error, func=replace):
    slow = fennick.slow
    watch = [*args, *kwargs.values(), slow, getattr(slow, "replace", slow)]
    if func is replace_many:  # the olds and news inside the lists
        for items in args[1:]:
            if isinstance(items, dict):
                items = [*items, *items.values()]
            if isinstance(items, list):  # not the interpreter's shared ints,
                # whose counts other threads move
                watch += [x for x in items if sys.getrefcount(x) < 100]
    for i in range(CALLS + 3):  # the first calls may import or fill caches
        if i == 3:
            gc.collect()
            total = TOTAL_REFCOUNT and TOTAL_REFCOUNT()  # before the counts:
            # on release builds it is 0, a small int that may be watched
            before = [sys.getrefcount(o) for o in watch]
        call(args, kwargs, error, func)
    gc.collect()
    assert [sys.getrefcount(o) for o in watch] == before
    # A debug build counts every reference: one leaked per call, to any
    # object, moves the total by CALLS; caches filling move it by a few.
    if TOTAL_REFCOUNT is not None:
        assert TOTAL_REFCOUNT() - total < CALLS // 2


@pytest.mark.parametrize("label", [*CASES, *MANY_CASES])
def test_reference_counts_do_not_move(label):
    if label in CASES:
        make, error = CASES[label]
        assert_stable(*make(), error)
    else:
        make, error = MANY_CASES[label]
        assert_stable(*make(), error, replace_many)


@pytest.mark.parametrize(
    "patch, message",
    [
        (None, "Cannot import replace from fennick.slow"),
        (float("1.5"), "fennick.slow.replace is not callable"),
    ],
)
def test_reference_function_missing_or_not_callable(
    monkeypatch, patch, message
):
    if patch is None:
        monkeypatch.delattr(fennick.slow, "replace")
    else:
        monkeypatch.setattr(fennick.slow, "replace", patch)
    assert_stable(*P(A("i2"), 2.0, 1000), RuntimeError(message))
    assert_stable(*P(a=A(">f8"), old=2.0, new=1000), RuntimeError(message))


IMPORT_FAILURE = """
import sys, test_refcounts as t
sys.modules["fennick.slow"] = None  # not yet needed by replace; now missing
fails = RuntimeError("Cannot import fennick.slow")
t.assert_stable(*t.P(t.A("i2"), 2.0, 1000), fails)
t.assert_stable(*t.P(a=t.A("i2"), old=2.0, new=1000), fails)
t.assert_stable(*t.P(t.A(">f8"), 2.0, new=1000), fails)
x = t.A("i2")
del sys.modules["fennick.slow"]  # importable again: each call tries anew
assert t.replace(x, 2, 1000) is x and x.tolist() == [1, 1000, 0, 1000, 5, 1000]
sys.modules["fennick.slow"] = None  # the module is kept once imported
assert t.replace(x, 1000, 2) is x and x.tolist() == [1, 2, 0, 2, 5, 2]
"""


def test_failed_import_of_the_reference_module():
    done = subprocess.run(
        [sys.executable, "-c", IMPORT_FAILURE],
        cwd=os.path.dirname(__file__),
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert done.returncode == 0, done.stderr


# The interpreter's attribute cache keeps a reference to each attribute
# name it last looked up in each of its slots; a name made anew from a C
# string for each lookup may then stay alive until its slot is reused, so
# memory grows for a while and levels off.  It is emptied before each reading.
_clear_caches = getattr(sys, "_clear_internal_caches", None) or getattr(
    sys, "_clear_type_cache", lambda: None
)


def _grown(run, calls):
    gc.collect()
    _clear_caches()
    before = tracemalloc.get_traced_memory()[0]
    for _ in range(calls):
        run()
    gc.collect()
    _clear_caches()
    return tracemalloc.get_traced_memory()[0] - before


def test_memory_does_not_grow():
    # A leak grows memory at a steady pace, by at least 16 bytes (the
    # smallest object) per call; caches and free lists fill, then stop.
    # After a warm-up of every path, each path is measured over two equal
    # windows of 1000 calls, and the second may grow by at most 2 bytes a
    # call: noise stays far below that, a leak of one object a call far
    # above.
    window, limit = 1000, 2000
    grown = {}
    paths = {
        **{k: (m, e, replace) for k, (m, e) in CASES.items()},
        **{k: (m, e, replace_many) for k, (m, e) in MANY_CASES.items()},
    }
    tracemalloc.start()
    try:
        for make, error, func in paths.values():
            for _ in range(300):
                call(*make(), error, func)
        for label, (make, error, func) in paths.items():
            run = lambda m=make, e=error, f=func: call(*m(), e, f)  # noqa: E731
            grown[label] = (_grown(run, window), _grown(run, window))
    finally:
        tracemalloc.stop()
    over = {k: v for k, v in grown.items() if v[1] > limit}
    assert not over, over


BigInt = type("BigInt", (int,), {})


@pytest.mark.parametrize(
    "args",
    [
        P(A("l"), BigInt(2**70), generic_timedelta(-5))[0],  # a copy; fields
        P(A("?"), 1000, 1.5)[0],  # the int itself; a float
        P(A(), 2**60, np.int8(-3))[0],  # floats
        P(A("l"), "2", 1000)[0],  # `old` refused
        P(A("l"), 1000, object())[0],  # `new` refused
        P(A("c16"), 1000, 2000)[0],  # not served
    ],
    ids=["exact", "bool", "double", "old-refused", "new-refused", "other"],
)
def test_settle_keeps_counts_and_memory(args):
    def run():
        try:
            settle(*args)
        except TypeError:
            pass

    for _ in range(300):
        run()
    gc.collect()
    before = [sys.getrefcount(o) for o in args]
    tracemalloc.start()
    try:
        grown = _grown(run, 1000), _grown(run, 1000)
    finally:
        tracemalloc.stop()
    assert [sys.getrefcount(o) for o in args] == before
    assert grown[1] <= 2000, grown


def test_total_reference_count_is_watched_where_it_is_exact():
    # A NumPy built for this debug interpreter (its extensions carry the
    # interpreter's own debug suffix) counts its references: the total must
    # then be exact, or the check above would be silently off.
    multiarray = np._core._multiarray_umath if hasattr(np, "_core") else None
    soabi = sysconfig.get_config_var("SOABI") or ""
    built_here = multiarray is not None and soabi in multiarray.__file__
    if not (hasattr(sys, "gettotalrefcount") and built_here):
        pytest.skip("no debug interpreter with a NumPy built for it")
    assert TOTAL_REFCOUNT is not None
