#!/usr/bin/env bash
# Runs each fuzz target over its seed corpus for FUZZ_SECONDS (default 60) and fails on the first
# finding (crash, hang, leak or sanitizer report). New inputs go to a scratch corpus in the build
# folder; a finding is left there as crash-*/timeout-*/leak-* beside the log.
#   scripts/fuzz.sh [BUILD_DIR] [TARGET...]     (default build/fuzz, every target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/fuzz}
shift || true
seconds=${FUZZ_SECONDS:-60}
# FUZZ_RUNS: a fixed number of inputs from a fixed seed instead of a time, so a smoke run is the
# same run on every machine (a finding there is a finding everywhere, not a matter of speed).
if [ -n "${FUZZ_RUNS:-}" ]; then
  limit=(-runs="$FUZZ_RUNS" -seed=1)
else
  limit=(-max_total_time="$seconds")
fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(hex_file dat_file mat_file settings_file directory_file recent_files limits_file
           logger_replies calibration_history realtime_records nmea configuration_script
           meta_table)
fi
bin="$root/$build/tests/fuzz"
out="$root/$build/fuzz-runs"
mkdir -p "$out"
failed=()
printf '%-20s %10s %6s %6s  %s\n' target executions cov ft result
for t in "${targets[@]}"; do
  mkdir -p "$out/$t/corpus" "$out/$t/findings"
  log="$out/$t/log.txt"
  status=ok
  "$bin/fuzz_$t" "${limit[@]}" -print_final_stats=1 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$out/$t/findings/" \
    "$out/$t/corpus" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1 || status=FOUND
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  cov=$(grep -aoE 'cov: [0-9]+' "$log" | tail -n1 | cut -d' ' -f2)
  ft=$(grep -aoE 'ft: [0-9]+' "$log" | tail -n1 | cut -d' ' -f2)
  printf '%-20s %10s %6s %6s  %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$status"
  if [ "$status" != ok ]; then
    failed+=("$t")
    grep -aE 'ERROR|SUMMARY|runtime error|deadly signal|Test unit written' "$log" | head -n 8 || true
  fi
done
if ((${#failed[@]})); then
  echo "Findings in: ${failed[*]} (logs and inputs under $out)"
  exit 1
fi
