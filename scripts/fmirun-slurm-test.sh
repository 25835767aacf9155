#!/usr/bin/env bash
# The README's Slurm recipe run for real on a one-node cluster of this
# machine that the script starts and stops itself (Debian's slurm-wlm and
# munge), its state, logs and sockets under the build folder: a job array
# of the parts of a sweep, each with the node's CPUs, sbatch --wait, the
# merge, and the result compared with one process's by cmp; then a part that
# fails, which sbatch --wait and the merge must both report.
#
#   scripts/fmirun-slurm-test.sh BUILD_DIR FMIRUN FMIRUN_MERGE ARCHIVE
set -euo pipefail
build=$(realpath "$1")
fmirun=$(realpath "$2")
merge=$(realpath "$3")
archive=$(realpath "$4")
root=$build/slurm-test
host=$(hostname -s)
rm -rf "$root"
mkdir -p "$root"/{state,spool,munge,work}
chmod 700 "$root" "$root/munge"

pids=()
stop() {
    SLURM_CONF=$root/slurm.conf scontrol shutdown >/dev/null 2>&1 || true
    sleep 1
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    if [[ -f $root/munge/pid ]]; then
        kill "$(cat "$root/munge/pid")" 2>/dev/null || true
    fi
}
trap stop EXIT

# Munge with a key and socket of its own.
head -c 1024 /dev/urandom >"$root/munge/munge.key"
chmod 400 "$root/munge/munge.key"
munged --force --key-file="$root/munge/munge.key" --socket="$root/munge/socket" \
    --pid-file="$root/munge/pid" --log-file="$root/munge/log" --seed-file="$root/munge/seed"

# Ports of their own, so that another cluster on the machine is no matter.
port=$((20000 + RANDOM % 20000))
cat >"$root/slurm.conf" <<CONF
ClusterName=fmirun
SlurmctldHost=$host
AuthType=auth/munge
AuthInfo=socket=$root/munge/socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
StateSaveLocation=$root/state
SlurmdSpoolDir=$root/spool
SlurmctldPidFile=$root/slurmctld.pid
SlurmdPidFile=$root/slurmd.pid
SlurmctldLogFile=$root/slurmctld.log
SlurmdLogFile=$root/slurmd.log
ProctrackType=proctrack/pgid
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$root/slurm.conf
slurmctld -D -i >"$root/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -N "$host" >"$root/slurmd.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [[ $(sinfo -h -o %t 2>/dev/null) == idle ]] && break
    sleep 0.2
done
if [[ $(sinfo -h -o %t 2>/dev/null) != idle ]]; then
    echo "the one-node cluster did not come up:" >&2
    tail -n 20 "$root"/slurmctld.log "$root"/slurmd.log >&2 || true
    exit 1
fi

# The recipe, as the README gives it, fmirun from the build on the PATH.
cd "$root/work"
mkdir bin
ln -s "$fmirun" bin/fmirun
ln -s "$merge" bin/fmirun-merge
export PATH=$root/work/bin:$PATH
cp "$archive" model.fmu
{
    echo rate
    seq 10000 100 13900
} >cases.csv
cat >sweep.sh <<'TASK'
#!/bin/bash
fmirun model.fmu --sweep cases.csv --stop-time 0.2 \
    --cases "$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT" \
    --jobs "$SLURM_CPUS_PER_TASK" --output "part-$SLURM_ARRAY_TASK_ID.csv" &&
    touch "part-$SLURM_ARRAY_TASK_ID.done"
TASK
parts=6
cpus=$(sinfo -h -o %c | sort -n | head -n 1)
sbatch --quiet --wait --array=1-"$parts" --cpus-per-task="$cpus" sweep.sh &&
    fmirun-merge part "$parts" >results.csv
fmirun model.fmu --sweep cases.csv --stop-time 0.2 --output one.csv
cmp results.csv one.csv
echo "the Slurm recipe's merged results equal one process's"

# A part that fails (part 3 has no archive): sbatch --wait says so, and the
# merge refuses the parts.
rm -f part-*
sed 's/model\.fmu/model-$SLURM_ARRAY_TASK_ID.fmu/' sweep.sh >failing.sh
for ((k = 1; k <= parts; ++k)); do
    ((k == 3)) || cp model.fmu "model-$k.fmu"
done
if sbatch --quiet --wait --array=1-"$parts" --cpus-per-task="$cpus" failing.sh; then
    echo "sbatch --wait said nothing of the failed part" >&2
    exit 1
fi
if fmirun-merge part "$parts" >/dev/null 2>&1; then
    echo "the merge took a part that had not succeeded" >&2
    exit 1
fi
echo "a failed part fails sbatch --wait and the merge"
