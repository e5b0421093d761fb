#!/usr/bin/env bash
# Times Tandrel beside two copy floors and two general Matroska muxers on the
# corpus of make_corpus.sh, and prints a markdown table.
#
#   bench/run.sh [--rounds N] [--size small|large|both] [--write]
#
# After a warm-up round (which also fills the page cache), every round runs
# every command once on every size, in a rotating order, so that load from
# elsewhere on the machine falls on all commands alike. --write puts the
# table, with the machine's description, into bench/RESULTS.md.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"

rounds=5 sizes=(small large) write=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --size)
      case $2 in small | large) sizes=("$2") ;; both) sizes=(small large) ;;
        *) echo "--size: small, large or both" >&2; exit 2 ;; esac
      shift 2 ;;
    --write) write=(--write "$here/RESULTS.md"); shift ;;
    *) echo "usage: bench/run.sh [--rounds N] [--size small|large|both] [--write]" >&2; exit 2 ;;
  esac
done

corpus=$here/corpus
for size in "${sizes[@]}"; do
  [[ -s $corpus/$size.264 && -s $corpus/$size.mvc ]] ||
    { echo "no $size pair in $corpus: run bench/make_corpus.sh first" >&2; exit 1; }
done
need_packages time ffmpeg mkvtoolnix python3
build_tandrel

# Outputs go next to the inputs, on the same disk; the largest output is
# about as large as the largest pair.
largest=0
for size in "${sizes[@]}"; do
  pair=$(($(stat -c %s "$corpus/$size.264") + $(stat -c %s "$corpus/$size.mvc")))
  ((pair > largest)) && largest=$pair
done
need_space "$corpus" $((largest + (256 << 20)))
scratch=$(mktemp -d "$corpus/scratch.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
samples=$scratch/samples.tsv

commands=(cat dd ffmpeg mkvmerge tandrel)

# Runs command $1 on pair $2 and, for a round number $3 above 0, appends
# "size command round wall_s peak_rss_kib input_bytes" to the samples.
run_one() {
  local name=$1 size=$2 round=$3
  local base=$corpus/$2.264 dep=$corpus/$2.mvc out=$scratch/out.mkv stdout=/dev/null
  local input=$(($(stat -c %s "$base") + $(stat -c %s "$dep")))
  local cmd
  # shellcheck disable=SC2016 # dd's file names are expanded by sh
  case $name in
    cat) cmd=(cat "$base" "$dep"); stdout=$out ;;
    dd) cmd=(sh -c 'dd if="$1" bs=1M status=none && dd if="$2" bs=1M status=none' sh "$base" "$dep")
      stdout=$out ;;
    # Raw H.264 carries no timestamps; with B pictures ffmpeg's Matroska
    # muxer needs some, so the decode order stands in for them.
    ffmpeg) cmd=(ffmpeg -nostdin -y -loglevel error -f h264 -i "$base" -c copy -bsf:v setts=pts=DTS "$out")
      input=$(stat -c %s "$base") ;;
    mkvmerge) cmd=(mkvmerge -q -o "$out" "$base"); input=$(stat -c %s "$base") ;;
    tandrel) cmd=("$tandrel" "$base" "$dep" "$out" -y) ;;
  esac
  # /usr/bin/time gives the peak RSS; its wall time has 10 ms steps, too
  # coarse for the small pair, so the wall time is taken here in microseconds.
  local start=$EPOCHREALTIME
  if ! /usr/bin/time -f '%e %M' -o "$scratch/time" "${cmd[@]}" >"$stdout"; then
    echo "failed: ${cmd[*]}" >&2
    exit 1
  fi
  local end=$EPOCHREALTIME
  rm -f "$out"
  # Write back what is left of this output now, not during the next command.
  sync
  ((round > 0)) || return 0
  local wall rss
  wall=$(awk "BEGIN { printf \"%.6f\", $end - $start }")
  read -r _ rss <"$scratch/time"
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$size" "$name" "$round" "$wall" "$rss" "$input" >>"$samples"
}

for round in $(seq 0 "$rounds"); do
  echo "round $round of $rounds$( ((round > 0)) || echo ' (warm-up)')" >&2
  for k in "${!commands[@]}"; do
    name=${commands[$(((k + round) % ${#commands[@]}))]}
    for size in "${sizes[@]}"; do run_one "$name" "$size" "$round"; done
  done
done

python3 "$here/summarize.py" "$samples" "${write[@]}"
