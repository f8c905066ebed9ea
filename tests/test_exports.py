"""What the built extension shows the outside world: it exports its init
function and the three interned keyword names and nothing else, and does not
pull in the C++ runtime; on the Python side, the docstrings, the package's
re-export and its version."""

import importlib.metadata
import inspect
import pathlib
import re
import shutil
import subprocess

import pytest

import fennick
from fennick import dozudiror

EXPORTED = {"PyInit_dozudiror", "pystr_a", "pystr_old", "pystr_new"}


def _run(*argv):
    if shutil.which(argv[0]) is None:
        pytest.skip(f"{argv[0]} is not installed")
    done = subprocess.run(
        [*argv, dozudiror.__file__], capture_output=True, text=True
    )
    assert done.returncode == 0, done.stderr
    return done.stdout


def _dynamic_symbols(option):
    """{name: nm type letter}; versioned names lose their "@VERSION"."""
    lines = [line.split() for line in _run("nm", "-D", option).splitlines()]
    return {f[-1].split("@")[0]: f[-2] for f in lines if len(f) >= 2}


def test_only_the_init_function_and_keyword_names_are_exported():
    symbols = _dynamic_symbols("--defined-only")
    assert set(symbols) == EXPORTED
    assert symbols.pop("PyInit_dozudiror") in "Tt"  # code; the names: data
    assert all(kind in "BbDd" for kind in symbols.values()), symbols


def test_no_cxx_runtime_is_linked_or_used():
    needed = re.findall(
        r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", _run("readelf", "-d")
    )
    cxx = re.compile(r"lib(std)?c\+\+|libgcc_s|libsupc\+\+|libc\+\+abi")
    assert not [lib for lib in needed if cxx.search(lib)], needed
    # Nor operator new/delete, the exception machinery or any other mangled
    # runtime entry (__cxa_finalize is the C library's).
    undefined = _dynamic_symbols("--undefined-only")
    assert [
        name
        for name in undefined
        if re.match(r"_Z|__gxx_|_Unwind_|__cxa_(?!finalize$)", name)
    ] == []


def test_docstrings():
    assert dozudiror.__doc__ == "Fennick nonreducing functions."
    doc = dozudiror.replace.__doc__
    assert doc.startswith(
        "replace(a, old, new)\n\nReplace (inplace) given "
        "scalar values of an array with new values.\n"
    )
    assert str(inspect.signature(fennick.replace)) == "(a, old, new)"
    assert dozudiror.replace.__text_signature__ == "(a, old, new)"
    for header in ("Parameters", "Returns", "Raises", "Notes", "Examples"):
        # NumPy style: the underline is exactly as long as the header.
        assert f"\n{header}\n{'-' * len(header)}\n" in doc


def test_package_reexports_replace_and_has_a_version():
    assert fennick.replace is dozudiror.replace
    assert dozudiror.replace.__name__ == "replace"
    assert "replace" in fennick.__all__
    assert {n for n in vars(dozudiror) if not n.startswith("_")} == {"replace"}
    assert re.fullmatch(r"\d+\.\d+\.\d+\S*", fennick.__version__)
    # One version: meson.build's, as the installed metadata carries it.
    assert fennick.__version__ == importlib.metadata.version("fennick")
    build = pathlib.Path(__file__).parents[1] / "meson.build"
    if build.exists():  # the tests run from a source tree
        declared = re.search(
            r"^\s*version: '([^']+)'", build.read_text(), re.MULTILINE
        )
        assert declared and declared.group(1) == fennick.__version__


def test_package_reexports_replace_parallel():
    from fennick import parallel

    assert fennick.replace_parallel is parallel.replace_parallel
    assert "replace_parallel" in fennick.__all__
    assert (
        str(inspect.signature(fennick.replace_parallel))
        == "(a, old, new, *, workers=None)"
    )
    for header in ("Parameters", "Returns", "Raises", "Examples"):
        assert f"\n{header}\n{'-' * len(header)}\n" in inspect.getdoc(
            fennick.replace_parallel
        )
