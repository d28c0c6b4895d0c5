#!/usr/bin/env bash
# Runs the C++ and Python test suites against a build made with AddressSanitizer and
# UndefinedBehaviorSanitizer (make test-sanitize). Fails on any test failure and on any sanitizer
# report, also one that did not stop its process.
# Usage: tests/reliability/run-sanitized.sh BUILD_DIR JOBS
set -euo pipefail
build=$(cd "$1" && pwd)
jobs=${2:-2}
repo=$(cd "$(dirname "$0")/../.." && pwd)
logs=$build/sanitizer-logs
rm -rf "$logs" && mkdir -p "$logs"

# Every report stops its process and is also written to a file of its own, so that a report from
# a process whose exit status nobody checks is still seen. Allocations too large to satisfy fail
# as they do without the sanitizer (tests check that the library reports them).
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:allocator_may_return_null=1:log_path=$logs/asan"
export LSAN_OPTIONS="suppressions=$repo/tests/reliability/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"
export PYTHONDONTWRITEBYTECODE=1

start=$(date +%s)
status=0
meson test -C "$build" --num-processes "$jobs" --timeout-multiplier 4 --print-errorlogs || status=1

# The interpreter and numpy are not instrumented: the runtime is preloaded so that it sees every
# allocation from the start, and the interpreter's own allocations (kept until exit by design) are
# not counted as leaks; tests/python/test_leaks.py watches the process's memory instead.
ASAN_OPTIONS="${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}" \
LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)" \
ZV_SANITIZED=1 ZV_BUILD_DIR="$build" PYTHONPATH="$build:$repo" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider "$repo/tests/python" || status=1

reports=$(find "$logs" -type f | wc -l)
if [ "$reports" -gt 0 ]; then
    echo "sanitizer reports:" >&2
    for f in "$logs"/*; do echo "== $f" >&2; cat "$f" >&2; done
    status=1
fi
echo "sanitized tests: $reports sanitizer reports, $(( $(date +%s) - start )) s"
exit $status
