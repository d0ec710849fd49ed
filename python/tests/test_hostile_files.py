"""Paths that are not regular files, and checkpoints that are far too long or
never end: every writer refuses to put a file in the place of a device, a FIFO
or a folder, every reader refuses what it would wait on or read forever, and a
refused checkpoint costs next to no memory however long it says it is.

System devices are only ever reached through links in the test's own folder,
and checked to be devices still at the end."""

import os
import signal
import stat
import subprocess
import sys
import zlib

import numpy as np
import pytest

import velloran
import velloran.sweep
from conftest import EXAMPLE

GIB = 1 << 30
MIB = 1 << 20
# A refused checkpoint may cost a buffer, never its length.
MEMORY_LIMIT = 64 * MIB


@pytest.fixture(autouse=True)
def system_devices_survive():
    yield
    for device in ("/dev/null", "/dev/zero"):
        assert stat.S_ISCHR(os.stat(device).st_mode), f"{device} is no longer a device"


def kind(path):
    mode = os.lstat(path).st_mode
    if stat.S_ISLNK(mode):
        return "link to " + os.readlink(path)
    return {stat.S_IFIFO: "fifo", stat.S_IFDIR: "folder"}.get(stat.S_IFMT(mode), "other")


def non_regular(folder, name):
    """The three kinds of path a writer must leave alone, each named `name`."""
    paths = []
    for what in ("device", "fifo", "folder"):
        path = folder / what / name
        path.parent.mkdir(parents=True)
        if what == "device":
            path.symlink_to("/dev/null")
        elif what == "fifo":
            os.mkfifo(path)
        else:
            path.mkdir()
        paths.append(path)
    return paths


def render(renderer, out, *extra, timeout=120):
    """Runs a short render into `out`. A run that has not ended after `timeout`
    seconds is sent SIGTERM (which must end it within a step) and fails."""
    process = subprocess.Popen([renderer, str(EXAMPLE), "--steps", "3", "--out", str(out),
                                "--quiet", *extra], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    try:
        out_text, err_text = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.send_signal(signal.SIGTERM)
        try:
            process.communicate(timeout=60)
            pytest.fail(f"the render was still running after {timeout} s; SIGTERM ended it")
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            pytest.fail(f"the render was still running after {timeout} s and ignored SIGTERM")
    return process.returncode, err_text


def test_writers_leave_devices_fifos_and_folders_alone(tmp_path, small_run, renderer):
    for path in non_regular(tmp_path / "module", "x.out"):
        before = kind(path)
        for write in (lambda: velloran.write_png(path, np.ones((4, 4))),
                      lambda: small_run.save_checkpoint(path),
                      lambda: velloran.sweep.write([{"index": 0}], path)):
            with pytest.raises(OSError, match="not a regular file"):
                write()
        assert kind(path) == before
        assert os.listdir(path.parent) == [path.name]  # no temporary left

    for name in ("frame_000000.png", "checkpoint.vlck", "metrics.csv"):
        for path in non_regular(tmp_path / name, name):
            before = kind(path)
            code, err = render(renderer, path.parent, "--checkpoint-every", "2")
            assert code == 2, err
            assert f"'{path}': not a regular file" in err
            assert kind(path) == before
            assert os.listdir(path.parent) == [name]  # nothing written beside it


def test_fifos_are_never_waited_on(tmp_path):
    # Nobody writes into it: opening it to read would wait forever.
    fifo = tmp_path / "run.vlck"
    os.mkfifo(fifo)
    with pytest.raises(OSError, match="not a regular file"):
        velloran.Run.load_checkpoint(fifo)
    # Written to, a FIFO nobody reads keeps a render from ever getting past its
    # first row of metrics; `render` sends SIGTERM should it wait.


def forged_header(saved, length):
    """A valid header taken from a real checkpoint, saying `length` bytes."""
    header = bytearray(saved[:28])
    header[16:24] = length.to_bytes(8, "little")
    header[24:28] = zlib.crc32(bytes(header[:24])).to_bytes(4, "little")
    return bytes(header)


def peak_memory(code, *arguments, of="self"):
    """Runs Python `code` in a fresh interpreter; returns what it prints and how
    far its memory grew while `code` ran (of="self"), or the peak memory of the
    program it ran (of="children")."""
    who = "RUSAGE_SELF" if of == "self" else "RUSAGE_CHILDREN"
    script = ("import resource, subprocess, sys, velloran\n"
              f"def peak():\n    return resource.getrusage(resource.{who}).ru_maxrss\n"
              "before = peak()\n" + code + "\nprint(peak() - before)\n")
    done = subprocess.run([sys.executable, "-c", script, *arguments], capture_output=True,
                          text=True, timeout=300, check=True)
    lines = done.stdout.strip().splitlines()
    return lines[:-1], int(lines[-1]) * 1024


def test_long_and_endless_checkpoints_are_refused_in_little_memory(tmp_path, small_run,
                                                                   renderer):
    saved_path = tmp_path / "saved.vlck"
    small_run.save_checkpoint(saved_path)
    saved = saved_path.read_bytes()

    endless = tmp_path / "endless.vlck"
    endless.symlink_to("/dev/zero")
    with pytest.raises(OSError, match="not a regular file"):
        velloran.Run.load_checkpoint(endless)

    # A real checkpoint with two gigabytes of zeros after its end: refused by
    # its header alone.
    longer = tmp_path / "longer.vlck"
    longer.write_bytes(saved)
    os.truncate(longer, 2 * GIB)
    with pytest.raises(ValueError, match="bytes after its end"):
        velloran.Run.load_checkpoint(longer)

    # Two gigabytes its header vouches for: refused by the checksum, read a
    # piece at a time; the same file as the renderer's checkpoint.
    vouched = tmp_path / "run" / "checkpoint.vlck"
    vouched.parent.mkdir()
    vouched.write_bytes(forged_header(saved, 2 * GIB))
    os.truncate(vouched, 2 * GIB)
    said, grown = peak_memory(
        "try:\n"
        "    velloran.Run.load_checkpoint(sys.argv[1])\n"
        "except ValueError as error:\n"
        "    print(error)\n", str(vouched))
    assert "checksum does not match" in said[0]
    assert grown < MEMORY_LIMIT
    said, grown = peak_memory(
        "done = subprocess.run(sys.argv[1:], capture_output=True, text=True)\n"
        "print(done.returncode, done.stderr.strip())\n",
        renderer, "--resume", str(vouched.parent), "--quiet", of="children")
    assert said[0].startswith("2 ") and "checksum does not match" in said[0]
    assert grown < MEMORY_LIMIT
