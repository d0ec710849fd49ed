#!/bin/sh
# A wedge on a Slurm cluster as a job array: one task per run of the sweep
# file, then one job that writes the table and the contact sheet once every
# task has ended. No Python is needed on the compute nodes, only
# velloran-render (and the inputs and OUT at the same paths on every node).
#
#   python3 -c 'import velloran.sweep as s; s.write(s.grid("shot.xml", vf=[1, 2, 4], vg=[0.03, 1]), "sweep.json")'
#   python/examples/slurm_sweep.sh sweep.json runs [more sbatch options]
#
# A task that is stopped (scancel, a time limit, preemption: SIGTERM) keeps a
# checkpoint; submitting the same array again skips the finished runs and
# continues the others, with the same files as an uninterrupted run.
set -eu
sweep=${1:?usage: slurm_sweep.sh SWEEP.json OUT [sbatch options]}
out=${2:?usage: slurm_sweep.sh SWEEP.json OUT [sbatch options]}
shift 2
count=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))["runs"]))' "$sweep")
array=$(sbatch --parsable "$@" --job-name=velloran-sweep --array="0-$((count - 1))" \
  --wrap "velloran-render --sweep '$sweep' --index \$SLURM_ARRAY_TASK_ID --out '$out' --quiet")
sbatch --parsable "$@" --job-name=velloran-summary --dependency="afterany:${array%%;*}" \
  --wrap "velloran-render --sweep '$sweep' --summary --out '$out'"
echo "array job $array: $count runs into $out; $out/sweep.csv and $out/sweep.png when done"
