#!/usr/bin/env bash
# Peak memory and time of `vexl scan` and `vexl recover` on files of each
# hostile shape hostile_gen writes, SIZE MiB each (default 256), with the
# resident set per byte of source beside it.
#   bench/hostile_bench.sh [--size MiB] [--ansi] [--build DIR] [--dir DIR] [SHAPE...]
set -euo pipefail
cd "$(dirname "$0")/.."
size=256
build=build/release
dir="${TMPDIR:-/tmp}"
variant=()
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --dir) dir="$2"; shift 2 ;;
    --ansi) variant=(--ansi); shift ;;
    *) break ;;
  esac
done
shapes=("$@")
[ ${#shapes[@]} -gt 0 ] || shapes=(noise tiny-blocks same-block same-nid same-bid tiny-nodes deep-pages)
[ -x "$build/bin/hostile_gen" ] || { echo "build hostile_gen and vexl in $build first" >&2; exit 1; }
work="$(mktemp -d "$dir/hostile_bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
printf "%-12s %-8s %9s %9s %10s %8s %5s\n" shape command wall_s cpu_s peak_MiB rss/src exit
for shape in "${shapes[@]}"; do
  "$build/bin/hostile_gen" "$shape" "$size" "$work/source.ost" "${variant[@]}"
  for command in scan recover; do
    rm -f "$work/target.pst"
    args=(scan "$work/source.ost")
    [ "$command" = recover ] && args=(recover "$work/source.ost" -o "$work/target.pst")
    rc=0
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$build/bin/vexl" "${args[@]}" >/dev/null 2>&1 || rc=$?
    # GNU time puts a "non-zero status" line first when the command fails.
    tail -n 1 "$work/time" | awk -v s="$shape" -v c="$command" -v mib="$size" -v rc="$rc" \
      '{ printf "%-12s %-8s %9.2f %9.2f %10.1f %8.2f %5s\n", s, c, $1, $2 + $3, $4 / 1024, $4 * 1024 / (mib * 1048576), rc }'
  done
  rm -f "$work/source.ost"
done
