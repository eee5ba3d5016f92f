# Pairwise timing for the benchmark scripts (sourced, not run).
#
# pairs RUNS LABEL MVSCAN_COMMAND BASE_COMMAND runs the two shell commands
# alternately RUNS times, so that both meet the same load of a shared
# machine, and prints one row: the median wall-clock time of each, the
# median of the per-pair ratios mvscan / base with their range (min-max),
# and the same for CPU time (user + system of every process of the
# command). A command's output file is removed before each run, so freeing
# the last run's output is not its cost.
#
# OUT (set by the caller): the file the commands write to, if any.

# One run of a shell command: "wall cpu" in seconds.
run_once() {
  local wall user sys TIMEFORMAT='%3R %3U %3S'
  [[ -n ${OUT:-} ]] && rm -f "$OUT"
  read -r wall user sys < <({ time bash -c "$1" >/dev/null 2>&1; } 2>&1)
  echo "$wall $(echo "$user + $sys" | bc -l)"
}

# The median, minimum and maximum of the numbers on standard input.
median_range() {
  sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f %.3f %.3f", m, v[1], v[NR] }'
}

pairs_header() {
  printf '%-26s %8s %8s %18s   %8s %8s %18s\n' "" "wall:mv" "base" "ratio (min-max)" \
    "cpu:mv" "base" "ratio (min-max)"
}

pairs() {
  local runs=$1 label=$2 mv=$3 base=$4 i mw mc bw bc
  local -a mvWall=() mvCpu=() baseWall=() baseCpu=() wallRatio=() cpuRatio=()
  for ((i = 0; i < runs; i++)); do
    read -r mw mc <<<"$(run_once "$mv")"
    read -r bw bc <<<"$(run_once "$base")"
    mvWall+=("$mw") mvCpu+=("$mc") baseWall+=("$bw") baseCpu+=("$bc")
    wallRatio+=("$(echo "$mw / $bw" | bc -l)")
    # A CPU time under the clock's 1 ms resolution counts as 1 ms.
    cpuRatio+=("$(echo "$mc / ($bc + ($bc == 0) * 0.001)" | bc -l)")
  done
  local w c
  read -r w _ _ <<<"$(printf '%s\n' "${mvWall[@]}" | median_range)"
  read -r bw _ _ <<<"$(printf '%s\n' "${baseWall[@]}" | median_range)"
  read -r c _ _ <<<"$(printf '%s\n' "${mvCpu[@]}" | median_range)"
  read -r bc _ _ <<<"$(printf '%s\n' "${baseCpu[@]}" | median_range)"
  printf '%-26s %8s %8s %18s   %8s %8s %18s\n' "$label" "$w" "$bw" \
    "$(printf '%s\n' "${wallRatio[@]}" | median_range | awk '{ printf "%s (%s-%s)", $1, $2, $3 }')" \
    "$c" "$bc" \
    "$(printf '%s\n' "${cpuRatio[@]}" | median_range | awk '{ printf "%s (%s-%s)", $1, $2, $3 }')"
}

# The programs and sizes of a benchmark over mvgen files, from its
# arguments [path/to/mvscan] [size-in-MiB] and the environment (RUNS,
# MVGEN): sets mvscan, mib, runs and mvgen, and stops if a program is
# missing.
bench_programs() {
  mvscan=$(realpath "${1:-$here/../build/mvscan}")
  mib=${2:-1024}
  runs=${RUNS:-7}
  mvgen=${MVGEN:-$(dirname "$mvscan")/tools/mvgen}
  [[ -x $mvscan ]] || { echo "mvscan not found: $mvscan" >&2; exit 1; }
  [[ -x $mvgen ]] || { echo "mvgen not found: $mvgen" >&2; exit 1; }
}
