#!/usr/bin/env bash
# End-to-end benchmark: one generated offline folders file, read four ways.
#
#   bench/e2e_bench.sh [--messages N] [--keep] [--vexl PATH] [--dir DIR] [--tools LIST]
#
# Writes an intact demo mailbox of N top-level messages (default 20000, about
# 270 MB; 100000 gives about 1.35 GB) with 'vexl demo --intact', then times on
# that same file:
#   ours       vexl recover FILE -o OUT.pst   (default options)
#   pffexport  pffexport -m all -q -t DIR FILE
#   readpst    readpst -D -o DIR FILE
#   read       cat FILE > /dev/null           (after one read that caches it)
# and prints wall and user+sys CPU seconds, peak resident set (GNU time -v)
# and the ratios ours/pffexport, ours/readpst, ours/read of both. Under load
# the CPU seconds are the steadier figure; our recovery's wall time also holds
# the final flush of the written file to disk, which the exports do not do.
# Each tool runs once, on the page-cached file. --tools runs only the tools
# named (comma-separated, e.g. ours,read: pffexport needs more than ten
# minutes at 100000 messages). Needs /usr/bin/time (tools/install-deps).
# Everything goes to a new temporary folder (under DIR when --dir is given),
# removed at the end unless --keep; nothing else under DIR is touched.
set -euo pipefail

messages=20000
keep=0
vexl=""
dir=""
tools="ours,pffexport,readpst,read"
while [ $# -gt 0 ]; do
  case "$1" in
    --messages) messages="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --vexl) vexl="$2"; shift 2 ;;
    --dir) dir="$2"; shift 2 ;;
    --tools) tools="$2"; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "e2e_bench: unknown argument $1" >&2; exit 2 ;;
  esac
done

root="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "$vexl" ]; then
  for c in "$root/build/release/bin/vexl" "$(command -v vexl || true)"; do
    [ -n "$c" ] && [ -x "$c" ] && { vexl="$c"; break; }
  done
fi
[ -n "$vexl" ] && [ -x "$vexl" ] || { echo "e2e_bench: no vexl found; build the release preset or pass --vexl" >&2; exit 2; }
wanted() { case ",$tools," in *",$1,"*) return 0 ;; *) return 1 ;; esac; }
for t in /usr/bin/time pffexport readpst; do
  [ "$t" = /usr/bin/time ] || wanted "$t" || continue
  command -v "$t" >/dev/null || { echo "e2e_bench: $t is missing; run tools/install-deps" >&2; exit 2; }
done

# A fresh folder of our own, under DIR when given: only it is ever removed.
[ -n "$dir" ] || dir="${TMPDIR:-/tmp}"
[ -d "$dir" ] || { echo "e2e_bench: $dir is not a folder" >&2; exit 2; }
dir="$(mktemp -d "$dir/e2e_bench.XXXXXX")"
[ "$keep" -eq 1 ] || trap 'rm -rf "$dir"' EXIT
src="$dir/mailbox.ost"

echo "machine: $(nproc) cores, load$(uptime | sed 's/.*load average//')"
echo "vexl: $vexl"
gen_start=$(date +%s.%N)
"$vexl" demo "$src" --messages "$messages" --intact >/dev/null
gen_end=$(date +%s.%N)
size=$(stat -c %s "$src")
awk -v m="$messages" -v s="$size" -v a="$gen_start" -v b="$gen_end" \
  'BEGIN { printf "source: %d messages, %.1f MiB, generated in %.1f s\n", m, s / 1048576, b - a }'

declare -A secs cpu rss
for n in ours pffexport readpst read; do secs[$n]=""; cpu[$n]=""; rss[$n]=""; done
# run NAME CMD...: wall seconds and peak resident set (KiB) of CMD.
run() {
  local name="$1"; shift
  local log="$dir/$name.time"
  if ! /usr/bin/time -v -o "$log" "$@" >"$dir/$name.out" 2>"$dir/$name.err"; then
    echo "e2e_bench: $name failed (exit status in $log, output in $dir/$name.err)" >&2
  fi
  local wall
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
  secs[$name]=$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  cpu[$name]=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$log")
  rss[$name]=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
}

cat "$src" >/dev/null
if wanted read; then
  run read cat "$src"
  rm -f "$dir/read.out"
fi
wanted ours && run ours "$vexl" recover "$src" -o "$dir/ours.pst" --log "$dir/ours.log"
wanted pffexport && run pffexport pffexport -m all -q -t "$dir/pffexport" "$src"
wanted readpst && run readpst readpst -D -o "$(mkdir -p "$dir/readpst" && echo "$dir/readpst")" "$src"

printf '\n%-10s %10s %14s %12s\n' tool seconds "user+sys CPU" "peak RSS MiB"
for n in ours pffexport readpst read; do
  wanted "$n" || continue
  printf '%-10s %10.2f %14.2f %12.1f\n' "$n" "${secs[$n]}" "${cpu[$n]}" "$(awk -v k="${rss[$n]}" 'BEGIN { print k / 1024 }')"
done
ratio() { echo "${1:-0} ${2:-0}" | awk '{ if ($2 > 0) printf "%.2f", $1 / $2; else print "n/a" }'; }
printf '\nwall: ours/pffexport %s   ours/readpst %s   ours/read %s\n' "$(ratio "${secs[ours]}" "${secs[pffexport]}")" \
  "$(ratio "${secs[ours]}" "${secs[readpst]}")" "$(ratio "${secs[ours]}" "${secs[read]}")"
printf 'CPU:  ours/pffexport %s   ours/readpst %s   ours/read %s\n' "$(ratio "${cpu[ours]}" "${cpu[pffexport]}")" \
  "$(ratio "${cpu[ours]}" "${cpu[readpst]}")" "$(ratio "${cpu[ours]}" "${cpu[read]}")"
wanted ours && printf 'recovered file: %.1f MiB\n' "$(awk -v s="$(stat -c %s "$dir/ours.pst")" 'BEGIN { print s / 1048576 }')"
echo "load after$(uptime | sed 's/.*load average//')"
[ "$keep" -eq 1 ] && echo "kept: $dir"
exit 0
