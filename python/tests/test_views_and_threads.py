"""The run's arrays are live read-only views; stepping leaves other Python
threads running; a run is never used by two threads at once; failures of
the run itself surface as exceptions."""

import gc
import os
import signal
import subprocess
import threading
import time

import numpy as np
import pytest

import velloran
from conftest import PARAMETERS, disc


def test_views_are_read_only(small_run):
    for name in ("density", "u", "v", "target"):
        view = getattr(small_run, name)
        assert view.shape == (34, 34) and view.dtype == np.float64
        with pytest.raises(ValueError):
            view[1, 1] = 0.0
        with pytest.raises(ValueError):
            view.flags.writeable = True


def test_views_follow_the_run_and_keep_it_alive(small_run):
    density = small_run.density
    snapshot = density.copy()
    assert not np.shares_memory(snapshot, density)
    small_run.step(5)
    assert np.shares_memory(density, small_run.density)
    assert not np.array_equal(density, snapshot)
    assert np.array_equal(density, small_run.density)

    u = small_run.u
    final = u.copy()
    del small_run
    gc.collect()
    assert np.array_equal(u, final)  # the view still reads the run's memory


def test_measures_agree_with_the_views(small_run):
    small_run.step(10)
    rho = small_run.density[1:-1, 1:-1]
    target = small_run.target[1:-1, 1:-1]
    assert small_run.mass() == pytest.approx(rho.sum(), rel=1e-12)
    assert small_run.distance() == pytest.approx(np.abs(rho - target).sum() / target.sum(),
                                                 rel=1e-12)
    speed = np.hypot(small_run.u[1:-1, 1:-1], small_run.v[1:-1, 1:-1])
    assert small_run.max_speed() == pytest.approx(speed.max(), rel=1e-12)
    assert "32 x 32, step 10" in repr(small_run)


def long_run():
    """A run and a step count that takes about a second on this machine."""
    run = velloran.Run(disc(64), disc(64, radius=0.15), **PARAMETERS)
    start = time.perf_counter()
    run.step(20)
    per_step = (time.perf_counter() - start) / 20
    return run, max(100, int(1.0 / per_step))


def test_stepping_releases_the_interpreter_lock():
    run, count = long_run()
    stepper = threading.Thread(target=run.step, args=(count,))
    seen = set()
    stepper.start()
    while stepper.is_alive():
        seen.add(run.steps)
    stepper.join()
    assert run.steps == 20 + count
    # Holding the lock through the step would keep this thread from running
    # until the step had ended: it could never see a count in between. (A
    # count, not a time, so a busy machine cannot change the verdict.)
    assert len({steps for steps in seen if 20 < steps < 20 + count}) >= 2


def test_a_run_refuses_a_second_thread_while_stepping():
    run, count = long_run()
    stepper = threading.Thread(target=run.step, args=(3 * count,))
    stepper.start()
    while run.steps == 20:
        time.sleep(0.001)
    refused = [lambda: run.step(), run.distance, run.mass, lambda: run.density,
               lambda: run.target, lambda: run.set_target(disc(64))]
    for use in refused:
        with pytest.raises(RuntimeError, match="stepping in another thread"):
            use()
    seen = run.steps  # the counter alone may be read
    stepper.join()
    assert 20 < seen <= run.steps == 20 + 3 * count
    run.step()  # free again
    assert run.steps == 21 + 3 * count


def test_ctrl_c_stops_a_long_step_between_two_steps(small_run):
    count = 10**7

    def interrupt_once_stepping():
        # Once the step has begun, however long a busy machine takes to get there.
        while small_run.steps == 0:
            time.sleep(0.001)
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Thread(target=interrupt_once_stepping)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        small_run.step(count)
    timer.join()
    stopped = small_run.steps
    assert 0 < stopped < count
    small_run.step(2)
    assert small_run.steps == stopped + 2


UNSTABLE = dict(vf=1000, vd=0, vg=1, sigma=0.5, dt=0.05)


def test_an_unstable_run_raises_at_the_step_the_renderer_names(renderer, tmp_path):
    source, target = disc(16), disc(16, centre=(0.6, 0.6), radius=0.2)
    run = velloran.Run(source, target, **UNSTABLE)
    with pytest.raises(velloran.UnstableError, match="non-finite at step") as raised:
        run.step(1000)
    failed = run.steps
    assert 0 < failed < 1000 and f"step {failed}" in str(raised.value)
    assert not np.isfinite(run.density).all() or not np.isfinite(run.u).all() \
        or not np.isfinite(run.v).all()
    with pytest.raises(velloran.UnstableError, match="cannot go on"):
        run.step()
    assert run.steps == failed
    assert isinstance(run.distance(), float)  # measures still answer

    # The renderer, given the same pictures and parameters, stops at the same step.
    velloran.write_png(tmp_path / "s.png", source)
    velloran.write_png(tmp_path / "t.png", target)
    options = [f"--{name}={value}" for name, value in UNSTABLE.items()]
    result = subprocess.run([renderer, "--source", tmp_path / "s.png", "--target",
                             tmp_path / "t.png", *options, "--steps", "1000", "--format", "none",
                             "--out", tmp_path / "out", "--quiet"], capture_output=True, text=True)
    assert result.returncode == 3, result.stderr
    assert f"non-finite at step {failed};" in result.stderr


def test_a_run_cannot_be_used_after_a_fork():
    # A shared run: its helper threads start with the first step, and a
    # forked child has none of them.
    run = velloran.Run(disc(200), disc(200, radius=0.2), **PARAMETERS, threads=2)
    run.step()
    child = os.fork()
    if child == 0:
        code = 1
        try:
            run.step()
        except RuntimeError:
            code = 0
        del run
        gc.collect()  # must not wait for helper threads that do not exist here
        os._exit(code)
    deadline = time.monotonic() + 60
    while True:
        pid, status = os.waitpid(child, os.WNOHANG)
        if pid or time.monotonic() > deadline:
            break
        time.sleep(0.01)
    if not pid:
        os.kill(child, signal.SIGKILL)
        os.waitpid(child, 0)
    assert pid and os.waitstatus_to_exitcode(status) == 0
    run.step()  # the parent's run is untouched
    assert run.steps == 2
