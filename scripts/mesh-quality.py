#!/usr/bin/env python3
"""The quality of a tetrahedral mesh: each linear tetrahedron's signed inverse condition number
(1 for a regular one, 0 for a flat one, negative for an inverted one) against the regular
tetrahedron. Prints the count, the inverted ones, the least, and the 1st percentile and median.

    PYTHONPATH=build/python python3 scripts/mesh-quality.py MESH.msh [MESH.msh...]
"""
import sys

import numpy as np

import nimbo

# Edges from the first corner of a regular tetrahedron with edges of 1, as columns.
REGULAR = np.array([[1.0, 0.5, 0.5], [0.0, np.sqrt(3) / 2, np.sqrt(3) / 6], [0.0, 0.0, np.sqrt(2.0 / 3.0)]])


def quality(nodes, tetrahedra):
    corners = nodes[tetrahedra[:, :4]]
    edges = np.stack([corners[:, k] - corners[:, 0] for k in (1, 2, 3)], axis=2)
    maps = edges @ np.linalg.inv(REGULAR)
    determinants = np.linalg.det(maps)
    usable = np.abs(determinants) > 0
    result = np.zeros(len(maps))
    inverse = np.linalg.inv(maps[usable])
    condition = np.linalg.norm(maps[usable], axis=(1, 2)) * np.linalg.norm(inverse, axis=(1, 2))
    result[usable] = np.sign(determinants[usable]) * 3.0 / condition
    return result


def main(files):
    print(f"{'mesh':<40}{'elements':>10}{'inverted':>10}{'least':>8}{'1st pct':>9}{'median':>8}")
    for file in files:
        mesh = nimbo.read_mesh(file)
        q = quality(mesh.nodes, mesh.tetrahedra)
        print(f"{file:<40}{len(q):>10}{int((q <= 0).sum()):>10}{q.min():>8.3f}"
              f"{np.percentile(q, 1):>9.3f}{np.median(q):>8.3f}")


if __name__ == "__main__":
    main(sys.argv[1:])
