#!/usr/bin/env bash
# Checks of the Windows build under Wine. One Wine prefix is made for the
# run and one wineserver kept alive for it; both are ended at the end.
#  1. The Windows program beside the Linux one on a few commands, byte for
#     byte once the Linux line ends are made CR LF.
#  2. The earlier release (earlier/tarnikflasher.exe): no 28xx word, no 28xx
#     usage line, no 28xx update, no Zult code linked in; otherwise as the
#     current program.
#  3. The test kit's tarniksim.exe makes a host that the program reads; the
#     release and test-kit ZIPs (made here with cpack), unzipped into one
#     folder, rehearse a run.
#  4. The whole end-to-end suite of the Linux build, run again against the
#     Windows program (ctest -L e2e with TF_E2E_PROGRAM).
# Usage: wine-checks.sh <windows build dir> <linux build dir with tests>
# The last two lines give the counts:
#   wine checks: P passed, F failed out of N
#   wine e2e: <ctest summary line> (S s)
set -uo pipefail
win=$(realpath "$1")
lin=$(realpath "$2")
jobs=${JOBS:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
linux="$lin/src/tarnikflasher"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TARNIK_NO_SLEEP=1
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tf_wineprefix_XXXXXX")
export WINEPREFIX
work=$(mktemp -d)
cleanup() {
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    rm -rf "$work" "$WINEPREFIX"
}
trap cleanup EXIT
start=$SECONDS
wineserver -p >/dev/null 2>&1
# A new prefix prints its set-up notes on the first run: make it here, once.
wineboot --init >/dev/null 2>&1 || true
echo "wine prefix ready in $((SECONDS - start)) s"

# A simulated host with one two-port card, for the adapter commands.
cat >"$work/host.json" <<'JSON'
{"cards": [{"name": "a", "serial": "RFD0001", "chips": [{"ports": [{}, {}]}]}], "read_only": true}
JSON
echo '0x0301,0x1D7A,CXR2532,Orvane 2532,TRUE' >"$work/adapters.properties"
passed=0 failed=0
result() { # name, ok
    if [ "$2" -eq 0 ]; then
        echo "wine check $1: passed"; passed=$((passed + 1))
    else
        echo "wine check $1: FAILED"; failed=$((failed + 1))
    fi
}
# Runs a program in the work folder: prefix (win, lin, old), args...
run() {
    local tag=$1; shift
    local exe
    case $tag in
    win) exe=(wine "$win/bin/tarnikflasher.exe") ;;
    old) exe=(wine "$win/earlier/tarnikflasher.exe") ;;
    lin) exe=("$linux") ;;
    esac
    local try rc
    for try in 1 2 3; do
        (cd "$work" && timeout 300 "${exe[@]}" "$@" >"$tag.out" 2>"$tag.err" </dev/null)
        rc=$?
        # Wine now and then loses the process: a silent status 1 (the
        # program writes a message with every status 1 it gives), or its
        # loader's assertion at exit. The commands checked here change no
        # flash, so they run again.
        [ "$tag" != lin ] || break
        if { [ $rc -eq 1 ] && [ ! -s "$work/$tag.out" ] && [ ! -s "$work/$tag.err" ]; } ||
            { [ $rc -eq 127 ] && grep -q "Inconsistency detected by ld.so" "$work/$tag.err"; }; then
            echo "wine check: Wine lost the process ($tag $*, status $rc), run again"
            continue
        fi
        break
    done
    echo $rc >"$work/$tag.rc"
}
# Compares the outputs and statuses of two runs (a, b) with python: the
# script gets the folder, the check name and the two tags.
compare() { # name, tag a, tag b
    python3 - "$work" "$1" "$2" "$3" <<'PY'
import re, sys
d, name, a, b = sys.argv[1:]
r = lambda f: open(f"{d}/{f}", "rb").read()
def texts(tag):
    out, err = r(f"{tag}.out"), r(f"{tag}.err")
    if tag == "lin":  # the Windows program writes CR LF line ends
        out, err = out.replace(b"\n", b"\r\n"), err.replace(b"\n", b"\r\n")
    return r(f"{tag}.rc").strip(), out, err
rc_a, out_a, err_a = texts(a)
rc_b, out_b, err_b = texts(b)
ok = True
if name.endswith("version"):  # the build stamps differ between builds,
    # but each must come from the executable's header, not "<Unknown>".
    stamp = rb"\r\nBuild Date: \d\d/\d\d/\d{4} \d{1,2}:\d\d:\d\d [AP]M\r\n$"
    ok = re.search(stamp, out_a) is not None
    out_a = re.sub(rb"Build Date: .*", b"", out_a); out_b = re.sub(rb"Build Date: .*", b"", out_b)
if name.endswith("usage") and a == "old":  # the earlier release lacks the 28xx line only
    line = b"               /28xx: Update 28xx FC adapter model type.\r\r\n\r\n"
    ok = ok and line in out_b and line not in out_a
    out_b = out_b.replace(line, b"")
if name.startswith("tarniksim"):  # the host file's path is a native one
    out_a = re.sub(rb"^host [^\r\n]*?: ", b"host: ", out_a); out_b = re.sub(rb"^host [^\r\n]*?: ", b"host: ", out_b)
# The host's own name and system differ between Wine and Linux.
host = rb"(Host Name|OS Type|OS Version) +: [^\r\n]*"
out_a = re.sub(host, b"", out_a); out_b = re.sub(host, b"", out_b)
ok = ok and rc_a == rc_b and out_a == out_b and err_a == err_b
if not ok:
    print(f"{name}: status {rc_a} ({b}: {rc_b})\nout={out_a[:300]!r}\nexpected={out_b[:300]!r}\nerr={err_a!r} expected={err_b!r}")
sys.exit(0 if ok else 1)
PY
}
check() { # name, args...: Windows program against the Linux one
    local name=$1; shift
    run win "$@"; run lin "$@"
    compare "$name" win lin; result "$name" $?
}
check_earlier() { # name, args...: earlier release against the current Windows program
    local name=$1; shift
    run old "$@"; run win "$@"
    compare "earlier $name" old win; result "earlier $name" $?
}
# The earlier release refuses what only the current release knows: status
# and messages given.
expect_earlier() { # name, status, stdout text to find ("" for none), stderr, args...
    local name=$1 status=$2 outText=$3 errText=$4; shift 4
    run old "$@"
    local ok=0
    [ "$(cat "$work/old.rc")" = "$status" ] || ok=1
    if [ -z "$outText" ]; then [ -s "$work/old.out" ] && ok=1; else grep -qF "$outText" "$work/old.out" || ok=1; fi
    [ "$(cat "$work/old.err")" = "$errText" ] || ok=1
    [ $ok -eq 0 ] || { echo "earlier $name: status $(cat "$work/old.rc")"; cat "$work/old.out" "$work/old.err"; }
    result "earlier $name" $ok
}

