#!/usr/bin/env python3
"""Steps per second of the same run from Python and from velloran-render.

The renderer reports its solver-only rate; the module is timed around one
run.step(count) call (which also checks every step for non-finite values,
as the renderer does). A third column times run.step() called once per step,
for the cost of a Python call per step. The programs take turns, round after
round, so that a change in the machine's load reaches all of them alike;
the table gives medians and the ratio module / renderer.

    PYTHONPATH=build/release/python /usr/bin/python3 python/bench/steps_per_second.py \\
        --renderer build/release/src/render/velloran-render

It wants an idle machine.
"""

import argparse
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import velloran

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]

CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<configuration>
    <parameters>
        <vf>0.5</vf> <vd>5</vd> <vg>0</vg> <sigma>{sigma}</sigma> <dt>{dt}</dt>
    </parameters>
    <images>
        <source>{source}</source>
        <target>{target}</target>
    </images>
</configuration>
"""

# blob-to-s, and the same pictures enlarged twice (wider blur, shorter time
# step: at 256 the example's own time step is unstable).
SIZES = {128: dict(sigma=2.2, dt=0.001, scale=1), 256: dict(sigma=4.4, dt=0.0005, scale=2)}


def write_case(folder, size):
    case = SIZES[size]
    enlarge = np.ones((case["scale"], case["scale"]))
    paths = {}
    for role, name in (("source", "blob"), ("target", "letter-s")):
        density = velloran.density_from_image(REPOSITORY / "examples" / f"{name}.png")
        paths[role] = folder / f"{name}-{size}.png"
        velloran.write_png(paths[role], np.kron(density, enlarge))
    config = folder / f"case-{size}.xml"
    config.write_text(CONFIG.format(sigma=case["sigma"], dt=case["dt"], **paths))
    return config


def renderer_rate(renderer, config, steps, out):
    result = subprocess.run([renderer, config, "--steps", str(steps), "--format", "none",
                             "--out", out, "--quiet"], check=True, capture_output=True,
                            text=True)
    return float(re.search(r"([0-9.]+) steps/s \(solver only\)", result.stdout).group(1))


def module_rate(config, steps):
    run = velloran.Run.from_config(config)
    start = time.perf_counter()
    run.step(steps)
    return steps / (time.perf_counter() - start)


def module_rate_per_call(config, steps):
    run = velloran.Run.from_config(config)
    start = time.perf_counter()
    for _ in range(steps):
        run.step()
    return steps / (time.perf_counter() - start)


def main(arguments):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--renderer", default=REPOSITORY / "build/release/src/render/velloran-render")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--steps", type=int, nargs=2, default=[1000, 300],
                        help="steps per measurement at 128 and at 256")
    options = parser.parse_args(arguments)

    print(f"{'size':>9} {'renderer':>10} {'module':>10} {'per call':>10} {'ratio':>7}"
          "   (steps/s, medians of {} rounds)".format(options.rounds))
    with tempfile.TemporaryDirectory() as scratch:
        folder = pathlib.Path(scratch)
        for size, steps in zip(SIZES, options.steps):
            config = write_case(folder, size)
            rates = {"renderer": [], "module": [], "per call": []}
            for _ in range(options.rounds):
                rates["renderer"].append(
                    renderer_rate(options.renderer, config, steps, folder / "out"))
                rates["module"].append(module_rate(config, steps))
                rates["per call"].append(module_rate_per_call(config, steps))
            median = {name: statistics.median(values) for name, values in rates.items()}
            print(f"{size:4d} x {size:<3d} {median['renderer']:10.1f} {median['module']:10.1f} "
                  f"{median['per call']:10.1f} {median['module'] / median['renderer']:7.3f}")


if __name__ == "__main__":
    main(sys.argv[1:])
