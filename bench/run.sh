#!/usr/bin/env bash
# Fleet-scale benchmark of tarnikflasher on simulated hosts. Prints one table
# of the program against its floor and goals, then the cost per card at each
# fleet size. See the "Benchmarks" section of README.md.
#
# usage: bench/run.sh [--build DIR] [--work DIR] [--quick] [--runs N] [--sizes "1 4 ..."]
#   --build DIR  measure this build tree (its src/tarnikflasher, sim/libtorvex.so,
#                sim/tarniksim, tools/tfimagekit, bench/bench_inventory_bench);
#                default: build out/bench-release (Release, benchmarks on) first
#   --work DIR   scratch folder (default out/bench-run), emptied first (only
#                a folder made by an earlier run, or an empty one)
#   --quick      1 and 4 ports, 3 runs, discovery without targets only
#   --runs N     runs per figure (default 5; start-up takes 4N+1)
#   --sizes LIST ports of the default runs (default "1 4 16 32 64 128")
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() { # exit status
    sed -n '6,14p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit "${1:-2}"
}

build="" work="" quick=0 runs="" sizes=""
while [ $# -gt 0 ]; do
    case "$1" in
    --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
    --work) [ $# -ge 2 ] || usage; work=$2; shift 2 ;;
    --quick) quick=1; shift ;;
    --runs) [ $# -ge 2 ] || usage; runs=$2; shift 2 ;;
    --sizes) [ $# -ge 2 ] || usage; sizes=$2; shift 2 ;;
    -h | --help) usage 0 ;;
    *) echo "bench: unknown argument '$1'" >&2; usage ;;
    esac
done
if [ "$quick" -eq 1 ]; then
    runs=${runs:-3} sizes=${sizes:-"1 4"}
else
    runs=${runs:-5} sizes=${sizes:-"1 4 16 32 64 128"}
fi
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "bench: --runs needs a positive number" >&2; exit 2; }
for n in $sizes; do
    if ! [[ "$n" =~ ^[1-9][0-9]*$ ]] || [ "$n" -gt 128 ]; then
        echo "bench: ports must be 1-128, not '$n'" >&2
        exit 2
    fi
done
work=${work:-$root/out/bench-run}

die() {
    echo "bench: $*" >&2
    exit 1
}

# The build under test.
if [ -z "$build" ]; then
    build="$root/out/bench-release"
    echo "bench: building $build (Release, benchmarks on)" >&2
    mkdir -p "$build"
    { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTF_BUILD_BENCHMARKS=ON -DTF_BUILD_TESTS=OFF &&
        cmake --build "$build" -j"${JOBS:-2}" --target tarnikflasher tarniksim tfimagekit bench_inventory_bench; } \
        >"$build/bench-build.log" 2>&1 || { tail -30 "$build/bench-build.log" >&2; die "build failed"; }
fi
[ -d "$build" ] || die "no build tree $build"
build=$(cd "$build" && pwd)
prog="$build/src/tarnikflasher" sim="$build/sim/tarniksim" kit="$build/tools/tfimagekit"
invbench="$build/bench/bench_inventory_bench"
for b in "$prog" "$sim" "$kit"; do [ -x "$b" ] || die "missing $b (build it first)"; done
cache="$build/CMakeCache.txt"
[ -f "$cache" ] || die "no CMakeCache.txt in $build"
cachevar() { sed -n "s/^$1:[A-Z]*=//p" "$cache" | head -1; }

# The scratch folder is emptied only when an earlier run made it (or it is empty).
if [ -d "$work" ] && [ ! -f "$work/.bench-run" ] && [ -n "$(ls -A "$work")" ]; then
    die "$work is not empty and not a folder of an earlier run; give another --work"
fi
rm -rf "$work"
mkdir -p "$work/bin" "$work/images"
work=$(cd "$work" && pwd)
touch "$work/.bench-run"

