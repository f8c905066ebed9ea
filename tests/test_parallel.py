"""replace_parallel: the result, errors and return value of replace, with
the array cut into disjoint pieces that threads replace at once.

The `pieces` fixture lowers the size threshold so that small arrays are cut
too, and records every array handed to replace, so each test sees which
path a call took."""

import re
import sys
import threading
from fractions import Fraction
from itertools import combinations

import numpy as np
import pytest

from conftest import NAN, IntSub, broadcast, frozen, generic_timedelta
from fennick import (
    parallel,
    replace,
    replace_many,
    replace_many_parallel,
    replace_parallel,
)


@pytest.fixture
def pieces(monkeypatch):
    seen = []

    def spy(work):
        def run(a, *args):
            seen.append(a)
            return work(a, *args)

        return run

    monkeypatch.setattr(parallel, "MIN_PIECE_BYTES", 1)
    monkeypatch.setattr(parallel, "replace", spy(parallel.replace))
    monkeypatch.setattr(parallel, "_replace_many", spy(parallel._replace_many))
    return seen


def data(n, dtype, seed=0):
    """`n` elements of 0..4, with NaN for 5 in float types."""
    values = np.random.default_rng(seed).integers(0, 6, n).astype(dtype)
    if values.dtype.kind == "f":
        values[values == 5] = NAN
    return values


LAYOUTS = {
    "1-d": lambda d: data(1000, d),
    "2-d C": lambda d: data(1200, d).reshape(30, 40),
    "2-d F": lambda d: np.asfortranarray(data(1200, d).reshape(30, 40)),
    "strided": lambda d: data(3000, d)[::3],
    "reversed": lambda d: data(1000, d)[::-1],
    "3-d transposed": lambda d: (
        data(24000, d).reshape(20, 30, 40).transpose(2, 0, 1)[::2, :, 1::3]
    ),
    "short outer axis": lambda d: data(1200, d).reshape(2, 600)[:, ::2],
    "0-d": lambda d: data(1, d).reshape(()),
    "empty": lambda d: data(0, d).reshape(0, 5),
}


def one_call(pieces, a):
    """Whether replace was called once, on `a` itself."""
    return len(pieces) == 1 and pieces[0] is a


def assert_disjoint_cover(views, a):
    assert sum(v.size for v in views) == a.size
    assert all(np.shares_memory(v, a) for v in views)
    assert not any(np.shares_memory(v, w) for v, w in combinations(views, 2))


# Each call of the parallel functions and what it must equal: olds that are
# not in the data (99) leave replace_many's result as replace's.
CALLS = {
    "replace": lambda a, old, new, **kw: replace_parallel(a, old, new, **kw),
    "replace_many": lambda a, old, new, **kw: replace_many_parallel(
        a, [old, 99], new, **kw
    ),
}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS)
@pytest.mark.parametrize("dtype", ["f8", "i4", "i2", ">f8"])
@pytest.mark.parametrize("make", LAYOUTS.values(), ids=LAYOUTS)
def test_same_result_as_replace_and_the_idiom(pieces, make, dtype, call):
    a = make(dtype)
    swaps = [(3, -1), (NAN, 7)] if a.dtype.kind == "f" else [(3, -1)]
    for old, new in swaps:
        wanted, idiom = a.copy(), a.copy()
        replace(wanted, old, new)
        idiom[np.isnan(idiom) if old != old else idiom == old] = new
        pieces.clear()
        assert call(a, old, new, workers=3) is a
        np.testing.assert_array_equal(a, wanted)
        np.testing.assert_array_equal(a, idiom)
        if a.size > 1:  # cut in three, after a check on an empty view
            assert [v.size for v in pieces[:1]] == [0]
            assert len(pieces) == 4
            assert_disjoint_cover(pieces[1:], a)
        else:
            assert one_call(pieces, a)


BIG = [2**53, 2**53 + 1, 2**62 + 1, 0, 7]


