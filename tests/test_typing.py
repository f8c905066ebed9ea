"""The type stubs ship with the package, and mypy --strict accepts
tests/typing/usage.py (which also runs) and flags exactly the marked lines
of tests/typing/misuse.py."""

import importlib.resources
import os
import re
import runpy
import subprocess
import sys
from pathlib import Path

import pytest

import fennick

HERE = Path(__file__).resolve().parent / "typing"


def test_stubs_and_marker_ship_with_the_package():
    for name in (
        "py.typed",
        "dozudiror.pyi",
        "slow.pyi",
        "many.pyi",
        "parallel.pyi",
        "dask.pyi",
    ):
        assert importlib.resources.files("fennick").joinpath(name).is_file()


@pytest.fixture(scope="module")
def mypy(tmp_path_factory):
    pytest.importorskip("mypy")
    cache = str(tmp_path_factory.mktemp("mypy"))
    env = {k: v for k, v in os.environ.items() if k != "MYPYPATH"}
    root = Path(fennick.__file__).resolve().parent.parent
    if root.name not in ("site-packages", "dist-packages"):
        env["MYPYPATH"] = str(root)  # editable: mypy cannot follow the hook
    return lambda name: subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-error-summary",
            "--cache-dir",
            cache,
            str(HERE / name),
        ],
        env=env,
        capture_output=True,
        text=True,
        timeout=300,
    )


def test_usage_is_accepted_and_runs(mypy):
    done = mypy("usage.py")
    assert (done.returncode, done.stdout) == (0, ""), done.stdout
    runpy.run_path(str(HERE / "usage.py"))


def test_misuse_is_rejected_line_by_line(mypy):
    done = mypy("misuse.py")
    flagged = set(re.findall(r"misuse\.py:(\d+): error", done.stdout))
    lines = (HERE / "misuse.py").read_text().splitlines()
    marked = {str(n) for n, line in enumerate(lines, 1) if "# error" in line}
    assert (done.returncode, flagged) == (1, marked), done.stdout
