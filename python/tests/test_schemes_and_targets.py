"""The sound scheme, new targets by hand and keyframed targets from arrays or
from a configuration file."""

import numpy as np
import pytest

import velloran
from conftest import EXAMPLE, PARAMETERS, disc

STAR = "examples/star.png"


def same_bits(a, b):
    return a.shape == b.shape and np.array_equal(a.view(np.uint64), b.view(np.uint64))


def same_state(a, b):
    return all(same_bits(getattr(a, name), getattr(b, name))
               for name in ("density", "u", "v", "target"))


def keyframed_config(tmp_path, keyframes, scheme=None):
    text = EXAMPLE.read_text()
    extra = f"    <scheme>{scheme}</scheme>\n" if scheme else ""
    if keyframes:
        extra += "    <keyframes>\n" + "".join(
            f'        <target step="{step}"{f" blend={chr(34)}{blend}{chr(34)}" if blend else ""}>'
            f"{image}</target>\n" for step, image, blend in keyframes) + "    </keyframes>\n"
    path = tmp_path / "keyframed.xml"
    path.write_text(text.replace("</configuration>", extra + "</configuration>"))
    return path


def test_schemes():
    source, target = disc(32), disc(32, centre=(0.6, 0.4), radius=0.2)
    literal = velloran.Run(source, target, **PARAMETERS)
    sound = velloran.Run(source, target, **PARAMETERS, scheme="sound")
    assert (literal.scheme, sound.scheme) == ("literal", "sound")
    start = sound.mass()
    for run in (literal, sound):
        run.step(50)
    assert not np.array_equal(literal.density, sound.density)
    assert sound.mass() == pytest.approx(start, rel=1e-12)  # the sound scheme keeps its mass
    assert sound.density.min() >= 0.0
    for word in ("Sound", "", "fast"):
        with pytest.raises(ValueError, match="literal.*sound"):
            velloran.Run(source, target, **PARAMETERS, scheme=word)


def test_sound_defaults_fill_what_is_not_given():
    source, target = disc(32), disc(32, centre=(0.6, 0.4), radius=0.2)
    with pytest.warns(velloran.ParameterWarning, match="sound scheme's default") as caught:
        run = velloran.Run(source, target, scheme="sound", vf=3)
    assert len(caught) == 4
    assert run.parameters == {"vf": 3, "vd": 30, "vg": 0.15, "sigma": 1, "dt": 0.001}
    with pytest.raises(TypeError, match="only scheme=.sound. has defaults"):
        velloran.Run(source, target, vf=3)


def test_scheme_from_a_configuration(tmp_path):
    assert velloran.Run.from_config(EXAMPLE).scheme == "literal"
    sound = keyframed_config(tmp_path, [], scheme="sound")
    assert velloran.Run.from_config(sound).scheme == "sound"
    assert velloran.Run.from_config(sound, scheme="literal").scheme == "literal"
    assert velloran.Run.from_images("examples/blob.png", STAR, **PARAMETERS,
                                    scheme="sound").scheme == "sound"
    with pytest.raises(ValueError, match="unknown scheme"):
        velloran.Run.from_config(keyframed_config(tmp_path, [], scheme="loud"))


@pytest.mark.parametrize("scheme", ["literal", "sound"])
def test_a_keyframe_equals_a_target_set_by_hand(scheme):
    source, first, second = disc(32), disc(32, centre=(0.6, 0.4)), disc(32, radius=0.1)
    by_hand = velloran.Run(source, first, **PARAMETERS, scheme=scheme)
    # A keyframe at step 20 takes over once 20 steps are done.
    keyed = velloran.Run(source, first, **PARAMETERS, scheme=scheme, keyframes=[(20, second)])
    assert keyed.keyframes == [(20, 0)] and by_hand.keyframes == []
    by_hand.step(20)
    by_hand.set_target(second)
    keyed.step(20)
    assert keyed.target_index == 0  # the first target drove the last step
    keyed.step(1)
    assert keyed.target_index == 1
    by_hand.step(20)
    keyed.step(19)
    assert keyed.target_index == 1 and by_hand.target_index == 0
    assert same_state(by_hand, keyed)
    # The new target carries the smoke's mass, and the distance is measured to it.
    assert by_hand.target[1:-1, 1:-1].sum() == pytest.approx(by_hand.mass(), rel=1e-12)
    rho, target = by_hand.density[1:-1, 1:-1], by_hand.target[1:-1, 1:-1]
    assert by_hand.distance() == pytest.approx(abs(rho - target).sum() / target.sum(), rel=1e-12)


