"""replace and threads: the native loops release the interpreter lock, and
threads replacing at once all get exact results.  No timings at all: a
call that releases the lock shows, to a thread looking at the array, a
state that a call holding it never could."""

import subprocess
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

from fennick.dozudiror import replace
from fennick.many import replace_many

BIG = 240_000_000  # bytes in each array: one at a time, and quick to make


def seen_half_done(x, work, calls=20):
    """Whether another thread, looking at `x` while `work` runs, ever sees
    it half replaced: some of a few elements spread over it already
    swapped and others not yet.  A call that held the interpreter lock
    would be over, or not begun, whenever the thread looks (each look is
    one NumPy call), so it could never see that, however fast or busy the
    machine; a call that releases it is seen, however slowly the machine
    lets the other thread run."""
    where = np.unravel_index(
        np.linspace(0, x.size - 1, 16).astype(int), x.shape
    )
    seen, stop, started = [], [], threading.Event()

    def look():
        started.set()
        while not stop and not seen:
            if len(set(x[where].tolist())) > 1:
                seen.append(True)

    looker = threading.Thread(target=look, daemon=True)
    saved = sys.getswitchinterval()
    sys.setswitchinterval(1e-4)
    try:
        looker.start()
        started.wait()
        for _ in range(calls):
            work()
            if seen:
                break
    finally:
        stop.append(True)
        looker.join()
        sys.setswitchinterval(saved)
    return bool(seen)


def FEW(a, old, new):
    """replace_many with olds not in the data besides `old`: vectors."""
    return replace_many(a, [old, 1000, 1001], new)


def LOOKUP(a, old, new):
    """The same with many olds: a lookup."""
    return replace_many(a, [old, *range(-140, -100)], new)


@pytest.mark.skipif(
    not getattr(sys, "_is_gil_enabled", lambda: True)(),
    reason="no interpreter lock",
)
@pytest.mark.parametrize(
    "make, func",
    [
        (lambda: np.ones(BIG // 4, np.float32), replace),
        (lambda: np.ones(BIG // 8), replace),
        (lambda: np.ones(BIG // 8, "l"), replace),
        (lambda: np.ones(BIG // 4, "i"), replace),
        # the general layout and its odometer: every other column, transposed
        (lambda: np.ones((3000, 10000), np.float32).T[::2], replace),
        (lambda: np.ones(BIG // 8), FEW),
        (lambda: np.ones(BIG // 2, "i2"), LOOKUP),
    ],
    ids=["f4", "f8", "i8", "i4", "f4-strided", "f8-few", "i2-lookup"],
)
def test_lock_is_released_during_the_walk(make, func):
    x = make()
    x[::7] = 3
    x[
        np.unravel_index(np.linspace(0, x.size - 1, 16).astype(int), x.shape)
    ] = 3
    swap = [3, 5]

    def work():
        assert func(x, *swap) is x
        swap.reverse()

    assert seen_half_done(x, work), "no call was seen half done"
    assert (x[::7] == swap[0]).all()  # every call swapped all 3s and 5s
    x[x == swap[0]] = 1
    assert (x == 1).all()


def test_threads_replace_at_once_in_arrays_of_their_own():
    # Native and reference routes mixed, each thread also writing in its own
    # row of one shared array; every thread sees exactly its own results.
    codes = ["f8", "f4", "l", "i", ">f8", "i2", "f8", "l"]
    shared = np.zeros((len(codes), 100_001))
    barrier = threading.Barrier(len(codes))

    def worker(i, code):
        x = np.random.default_rng(i).integers(0, 4, 200_000).astype(code)
        if x.dtype.kind == "f":
            x[::11] = np.nan
        other = np.full(1000, 3, x.dtype)  # never passed to replace
        barrier.wait()
        for r in range(20):
            old, new = [(0, 10 + i), (10 + i, 0), (3, -1), (-1, 3)][r % 4]
            wanted = x.copy()
            wanted[wanted == old] = new
            assert replace(x, old, new) is x
            if x.dtype.kind == "f":
                wanted[np.isnan(wanted)] = 2
                assert replace(x, float("nan"), 2) is x
            np.testing.assert_array_equal(x, wanted)
            replace(shared[i], *[(0.0, i + 1.0), (i + 1.0, 0.0)][r % 2])
        assert (other == 3).all()

    with ThreadPoolExecutor(len(codes)) as pool:
        list(pool.map(worker, range(len(codes)), codes))  # raises any error
    assert (shared == 0).all()


FIRST_CALLS = """
import gc, sys, threading
from concurrent.futures import ThreadPoolExecutor
import numpy as np
from fennick.dozudiror import replace
n = int(sys.argv[1])
sys.setswitchinterval(1e-6)
barrier = threading.Barrier(n)
def first_call(i):
    x = np.array([0, 1, 0], np.int16)
    barrier.wait()
    return replace(x, 0, i + 2) is x, x.tolist()
with ThreadPoolExecutor(n) as pool:
    results = list(pool.map(first_call, range(n)))
assert results == [(True, [i + 2, 1, i + 2]) for i in range(n)], results
from fennick import slow
print(sys.getrefcount(slow) - len(gc.get_referrers(slow)))
"""


def test_first_reference_calls_from_many_threads():
    # Made together, the first calls that need fennick.slow all succeed, and
    # the module keeps one reference to it, as after a single first call.
    done = [
        subprocess.run(
            [sys.executable, "-c", FIRST_CALLS, str(n)],
            capture_output=True,
            text=True,
            timeout=300,
        )
        for n in (16, 1)
    ]
    assert [d.returncode for d in done] == [0, 0], [d.stderr for d in done]
    assert done[0].stdout == done[1].stdout


@pytest.mark.parametrize(
    "dtype, func",
    [
        *[(d, replace) for d in ["f8", "f4", "l", "i", "i2"]],
        ("f8", FEW),
        ("i2", LOOKUP),
        ("l", LOOKUP),
    ],
    ids=["f8", "f4", "l", "i", "i2", "f8-few", "i2-lookup", "l-lookup"],
)
def test_no_write_of_another_thread_is_lost(dtype, func):
    # One thread replaces a value that never occurs while another adds 1 to
    # every element, 300 times: since replace stores only into matching
    # elements, every addition survives.  A race needs the two to overlap,
    # so the run is repeated a few times; none may lose a write.
    for attempt in range(3):
        x = np.zeros(1_000_000, dtype)
        done = threading.Event()

        def replacer(x=x, done=done):
            while not done.is_set():
                func(x, -1, -2)

        thread = threading.Thread(target=replacer)
        thread.start()
        try:
            for _ in range(300):
                np.add(x, 1, out=x)
        finally:
            done.set()
            thread.join()
        lost = int(np.count_nonzero(x != 300))
        assert lost == 0, f"{lost} elements lost a write (try {attempt})"
