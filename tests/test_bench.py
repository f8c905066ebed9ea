"""The benchmarks run end to end on a tiny set of cases.

Speed is never asserted here: only that every competitor is checked and
timed, that the patterns of matches are what they say, and that the table,
goals and JSON come out, and the goals' check of the JSON judges them.

The benchmark is no part of the installed package: it is imported from
benchmarks/ at the root of the checkout these tests belong to, against the
fennick installed.
"""

import importlib.util
import io
import json
import pathlib
import sys

import numpy as np
import pytest

from fennick import dozudiror

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from benchmarks import __main__ as cli  # noqa: E402
from benchmarks import cases, competitors, frames, goals, parallel, timing  # noqa: E402


def test_tiny_run_checks_times_and_reports(tmp_path, capsys):
    out = tmp_path / "bench.json"
    argv = ["--sizes", "40", "--dtypes", "float32,>i2", "--layouts"]
    argv += ["1-d|x[::-1]", "--patterns", "50%,every", "--widths"]
    argv += ["--calls", ",".join(cases.CALLS), "--repeat", "1"]
    argv += ["--sample-ms", "0.2", "--json", str(out)]
    plots = importlib.util.find_spec("matplotlib") is not None
    if plots:  # every figure: this run times a little of each
        argv += ["--plot", str(tmp_path / "fig.png")]
    assert cli.main(argv) == 0
    printed = capsys.readouterr().out
    assert "vector width: " in printed and "Goals" in printed
    if plots:
        figures = ("", "-widths", "-patterns", "-many")
        drawn = {p.name for p in tmp_path.glob("fig*.png")}
        assert drawn == {f"fig{name}.png" for name in figures}

    data = json.loads(out.read_text())
    assert data["machine"]["width"] in data["machine"]["widths"]
    ran = {
        (r["dtype"], r["layout"], r["match"], r["call"])
        for r in data["results"]
    }
    # the 16-bit table only on >i2, whose every element it matches, and
    # replaced only on float32, in native byte order
    assert len(ran) == 2 * 2 * 2 * (len(cases.CALLS) - 2) + 2 + 4
    numba = importlib.util.find_spec("numba") is not None
    pandas = importlib.util.find_spec("pandas") is not None
    for r in data["results"]:
        timed = {"fennick", "max"}
        if r["call"] == "replace":
            timed |= {"putmask", *dozudiror._widths}
            native = numba and r["dtype"] != ">i2"
            assert ("numba" in r["times_ns"]) == native
        else:  # every rival and width on these 1-d arrays, pandas where
            # installed
            timed |= set(competitors.MANY[cases.CALLS[r["call"]][1]])
            timed |= set(dozudiror._widths)
            timed -= set() if pandas else {"pandas"}
            if np.dtype(r["dtype"]).kind not in "iu":  # NumPy's int table
                timed -= {"isin table"}
        assert timed <= set(r["times_ns"]) and "best_idiom" in r
        assert all(t > 0 for t in r["times_ns"].values())


def test_bandwidth_beside_the_copy(monkeypatch, capsys):
    # the copy and the table of bandwidths, from 1e7 elements in a real run
    monkeypatch.setattr(competitors, "COPY_FROM", 40)
    argv = ["--sizes", "40", "--dtypes", "float64", "--layouts", "1-d"]
    argv += ["--patterns", "none,every", "--widths", "--repeat", "1"]
    assert cli.main([*argv, "--sample-ms", "0.2"]) == 0
    printed = capsys.readouterr().out
    table = printed.split("Bandwidth on 1-d arrays of 4e+01 elements")[1]
    heads = [*dozudiror._widths, "inplace", "readonly", "copy"]
    assert table.splitlines()[2].split() == ["dtype", "match", *heads]
    rows = [line.split() for line in table.splitlines()[3:5]]
    assert [r[:2] for r in rows] == [["float64", "none"], ["float64", "every"]]
    # GB/s to one decimal: 40 elements under emulation may print 0.0
    assert all(float(x) >= 0 for r in rows for x in r[2:])


@pytest.mark.parametrize("match", list(cases.MATCHES))
def test_patterns_cover_their_share(match):
    rng = np.random.default_rng(1)
    case = cases.Case("float64", "1-d", 10**6, match, "8 olds")
    a, forth, _, matches = cases.make_case(case, rng)
    hits = np.isin(a, forth.old) | np.isnan(a)  # any of the olds
    assert matches == np.count_nonzero(hits)
    assert matches / a.size == pytest.approx(cases.MATCHES[match][1], abs=0.02)
    if match.startswith("runs"):  # at least 64 long, but the cut last one
        edges = np.diff(hits, prepend=False, append=False).nonzero()[0]
        assert (edges[1::2] - edges[::2])[:-1].min() >= cases.RUN[0]


@pytest.mark.parametrize("call", cases.MANY)
def test_calls_find_every_match_again_after_their_way_back(call):
    match = "every" if call == "65536 table" else "50%"
    dtype = [
        d
        for d in cases.MANY_DTYPES[cases.CALLS[call][1]]
        if cases.serves(call, d, match)
    ][-1]
    case = cases.Case(dtype, "1-d", 10**4, match, call)
    a, forth, back, matches = cases.make_case(case, np.random.default_rng(1))
    assert matches / a.size == pytest.approx(cases.MATCHES[match][1], abs=0.02)
    there = timing.expected(a, forth.old, forth.new)
    again = timing.expected(there, back.old, back.new)
    assert np.count_nonzero(np.isin(again, forth.old)) == matches


