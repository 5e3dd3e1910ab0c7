#!/usr/bin/env bash
# Submits a batch plan to Slurm as a job array of TASKS shards and a report job that runs once
# they all succeed:  submit.sh PLAN OUTDIR TASKS [--wait]
# With --wait it returns when the report is written (status 0) or a job failed (not 0).
# AMIRUN names the amirun to run (default: this checkout's build/ci/tools/amirun/amirun); it and
# the paths must be visible on the compute nodes (a shared file system on a real cluster).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 3 ] || [ $# -gt 4 ] || { [ $# -eq 4 ] && [ "$4" != --wait ]; }; then
  echo "usage: $0 PLAN OUTDIR TASKS [--wait]" >&2
  exit 2
fi
plan=$(realpath -- "$1")
out=$(realpath -m -- "$2")
tasks=$3
wait=${4:-}
if ! [[ $tasks =~ ^[1-9][0-9]{0,4}$ ]]; then
  echo "TASKS must be a whole number from 1 to 99999, not '$tasks'" >&2
  exit 2
fi
amirun=$(realpath -- "${AMIRUN:-$here/../../build/ci/tools/amirun/amirun}")
[ -x "$amirun" ] || { echo "no amirun at $amirun: build it, or set AMIRUN" >&2; exit 2; }
[ -f "$plan" ] || { echo "no plan at $plan" >&2; exit 2; }
mkdir -p -- "$out"
array=$(sbatch --parsable --array="0-$((tasks - 1))" --output="$out/slurm-%A_%a.out" \
  "$here/batch-array.sh" "$amirun" "$plan" "$out" "$tasks")
array=${array%%;*}
report_args=(--parsable --dependency="afterok:$array" --kill-on-invalid-dep=yes
             --output="$out/slurm-report-%j.out")
if [ "$wait" = --wait ]; then
  echo "array job $array ($tasks tasks); waiting for the report job"
  sbatch "${report_args[@]}" --wait "$here/report-job.sh" "$amirun" "$out" "$tasks"
  echo "report: $out/report/report.html"
else
  report=$(sbatch "${report_args[@]}" "$here/report-job.sh" "$amirun" "$out" "$tasks")
  echo "array job $array ($tasks tasks), report job ${report%%;*}: $out/report/report.html"
fi
