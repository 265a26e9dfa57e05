#!/usr/bin/env bash
# The keyboard exchanges over JACK: a private JACK server on the dummy driver (48 kHz, period
# 128 frames), the virtual ZR-7316 published on its ports by `kbxtool emulate` in a process of
# its own, and on the other side
#   1. bench_keyboard on the emulated device by name: list, send and import of a full song
#      memory, each exchange's time against the JACK period;
#   2. kbxtool itself (list, send, import), timed as whole processes, and the list against its
#      target: 1.3 x (54 exchanges x 2 periods) + the time of `kbxtool --virtual list`;
#   3. what --trace adds to `kbxtool --virtual list` (the lines go to a file).
# Usage: run_jack_bench.sh BUILD-DIR [extra bench_keyboard arguments]
# Exit 77 when jackd is not installed.
set -euo pipefail

BUILD=${1:?usage: run_jack_bench.sh BUILD-DIR}
shift
BIN="$BUILD/bin"
RATE=48000
PERIOD=128
ROUNDS=${KBX_JACK_ROUNDS:-5}
source "$(dirname "$0")/../scripts/private-jack.sh"
jack_require

work=$(mktemp -d "${TMPDIR:-/tmp}/kbx-jack-bench.XXXXXX")

cleanup() {
    local status=$?
    set +e
    jack_stop_all
    [ "$status" -ne 0 ] && jack_dump
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Nothing of the user's: settings, the virtual keyboard's usual state, the default JACK server.
jack_isolate kbxbench
jack_start "$RATE" "$PERIOD"
emulate_start "$BIN/kbxtool"

period_us=$(awk -v p="$PERIOD" -v r="$RATE" 'BEGIN { printf "%.3f", p * 1e6 / r }')
echo "JACK: dummy driver, synchronous, $RATE Hz, period $PERIOD frames = $period_us us"

# 1. The engine in one process, the keyboard in the other.
"$BIN/bench_keyboard" --kbx_device="ZR-7316 Virtual" --kbx_label=jack \
    --kbx_period_us="$period_us" "$@"

# 2. kbxtool as a user runs it: whole processes, start-up included.
kbx() {
    "$BIN/kbxtool" --in "ZR-7316 Virtual" --out "ZR-7316 Virtual" "$@"
}
now_ms() { date +%s%N | awk '{ printf "%.3f", $1 / 1e6 }'; }
# timed NAME SETUP COMMAND...: runs SETUP (untimed; "true" for none), then the command, ROUNDS
# times; prints the median wall time.
timed() {
    local name=$1 setup=$2
    shift 2
    local times=() failed=0
    for _ in $(seq "$ROUNDS"); do
        local t0 t1
        $setup || true
        t0=$(now_ms)
        # A failed run (a message lost on a loaded machine ends in "MIDI Timeout") is counted,
        # not timed.
        if "$@" >/dev/null 2>"$work/last.err"; then
            t1=$(now_ms)
            times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }')")
        else
            failed=$((failed + 1))
            echo "kbxtool $name failed: $(cat "$work/last.err")" >&2
        fi
    done
    [ ${#times[@]} -gt 0 ] || fail "$name failed every time"
    printf '%s\n' "${times[@]}" | sort -n |
        awk -v n="$name" -v f="$failed" '{ v[NR] = $1 } END { printf "kbxtool %-36s median %8.1f ms of %d runs (min %.1f, max %.1f; %d failed)\n", n, v[int((NR + 1) / 2)], NR, v[1], v[NR], f }' |
        tee -a "$work/medians"
}
median_of() { grep "^kbxtool $1 " "$work/medians" | sed 's/.* median *\([0-9.]*\) ms.*/\1/'; }

mkdir -p "$work/imports"
"$BIN/bench_keyboard" --kbx_write_song="$work/song.kbx"
# Song memory empty, so that the song fits (bench_keyboard has already emptied it; again for
# a keyboard that was not).
for slot in song:0 song:1 rhythm:0 rhythm:1 rhythm:2 rhythm:3; do kbx delete "$slot" >/dev/null || true; done

# The send checks the free memory before it deletes the old song: delete it first.
delete_song() { kbx delete song:0 >/dev/null; }

timed "list (jack)" true kbx list
timed "list (--virtual, no latency)" true "$BIN/kbxtool" --virtual="$work/virtual.state" list
timed "list --trace (--virtual, no latency)" true \
    "$BIN/kbxtool" --virtual="$work/virtual.state" --trace list
# The list as a whole process against its target: two periods an exchange, 30 % for everything
# else, plus what the same list costs without JACK.
awk -v m="$(median_of "list (jack)")" -v v="$(median_of "list (--virtual, no latency)")" \
    -v p="$period_us" 'BEGIN { t = 1.3 * 54 * 2 * p / 1000 + v;
    printf "kbxtool list (jack) target: 1.3 x 54 x 2 x %.3f ms + %.1f ms = %.1f ms; measured %.1f ms: %s\n",
           p / 1000, v, t, m, m <= t ? "met" : "missed" }' | tee -a "$work/medians"
timed "send 21504-byte song (jack)" delete_song kbx send "$work/song.kbx" song:0
timed "import 21504-byte song (jack)" true kbx import song:0 "$work/imports"
echo "kbxtool over JACK done"