def test_default_plan_reaches_every_goal():
    # Every goal has cases in the default run (nothing timed here).
    args = cli.parse_args([])
    planned = [c._asdict() for c in cases.plan(args) + frames.plan(args)]
    for goal in goals.GOALS:
        assert any(goal.keep(c) for c in planned), goal.desc
    many = cli.parse_args(["--many"])
    assert cases.plan(many) and not frames.plan(many)
    assert all(c.call in cases.MANY for c in cases.plan(many))
    # --frames alone times the pandas and xarray rows, and nothing else
    alone = cli.parse_args(["--frames"])
    assert not cases.plan(alone)
    assert len(frames.plan(alone)) == len(frames.ROWS)


def test_frames_tiny_run_checks_and_times_every_rival(tmp_path, capsys):
    pytest.importorskip("pandas")
    pytest.importorskip("xarray")
    out = tmp_path / "bench.json"
    argv = ["--frames", "--sizes", "40,1", "--repeat", "1"]
    assert cli.main([*argv, "--sample-ms", "0.2", "--json", str(out)]) == 0
    printed = capsys.readouterr().out
    assert printed.count(" best ") == 2 * len(frames.ROWS)
    data = json.loads(out.read_text())
    assert data["results"] == []
    rows = data["frames"]
    assert [(r["layout"], r["call"]) for r in rows] == [
        (layout, call) for layout, _, call, _, _ in frames.ROWS for _ in "ab"
    ]
    for r in rows:
        rivals = set(frames.COMPETITORS[r["call"]])
        assert set(r["times_ns"]) == rivals == set(r["samples"])
        assert all(t > 0 for t in r["times_ns"].values())
        assert r["best"] in rivals - {"fennick"} and r["best/fennick"] > 0
        assert r["elements"] == r["size"] * frames.WIDTH[r["layout"]]
    # the goals hold at the default's sizes: none has a case in this run
    judged, met = goals.check(data)
    assert met and all(worst is None for _, _, _, worst, *_ in judged)


def test_frames_check_catches_a_wrong_rival():
    pytest.importorskip("pandas")
    case = cases.Case("float64", "Series", 100, "50%", "pandas replace")
    obj, call, matches = frames.make_row(case, np.random.default_rng(1))
    assert matches == np.count_nonzero(obj.to_numpy() == frames.SENTINEL)
    timed = {"fennick": frames.COMPETITORS[case.call]["fennick"]}
    timed["wrong"] = "a.replace({old}, 0.0)"
    mode = timing.MODES["quick"]
    with pytest.raises(AssertionError, match="wrong gave a result unlike"):
        frames.time_row(obj, call, timed, mode, frames.namespace())


def test_frames_skip_a_library_with_one_line(monkeypatch):
    pytest.importorskip("pandas")
    found = dict(frames.imported(), xarray="xarray is not installed")
    monkeypatch.setattr(frames, "imported", lambda: found)
    args = cli.parse_args(["--frames", "--sizes", "10"])
    lines = []
    mode = dict(timing.MODES["quick"], repeat=1)
    rows = frames.run(frames.plan(args), mode, out=lines.append)
    assert [line.split(":")[0] for line in lines] == ["\nxarray rows skipped"]
    assert rows and all(r["call"].startswith("pandas") for r in rows)


def test_parallel_tiny_run_checks_and_times_every_competitor():
    out = io.StringIO()
    rows = parallel.run(size=5000, rounds=1, workers=[1, 2], out=out)
    names = [
        "replace",
        "replace_parallel workers=1",
        "replace_parallel workers=2",
    ]
    if importlib.util.find_spec("dask") is not None:
        names += ["fennick.dask.replace", "da.where(x == old, new, x)"]
    assert [r["name"] for r in rows] == names
    assert all(r["seconds"] > 0 and r["speed-up"] > 0 for r in rows)
    assert out.getvalue().count("\n") == 2 + len(names)


@pytest.mark.parametrize("ratio, met", [(9.0, True), (1.0, False)])
def test_goals_check_judges_a_runs_json(tmp_path, capsys, ratio, met):
    # one case of a single element, `ratio` times faster than the idioms:
    # "1 and 10 elements" wants 8, "every case" 1; no other goal has a case
    case = {"dtype": "float64", "layout": "1-d", "size": 1, "match": "1%"}
    case |= {"call": "replace", "times_ns": {"fennick": 100.0}}
    machine = {"cpu": "x", "width": "w", "widths": ["w"], "numpy": "2"}
    run = {"machine": machine, "results": [{**case, "idiom/fennick": ratio}]}
    rows, all_met = goals.check(json.loads(json.dumps(run)))
    verdicts = {r[0]: r[-1] for r in rows if r[3] is not None}
    assert verdicts == {
        "1 and 10 elements": met,
        "every case: pattern, dtype, layout": True,
    }
    assert all_met == met and len(rows) == len(goals.GOALS)

    out = tmp_path / "bench.json"
    out.write_text(json.dumps(run))
    assert goals.main([str(out)]) == (0 if met else 1)
    printed = capsys.readouterr().out
    assert ("MISS" in printed) != met and printed.count(" n/a ") >= 20
