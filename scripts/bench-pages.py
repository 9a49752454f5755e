#!/usr/bin/env python3
"""How long the pages that nimbo_bench left in FOLDER (NIMBO_BENCH_PAGES) take to load in headless
Chromium: from opening the file to the model drawn, median of three, with each page's size.

    python3 scripts/bench-pages.py build/bench-pages
"""
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "src", "tests", "html"))
import browser  # noqa: E402


def main(folder):
    if not browser.chromium():
        print("chromium not found: page load times not measured")
        return 0
    pages = sorted(f for f in os.listdir(folder) if f.endswith(".html"))
    print(f"{'page':<24}{'size':>10}{'load (median of 3)':>22}")
    with browser.Browser() as chrome:
        for page in pages:
            path = os.path.join(folder, page)
            times = []
            for _ in range(3):
                started = time.monotonic()
                assert chrome.open(path) == "ready", f"{page} did not load"
                times.append(time.monotonic() - started)
            print(f"{page:<24}{os.path.getsize(path) / 1e6:>8.2f} MB{statistics.median(times):>20.2f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
