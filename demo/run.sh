#!/usr/bin/env bash
# Demo of a flash update on a simulated host: classic FC cards and two
# converged cards (Lark and Tesk), and two cards with two flash sets (27xx,
# 28xx) updated online.
# Usage: demo/run.sh <build dir>
# Sets up the demo host in <build dir>/demo-run, builds the images with the
# image kit and the 25xx card's firmware preload table with the data-file
# kit, shows the host, runs the default update (which also applies the
# preload data file x1D7Ax0301/FWA83xxB.DAT) and runs it again.
set -euo pipefail
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 <build dir>" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
tf="$build/src/tarnikflasher"
kit="$build/tools/tfimagekit"
sim="$build/sim/tarniksim"
datakit="$build/tools/datakit/tfdatakit"
for b in "$tf" "$kit" "$sim" "$datakit"; do
    [ -x "$b" ] || { echo "missing $b (build the project first)" >&2; exit 2; }
done

work="$build/demo-run"
rm -rf "$work"
mkdir -p "$work/images"
cp "$here/host.json" "$here/adapters.properties" "$here/tarnikflasher.properties" "$work/"
cp -r "$here/x1D7Ax0301" "$work/"
cd "$work"
export TORVEX_SIM_HOST="$work/host.json"
# The converged cards wait 5-10 s after each region write for the chip to
# settle; the simulated chips need no waiting (TARNIK_NO_SLEEP=0 keeps it).
export TARNIK_NO_SLEEP="${TARNIK_NO_SLEEP:-1}"

heading() { printf '\n=== %s ===\n' "$1"; }
# Runs the program and shows its exit status.
run() {
    local st=0
    "$tf" "$@" || st=$?
    printf -- '--> exit status %d\n' "$st"
}

heading "Images built with the image kit"
"$kit" optionrom23 --chip 2312 --bios 1.90 --fcode 1.19 images/rom2312.bin
"$kit" multiboot --chip 2432 --bios 3.28 --efi 6.01 --fcode 4.03 --fw 8.2.1 --mbi 3.1.2 images/mbi2432.bin
"$kit" multiboot --chip 2532 --bios 3.28 --efi 6.01 --fcode 4.03 --fw 8.2.1 --mbi 3.1.2 images/mbi2532.bin
"$kit" lark --chip-rev 0x58 --ssvid 0x1D7A --ssdid 0x0821 --image-version 2.1.0 images/lark.bin
"$kit" tesk --ssvid 0x1D7A --ssdid 0x0831 --image-version 2.1.0 images/tesk.bin
"$kit" fenwar --ssvid 0x1D7A --ssdid 0x0501 --device-id 0x2071 --image-version 2.1.0 images/fenwar2772.bin
"$kit" zult --ssvid 0x1D7A --ssdid 0x0601 --device-id 0x2281 --image-version 2.5.0 images/zult2882.bin
# The 25xx card's preload table as its flash holds it now (version 1.2.0).
"$datakit" preload --cxr 12 --version 1.2.0 --ssdid 0x0301 --image images/preload2532.bin --image-size 0x1000 \
    images/preload2532-flash.dat
ls -l images | sed 1d

heading "Host and adapters (tarnikflasher /l)"
run /l

heading "Multi-boot image versions before the update (tarnikflasher /q)"
run /q

heading "Default update run (tarnikflasher)"
run

heading "Flash sets of the 27xx and 28xx cards after the update (tarniksim show)"
"$sim" show "$work" | grep -E '^card|running set'

heading "Second run: nothing needs updating (tarnikflasher)"
run

heading "Version keywords in the converged cards' VPD after the update"
for cv in lark58:0x81 cna83:0x81 cna83:0x14; do
    "$sim" dump "$work" "${cv%%:*}/0" "${cv##*:}" vpd.bin
    fields=$(LC_ALL=C grep -aoE 'RM.[0-9]{6}|VV.FFV[0-9.]{8}' vpd.bin | cut -c1-2,4- | sed 's/^\(..\)/\1=/' | tr '\n' ' ')
    printf '  %s region %s: %s\n' "${cv%%:*}" "${cv##*:}" "$fields"
done
rm -f vpd.bin

heading "Flash writes recorded by the simulated library"
grep '"op":"write"' journal.jsonl | sed -E 's/.*"card":"([^"]*)".*"fn":"([^"]*)".*"instance":([0-9]+).*"region":"([^"]*)".*"size":([0-9]+).*"status":"([^"]*)".*/  \1 (HBA \3): \2 region \4, \5 bytes, status \6/'
printf '\nDemo folder: %s\n' "$work"