@pytest.mark.parametrize(
    "dtype, values, old, new",
    [
        ("l", BIG, np.int64(2**53 + 1), -1),  # exact, not through a double
        (">i8", BIG, 2**62 + 1, np.uint8(7)),
        ("d", BIG, 2**53 + 1, 0),  # through the nearest double
        ("d", [3, 0.5, 0], IntSub(3), 9),  # float arrays read __float__
        ("f", [0.1, 0.2, 0], Fraction(1, 10), np.float32(5)),
        ("i2", [3, 1, 0], np.uint8(3), True),
        ("i2", [-5, 1, 0], generic_timedelta(-5), IntSub(-1)),  # signed; exact
        ("?", [True, False], 1, False),
        ("c16", [3, 1.5, 0], 3, np.float16(1.5)),
    ],
    ids=lambda v: type(v).__name__,
)
def test_scalars_of_every_kind_mean_what_they_mean_to_replace(
    pieces, dtype, values, old, new
):
    a = np.array(values * 20, dtype)
    wanted = replace(a.copy(), old, new)
    assert replace_parallel(a, old, new, workers=3) is a
    np.testing.assert_array_equal(a, wanted)
    assert len(pieces) == 4


@pytest.mark.parametrize(
    "dtype, old, new, make",
    [
        ("d", None, 1, np.copy),
        ("d", 1, "1", np.copy),
        ("d", 1j, 0, np.copy),
        ("i", 2.5, 0, np.copy),
        ("l", 1, 2**63, np.copy),
        ("i2", 1, 1e6, np.copy),  # the reference module's checks
        (">f8", "1", 0, np.copy),
        ("d", 1, 2, frozen),
        ("i", 2.5, 0, frozen),  # the cast error comes first
        ("i2", 1, 2, broadcast),
        ("d", 1, 2, list),
    ],
)
def test_errors_are_replaces_and_come_before_any_write(
    pieces, dtype, old, new, make
):
    def fresh():
        return make(data(600, dtype).reshape(20, 30))

    a = fresh()
    with pytest.raises(Exception) as wanted:
        replace(fresh(), old, new)
    with pytest.raises(wanted.type) as got:
        replace_parallel(a, old, new, workers=3)
    assert str(got.value) == str(wanted.value)
    np.testing.assert_array_equal(a, fresh())
    # Only the checks on an empty view ran, or else one call on `a`.
    assert all(v is a or np.size(v) == 0 for v in pieces)


@pytest.mark.parametrize(
    "dtype, old, new",
    [
        ("i4", {1: 2, 2: 1}, None),  # simultaneous
        ("f8", [NAN, 3, IntSub(4)], [0, NAN, 8]),
        ("i2", [1, 70000], 0),
        ("i2", [1, 2], [0, "x"]),
        ("f8", [0.0, -0.0], [1, 2]),
        ("c16", [1, 2 + 0j], [2, 1]),  # the reference module's masks
    ],
)
def test_replace_many_results_and_errors_are_replace_manys(
    pieces, dtype, old, new
):
    args = (old,) if new is None else (old, new)
    a, wanted = data(600, dtype), data(600, dtype)
    try:
        replace_many(wanted, *args)
    except Exception as error:
        with pytest.raises(type(error), match=re.escape(str(error))):
            replace_many_parallel(a, *args, workers=3)
        assert all(np.size(v) == 0 for v in pieces)  # only the checks ran
    else:
        assert replace_many_parallel(a, *args, workers=3) is a
        assert len(pieces) == 4
    np.testing.assert_array_equal(a, wanted)


def test_olds_found_in_the_data_to_conflict_raise_before_any_write(pieces):
    # Two olds of one date with different news conflict only where an
    # element has that date: here in the last piece alone.
    a = np.full(600, np.datetime64("2020-01-01"), "M8[s]")
    a[-1] = np.datetime64("2021-01-01")
    d0, dx = a[0], a[-1]
    news = [np.datetime64(s, "s") for s in ("1999", "1998", "1997")]
    wanted = a.copy()
    with pytest.raises(ValueError, match="match the same elements"):
        replace_many_parallel(a, [d0, dx, dx], news, workers=3)
    np.testing.assert_array_equal(a, wanted)


def test_olds_in_the_array_itself_are_read_before_any_piece_writes(
    monkeypatch,
):
    # The olds are a view of the array's first elements: the piece that
    # holds them is replaced first, and every other piece must still
    # compare with the olds as they were before the call.
    a = np.zeros(4000)
    a[1] = 1
    wanted = replace_many(a.copy(), a[:2].copy(), [1.0, 2.0])
    first_done, work = threading.Event(), parallel._replace_many

    def first_piece_first(v, *args):
        if v.size and v.ctypes.data == a.ctypes.data:
            work(v, *args)
            first_done.set()
            return a
        if v.size:
            first_done.wait(30)
        return work(v, *args)

    monkeypatch.setattr(parallel, "MIN_PIECE_BYTES", 1)
    monkeypatch.setattr(parallel, "_replace_many", first_piece_first)
    replace_many_parallel(a, a[:2], np.array([1.0, 2.0]), workers=4)
    np.testing.assert_array_equal(a, wanted)