check version /v
check usage -h
check badoption /x
check_earlier version /v
check_earlier usage -h
invalid=$(printf 'Error: Invalid/Unknown command line options!\r')
expect_earlier "28xx word" 7 "" "$invalid" /28xx
expect_earlier "28xx flag with /b" 7 "" "$invalid" /b 0 image.bin --28xx
TORVEX_SIM_HOST="$work/host.json" TORVEX_SIM_JOURNAL=off check list /l
TORVEX_SIM_HOST="$work/host.json" TORVEX_SIM_JOURNAL=off check info /i
TORVEX_SIM_HOST="$work/host.json" TORVEX_SIM_JOURNAL=off check_earlier list /l

# A 28xx card is listed by the earlier release but never flashed.
cat >"$work/host28.json" <<'JSON'
{"cards": [{"name": "z", "device_id": "0x2281", "subsys_vendor": "0x1D7A", "subsys_device": "0x02E1",
  "model": "CXR2782-2P", "serial": "RFZ0001", "chips": [{"ports": [{}, {}]}]}]}
JSON
cp "$work/adapters.properties" "$work/adapters.saved"
echo '0x02E1,0x1D7A,CXR2281,Orvane 2782,TRUE' >"$work/adapters.properties"
: >"$work/image.bin"
rm -f "$work/journal.jsonl"
TORVEX_SIM_HOST="$work/host28.json" expect_earlier "28xx not flashed" 7 \
    "Info: Flash update is not supported on HBA instance 0 - CXR2782-2P!" "" /b 0 image.bin
if ! grep -q '"op":"open"' "$work/journal.jsonl" 2>/dev/null || grep -q '"op":"write"' "$work/journal.jsonl"; then
    echo "earlier 28xx not flashed: no journal of the run, or a flash write in it"; result "earlier 28xx journal" 1
fi
cp "$work/adapters.saved" "$work/adapters.properties"

