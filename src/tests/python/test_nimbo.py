"""The module against the tool: the same answers, the same errors, and numpy arrays that hold the mesh."""
import json
import os
import shutil
import subprocess

import numpy
import pytest

import nimbo

SAMPLES = os.environ.get("NIMBO_SAMPLES", "samples")
JOINT = os.path.join(SAMPLES, "bolted_joint.step")


def tool(*args):
    """The tool's JSON report for the same job."""
    run = subprocess.run([os.environ["NIMBO_SHAPE"], *args, "--json"], capture_output=True, text=True, check=False)
    assert run.returncode in (0, 1), run.stderr
    return json.loads(run.stdout)


@pytest.fixture(scope="module")
def joint():
    return nimbo.read_assembly(JOINT)


def test_parts_are_those_the_tool_lists(joint):
    listed = tool("parts", JOINT)
    assert joint.length_unit == listed["length_unit"]
    assert [p.path for p in joint.parts] == [p["path"] for p in listed["parts"]]
    plate = joint.parts[0]
    assert plate.volume == pytest.approx(listed["parts"][0]["volume"], rel=1e-12)
    assert plate.box == ((0.0, 0.0, 0.0), (160.0, 60.0, 10.0))
    assert b"CASCADE Topology" in plate.to_brep()[:64]


def test_a_bad_file_raises_naming_it(tmp_path):
    bad = tmp_path / "bad.step"
    bad.write_text("not a step file")
    for path in (bad, tmp_path / "missing.step"):
        with pytest.raises(nimbo.Error, match=str(path.name)):
            nimbo.read_assembly(path)
    assert issubclass(nimbo.Error, RuntimeError)


def test_a_size_that_cannot_fit_is_refused_before_meshing(joint, tmp_path):
    with pytest.raises(nimbo.Error, match="size 0.02 mm would make about .* elements; the smallest size that fits"):
        nimbo.mesh(joint, str(tmp_path / "joint.msh"), size=0.02, max_elements=1e6)
    assert not (tmp_path / "joint.msh").exists()


def test_interface_triangles_belong_to_both_parts(tmp_path):
    mesh_file = str(tmp_path / "joint.msh")
    subprocess.run([os.environ["NIMBO_SHAPE"], "mesh", JOINT, "-o", mesh_file, "--size", "10"], check=True,
                   capture_output=True)
    mesh = nimbo.read_mesh(mesh_file)
    assert mesh.nodes.shape[1] == 3 and mesh.nodes.dtype == numpy.float64
    assert mesh.tetrahedra.dtype == numpy.int64 and mesh.tetrahedra.max() < len(mesh.nodes)
    interfaces = {name: triangles for name, triangles in mesh.surfaces.items() if " | " in name}
    assert len(interfaces) == 14
    for name, triangles in interfaces.items():
        first, second = name.split(" | ")
        for part in (first, second):
            nodes = numpy.unique(mesh.tetrahedra[mesh.volumes[part]])
            assert numpy.isin(triangles, nodes).all(), (name, part)


def without(report, *keys):
    """The report less the keys that differ by design: timings, and where files were written."""
    return {key: value for key, value in report.items() if key not in keys}


def test_the_module_answers_as_the_tool(joint, tmp_path):
    assert nimbo.find_interferences(joint) == tool("clash", JOINT)
    imprint = nimbo.imprint(joint)
    assert imprint.report()["output"] is None
    imprint.write(str(tmp_path / "module.brep"))
    cli = tool("imprint", JOINT, "-o", str(tmp_path / "tool.brep"))
    assert without(imprint.report(), "output", "times") == without(cli, "output", "times")
    moved = os.path.join(SAMPLES, "bearing_ring.step")
    assert nimbo.diff(joint, nimbo.read_assembly(moved)) == tool("diff", JOINT, moved)
    assert nimbo.stats(JOINT) == tool("stats", JOINT)
    page = str(tmp_path / "joint.html")
    assert without(nimbo.view(joint, page), "output", "bytes") == without(tool("view", JOINT, "-o", page), "output", "bytes")
    nimbo.find_interferences(joint, html=page)
    assert "clash " in open(page).read(200)


def test_a_progress_that_answers_false_stops_the_work(joint):
    seen = []

    def stop(fraction):
        seen.append(fraction)
        return False

    with pytest.raises(nimbo.Error, match="^stopped$"):
        nimbo.find_interferences(joint, threads=1, progress=stop)
    assert len(seen) == 1


