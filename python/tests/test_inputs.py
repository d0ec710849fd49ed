"""Bad input is refused with the documented exceptions and never crashes the
interpreter; good input in any convertible form gives the same run."""

import warnings

import numpy as np
import pytest

import velloran
from conftest import EXAMPLE, PARAMETERS, disc


def make(source, target=None, **changes):
    return velloran.Run(source, disc(8) if target is None else target,
                        **{**PARAMETERS, **changes})


@pytest.mark.parametrize("source, message", [
    (np.zeros(8), "2-D"),
    (np.zeros((8, 8, 1)), "2-D"),
    (np.zeros((8, 9)), "square"),
    (np.zeros((0, 0)), "empty"),
    (np.full((8, 8), np.nan), "not finite"),
    (np.full((8, 8), np.inf), "not finite"),
    (-disc(8), "negative"),
    (disc(8).astype(complex), "real numbers"),
    (np.full((8, 8), "1.0"), "real numbers"),
    ([[0.0, None], [1.0, 0.0]], "not finite"),  # None converts to NaN
    (np.array([[0.0, {}], [1.0, 0.0]], dtype=object), "real numbers"),
    ([[0.0, 1.0], [1.0]], "cannot be read as an array"),
])
def test_bad_arrays(source, message):
    with pytest.raises(ValueError, match=message):
        make(source)


def test_bad_array_pairs():
    with pytest.raises(ValueError, match="same shape"):
        make(disc(8), disc(16))
    with pytest.raises(ValueError, match="target must be square"):
        make(disc(8), np.zeros((8, 4)))
    with pytest.raises(ValueError, match="source holds no smoke"):
        make(np.zeros((8, 8)), disc(8))
    with pytest.raises(ValueError, match="target holds no smoke"):
        make(disc(8), np.zeros((8, 8), dtype=int))
    with pytest.raises(ValueError, match="too large"):
        make(np.zeros((2049, 2049)), np.zeros((2049, 2049)))
    with pytest.raises(TypeError):
        make(disc(8), target=None, vf="fast")


def test_convertible_arrays_give_the_same_run():
    reference = make(disc(8) * 0.5, disc(8))
    reference.step(3)
    forms = [
        (disc(8).astype(np.float32) * 0.5, disc(8).astype(bool)),
        ((disc(8) * 0.5).tolist(), disc(8).astype(np.uint8)),
        (np.asfortranarray(disc(8) * 0.5), disc(8).astype(object)),
        ((disc(8) * 0.5)[::-1][::-1], disc(8).astype(np.int64)),
    ]
    for source, target in forms:
        run = make(source, target)
        run.step(3)
        assert np.array_equal(run.density, reference.density)


def test_inputs_are_copied():
    source = disc(8)
    run = make(source)
    source[:] = 0.0
    assert run.mass() > 0.0


@pytest.mark.parametrize("name, value", [
    ("vf", 1000.5), ("vd", -1.0), ("vg", 1.5), ("sigma", 0.05), ("sigma", 0.0), ("dt", -1e-9),
    ("dt", 2.0), ("vf", float("nan")), ("vd", float("inf")),
])
def test_parameters_outside_their_range(name, value):
    with pytest.raises(ValueError, match=name):
        make(disc(8), **{name: value})
    with pytest.raises(ValueError, match=name):
        velloran.Run.from_config(EXAMPLE, **{name: value})


def test_parameters_are_rounded_like_the_programs():
    with pytest.warns(velloran.ParameterWarning, match="sigma = 2.25 rounded to 1 decimal"):
        run = make(disc(8), sigma=2.25, dt=0.001)
    assert run.parameters == dict(vf=0.5, vd=5.0, vg=0.0, sigma=2.3, dt=0.001)
    with pytest.warns(velloran.ParameterWarning, match="dt"):
        assert make(disc(8), dt=0.000014).parameters["dt"] == 0.00001
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        make(disc(8), vf=1000, vd=0, vg=1, sigma=10, dt=1)  # the bounds themselves
        with pytest.raises(velloran.ParameterWarning):
            make(disc(8), vg=0.00005)


