"""The wedge example runs end to end on a tiny grid of values."""

import csv
import pathlib
import subprocess
import sys

import velloran
from conftest import EXAMPLE

SWEEP = pathlib.Path(__file__).resolve().parents[1] / "examples" / "sweep.py"


def test_sweep_writes_its_table_and_contact_sheet(tmp_path):
    subprocess.run([sys.executable, SWEEP, "--config", EXAMPLE, "--vf", "0.5", "1",
                    "--sigma", "2.2", "--steps", "30", "--out", tmp_path, "--processes", "2"],
                   check=True, stdout=subprocess.DEVNULL)
    with open(tmp_path / "sweep.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert [(float(r["vf"]), float(r["sigma"])) for r in rows] == [(0.5, 2.2), (1.0, 2.2)]
    assert all(r["status"] == "ok" for r in rows)

    # The first row is the example itself: its distance after 30 steps, as
    # the module computes it in this process.
    run = velloran.Run.from_config(EXAMPLE)
    run.step(30)
    assert float(rows[0]["final_distance"]) == run.distance()

    sheet = velloran.density_from_image(tmp_path / "sweep.png")
    assert sheet.shape == (2 * 130 + 2, 132)  # two rows of one 128-cell frame, 2-cell gaps
    # The top picture is the first row's final frame.
    top = sheet[130 + 2:130 + 2 + 128, 2:130]
    expected = (run.density[1:-1, 1:-1].clip(0, 1) * 255).round() / 255
    assert abs(top - expected).max() < 1e-12
