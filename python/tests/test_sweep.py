"""Sweeps give every run the files velloran-render gives it alone, whether
the runs go through a local pool, a Dask cluster or `--sweep ... --index K`,
and however often they are interrupted."""

import csv
import io
import json
import os
import pathlib
import signal
import subprocess
import sys
import threading

import pytest

import velloran.sweep as sweep

BASE = dict(source="examples/blob.png", target="examples/letter-s.png", vd=5, vg=0, dt=0.001,
            every=20, format="png,npy")
AXES = dict(vf=[0.5, 1], sigma=[1.6, 2.2])
SLURM_SCRIPT = pathlib.Path(__file__).resolve().parents[1] / "examples" / "slurm_sweep.sh"
FAKE_SBATCH = """#!/bin/sh
array= wrap=
for a; do case $a in --array=*) array=${a#--array=};; esac; done
while [ $# -gt 0 ]; do [ "$1" = --wrap ] && wrap=$2; shift; done
if [ -n "$array" ]; then
  i=${array%-*}
  while [ "$i" -le "${array#*-}" ]; do SLURM_ARRAY_TASK_ID=$i sh -c "$wrap"; i=$((i + 1)); done
else
  sh -c "$wrap"
fi
echo 42
"""


def reference(renderer, out, setup):
    """The setup's run, rendered alone with the options written out by hand."""
    command = [renderer, "--source", setup["source"], "--target", setup["target"],
               "--steps", str(setup["steps"]), "--every", "20", "--format", "png,npy",
               "--quiet", "--out", str(out / setup["name"])]
    for key in ("vf", "vd", "vg", "sigma", "dt"):
        command += [f"--{key}", str(setup[key])]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def outputs(folder):
    """Frames, fields and metrics of a run folder; metrics without seconds."""
    files = {}
    for path in sorted(folder.iterdir()):
        if path.suffix in (".npy", ".png") and path.name != "convergence.png":
            files[path.name] = path.read_bytes()
    rows = list(csv.reader(io.StringIO((folder / "metrics.csv").read_text())))
    seconds = rows[0].index("seconds")
    files["metrics.csv"] = [row[:seconds] + row[seconds + 1:] for row in rows]
    return files


def assert_same_runs(setups, folder, expected):
    for setup in setups:
        assert outputs(folder / setup["name"]) == outputs(expected / setup["name"]), setup["name"]


def table_without_times(path):
    rows = list(csv.DictReader(open(path, newline="")))
    for row in rows:
        del row["steps_per_second"], row["wall_seconds"]
    return rows


@pytest.fixture(scope="module")
def cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as local, \
            distributed.Client(local) as client:
        yield client


def test_dask_and_array_tasks_give_the_runs_of_the_renderer_alone(renderer, cluster, tmp_path):
    setups = sweep.grid(dict(BASE, steps=60), **AXES)
    assert [s["name"] for s in setups] == ["vf=0.5_sigma=1.6", "vf=0.5_sigma=2.2",
                                          "vf=1_sigma=1.6", "vf=1_sigma=2.2"]
    alone = tmp_path / "alone"
    for setup in setups:
        reference(renderer, alone, setup)

    table = sweep.run(setups, client=cluster, out=tmp_path / "dask", progress=False)
    assert [(row["name"], row["status"], row["vf"], row["sigma"]) for row in table] == [
        (s["name"], "ok", s["vf"], s["sigma"]) for s in setups]
    assert all(row["last_step"] == 60 for row in table)
    assert_same_runs(setups, tmp_path / "dask", alone)

    # As a Slurm array runs them, with the shipped script and an sbatch that
    # runs each job at once (array tasks one after another).
    sweep_file = sweep.write(setups, tmp_path / "sweep.json")
    bin_folder = tmp_path / "bin"
    bin_folder.mkdir()
    (bin_folder / "velloran-render").symlink_to(os.path.abspath(renderer))
    (bin_folder / "sbatch").write_text(FAKE_SBATCH)
    (bin_folder / "sbatch").chmod(0o755)
    subprocess.run([SLURM_SCRIPT, sweep_file, tmp_path / "array"], check=True,
                   stdout=subprocess.DEVNULL,
                   env=dict(os.environ, PATH=f"{bin_folder}:{os.environ['PATH']}"))
    assert_same_runs(setups, tmp_path / "array", alone)
    assert table_without_times(tmp_path / "array" / "sweep.csv") == \
        table_without_times(tmp_path / "dask" / "sweep.csv")
    assert (tmp_path / "dask" / "sweep.png").read_bytes() == \
        (tmp_path / "array" / "sweep.png").read_bytes()


