#!/usr/bin/env bash
#SBATCH --job-name=amirun-batch
#SBATCH --cpus-per-task=1
# One task of a Slurm job array: shard $SLURM_ARRAY_TASK_ID of TASKS of a batch plan.
#   sbatch --array=0-(TASKS-1) batch-array.sh AMIRUN PLAN OUTDIR TASKS
# A task that is killed and started again goes on where it stopped.
set -euo pipefail
amirun=$1 plan=$2 out=$3 tasks=$4
exec "$amirun" batch "$plan" --out "$out" --shard "$SLURM_ARRAY_TASK_ID/$tasks" \
  --jobs "${SLURM_CPUS_PER_TASK:-1}"
