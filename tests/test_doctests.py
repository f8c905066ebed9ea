"""The examples in the public functions' docstrings run and show what they
claim."""

import doctest

import numpy as np
import pytest

import fennick


def run_examples(func):
    """Runs the examples of `func`'s docstring; returns them."""
    test = doctest.DocTestParser().get_doctest(
        func.__doc__, {}, f"{func.__module__}.{func.__name__}", None, 0
    )
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    with np.printoptions(legacy=False):  # legacy printing changes the output
        result = runner.run(test, out=report.append, clear_globs=True)
    assert (result.failed, result.attempted) == (0, len(test.examples)), (
        "".join(report)
    )
    return test.examples


def test_replace_examples_pass():
    examples = run_examples(fennick.replace)
    # The examples call replace and show its results.
    assert sum("fennick.replace(" in ex.source for ex in examples) >= 2
    shown = {ex.want.strip() for ex in examples}
    assert {"array([1, 2, 3])", "array([1., 2., 0.])"} <= shown


@pytest.mark.parametrize(
    "func",
    [
        fennick.replace_parallel,
        fennick.replace_many,
        fennick.replace_many_parallel,
        fennick.replaced,
        fennick.replaced_many,
    ],
)
def test_examples_call_their_function(func):
    examples = run_examples(func)
    assert (
        sum(f"fennick.{func.__name__}(" in ex.source for ex in examples) >= 2
    )


@pytest.mark.parametrize("name", ["replace", "replace_many"])
def test_dask_examples_pass(name):
    pytest.importorskip("dask.array")
    import fennick.dask

    func = getattr(fennick.dask, name)
    assert any(
        f"fennick.dask.{name}(" in ex.source for ex in run_examples(func)
    )


@pytest.mark.parametrize("module", ["pandas", "xarray"])
@pytest.mark.parametrize("name", ["replace", "replace_many"])
def test_pandas_and_xarray_examples_pass(module, name):
    pytest.importorskip(module)
    import importlib

    func = getattr(importlib.import_module(f"fennick.{module}"), name)
    assert any(
        f"fennick.{module}.{name}(" in ex.source for ex in run_examples(func)
    )
