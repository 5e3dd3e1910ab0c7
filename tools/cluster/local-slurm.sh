#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, from Debian's slurm-wlm and munge, for the tests and
# for trying the batch flow:  local-slurm.sh start | stop | status
# Everything lives in one state folder ($KT_SLURM_DIR, default /tmp/kt-slurm): the munge key and
# socket, slurm.conf, the daemons' logs, pid files and spools. Nothing under /etc is touched; the
# commands find the cluster through SLURM_CONF, which `start` prints and env.sh sets.
set -euo pipefail
dir=${KT_SLURM_DIR:-/tmp/kt-slurm}
here=$(cd "$(dirname "$0")" && pwd)

stop() {
  for daemon in slurmd slurmctld munged; do
    if [ -f "$dir/$daemon.pid" ]; then
      pid=$(cat "$dir/$daemon.pid")
      # Only a process of that name: a stale pid file must not kill another program.
      if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$daemon" ]; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      fi
      rm -f "$dir/$daemon.pid"
    fi
  done
}

start() {
  "$here/../install-deps.sh" cluster
  stop
  mkdir -p "$dir/spool/ctld" "$dir/spool/d" "$dir/munge"
  chmod 700 "$dir/munge"
  [ -f "$dir/munge/munge.key" ] || mungekey --create --keyfile="$dir/munge/munge.key" --force
  chmod 400 "$dir/munge/munge.key"
  munged --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.socket" \
    --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munge/seed" \
    --force
  local host cpus memory
  host=$(hostname -s)
  cpus=$(nproc)
  memory=$(( $(awk '/MemTotal/ {print $2}' /proc/meminfo) / 1024 * 9 / 10 ))
  cat > "$dir/slurm.conf" <<CONF
ClusterName=kt
SlurmctldHost=$host
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.socket
CredType=cred/munge
SlurmUser=$(id -un)
SlurmdUser=$(id -un)
StateSaveLocation=$dir/spool/ctld
SlurmdSpoolDir=$dir/spool/d
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
SlurmctldPort=6817
SlurmdPort=6818
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
NodeName=$host CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
  printf 'export SLURM_CONF=%q\n' "$dir/slurm.conf" > "$dir/env.sh"
  export SLURM_CONF="$dir/slurm.conf"
  slurmctld -f "$SLURM_CONF"
  slurmd -f "$SLURM_CONF"
  for _ in $(seq 100); do
    if sinfo -h -o '%T' 2>/dev/null | grep -qE '^(idle|mixed|allocated)'; then
      echo "local Slurm cluster up: . $dir/env.sh  (or export SLURM_CONF=$dir/slurm.conf)"
      return 0
    fi
    sleep 0.2
  done
  echo "the local Slurm cluster did not come up; see $dir/*.log" >&2
  stop
  return 1
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  status) SLURM_CONF="$dir/slurm.conf" sinfo ;;
  *) echo "usage: $0 start|stop|status" >&2; exit 2 ;;
esac
