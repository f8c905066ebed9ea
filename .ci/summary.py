"""The end of .ci/run: one line per nox session (outcome, seconds, test
counts with the Python and NumPy they ran on), then "CI passed" or "CI
failed" and the total "N passed, M failed".  Exits 1 if nox failed (STATUS
is not 0), a session failed, none ran or no test passed.

    python .ci/summary.py WORK STATUS

reads nox's --report files WORK/*.json and the sessions' pytest --junitxml
reports WORK/results/<session>.xml.
"""

import json
import pathlib
import re
import sys
from xml.etree import ElementTree

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
    xml = work / "results" / (re.sub(r"[^\w.-]+", "_", name) + ".xml")
    if xml.exists():
        suite = ElementTree.parse(xml).find("testsuite")
        ran = {x.get("name"): x.get("value") for x in suite.iter("property")}
        f, e, s = (
            int(suite.get(k)) for k in ("failures", "errors", "skipped")
        )
        p = int(suite.get("tests")) - f - e - s
        line += f" {p:>5} passed, {f} failed, {s} skipped, {e} errors"
        line += f" (python {ran.get('python')}, numpy {ran.get('numpy')})"
        passed, failed = passed + p, failed + f + e
    elif session["result"] == "skipped":
        line += f" {session['reason']}"
    print(line)
    ok = ok and session["result"] in ("success", "skipped")
ok = ok and passed > 0
print("CI passed" if ok else "CI failed")
print(f"{passed} passed, {failed} failed")
sys.exit(0 if ok else 1)
