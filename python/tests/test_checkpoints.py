"""A saved run goes on exactly as the run it was saved from; unusable files
are refused with the documented exceptions."""

import subprocess

import numpy as np
import pytest

import velloran
from conftest import EXAMPLE, PARAMETERS, disc


def same_state(a, b):
    return all(np.array_equal(getattr(a, name).view(np.uint64), getattr(b, name).view(np.uint64))
               for name in ("density", "u", "v", "target"))


@pytest.mark.parametrize("scheme", ["literal", "sound"])
def test_a_loaded_run_goes_on_bit_for_bit(tmp_path, scheme):
    source, first, second = disc(32), disc(32, centre=(0.6, 0.4)), disc(32, radius=0.1)
    # Saved in the middle of a blend, so the schedule must resume mid-way too.
    gathering = 0.1 if scheme == "sound" else 0.0
    run = velloran.Run(source, first, **{**PARAMETERS, "vg": gathering}, scheme=scheme,
                       keyframes=[(20, second, 10), (40, first)])
    run.step(25)
    path = tmp_path / "run.vlck"
    run.save_checkpoint(path)
    loaded = velloran.Run.load_checkpoint(path, threads=1)
    assert (loaded.steps, loaded.scheme, loaded.keyframes, loaded.parameters) == \
        (25, scheme, [(20, 10), (40, 0)], run.parameters)
    assert loaded.target_index == run.target_index == 1
    assert same_state(loaded, run)
    run.step(30)
    loaded.step(30)
    assert loaded.target_index == 2
    assert same_state(loaded, run)
    assert loaded.distance() == run.distance()


def test_a_checkpoint_is_replaced_whole(tmp_path, small_run):
    path = tmp_path / "run.vlck"
    small_run.save_checkpoint(path)
    small_run.step(5)
    small_run.save_checkpoint(path)
    assert velloran.Run.load_checkpoint(path).steps == 5
    assert [p.name for p in tmp_path.iterdir()] == ["run.vlck"]  # no temporary left behind
    with pytest.raises(OSError):
        small_run.save_checkpoint(tmp_path / "no-folder" / "run.vlck")


def test_unusable_checkpoints(tmp_path, small_run):
    with pytest.raises(FileNotFoundError):
        velloran.Run.load_checkpoint(tmp_path / "none.vlck")
    path = tmp_path / "run.vlck"
    small_run.save_checkpoint(path)
    data = bytearray(path.read_bytes())

    corrupted = tmp_path / "corrupted.vlck"
    flipped = data.copy()
    flipped[len(flipped) // 2] ^= 0x40
    corrupted.write_bytes(bytes(flipped))
    with pytest.raises(ValueError, match="corrupted"):
        velloran.Run.load_checkpoint(corrupted)

    truncated = tmp_path / "truncated.vlck"
    truncated.write_bytes(bytes(data[:len(data) // 3]))
    with pytest.raises(ValueError, match="truncated"):
        velloran.Run.load_checkpoint(truncated)

    text = tmp_path / "text.vlck"
    text.write_text("not a checkpoint at all")
    with pytest.raises(ValueError, match="not a checkpoint"):
        velloran.Run.load_checkpoint(text)

    with pytest.raises(ValueError, match="threads"):
        velloran.Run.load_checkpoint(path, threads=0)


def test_a_renderer_checkpoint_is_left_to_the_renderer(tmp_path, renderer):
    usage = subprocess.run([renderer, "--help"], capture_output=True, text=True).stdout
    if "--checkpoint-every" not in usage:
        pytest.skip("this renderer writes no checkpoints yet")
    out = tmp_path / "out"
    subprocess.run([renderer, EXAMPLE, "--steps", "4", "--checkpoint-every", "2",
                    "--format", "none", "--out", out, "--quiet"], check=True,
                   stdout=subprocess.DEVNULL)
    with pytest.raises(ValueError, match="velloran-render --resume"):
        velloran.Run.load_checkpoint(out / "checkpoint.vlck")