# Helpers: the timer, and the trivial program built with the program's own
# compile flags and the -f link flags (sanitizers, LTO) of its link line.
cxx=$(cachevar CMAKE_CXX_COMPILER)
cxx=${cxx:-c++}
"$cxx" -O2 -std=c++17 -o "$work/bin/proctime" "$root/bench/tools/proctime.cpp" || die "cannot build the timer"
flagsmake="$build/src/CMakeFiles/tarnikflasher.dir/flags.make"
linktxt="$build/src/CMakeFiles/tarnikflasher.dir/link.txt"
if [ -f "$flagsmake" ]; then
    cxxflags=$(sed -n 's/^CXX_FLAGS = //p' "$flagsmake")
else
    btype=$(cachevar CMAKE_BUILD_TYPE | tr '[:lower:]' '[:upper:]')
    cxxflags="$(cachevar CMAKE_CXX_FLAGS) $(cachevar "CMAKE_CXX_FLAGS_$btype") -std=c++20"
fi
ldflags=""
[ -f "$linktxt" ] && ldflags=$(tr ' ' '\n' <"$linktxt" | grep -E '^-(f|static)' | tr '\n' ' ' || true)
# shellcheck disable=SC2086 # flag lists split on purpose
"$cxx" $cxxflags -o "$work/bin/hello" "$root/bench/tools/hello.cpp" $ldflags || die "cannot build the trivial program"
pt="$work/bin/proctime"

export TARNIK_NO_SLEEP=1 TORVEX_SIM_JOURNAL=off
unset TORVEX_SIM_FAULTS TORVEX_SIM_JOURNAL_ALL TORVEX_SIM_READONLY TORVEX_SIM_HOST

# Images (1 MiB multi-boot images, newer than every card's flash) and the
# one-card hosts of the two presets the fleets are made of.
"$kit" multiboot --chip 2432 --bios 3.28 --efi 6.01 --fcode 4.03 --fw 8.2.1 --mbi 3.1.2 \
    "$work/images/mbi2432.bin" >/dev/null || die "tfimagekit failed"
"$kit" multiboot --chip 2532 --bios 3.28 --efi 6.01 --fcode 4.03 --fw 8.2.1 --mbi 3.1.2 \
    "$work/images/mbi2532.bin" >/dev/null || die "tfimagekit failed"
mkdir -p "$work/presets"
for p in fc24xx-2port fc25xx-2port; do
    "$sim" init "$p" "$work/presets/$p.json" >/dev/null || die "tarniksim init $p failed"
