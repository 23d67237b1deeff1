#!/usr/bin/env bash
# Builds the release preset (out/release) and runs the classic FC update
# demo on a simulated host (demo/run.sh): host information, the default
# update run, and a second run that finds nothing to update.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
echo "=== Checking build dependencies ==="
"$root/scripts/ensure-deps.sh"
echo "=== Building the release preset (out/release) ==="
log="$root/out/demo-build.log"
mkdir -p "$root/out"
if ! { cmake --preset release && cmake --build --preset release -j"${JOBS:-2}"; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "Build failed; full log: $log" >&2
    exit 1
fi
exec "$root/demo/run.sh" "$root/out/release"
