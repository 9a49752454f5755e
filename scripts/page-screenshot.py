#!/usr/bin/env python3
"""A picture of a nimbo page as headless Chromium draws it, optionally after clicking a row of its
first table (as a user would, to see that finding).

    python3 scripts/page-screenshot.py PAGE.html OUT.png [--row N] [--size WxH]
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "src", "tests", "html"))
import browser  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("page")
    parser.add_argument("output")
    parser.add_argument("--row", type=int, help="click this row (from 1) of the first table first")
    parser.add_argument("--size", default="1280x800", help="the window, WxH pixels (default 1280x800)")
    arguments = parser.parse_args()
    if not browser.chromium():
        sys.exit("chromium not found (Debian's chromium)")
    width, height = (int(v) for v in arguments.size.lower().split("x"))
    with browser.Browser(width, height) as chrome:
        if chrome.open(arguments.page) != "ready":
            sys.exit(f"{arguments.page}: " + chrome.evaluate("document.getElementById('status').textContent"))
        if arguments.row:
            chrome.click(f"#tables table tbody tr:nth-child({arguments.row})")
        with open(arguments.output, "wb") as out:
            out.write(chrome.png(chrome.screenshot()))


if __name__ == "__main__":
    main()
