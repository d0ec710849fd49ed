"""The module runs what the programs run: the same set-up, the same solver,
the same measures, bit for bit."""

import csv
import subprocess

import numpy as np
import pytest

import velloran
from conftest import EXAMPLE, disc


def same_bits(a, b):
    a = np.ascontiguousarray(a, dtype=np.float64)
    b = np.ascontiguousarray(b, dtype=np.float64)
    return a.shape == b.shape and np.array_equal(a.view(np.uint64), b.view(np.uint64))


def render(renderer, out, *arguments, formats="npy"):
    subprocess.run([renderer, *map(str, arguments), "--format", formats, "--out", str(out),
                    "--quiet"], check=True, stdout=subprocess.DEVNULL)
    with open(out / "metrics.csv", newline="") as f:
        return {int(row["step"]): row for row in csv.DictReader(f)}


def test_configuration_run_equals_renderer_after_200_steps(renderer, tmp_path):
    metrics = render(renderer, tmp_path, EXAMPLE, "--steps", 200, "--every", 200)
    run = velloran.Run.from_config("examples/blob-to-s.xml")  # relative, as a user writes it

    assert same_bits(run.density, np.load(tmp_path / "density_000000.npy"))
    run.step(150)
    run.step(50)
    assert run.steps == 200
    for name in ("density", "u", "v"):
        assert same_bits(getattr(run, name), np.load(tmp_path / f"{name}_000200.npy")), name
    # metrics.csv keeps ten significant digits.
    assert run.distance() == pytest.approx(float(metrics[200]["distance"]), rel=1e-9)
    assert run.mass() == pytest.approx(float(metrics[200]["mass"]), rel=1e-9)
    assert run.max_speed() == pytest.approx(float(metrics[200]["max_speed"]), rel=1e-9)


def test_reversed_run_equals_renderer(renderer, tmp_path):
    render(renderer, tmp_path, EXAMPLE, "--reverse", "--steps", 20, "--every", 20, "--vf", 2)
    run = velloran.Run.from_config(EXAMPLE, reverse=True, vf=2)
    run.step(20)
    for name in ("density", "u", "v"):
        assert same_bits(getattr(run, name), np.load(tmp_path / f"{name}_000020.npy")), name


def test_images_arrays_and_configuration_give_the_same_run():
    parameters = dict(vf=0.5, vd=5, vg=0, sigma=2.2, dt=0.001)
    source = velloran.density_from_image("examples/blob.png")
    target = velloran.density_from_image("examples/letter-s.png")
    runs = [
        velloran.Run.from_config(EXAMPLE),
        velloran.Run.from_images("examples/blob.png", "examples/letter-s.png", **parameters),
        velloran.Run(source, target, **parameters),
    ]
    for run in runs:
        run.step(30)
    for run in runs[1:]:
        assert run.parameters == runs[0].parameters
        for name in ("density", "u", "v", "target"):
            assert same_bits(getattr(run, name), getattr(runs[0], name)), name


def test_density_from_image_is_the_run_set_up_orientation():
    source = velloran.density_from_image("examples/blob.png")
    assert source.shape == (128, 128) and source.dtype == np.float64
    run = velloran.Run.from_config(EXAMPLE)
    # The target is the heavier image here, so the source enters unscaled.
    assert same_bits(run.density[1:-1, 1:-1], source)
    assert run.mass() == pytest.approx(source.sum(), rel=1e-12)
    assert run.target.sum() == pytest.approx(source.sum(), rel=1e-12)


def test_frames_written_like_the_renderer(renderer, tmp_path):
    render(renderer, tmp_path, EXAMPLE, "--steps", 10, "--every", 10, formats="png")
    run = velloran.Run.from_config(EXAMPLE)
    run.step(10)
    mine = tmp_path / "mine.png"
    velloran.write_png(mine, run.density[1:-1, 1:-1])
    # Pixels, not bytes: the renderer's application object adds its screen's resolution.
    assert same_bits(velloran.density_from_image(mine),
                     velloran.density_from_image(tmp_path / "frame_000010.png"))


def test_thread_count_changes_no_bit():
    # From 200 cells a side the core shares a step between threads.
    source, target = disc(200), disc(200, centre=(0.55, 0.45), radius=0.3)
    runs = [velloran.Run(source, target, vf=2, vd=5, vg=0, sigma=2.2, dt=0.001, threads=t)
            for t in (1, 2, 3)]
    assert [run.threads for run in runs] == [1, 2, 3]
    for run in runs:
        run.step(5)
    for run in runs[1:]:
        for name in ("density", "u", "v"):
            assert same_bits(getattr(run, name), getattr(runs[0], name)), name
