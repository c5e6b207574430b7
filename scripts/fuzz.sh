#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ with clang and runs each for [seconds] (600).
# Each run starts from a copy of fuzz/corpus/<name>; crashes land in build-fuzz/findings/<name>.
# One target at a time, in one process (no -jobs, which would fork and move the log), at the
# lowest priority. Exits non-zero when any target finds a crash.
# QV_FUZZ_TARGETS="address bridge" runs only those.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
bash scripts/setup.sh fuzz

source scripts/ccache_env.sh
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${qv_launcher[@]}" \
    -DQV_FUZZ=ON -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >/dev/null
targets=(${QV_FUZZ_TARGETS:-address history defaults manifest bridge storage_import local_copy
    archive downloads favicon})
nice cmake --build build-fuzz -j"${QV_FUZZ_BUILD_JOBS:-2}" \
    --target $(printf '%s_fuzz ' "${targets[@]}")

# Leaks in a fuzz input are findings too; the toolkit's own are not linked into these targets.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
summary=()
for name in "${targets[@]}"; do
    work="build-fuzz/runs/$name"
    findings="build-fuzz/findings/$name"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$findings"
    cp -r "fuzz/corpus/$name/." "$work/corpus/"
    log="$work/fuzz.log"
    echo "== $name: ${seconds}s"
    status=0
    nice -n 19 "./build-fuzz/fuzz/${name}_fuzz" -max_total_time="$seconds" \
        -print_final_stats=1 -timeout=25 -rss_limit_mb=2048 -max_len=65536 \
        -artifact_prefix="$findings/" "$work/corpus" >"$log" 2>&1 || status=$?
    # The last status line carries the coverage; the final stats the executions.
    last=$(grep -E '#[0-9]+.*cov:' "$log" | tail -1 || true)
    execs=$(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}' | tail -1)
    cov=$(sed -nE 's/.*cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -nE 's/.*ft: ([0-9]+).*/\1/p' <<<"$last")
    line="$name: executions ${execs:-?}, cov ${cov:-?}, ft ${ft:-?}"
    if [ "$status" -ne 0 ]; then
        line+=", FAILED (status $status, see $log and $findings)"
        failed+=("$name")
    fi
    echo "$line"
    summary+=("$line")
done

echo "== summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "crashes found by: ${failed[*]}"
    exit 1
fi
