"""The tool's pages in a real, headless browser without a network: each loads without an error,
shows the model, has a row per finding of the tool's JSON, and a click on a row changes the view.
Exits 77 (skipped) where chromium is missing."""

import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
import browser  # noqa: E402

TOOL = os.environ["NIMBO_SHAPE"]
SAMPLES = os.environ["NIMBO_SAMPLES"]
JOINT = os.path.join(SAMPLES, "bolted_joint.step")


def tool(*arguments):
    """The tool's JSON report; exit status 0 or 1 (findings) both answer."""
    run = subprocess.run([TOOL, *arguments, "--json"], capture_output=True, text=True)
    assert run.returncode in (0, 1), run.stderr
    return json.loads(run.stdout)


def check_page(chrome, page, table=None, rows=0):
    assert chrome.open(page) == "ready", chrome.evaluate("document.getElementById('status').textContent")
    assert chrome.errors() == []
    remote = [url for url in chrome.requests() if not url.startswith(("file:", "data:"))]
    assert remote == [], f"{page} asked the network for {remote}"
    view = chrome.screenshot("#view canvas")
    width, height = chrome.box("#view canvas")[2:]
    shown = chrome.differing_pixels(view)
    assert shown > 0.05 * width * height, f"{page}: {shown} pixels of the model"
    if table is None:
        return
    assert chrome.evaluate(f"document.querySelectorAll('#{table} tbody tr').length") == rows
    chrome.click(f"#{table} tbody tr")
    assert chrome.evaluate("document.querySelectorAll('#part-list li.selected').length") > 0
    changed = chrome.differing_pixels(chrome.screenshot("#view canvas"), view)
    assert changed > 0.01 * width * height, f"{page}: clicking the first row changed {changed} pixels"


def main():
    if not browser.chromium():
        print("chromium not found (Debian's chromium): the pages are not tested in a browser")
        return 77
    with tempfile.TemporaryDirectory() as scratch, browser.Browser() as chrome:
        page = os.path.join(scratch, "view.html")
        assert tool("view", JOINT, "-o", page)["parts"] == 11
        check_page(chrome, page)
        assert chrome.evaluate("document.querySelectorAll('#part-list li').length") == 11

        page = os.path.join(scratch, "clash.html")
        found = tool("clash", JOINT, "--html", page)
        findings = sum(len(found[kind]) for kind in ("overlaps", "contacts", "clearances", "failures"))
        assert findings > 0
        check_page(chrome, page, "findings", findings)

        page = os.path.join(scratch, "diff.html")
        other = os.path.join(SAMPLES, "bearing_ring.step")
        changes = tool("diff", JOINT, other, "--html", page)
        rows = sum(len(changes[kind]) for kind in ("renamed", "moved", "modified", "added", "removed"))
        check_page(chrome, page, "changes", rows)

        if os.environ.get("NIMBO_HAVE_SOLVE") == "1":
            page = os.path.join(scratch, "solve.html")
            solved = tool("solve", os.path.join(SAMPLES, "joint_heat.yaml"), "-o", scratch, "--html", page)
            check_page(chrome, page, "parts", len(solved["parts"]))
            assert chrome.evaluate("document.getElementById('colorbar').hidden") is False
    print("pages: view, clash, diff" + (", solve" if os.environ.get("NIMBO_HAVE_SOLVE") == "1" else "") + " pass")
    return 0


if __name__ == "__main__":
    sys.exit(main())
