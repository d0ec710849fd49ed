#!/usr/bin/env bash
# Renders a bundled example from scratch: installs the missing Debian packages,
# builds the renderer in build/release and runs it.
#
#   tools/render-example.sh [EXAMPLE] [OUTPUT_FOLDER] [more velloran-render options]
#
# EXAMPLE defaults to blob-to-s-sound (see: velloran-render --list-examples);
# OUTPUT_FOLDER defaults to out/EXAMPLE in the repository root.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

example="${1:-blob-to-s-sound}"
out="${2:-out/$example}"
shift $(( $# > 2 ? 2 : $# ))

tools/setup.sh
cmake --preset release
cmake --build build/release --target velloran-render -j"$(nproc)"

echo "Rendering example '$example' into $root/$out ..." >&2
build/release/src/render/velloran-render --example "$example" --out "$out" "$@"
