#!/usr/bin/env bash
# The library's layers, lowest first. A source of a layer includes headers
# of its own layer and of the layers below it, always with the layer's
# folder ("scan/DataInspector.h"); never a header of a layer above it, of
# the command line (app/) or of the tools. format and text are both at the
# bottom and know nothing of each other.
#
#   tests/scripts/layers_test.sh SOURCE_DIR
set -uo pipefail
root=${1:-$(dirname "$0")/../..}
declare -A rank=([format]=0 [text]=0 [io]=1 [scan]=2 [report]=3 [run]=4)
failed=0
for dir in "$root"/inspector/*/; do
  layer=$(basename "$dir")
  if [ -z "${rank[$layer]+set}" ]; then
    echo "inspector/$layer/: a folder that is no known layer"
    failed=1
    continue
  fi
  for file in "$dir"*.h "$dir"*.cpp; do
    [ -e "$file" ] || continue
    while IFS= read -r line; do
      name=${line#*\"}
      name=${name%%\"*}
      used=${name%%/*}
      where="inspector/$layer/$(basename "$file"): #include \"$name\""
      if [ "$used" = "$name" ] || [ -z "${rank[$used]+set}" ]; then
        echo "$where: not a header of a layer"
        failed=1
      elif [ "$used" != "$layer" ] && ((rank[$used] >= rank[$layer])); then
        echo "$where: $used is not below $layer"
        failed=1
      fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
  done
done
[ "$failed" = 0 ] && echo "layers: every include points down or within its layer"
exit "$failed"
