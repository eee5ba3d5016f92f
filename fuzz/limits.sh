# The libFuzzer options every run of a target uses, sourced by the fuzz
# scripts: limits=(...) after `fuzz_limits TARGET` (fails on an unknown
# target). The chunk walk takes inputs of many chunks; a packet input of
# 8 KiB holds a thousand packets, each scanned eight times; a statistics
# document of a small file takes 10 to 15 KiB (its type list alone about
# 9 KiB), and a merge input holds two.
fuzz_limits() {
  local max_len
  case $1 in
    chunks) max_len=65536 ;;
    packets) max_len=8192 ;;
    merge) max_len=32768 ;;
    *) return 1 ;;
  esac
  limits=(-max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64)
}
