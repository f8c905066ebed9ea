"""Arrays that may not be written are refused and left as they were, and
memory that holds no match is never written."""

import mmap
import os
import subprocess
import sys

import numpy as np
import pytest

from conftest import (
    NATIVE_DTYPES,
    OLD_CAST,
    READ_ONLY,
    READ_ONLY_MAKERS,
    frozen,
    raises_msg,
)
from fennick import dozudiror
from fennick.dozudiror import replace

CASES = [
    (dtype, old)
    for dtype in NATIVE_DTYPES
    for old in ([0, 1, np.nan] if dtype.kind == "f" else [0, 1])
]


@pytest.mark.parametrize("make", READ_ONLY_MAKERS, ids=lambda f: f.__name__)
@pytest.mark.parametrize(
    "dtype, old", CASES, ids=[f"{d.char}-{o}" for d, o in CASES]
)
def test_read_only_is_refused(make, dtype, old):
    a = make(np.array([old, 1, old, 2, old, old, 3, old, 0], dtype))
    assert not a.flags.writeable
    before = a.copy()
    with raises_msg(ValueError, READ_ONLY):
        replace(a, old, 9)
    np.testing.assert_array_equal(a, before)


def test_bytes_object_is_not_written():
    data = np.array([0.0, 1.0, 0.0, 2.0, 0.0]).tobytes()
    kept = bytes(data)
    a = np.frombuffer(data, np.float64)
    with raises_msg(ValueError, READ_ONLY):
        replace(a, 0, 5)
    assert data == kept


@pytest.mark.parametrize("dtype", ["l", "i"])
def test_cast_error_is_reported_before_read_only(dtype):
    a = frozen(np.array([2, 3, 2], dtype))
    with raises_msg(ValueError, OLD_CAST):
        replace(a, 2.5, 0)


@pytest.mark.parametrize("dtype", [">f8", ">i4", "h"])
def test_read_only_through_the_reference_module(dtype):
    a = frozen(np.array([0, 1, 0, 2], dtype))
    before = a.copy()
    with raises_msg(ValueError, READ_ONLY):
        replace(a, 0, 9)
    np.testing.assert_array_equal(a, before)


# Memory the caller may not write: a loop stores only into the elements
# that match, so read-only pages without a match, and the clean pages of a
# copy-on-write mapping, are never touched.

PAGE_FAULT_CHECK = """
import ctypes, mmap, sys
import numpy as np
from fennick import dozudiror, replace

libc = ctypes.CDLL(None, use_errno=True)
libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
page = mmap.PAGESIZE
memory = mmap.mmap(-1, 2 * page)
layouts = {"contiguous": lambda x: x, "reversed": lambda x: x[::-1],
           "strided": lambda x: x[::2], "every third": lambda x: x[1::3],
           "2-d": lambda x: x.reshape(4, -1),
           "2-d transposed": lambda x: x.reshape(4, -1).T}
# Matches on the first page only: scattered, then every element up to the
# read-only page (whole vectors and blocks), then runs of matches.
fills = [lambda x, h: x[:h:5], lambda x, h: x[:h],
         lambda x, h: x[:h].reshape(-1, 8)[::2]]
runs = [replace] + [
    lambda v, o, n, w=w: dozudiror._replace_with(w, v, o, n)
    for w in dozudiror._widths
]
# replace_many, with olds that are not in the data besides `o`: a few, and
# many (a lookup)
from fennick.many import _pairs
for extra in ([99], range(90, 130)):
    runs += [
        lambda v, o, n, w=w, e=extra: dozudiror._replace_many_with(
            w, v, *_pairs([o, *e], n))
        for w in dozudiror._widths
    ]
for code in sys.argv[1:]:
    x = np.frombuffer(memory, code)
    half = x.size // 2
    for fill in fills:
        x[...] = 3
        fill(x, half)[...] = 1
        matched = x == 1
        libc.mprotect(x.ctypes.data + page, page, mmap.PROT_READ)
        for name, view in layouts.items():
            for run in runs:
                run(view(x), 1, 2)
                run(view(x), 2, 1)
        assert (matched[half:] == 0).all(), code
        assert ((x == 1) == matched).all() and (x[~matched] == 3).all(), code
        libc.mprotect(x.ctypes.data + page, page,
                      mmap.PROT_READ | mmap.PROT_WRITE)
print("ok")
"""


def test_read_only_pages_without_a_match_are_not_written():
    # In a subprocess: a store to the protected page kills the process.
    codes = ["f8", "f4", "l", "i", "i2", "u1", ">f8", ">i4", "e"]
    done = subprocess.run(
        [sys.executable, "-c", PAGE_FAULT_CHECK, *codes],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0 and done.stdout == "ok\n", done.stderr


def private_dirty_bytes(array):
    """Private_Dirty of the mapping that holds `array`, from smaps."""
    address = array.ctypes.data
    with open("/proc/self/smaps") as smaps:
        inside = False
        for line in smaps:
            head = line.split()[0]
            if "-" in head and not head.endswith(":"):
                start, end = (int(h, 16) for h in head.split("-"))
                inside = start <= address < end
            elif inside and head == "Private_Dirty:":
                return int(line.split()[1]) * 1024
    raise AssertionError("mapping not found")


@pytest.mark.skipif(
    not sys.platform.startswith("linux"), reason="reads /proc/self/smaps"
)
@pytest.mark.parametrize("width", dozudiror._widths)
@pytest.mark.parametrize("dtype", ["f8", "i", ">i2", "u1"])
@pytest.mark.parametrize(
    "view", [lambda m: m, lambda m: m[::3]], ids=["contiguous", "strided"]
)
def test_copy_on_write_mapping_keeps_its_clean_pages(
    tmp_path, dtype, view, width
):
    page = mmap.PAGESIZE
    pages = 64
    data = np.full(pages * page // np.dtype(dtype).itemsize, 3, dtype)
    per_page = data.size // pages
    matched = [5, 6, 20, 40]
    for p in matched:
        data[p * per_page + 9] = 1
    data[20 * per_page : 21 * per_page] = 1  # a whole page of matches
    path = tmp_path / "data.bin"
    with open(path, "wb") as f:
        data.tofile(f)
        f.flush()
        os.fsync(f.fileno())  # page-cache pages still dirty would count
    m = np.memmap(path, dtype, mode="c")
    assert private_dirty_bytes(m) == 0
    dozudiror._replace_with(width, view(m), 7, 8)  # no match
    assert private_dirty_bytes(m) == 0  # so nothing may be copied
    dozudiror._replace_with(width, view(m), 1, 2)
    assert private_dirty_bytes(m) <= len(matched) * page
    assert (m == 2).sum() == (view(data) == 1).sum()
    del m
