#!/usr/bin/env bash
# A host program's view of the renderer's frames: Blender (headless) renders
# one OpenVDB frame as a volume (Principled Volume reading `density`) and
# composites one EXR frame over a plate with Alpha Over, writing
# blender-vdb-volume.png and blender-exr-over-plate.png into OUT_DIR.
# Needs `blender` (Debian 12: apt-get install blender); not part of the tests.
#   tools/check-blender.sh [VELLORAN_RENDER] [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
renderer=${1:-build/release/src/render/velloran-render}
out=${2:-docs}
command -v blender >/dev/null || { echo "blender is missing (apt-get install blender)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$renderer" --example blob-to-s-sound --steps 500 --every 500 --format vdb,exr \
  --smoke-colour ffb040 --out "$work/frames" --quiet >/dev/null
mkdir -p "$out"
blender -b --factory-startup --python tools/blender_scene.py -- \
  "$work/frames/frame_000500.vdb" "$work/frames/frame_000500.exr" "$out" 2>&1 |
  grep -E '^(volume grids|EXR frame|Saved)|Error' || true
test -s "$out/blender-vdb-volume.png" && test -s "$out/blender-exr-over-plate.png"
