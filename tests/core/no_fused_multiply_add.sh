#!/usr/bin/env bash
# The core gives the same bits on every x86-64 machine only if no product is
# fused with a sum (a fused multiply-add rounds once where the written
# expression rounds twice). Fails if the given library or object holds any
# fused multiply-add instruction.
#
#   tests/core/no_fused_multiply_add.sh path/to/libvelloran_core.a
set -euo pipefail
binary=$1
fused=$(objdump -d --no-show-raw-insn "$binary" | grep -cE '[[:space:]]v?fn?m(add|sub)[0-9a-z]*[[:space:]]' || true)
if [ "$fused" -ne 0 ]; then
  echo "$binary: $fused fused multiply-add instructions"
  objdump -d --no-show-raw-insn "$binary" | grep -E '[[:space:]]v?fn?m(add|sub)[0-9a-z]*[[:space:]]' | head -5
  exit 1
fi
echo "$binary: no fused multiply-add"
