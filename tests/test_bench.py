"""The benchmarks run end to end on a tiny set of cases.

Speed is never asserted here: only that every competitor is checked and
timed, and that the table, headline ratios and JSON come out.
"""

import importlib.util
import io
import json

from fennick import bench, bench_parallel


def test_tiny_run_checks_times_and_reports(tmp_path, capsys):
    out = tmp_path / "bench.json"
    assert (
        bench.main(
            [
                "--sizes",
                "40",
                "--dtypes",
                "float32,>i2",
                "--layouts",
                "1-d|x[::-1]",
                "--repeat",
                "1",
                "--sample-ms",
                "0.2",
                "--json",
                str(out),
            ]
        )
        == 0
    )
    printed = capsys.readouterr().out
    assert "vector width: " in printed and "Goals" in printed

    data = json.loads(out.read_text())
    assert data["machine"]["width"] in data["machine"]["widths"]
    cases = {(r["dtype"], r["layout"], r["match"]) for r in data["results"]}
    assert len(cases) == 2 * 2 * 2  # 1% and 50% of each
    for r in data["results"]:
        assert {"fennick", "putmask", "max"} <= set(r["times_ns"])
        assert all(t > 0 for t in r["times_ns"].values())


def test_default_plan_reaches_every_goal():
    # Every goal has cases in the default run (nothing timed here).
    cases = [
        dict(zip(("dtype", "layout", "size", "match"), c, strict=True))
        for c in bench.plan(bench.parse_args([]))
    ]
    for desc, _, _, keep in bench.GOALS:
        assert any(keep(c) for c in cases), desc


def test_parallel_tiny_run_checks_and_times_every_competitor():
    out = io.StringIO()
    rows = bench_parallel.run(size=5000, rounds=1, workers=[1, 2], out=out)
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
