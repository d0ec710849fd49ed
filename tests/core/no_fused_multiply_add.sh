#!/usr/bin/env bash
# The core gives the same bits on every machine only if no product is fused
# with a sum (a fused multiply-add rounds once where the written expression
# rounds twice). Fails if the given library or object holds any fused
# multiply-add instruction, for x86-64 and for AArch64 code alike, and fails
# rather than passes if it cannot read the code at all.
#
#   tests/core/no_fused_multiply_add.sh path/to/libvelloran_core.a
set -euo pipefail
binary=$1
machine=$(readelf -h "$binary" | sed -n 's/^ *Machine: *//p' | sort -u)
case "$machine" in
  *X86-64*)
    objdump=objdump
    fused='[[:space:]]v?fn?m(add|sub)[0-9a-z]*[[:space:]]' ;;
  *AArch64*)
    objdump=aarch64-linux-gnu-objdump
    fused='[[:space:]]f(n?m(add|sub)|ml[as])[[:space:]]' ;;
  *)
    echo "$binary: cannot check machine '$machine'"
    exit 1 ;;
esac
listing=$("$objdump" -d --no-show-raw-insn "$binary")
instructions=$(grep -cE '^ +[0-9a-f]+:' <<<"$listing" || true)
if [ "$instructions" -eq 0 ]; then
  echo "$binary: $objdump found no instructions"
  exit 1
fi
count=$(grep -cE "$fused" <<<"$listing" || true)
if [ "$count" -ne 0 ]; then
  echo "$binary: $count fused multiply-add instructions"
  grep -E "$fused" <<<"$listing" | head -5
  exit 1
fi
echo "$binary: no fused multiply-add in $instructions instructions ($machine)"
