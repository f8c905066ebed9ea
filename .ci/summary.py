"""The end of .ci/run: one line per nox session (outcome, seconds, test
counts), then "CI passed" or "CI failed" and the total "N passed, M failed".
Exits 1 if nox failed (STATUS is not 0), a session failed, none ran or no
test passed.

    python .ci/summary.py WORK STATUS

reads nox's --report files WORK/*.json and the counts that the pytest
plugin left in WORK/results/<session>.txt.
"""

import json
import pathlib
import re
import sys

work = pathlib.Path(sys.argv[1])
sessions = [
    session
    for report in sorted(work.glob("*.json"))
    for session in json.loads(report.read_text())["sessions"]
]
passed = failed = 0
ok = bool(sessions) and sys.argv[2] == "0"
for session in sessions:
    name = (session["signatures"] or [session["name"]])[0]
    line = f"{name:42} {session['result']:8} {session['duration']:4.0f} s"
    counts = work / "results" / (re.sub(r"[^\w.-]+", "_", name) + ".txt")
    if counts.exists():
        p, f, s, e, python, numpy = counts.read_text().split()
        line += f" {p:>5} passed, {f} failed, {s} skipped, {e} errors"
        line += f" (python {python}, numpy {numpy})"
        passed, failed = passed + int(p), failed + int(f) + int(e)
    elif session["result"] == "skipped":
        line += f" {session['reason']}"
    print(line)
    ok = ok and session["result"] in ("success", "skipped")
ok = ok and passed > 0
print("CI passed" if ok else "CI failed")
print(f"{passed} passed, {failed} failed")
sys.exit(0 if ok else 1)
