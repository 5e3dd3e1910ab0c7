#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, from Debian's slurm-wlm and munge, for the tests and
# for trying the batch flow:  local-slurm.sh start | stop | status | check-dir
# Everything lives in one state folder ($KT_SLURM_DIR, default /tmp/kt-slurm-<uid>): the munge
# key and socket, slurm.conf, the daemons' logs, pid files and spools. Nothing under /etc is
# touched; the commands find the cluster through SLURM_CONF, which `start` prints and env.sh sets.
# The folder must be the user's own: made here with mode 711 (others may pass through to munged's
# socket, which munged insists on, but not list or write), or refused when it is a link, is
# another user's, or others may write in it (they could plant a key, a config or a pid).
set -euo pipefail
dir=${KT_SLURM_DIR:-/tmp/kt-slurm-$(id -u)}
here=$(cd "$(dirname "$0")" && pwd)

# Makes the state folder, or checks that the one there is private to this user.
private_dir() {
  if [ ! -e "$dir" ] && [ ! -L "$dir" ]; then
    mkdir -m 711 -- "$dir" && return 0
  fi
  if [ -L "$dir" ] || [ ! -d "$dir" ]; then
    echo "local-slurm: $dir is not a folder of its own (a link or a file); refused" >&2
    return 1
  fi
  if [ "$(stat -c %u -- "$dir")" != "$(id -u)" ]; then
    echo "local-slurm: $dir belongs to another user; refused" >&2
    return 1
  fi
  if [ $(( 0$(stat -c %a -- "$dir") & 022 )) -ne 0 ]; then
    echo "local-slurm: others may write in $dir; refused (chmod 700 it, or remove it)" >&2
    return 1
  fi
}

stop() {
  [ -d "$dir" ] || return 0
  private_dir || return 1
  for daemon in slurmd slurmctld munged; do
    if [ -f "$dir/$daemon.pid" ]; then
      pid=$(cat "$dir/$daemon.pid")
      # Only this user's process of that name: a stale pid file must not kill another program.
      if [[ $pid =~ ^[0-9]+$ ]] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$daemon" ] &&
         [ "$(stat -c %u "/proc/$pid" 2>/dev/null)" = "$(id -u)" ]; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      fi
      rm -f "$dir/$daemon.pid"
    fi
  done
}

start() {
  "$here/../install-deps.sh" cluster
  private_dir
  stop
  mkdir -p "$dir/spool/ctld" "$dir/spool/d" "$dir/munge"
  chmod 711 "$dir/munge"  # munged needs others to reach its socket, not to list or write
  # A new key every start: no key from before (or from anyone else) is ever trusted.
  rm -f "$dir/munge/munge.key" "$dir/munge/munge.socket" "$dir/munge/munge.socket.lock"
  mungekey --create --keyfile="$dir/munge/munge.key"
  chmod 400 "$dir/munge/munge.key"
  munged --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.socket" \
    --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munge/seed"
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
  check-dir) private_dir ;;
  *) echo "usage: $0 start|stop|status|check-dir" >&2; exit 2 ;;
esac
