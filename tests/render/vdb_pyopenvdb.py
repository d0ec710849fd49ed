#!/usr/bin/python3
"""A volume frame of the renderer read by a second reader, Debian's
python3-openvdb: grids, classes, types, voxel size and active voxels, the
density against the .npy field of the same step, cell (i, j) at voxel
(i - 1, j - 1, 0); then a colour run's frame: its fields' grids against their
.npy files and its density their sum.

    vdb_pyopenvdb.py RENDERER
"""
import os
import subprocess
import sys
import tempfile

import numpy
import pyopenvdb as vdb

renderer = sys.argv[1]
with tempfile.TemporaryDirectory() as work:
    subprocess.run([renderer, "--example", "blob-to-s-sound", "--steps", "50", "--every", "50",
                    "--format", "vdb,npy", "--out", work, "--quiet"],
                   check=True, stdout=subprocess.DEVNULL)
    grids, metadata = vdb.readAll(os.path.join(work, "frame_000050.vdb"))
    density = numpy.load(os.path.join(work, "density_000050.npy"))[1:-1, 1:-1]
print("file metadata:", metadata)
by_name = {grid.name: grid for grid in grids}
for grid in grids:
    print(f"{grid.name}: {type(grid).__name__}, class {grid.gridClass}, "
          f"voxel size {grid.transform.voxelSize()}, {grid.activeVoxelCount()} active voxels "
          f"in {grid.evalActiveVoxelBoundingBox()}, half floats: "
          f"{grid.metadata.get('is_saved_as_half_float', False)}")
assert sorted(by_name) == ["density", "velocity"], sorted(by_name)
rho, velocity = by_name["density"], by_name["velocity"]
assert isinstance(rho, vdb.FloatGrid) and rho.gridClass == vdb.GridClass.FOG_VOLUME
assert isinstance(velocity, vdb.Vec3SGrid)
n = density.shape[0]
assert rho.transform.voxelSize() == (1 / n,) * 3
assert rho.activeVoxelCount() == numpy.count_nonzero(density.astype(numpy.float32))
slab = numpy.zeros((n, n, 1), dtype=numpy.float32)
rho.copyToArray(slab, ijk=(0, 0, 0))
# slab[i, j, 0] is voxel (i, j, 0), cell (i + 1, j + 1); the .npy has a[j, i].
expected = density.T.astype(numpy.float32).astype(numpy.float16).astype(numpy.float32)
assert numpy.array_equal(slab[:, :, 0], expected), abs(slab[:, :, 0] - expected).max()

with tempfile.TemporaryDirectory() as work:
    # The example's images are named from the source tree's top.
    subprocess.run([renderer, "examples/yin-yang.xml", "--steps", "20", "--every", "20",
                    "--format", "vdb,npy", "--out", work, "--quiet"], check=True,
                   stdout=subprocess.DEVNULL, cwd=os.path.join(os.path.dirname(__file__), "../.."))
    grids, _ = vdb.readAll(os.path.join(work, "frame_000020.vdb"))
    fields = [numpy.load(os.path.join(work, f"density.{c}_000020.npy"))[1:-1, 1:-1]
              for c in ("e03020", "20a0e0")]
by_name = {grid.name: grid for grid in grids}
assert sorted(by_name) == ["color", "density", "density.20a0e0", "density.e03020",
                           "velocity"], sorted(by_name)
assert isinstance(by_name["color"], vdb.Vec3SGrid)
n = fields[0].shape[0]
total = numpy.zeros((n, n, 1), dtype=numpy.float32)
by_name["density"].copyToArray(total, ijk=(0, 0, 0))
as_half = lambda a: a.T.astype(numpy.float32).astype(numpy.float16).astype(numpy.float32)
assert numpy.array_equal(total[:, :, 0], as_half(fields[0] + fields[1]))
for colour, field in zip(("e03020", "20a0e0"), fields):
    slab = numpy.zeros((n, n, 1), dtype=numpy.float32)
    by_name["density." + colour].copyToArray(slab, ijk=(0, 0, 0))
    assert by_name["density." + colour].gridClass == vdb.GridClass.FOG_VOLUME
    assert numpy.array_equal(slab[:, :, 0], as_half(field)), colour
print("ok")
