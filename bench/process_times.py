#!/usr/bin/env python3
"""Where a whole render's time goes, against the solver's own step.

For N = 128, 256 and 512: the step benchmarks' run (a disc of smoke gathering
into a bar; vf 1, vd 3, vg 0, sigma 4, dt about 0.064 / N), 100 steps, PNG
frames at the first and the last step, every render in a fresh folder
(--steps sets another length). Each
round times one render (wall time of the whole process, and the phases the
renderer prints with VELLORAN_PHASE_TIMES set) and, right after it, one
repetition of the benchmark's steps of the same size with two threads:
BM_Fast (the bare step), BM_FastMeasured (the step as a render makes it,
measuring the smoke it moved) and BM_Literal (the plain literal twin). The
figures are medians and minimums over the rounds; "before main" is the process's wall
time less what the renderer saw from main() on (loading the program and its
libraries).

From the repository root, after a Release build:

    bench/process_times.py --renderer build/rel/src/render/velloran-render \\
        --bench build/rel/bench/velloran_bench --rounds 5

Give --renderer twice (an earlier build first) to set two renderers side by
side, measured in the same rounds.
"""

import argparse
import json
import math
import os
import statistics
import struct
import subprocess
import tempfile
import time
import zlib

STEPS = 100
PHASES = ["startup", "setup", "steps", "solver", "metrics", "rows", "frames", "progress",
          "finish", "plot", "total"]


def write_png(path, n, inside):
    """An 8-bit grey picture, white where inside(x, y) holds (y up)."""
    rows = b"".join(
        b"\0" + bytes(255 if inside((i + 0.5) / n, 1 - (j + 0.5) / n) else 0 for i in range(n))
        for j in range(n))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 0, 0, 0, 0))
                   + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def dt(n, steps):
    """About 0.064 / N (half that past 100 steps: at 512 x 512 the run breaks down
    after about 200 steps), rounded down to the 5 decimals the renderer keeps."""
    return math.floor(0.064 / n / (1 if steps <= STEPS else 2) * 1e5) / 1e5


def render(renderer, folder, n, steps):
    source, target = (os.path.join(folder, f"{name}{n}.png") for name in ("disc", "bar"))
    out = tempfile.mkdtemp(dir=folder)
    command = [renderer, "--source", source, "--target", target, "--vf", "1", "--vd", "3",
               "--vg", "0", "--sigma", "4", "--dt", f"{dt(n, steps):.5f}", "--steps", str(steps),
               "--every", str(steps), "--format", "png", "--out", out, "--quiet"]
    start = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True,
                          env=dict(os.environ, VELLORAN_PHASE_TIMES="1"), check=True)
    wall = (time.perf_counter() - start) * 1000.0
    words = done.stderr.strip().splitlines()[-1].split("phase ms:")[1].split()
    phases = {words[k]: float(words[k + 1]) for k in range(0, len(words), 2)}
    phases["wall"] = wall
    phases["before main"] = wall - phases["total"]
    return phases


def step_times(bench, n):
    """ms per step of the fast, measured and literal steps at sigma 4, one repetition."""
    pattern = f"^BM_(Fast|FastMeasured)/N:{n}/sigma:4/threads:2/|^BM_Literal/N:{n}/sigma:4/"
    done = subprocess.run([bench, f"--benchmark_filter={pattern}", "--benchmark_format=json"],
                          capture_output=True, text=True, check=True)
    return {run["name"].split("/")[0]: run["real_time"]
            for run in json.loads(done.stdout)["benchmarks"]}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--renderer", action="append")
    parser.add_argument("--bench", default="build/rel/bench/velloran_bench")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--sizes", default="128,256,512")
    parser.add_argument("--steps", type=int, default=STEPS)
    args = parser.parse_args()
    renderers = args.renderer or ["build/rel/src/render/velloran-render"]
    sizes = [int(n) for n in args.sizes.split(",")]
    with tempfile.TemporaryDirectory() as folder:
        for n in sizes:
            write_png(os.path.join(folder, f"disc{n}.png"), n,
                      lambda x, y: (x - 0.6) ** 2 + (y - 0.55) ** 2 < 0.04)
            write_png(os.path.join(folder, f"bar{n}.png"), n,
                      lambda x, y: 0.3 < x < 0.45 and 0.2 < y < 0.8)
        results = {(renderer, n): [] for renderer in renderers for n in sizes}
        for _ in range(args.rounds):
            for n in sizes:
                step_ms = step_times(args.bench, n)
                for renderer in renderers:
                    phases = render(renderer, folder, n, args.steps)
                    phases.update(step_ms)
                    results[renderer, n].append(phases)
    # The fastest round is the one the machine disturbed least; on a shared
    # machine it is the steadier figure.
    for name, statistic in (("medians", statistics.median), ("minimums", min)):
        for renderer in renderers:
            print(f"{renderer}: {name} over {args.rounds} rounds, ms ({args.steps} steps; BM_* rows: "
                  f"{args.steps} x ms per step)")
            report({n: results[renderer, n] for n in sizes}, sizes, statistic, args.steps)
            print()


def report(results, sizes, statistic, steps):
    columns = ["wall", "before main"] + PHASES + ["BM_Fast", "BM_FastMeasured", "BM_Literal"]
    print(f"{'':>26}" + "".join(f"{n:>10}" for n in sizes))
    for column in columns:
        scale = steps if column.startswith("BM_") else 1
        cells = []
        for n in sizes:
            values = [r[column] * scale for r in results[n] if column in r]
            cells.append(f"{statistic(values):>10.1f}" if values else f"{'-':>10}")
        print(f"{column:>26}" + "".join(cells))
    for name, numerator, denominator in (
            ("wall / N x fast step", "wall", "BM_Fast"),
            ("wall / N x measured step", "wall", "BM_FastMeasured"),
            ("N x literal step / wall", "BM_Literal", "wall")):
        ratios = []
        for n in sizes:
            def figure(column):
                return statistic([r[column] for r in results[n]]) * (
                    steps if column.startswith("BM_") else 1)
            ratios.append(figure(numerator) / figure(denominator))
        print(f"{name:>26}" + "".join(f"{value:>10.3f}" for value in ratios))


if __name__ == "__main__":
    main()
