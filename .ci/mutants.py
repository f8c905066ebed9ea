"""Mutation check: does the test suite catch real faults?

Each mutant below is one fault, planted as an exact text replacement into
a fresh copy of the checkout (never into the checkout itself).  The copy is
built and installed into the running environment, and the whole suite runs
against it; the mutant is killed when a test fails, crashes or hangs.  A
mutant whose text is not found exactly once stops the check before any
build: after a change to the code it must be updated, not skipped.

    python .ci/mutants.py               every mutant (what `nox -s mutation`
                                        runs); exit status 1 if one survives
    python .ci/mutants.py 3 odometer    only those: numbers as --list
                                        gives them, or parts of names
    python .ci/mutants.py --list        every mutant: what it breaks

The environment needs meson-python, meson, ninja, NumPy and the test extra
(builds run without isolation); ccache, when installed, keeps the units a
mutant does not touch from being compiled again.  The unmutated tree is
built and tested first, once per build configuration: any failure there
stops the check.  Hypothesis runs derandomized and without shrinking, so
that a run is repeatable and a failure is found fast.

Loaded by pytest as a plugin (-p mutants), the same file records each
test's start and failure in $MUTANTS_RECORD and deselects the tests listed
in $MUTANTS_SKIP, so that a crash or a hang names its test and the run can
go on past it.
"""

import argparse
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

ROOT = pathlib.Path(__file__).resolve().parent.parent

# A test that runs longer than this under a mutant counts as hung.
TEST_TIMEOUT = 300
# Runs after a crash or a hang, each going on from the test after it.
RESTARTS = 4


@dataclass
class Mutant:
    name: str  # what it breaks
    path: str  # the file, from the checkout's root
    old: str  # text found exactly once in it
    new: str  # what replaces it
    simd_max: str | None = None  # a build capped at this width, or all


