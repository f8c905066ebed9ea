"""Cut an array into disjoint views that together hold each of its elements
exactly once, for threads to replace at the same time."""

# An axis with at least this many slabs per piece keeps the largest piece
# within 1/EVEN of the average; a shorter outermost axis gives way to one
# that shares out more evenly.
EVEN = 4


def distinct_elements(a):
    """Whether no two elements of `a` can share a byte.

    Sorted by stride, each axis must step past everything the axes inside it
    span.  Zero strides and other self-overlapping views fail, as do a few
    exotic interleavings that do not overlap: those take one call.
    """
    span = a.itemsize  # bytes covered by the axes walked so far
    axes = sorted(
        (abs(s), n) for n, s in zip(a.shape, a.strides, strict=True) if n > 1
    )
    for stride, extent in axes:
        if stride < span:
            return False
        span = stride * (extent - 1) + span
    return True


def _bounds(n, pieces):
    return [n * i // pieces for i in range(pieces + 1)]


def split(a, pieces):
    """`a` (a plain ndarray of at least one dimension whose elements are
    distinct) as a list of at most `pieces` non-empty disjoint views."""
    if a.ndim > 1 and (a.flags.c_contiguous or a.flags.f_contiguous):
        # One run of memory: cut it into equal ranges.  Reshaping a
        # contiguous array in its own order always gives a view.
        flat = a.reshape(-1, order="C" if a.flags.c_contiguous else "F")
        pieces = min(pieces, flat.size)
        b = _bounds(flat.size, pieces)
        return [flat[b[i] : b[i + 1]] for i in range(pieces)]
    # Outermost in memory first, so that each piece keeps to a region of
    # its own; but only along an axis long enough to share out evenly.
    by_memory = sorted(range(a.ndim), key=lambda k: -abs(a.strides[k]))
    axis = next(
        (k for k in by_memory if a.shape[k] >= EVEN * pieces),
        max(range(a.ndim), key=lambda k: a.shape[k]),
    )
    pieces = min(pieces, a.shape[axis])
    b = _bounds(a.shape[axis], pieces)
    index = [slice(None)] * a.ndim
    views = []
    for i in range(pieces):
        index[axis] = slice(b[i], b[i + 1])
        views.append(a[tuple(index)])
    return views
