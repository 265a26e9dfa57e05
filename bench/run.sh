#!/usr/bin/env bash
# Builds the benchmarks and runs them all, then prints the table of docs/performance.md:
# every figure beside its reference, the ratio and the target.
#
#   bench/run.sh [BUILD-DIR]        default: build-bench beside this folder's parent
#
# Environment: KBX_BENCH_SKIP="wire jack pane startup monitor wholekbd soak" leaves those parts
# out; SOAK_OPERATIONS (default 1000) for the soak; JOBS (default 2) for the build. The JSON of each program and the table are kept in BUILD-DIR/bench-results.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build-bench}
jobs=${JOBS:-2}
skip=" ${KBX_BENCH_SKIP:-} "
results="$build/bench-results"
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

skipped() { [[ "$skip" == *" $1 "* ]]; }

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKBX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs" --target bench_codec bench_keyboard bench_localpane \
    bench_startup bench_monitor bench_wholekbd kbxtool
mkdir -p "$results"
rm -f "$results"/*.json "$results"/*.txt
bin="$build/bin"
json() { echo "--benchmark_out=$results/$1 --benchmark_out_format=json"; }
# The offscreen platform's notes on every window say nothing about the figures.
quiet() { grep -v -e 'propagateSizeHints' -e 'XDG_RUNTIME_DIR' || true; }

# The machine, for the record.
{
    echo "date: $(date)"
    echo "nproc: $(nproc)"
    echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
    echo "memory: $(free -h | awk '/^Mem:/ { print $2 }')"
    echo "os: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
    echo "compiler: $(c++ --version | head -1)"
    echo "qt: $(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo unknown)"
    echo "rtmidi: $(pkg-config --modversion rtmidi 2>/dev/null || echo unknown)"
    echo "benchmark: $(dpkg-query -W -f='${Version}' libbenchmark-dev 2>/dev/null || echo unknown)"
    echo "jackd: $(dpkg-query -W -f='${Version}' jackd2 2>/dev/null || echo none)"
    echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee "$results/machine.txt"

echo "== 1 codec"
"$bin/bench_codec" $(json codec.json)

echo "== 2-4 keyboard exchanges against the virtual keyboard"
filter="virtual"
skipped wire || filter="virtual|wire"
KBX_TEST=1 "$bin/bench_keyboard" --benchmark_filter="$filter" $(json keyboard.json)

if ! skipped jack; then
    echo "== 5 over JACK"
    # jackd reports every late cycle of the dummy driver on a busy machine; kept in the log.
    "$here/run_jack_bench.sh" "$build" $(json jack.json) 2>&1 | tee "$results/jack-run.txt" |
        grep -v "XRun" || echo "run_jack_bench.sh failed; see $results/jack-run.txt"
    grep '^kbxtool .* median ' "$results/jack-run.txt" >"$results/jack-kbxtool.txt" || true
fi

if ! skipped pane; then
    echo "== 6 the local pane"
    "$bin/bench_localpane" $(json localpane.json) 2>&1 | quiet
fi

if ! skipped startup; then
    echo "== 6-7 start-up and peak memory"
    "$bin/bench_startup" --kbx_kbxtool="$bin/kbxtool" $(json startup.json) 2>&1 | quiet
fi

if ! skipped monitor; then
    echo "== 8 the MIDI monitor"
    "$bin/bench_monitor" $(json monitor.json) 2>&1 | quiet
fi

if ! skipped wholekbd && ! skipped wire; then
    echo "== 9 the whole keyboard at 31250 baud"
    KBX_TEST=1 "$bin/bench_wholekbd" $(json wholekbd.json)
fi

echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$results/machine.txt"

# Last, since it loads both cores on purpose: the soak over JACK (about eight minutes).
if ! skipped soak && ! skipped jack; then
    echo "== 10 the JACK soak"
    "$here/soak_jack.sh" "$build" "${SOAK_OPERATIONS:-1000}" 1500 2>&1 | tee "$results/soak.txt" |
        grep -v "XRun" | grep -E "^(list|import|send|jackd|soak|load)" || true
fi
echo
"$PY" "$here/report.py" "$results" | tee "$results/table.md"
