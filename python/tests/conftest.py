"""Shared fixtures of the module's tests. They run from the repository root
(the example configurations name their images relative to it) with the
freshly built module on PYTHONPATH and the renderer in $VELLORAN_RENDER."""

import os
import pathlib

import numpy as np
import pytest

import velloran

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = REPOSITORY / "examples" / "blob-to-s.xml"


@pytest.fixture(autouse=True)
def from_repository_root(monkeypatch):
    monkeypatch.chdir(REPOSITORY)


@pytest.fixture
def renderer():
    path = os.environ.get("VELLORAN_RENDER")
    if not path:
        pytest.skip("VELLORAN_RENDER does not name the renderer")
    return path


def disc(n, centre=(0.5, 0.5), radius=0.25):
    """An n x n array: 1 inside a disc, 0 outside (a[j, i] = cell (i, j))."""
    y, x = np.mgrid[0:n, 0:n]
    x = (x + 0.5) / n - centre[0]
    y = (y + 0.5) / n - centre[1]
    return (x * x + y * y < radius * radius).astype(float)


PARAMETERS = dict(vf=0.5, vd=5.0, vg=0.0, sigma=2.2, dt=0.001)


@pytest.fixture
def small_run():
    """A 32 x 32 run from a disc towards an off-centre disc."""
    return velloran.Run(disc(32), disc(32, centre=(0.6, 0.4), radius=0.2), **PARAMETERS)
