"""``replace`` and ``replace_many`` on several cores: disjoint pieces of one
array, each replaced by its own thread.  The native loops release the
interpreter lock, so the pieces run at once."""

import operator
import os
import threading
from concurrent.futures import ThreadPoolExecutor, wait

import numpy as np

from fennick._split import distinct_elements, split
from fennick.dozudiror import _replace_many, replace
from fennick.dozudiror import _settle as settle
from fennick.dozudiror import _settle_many as settle_many
from fennick.many import _OMITTED, _pairs
from fennick.many import replace_many as fennick_replace_many

__all__ = ["replace_parallel", "replace_many_parallel"]

# Each thread gets at least this many bytes: below twice this the single
# call is taken.  Handing pieces to the pool and waiting for them costs as
# much as replacing a few megabytes, so smaller pieces do not pay; the
# benchmark's --parallel figures show where splitting starts to win.
MIN_PIECE_BYTES = 1 << 23

# The default number of threads never exceeds this.  replace runs at memory
# speed, and a handful of cores saturate a machine's memory bandwidth; more
# threads then only share it.  8 is a guess for servers with several memory
# channels, which two cores cannot show.
MAX_DEFAULT_WORKERS = 8

# Element kinds that replace compares without running Python code on each
# element and without changing process-wide state: the others (objects,
# and text, whose comparison on NumPy 1 sets warning filters) take one
# call, so that an error is raised before anything is written.
_THREADED_KINDS = "biufcmMV"

# Scalars whose conversion and comparison run no code of the user's, so
# that every piece reads them alike.  settle reduces any number to these
# for bool, integer and float arrays; in the other kinds (complex,
# date-time, records) the pieces compare the scalars themselves, and a
# call with any other scalar is not cut.
_INERT_TYPES = (int, float, bool, complex, str, bytes)


