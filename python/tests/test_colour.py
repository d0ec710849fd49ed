"""Colour runs: a colour target split by a palette, its fields and its picture."""

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
    with pytest.raises(RuntimeError):
        run.set_target(fields[0])
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


def test_colour_configuration_and_bad_palettes(monkeypatch):
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
