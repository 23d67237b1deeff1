#!/usr/bin/env bash
# Builds the program and shows host and adapter information of a sample
# simulated host (the preset can be chosen with DEMO_PRESET).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/ensure-deps.sh"
cmake --preset release >/dev/null
cmake --build --preset release -j"${JOBS:-2}" >/dev/null
bin="$root/out/release"
work="$root/out/demo-host"
rm -rf "$work"; mkdir -p "$work"
cd "$work"
: > adapters.properties
if [ -x "$bin/sim/tarniksim" ]; then
    "$bin/sim/tarniksim" init "${DEMO_PRESET:-fc25xx-2port}" "$work/host.json"
    export TORVEX_SIM_HOST="$work/host.json"
else
    echo "(simulator tool not built: running with no adapter)"
fi
export TARNIK_NO_SLEEP=1
"$bin/src/tarnikflasher" /l || true
"$bin/src/tarnikflasher" /i || true
