#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang with ASan and UBSan),
# makes each target's seed corpus and runs every target for the given number
# of seconds. Every fuzz/<name>_fuzz.cpp is a target; an optional
# fuzz/<name>_fuzz.seeds is a bash snippet that writes seed files into $OUT
# using the image kit at $KIT (and the simulator tool at $SIM, with $WORK a
# scratch folder). The corpus each run grows is kept in out/fuzz/corpus/<name>
# for the next run; findings land in out/fuzz/artifacts/<name>.
# Ends with "fuzz: N targets, M executions, R reports"; fails on any report.
set -uo pipefail
if [ $# -ne 1 ] || ! [[ $1 =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
    echo "usage: $0 <seconds-per-target>" >&2
    exit 2
fi
secs=$1
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build="$root/out/fuzz"
logdir="$build/logs"
mkdir -p "$logdir"
if ! { cmake --preset fuzz && cmake --build --preset fuzz -j"${JOBS:-2}"; } >"$logdir/build.log" 2>&1; then
    tail -40 "$logdir/build.log"
    echo "fuzz: build failed (see $logdir/build.log)"
    exit 1
fi
export KIT="$build/tools/tfimagekit" SIM="$build/sim/tarniksim"
export TARNIK_NO_SLEEP=1
targets=0 execs=0 reports=0
for src in "$root"/fuzz/*_fuzz.cpp; do
    [ -e "$src" ] || continue
    name=$(basename "$src" .cpp)
    exe="$build/fuzz/$name"
    targets=$((targets + 1))
    if [ ! -x "$exe" ]; then
        echo "$name: not built"
        reports=$((reports + 1))
        continue
    fi
    seeds="$build/seeds/$name" corpus="$build/corpus/$name" artifacts="$build/artifacts/$name"
    rm -rf "$seeds"
    mkdir -p "$seeds" "$corpus" "$artifacts"
    if [ -f "$root/fuzz/$name.seeds" ]; then
        work=$(mktemp -d)
        if ! OUT="$seeds" WORK="$work" bash -euo pipefail "$root/fuzz/$name.seeds" >"$logdir/$name.seeds.log" 2>&1; then
            rm -rf "$work"
            echo "$name: seed snippet failed (see $logdir/$name.seeds.log)"
            reports=$((reports + 1))
            continue
        fi
        rm -rf "$work"
    fi
    # Runs in the artifacts folder: files a target writes stay there.
    (cd "$artifacts" && "$exe" -max_total_time="$secs" -timeout=25 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$seeds") >"$logdir/$name.log" 2>&1
    rc=$?
    n=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$logdir/$name.log" | tail -1)
    execs=$((execs + ${n:-0}))
    if [ $rc -ne 0 ]; then
        reports=$((reports + 1))
        echo "$name: REPORT (exit $rc), log $logdir/$name.log, inputs in $artifacts"
        grep -E '^==[0-9]+==ERROR|runtime error|invariant broken|Test unit written' "$logdir/$name.log" | head -5
    else
        echo "$name: ${n:-0} executions, corpus $(find "$corpus" -type f | wc -l) files"
    fi
done
echo "fuzz: $targets targets, $execs executions, $reports reports"
[ $reports -eq 0 ]