def test_two_threads_check_their_own_assemblies(joint):
    # Both finish with the right answers; how much the released GIL saves is a benchmark's question.
    import threading

    expected = nimbo.find_interferences(joint)
    answers = []
    threads = [threading.Thread(target=lambda: answers.append(nimbo.find_interferences(joint, threads=1)))
               for _ in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert answers == [expected, expected]


BOX_FACES = os.path.join(os.path.dirname(__file__), "box_faces.brep")


def bar_study():
    """The 20 x 10 x 10 mm bar of loose faces, healed, 20 degC at one end and 30 degC at the other."""
    return {"geometry": BOX_FACES, "physics": "heat", "mesh": {"size": 4, "heal": True},
            "materials": [{"parts": "*", "conductivity": 50}],
            "boundaries": [{"name": "cold", "faces": {"normal": [-1, 0, 0]}, "temperature": 20},
                           {"name": "hot", "faces": {"normal": [1, 0, 0]}, "temperature": 30}]}


def test_a_surface_model_meshes_the_same_from_the_tool_the_module_and_a_study(tmp_path):
    """The route is one: loose faces healed into a 20 x 10 x 10 mm bar mesh alike every way in, and the
    study's heat through the bar is Fourier's k A dT / L = 50 W/(m K) * 1e-4 m^2 * 10 K / 0.02 m = 2.5 W."""
    faces = BOX_FACES
    cli = tool("mesh", faces, "--heal", "--size", "4", "-o", str(tmp_path / "tool.msh"))
    module = nimbo.mesh(nimbo.read_assembly(faces), str(tmp_path / "module.msh"), size=4, heal=True)
    assert module["healing"] == cli["healing"] and module["healing"]["parts"][0]["steps"] == ["sew"]
    assert (cli["nodes"], cli["elements"]) == (module["nodes"], module["elements"])
    if shutil.which("getdp") is None:
        pytest.skip("getdp is not installed")
    solved = nimbo.solve(bar_study(), str(tmp_path / "study"))
    assert (solved["mesh"]["nodes"], solved["mesh"]["elements"]) == (cli["nodes"], cli["elements"])
    flows = {boundary["name"]: boundary["flow"] for boundary in solved["boundaries"]}
    assert flows["hot"] == pytest.approx(2.5, rel=1e-9) and flows["cold"] == pytest.approx(-2.5, rel=1e-9)


def test_the_results_grid_reads_alike_here_and_in_meshio(tmp_path):
    """results.vtu holds the report's field, in mm: linear along the bar from 20 to 30 degC."""
    meshio = pytest.importorskip("meshio")
    if shutil.which("getdp") is None:
        pytest.skip("getdp is not installed")
    solved = nimbo.solve(bar_study(), str(tmp_path / "study"))
    grid, theirs = nimbo.read_results(solved["files"]["vtu"]), meshio.read(solved["files"]["vtu"])
    assert grid["cell_type"] == "tetra" and grid["parts"] == [solved["parts"][0]["path"]]
    x, temperature = grid["points"][:, 0], grid["point_data"]["temperature"]
    assert (temperature.min(), temperature.max()) == (solved["parts"][0]["min"], solved["parts"][0]["max"])
    assert temperature == pytest.approx(20 + (x - x.min()) / 2, abs=1e-9)
    assert len(grid["cells"]) == solved["mesh"]["elements"] and set(grid["cell_data"]["part"]) == {1}
    assert numpy.array_equal(theirs.points, grid["points"]) and numpy.array_equal(theirs.cells_dict["tetra"], grid["cells"])
    assert numpy.array_equal(theirs.point_data["temperature"], temperature)


def test_a_study_over_time_gives_its_snapshots_with_their_times(tmp_path):
    """The bar from 20 degC, its hot end at 30 degC and 1 W in it for 10 s: it warms, the snapshots are
    the report's steps, and the heat it stores is what came in, by Crank-Nicolson steps too."""
    if shutil.which("getdp") is None:
        pytest.skip("getdp is not installed")
    study = dict(bar_study(), time={"end": "20 s", "step": "1 s", "initial": "20 degC", "theta": 0.5},
                 outputs={"every": "5 s"}, sources=[{"parts": "*", "power": "1 W", "until": "10 s"}],
                 materials=[{"parts": "*", "conductivity": 50, "density": 7850, "specific_heat": 460}])
    solved = nimbo.solve(study, str(tmp_path / "study"))
    grid = nimbo.read_results(solved["files"]["series"])
    assert grid["times"] == [step["time"] for step in solved["steps"]] == [5, 10, 15, 20]
    means = [numpy.mean(snapshot) for snapshot in grid["snapshots"]]
    assert means[1] > means[0] and numpy.array_equal(grid["snapshots"][-1], grid["point_data"]["temperature"])
    energy = solved["energy"]
    assert energy["sources"] == pytest.approx(10, rel=1e-9) and energy["balance"] < 1e-6
    assert energy["stored"] == pytest.approx(energy["sources"] + energy["boundaries"], rel=1e-6)


def test_a_structural_study_gives_its_reactions_and_a_quadratic_grid(tmp_path):
    """The same bar held at one end and pulled by 1 kN at the other: the reaction takes the whole
    pull, and results.vtu holds the report's largest displacement and von Mises stress."""
    if shutil.which("ccx") is None:
        pytest.skip("ccx is not installed")
    study = dict(bar_study(), physics="elasticity",
                 materials=[{"parts": "*", "youngs_modulus": "210 GPa", "poissons_ratio": 0.3}],
                 boundaries=[{"name": "wall", "faces": {"normal": [-1, 0, 0]}, "fixed": True},
                             {"name": "pull", "faces": {"normal": [1, 0, 0]}, "force": ["1 kN", 0, 0]}])
    solved = nimbo.solve(study, str(tmp_path / "study"))
    assert solved["units"]["stress"] == "MPa" and solved["balance"] < 1e-5
    assert solved["boundaries"][0]["reaction"][0] == pytest.approx(-1000, rel=1e-5)
    grid = nimbo.read_results(solved["files"]["vtu"])
    part = solved["parts"][0]
    assert grid["cell_type"] == "tetra10"
    assert numpy.linalg.norm(grid["point_data"]["displacement"], axis=1).max() == pytest.approx(part["displacement_max"])
    assert grid["point_data"]["von_mises"].max() == pytest.approx(part["von_mises_max"])
