#!/usr/bin/env python3
"""A small wedge: one run for every combination of vf and sigma, in parallel
processes.

Each run starts from a configuration file with vf and sigma replaced, takes
the given number of steps and keeps its lowest distance to the target and
the step where it fell. Writes, into the output folder:

    sweep.csv  one row per combination: vf, sigma, best_distance, best_step,
               final_distance, status
    sweep.png  a contact sheet of the final frames, one row per vf (the first
               at the top), one column per sigma

From the repository root, after a build:

    PYTHONPATH=build/release/python /usr/bin/python3 python/examples/sweep.py
    PYTHONPATH=build/release/python /usr/bin/python3 python/examples/sweep.py \\
        --config examples/ring-to-star.xml --vf 0.5 1 2 --sigma 0.7 1.3 --steps 1500
"""

import argparse
import concurrent.futures
import csv
import itertools
import os
import pathlib
import sys

import numpy as np

import velloran

GAP = 2  # cells between the pictures of the contact sheet
GAP_SHADE = 0.25


def run_one(config, vf, sigma, steps):
    """One combination; returns its table row and its final density."""
    # One thread each: the processes already share the cores.
    run = velloran.Run.from_config(config, vf=vf, sigma=sigma, threads=1)
    best, best_step = run.distance(), 0
    status = "ok"
    try:
        for _ in range(steps):
            run.step()
            distance = run.distance()
            if distance < best:
                best, best_step = distance, run.steps
    except velloran.UnstableError:
        status = f"unstable at step {run.steps}"
    row = dict(vf=run.parameters["vf"], sigma=run.parameters["sigma"],
               best_distance=best, best_step=best_step, final_distance=run.distance(),
               status=status)
    return row, run.density[1:-1, 1:-1].copy()


def contact_sheet(frames, rows, columns):
    """Frames (row-major, the first row on top) tiled into one array."""
    n = frames[0].shape[0]
    pitch = n + GAP
    sheet = np.full((rows * pitch + GAP, columns * pitch + GAP), GAP_SHADE)
    for index, frame in enumerate(frames):
        row, column = divmod(index, columns)
        bottom = (rows - 1 - row) * pitch + GAP  # array row 0 is the bottom
        left = column * pitch + GAP
        sheet[bottom:bottom + n, left:left + n] = frame
    return sheet


def main(arguments):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--config", default="examples/blob-to-s.xml")
    parser.add_argument("--vf", type=float, nargs="+", default=[0.3, 0.5, 1.0])
    parser.add_argument("--sigma", type=float, nargs="+", default=[1.6, 2.2, 3.1])
    parser.add_argument("--steps", type=int, default=500)
    parser.add_argument("--out", default="sweep-out")
    parser.add_argument("--processes", type=int, default=os.cpu_count())
    options = parser.parse_args(arguments)

    combinations = list(itertools.product(options.vf, options.sigma))
    with concurrent.futures.ProcessPoolExecutor(options.processes) as pool:
        futures = [pool.submit(run_one, options.config, vf, sigma, options.steps)
                   for vf, sigma in combinations]
        results = [future.result() for future in futures]

    out = pathlib.Path(options.out)
    out.mkdir(parents=True, exist_ok=True)
    rows = [row for row, _ in results]
    with open(out / "sweep.csv", "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=list(rows[0]))
        writer.writeheader()
        writer.writerows(rows)
    sheet = contact_sheet([frame for _, frame in results], len(options.vf), len(options.sigma))
    velloran.write_png(out / "sweep.png", sheet)

    print(f"{'vf':>6} {'sigma':>6} {'best':>8} {'at step':>8} {'final':>8}  status")
    for row in rows:
        print(f"{row['vf']:6g} {row['sigma']:6g} {row['best_distance']:8.4f} "
              f"{row['best_step']:8d} {row['final_distance']:8.4f}  {row['status']}")
    print(f"table: {out / 'sweep.csv'}\ncontact sheet: {out / 'sweep.png'}")


if __name__ == "__main__":
    main(sys.argv[1:])
