#!/usr/bin/env bash
# Builds the Windows deliverables and makes their ZIPs in out/windows/packages:
#   tarnikflasher_x64-<version>-win64.zip         program + README.txt
#   tarnikflasher_x64-earlier-release-win64.zip   earlier release + README.txt
#   tarnikflasher-testkit-<version>-win64.zip     simulated torvex.dll, tarniksim.exe, TESTKIT.txt, SIMULATOR.txt
# Then lists each ZIP and checks that no release ZIP carries torvex.dll.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/ensure-deps.sh"
jobs=${JOBS:-2}
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs" >/dev/null
rm -rf out/windows/packages
(cd out/windows && cpack --config CPackConfig.cmake >/dev/null)
python3 - out/windows/packages <<'PY'
import pathlib, sys, zipfile
ok = True
zips = sorted(pathlib.Path(sys.argv[1]).glob("*.zip"))
for z in zips:
    names = [n for n in zipfile.ZipFile(z).namelist() if not n.endswith("/")]
    print(f"{z}: {', '.join(sorted(names))}")
    kit = "testkit" in z.name
    need = {"torvex.dll", "tarniksim.exe", "TESTKIT.txt"} if kit else {"tarnikflasher.exe", "README.txt"}
    if not need <= set(names):
        print(f"  missing: {sorted(need - set(names))}"); ok = False
    if not kit and any(n.lower().endswith("torvex.dll") for n in names):
        print("  a release ZIP must not carry torvex.dll"); ok = False
if len(zips) != 3:
    print(f"expected 3 ZIPs, made {len(zips)}"); ok = False
sys.exit(0 if ok else 1)
PY
