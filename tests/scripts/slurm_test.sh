#!/usr/bin/env bash
# The Slurm recipe of the README, run on a Slurm of one node that this
# script starts and stops itself: a MUNGE key and munged on a socket of its
# own, slurmctld and slurmd in the foreground with a slurm.conf for this
# host (state, spool, logs and sockets in a temporary directory, ports that
# are free), the README's job script taken from the README as it stands,
# submitted as an array job over a few mvgen files (sbatch --array ...
# --wait), then the README's dependent merge job. The merged report and
# picture are those of one mvscan -p over the same files, byte for byte.
#
# Exit 77 (skipped) with the reason where the daemons cannot run here:
# not root, Slurm or MUNGE missing, a daemon that does not come up. Every
# daemon started here is stopped on every way out.
#   slurm_test.sh SOURCE_DIR MVSCAN MVGEN
set -euo pipefail
src=$1
mvscan=$2
mvgen=$3

SKIP=77
skip() {
  echo "SKIPPED: $*"
  exit $SKIP
}
fail() {
  echo "FAIL: $*"
  exit 1
}

[ "$(id -u)" -eq 0 ] || skip "not root: slurmd runs jobs as their user only as root"
for tool in munged mungekey slurmctld slurmd sbatch squeue sinfo scancel; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin command -v "$tool" >/dev/null ||
    skip "$tool is missing (scripts/setup.sh installs slurm-wlm and munge)"
done
export PATH=$PATH:/usr/sbin

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  # Jobs first (their processes belong to slurmstepd, not to the daemons),
  # then the daemons, last started first stopped.
  if [ -f "$work/slurm.conf" ]; then
    SLURM_CONF=$work/slurm.conf timeout 10 scancel --quiet --full --user="$(id -un)" >/dev/null 2>&1 ||
      true
  fi
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    # A daemon that does not end within 10 s is killed.
    for _ in $(seq 50); do
      kill -0 "${pids[i]}" 2>/dev/null || break
      sleep 0.2
    done
    kill -9 "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 5))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}
# The last lines of a daemon's log (or, without one, of what it printed),
# for a skip message.
log_tail() {
  local log=$1 out=$2
  [ -s "$log" ] || log=$out
  [ -f "$log" ] && tail -n 15 "$log" | sed 's/^/  /'
  return 0
}

# MUNGE: a key of our own and munged on a private socket.
mkdir -m 700 "$work/munge"
mungekey --create --keyfile="$work/munge/munge.key" >/dev/null 2>&1 ||
  skip "mungekey cannot make a key"
socket=$work/munge/munge.socket
munged --foreground --force --socket="$socket" --key-file="$work/munge/munge.key" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" \
  --seed-file="$work/munge/munged.seed" >"$work/munge/stdout.log" 2>&1 &
pids+=($!)
wait_for 15 munge --socket="$socket" --string=probe ||
  skip "munged does not start here:
$(log_tail "$work/munge/munged.log" "$work/munge/stdout.log")"

