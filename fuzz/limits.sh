# The libFuzzer options every run of a target uses, sourced by the fuzz
# scripts: limits=(...) after `fuzz_limits TARGET` (fails on an unknown
# target). The chunk walk takes inputs of many chunks; a packet input of
# 8 KiB holds a thousand packets, each scanned eight times.
fuzz_limits() {
  local max_len
  case $1 in
    chunks) max_len=65536 ;;
    packets) max_len=8192 ;;
    *) return 1 ;;
  esac
  limits=(-max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64)
}
