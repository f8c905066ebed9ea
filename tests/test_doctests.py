"""The examples in replace's docstring run and show what they claim."""

import doctest

import numpy as np

import fennick


def test_replace_examples_pass():
    test = doctest.DocTestParser().get_doctest(
        fennick.replace.__doc__, {}, "fennick.replace", None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    with np.printoptions(legacy=False):  # legacy printing changes the output
        result = runner.run(test, out=report.append, clear_globs=True)
    assert (result.failed, result.attempted) == (0, len(test.examples)), \
        "".join(report)
    # The examples call replace and show its results.
    assert sum("fennick.replace(" in ex.source for ex in test.examples) >= 2
    shown = {ex.want.strip() for ex in test.examples}
    assert {"array([1, 2, 3])", "array([1., 2., 0.])"} <= shown
