"""Times fennick.replace against the NumPy code a user would write instead.

``python -m benchmarks``, from the root of a clone of fennick's repository
and against the fennick installed (a few minutes; ``--quick`` under a
minute), prints which vector width served the run, a table of the goals
fennick is built to meet, each with its measured ratio and a pass or miss
mark, and a grid of every numeric element type against every layout
family.  ``--full`` times more sizes and shares of matches and prints a
row per case; ``--widths`` times the loops of every width this processor
runs on the same arrays and prints a table per width; ``--help`` explains
every column.

Every case is an array of one element type, layout, size and pattern of
matching elements (random shares, and the clustered matches of real data:
none, one block, runs, every element); on it, in one process and in
interleaved samples, so that machine drift hits every competitor alike,
are timed:

- ``fennick``: ``replace(a, old, new)``, or on the cases of several olds
  ``replace_many``: 2 to 8 olds as a list with one new or as pairs, a
  mapping of 1000 codes (two arrays, and a dict) and a full table over the
  65536 values of uint16, against one ``replace`` call (the cost of one
  pass), the NumPy recipes (``np.isin`` and or-ed masks, a mask per pair,
  the ``searchsorted`` recipe, ``np.take`` through a table), pandas
  ``Series.replace`` where pandas is installed, and a ``replace`` call per
  old (``--many`` times these alone);
- the idioms: ``a[a == old] = new``, ``np.putmask(a, a == old, new)`` and
  ``np.copyto(a, new, where=(a == old))``, with ``np.isnan(a)`` as the mask
  for a NaN ``old``; the fastest of the three is "the best idiom";
- ``numba``, on 1-d arrays where numba is installed: an ``@njit`` loop
  ``for i in range(n): if a[i] == old: a[i] = new``, compiled before it is
  timed;
- ``inplace``: NumPy's fastest loop that reads and writes every element in
  place (``np.negative(a, out=a)``, ``np.bitwise_not`` for unsigned types,
  or ``np.multiply(a, 1, out=a)``; ``np.logical_not`` or ``np.bitwise_not``
  for bool);
- ``readonly``: NumPy's fastest loop that only reads every element (the
  faster of ``np.max(a)`` and ``np.count_nonzero(a)``).

Where pandas and xarray import (``--frames`` times these alone), the
pandas and xarray rows time ``fennick.pandas`` and ``fennick.xarray`` on a
Series, a DataFrame of 20 columns, a DataArray and a Dataset of 5
variables against ``Series.replace`` and ``DataFrame.replace`` (-999 to
NaN, three sentinels, a 1000-entry dict), ``Series.map`` with ``fillna``,
a hash index of the dict's keys, and ``where``; each result equals
fennick's, checked once before it is timed.

Each timed call does real work: calls alternate ``(old, new)`` and the
call that undoes it, so every call finds its matches again.  The result of
every competitor that replaces (or returns a replaced copy: pandas) is
checked once against a plain NumPy oracle before it is timed.
Times are medians of repeated samples.  numba, pandas and the plot are
optional (``pip install ".[bench]"`` in the clone), and so is dask for
``--parallel``.  ``--json FILE`` keeps the run; ``python -m
benchmarks.goals FILE`` judges its goals again, and fails if one is
missed.

The benchmark is no part of fennick's package: it lives beside it in the
repository, a file per job: ``cases`` (element types, layouts, patterns,
the plan), ``competitors``, ``timing``, ``goals`` (and their check
of a run's JSON), ``report``, ``plot``, ``parallel`` (threads and dask),
``frames`` (pandas and xarray) and the command line in ``__main__``.
"""
