"""Paths that are not regular files, and checkpoints that are far too long or
never end: every writer refuses to put a file in the place of a device, a FIFO
or a folder, every reader refuses what it would wait on or read forever, and a
refused checkpoint costs next to no memory however long it says it is.

A writer that is wrong may replace what a link points at (Qt's QSaveFile
resolves links), so the writers and readers under test run in child processes
that cannot do harm: as an unprivileged user (nothing in /dev can be replaced)
and with their address space capped (an endless read fails at once). System
devices are reached only through links in the test's own folder, and are
checked to be devices still at the end."""

import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import zlib

import pytest

import velloran
from conftest import EXAMPLE

GIB = 1 << 30
MIB = 1 << 20
# A refused checkpoint may cost a buffer, never its length.
MEMORY_LIMIT = 64 * MIB
NOBODY = 65534


@pytest.fixture(autouse=True)
def system_devices_survive():
    yield
    for device in ("/dev/null", "/dev/zero"):
        assert stat.S_ISCHR(os.stat(device).st_mode), f"{device} is no longer a device"


@pytest.fixture
def folder():
    """A folder the unprivileged children can write into (pytest's own is
    private to its user)."""
    path = tempfile.mkdtemp(prefix="velloran-hostile-")
    os.chmod(path, 0o777)
    yield path
    shutil.rmtree(path)


def harmless():
    """Runs in a child before it starts: no root, and at most 2 GiB of
    address space."""
    import resource
    resource.setrlimit(resource.RLIMIT_AS, (2 * GIB, 2 * GIB))
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(NOBODY)
        os.setuid(NOBODY)


def child(code, *arguments):
    """Runs Python `code` in a harmless fresh interpreter with the module;
    returns the lines it prints."""
    done = subprocess.run([sys.executable, "-c", "import sys, velloran\n" + code, *arguments],
                          capture_output=True, text=True, timeout=300, preexec_fn=harmless)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def peak_memory(code, *arguments, of="self"):
    """What `code` prints in a harmless child and how far its memory grew while
    `code` ran (of="self"), or the peak memory of the program it ran
    (of="children")."""
    who = "RUSAGE_SELF" if of == "self" else "RUSAGE_CHILDREN"
    lines = child("import resource, subprocess\n"
                  f"def peak():\n    return resource.getrusage(resource.{who}).ru_maxrss\n"
                  "before = peak()\n" + code + "\nprint(peak() - before)\n", *arguments)
    return lines[:-1], int(lines[-1]) * 1024


def kind(path):
    mode = os.lstat(path).st_mode
    if stat.S_ISLNK(mode):
        return "link to " + os.readlink(path)
    return {stat.S_IFIFO: "fifo", stat.S_IFDIR: "folder"}.get(stat.S_IFMT(mode), "other")


def non_regular(folder, name):
    """The three kinds of path a writer must leave alone, each named `name` in
    a folder of its own."""
    paths = []
    for what in ("device", "fifo", "folder"):
        path = os.path.join(folder, name + "-" + what, name)
        os.mkdir(os.path.dirname(path))
        os.chmod(os.path.dirname(path), 0o777)
        if what == "device":
            os.symlink("/dev/null", path)
        elif what == "fifo":
            os.mkfifo(path)
        else:
            os.mkdir(path)
        paths.append(path)
    return paths


def render(renderer, out, *extra, timeout=120):
    """Runs a short render into `out`, harmless. A run that has not ended after
    `timeout` seconds is sent SIGTERM (which must end it within a step) and
    fails."""
    process = subprocess.Popen([renderer, str(EXAMPLE), "--steps", "3", "--out", out,
                                "--quiet", *extra], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, preexec_fn=harmless)
    try:
        _, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.send_signal(signal.SIGTERM)
        try:
            process.communicate(timeout=60)
            pytest.fail(f"the render was still running after {timeout} s; SIGTERM ended it")
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            pytest.fail(f"the render was still running after {timeout} s and ignored SIGTERM")
    return process.returncode, err


