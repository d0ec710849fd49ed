#!/usr/bin/env bash
# Runs the step benchmark and prints literal ms, fast ms and their ratio per
# case and thread count (medians over the repetitions). The machine should be
# otherwise idle: the fast solver's second thread needs a core of its own.
#
#   bench/ratios.sh [path/to/velloran_bench] [repetitions]
set -euo pipefail
bench=${1:-build/c/bench/velloran_bench}
repetitions=${2:-3}
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$bench" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$json"
python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {}
for run in runs:
    if run.get("aggregate_name", "median") != "median":
        continue
    name = run["run_name"] if "run_name" in run else run["name"]
    median[name] = run["real_time"]  # milliseconds
print(f"{'N':>4} {'sigma':>5} {'threads':>7} {'literal ms':>11} {'fast ms':>9} {'ratio':>8} {'speed-up':>9}")
for n in (64, 128, 256, 512):
    for sigma in (1, 4):
        literal = None
        for name, value in median.items():
            if name.startswith(f"BM_Literal/N:{n}/sigma:{sigma}/"):
                literal = value
        for threads in (1, 2):
            fast = None
            for name, value in median.items():
                if name.startswith(f"BM_Fast/N:{n}/sigma:{sigma}/threads:{threads}/"):
                    fast = value
            if literal is None or fast is None:
                continue
            print(f"{n:>4} {sigma:>5} {threads:>7} {literal:>11.3f} {fast:>9.3f} "
                  f"{fast / literal:>8.4f} {literal / fast:>8.1f}x")
PY