def test_a_blend_mixes_the_targets_over_its_steps():
    source, first, second = disc(16), disc(16, centre=(0.3, 0.3)), disc(16, centre=(0.7, 0.7))
    run = velloran.Run(source, first, **PARAMETERS, keyframes=[(10, second, 5)])
    run.step(10)
    assert run.target_index == 0
    run.step(2)  # the 11th and 12th steps: a mixture of both
    assert run.target_index == 1
    held = run.target[1:-1, 1:-1]
    assert held[first > 0].min() > 0 and held[second > 0].min() > 0
    run.step(3)  # the 15th step is the last of the blend: the second target alone
    held = run.target[1:-1, 1:-1]
    assert held[second == 0].max() == 0.0 and held[second > 0].min() > 0


def test_keyframes_from_a_configuration(tmp_path):
    config = keyframed_config(tmp_path, [(30, STAR, 0)])
    keyed = velloran.Run.from_config(config)
    plain = velloran.Run.from_config(EXAMPLE)
    assert keyed.keyframes == [(30, 0)]
    keyed.step(60)
    plain.step(30)
    plain.set_target(velloran.density_from_image(STAR))
    plain.step(30)
    assert keyed.target_index == 1
    assert same_state(keyed, plain)

    with pytest.raises(ValueError, match="cannot be started in reverse"):
        velloran.Run.from_config(config, reverse=True)
    with pytest.raises(FileNotFoundError, match="keyframe"):
        velloran.Run.from_config(keyframed_config(tmp_path, [(30, tmp_path / "no.png", 0)]))
    small = tmp_path / "small.png"
    velloran.write_png(small, disc(64))
    with pytest.raises(ValueError, match="64 x 64 pixels; the target image is 128 x 128"):
        velloran.Run.from_config(keyframed_config(tmp_path, [(30, small, 0)]))
    with pytest.raises(ValueError, match="steps must increase"):
        velloran.Run.from_config(keyframed_config(tmp_path, [(30, STAR, 0), (30, STAR, 0)]))


@pytest.mark.parametrize("keyframes, message", [
    ("star", "list of"),
    ([(10,)], r"\(step, target\)"),
    ([(0, disc(8))], "after step 0"),
    ([(10, disc(8)), (10, disc(8))], "steps must increase"),
    ([(10.0, disc(8))], "whole number"),
    ([(True, disc(8))], "whole number"),
    ([(10, disc(8), -1)], "must not be negative"),
    ([(10, disc(8), 2.5)], "whole number"),
    ([(10, disc(16))], "8 x 8 like the source"),
    ([(10, -disc(8))], "negative value"),
    ([(10, np.zeros((8, 8)))], "at step 10 holds no smoke"),
])
def test_bad_keyframes(keyframes, message):
    with pytest.raises(ValueError, match=message):
        velloran.Run(disc(8), disc(8), **PARAMETERS, keyframes=keyframes)


def test_bad_targets_by_hand(small_run):
    with pytest.raises(ValueError, match="32 x 32 like the run"):
        small_run.set_target(disc(16))
    with pytest.raises(ValueError, match="not finite"):
        small_run.set_target(np.full((32, 32), np.nan))
    before = small_run.target.copy()
    with pytest.raises(ValueError, match="negative"):
        small_run.set_target(-disc(32))
    with pytest.raises(ValueError, match="target holds no smoke"):
        small_run.set_target(np.zeros((32, 32)))
    assert same_bits(small_run.target, before)  # a refused target changes nothing


def test_sound_keyframed_run_equals_renderer(renderer, tmp_path):
    import csv
    import subprocess
    usage = subprocess.run([renderer, "--help"], capture_output=True, text=True).stdout
    if "--scheme" not in usage:
        pytest.skip("this renderer has no --scheme yet")
    config = keyframed_config(tmp_path, [(30, STAR, 10)], scheme="sound")
    out = tmp_path / "out"
    subprocess.run([renderer, config, "--steps", "60", "--every", "60", "--format", "npy",
                    "--out", out, "--quiet"], check=True, stdout=subprocess.DEVNULL)
    with open(out / "metrics.csv", newline="") as f:
        rows = {int(row["step"]): row for row in csv.DictReader(f)}
    run = velloran.Run.from_config(config)
    for step in range(1, 61):
        run.step()
        assert run.target_index == int(rows[step]["target"]), step
        assert run.distance() == pytest.approx(float(rows[step]["distance"]), rel=1e-9)
    for name in ("density", "u", "v"):
        assert same_bits(getattr(run, name), np.load(out / f"{name}_000060.npy")), name