MUTANTS = [
    Mutant(
        "contiguous block loop runs one element past the run",
        "src/kernels/replace_walk.h",
        "for (; n >= kBlock; n -= kBlock, p += 4 * kVec) {",
        "for (; n + 1 >= kBlock; n -= kBlock, p += 4 * kVec) {",
    ),
    Mutant(
        "contiguous tail leaves its last element",
        "src/kernels/replace_walk.h",
        "replace_few<T>(p, n, (npy_intp)sizeof(T), match);",
        "replace_few<T>(p, n - 1, (npy_intp)sizeof(T), match);",
        simd_max="baseline",
    ),
    Mutant(
        "AVX-512 tail mask takes one lane past the run",
        "src/kernels/simd_avx512.h",
        "return ((uint64_t)1 << n) - 1;",
        "return ((uint64_t)2 << n) - 1;",
    ),
    Mutant(
        "strided span skips the element after its last vector",
        "src/kernels/replace_walk.h",
        "const npy_intp done = ((q - p) / (npy_intp)sizeof(T) + k - 1) / k;",
        "const npy_intp done = ((q - p) / (npy_intp)sizeof(T) + k) / k;",
    ),
    Mutant(
        "reversed axis starts one element too low",
        "src/iter/elem_iter.cpp",
        "data -= (uintptr_t)(shape[d] - 1) * back;",
        "data -= (uintptr_t)shape[d] * back;",
        simd_max="baseline",
    ),
    Mutant(
        "odometer rewinds one step too far",
        "src/iter/elem_iter.h",
        "it->run_ptr -= (it->outer_shape[c] - 1) * it->outer_stride[c];",
        "it->run_ptr -= it->outer_shape[c] * it->outer_stride[c];",
        simd_max="baseline",
    ),
    Mutant(
        "NaN class ignores the lowest fraction bit",
        "src/kernels/plan.cpp",
        "not_mask = f.fraction;",
        "not_mask = f.fraction & ~(uint64_t)1;",
        simd_max="baseline",
    ),
    Mutant(
        "float32 old and new rounded toward zero",
        "src/kernels/plan.cpp",
        "const float f = (float)v;",
        "float f = (float)v;\n"
        "        if (__builtin_fabs((double)f) > __builtin_fabs(v)) {\n"
        "            uint32_t u;\n"
        "            memcpy(&u, &f, 4);\n"
        "            u--;\n"
        "            memcpy(&f, &u, 4);\n"
        "        }",
        simd_max="baseline",
    ),
    Mutant(
        "float16 ties rounded away from zero",
        "src/kernels/plan.cpp",
        "if (rest > halfway || (rest == halfway && (kept & 1))) {",
        "if (rest >= halfway) {",
        simd_max="baseline",
    ),
    Mutant(
        "signed range takes 2**(w-1)",
        "src/scalar/scalar.cpp",
        ": s->magnitude < limit)",
        ": s->magnitude <= limit)",
        simd_max="baseline",
    ),
    Mutant(
        "byte order not read again after the scalars' conversion",
        "src/module/replace_entry.cpp",
        "return PyArray_DESCR(a)->byteorder != NPY_OPPBYTE;",
        "return true;",
        simd_max="baseline",
    ),
    Mutant(
        "empty read-only arrays accepted",
        "src/kernels/replace.cpp",
        "if (PyArray_ISWRITEABLE(a)) {",
        "if (PyArray_ISWRITEABLE(a) || PyArray_SIZE(a) == 0) {",
        simd_max="baseline",
    ),
    Mutant(
        "AVX2 stores a whole word where one byte lane matches",
        "src/kernels/simd_avx2.h",
        "const W whole = (W)m == -1;",
        "const W whole = (W)m != 0;",
    ),
    Mutant(
        "strided vectors test the lanes of the wrong phase",
        "src/kernels/replace_walk.h",
        "const npy_intp start = (k - j * S::kLanes % k) % k;",
        "const npy_intp start = j * S::kLanes % k;",
    ),
    Mutant(
        "elements that may share bytes taken for distinct",
        "src/iter/elem_iter.cpp",
        "overlap |= stride < bytes;",
        "overlap |= stride < itemsize;",
        simd_max="baseline",
    ),
    Mutant(
        "elements that share bytes written in memory order, not C order",
        "src/iter/elem_iter.cpp",
        "for (int d = ndim - 1; d >= 0; d--) {",
        "for (int d = 0; d < ndim; d++) {",
        simd_max="baseline",
    ),
    Mutant(
        "elements that share bytes: a match whose new is its own value "
        "left unwritten",
        "src/kernels/overlap.cpp",
        "if (memcmp(r, f, (size_t)size) != 0) {",
        "if (memcmp(r, p, (size_t)size) != 0) {",
        simd_max="baseline",
    ),
    Mutant(
        "replace_many: conflicts among many olds unreported",
        "src/kernels/plan_many.cpp",
        "if (known == new_bits) {",
        "if (known == new_bits || p->lookup != NULL) {",
        simd_max="baseline",
    ),
    Mutant(
        "replace_many: vectors never compare the last of a few olds",
        "src/kernels/matches.h",
        "for (int k = 1; k < N; k++) {",
        "for (int k = 1; k < N - 1; k++) {",
    ),
    Mutant(
        "replace_many: five olds walked as four",
        "src/kernels/replace_walk.h",
        "else if (few->count <= 4)",
        "else if (few->count <= 5)",
        simd_max="baseline",
    ),
    Mutant(
        "replace_many: every new taken for the first",
        "src/kernels/replace_many.cpp",
        "few->same_new &= plan->new_bits[i] == plan->new_bits[0];",
        "few->same_new &= true;",
        simd_max="baseline",
    ),
    Mutant(
        "replace_many: lookup walk leaves a run's last element",
        "src/kernels/many_lookup.cpp",
        "for (npy_intp n = it->inner_len; n > 0;) {",
        "for (npy_intp n = it->inner_len; n > 1;) {",
        simd_max="baseline",
    ),
    Mutant(
        "replace_many: hash probes only the home slot of a value",
        "src/kernels/many_lookup.h",
        "for (int j = 0; j < kProbes; j++) {",
        "for (int j = 0; j < 1; j++) {",
        simd_max="baseline",
    ),
    Mutant(
        "replace_many: the prefilter's first range leaves its last old",
        "src/kernels/plan_many.cpp",
        "plan->span[0] = v[split] - v[0];",
        "plan->span[0] = v[split] - v[0] - (split > 0);",
    ),
    Mutant(
        "replace_many: the dense table leaves its last value",
        "src/kernels/many_lookup.h",
        "if (i > d->span) {",
        "if (i >= d->span) {",
    ),
    Mutant(
        "replace_parallel returns on an error before its pieces end",
        "src/fennick/parallel.py",
        "wait(futures)  # no piece runs on after the call",
        "pass  # no piece runs on after the call",
        simd_max="baseline",
    ),
    Mutant(
        "copying walk blends the source where the match says new",
        "src/kernels/copy_walk.h",
        "const typename S::V r = S::blend(m, v, x);",
        "const typename S::V r = S::blend(m, x, v);",
    ),
    Mutant(
        "pair iterator merges axes that lie apart in the source",
        "src/iter/pair_iter.cpp",
        "&& lies_outside(ax[i].src, ax[kept].len, ax[kept].src)) {",
        ") {",
        simd_max="baseline",
    ),
    Mutant(
        "dates: a cast to the array's unit that loses information accepted",
        "src/fennick/slow.py",
        "if back.view(np.int64) != value.view(np.int64):",
        "if False:",
        simd_max="baseline",
    ),
    Mutant(
        "dates: elements compared by NumPy's equality (NaT matches none)",
        "src/fennick/slow.py",
        "return arr.view(ticks) == element.view(ticks)",
        "return arr == element",
        simd_max="baseline",
    ),
]


