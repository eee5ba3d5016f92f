# Compiler jobs in the background, a few at a time, each one's exit status
# checked: a failed compile must fail the script, not leave an older object
# or binary behind to be linked or tested. Sourced by the build scripts.
#
#   max_jobs=2
#   start_job CMD ARGS...    waits for the oldest job first when max_jobs run
#   finish_jobs              waits for the rest; fails if any job failed
max_jobs=${max_jobs:-2}
job_pids=()
job_failed=0

start_job() {
  if ((${#job_pids[@]} >= max_jobs)); then
    wait "${job_pids[0]}" || job_failed=1
    job_pids=("${job_pids[@]:1}")
  fi
  "$@" &
  job_pids+=($!)
}

finish_jobs() {
  local pid
  for pid in "${job_pids[@]}"; do
    wait "$pid" || job_failed=1
  done
  job_pids=()
  if ((job_failed)); then
    echo "a background compile failed" >&2
    return 1
  fi
}