# Two TCP ports that nothing listens on.
read -r ctld_port slurmd_port < <(/usr/bin/python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
node=$(hostname -s)
# The recipe asks for 1 GiB a task; the node offers what it has, at most 4 GiB.
mem=$(awk '/^MemTotal:/ { m = int($2 / 1024); print (m > 4096 ? 4096 : m) }' /proc/meminfo)
[ "$mem" -ge 1024 ] || skip "$mem MiB of memory, the recipe asks for 1 GiB"
user=$(id -un)
mkdir -p "$work/state" "$work/spool"
cat >"$work/slurm.conf" <<EOF
ClusterName=mvscantest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
SwitchType=switch/none
MpiDefault=none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
ReturnToService=2
DependencyParameters=kill_invalid_depend
MinJobAge=600
NodeName=$node NodeAddr=127.0.0.1 CPUs=2 RealMemory=$mem State=UNKNOWN
PartitionName=debug Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$work/slurm.conf

slurmctld -D -i -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" -N "$node" >"$work/slurmd.out" 2>&1 &
pids+=($!)
# Up when the node is idle in the partition; given up on when a daemon has
# ended.
node_idle() {
  local pid
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null || return 2
  done
  [ "$(sinfo --noheader --nodes="$node" --format=%t 2>/dev/null)" = idle ]
}
up=1
for _ in $(seq 300); do
  node_idle && up=0 && break
  [ $? -eq 2 ] && break
  sleep 0.2
done
[ $up -eq 0 ] ||
  skip "slurmctld and slurmd do not bring up the node here ($(sinfo --noheader --format='%t %E' 2>&1 | head -n 1)):
slurmctld:
$(log_tail "$work/slurmctld.log" "$work/slurmctld.out")
slurmd:
$(log_tail "$work/slurmd.log" "$work/slurmd.out")"
echo "slurm: slurmctld and slurmd up, node $node idle"

# The job script of the README: the indented block after its heading line,
# up to the comment that names the merge job.
run=$work/run
mkdir -p "$run/night"
awk '/^The same as a Slurm array job/ { on = 1; next }
     on && /^    # then:/ { exit }
     on && /^    / { started = 1 }
     started { sub(/^    /, ""); print }' "$src/README.md" >"$run/scan.sbatch"
grep -q '^#SBATCH --cpus-per-task' "$run/scan.sbatch" || fail "no Slurm job script in README.md"
grep -qF '# scan.sbatch: sbatch --array=0-$(($(ls night/*.mv | wc -l) - 1)) scan.sbatch' "$run/scan.sbatch" ||
  fail "the README's submission line is not the one run here"
grep -qF "#         'mvscan --merge -E -H 64 night/*.json > night.txt'" "$src/README.md" ||
  fail "the README's merge job is not the one run here"

cd "$run"
"$mvgen" -k toatot -n 30000 -s 11 -o night/a.mv >/dev/null
"$mvgen" -k pc24 -n 20000 -s 12 -o night/b.mv >/dev/null
"$mvgen" -k toatot -n 40000 -s 13 -o night/c.mv >/dev/null
"$mvgen" -k toatot -n 10 -s 14 -o night/d.mv >/dev/null
# The jobs find mvscan on PATH, as on a cluster where it is installed.
bin=$work/bin
mkdir "$bin"
ln -s "$mvscan" "$bin/mvscan"
export PATH=$bin:$PATH

# The array job, one task per file, waited for.
array=$(timeout 180 sbatch --parsable --wait --array=0-$(($(ls night/*.mv | wc -l) - 1)) scan.sbatch) || {
  status=$?
  for out in slurm-*.out; do [ -f "$out" ] && sed "s/^/$out: /" "$out"; done
  fail "the array job ended with status $status"
}
array=${array%%;*}
[ "$(ls night/*.json | wc -l)" -eq 4 ] || fail "the array job left $(ls night/*.json | wc -l) documents"
echo "slurm: array job $array done"
# The merge, a job that runs after the array job.
timeout 120 sbatch --parsable --wait --dependency=afterok:"$array" --output=merge.out \
  --wrap 'mvscan --merge -E -H 64 night/*.json > night.txt' >/dev/null ||
  fail "the merge job ended with status $?: $(cat merge.out 2>/dev/null)"

# One run over all the files: the reference.
mkdir single
(cd single && "$mvscan" -p -E -H 64 ../night/*.mv >report.txt)
single_size=$(stat -c %s single/report.txt)
merged_size=$(stat -c %s night.txt)
[ "$merged_size" -gt 0 ] || fail "the merge job wrote no report"
[ "$single_size" -gt "$merged_size" ] || fail "merged report longer than the single run's"
# The merged block is the single run's last block, which a blank line ends.
tail -c $((merged_size + 1)) single/report.txt | head -c "$merged_size" | cmp - night.txt ||
  fail "merged report differs"
[ "$(tail -c 1 single/report.txt | od -An -c | tr -d ' ')" = '\n' ] || fail "no blank line"
cmp single/inspect.png inspect.png || fail "pictures differ"
echo "slurm recipe: array job and merge job give the report and picture of one run"
