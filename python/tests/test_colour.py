"""Colour runs: a colour target split by a palette, its fields and its picture."""

import pathlib
import subprocess

import numpy as np
import pytest

import velloran

from conftest import REPOSITORY


def test_palette_run_fields_and_picture(tmp_path):
    run = velloran.Run.from_images(REPOSITORY / "examples/blob.png",
                                   REPOSITORY / "examples/ink-ring-star.png",
                                   scheme="sound", palette="auto", colour_mode="dark")
    fields = run.fields
    assert len(fields) == 2
    assert not fields[0].flags.writeable
    # The grey disc shared between ring and star, in their target proportions.
    assert np.isclose(fields[0].sum() + fields[1].sum(), run.mass())
    run.step(2)
    picture = run.picture()
    assert picture.shape == (128, 128, 4) and picture.dtype == np.uint8
    assert picture[0, 0, 3] < 8  # no smoke in the corner: the plate shows through
    with pytest.raises(ValueError, match="a list of 2 densities"):
        run.set_target(fields[0])
    # The run's own target again, read with the palette it found: each field
    # keeps its mass and gets the target a run never retargeted holds (to the
    # rounding of the mass it is scaled to). (The fields themselves part from
    # that run's: a new target clears what the gathering had saved.)
    masses = [field.sum() for field in run.fields]
    twin = velloran.Run.from_images(REPOSITORY / "examples/blob.png",
                                    REPOSITORY / "examples/ink-ring-star.png",
                                    scheme="sound", palette="auto", colour_mode="dark")
    twin.step(2)
    run.set_target(REPOSITORY / "examples/ink-ring-star.png")
    run.step(2)
    twin.step(2)
    assert np.allclose([field.sum() for field in run.fields], masses, rtol=1e-12)
    assert np.allclose(run.target, twin.target, rtol=1e-12, atol=0)
    # A checkpoint carries every field and the colours: the loaded run goes on
    # as the saved one, field for field and in its picture.
    run.save_checkpoint(tmp_path / "colour.vlck")
    loaded = velloran.Run.load_checkpoint(tmp_path / "colour.vlck")
    run.step(3)
    loaded.step(3)
    assert len(loaded.fields) == 2
    for a, b in zip(run.fields, loaded.fields):
        assert np.array_equal(a, b)
    assert np.array_equal(run.picture(), loaded.picture())


def test_colour_configuration_and_bad_palettes(monkeypatch, tmp_path):
    monkeypatch.chdir(REPOSITORY)
    run = velloran.Run.from_config("examples/yin-yang.xml")
    assert len(run.fields) == 2 and run.scheme == "sound"
    grey = velloran.Run.from_images("examples/blob.png", "examples/letter-s.png", scheme="sound")
    assert len(grey.fields) == 1
    with pytest.raises(RuntimeError, match="no colour picture"):
        grey.picture()
    for palette, message in (("9", "1 to 8 colours"), ("red", "not a colour"),
                             ("5", "has 4 colours besides")):
        with pytest.raises(ValueError, match=message):
            velloran.Run.from_images("examples/blob.png", "examples/emblem.png", palette=palette)


def test_keyframed_colour_configuration(tmp_path, renderer):
    # Each field on its own schedule: a blend from the first targets over
    # steps 4..6, then a cut back at step 9.
    keyframed = tmp_path / "keyframed.xml"
    keyframed.write_text(pathlib.Path("examples/yin-yang.xml").read_text().replace(
        "</configuration>",
        '<keyframes><target step="4" blend="3" field="#e03020">examples/yin.png</target>'
        '<target step="4" blend="3" field="#20a0e0">examples/yang.png</target>'
        '<target step="9" field="#20a0e0">examples/yin.png</target>'
        '<target step="9" field="#e03020">examples/yang.png</target></keyframes>'
        "</configuration>"))
    run = velloran.Run.from_config(keyframed)
    assert run.keyframes == [(4, 3), (9, 0)]
    run.step(2)
    # A checkpoint before the blend carries every field's schedule: the loaded
    # run goes on bit for bit through the blend and the cut.
    run.save_checkpoint(tmp_path / "keyframed.vlck")
    loaded = velloran.Run.load_checkpoint(tmp_path / "keyframed.vlck")
    assert loaded.keyframes == run.keyframes
    run.step(10)
    loaded.step(10)
    assert run.target_index == loaded.target_index == 2
    for a, b in zip(run.fields, loaded.fields):
        assert np.array_equal(a, b)
    # And it is the renderer's run of the same file.
    subprocess.run([renderer, str(keyframed), "--steps", "12", "--every", "12", "--format", "npy",
                    "--out", str(tmp_path / "rendered"), "--quiet"], check=True,
                   stdout=subprocess.DEVNULL)
    for colour, field in zip(("e03020", "20a0e0"), run.fields):
        rendered = np.load(tmp_path / "rendered" / f"density.{colour}_000012.npy")
        assert np.array_equal(rendered, field)


