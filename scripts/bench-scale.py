#!/usr/bin/env python3
"""Studies that grow: the flanged shaft's steady heat study at about 10k, 100k and 1M tetrahedra, the
largest again on two MPI processes, and its static stress at about 300k quadratic tetrahedra. Each
row is one whole `nimbo-shape solve` process: its stages from the report, the peak memory of all its
processes together (sampled from /proc), and the size of the field files beside the mesh.

    scripts/bench-scale.py build/src/tools/nimbo-shape/nimbo-shape samples [--quick | --heat]

--quick runs only the two smaller heat studies, --heat every heat study (the stress study takes
minutes). Prints a Markdown table and the per-element time of
each stage at the largest size against the 100k one.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HEAT = """geometry: {geometry}
physics: heat
mesh: {{size: {size}, order: 1}}
materials: [{{name: steel, parts: "*", conductivity: 50}}]
sources: [{{parts: "*", power: 10}}]
boundaries:
  - {{name: base, faces: {{normal: [0, -1, 0]}}, temperature: 20}}
  - {{name: air, faces: {{rest: true}}, convection: {{h: 10, ambient: 20}}}}
"""

STRESS = """geometry: {geometry}
physics: elasticity
mesh: {{size: {size}, order: 2}}
materials: [{{name: steel, parts: "*", youngs_modulus: 210 GPa, poissons_ratio: 0.3}}]
boundaries:
  - {{name: base, faces: {{normal: [0, -1, 0]}}, fixed: true}}
  - {{name: tip, faces: {{normal: [0, 1, 0]}}, force: [100, 0, 0]}}
"""


def tree_rss(root):
    """Resident memory of `root` and every process under it, in bytes."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    parents[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                pass
    members, grew = {root}, True
    while grew:
        grew = False
        for pid, parent in parents.items():
            if parent in members and pid not in members:
                members.add(pid)
                grew = True
    total = 0
    for pid in members:
        try:
            with open(f"/proc/{pid}/statm") as statm:
                total += int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        except OSError:
            pass
    return total


def run(tool, study, folder, extra):
    started = time.monotonic()
    process = subprocess.Popen([tool, "solve", study, "--json", "--timeout", "3600", "-o", folder] + extra,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    peak = 0
    while process.poll() is None:
        peak = max(peak, tree_rss(process.pid))
        time.sleep(0.05)
    out, err = process.communicate()
    if process.returncode != 0:
        return {"error": err.strip().splitlines()[-1] if err.strip() else f"exit status {process.returncode}"}
    report = json.loads(out)
    report["wall"] = time.monotonic() - started
    report["peak"] = peak
    kept = {os.path.basename(report["files"]["mesh"]), os.path.basename(report["files"].get("problem", "")),
            os.path.basename(report["files"].get("input", ""))}
    report["field_bytes"] = sum(os.path.getsize(os.path.join(folder, name)) for name in os.listdir(folder)
                                if name not in kept and not name.endswith((".frd", ".dat", ".inp", ".sta", ".cvg")))
    return report


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    tool, samples, quick, heat = os.path.abspath(sys.argv[1]), sys.argv[2], "--quick" in sys.argv, "--heat" in sys.argv
    work = tempfile.mkdtemp(prefix="bench-scale-")
    geometry = os.path.join(work, "flanged_shaft.step")
    shutil.copy(os.path.join(samples, "flanged_shaft.step"), geometry)
    cases = [("heat", 3.0, []), ("heat", 1.3, [])]
    if not quick:
        cases += [("heat", 0.6, []), ("heat", 0.6, ["--processes", "2"])]
    if not quick and not heat:
        cases.append(("elasticity", 0.95, []))
    rows = []
    try:
        for physics, size, extra in cases:
            study = os.path.join(work, f"{physics}_{size}.yaml")
            with open(study, "w") as out:
                out.write((HEAT if physics == "heat" else STRESS).format(geometry=geometry, size=size))
            report = run(tool, study, os.path.join(work, f"{physics}_{size}_{len(rows)}"), extra)
            rows.append((physics, size, extra, report))
            print(f"{physics} size {size} {' '.join(extra)}: "
                  + (report["error"] if "error" in report else json.dumps(report)), file=sys.stderr)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("| study | elements | nodes | solver | mesh s | write s | solver s | read s | whole process s "
          "| peak memory MB | field files MB | MB per 1M elements |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for physics, size, extra, r in rows:
        if "error" in r:
            print(f"| {physics} {size} mm | failed: {r['error']} |")
            continue
        t, solver = r["times"], r["solver"]
        method = solver["method"] + (f", {solver['iterations']} it." if "iterations" in solver else "")
        if solver["processes"] > 1:
            method += f", {solver['processes']} processes"
        elements = r["mesh"]["elements"]
        print(f"| {physics} {size} mm | {elements:,} | {r['mesh']['nodes']:,} | {method} | {t['mesh']:.1f} "
              f"| {t['write']:.1f} | {t.get('getdp', t.get('calculix', 0)):.1f} | {t['read']:.1f} | {r['wall']:.1f} "
              f"| {r['peak'] / 1e6:.0f} | {r['field_bytes'] / 1e6:.1f} | {r['field_bytes'] / elements:.0f} |")
    heat = [r for physics, _, extra, r in rows if physics == "heat" and not extra and "error" not in r]
    if len(heat) >= 3:
        small, large = heat[1], heat[2]
        ratios = []
        for stage in ("mesh", "getdp", "read"):
            per = [r["times"][stage] / r["mesh"]["elements"] for r in (small, large)]
            ratios.append(f"{stage} {per[1] / per[0]:.2f}")
        print(f"\ntime per element at {large['mesh']['elements']:,} against {small['mesh']['elements']:,}: "
              + ", ".join(ratios))
    split = [r for physics, _, extra, r in rows if extra and "error" not in r]
    if split and len(heat) >= 3:
        print(f"GetDP on 2 processes against 1: {split[0]['times']['getdp'] / heat[2]['times']['getdp']:.2f}")


if __name__ == "__main__":
    main()
