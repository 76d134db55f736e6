#!/bin/sh
# Runs the VST 3 SDK's validator, named by ZELKO_VST3_VALIDATOR, with its extensive tests on the
# bundle $1, with the libraries $2 preloaded (the sanitizer runtimes of a sanitized build).
# Exits 77, which the test suite counts as skipped, when the variable names no program.
bundle=$1
preload=$2
if [ -z "${ZELKO_VST3_VALIDATOR:-}" ] || [ ! -x "$ZELKO_VST3_VALIDATOR" ]; then
    echo "ZELKO_VST3_VALIDATOR names no validator: skipped"
    exit 77
fi
log=$(mktemp)
ASAN_OPTIONS=detect_leaks=0 LD_PRELOAD="$preload" "$ZELKO_VST3_VALIDATOR" -e "$bundle" >"$log" 2>&1
status=$?
grep -E "ERROR|Failed|runtime error|Result:" "$log"
result=$(grep "Result:" "$log")
rm -f "$log"
# Every test must pass: the exit status and the summary's failure count both say so.
[ "$status" -eq 0 ] && echo "$result" | grep -q " 0 tests failed"
