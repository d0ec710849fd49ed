#!/usr/bin/env bash
# An EXR frame of the renderer opened by an independent reader (OpenImageIO's
# oiiotool): it must see the seven channels with their types, the size and
# the compression.
#   exr_oiiotool.sh RENDERER SOURCE_DIR
set -euo pipefail
renderer=$1
source_dir=$2
command -v oiiotool >/dev/null || { echo "oiiotool is missing (tools/setup.sh installs it)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$renderer" --source "$source_dir/examples/blob.png" --target "$source_dir/examples/letter-s.png" \
  --sigma 2 --dt 0.001 --vf 0.5 --vd 5 --steps 3 --every 3 --format exr --out "$work" --quiet >/dev/null
info=$(oiiotool --info -v "$work/frame_000003.exr")
echo "$info"
expect() {
  grep -qE -- "$1" <<<"$info" || { echo "oiiotool output lacks: $1" >&2; exit 1; }
}
expect '128 x +128, 7 channel, half/half/half/half/float/float/float openexr'
expect 'channel list: R \(half\), G \(half\), B \(half\), A \(half\), density \(float\), velocity\.u \(float\), velocity\.v \(float\)'
expect 'compression: "zip"' 

# A colour run's frame: its picture as RGBA and a density layer per field.
"$renderer" --field "#e03020:$source_dir/examples/yin.png:$source_dir/examples/yang.png" \
  --field "#20a0e0:$source_dir/examples/yang.png:$source_dir/examples/yin.png" \
  --scheme sound --steps 2 --every 2 --format exr --out "$work/colour" --quiet >/dev/null 2>&1
info=$(oiiotool --info -v "$work/colour/frame_000002.exr")
echo "$info"
expect '128 x +128, 8 channel, half/half/half/half/float/float/float/float openexr'
expect 'channel list: R \(half\), G \(half\), B \(half\), A \(half\), density\.20a0e0 \(float\), density\.e03020 \(float\), velocity\.u \(float\), velocity\.v \(float\)'
