#!/usr/bin/env bash
# Builds and runs every test: debug build with ctest (unit and end-to-end),
# sanitizer build with ctest, Windows cross build under Wine (checks and
# the end-to-end suite again). Ends with the counts of all of them.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/ensure-deps.sh" || exit 1
export TARNIK_NO_SLEEP=1
jobs=${JOBS:-2}
summary=() total=0 failed_total=0 status=0
logdir="$root/out/logs"; mkdir -p "$logdir"

run_ctest() { # preset
    local p=$1
    if ! { cmake --preset "$p" && cmake --build --preset "$p" -j"$jobs"; } >"$logdir/$p.build.log" 2>&1; then
        tail -40 "$logdir/$p.build.log"; summary+=("$p: BUILD FAILED"); status=1; return
    fi
    ctest --preset "$p" -j"$jobs" 2>&1 | tee "$logdir/$p.ctest.log" | grep -E "tests passed|Failed|\*\*\*" || true
    local line; line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$logdir/$p.ctest.log" | tail -1)
    [ -z "$line" ] && { summary+=("$p: no test result"); status=1; return; }
    local n f; n=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line"); f=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
    total=$((total+n)); failed_total=$((failed_total+f)); [ "$f" -ne 0 ] && status=1
    summary+=("$p: $line")
}

run_ctest debug
e2e=$(sed -nE 's/^e2e +=.*\(([0-9]+) tests?\)/\1/p' "$logdir/debug.ctest.log" 2>/dev/null | tail -1)
[ -n "$e2e" ] && summary+=("  (debug includes the end-to-end suite on the Linux build: $e2e tests)")
run_ctest sanitizers
# Windows build (current and earlier release) under Wine: a few checks
# beside the Linux build, then the whole end-to-end suite again.
if { cmake --preset windows && cmake --build --preset windows -j"$jobs"; } >"$logdir/windows.build.log" 2>&1; then
    "$root/scripts/wine-checks.sh" "$root/out/windows" "$root/out/debug" 2>&1 | tee "$logdir/wine.log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    line=$(grep -E "^wine checks: " "$logdir/wine.log" | tail -1)
    n=$(sed -nE 's/.*out of ([0-9]+).*/\1/p' <<<"$line"); f=$(sed -nE 's/.*passed, ([0-9]+) failed.*/\1/p' <<<"$line")
    [ -z "$n" ] && { n=1; f=1; line="wine checks: no result"; }
    total=$((total+n)); failed_total=$((failed_total+f)); summary+=("windows: $line")
    line=$(grep -E "^wine e2e: " "$logdir/wine.log" | tail -1)
    n=$(sed -nE 's/.*out of ([0-9]+).*/\1/p' <<<"$line"); f=$(sed -nE 's/.* ([0-9]+) tests failed.*/\1/p' <<<"$line")
    [ -z "$n" ] && { n=1; f=1; line="wine e2e: no result"; }
    total=$((total+n)); failed_total=$((failed_total+f)); summary+=("windows (e2e suite under Wine): ${line#wine e2e: }")
else
    tail -40 "$logdir/windows.build.log"; summary+=("windows: BUILD FAILED"); status=1
fi

# Fuzz smoke: every libFuzzer target for FUZZ_SECONDS (default 20); any
# report fails the run. Its count line joins the summary.
if "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}" >"$logdir/fuzz.log" 2>&1; then
    summary+=("$(tail -1 "$logdir/fuzz.log")")
else
    grep -v -E ': [0-9]+ executions' "$logdir/fuzz.log" | tail -20
    summary+=("$(grep -E '^fuzz: ' "$logdir/fuzz.log" | tail -1) FAILED (see $logdir/fuzz.log)"); status=1
fi
# The fault and power-cut matrices ran in the ctest runs above; each
# scenario left its count in matrix-counts (files of this run only).
counts="$root/out/debug/tests/matrix-counts"
if [ -d "$counts" ]; then
    sum() { find "$counts" -name "$1-*" -newer "$logdir/debug.build.log" -exec cat {} + | awk '{n += $1} END {print n + 0}'; }
    summary+=("matrices (debug): $(sum fault) fault cases, $(sum cut) cut points")
fi

echo
echo "==== Summary ===="
for s in "${summary[@]}"; do echo "$s"; done
passed=$((total-failed_total))
pct=0; [ "$total" -gt 0 ] && pct=$((100*passed/total))
[ "$status" -ne 0 ] && [ "$failed_total" -eq 0 ] && echo "(a build step failed, see above)"
echo "$pct% tests passed, $failed_total tests failed out of $total"
exit $status
