# Sourced by the scripts that run kbxtool over JACK (its test, the JACK benchmark, the soak): a
# JACK server of their own on the dummy driver, nothing of the user's, and the virtual ZR-7316
# published on the server by `kbxtool emulate`. The caller makes $work (a folder it removes) and
# calls jack_stop_all from its EXIT trap.
#
#   jack_require             exit 77 with a note when jackd is not installed
#   jack_isolate PREFIX      HOME and XDG folders under $work, a server name of its own, the
#                            system's devices (KBX_TEST unset)
#   jack_start RATE PERIOD   starts the server and waits until it answers
#   emulate_start KBXTOOL    starts `kbxtool emulate` and waits for its JACK ports
#   emulate_stop, jack_stop_all
#   jack_dump                the server's and the emulator's output, after a failure

jack_pid=""
emulate_pid=""

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

jack_require() {
    if ! command -v jackd >/dev/null 2>&1; then
        echo "SKIPPED: jackd is not installed (scripts/install-deps installs jackd2)"
        exit 77
    fi
}

jack_isolate() {
    export HOME="$work/home"
    export XDG_CONFIG_HOME="$HOME/config" XDG_DATA_HOME="$HOME/data" XDG_CACHE_HOME="$HOME/cache"
    export LC_ALL=C LANG=C
    export JACK_DEFAULT_SERVER="$1$$r$RANDOM" JACK_NO_START_SERVER=1
    unset KBX_TEST # the programs must see the system's (JACK) devices
    mkdir -p "$HOME"
}

jack_start() {
    jackd -S -n "$JACK_DEFAULT_SERVER" -d dummy -r "$1" -p "$2" >"$work/jackd.log" 2>&1 &
    jack_pid=$!
    for _ in $(seq 100); do
        jack_lsp >/dev/null 2>&1 && return 0
        kill -0 "$jack_pid" 2>/dev/null || fail "jackd did not start"
        sleep 0.1
    done
    jack_lsp >/dev/null 2>&1 || fail "jackd does not answer"
}

emulate_start() {
    : >"$work/emulate.out"
    "$1" emulate --state "$work/keyboard.state" >"$work/emulate.out" 2>"$work/emulate.err" &
    emulate_pid=$!
    for _ in $(seq 200); do
        grep -q "output:" "$work/emulate.out" && break
        kill -0 "$emulate_pid" 2>/dev/null || fail "kbxtool emulate ended early"
        sleep 0.05
    done
    grep -Eq "jack +input:" "$work/emulate.out" || fail "kbxtool emulate published no JACK ports"
}

emulate_stop() {
    if [ -n "$emulate_pid" ] && kill -0 "$emulate_pid" 2>/dev/null; then
        kill -TERM "$emulate_pid"
        wait "$emulate_pid"
    fi
    emulate_pid=""
}

jack_stop_all() {
    emulate_stop 2>/dev/null
    if [ -n "$jack_pid" ] && kill -0 "$jack_pid" 2>/dev/null; then
        # JACK keeps a server name registered when it is stopped while a client is leaving.
        sleep 0.5
        kill -TERM "$jack_pid"
        wait "$jack_pid" 2>/dev/null
    fi
    jack_pid=""
}

jack_dump() {
    echo "--- jackd output"; cat "$work/jackd.log" 2>/dev/null
    echo "--- emulate output"; cat "$work/emulate.out" "$work/emulate.err" 2>/dev/null
}
