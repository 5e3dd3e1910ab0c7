#!/usr/bin/env bash
#SBATCH --job-name=amirun-report
#SBATCH --cpus-per-task=1
# After the array: merges the results of all TASKS shards into OUTDIR/report.
#   sbatch --dependency=afterok:ARRAY report-job.sh AMIRUN OUTDIR TASKS
set -euo pipefail
amirun=$1 out=$2 tasks=$3
results=()
for ((k = 0; k < tasks; k++)); do results+=("$out/results-$k-of-$tasks.jsonl"); done
exec "$amirun" report "${results[@]}" --out "$out/report"
