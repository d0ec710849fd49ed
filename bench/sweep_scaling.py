#!/usr/bin/env python3
"""What a wedge costs spread over processes: a 16-run wedge of the sound
scheme at 128 x 128 (vf x vg x sigma x vd, two values each), timed

  single   the 16 renders one after another (velloran-render --sweep ... --index K)
  pool     velloran.sweep.run with the local pool (one render per core)
  dask     velloran.sweep.run on a distributed.LocalCluster of 2 worker processes
           (started beforehand and not counted)

and the same for 16 runs of one step each, whose wall time is nearly all
overhead (starting the renderer, reading the images, scheduling, the summary).
Scaling efficiency = single / (cores x sweep). Each figure is the median of
--repeat rounds, the three ways measured side by side in every round.

From the repository root, after a build:

    PYTHONPATH=build/rel/python /usr/bin/python3 bench/sweep_scaling.py \\
        --renderer build/rel/src/render/velloran-render
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

import velloran.sweep as sweep

BASE = dict(source="examples/blob.png", target="examples/letter-s.png", scheme="sound",
            dt=0.001, every=100, format="png")
AXES = dict(vf=[1, 2], vg=[0.15, 0.5], sigma=[1, 2], vd=[10, 30])


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def one_by_one(renderer, setups, out):
    sweep_file = sweep.write(setups, os.path.join(out, "sweep.json"))
    for k in range(len(setups)):
        subprocess.run([renderer, "--sweep", sweep_file, "--index", str(k), "--out", out,
                        "--quiet"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([renderer, "--sweep", sweep_file, "--summary", "--out", out], check=True,
                   stdout=subprocess.DEVNULL)


def measure(renderer, client, steps, rounds, cores):
    setups = sweep.grid(dict(BASE, steps=steps), **AXES)
    times = {"single": [], "pool": [], "dask": []}
    for _ in range(rounds):
        for way in times:
            out = tempfile.mkdtemp(prefix="velloran-sweep-bench-")
            try:
                if way == "single":
                    times[way].append(timed(lambda: one_by_one(renderer, setups, out)))
                else:
                    times[way].append(timed(lambda: sweep.run(
                        setups, client=client if way == "dask" else None, out=out,
                        workers=cores, renderer=renderer, progress=False)))
                    assert all(row["status"] == "ok" for row in sweep.read_table(
                        os.path.join(out, "sweep.csv")))
            finally:
                shutil.rmtree(out)
    return {way: statistics.median(values) for way, values in times.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--renderer", default=None)
    parser.add_argument("--steps", type=int, default=300)
    parser.add_argument("--repeat", type=int, default=3)
    options = parser.parse_args()
    renderer = sweep.find_renderer(options.renderer)
    import distributed
    cores = 2
    with distributed.LocalCluster(n_workers=cores, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        runs = measure(renderer, client, options.steps, options.repeat, cores)
        empty = measure(renderer, client, 1, options.repeat, cores)
    n = 16
    print(f"16 runs of {options.steps} sound steps at 128 x 128, {cores} cores, "
          f"median of {options.repeat}:")
    print(f"  single  {runs['single']:7.2f} s   (1-step runs {empty['single']:5.2f} s, "
          f"{1000 * empty['single'] / n:4.0f} ms a run)")
    for way in ("pool", "dask"):
        efficiency = runs["single"] / (cores * runs[way])
        overhead = (cores * runs[way] - runs["single"]) / n
        print(f"  {way:6}  {runs[way]:7.2f} s   efficiency {efficiency:6.1%}   worker time "
              f"beyond the renders {1000 * overhead:5.0f} ms a run   (1-step runs "
              f"{empty[way]:5.2f} s, {1000 * cores * empty[way] / n:4.0f} ms of worker time "
              f"a run)")
    print(f"  the scheduler's own cost (dask - pool, 1-step runs): "
          f"{1000 * cores * (empty['dask'] - empty['pool']) / n:.0f} ms of worker time a run")

if __name__ == "__main__":
    main()
