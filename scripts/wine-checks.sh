#!/usr/bin/env bash
# Runs the Windows build under Wine: /v, -h and a bad option, checking
# outputs and exit statuses. Usage: wine-checks.sh <windows bin dir> <linux tarnikflasher>
set -uo pipefail
bin=$(realpath "$1")
linux=$(realpath "$2")
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$bin/../wineprefix"
mkdir -p "$WINEPREFIX"
# A new prefix prints its set-up notes on the first run: make it here, once.
wineboot --init >/dev/null 2>&1 || true
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A simulated host with one two-port card, for the adapter commands.
cat >"$work/host.json" <<'JSON'
{"cards": [{"name": "a", "serial": "RFD0001", "chips": [{"ports": [{}, {}]}]}], "read_only": true}
JSON
echo '0x0301,0x1D7A,CXR2532,Orvane 2532,TRUE' >"$work/adapters.properties"
passed=0 failed=0
check() { # name, args...
    local name=$1; shift
    (cd "$work" && timeout 300 wine "$bin/tarnikflasher.exe" "$@" >win.out 2>win.err </dev/null); echo $? >"$work/win.rc"
    (cd "$work" && "$linux" "$@" >lin.out 2>lin.err); echo $? >"$work/lin.rc"
    if python3 - "$work" "$name" <<'PY'
import sys, re
d, name = sys.argv[1], sys.argv[2]
r = lambda f: open(f"{d}/{f}", "rb").read()
win_rc, lin_rc = r("win.rc").strip(), r("lin.rc").strip()
wo, we = r("win.out"), r("win.err")
# Lines of Wine's own loader are not the program's output.
we = b"".join(l for l in we.splitlines(keepends=True) if not l.startswith(b"wine:"))
lo, le = r("lin.out").replace(b"\n", b"\r\n"), r("lin.err").replace(b"\n", b"\r\n")
stamp_ok = True
if name == "version":  # the build stamp differs between the two builds
    # but must come from the executable's header, not "<Unknown>".
    stamp_ok = re.search(rb"\r\nBuild Date: \d\d/\d\d/\d{4} \d{1,2}:\d\d:\d\d [AP]M\r\n$", wo) is not None
    wo = re.sub(rb"Build Date: .*", b"", wo); lo = re.sub(rb"Build Date: .*", b"", lo)
# The host's own name and system differ between Wine and Linux.
host = rb"(Host Name|OS Type|OS Version) +: [^\r\n]*"
wo = re.sub(host, b"", wo); lo = re.sub(host, b"", lo)
ok = win_rc == lin_rc and wo == lo and we == le and stamp_ok
if not ok:
    print(f"{name}: status {win_rc} (Linux {lin_rc})\nout={wo[:300]!r}\nexpected={lo[:300]!r}\nerr={we!r} expected={le!r}")
sys.exit(0 if ok else 1)
PY
    then echo "wine check $name: passed (status $(cat "$work/win.rc"))"; passed=$((passed+1))
    else echo "wine check $name: FAILED"; failed=$((failed+1)); fi
}
check version /v
check usage -h
check badoption /x
export TORVEX_SIM_HOST="$work/host.json" TORVEX_SIM_JOURNAL=off TARNIK_NO_SLEEP=1
check list /l
check info /i
echo "wine checks: $passed passed, $failed failed out of $((passed+failed))"
[ "$failed" -eq 0 ]