def test_thread_counts():
    with pytest.raises(ValueError, match="threads"):
        make(disc(8), threads=0)
    assert make(disc(8), threads=100).threads == 8  # the core's upper limit
    assert make(disc(8)).threads >= 1


def test_step_counts(small_run):
    with pytest.raises(ValueError, match="negative"):
        small_run.step(-1)
    small_run.step(0)
    assert small_run.steps == 0
    with pytest.raises(TypeError):
        small_run.step(1.5)


def test_configuration_files(tmp_path):
    with pytest.raises(FileNotFoundError):
        velloran.Run.from_config(tmp_path / "missing.xml")
    with pytest.raises(IsADirectoryError):
        velloran.Run.from_config(tmp_path)
    broken = tmp_path / "broken.xml"
    broken.write_text("<configuration><parameters>")
    with pytest.raises(ValueError, match="invalid configuration file"):
        velloran.Run.from_config(broken)
    foreign = tmp_path / "foreign.xml"
    foreign.write_text("<settings/>")
    with pytest.raises(ValueError, match="names no source image.*no <configuration> root"):
        velloran.Run.from_config(foreign)


def test_configuration_values_are_bounded_as_the_programs_do(tmp_path):
    text = EXAMPLE.read_text().replace("<vf>0.5</vf>", "<vf>5000</vf>").replace(
        "<sigma>2.2</sigma>", "<sigma>fast</sigma>")
    path = tmp_path / "wild.xml"
    path.write_text(text)
    with pytest.warns(velloran.ParameterWarning) as caught:
        run = velloran.Run.from_config(path)
    notes = " | ".join(str(w.message) for w in caught)
    assert "vf 5000" in notes and "outside" in notes and "not a number" in notes
    assert run.parameters["vf"] == 1000.0
    assert run.parameters["sigma"] == 0.1  # "fast" reads as 0, bounded to the minimum
    assert velloran.Run.from_config(EXAMPLE, vf=3, dt=0.002).parameters == dict(
        vf=3.0, vd=5.0, vg=0.0, sigma=2.2, dt=0.002)


def test_image_files(tmp_path):
    with pytest.raises(FileNotFoundError, match="Could not load source image"):
        velloran.Run.from_images(tmp_path / "none.png", "examples/star.png", **PARAMETERS)
    text = tmp_path / "text.png"
    text.write_text("not a picture")
    with pytest.raises(OSError, match="Could not load target image"):
        velloran.Run.from_images("examples/blob.png", text, **PARAMETERS)
    with pytest.raises(OSError):
        velloran.density_from_image(text)
    with pytest.raises(FileNotFoundError):
        velloran.density_from_image(tmp_path / "none.png")

    wide = tmp_path / "wide.png"
    velloran.write_png(wide, np.zeros((16, 32)))
    assert velloran.density_from_image(wide).shape == (16, 32)
    with pytest.raises(ValueError, match="The source image must be square."):
        velloran.Run.from_images(wide, "examples/star.png", **PARAMETERS)
    black = tmp_path / "black.png"
    velloran.write_png(black, np.zeros((128, 128)))
    with pytest.raises(ValueError, match="The source image has no smoke"):
        velloran.Run.from_images(black, "examples/star.png", **PARAMETERS)
    small = tmp_path / "small.png"
    velloran.write_png(small, disc(64))
    with pytest.raises(ValueError, match="The target image is smaller than the source image."):
        velloran.Run.from_images("examples/blob.png", small, **PARAMETERS)


def test_pictures_round_trip_upright(tmp_path):
    picture = np.zeros((6, 4))
    picture[0, :] = 1.0            # bottom row
    picture[5, 3] = 0.5            # top right
    picture[2, 1] = 7.0            # clamped
    picture[3, 2] = np.nan         # written as 0
    path = tmp_path / "p.png"
    velloran.write_png(path, picture)
    back = velloran.density_from_image(path)
    expected = np.clip(np.nan_to_num(picture), 0.0, 1.0)
    assert np.abs(back - expected).max() <= 0.5 / 255 + 1e-12

    with pytest.raises(ValueError):
        velloran.write_png(path, np.zeros(5))
    with pytest.raises(OSError):
        velloran.write_png(tmp_path / "missing-folder" / "p.png", picture)