# No Zult code in the earlier release: no function of that name in its
# symbols, and no text of one (the traces of every function begin with its
# name) in the program itself, its symbol table stripped. Absolute symbols
# (type A) are what link-time optimisation left of functions it dropped.
stripped="$work/earlier-stripped.exe"
if symbols=$(x86_64-w64-mingw32-nm -C "$win/earlier/tarnikflasher.exe") && [ -n "$symbols" ] &&
    x86_64-w64-mingw32-strip -o "$stripped" "$win/earlier/tarnikflasher.exe"; then
    zult=$( (awk '$2 != "A"' <<<"$symbols"; strings -a "$stripped") | grep -i zult)
    [ -z "$zult" ] || head -5 <<<"$zult"
    result "earlier without Zult code" "$([ -z "$zult" ] && echo 0 || echo 1)"
else
    result "earlier without Zult code (symbols unreadable)" 1
fi

# The test kit's simulator tool: a host made by tarniksim.exe reads the
# same under both tools.
kit="$work/kit"
(cd "$work" && wine "$win/bin/tarniksim.exe" init kit fc25xx-2port >/dev/null 2>&1)
(cd "$work" && wine "$win/bin/tarniksim.exe" show kit >win.out 2>win.err); echo $? >"$work/win.rc"
(cd "$work" && "$lin/sim/tarniksim" show kit >lin.out 2>lin.err); echo $? >"$work/lin.rc"
if [ -f "$kit/host.json" ]; then compare "tarniksim.exe show" win lin; result "tarniksim.exe show" $?
else result "tarniksim.exe init" 1; fi

# The packages: the release ZIP and the test kit unzipped into one folder
# rehearse an update run as the kit's TESTKIT.txt tells.
reh="$work/rehearsal"
if rm -rf "$win/packages" && (cd "$win" && cpack --config CPackConfig.cmake >/dev/null 2>&1) &&
    python3 - "$win/packages" "$reh" <<'PY'
import pathlib, sys, zipfile
zips = sorted(pathlib.Path(sys.argv[1]).glob("*.zip"))
release = [z for z in zips if z.name.startswith("tarnikflasher_x64-") and "earlier" not in z.name]
kit = [z for z in zips if "testkit" in z.name]
if len(release) != 1 or len(kit) != 1 or any("torvex.dll" in zipfile.ZipFile(z).namelist() for z in release):
    sys.exit(1)
for z in release + kit:
    zipfile.ZipFile(z).extractall(sys.argv[2])
PY
then
    cp "$root/demo/adapters.properties" "$reh/"
    (cd "$reh" && wine tarniksim.exe init sim fc25xx-2port >/dev/null 2>&1 &&
        TORVEX_SIM_HOST="$reh/sim/host.json" wine tarnikflasher.exe /q >q.out 2>q.err)
    ok=$?
    [ $ok -eq 0 ] && [ "$(grep -c "Flash Image (MBI) Version" "$reh/q.out")" -eq 2 ] && [ ! -s "$reh/q.err" ] || {
        ok=1; cat "$reh/q.out" "$reh/q.err" 2>/dev/null; }
    result "packages: release and test kit rehearsal" $ok
else
    result "packages: made, release ZIP without torvex.dll" 1
fi

echo "wine checks: $passed passed, $failed failed out of $((passed + failed))"

# The end-to-end suite against the Windows program.
e2eStart=$SECONDS
# Wine itself now and then loses a process (a silent exit status 1 before
# the program starts, or its loader's "Inconsistency detected by ld.so" at
# exit): a failed test runs again, up to twice, in a fresh scratch folder.
# Every test that passed only on a rerun is named, with its failed output.
TF_E2E_PROGRAM="$win/bin/tarnikflasher.exe" ctest --test-dir "$lin" -L e2e -j"$jobs" --timeout 300 \
    --repeat until-pass:3 --output-on-failure >"$work/e2e.log" 2>&1
line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$work/e2e.log" | tail -1)
[ -n "$line" ] || line="0% tests passed, 1 tests failed out of 1 (no result)"
f=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
rerun=$(grep -E "^ *([0-9]+/[0-9]+ )?Test +#[0-9]+: .*\*\*\*(Failed|Exception|Timeout)" "$work/e2e.log" |
    sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*/\1/' | sort -u)
if [ -n "$rerun" ]; then
    echo "wine e2e: failed first, then run again:"
    sed 's/^/  /' <<<"$rerun"
fi
[ "$f" -eq 0 ] && [ -z "$rerun" ] || cat "$work/e2e.log"
echo "wine e2e: $line ($((SECONDS - e2eStart)) s)"
[ "$failed" -eq 0 ] && [ "$f" -eq 0 ]
