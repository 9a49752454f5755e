#!/usr/bin/env python3
"""Prints the benchmarks of a Google Benchmark JSON report as a table: each case beside its
baseline (the case's name with "_baseline" after the function name) and the ratio of the two.

Uses the medians when the report holds repetitions, else the single runs; times are real times.
Usage: bench-table.py build/bench.json
"""
import json
import sys

TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
SUFFIX = "_baseline"


def figures(report):
    """Real time in nanoseconds by run name, in report order: medians if any, else single runs."""
    runs = report.get("benchmarks", [])
    medians = [r for r in runs if r.get("run_type") == "aggregate" and r.get("aggregate_name") == "median"]
    chosen = medians or [r for r in runs if r.get("run_type", "iteration") == "iteration"]
    result = {}
    for run in chosen:
        result.setdefault(run["run_name"], run["real_time"] * TO_NS[run.get("time_unit", "ns")])
    return result


def split_baseline(name):
    """("BM_X/10", False) for "BM_X/10", ("BM_X/10", True) for "BM_X_baseline/10"; a case's own
    repetition count ("/repeats:1") is not part of its name."""
    name = "/".join(part for part in name.split("/") if not part.startswith("repeats:"))
    function, slash, arguments = name.partition("/")
    if function.endswith(SUFFIX):
        return function[: -len(SUFFIX)] + slash + arguments, True
    return name, False


def readable(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def sort_key(case):
    """Cases by name, sizes in numeric order: "BM_X/10" after "BM_X/9"."""
    function, _, arguments = case.partition("/")
    return function, [int(a) if a.isdigit() else a for a in arguments.split("/")]


def main(path):
    with open(path, encoding="utf-8") as file:
        report = json.load(file)
    library, baseline = {}, {}
    for name, ns in figures(report).items():
        case, is_baseline = split_baseline(name)
        (baseline if is_baseline else library)[case] = ns
    rows = [("case", "library", "baseline", "ratio")]
    # Random interleaving shuffles the report; the table keeps one order from run to run.
    for case, ns in sorted(library.items(), key=lambda item: sort_key(item[0])):
        base = baseline.get(case)
        rows.append((case.removeprefix("BM_"), readable(ns),
                     readable(base) if base else "-", f"{ns / base:.2f}" if base else "-"))
    orphans = [case for case in baseline if case not in library]
    widths = [max(len(row[i]) for row in rows) for i in range(4)]
    context = report.get("context", {})
    kind = "median" if any(r.get("aggregate_name") == "median" for r in report.get("benchmarks", [])) else "single run"
    print(f"{kind} real time, {context.get('num_cpus', '?')} CPUs, {context.get('date', '')}")
    for i, row in enumerate(rows):
        print("  ".join([row[0].ljust(widths[0])] + [cell.rjust(width) for cell, width in zip(row[1:], widths[1:])]))
        if i == 0:
            print("  ".join("-" * width for width in widths))
    for case in orphans:
        print(f"warning: baseline without its case: {case}{SUFFIX}", file=sys.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(sys.argv[1])