class Counted:
    """A number that counts its conversions."""

    def __init__(self):
        self.calls = 0

    def __float__(self):
        self.calls += 1
        return 3.0


def test_a_users_number_is_converted_once_for_all_pieces(pieces):
    a, old = data(1000, "d"), Counted()
    wanted = replace(a.copy(), 3, -1)
    replace_parallel(a, old, -1, workers=8)
    np.testing.assert_array_equal(a, wanted)
    assert len(pieces) == 9 and old.calls == 1  # once, before the checks


class Meddling(int):
    """An int whose float conversion first calls `act` with the number of
    conversions so far."""

    def __new__(cls, value, act):
        self = super().__new__(cls, value)
        self.act, self.calls = act, 0
        return self

    def __float__(self):
        self.calls += 1
        self.act(self.calls)
        return float(int(self))


ACTS = {
    **{
        f"fails on call {n}": lambda a, calls, n=n: calls == n and 1 / 0
        for n in range(1, 5)
    },
    "makes the array read-only": lambda a, calls: a.setflags(write=False),
    "resizes the array": lambda a, calls: a.resize(10, refcheck=False),
}


@pytest.mark.parametrize("dtype", ["l", "d", ">i2"])
@pytest.mark.parametrize("act", ACTS.values(), ids=ACTS)
def test_a_number_is_converted_before_the_array_is_looked_at(
    pieces, dtype, act
):
    # Whatever its conversion does, a call does what one replace call does:
    # it converts once, then writes everything or raises having written
    # nothing, and never writes through a view of memory since freed.
    def run(call):
        a = data(600, dtype)
        old = Meddling(3, lambda calls: act(a, calls))
        try:
            call(a, old, -1)
        except Exception as exc:
            return a, old.calls, (type(exc), str(exc))
        return a, old.calls, None

    a, calls, error = run(lambda *args: replace_parallel(*args, workers=3))
    wanted, wanted_calls, wanted_error = run(replace)
    assert (calls, error) == (wanted_calls, wanted_error)
    np.testing.assert_array_equal(a, wanted)


def test_calls_that_grow_the_pool_at_once_all_finish(monkeypatch):
    # A pool is never shut down while a call may hold it.  The race needs
    # calls to overlap, so the round is repeated with a fresh pool each
    # time; in every round every call must replace all of its array.
    def fresh_pool():
        state = {"pool": None, "size": 0, "pid": None}
        monkeypatch.setattr(parallel, "_pool_state", state)

    fresh_pool()
    pool = parallel._pool(1)
    parallel._pool(2)
    assert pool.submit(int).result() == 0
    monkeypatch.setattr(parallel, "MIN_PIECE_BYTES", 1 << 12)
    workers = [2, 5, 8, 3, 4, 6]
    wanted = replace(data(1 << 15, "d"), 3, -1)
    saved = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        for _ in range(20):
            fresh_pool()
            arrays = [data(1 << 15, "d") for _ in workers]
            errors = []
            barrier = threading.Barrier(len(workers))

            def call(a, w, errors=errors, barrier=barrier):
                barrier.wait()
                try:
                    replace_parallel(a, 3, -1, workers=w)
                except Exception as exc:
                    errors.append(exc)

            threads = [
                threading.Thread(target=call, args=(a, w))
                for a, w in zip(arrays, workers, strict=True)
            ]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            assert errors == []
            for a in arrays:
                np.testing.assert_array_equal(a, wanted)
    finally:
        sys.setswitchinterval(saved)
    # A pool that takes no more work, as at interpreter exit, leaves its
    # pieces to the calling thread.
    pool.shutdown()
    monkeypatch.setattr(parallel, "_pool", lambda threads: pool)
    a = data(1 << 15, "d")
    replace_parallel(a, 3, -1, workers=4)
    np.testing.assert_array_equal(a, wanted)