# ------------------------------------------------- the pytest plugin side


def _record(line):
    with open(os.environ["MUTANTS_RECORD"], "a") as out:
        out.write(line + "\n")


def pytest_configure(config):
    if "MUTANTS_RECORD" not in os.environ:
        return
    from hypothesis import Phase, settings

    settings.register_profile(
        "mutants",
        derandomize=True,
        database=None,
        phases=[Phase.explicit, Phase.generate],
        print_blob=False,
    )
    settings.load_profile("mutants")


def pytest_collection_modifyitems(config, items):
    path = os.environ.get("MUTANTS_SKIP")
    if not path:
        return
    skip = set(pathlib.Path(path).read_text().splitlines())
    keep = [item for item in items if item.nodeid not in skip]
    config.hook.pytest_deselected(
        items=[item for item in items if item.nodeid in skip]
    )
    items[:] = keep


def pytest_collectreport(report):
    if "MUTANTS_RECORD" in os.environ and report.failed:
        _record(f"fail\t{report.nodeid or '(collection)'}")


def pytest_runtest_logstart(nodeid, location):
    if "MUTANTS_RECORD" in os.environ:
        _record(f"start\t{nodeid}")


def pytest_runtest_logreport(report):
    if "MUTANTS_RECORD" in os.environ and report.failed:
        _record(f"fail\t{report.nodeid}")


def pytest_runtest_logfinish(nodeid, location):
    if "MUTANTS_RECORD" in os.environ:
        _record(f"end\t{nodeid}")


# ------------------------------------------------------- the check itself


def check_applies(mutants):
    """Stops unless each mutant's text is in its file exactly once."""
    wrong = []
    for m in mutants:
        count = (ROOT / m.path).read_text().count(m.old)
        if count != 1:
            wrong.append(f"  {m.name}: found {count} times in {m.path}")
    if wrong:
        sys.exit(
            "mutants: these no longer apply (update them):\n"
            + "\n".join(wrong)
        )