done
largest=$(stat -c %s "$work"/images/*.bin | sort -n | tail -1)

# Medians of the run lines of proctime outputs: "wall_ms cpu_ms rss_kb".
medians() {
    awk 'BEGIN {n = 0} /^run / {w[n] = $4; c[n] = $6; r[n] = $12; n++}
        function med(a,   i, j, t) {
            for (i = 1; i < n; i++) for (j = i; j > 0 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
            return n % 2 ? a[int(n / 2)] : (a[n / 2 - 1] + a[n / 2]) / 2
        }
        END { if (n) print med(w), med(c), med(r) }' "$@"
}
calc() { awk "BEGIN {printf \"$1\", $2}"; }

# A fleet of <ports> ports: two-port cards alternating 24xx and 25xx (the
# last card keeps one port when <ports> is odd), the journal off. Prints the
# number of cards and the bytes an update writes: every card's boot code
# (0x07) and firmware (0x01) regions.
make_fleet() { # dir ports
    python3 - "$work/presets/fc24xx-2port.json" "$work/presets/fc25xx-2port.json" "$2" "$1/host.json" <<'EOF'
import copy, json, sys
templates = [json.load(open(p)) for p in sys.argv[1:3]]
left, cards = int(sys.argv[3]), []
while left > 0:
    i = len(cards)
    card = copy.deepcopy(templates[i % 2]["cards"][0])
    card["name"] = "%s_%03d" % (card["name"], i)
    card["serial"] = card["serial"][:-3] + "%03d" % i
    chip = card["chips"][0]
    chip["ports"] = chip["ports"][:left]
    left -= len(chip["ports"])
    cards.append(card)
host = dict(templates[0], journal="off", cards=cards)
json.dump(host, open(sys.argv[4], "w"), indent=1)
size = lambda v: int(v, 0) if isinstance(v, str) else int(v)
written = sum(size(r["size"]) for c in cards for r in c["chips"][0]["regions"] if size(r["code"]) in (0x07, 0x01))
print(len(cards), written)
EOF
}

# Start-up: /v and the trivial program, run by turns.
sruns=$((4 * runs + 1))
for ((r = 0; r < sruns; r++)); do
    (cd "$work" && "$pt" --runs 1 --out "$work/v.out" -- "$prog" /v) >>"$work/startup_v.times" ||
        die "$prog /v failed: $(cat "$work/v.out")"
    (cd "$work" && "$pt" --runs 1 -- "$work/bin/hello") >>"$work/startup_hello.times" || die "the trivial program failed"
done
read -r v_wall v_cpu v_rss < <(medians "$work/startup_v.times") || true
read -r h_wall h_cpu _ < <(medians "$work/startup_hello.times") || true
if [ -z "${v_rss:-}" ] || [ -z "${h_cpu:-}" ]; then die "no start-up figures, see $work/startup_*.times"; fi

# The default run at every size, then its floor on the bytes it used.
declare -A cards_of wall_of cpu_of rss_of fwall_of fcpu_of written_of imgbytes_of
for n in $sizes; do
    d="$work/ports$n"
    mkdir -p "$d/images"
    read -r cards expected < <(make_fleet "$d" "$n") || die "cannot write the host of $n ports"
    cp "$work"/images/*.bin "$d/images/"
    printf '%s\n' "0x0201,0x1D7A,CXR2462,Dual port 4Gb FC HBA,TRUE" "0x0301,0x1D7A,CXR2562,Dual port 8Gb FC HBA,TRUE" \
        >"$d/adapters.properties"
    printf '%s\n' "0x0201,0x1D7A,CXR2462-2P,3.28,6.01,4.03,8.02.01,images/mbi2432.bin,3.01.02" \
        "0x0301,0x1D7A,CXR2562-2P,3.28,6.01,4.03,8.02.01,images/mbi2532.bin,3.01.02" >"$d/tarnikflasher.properties"
    # The pristine state: what the host holds before any run (the simulated
    # library keeps written flash in state/); put back, untimed, before each run.
    mkdir -p "$d/pristine"
    [ -d "$d/state" ] && cp -a "$d/state/." "$d/pristine/"
    # sync: no write-back left over from the run before is charged to the next.
    reset="rm -rf '$d/state' && cp -a '$d/pristine' '$d/state' && sync"
    imgs=(images/mbi2432.bin)
    [ "$cards" -gt 1 ] && imgs+=(images/mbi2532.bin)
    imgbytes=$(cd "$d" && stat -c %s "${imgs[@]}" | awk '{s += $1} END {print s}')
    # The program and its floor by turns, so that both see the same load.
    for ((r = 0; r < runs; r++)); do
        (cd "$d" && TORVEX_SIM_HOST="$d/host.json" "$pt" --runs 1 --before "$reset" --out "$d/run.out" -- "$prog") \
            >>"$d/program.times" || die "the default run at $n ports failed, see $d/run.out"
        grep -q "Updates completed successfully ($cards out of $cards)\." "$d/run.out" ||
            die "the default run at $n ports did not update all $cards cards, see $d/run.out"
        written=$(find "$d/state" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
        [ "$written" -eq "$expected" ] ||
            die "the default run at $n ports wrote $written bytes of flash, not $expected, see $d/state"
        (cd "$d" && "$pt" --runs 1 --before "rm -rf '$d/floorcopy' && sync" -- \
            sh -c 'cat "$@" | sha256sum >/dev/null && cp -r state floorcopy' sh "${imgs[@]}") >>"$d/floor.times" ||
            die "the floor at $n ports failed"
    done
    cards_of[$n]=$cards written_of[$n]=$written imgbytes_of[$n]=$imgbytes
    read -r "wall_of[$n]" "cpu_of[$n]" "rss_of[$n]" < <(medians "$d/program.times") || true
    read -r "fwall_of[$n]" "fcpu_of[$n]" _ < <(medians "$d/floor.times") || true
    if [ -z "${rss_of[$n]:-}" ] || [ -z "${fcpu_of[$n]:-}" ]; then die "no figures at $n ports, see $d/*.times"; fi
    rm -rf "$d/floorcopy"
done

# Discovery at 128 ports, with and without 64 targets x 64 LUNs per port:
# the inventory benchmark loads the host once, then times discovery alone.
disc_plain="" disc_targets=""
if [ -x "$invbench" ]; then
    filter='^BM_Discovery(WithTargets)?$'
    [ "$quick" -eq 1 ] && filter='^BM_Discovery$'
    (cd "$work" && "$invbench" --benchmark_filter="$filter" --benchmark_repetitions="$runs" \
        --benchmark_report_aggregates_only=true --benchmark_format=json) >"$work/discovery.json" \
        2>"$work/discovery.err" || die "the inventory benchmark failed, see $work/discovery.err"
    # "<name> <cpu ms> <wall ms>" of each benchmark's median.
    while read -r name cpu wall; do
        case "$name" in
        BM_Discovery) disc_plain="$cpu $wall" ;;
        BM_DiscoveryWithTargets) disc_targets="$cpu $wall" ;;
        esac
    done < <(python3 - "$work/discovery.json" <<'EOF'
import json, sys
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median" and "error_occurred" not in b:
        k = scale[b.get("time_unit", "ns")]
        print(b["run_name"], b["cpu_time"] * k, b["real_time"] * k)
EOF
    )
fi

# The table.
rows=("Work|Program|Floor|Ratio|Goal|Met" "---|---|---|---|---|---")
met() { if awk "BEGIN {exit !($1)}"; then echo met; else echo "not met"; fi; }
mib() { calc "%.1f" "$1 / 1048576"; }
for n in $sizes; do
    c=${cards_of[$n]}
    r_wall=$(calc "%.1f" "${wall_of[$n]} / ${fwall_of[$n]}") r_cpu=$(calc "%.1f" "${cpu_of[$n]} / ${fcpu_of[$n]}")
    rows+=("default run, $n port$([ "$n" -gt 1 ] && echo s) ($c card$([ "$c" -gt 1 ] && echo s)), all written|$(calc "%.0f" "${wall_of[$n]}") ms wall, $(calc "%.0f" "${cpu_of[$n]}") ms CPU|$(calc "%.0f" "${fwall_of[$n]}") ms wall, $(calc "%.0f" "${fcpu_of[$n]}") ms CPU (images $(mib "${imgbytes_of[$n]}") MiB, written $(mib "${written_of[$n]}") MiB)|${r_wall}x wall, ${r_cpu}x CPU|within 2x wall|$(met "$r_wall <= 2")")
done
for n in $sizes; do
    above=$(calc "%.1f" "(${rss_of[$n]} - $v_rss) / 1024")
    r=$(calc "%.1f" "(${rss_of[$n]} - $v_rss) * 1024 / $largest")
    rows+=("peak memory, $n port$([ "$n" -gt 1 ] && echo s)|$(calc "%.1f" "${rss_of[$n]} / 1024") MiB ($above MiB above /v's $(calc "%.1f" "$v_rss / 1024") MiB)|largest image $(mib "$largest") MiB|${r}x|within 3x|$(met "$r <= 3")")
done
# Cost per card above start-up, flat from 32 to 128 ports.
percard() { calc "%.2f" "(${cpu_of[$1]} - $v_cpu) / ${cards_of[$1]}"; }
if [ -n "${cpu_of[32]:-}" ] && [ -n "${cpu_of[128]:-}" ]; then
    p32=$(percard 32) p128=$(percard 128)
    r=$(calc "%.2f" "$p128 / $p32")
    rows+=("CPU per card above /v, 32 -> 128 ports|$p32 -> $p128 ms|-|${r}x|flat (within 1.25x)|$(met "$r <= 1.25")")
fi
if [ -n "$disc_plain" ]; then
    read -r cpu wall <<<"$disc_plain"
    rows+=("discovery, 128 ports (inventory benchmark)|$(calc "%.1f" "$cpu") ms CPU, $(calc "%.1f" "$wall") ms wall|-|-|-|-")
elif [ -x "$invbench" ]; then
    rows+=("discovery, 128 ports|not measured (see $work/discovery.json)|-|-|-|-")
else
    rows+=("discovery, 128 ports|not built (bench/bench_inventory_bench: -DTF_BUILD_BENCHMARKS=ON)|-|-|-|-")
fi
if [ -n "$disc_targets" ]; then
    read -r cpu wall <<<"$disc_targets"
    rows+=("discovery, 128 ports x 64 targets x 64 LUNs|$(calc "%.1f" "$cpu") ms CPU, $(calc "%.1f" "$wall") ms wall|-|-|under 100 ms CPU|$(met "$cpu < 100")")
elif [ "$quick" -eq 1 ]; then
    rows+=("discovery, 128 ports x 64 targets x 64 LUNs|skipped (--quick)|-|-|under 100 ms CPU|-")
else
    rows+=("discovery, 128 ports x 64 targets x 64 LUNs|not measured|-|-|under 100 ms CPU|unknown")
fi
rows+=("start-up to /v|$(calc "%.1f" "$v_wall") ms wall, $(calc "%.1f" "$v_cpu") ms CPU|trivial C++ program $(calc "%.1f" "$h_wall") ms wall, $(calc "%.1f" "$h_cpu") ms CPU|$(calc "%.1f" "$v_wall / $h_wall")x wall, $(calc "%.1f" "$v_cpu / $h_cpu")x CPU|under 20 ms CPU|$(met "$v_cpu < 20")")

# Every figure must be a number (a zero time would give inf or nan).
if printf '%s\n' "${rows[@]}" | grep -qiE '(^|[^a-z])-?(nan|inf)([^a-z]|$)'; then
    printf '%s\n' "${rows[@]}" >&2
    die "a figure is not a number (see the raw runs in $work)"
fi

echo
src=$(cachevar CMAKE_HOME_DIRECTORY)
rev=$(git -C "$src" describe --always --dirty 2>/dev/null || echo "no git")
echo "tarnikflasher benchmark: $build ($(cachevar CMAKE_BUILD_TYPE) build of $src at $rev)"
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); medians of $runs runs ($sruns for start-up); TARNIK_NO_SLEEP=1, journal off"
echo
printf '%s\n' "${rows[@]}" | awk -F'|' '
    { n = NR; for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } nf = NF }
    END {
        for (r = 1; r <= n; r++) {
            line = "|"
            for (i = 1; i <= nf; i++) {
                c = cell[r, i]
                if (r == 2) { c = ""; while (length(c) < w[i]) c = c "-" }
                line = line " " sprintf("%-" w[i] "s", c) " |"
            }
            print line
        }
    }'
echo
echo "Cost per card (medians; \"above /v\" subtracts the start-up's $(calc "%.1f" "$v_wall") ms wall, $(calc "%.1f" "$v_cpu") ms CPU):"
printf '%6s %6s | %10s %10s | %14s %14s | %10s %10s | %14s\n' ports cards "wall ms" "CPU ms" "wall/card" "CPU/card" \
    "floor wall" "floor CPU" "floor CPU/card"
for n in $sizes; do
    c=${cards_of[$n]}
    printf '%6s %6s | %10.1f %10.1f | %14.2f %14.2f | %10.1f %10.1f | %14.2f\n' "$n" "$c" "${wall_of[$n]}" \
        "${cpu_of[$n]}" "$(calc "%.3f" "(${wall_of[$n]} - $v_wall) / $c")" "$(calc "%.3f" "(${cpu_of[$n]} - $v_cpu) / $c")" \
        "${fwall_of[$n]}" "${fcpu_of[$n]}" "$(calc "%.3f" "${fcpu_of[$n]} / $c")"
done
echo
echo "Timings on a shared machine are noisy: compare medians, prefer CPU, rerun when the load average is high."
echo "Raw runs: $work/*.times, $work/ports*/*.times, $work/discovery.json"