def test_an_error_in_the_calling_thread_waits_for_the_other_pieces(
    monkeypatch,
):
    # The call raises only once every other piece has ended: none writes
    # into `a` after the caller has it back.
    caller = threading.current_thread()
    failed = threading.Event()
    ended = []

    def work(a, *args):
        if a.size == 0:  # the check of the arguments on an empty view
            return a
        if threading.current_thread() is caller:
            failed.set()
            raise RuntimeError("a piece failed")
        failed.wait(10)
        ended.append(a)

    monkeypatch.setattr(parallel, "MIN_PIECE_BYTES", 1)
    monkeypatch.setattr(parallel, "replace", work)
    with pytest.raises(RuntimeError, match="a piece failed"):
        replace_parallel(data(1000, "d"), 3, -1, workers=3)
    assert len(ended) == 2


@pytest.mark.parametrize(
    "make, old",
    [
        (lambda: data(1000, object), 3),
        (lambda: data(1000, "i2").astype("U3"), 3),  # refused by replace
        (
            lambda: np.lib.stride_tricks.as_strided(
                data(1000, "d"), (999, 2), (8, 8)
            ),
            3,
        ),
    ],
    ids=["object", "text", "overlapping elements"],
)
def test_arrays_that_are_not_cut(pieces, make, old):
    a = make()
    try:
        wanted = replace(make(), old, -1)
    except TypeError as err:
        with pytest.raises(TypeError, match=re.escape(str(err))):
            replace_parallel(a, old, -1, workers=3)
    else:
        assert replace_parallel(a, old, -1, workers=3) is a
        np.testing.assert_array_equal(a, wanted)
    assert one_call(pieces, a)


@pytest.mark.parametrize("workers, cut", [(1, 1), (2, 2), (7, 4), (None, 4)])
def test_workers(pieces, monkeypatch, workers, cut):
    monkeypatch.setattr(
        parallel.os,
        "sched_getaffinity",
        lambda pid: set(range(64)),
        raising=False,
    )
    a = data(8, "d")[::2]  # four elements: at most four pieces
    wanted = replace(a.copy(), 3, -1)
    assert replace_parallel(a, 3, -1, workers=workers) is a
    np.testing.assert_array_equal(a, wanted)
    assert one_call(pieces, a) if cut == 1 else len(pieces) == 1 + cut


@pytest.mark.parametrize(
    "workers, error",
    [(0, ValueError), (-2, ValueError), (2.0, TypeError), ("2", TypeError)],
)
def test_bad_workers_are_refused(workers, error):
    a = data(10, "d")
    with pytest.raises(error):
        replace_parallel(a, 3, -1, workers=workers)
    np.testing.assert_array_equal(a, data(10, "d"))


def test_default_workers_follow_the_cores_this_process_may_use(monkeypatch):
    for cores, want in [(1, 1), (3, 3), (64, parallel.MAX_DEFAULT_WORKERS)]:
        monkeypatch.setattr(
            parallel.os,
            "sched_getaffinity",
            lambda pid, n=cores: set(range(n)),
            raising=False,
        )
        assert parallel.default_workers() == want


def test_arrays_below_the_threshold_take_one_call(pieces, monkeypatch):
    monkeypatch.setattr(parallel, "MIN_PIECE_BYTES", 1 << 20)
    n = 2 * parallel.MIN_PIECE_BYTES // 8  # float64 elements in two pieces
    small, large = data(n - 1, "d"), data(n, "d")
    replace_parallel(small, 3, -1, workers=2)
    assert one_call(pieces, small)
    pieces.clear()
    replace_parallel(large, 3, -1, workers=2)
    assert len(pieces) == 1 + 2


class Picky(np.ndarray):
    """A subclass whose own indexing must never be used."""

    def __getitem__(self, index):
        raise AssertionError("indexed through the subclass")


@pytest.mark.parametrize(
    "make",
    [lambda a: a.view(Picky), lambda a: np.ma.masked_array(a, mask=a == 3)],
    ids=["subclass", "masked"],
)
def test_returns_the_array_itself(pieces, make):
    a = make(data(1000, "d"))
    mask = np.ma.getmaskarray(a).copy()
    wanted = replace(make(data(1000, "d")), 3, -1)
    assert replace_parallel(a, 3, -1, workers=2) is a
    np.testing.assert_array_equal(np.asarray(a), np.asarray(wanted))
    np.testing.assert_array_equal(np.ma.getmaskarray(a), mask)
    assert len(pieces) == 3