def test_fields_from_arrays(monkeypatch):
    # The yin-yang configuration's fields given as arrays make the same run.
    monkeypatch.chdir(REPOSITORY)
    yin = velloran.density_from_image("examples/yin.png")
    yang = velloran.density_from_image("examples/yang.png")
    run = velloran.Run.from_fields([("#e03020", yin, yang), ("20a0e0", yang, yin)],
                                   vf=2, vd=30, vg=0.15, sigma=1, dt=0.001, scheme="sound")
    configured = velloran.Run.from_config("examples/yin-yang.xml")
    run.step(3)
    configured.step(3)
    for a, b in zip(run.fields, configured.fields):
        assert np.array_equal(a, b)
    assert np.array_equal(run.picture(), configured.picture())
    # One field is a colour run too; the grey run's Run() is the same flow.
    single = velloran.Run.from_fields([("#ffffff", yin, yang)], scheme="sound",
                                      vf=2, vd=30, vg=0.15, sigma=1, dt=0.001)
    grey = velloran.Run(yin, yang, scheme="sound", vf=2, vd=30, vg=0.15, sigma=1, dt=0.001)
    single.step(3)
    grey.step(3)
    assert np.array_equal(single.density, grey.density)
    assert single.picture().shape == (128, 128, 4)

    empty = np.zeros_like(yin)
    for fields, message in (([], "1 to 8 fields, not 0"),
                            ([("#ff0000", yin, yang)] * 9, "1 to 8 fields, not 9"),
                            ([("red", yin, yang)], "'red' is not a colour"),
                            ([("#ff0000", yin, yang), ("ff0000", yang, yin)], "#ff0000 comes twice"),
                            ([("#ff0000", yin, yang), ("#00ff00", yin[:64, :64], yin[:64, :64])],
                             "the first's shape, 128 a side, not 64"),
                            ([("#ff0000", yin, empty)], "field #ff0000 target holds no smoke"),
                            ([("#ff0000", yin)], "a \\(colour, source, target\\) triple")):
        with pytest.raises(ValueError, match=message):
            velloran.Run.from_fields(fields, scheme="sound")
    with pytest.raises(ValueError, match="colour_mode"):
        velloran.Run.from_fields([("#ff0000", yin, yang)], scheme="sound", colour_mode="grey")


def test_set_target_of_a_field_run(monkeypatch):
    """A colour picture is split by the run's colours (row 0 on top) as its
    list of densities would say; a field left without smoke is refused."""
    monkeypatch.chdir(REPOSITORY)

    def yin_yang():
        return velloran.Run.from_config("examples/yin-yang.xml")

    n = 128
    picture = np.zeros((n, n, 3), dtype=np.uint8)
    picture[:40] = (0xe0, 0x30, 0x20)   # red on top
    picture[-30:] = (0x20, 0xa0, 0xe0)  # blue at the bottom
    top, bottom = np.zeros((n, n)), np.zeros((n, n))
    top[-40:] = 1.0  # densities have row 0 at the bottom
    bottom[:30] = 1.0
    by_picture, by_list = yin_yang(), yin_yang()
    by_picture.set_target(picture)
    by_list.set_target([top, bottom])
    by_picture.step(3)
    by_list.step(3)
    assert all(np.array_equal(a, b) for a, b in zip(by_picture.fields, by_list.fields))
    picture[-30:] = 0
    for target, message in ((picture, "field #20a0e0 target holds no smoke"),
                            ([top], "a list of 2 densities"),
                            ([top, bottom[:64, :64]], "must be 128 x 128"),
                            (picture[:64], "128 x 128 pixels like the run, not 128 x 64")):
        with pytest.raises(ValueError, match=message):
            yin_yang().set_target(target)
