#!/usr/bin/env python3
"""Whole processes against whole processes: `nimbo-shape imprint` beside Gmsh reading the same file,
fragmenting every volume and writing BREP (build/src/bench/nimbo_fragment_baseline), and
`nimbo-shape diff` of the 1000-part grid against itself and against a copy, beside `parts` of it.
Every run of every command is shuffled together, so that a case and its baseline meet the same
load; best of --runs.

Usage: bench-processes.py BUILD_DIR [--runs 3] [--shared ../shared/cad] [--quick]
  --quick leaves out the 1000-block imprint, whose baseline takes most of a minute a run.
Prints a Markdown table.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time


def timed(command):
    """Seconds the command took; exits when it fails, since a failed run times nothing."""
    started = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    seconds = time.perf_counter() - started
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({done.returncode}): {done.stderr.strip()[-400:]}")
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--shared", default=os.path.join(os.path.dirname(__file__), "../../shared/cad"))
    parser.add_argument("--quick", action="store_true")
    options = parser.parse_args()

    tool = os.path.join(options.build, "src/tools/nimbo-shape/nimbo-shape")
    gmsh = os.path.join(options.build, "src/bench/nimbo_fragment_baseline")
    samples = os.path.join(os.path.dirname(__file__), "../samples")
    scratch = tempfile.mkdtemp(prefix="nimbo-bench-processes-")
    subprocess.run([gmsh, "--grids", scratch], check=True)
    grid = lambda name: os.path.join(scratch, name)
    out = os.path.join(scratch, "out.brep")

    imprints = [("the sample joint", os.path.join(samples, "bolted_joint.step")),
                ("27 touching blocks", grid("touching_27.brep"))]
    as1 = os.path.join(options.shared, "caxif_as1-tu-203_asm.stp")
    if os.path.exists(as1):
        imprints.append(("caxif_as1", as1))
    if not options.quick:
        imprints.append(("1000 touching blocks", grid("touching_1000.brep")))
    # (row, nimbo's command, the baseline's)
    cases = [(f"`imprint` {name} : Gmsh's fragment", [tool, "imprint", path, "-o", out], [gmsh, path, out])
             for name, path in imprints]
    blocks = grid("blocks_1000.brep")
    copy = grid("blocks_1000_copy.brep")
    shutil.copyfile(blocks, copy)
    cases.append(("`diff` of the 1000-part grid against itself : `parts` of it", [tool, "diff", blocks, blocks],
                  [tool, "parts", blocks]))
    # Two files, as two revisions are: every part is read twice and compared.
    cases.append(("`diff` of the 1000-part grid against a copy : `parts` of it", [tool, "diff", blocks, copy],
                  [tool, "parts", blocks]))

    runs = [(k, side) for k in range(len(cases)) for side in (1, 2)] * options.runs
    random.shuffle(runs)
    best = {}
    for k, side in runs:
        seconds = timed(cases[k][side])
        best[(k, side)] = min(best.get((k, side), seconds), seconds)

    print("| case | nimbo | baseline | ratio |")
    print("|---|---|---|---|")
    for k, (row, _, _) in enumerate(cases):
        ours, theirs = best[(k, 1)], best[(k, 2)]
        print(f"| {row} | {ours:.2f} s | {theirs:.2f} s | {ours / theirs:.2f} |")


if __name__ == "__main__":
    main()
