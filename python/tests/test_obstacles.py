"""Obstacles given to a run: as an array or an image file, refused where the
run cannot have them, and kept by a checkpoint."""

import numpy as np
import pytest

import velloran

from conftest import disc

N = 24


def wall(gap=True):
    """Two columns of solid cells down the middle, open in the middle rows."""
    solid = np.zeros((N, N))
    solid[:, 11:13] = 1.0
    if gap:
        solid[10:14, 11:13] = 0.0
    return solid


LEFT = disc(N, centre=(0.15, 0.5), radius=0.12)
RIGHT = disc(N, centre=(0.85, 0.5), radius=0.12)
SOUND = dict(scheme="sound", vf=2, vd=30, vg=0.15, sigma=1, dt=0.001)


def test_an_array_or_an_image_file_give_the_same_run(tmp_path):
    from_array = velloran.Run(LEFT, RIGHT, **SOUND, obstacles=wall())
    # The same wall drawn twice as large: white is solid, as the programs read it.
    picture = np.kron(wall()[::-1], np.ones((2, 2)))  # image rows from the top
    path = tmp_path / "wall.png"
    velloran.write_png(path, picture)
    from_file = velloran.Run(LEFT, RIGHT, **SOUND, obstacles=path)
    for run in (from_array, from_file):
        run.step(20)
    assert np.array_equal(from_array.density, from_file.density)
    # No smoke inside the wall (to rounding).
    assert from_array.density[1:-1, 1:-1][wall() > 0.5].max() < 1e-12


def test_a_configuration_names_its_obstacles():
    # Run from the repository root: the example names its images relative to it.
    from_config = velloran.Run.from_config("examples/through-the-gap.xml")
    by_hand = velloran.Run.from_images("examples/puff-left.png", "examples/disc-right.png",
                                       **SOUND, obstacles="examples/wall-gap.png")
    for run in (from_config, by_hand):
        run.step(10)
    assert np.array_equal(from_config.density, by_hand.density)


@pytest.mark.parametrize(
    "scheme, obstacles, error, message",
    [
        ("literal", wall(), ValueError, "sound scheme"),
        ("sound", np.zeros((N + 1, N)), ValueError, "24 x 24"),
        ("sound", np.full((N, N), np.nan), ValueError, "not finite"),
        ("sound", wall(gap=False), ValueError, "cannot reach"),
        ("sound", "/nonexistent/wall.png", OSError, "obstacle image"),
    ],
)
def test_refusals(scheme, obstacles, error, message):
    with pytest.raises(error, match=message):
        velloran.Run(LEFT, RIGHT, **dict(SOUND, scheme=scheme), obstacles=obstacles)


def test_a_checkpoint_keeps_the_obstacles(tmp_path):
    run = velloran.Run(LEFT, RIGHT, **SOUND, obstacles=wall())
    run.step(10)
    path = tmp_path / "run.vlck"
    run.save_checkpoint(path)
    loaded = velloran.Run.load_checkpoint(path)
    run.step(10)
    loaded.step(10)
    assert np.array_equal(run.density, loaded.density)
