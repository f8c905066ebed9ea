"""pytest plugin loaded by .ci/run (with -p ci_pytest_plugin, .ci on
PYTHONPATH) around every run of the suite.

It makes two promises that pytest alone does not:
  - the suite ran against fennick as installed in the running environment
    (site-packages), never against the source tree; otherwise the session
    stops with a usage error before any test runs;
  - a session in which no test passed fails, even when every test was
    skipped (pytest itself returns 5 only when nothing was collected).

When FENNICK_CI_RESULT names a file, one line is written there at the end:
    PASSED FAILED SKIPPED ERRORS PYTHON NUMPY
which .ci/run turns into its summary.
"""

import os
import platform
import sys

import pytest


def _inside(path, prefix):
    path = os.path.realpath(path)
    prefix = os.path.realpath(prefix)
    return os.path.commonpath([path, prefix]) == prefix


def pytest_sessionstart(session):
    # The tests' conftest has been imported by now, so fennick is in
    # sys.modules if the suite could import it at all.
    import fennick
    import fennick.dozudiror

    for module in (fennick, fennick.dozudiror):
        if not _inside(module.__file__, sys.prefix):
            raise pytest.UsageError(
                f"{module.__name__} was imported from {module.__file__}, "
                f"not from the environment at {sys.prefix}"
            )


def pytest_sessionfinish(session, exitstatus):
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    stats = reporter.stats if reporter is not None else {}
    passed = len(stats.get("passed", []))
    failed = len(stats.get("failed", []))
    skipped = len(stats.get("skipped", []))
    errors = len(stats.get("error", []))
    if exitstatus == 0 and passed == 0:
        session.exitstatus = pytest.ExitCode.NO_TESTS_COLLECTED
    target = os.environ.get("FENNICK_CI_RESULT")
    if target:
        try:
            import numpy

            numpy_version = numpy.__version__
        except ImportError:
            numpy_version = "none"
        with open(target, "w") as out:
            out.write(
                f"{passed} {failed} {skipped} {errors} "
                f"{platform.python_version()} {numpy_version}\n"
            )
