#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each one for a while on a copy of its seed corpus, after replaying its saved
# regression inputs once.
#
#   bash scripts/fuzz.sh [seconds-per-target] [target...]     (default: 5 seconds, every target)
#
# Prints one line per target: executions, coverage (cov: and ft: of libFuzzer's last status
# line), corpus size at the end, and crashes (crash, leak, time-out and out-of-memory inputs).
# Exits non-zero when a regression input fails or a target crashed. The inputs found are kept
# in build/fuzz/fuzz-run/<target>/ (corpus/, artifacts/, log.txt) for inspection.
set -euo pipefail

seconds="${1:-5}"
shift || true
cd "$(dirname "$0")/.."
root="$(pwd)"

all_targets=(
  fuzz_status_and_headers
  fuzz_body_framing
  fuzz_uri
  fuzz_header_list
  fuzz_meta_scan
  fuzz_xml_sniff
  fuzz_decode_text
  fuzz_http_date
  fuzz_date_picture
)
if (($# > 0)); then
  targets=("$@")
else
  targets=("${all_targets[@]}")
fi

# Limits: a single input may take 10 s and 512 MB in one allocation, the process 2 GB in all.
fuzz_options=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1)
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"

bin_dir="$root/build/fuzz/fuzz"
run_dir="$root/build/fuzz/fuzz-run"
failed=0
results=()

for target in "${targets[@]}"; do
  binary="$bin_dir/$target"
  work="$run_dir/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"

  # Saved inputs of faults fixed earlier: each must run through without a report.
  regressions="$root/fuzz/regressions/$target"
  regression_status="-"
  if [[ -d "$regressions" ]] && [[ -n "$(ls -A "$regressions")" ]]; then
    if "$binary" "${fuzz_options[@]}" -runs=1 "$regressions"/* >"$work/regressions.txt" 2>&1; then
      regression_status="ok($(ls -A "$regressions" | wc -l))"
    else
      regression_status="FAILED"
      failed=1
      echo "== $target: a regression input fails; see $work/regressions.txt" >&2
      tail -n 30 "$work/regressions.txt" >&2
    fi
  fi

  if [[ -d "$root/fuzz/corpus/$target" ]]; then
    cp -r "$root/fuzz/corpus/$target/." "$work/corpus/"
  fi
  status=0
  "$binary" "${fuzz_options[@]}" -max_total_time="$seconds" \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log.txt" 2>&1 || status=$?

  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log.txt" | tail -n 1)"
  last_status="$(grep -E '^#[0-9]+.*cov: ' "$work/log.txt" | tail -n 1 || true)"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last_status")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last_status")"
  corpus="$(find "$work/corpus" -type f | wc -l)"
  crashes="$(find "$work/artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o \
    -name 'timeout-*' -o -name 'oom-*' \) | wc -l)"
  if ((status != 0)) && ((crashes == 0)); then
    crashes=1  # the target died without leaving an input behind
  fi
  if ((crashes > 0)); then
    failed=1
    echo "== $target crashed (exit $status); log: $work/log.txt, inputs: $work/artifacts/" >&2
    grep -E 'ERROR|runtime error|FUZZ_CHECK|SUMMARY' "$work/log.txt" | head -n 5 >&2 || true
  fi
  results+=("$(printf '%-24s %12s %7s %7s %7s %8s %s' "$target" "${executions:-0}" "${cov:-0}" \
    "${ft:-0}" "$corpus" "$crashes" "$regression_status")")
done

echo
printf '%-24s %12s %7s %7s %7s %8s %s\n' target executions cov ft corpus crashes regressions
for line in "${results[@]}"; do
  echo "$line"
done
exit "$failed"
