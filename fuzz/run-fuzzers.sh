#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, starting from its seed corpus (fuzz/corpus/<target>),
# and prints one line per target: executions, corpus size, outcome. Fails when a target finds a
# crash, a sanitizer report, a leak or a time-out; the input is left in BUILD_DIR/fuzz-artifacts.
# With --merge, new inputs that add coverage are minimised into the seed corpus (for make fuzz).
# Usage: fuzz/run-fuzzers.sh BUILD_DIR SECONDS_PER_TARGET [--merge] [TARGET...]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
shift 2
merge=0
if [ "${1:-}" = "--merge" ]; then
    merge=1
    shift
fi
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
# By default every target fuzz/meson.build built; each starts from its seed corpus, if any.
if [ ${#targets[@]} -eq 0 ]; then
    for binary in "$build"/fuzz/fuzz_*; do
        [ -f "$binary" ] && [ -x "$binary" ] && targets+=("$(basename "$binary")")
    done
fi

artifacts=$build/fuzz-artifacts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

failed=0
for target in "${targets[@]}"; do
    binary=$build/fuzz/$target
    mkdir -p "$work/$target" "$here/corpus/$target"
    log=$work/$target.log
    # -close_fd_mask=3: the library's console lines and descriptor reports are noise here; the
    # fuzzer keeps its own output and the sanitizers' reports.
    if "$binary" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -close_fd_mask=3 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
        "$work/$target" "$here/corpus/$target" >"$log" 2>&1; then
        outcome=ok
    else
        outcome=FAILED
        failed=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    corpus=$(ls "$work/$target" "$here/corpus/$target" | grep -vc ':$' || true)
    printf '%-22s %12s executions in %s s, %6s corpus inputs, %s\n' \
        "$target" "${runs:-?}" "$seconds" "$corpus" "$outcome"
    if [ "$outcome" != ok ]; then
        grep -A40 -m1 -E 'ERROR: |runtime error|deadly signal|Timeout|out-of-memory' "$log" >&2 ||
            tail -40 "$log" >&2
    elif [ "$merge" = 1 ]; then
        "$binary" -merge=1 -close_fd_mask=3 "$here/corpus/$target" "$work/$target" >/dev/null 2>&1
    fi
done
exit $failed