WRITE_EVERY_WAY = """
import numpy as np, velloran.sweep
smoke = np.zeros((16, 16))
smoke[4:12, 4:12] = 1.0
run = velloran.Run(smoke, smoke, vf=0.5, vd=5, vg=0, sigma=2.2, dt=0.001)
for path in sys.argv[1:]:
    for write in (lambda: velloran.write_png(path, smoke), lambda: run.save_checkpoint(path),
                  lambda: velloran.sweep.write([{"index": 0}], path)):
        try:
            write()
            print("written", path)
        except OSError as error:
            print(error)
"""


def test_writers_leave_devices_fifos_and_folders_alone(folder, renderer):
    paths = non_regular(folder, "x.out")
    before = [kind(path) for path in paths]
    said = child(WRITE_EVERY_WAY, *paths)
    assert said == [f"could not write '{path}': not a regular file"
                    for path in paths for _ in range(3)]
    assert [kind(path) for path in paths] == before
    assert all(os.listdir(os.path.dirname(path)) == ["x.out"] for path in paths)

    for name in ("frame_000000.png", "checkpoint.vlck", "metrics.csv"):
        for path in non_regular(folder, name):
            before = kind(path)
            code, err = render(renderer, os.path.dirname(path), "--checkpoint-every", "2")
            assert code == 2, err
            assert f"'{path}': not a regular file" in err
            assert kind(path) == before
            assert os.listdir(os.path.dirname(path)) == [name]  # nothing written beside it


def test_fifos_are_never_waited_on(folder):
    # Nobody writes into it: opening it to read would wait forever. Written
    # to, a FIFO nobody reads would hold a render at its first row of
    # metrics; `render` above sends SIGTERM should it wait.
    fifo = os.path.join(folder, "run.vlck")
    os.mkfifo(fifo)
    assert child("try:\n    velloran.Run.load_checkpoint(sys.argv[1])\n"
                 "except OSError as error:\n    print(error)\n", fifo) == \
        [f"could not read the checkpoint: not a regular file ('{fifo}')"]


def forged_header(saved, length):
    """A valid header taken from a real checkpoint, saying `length` bytes."""
    header = bytearray(saved[:28])
    header[16:24] = length.to_bytes(8, "little")
    header[24:28] = zlib.crc32(bytes(header[:24])).to_bytes(4, "little")
    return bytes(header)


LOAD = """
try:
    velloran.Run.load_checkpoint(sys.argv[1])
except (OSError, ValueError) as error:
    print(error)
"""


def test_long_and_endless_checkpoints_are_refused_in_little_memory(folder, small_run, renderer):
    saved_path = os.path.join(folder, "saved.vlck")
    small_run.save_checkpoint(saved_path)
    with open(saved_path, "rb") as f:
        saved = f.read()

    endless = os.path.join(folder, "endless.vlck")
    os.symlink("/dev/zero", endless)
    said, grown = peak_memory(LOAD, endless)
    assert said == [f"could not read the checkpoint: not a regular file ('{endless}')"]
    assert grown < MEMORY_LIMIT

    # A real checkpoint with two gigabytes of zeros after its end: refused by
    # its header alone.
    longer = os.path.join(folder, "longer.vlck")
    with open(longer, "wb") as f:
        f.write(saved)
    os.truncate(longer, 2 * GIB)
    assert "bytes after its end" in child(LOAD, longer)[0]

    # Two gigabytes its header vouches for: refused by the checksum, read a
    # piece at a time; the same file as the renderer's checkpoint.
    run_folder = os.path.join(folder, "run")
    os.mkdir(run_folder)
    os.chmod(run_folder, 0o777)
    vouched = os.path.join(run_folder, "checkpoint.vlck")
    with open(vouched, "wb") as f:
        f.write(forged_header(saved, 2 * GIB))
    os.truncate(vouched, 2 * GIB)
    said, grown = peak_memory(LOAD, vouched)
    assert "checksum does not match" in said[0]
    assert grown < MEMORY_LIMIT
    said, grown = peak_memory(
        "done = subprocess.run(sys.argv[1:], capture_output=True, text=True)\n"
        "print(done.returncode, done.stderr.strip())\n",
        renderer, "--resume", run_folder, "--quiet", of="children")
    assert said[0].startswith("2 ") and "checksum does not match" in "\n".join(said)
    assert grown < MEMORY_LIMIT
