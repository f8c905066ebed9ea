"""Mutation check: does the test suite catch real faults?

Plants each fault of .ci/mutants.toml, one at a time, into a fresh copy of
the checkout (never into the checkout itself), builds the copy (capped at
the mutant's simd_max), installs it into the running environment and runs
the suite on it, stopping at the first failure: the mutant is killed when
the suite fails, crashes or hangs.  A mutant whose text is not found
exactly once stops the check before any build: after a change to the code
it must be updated, not skipped.  The unmutated copy is built and tested
first, once per build configuration; a failure there stops the check.

    python .ci/mutants.py               every mutant (nox -s mutation);
                                        exit status 1 unless all are killed
    python .ci/mutants.py 3 odometer    only those: numbers as --list gives
                                        them, or parts of names
    python .ci/mutants.py --list        every mutant: what it breaks

Needs Python 3.11 or newer and meson-python, meson, ninja, NumPy and the
test extra in the environment (builds run without isolation); meson uses
ccache when it is installed.  Logs go to .nox/mutants/.
"""

import argparse
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

import tomllib

ROOT = pathlib.Path(__file__).resolve().parent.parent
MUTANTS = tomllib.loads((ROOT / ".ci/mutants.toml").read_text())["mutant"]
# Seconds after which a run of the suite counts as hung: many times what
# the unmutated suite takes, even on a busy machine.
HANG = 20 * 60
# Hypothesis derandomized and without shrinking (the profile is in the
# tests' conftest): a run is repeatable and a failure ends it fast.
PYTEST = ["-m", "pytest", "-x", "-q", "-p", "no:cacheprovider"]
PYTEST += ["--hypothesis-profile=mutants"]


def run(command, log, **options):
    """The exit status of `command`, its output appended to `log`."""
    with open(log, "a") as out:
        done = subprocess.run(
            command, stdout=out, stderr=subprocess.STDOUT, **options
        )
    return done.returncode


def snapshot(work):
    """The checkout's files as they are now (tracked, or untracked and not
    ignored), copied to work/checkout: what every mutant's tree starts
    from, whatever happens to the checkout meanwhile."""
    names = subprocess.run(
        [
            "git",
            "ls-files",
            "-z",
            "--cached",
            "--others",
            "--exclude-standard",
        ],
        cwd=ROOT,
        capture_output=True,
        check=True,
    ).stdout.decode()
    source = work / "checkout"
    for name in filter(None, names.split("\0")):
        if (ROOT / name).is_file():  # not deleted since it was tracked
            (source / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(ROOT / name, source / name)
    return source


def build(work, source, mutant, simd_max, log):
    """Copies `source` to work/tree, plants `mutant` (if any), builds the
    copy capped at `simd_max` (if any) and installs it here.  Returns the
    tree, or None if it does not build."""
    tree = work / "tree"
    shutil.rmtree(tree, ignore_errors=True)
    shutil.copytree(source, tree)
    if mutant is not None:
        path = tree / mutant["path"]
        path.write_text(path.read_text().replace(mutant["old"], mutant["new"]))
    pip = [sys.executable, "-m", "pip", "install", "--no-build-isolation"]
    pip += ["--no-deps", "--force-reinstall", f"-Cbuild-dir={tree}/build"]
    if simd_max is not None:
        pip.append(f"-Csetup-args=-Dsimd_max={simd_max}")
    return tree if run([*pip, str(tree)], log) == 0 else None


def failure(tree, log):
    """How the suite in `tree` fails on what is installed, or None if it
    passes."""
    try:
        status = run([sys.executable, *PYTEST], log, cwd=tree, timeout=HANG)
    except subprocess.TimeoutExpired:
        return "the suite hung"
    if status < 0:
        return f"the suite crashed (signal {-status})"
    if status != 0:
        lines = log.read_text().splitlines()
        failed = [s for s in lines if s.startswith(("FAILED ", "ERROR "))]
        return (failed or [f"pytest's status {status}"])[0].split(" - ")[0]
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument(
        "names", nargs="*", help="numbers or parts of names (all)"
    )
    parser.add_argument("--list", action="store_true", help="list them")
    args = parser.parse_args()
    numbered = list(enumerate(MUTANTS, 1))
    if args.list:
        for i, m in numbered:
            where = f"{m['path']}, {m.get('simd_max', 'every width')}"
            print(f"{i:2d} {m['name']} ({where})")
        return 0

    def picked(name, i, m):
        return name == str(i) or (not name.isdigit() and name in m["name"])

    for name in args.names:
        if not any(picked(name, i, m) for i, m in numbered):
            sys.exit(f"mutants: none is {name!r}")
    chosen = [
        (i, m)
        for i, m in numbered
        if not args.names or any(picked(n, i, m) for n in args.names)
    ]
    logs = ROOT / ".nox" / "mutants"
    shutil.rmtree(logs, ignore_errors=True)
    logs.mkdir(parents=True)
    work = pathlib.Path(tempfile.mkdtemp(prefix="fennick-mutants-"))
    try:
        source = snapshot(work)
        wrong = [
            f"  {i} {m['name']}: found {count} times in {m['path']}"
            for i, m in chosen
            if (count := (source / m["path"]).read_text().count(m["old"])) != 1
        ]
        if wrong:
            sys.exit(
                "mutants: these no longer apply (update them):\n"
                + "\n".join(wrong)
            )
        print(f"mutants: {len(chosen)}; logs in {logs}", flush=True)
        for simd_max in dict.fromkeys(m.get("simd_max") for _, m in chosen):
            label = f"unmutated, {simd_max or 'every width'}"
            log = logs / f"unmutated-{simd_max or 'all'}.log"
            start = time.monotonic()
            tree = build(work, source, None, simd_max, log)
            if tree is None or failure(tree, log) is not None:
                sys.exit(f"mutants: {label} fails; see {log}")
            took = time.monotonic() - start
            print(f"  {label}: passes ({took:.0f} s)", flush=True)
        survivors = []
        for i, m in chosen:
            log = logs / f"{i:02d}.log"
            start = time.monotonic()
            tree = build(work, source, m, m.get("simd_max"), log)
            if tree is None:
                verdict = "does not build"
            else:
                why = failure(tree, log)
                verdict = f"killed: {why}" if why else "survived"
            if not verdict.startswith("killed"):
                survivors.append(i)
            took = time.monotonic() - start
            print(
                f"  {i:2d} {m['name']}: {verdict} ({took:.0f} s)", flush=True
            )
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(chosen) - len(survivors)} of {len(chosen)} mutants killed")
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