def usable_cores():
    """The number of cores this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not on every platform
        return os.cpu_count() or 1


def default_workers():
    """The number of cores this process may run on, at most
    MAX_DEFAULT_WORKERS."""
    return min(usable_cores(), MAX_DEFAULT_WORKERS)


def _threads(workers):
    if workers is None:
        return default_workers()
    workers = operator.index(workers)
    if workers < 1:
        raise ValueError(f"workers must be at least 1, not {workers}")
    return workers


def _pieces(a, threads):
    """How many pieces `a` is cut into; below 2, it takes one call."""
    if a.ndim == 0:
        return 1
    return min(threads, a.size * a.itemsize // MIN_PIECE_BYTES)


def _can_split(a):
    return (
        a.dtype.kind in _THREADED_KINDS
        and not a.dtype.hasobject
        and distinct_elements(a)
    )


def _inert(x):
    tp = type(x)
    return tp in _INERT_TYPES or (
        isinstance(x, np.generic) and tp.__module__ == "numpy"
    )


def _scalars(args):
    """The scalars among the arguments of replace or _replace_many."""
    if len(args) == 2:
        return args
    olds, news, _ = args
    return [*olds, *news]


def _in_pieces(work, a, args, workers, settled):
    """``work(a, *args)``, as ``work(v, *args)`` on disjoint views `v` of `a`
    in threads of their own when `a` is big enough.

    `settled` is `args` converted once, as plain numbers (or NotImplemented
    where that cannot be done, or None where the call must not be cut);
    the pieces then run no code of the user's.
    """
    threads = _threads(workers)
    if not isinstance(a, np.ndarray) or _pieces(a, threads) < 2:
        return work(a, *args)  # a non-array: work's own TypeError
    # The scalars are converted once, first, with work's own errors: a
    # user's __float__ runs here and nowhere else, so whatever it does to
    # `a` is done before the view below is taken.
    settled = settled()
    if settled is None:
        return work(a, *args)
    if settled is not NotImplemented:
        args = settled
    elif not all(_inert(x) for x in _scalars(args)):
        return work(a, *args)
    # A plain view: no subclass indexing runs, and writes land in `a`.
    plain = np.ndarray.view(a, np.ndarray)
    pieces = _pieces(plain, threads)  # the conversion may have resized `a`
    if pieces < 2 or not _can_split(plain):
        return work(a, *args)

    # An empty view of the same dtype, byte order and flags goes through
    # every check of the scalars and of writeability, and writes nothing.
    work(plain[(slice(0, 0),) * plain.ndim], *args)

    views = split(plain, pieces)
    pool = _pool(len(views) - 1)
    mine, futures = views[:1], []  # the calling thread takes a piece too
    for v in views[1:]:
        try:
            futures.append(pool.submit(work, v, *args))
        except RuntimeError:  # no new work once the interpreter exits
            mine.append(v)
    try:
        for v in mine:
            work(v, *args)
    finally:
        wait(futures)  # no piece runs on after the call
    for f in futures:
        f.result()  # raises what the first failed piece raised
    return a


def replace_parallel(a, old, new, *, workers=None):
    """Replace (inplace) given scalar values of an array, on several threads.

    Same result, arguments, errors and return value as
    ``fennick.replace(a, old, new)``, computed by cutting `a` into disjoint
    views and replacing each in its own thread.

    Parameters
    ----------
    a : numpy.ndarray
        The array to change in place.
    old, new : number
        As for ``fennick.replace``.
    workers : int, optional
        The most threads to use, the calling thread included.  By default,
        the number of cores this process may run on, at most
        ``fennick.parallel.MAX_DEFAULT_WORKERS`` (replace runs at memory
        speed, which a few cores already reach).  Each thread gets at
        least ``fennick.parallel.MIN_PIECE_BYTES``; smaller arrays, 0-d
        arrays, arrays of objects or text and views whose elements overlap
        take a single call, as does ``workers=1``.

    Returns
    -------
    numpy.ndarray
        `a` itself.

    Raises
    ------
    TypeError
        If `a` is not an array, or `old` or `new` is not a number, as
        ``fennick.replace`` raises it; or if `workers` is not an integer.
    ValueError
        If `a` is read-only, or an integer array cannot hold `old` or
        `new`, as ``fennick.replace`` raises it; or if `workers` is less
        than 1.  Every such error is raised before anything is written.

    See Also
    --------
    fennick.replace : The same on one thread.

    Examples
    --------
    >>> import numpy as np, fennick
    >>> a = np.full((1000, 1000), -999.0)
    >>> fennick.replace_parallel(a, -999.0, np.nan, workers=2) is a
    True
    >>> bool(np.isnan(a).all())
    True
    >>> fennick.replace_parallel(np.arange(4), 2, -1)
    array([ 0,  1, -1,  3])
    """
    return _in_pieces(
        replace, a, (old, new), workers, lambda: settle(a, old, new)
    )


def replace_many_parallel(a, old, new=_OMITTED, *, workers=None):
    """Replace (inplace) several values of an array, on several threads.

    Same result, arguments, errors and return value as
    ``fennick.replace_many(a, old, new)``, computed by cutting `a` into
    disjoint views and replacing each in its own thread, as
    ``fennick.replace_parallel`` does.

    Parameters
    ----------
    a : numpy.ndarray
        The array to change in place.
    old : list of numbers, or mapping
        As for ``fennick.replace_many``.
    new : number or list of numbers, optional
        As for ``fennick.replace_many``.
    workers : int, optional
        As for ``fennick.replace_parallel``.

    Returns
    -------
    numpy.ndarray
        `a` itself.

    Raises
    ------
    TypeError
        As ``fennick.replace_many`` raises it; or if `workers` is not an
        integer.
    ValueError
        As ``fennick.replace_many`` raises it; or if `workers` is less
        than 1.  Every such error is raised before anything is written.

    See Also
    --------
    fennick.replace_many : The same on one thread.
    fennick.replace_parallel : One value, on several threads.

    Examples
    --------
    >>> import numpy as np, fennick
    >>> a = np.tile([1.0, -999.0, -9999.0], (1000, 1000))
    >>> fennick.replace_many_parallel(a, [-999, -9999], np.nan) is a
    True
    >>> int(np.isnan(a).sum())
    2000000
    >>> fennick.replace_many_parallel(np.arange(4), {1: 2, 2: 1})
    array([0, 2, 1, 3])
    """
    if not isinstance(a, np.ndarray):
        return fennick_replace_many(a, old, new)  # its own TypeError
    args = _pairs(old, new)

    def settled():
        olds, _, pairwise = args
        found = settle_many(a, *args)
        # For date-times and records fennick.slow finds two olds with
        # different news in the elements they both match, which a piece
        # sees only in its own: such a call is not cut, and so raises
        # before anything is written.
        if (
            found is NotImplemented
            and a.dtype.kind not in "fc"
            and pairwise
            and len(olds) > 1
        ):
            return None
        return found

    return _in_pieces(_replace_many, a, args, workers, settled)


# One pool for the process, grown when a call needs more threads: threads
# started anew for every call would cost more than the replacement of a
# mid-sized array.  A forked child starts a pool of its own, since the
# parent's threads do not exist there.  A smaller pool is never shut down,
# since another call may hold it and be about to submit: it is only
# dropped, and its idle threads exit once it is garbage-collected.
_pool_lock = threading.Lock()
_pool_state = {"pool": None, "size": 0, "pid": None}


def _pool(threads):
    """A thread pool of at least `threads` threads, for this process."""
    with _pool_lock:
        state = _pool_state
        if state["pid"] != os.getpid() or state["size"] < threads:
            state.update(
                pool=ThreadPoolExecutor(threads, thread_name_prefix="fennick"),
                size=threads,
                pid=os.getpid(),
            )
        return state["pool"]