def snapshot(work):
    """A copy of the checkout's files as they are now, at work/checkout:
    what every mutant starts from, whatever happens to the checkout
    meanwhile."""
    try:
        out = subprocess.run(
            ["git", "ls-files", "-z", "--cached", "--others"]
            + ["--exclude-standard"],
            cwd=ROOT,
            capture_output=True,
            check=True,
        ).stdout
    except (OSError, subprocess.CalledProcessError):
        sys.exit("mutants: needs a git checkout to copy")
    source = work / "checkout"
    for name in sorted({n for n in out.decode().split("\0") if n}):
        if (ROOT / name).is_file():
            (source / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(ROOT / name, source / name)
    return source


def fresh_tree(work, source, mutant):
    """A copy of `source` at work/tree, with `mutant` planted."""
    tree = work / "tree"
    shutil.rmtree(tree, ignore_errors=True)
    shutil.copytree(source, tree)
    if mutant is not None:
        path = tree / mutant.path
        text = path.read_text()
        if text.count(mutant.old) != 1:
            sys.exit(f"mutants: {mutant.name} no longer applies")
        path.write_text(text.replace(mutant.old, mutant.new))
    return tree


def build(work, tree, simd_max, log):
    """Builds `tree` and installs it here.  Returns whether it built."""
    build_dir = work / "build"
    shutil.rmtree(build_dir, ignore_errors=True)
    command = [
        sys.executable,
        "-m",
        "pip",
        "install",
        "--no-build-isolation",
        "--no-deps",
        "--force-reinstall",
        f"-Cbuild-dir={build_dir}",
    ]
    if simd_max is not None:
        command.append(f"-Csetup-args=-Dsimd_max={simd_max}")
    env = {
        **os.environ,
        "PIP_DISABLE_PIP_VERSION_CHECK": "1",
        "CCACHE_DIR": os.environ.get(
            "CCACHE_DIR", str(ROOT / ".nox" / "ccache")
        ),
        "CCACHE_BASEDIR": str(work),
        "CCACHE_NOHASHDIR": "1",
    }
    with open(log, "w") as out:
        done = subprocess.run(
            command + [str(tree)],
            stdout=out,
            stderr=subprocess.STDOUT,
            env=env,
        )
    return done.returncode == 0


def read_record(path):
    """(tests that failed, tests finished, the test left running)."""
    failed, finished, running = [], [], None
    if path.exists():
        for line in path.read_text().splitlines():
            kind, _, nodeid = line.partition("\t")
            if kind == "fail" and nodeid not in failed:
                failed.append(nodeid)
            elif kind == "start":
                running = nodeid
            elif kind == "end":
                finished.append(nodeid)
                running = None
    return failed, finished, running


def run_suite_once(tree, record, skip, log):
    """One pytest run, stopped when a test hangs.  Returns (exit status or
    None when stopped, the test left running or None)."""
    env = {
        **os.environ,
        "PYTHONPATH": os.pathsep.join(
            [str(tree / ".ci"), os.environ.get("PYTHONPATH", "")]
        ),
        "MUTANTS_RECORD": str(record),
        "MUTANTS_SKIP": str(skip),
    }
    command = [
        sys.executable,
        "-m",
        "pytest",
        "-q",
        "-p",
        "no:randomly",
        "-p",
        "no:cacheprovider",
        "-p",
        "ci_pytest_plugin",
        "-p",
        "mutants",
    ]
    with open(log, "a") as out:
        proc = subprocess.Popen(
            command,
            cwd=tree,
            env=env,
            stdout=out,
            stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        seen, since = None, time.monotonic()
        while True:
            try:
                return proc.wait(timeout=2), None
            except subprocess.TimeoutExpired:
                pass
            _, _, running = read_record(record)
            if running != seen:
                seen, since = running, time.monotonic()
            elif running is not None and (
                time.monotonic() - since > TEST_TIMEOUT
            ):
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
                return None, running


def run_suite(work, log):
    """The whole suite against what is installed, going on past crashes
    and hangs.  Returns (failing tests, tests that crashed or hung, whether
    the run went wrong in another way)."""
    record, skip = work / "record.txt", work / "skip.txt"
    record.unlink(missing_ok=True)
    skip.write_text("")
    died = []
    for _ in range(RESTARTS + 1):
        status, hung = run_suite_once(work / "tree", record, skip, log)
        failed, finished, running = read_record(record)
        stopped = hung or running
        if stopped is None and status is not None and status < 0:
            stopped = "(a crash outside any test)"
        if stopped is None:
            broken = status not in (0, 1) or (status == 1 and not failed)
            return failed, died, broken
        died.append(stopped)
        skip.write_text("\n".join(finished + died) + "\n")
    return failed, died, False


def killers_by_test(nodeids):
    """Failing test ids grouped by test function, with their counts."""
    counts = {}
    for nodeid in nodeids:
        name = nodeid.split("[", 1)[0]
        counts[name] = counts.get(name, 0) + 1
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument(
        "names", nargs="*", help="numbers or parts of names (all)"
    )
    parser.add_argument("--list", action="store_true")
    parser.add_argument(
        "--json", type=pathlib.Path, help="write the results here"
    )
    args = parser.parse_args()
    chosen = set()
    for name in args.names:
        found = [
            i
            for i, m in enumerate(MUTANTS, 1)
            if name == str(i) or (not name.isdigit() and name in m.name)
        ]
        if not found:
            sys.exit(f"mutants: none is {name!r}")
        chosen.update(found)
    numbered = [
        (i, m) for i, m in enumerate(MUTANTS, 1) if i in chosen or not chosen
    ]
    mutants = [m for _, m in numbered]
    if args.list:
        for i, m in enumerate(MUTANTS, 1):
            where = f"{m.path}, {m.simd_max or 'every width'}"
            print(f"{i:2d} {m.name} ({where})")
        return 0
    check_applies(mutants)
    if shutil.which("ccache") is None:
        print("mutants: no ccache; every build compiles every unit")
    work = pathlib.Path(tempfile.mkdtemp(prefix="fennick-mutants-"))
    logs = ROOT / ".nox" / "mutants"
    shutil.rmtree(logs, ignore_errors=True)
    logs.mkdir(parents=True)
    print(f"mutants: {len(mutants)}; logs in {logs}", flush=True)
    results = []
    try:
        source = snapshot(work)
        # The unmutated tree must build and pass in every configuration.
        for simd_max in dict.fromkeys(m.simd_max for m in mutants):
            label = f"unmutated, {simd_max or 'every width'}"
            log = logs / f"unmutated-{simd_max or 'all'}.log"
            start = time.monotonic()
            tree = fresh_tree(work, source, None)
            if not build(work, tree, simd_max, log):
                sys.exit(f"mutants: {label} does not build; see {log}")
            failed, died, broken = run_suite(work, log)
            if failed or died or broken:
                sys.exit(f"mutants: {label} fails its tests; see {log}")
            took = time.monotonic() - start
            print(f"  {label}: passes ({took:.0f} s)", flush=True)
        for i, m in numbered:
            log = logs / f"{i:02d}.log"
            start = time.monotonic()
            tree = fresh_tree(work, source, m)
            if not build(work, tree, m.simd_max, log):
                result = {"status": "does not build", "killers": {}}
            else:
                failed, died, broken = run_suite(work, log)
                killers = killers_by_test(failed + died)
                status = "killed" if killers else "survived"
                if broken and not killers:
                    status = "run failed"
                result = {"status": status, "killers": killers, "died": died}
            result |= {
                "number": i,
                "name": m.name,
                "seconds": time.monotonic() - start,
            }
            results.append(result)
            print(
                f"  {i:2d} {m.name}: {result['status']} "
                f"({result['seconds']:.0f} s, "
                f"{len(result['killers'])} tests)",
                flush=True,
            )
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if args.json:
        args.json.write_text(json.dumps(results, indent=1))
    return report(results)


def short(nodeid):
    """A test's id without its directory."""
    return nodeid.rsplit("/", 1)[-1]


def report(results):
    """Prints the table and the tests that alone kill a mutant; returns
    the exit status."""
    print("\n| mutant | result | killed by (failing cases) |")
    print("|---|---|---|")
    for r in results:
        tests = sorted(r["killers"].items(), key=lambda t: (-t[1], t[0]))
        named = [f"`{short(t)}` ({n})" for t, n in tests[:3]]
        if len(tests) > 3:
            named.append(f"{len(tests) - 3} more")
        print(f"| {r['name']} | {r['status']} | {', '.join(named) or '-'} |")
    unique = {}
    for r in results:
        if len(r["killers"]) == 1:
            (test,) = r["killers"]
            unique.setdefault(test, []).append(r["name"])
    print("\nTests that alone kill a mutant:")
    for test, names in sorted(unique.items()):
        print(f"  {short(test)}: {'; '.join(names)}")
    if not unique:
        print("  none")
    killed = sum(r["status"] == "killed" for r in results)
    print(f"\n{killed} of {len(results)} mutants killed")
    return 0 if killed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
