#!/usr/bin/env python3
"""Reads an assembly, finds how its parts meet, prints the overlaps largest first, then meshes it.

    PYTHONPATH=build/python python3 examples/clash_report.py samples/bolted_joint.step joint.msh
"""
import sys

import nimbo


def main(cad, mesh_file):
    assembly = nimbo.read_assembly(cad)
    found = nimbo.find_interferences(assembly, clearance=0.5)
    print(f"{len(assembly)} parts, {found['pairs']} pairs: {len(found['overlaps'])} overlaps, "
          f"{len(found['contacts'])} contacts, {len(found['clearances'])} clearances")
    for overlap in sorted(found["overlaps"], key=lambda o: o["volume"], reverse=True):
        print(f"  {overlap['volume']:12.4f} mm^3  {overlap['first']} | {overlap['second']}")
    if found["overlaps"]:
        return 1  # a conformal mesh cannot hold both sides of an overlap
    meshed = nimbo.mesh(assembly, mesh_file)
    print(f"wrote {mesh_file}: {meshed['nodes']} nodes, {meshed['elements']} tetrahedra")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
