"""nimbo: CAD assemblies measured, checked for overlaps and contacts, healed, imprinted, meshed and
solved, from Python.

Every function that the command-line tool ``nimbo-shape`` has returns a plain ``dict`` with exactly
the keys of that subcommand's ``--json`` report, so a script moves between the two without renaming
anything. Failures raise :class:`nimbo.Error`, whose text is the tool's one-line message naming the
file. Long calls release the GIL and take ``progress=callable(fraction) -> bool | None``; returning
``False`` stops the work, and the call raises ``nimbo.Error("stopped")``.

The library runs in the calling process, without the tool's worker isolation: a crash of the CAD
kernel on a damaged file ends the interpreter. For files you do not trust, run the tool's batch mode
(``nimbo-shape stats --jobs N FOLDER``), which gives each file a worker process of its own.

A solved study's ``results.vtu`` (the mesh in mm, the field at its points, the part number on its
cells) opens in ParaView, pyvista and meshio; :func:`read_results` reads it with numpy alone.
"""

import base64 as _base64
import json as _json
import os as _os
import xml.etree.ElementTree as _ElementTree

import numpy as _numpy

from ._nimbo import *  # noqa: F401,F403
from ._nimbo import Error

_VTU_TYPES = {"Float64": "<f8", "Float32": "<f4", "Int64": "<i8", "Int32": "<i4", "UInt8": "u1"}
_CELL_TYPES = {10: ("tetra", 4), 24: ("tetra10", 10)}


def _vtu_array(element):
    dtype = _numpy.dtype(_VTU_TYPES[element.get("type")])
    if element.get("format") == "ascii":
        values = _numpy.array(element.text.split(), dtype=dtype)
    else:
        raw = _base64.b64decode("".join(element.text.split()))
        size = int(_numpy.frombuffer(raw[:8], "<u8")[0])
        values = _numpy.frombuffer(raw[8:8 + size], dtype=dtype).copy()
    components = int(element.get("NumberOfComponents", "1"))
    return values.reshape(-1, components) if components > 1 else values


def read_results(path):
    """A solved study's results.vtu as numpy arrays: {"points": (n, 3) in mm, "cells": (m, 4 or 10)
    node indices in VTK's order, "cell_type": "tetra" or "tetra10", "point_data": {name: array},
    "cell_data": {"part": array}, "parts": part paths, numbered from 1 by "part"}. The part names come
    from the JSON file of the same stem beside it, when there is one.

    A study over time's results.pvd gives the same for its last snapshot, with "times": the output
    times in s, and "snapshots": the field at the points at each of them, a list of arrays."""
    if _os.fspath(path).endswith(".pvd"):
        folder = _os.path.dirname(_os.fspath(path))
        sets = _ElementTree.parse(_os.fspath(path)).getroot().findall("Collection/DataSet")
        if not sets:
            raise ValueError(f"{path}: the collection holds no grid")
        grids = [read_results(_os.path.join(folder, item.get("file"))) for item in sets]
        return dict(grids[-1], times=[float(item.get("timestep")) for item in sets],
                    snapshots=[next(iter(grid["point_data"].values())) for grid in grids])
    piece = _ElementTree.parse(_os.fspath(path)).getroot().find("UnstructuredGrid/Piece")
    arrays = {section: {a.get("Name"): _vtu_array(a) for a in piece.findall(section + "/DataArray")}
              for section in ("PointData", "CellData", "Points", "Cells")}
    types = set(arrays["Cells"]["types"].tolist())
    if len(types) > 1 or not types <= set(_CELL_TYPES):
        raise ValueError(f"{path}: cells of types {sorted(types)}, not all linear or all quadratic tetrahedra")
    cell_type, per = _CELL_TYPES[types.pop()] if types else ("tetra", 4)
    sidecar = _os.path.splitext(_os.fspath(path))[0] + ".json"
    parts = []
    if _os.path.exists(sidecar):
        with open(sidecar, encoding="utf-8") as file:
            parts = _json.load(file)["parts"]
    return {"points": next(iter(arrays["Points"].values())).reshape(-1, 3),
            "cells": arrays["Cells"]["connectivity"].reshape(-1, per),
            "cell_type": cell_type,
            "point_data": arrays["PointData"],
            "cell_data": arrays["CellData"],
            "parts": parts}


__all__ = [name for name in dir() if not name.startswith("_")]