def test_a_worker_killed_mid_sweep_and_the_sweep_run_again(renderer, cluster, tmp_path):
    setups = sweep.grid(dict(BASE, steps=1500, checkpoint_every=50), **AXES)
    out = tmp_path / "sweep"
    finished = threading.Event()
    results = []
    background = threading.Thread(target=lambda: (results.append(
        sweep.run(setups, client=cluster, out=out, progress=False)), finished.set()))
    background.start()
    # Once a run has written its first checkpoint, the worker running it is
    # killed: the render stops with a checkpoint and the scheduler gives the
    # run to the other worker (or a new one), which continues it.
    started = []
    while not finished.is_set() and not started:
        started = [path.parent.name for path in out.glob("*/checkpoint.vlck")]
        finished.wait(0.01)
    assert started, "the sweep ended before any run wrote a checkpoint"
    worker = next(address for address, keys in cluster.processing().items()
                  if any(key.endswith("-" + started[0]) for key in keys))
    os.kill(cluster.run(os.getpid)[worker], signal.SIGKILL)
    background.join()
    assert [row["status"] for row in results[0]] == ["ok"] * 4
    # The killed run took a second attempt.
    record = json.loads((out / started[0] / "run.json").read_text())
    assert record["attempts"] == 2

    alone = tmp_path / "alone"
    for setup in setups:
        reference(renderer, alone, setup)
    assert_same_runs(setups, out, alone)

    # Run again: every run is found done and left untouched.
    records = {s["name"]: (out / s["name"] / "run.json").read_bytes() for s in setups}
    stamps = {path: path.stat().st_mtime_ns for path in out.glob("*/*") if path.is_file()}
    again = sweep.run(setups, client=cluster, out=out, progress=False)
    assert [row["status"] for row in again] == ["ok"] * 4
    assert {s["name"]: (out / s["name"] / "run.json").read_bytes() for s in setups} == records
    assert {path: path.stat().st_mtime_ns for path in stamps} == stamps


def test_a_failing_run_is_a_row_and_the_others_complete(renderer, tmp_path, monkeypatch):
    setups = sweep.grid("examples/blob-to-s.xml", steps=20,
                       target=["examples/letter-s.png", "examples/missing.png"])
    table = sweep.run(setups, out=tmp_path, workers=2, progress=False)  # the local pool
    assert [(row["name"], row["status"]) for row in table] == [
        ("target=letter-s", "ok"), ("target=missing", "bad input")]
    assert "missing.png" in table[1]["error"] and table[1]["best_distance"] is None
    assert table[0]["error"] is None or table[0]["error"] == ""
    assert (tmp_path / "sweep.png").stat().st_size > 0

    # Run again: the finished run is kept, the failed one tried again.
    def attempts(name):
        return json.loads((tmp_path / name / "run.json").read_text())["attempts"]

    sweep.run(setups, out=tmp_path, progress=False)
    assert (attempts("target=letter-s"), attempts("target=missing")) == (1, 2)

    # Without Dask a client is refused with what to install.
    monkeypatch.setitem(sys.modules, "distributed", None)
    with pytest.raises(ImportError, match="python3-distributed"):
        sweep.run(setups, client="tcp://127.0.0.1:1", out=tmp_path, progress=False)


def test_grid_names_and_refusals():
    setups = sweep.grid("examples/blob-to-s.xml", steps=10, sigma=[1, 0.5, 1e-05],
                       target=[pathlib.Path("a/star.png")], keyframes=[(800, "b.png")])
    assert [s["name"] for s in setups] == ["sigma=1_target=star", "sigma=0.5_target=star",
                                          "sigma=1e-05_target=star"]
    assert setups[1] == {"index": 1, "name": "sigma=0.5_target=star", "axes": ["sigma", "target"],
                        "config": "examples/blob-to-s.xml", "steps": 10,
                        "keyframes": [[800, "b.png"]], "sigma": 0.5, "target": "a/star.png"}
    assert [s["name"] for s in sweep.grid({}, keyframes=[[], [(800, "b.png")]])] == [
        "keyframes=", "keyframes=800+b"]
    with pytest.raises(ValueError, match="unknown option 'vff'"):
        sweep.grid({}, vff=[1])
    with pytest.raises(ValueError, match="named 'target=star'"):
        sweep.grid({}, target=["a/star.png", "b/star.png"])


def test_a_colour_wedge(renderer, tmp_path):
    """Fields, their keyframes and the colour mode go through the sweep file to
    the renderer: each run's files are those of its render alone."""
    fields = [("#e03020", "examples/yin.png", "examples/yang.png"),
              "#20a0e0:examples/yang.png:examples/yin.png"]
    keyframes = [("#e03020", 10, "examples/yin.png", 4), "#20a0e0:10:examples/yang.png:4"]
    setups = sweep.grid({"field": fields, "keyframes": keyframes, "scheme": "sound"}, steps=20,
                        every=10, format="png,npy", colour_mode=["light", "dark"])
    assert [s["name"] for s in setups] == ["colour_mode=light", "colour_mode=dark"]
    assert sweep.grid({}, field=[fields, fields[:1]])[1]["field"] == [list(fields[0])]
    table = sweep.run(setups, out=tmp_path, workers=1, progress=False)
    assert [row["status"] for row in table] == ["ok", "ok"]
    alone = tmp_path / "alone"
    subprocess.run([renderer, "--field", "#e03020:examples/yin.png:examples/yang.png",
                    "--field", fields[1], "--keyframe", "#e03020:10:examples/yin.png:4",
                    "--keyframe", keyframes[1], "--scheme", "sound", "--colour-mode", "dark",
                    "--steps", "20", "--every", "10", "--format", "png,npy", "--quiet",
                    "--out", str(alone)], check=True, stdout=subprocess.DEVNULL)
    dark = outputs(tmp_path / "colour_mode=dark")
    assert "density.20a0e0_000020.npy" in dark and dark == outputs(alone)
