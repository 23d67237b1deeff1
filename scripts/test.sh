#!/usr/bin/env bash
# Builds and runs every test: debug build with ctest, sanitizer build with
# ctest, Windows cross build checked under Wine. Ends with the counts.
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
run_ctest sanitizers
if { cmake --preset windows && cmake --build --preset windows -j"$jobs" --target tarnikflasher; } >"$logdir/windows.build.log" 2>&1; then
    if "$root/scripts/wine-checks.sh" "$root/out/windows/bin" "$root/out/debug/src/tarnikflasher" | tee "$logdir/wine.log"; then :; else status=1; fi
    line=$(tail -1 "$logdir/wine.log"); n=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line"); f=$(sed -E 's/.*passed, ([0-9]+) failed.*/\1/' <<<"$line")
    total=$((total+${n:-0})); failed_total=$((failed_total+${f:-0})); summary+=("windows: $line")
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
