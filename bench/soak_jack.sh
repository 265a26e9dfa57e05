#!/usr/bin/env bash
# Soak over JACK under load: kbxtool list, import and send in turn, each a process of its own, on
# a private JACK server with the virtual ZR-7316 published by `kbxtool emulate`, while another
# process keeps both cores busy. Counts the operations that failed (any exit status but 0) and
# shows why. Run by hand (not by CI); bounded in operations and in time.
#
# Usage: soak_jack.sh BUILD-DIR [OPERATIONS [SECONDS]]     defaults: 1000 operations, 900 s
# Environment: PERIOD (frames, default 64: half the time of the benchmarks' 128, and tighter
# deadlines under load), LOAD=0 for no load process.
# Exit 0 when no operation failed, 1 otherwise, 77 when jackd is not installed.
set -euo pipefail

BUILD=${1:?usage: soak_jack.sh BUILD-DIR [OPERATIONS [SECONDS]]}
OPERATIONS=${2:-1000}
SECONDS_MAX=${3:-900}
BIN="$BUILD/bin"
RATE=48000
PERIOD=${PERIOD:-64}
source "$(dirname "$0")/../scripts/private-jack.sh"
jack_require

work=$(mktemp -d "${TMPDIR:-/tmp}/kbx-jack-soak.XXXXXX")
# A copy of the program: a build while the soak runs must not replace it under the operations.
mkdir -p "$work/bin"
cp "$BIN/kbxtool" "$work/bin/"
BIN="$work/bin"
load_pid=""

cleanup() {
    local status=$?
    set +e
    if [ -n "$load_pid" ]; then
        kill -TERM -- "-$load_pid" 2>/dev/null
        wait "$load_pid" 2>/dev/null
    fi
    jack_stop_all
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

jack_isolate kbxsoak
mkdir -p "$work/imports"
jack_start "$RATE" "$PERIOD"
emulate_start "$BIN/kbxtool"

kbx() {
    "$BIN/kbxtool" --in "ZR-7316 Virtual" --out "ZR-7316 Virtual" "$@"
}
# The item that import and send move: tone 1 as the keyboard holds it.
kbx import tone:1 "$work/imports" >"$work/tone.path" || fail "the first import failed"
tone=$(cat "$work/tone.path")

if [ "${LOAD:-1}" != 0 ]; then
    # Another process (with its own group, so it goes as a whole) keeps both cores busy.
    setsid sh -c 'sha256sum /dev/zero & sha256sum /dev/zero & wait' >/dev/null 2>&1 &
    load_pid=$!
    sleep 1
fi

echo "JACK: dummy driver, synchronous, $RATE Hz, period $PERIOD frames; load process: $([ -n "$load_pid" ] && echo "2 x sha256sum /dev/zero" || echo none)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
started=$(date +%s)
done_ops=0
failed=0
: >"$work/times"
while [ "$done_ops" -lt "$OPERATIONS" ] && [ $(($(date +%s) - started)) -lt "$SECONDS_MAX" ]; do
    case $((done_ops % 3)) in
    0) what=list args=(list) ;;
    1) what=import args=(import tone:1 "$work/imports") ;;
    2) what=send args=(send "$tone" tone:1) ;;
    esac
    t0=$(date +%s%N)
    if kbx "${args[@]}" >/dev/null 2>"$work/last.err"; then
        echo "$what $((($(date +%s%N) - t0) / 1000000))" >>"$work/times"
    else
        failed=$((failed + 1))
        echo "operation $((done_ops + 1)) ($what) failed: $(tr '\n' ' ' <"$work/last.err")"
    fi
    done_ops=$((done_ops + 1))
    if [ $((done_ops % 100)) -eq 0 ]; then
        echo "  $done_ops operations, $failed failed, $(($(date +%s) - started)) s, load $(cut -d' ' -f1 /proc/loadavg)"
    fi
done
elapsed=$(($(date +%s) - started))
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
for what in list import send; do
    grep "^$what " "$work/times" | cut -d' ' -f2 | sort -n |
        awk -v w="$what" '{ v[NR] = $1 } END { if (NR) { p = int(NR * 0.9); if (p < 1) p = 1; printf "%-6s %4d ok, median %5d ms, p90 %5d ms, max %5d ms\n", w, NR, v[int((NR + 1) / 2)], v[p], v[NR] } }'
done
echo "jackd: $(grep -c 'Cannot create new client' "$work/jackd.log" || true) refused clients, $(grep -c -i 'xrun' "$work/jackd.log" || true) late cycles"
echo "soak: $done_ops operations in $elapsed s, $failed failed"
[ "$done_ops" -ge "$OPERATIONS" ] || echo "soak: stopped by the time limit before $OPERATIONS operations"
[ "$failed" -eq 0 ]
