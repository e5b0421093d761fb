#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs them one after the other, each as a
# single process, from a copy of its seed corpus in tests/fuzz/corpus and with
# the dictionary tests/fuzz/annexb.dict.
#
#   scripts/fuzz.sh --smoke               every target for 60 s, from the seeds alone
#   scripts/fuzz.sh [--keep-going] [SECONDS] [TARGET...]
#                                         SECONDS per target (default 600), all
#                                         targets or those named; the corpus grown by
#                                         earlier runs is kept and run on
#
# A run stops at the first crash, unless --keep-going runs it in libFuzzer's
# fork mode (one worker process at a time), which goes on after a crash and
# keeps every reproducer. The grown corpus, logs and reproducers stay under
# build/fuzz/run; the committed seeds are never written to. Exits non-zero
# when a target crashes, leaks, hangs or breaks one of its checks; the
# reproducers are named in the log.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
fresh_corpus=false
mode=()
if [[ "${1:-}" == "--smoke" ]]; then
  seconds=60
  fresh_corpus=true
  shift
fi
if [[ "${1:-}" == "--keep-going" ]]; then
  mode=(-fork=1 -ignore_crashes=1)
  shift
fi
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(fuzz_nal_reader fuzz_sps_parser fuzz_sei_pic_timing fuzz_mux)

# Longest input per target: a few loads of the reader, a parameter set or SEI
# unit with room to spare, and a pair of sample pieces for the mux.
declare -A max_len=([fuzz_nal_reader]=4096 [fuzz_sps_parser]=512 [fuzz_sei_pic_timing]=512
  [fuzz_mux]=66000)

scripts/install-deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

run=build/fuzz/run
failed=()
for target in "${targets[@]}"; do
  if [[ -z "${max_len[$target]:-}" ]]; then
    echo "unknown target $target" >&2
    exit 2
  fi
  corpus=$run/corpus/$target
  artifacts=$run/artifacts/$target
  log=$run/$target.log
  [[ $fresh_corpus == true ]] && rm -rf "$corpus"
  mkdir -p "$corpus" "$artifacts"
  cp tests/fuzz/corpus/"$target"/* "$corpus"/

  status=0
  touch "$log.start"
  build/fuzz/tests/fuzz/"$target" "$corpus" -dict=tests/fuzz/annexb.dict \
    -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=25 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "${mode[@]}" >"$log" 2>&1 || status=$?

  # The final statistics; fork mode prints only its progress lines.
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  [[ -z $executions ]] && executions=$(grep -oE '^#[0-9]+' "$log" | tail -n 1 | tr -d '#')
  per_second=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  [[ -z $per_second ]] && per_second=$(grep -oE 'exec/s:? [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+$')
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1 || true)
  echo "$target: ${executions:-?} executions, ${per_second:-?}/s, ${coverage:-no coverage line}"
  # Fork mode exits 0 after crashes it went on from; their reproducers tell.
  if [[ $(find "$artifacts" -type f -newer "$log.start" | wc -l) -gt 0 ]]; then
    status=1
    find "$artifacts" -type f -newer "$log.start"
  fi
  if [[ $status -ne 0 ]]; then
    failed+=("$target")
    grep -E -A 12 'check failed|ERROR: |runtime error|SUMMARY' "$log" | head -n 40 || true
    echo "$target: see $log and $artifacts" >&2
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzzing found a fault in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing found no fault in: ${targets[*]}"
