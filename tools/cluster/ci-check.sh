#!/usr/bin/env bash
# CI's check of the batch flow on a cluster: a small plan as a 4-task Slurm array plus the report
# job, on a local one-node cluster, must give the report of a serial `amirun batch` of the same
# plan, byte for byte; the report page, in headless Chromium, shows one row per run and the heat
# map. The cluster is stopped whatever happens. A screenshot of the page is left in build/ci.
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"
amirun=$PWD/build/ci/tools/amirun/amirun
work=$(mktemp -d)
chmod 711 "$work"  # munged wants every folder above its socket passable by all
export KT_SLURM_DIR="$work/slurm"
cleanup() {
  tools/cluster/local-slurm.sh stop || true
  rm -rf "$work"
}
trap cleanup EXIT

cp build/ci/ami/KT7MRL40562D9_Rx_x64.so build/ci/ami/KT7MRL40562D9_Tx_x64.so \
  ibis/KT7MRL40562D9_Rx.ami ibis/KT7MRL40562D9_Tx.ami tools/examples/pair_1to3.s4p "$work/"
cat > "$work/plan.json" <<'PLAN'
{"tx": "KT7MRL40562D9_Tx_x64.so", "rx": "KT7MRL40562D9_Rx_x64.so",
 "channels": ["builtin:10", "builtin:25", "pair_1to3.s4p"],
 "sweep": {"tx.FG": [0, 3], "rx.EQ": [2, 9, 15]},
 "bit_rate": 32e9, "flows": ["statistical"]}
PLAN
runs=18

"$amirun" batch "$work/plan.json" --out "$work/serial" --jobs 2 > "$work/serial.log"
"$amirun" report "$work/serial/results-0-of-1.jsonl" --out "$work/serial/report" > /dev/null

tools/cluster/local-slurm.sh start
# shellcheck source=/dev/null
. "$KT_SLURM_DIR/env.sh"
AMIRUN=$amirun tools/cluster/submit.sh "$work/plan.json" "$work/cluster" 4 --wait
cmp "$work/serial/report/report.csv" "$work/cluster/report/report.csv"
cmp "$work/serial/report/report.json" "$work/cluster/report/report.json"
echo "cluster: the 4-task array and the serial batch agree on all $runs runs"

browser=(chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run
         --disable-background-networking --disable-component-update --disable-sync
         --user-data-dir="$work/chromium")
page="file://$work/cluster/report/report.html"
timeout 120 "${browser[@]}" --dump-dom "$page" > "$work/dom.html" 2> /dev/null
rows=$(grep -o '<tr class="run">' "$work/dom.html" | wc -l)
[ "$rows" -eq "$runs" ] || { echo "the page shows $rows runs, not $runs" >&2; exit 1; }
grep -q 'id="heatmap"' "$work/dom.html" || { echo "the page has no heat map" >&2; exit 1; }
timeout 120 "${browser[@]}" --window-size=1300,1800 --screenshot="$PWD/build/ci/report.png" \
  "$page" > /dev/null 2>&1
echo "report page: $rows runs and the heat map in Chromium; screenshot build/ci/report.png"
