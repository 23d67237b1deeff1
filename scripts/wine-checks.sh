#!/usr/bin/env bash
# Runs the Windows build under Wine: /v, -h and a bad option, checking
# outputs and exit statuses. Usage: wine-checks.sh <windows bin dir> <linux tarnikflasher>
set -uo pipefail
bin=$1
linux=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$bin/../wineprefix"
mkdir -p "$WINEPREFIX"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
lo, le = r("lin.out").replace(b"\n", b"\r\n"), r("lin.err").replace(b"\n", b"\r\n")
if name == "version":  # the build stamp differs between the two builds
    wo = re.sub(rb"Build Date: .*", b"", wo); lo = re.sub(rb"Build Date: .*", b"", lo)
ok = win_rc == lin_rc and wo == lo and we == le
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
echo "wine checks: $passed passed, $failed failed out of $((passed+failed))"
[ "$failed" -eq 0 ]
