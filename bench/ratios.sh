#!/usr/bin/env bash
# Runs the step benchmark and prints literal ms, fast ms and their ratio per
# case and thread count: once from the medians over the repetitions, once from
# the fastest repetitions. The machine should be otherwise idle (the fast
# solver's second thread needs a core of its own); on a shared machine the
# second table is the steadier one. The repetitions of all cases run in a
# random interleaved order, so that a slow spell of the machine falls on fast
# and literal runs alike rather than on whichever case was running then.
#
#   bench/ratios.sh [path/to/velloran_bench] [repetitions]
set -euo pipefail
bench=${1:-build/bench/bench/velloran_bench}
repetitions=${2:-3}
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$bench" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true --benchmark_filter='^BM_(Fast|Literal)/' \
  --benchmark_format=json >"$json"
python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
stats = {}
for run in runs:
    if run.get("run_type") != "aggregate":
        continue
    stats.setdefault(run["aggregate_name"], {})[run["run_name"]] = run["real_time"]  # ms


def find(table, prefix):
    for name, value in table.items():
        if name.startswith(prefix):
            return value
    return None


for statistic in ("median", "min"):
    table = stats.get(statistic, {})
    print(f"{statistic} over the repetitions, ms per step")
    print(f"{'N':>4} {'sigma':>5} {'threads':>7} {'literal ms':>11} {'fast ms':>9} {'ratio':>8} {'speed-up':>9}")
    for n in (64, 128, 256, 512):
        for sigma in (1, 4):
            literal = find(table, f"BM_Literal/N:{n}/sigma:{sigma}/")
            for threads in (1, 2):
                fast = find(table, f"BM_Fast/N:{n}/sigma:{sigma}/threads:{threads}/")
                if literal is None or fast is None:
                    continue
                print(f"{n:>4} {sigma:>5} {threads:>7} {literal:>11.3f} {fast:>9.3f} "
                      f"{fast / literal:>8.4f} {literal / fast:>8.1f}x")
    print()
PY
