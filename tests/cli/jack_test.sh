#!/usr/bin/env bash
# kbxtool over JACK: a private JACK server on the dummy driver, the virtual ZR-7316 published on
# its ports by `kbxtool emulate`, and list, import, send, delete, backup and restore through those
# ports, chosen by device name. Skipped (exit 77) when jackd is not installed.
set -euo pipefail

KBXTOOL=${1:?usage: jack_test.sh PATH-TO-KBXTOOL}
source "$(dirname "$0")/../../scripts/private-jack.sh"
jack_require
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

work=$(mktemp -d "${TMPDIR:-/tmp}/kbxtool-jack.XXXXXX")

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
jack_isolate kbxtool
jack_start 48000 128

start_emulate() { emulate_start "$KBXTOOL"; }
stop_emulate() { emulate_stop; }

# Runs a command, again up to four times if it fails: on a busy machine JACK now and then misses
# a deadline (a reply later than the protocol's 200 ms, a client that cannot connect in time, so
# that a device list lacks the JACK ports). Each retry is reported; a command that fails five
# times fails the test. Only the stdout of the attempt that succeeded is passed on.
attempt() {
    local n status=0
    for n in 1 2 3 4 5; do
        if "$@" >"$work/attempt.out" 2>"$work/attempt.err"; then
            cat "$work/attempt.out"
            return 0
        else
            status=$?
        fi
        echo "note: attempt $n of '${*:2}' ended with status $status: $(tr '\n' ' ' <"$work/attempt.err")" >&2
        sleep 1
    done
    fail "'${*:2}' failed five times (status $status)"
}

# The keyboard by the name of its ports, on both sides.
kbx() {
    attempt "$KBXTOOL" --in "ZR-7316 Virtual" --out "ZR-7316 Virtual" "$@"
}

# json FILE EXPRESSION: the expression evaluated on the document d.
json() {
    "$PY" -c 'import json, sys; d = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' "$1" "$2"
}

expect() { # actual expected what
    [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"
}

start_emulate
grep -q "jack *input: *ZR-7316 Virtual" "$work/emulate.out" || fail "no JACK input port printed"

attempt "$KBXTOOL" --json devices >"$work/devices.json"
expect "$(json "$work/devices.json" 'sum("ZR-7316 Virtual" in x["name"] for x in d["inputs"])')" 1 \
    "emulated input devices"
expect "$(json "$work/devices.json" 'sum("ZR-7316 Virtual" in x["name"] for x in d["outputs"])')" 1 \
    "emulated output devices"

kbx --json list >"$work/factory.json"
expect "$(json "$work/factory.json" 'd["model"]')" "ZR-7316" "model"
expect "$(json "$work/factory.json" 'len(d["slots"])')" 42 "slots"
expect "$(json "$work/factory.json" 'd["slots"][36]["present"]')" True "factory song"

mkdir -p "$work/imports"
file=$(kbx import tone:0 "$work/imports")
[ -f "$file" ] || fail "import made no file: $file"
expect "$(stat -c %s "$file")" 124 "imported tone's size"

"$KBXTOOL" rename "$file" JackTone >/dev/null || fail "rename"
kbx send "$file" 'Tone:\'"$(json "$work/factory.json" 'd["slots"][3]["name"]')" >/dev/null
kbx delete song:0 >/dev/null
kbx --json list >"$work/changed.json"
expect "$(json "$work/changed.json" 'd["slots"][3]["name"]')" "JackTone" "sent tone"
expect "$(json "$work/changed.json" 'd["slots"][36]["present"]')" False "deleted song"

kbx backup "$work/backup" >/dev/null
[ -f "$work/backup/manifest.json" ] || fail "backup wrote no manifest"
expect "$(json "$work/backup/manifest.json" 'sorted(d["files"].values()).count("tone:3")')" 1 \
    "manifest entry of tone:3"

# A fresh keyboard with the factory's contents, then the backup back into it.
stop_emulate
rm -f "$work/keyboard.state"
start_emulate
kbx --json list >"$work/fresh.json"
expect "$(json "$work/fresh.json" 'd["slots"][3]["name"] != "JackTone"')" True "fresh keyboard"
kbx restore "$work/backup" >/dev/null
kbx --json list >"$work/restored.json"
"$PY" -c 'import json, sys; sys.exit(json.load(open(sys.argv[1])) != json.load(open(sys.argv[2])))' \
    "$work/changed.json" "$work/restored.json" || fail "restored list differs from the backed-up one"

stop_emulate
[ -s "$work/keyboard.state" ] || fail "emulate saved no state"
echo "kbxtool over JACK: list, import, send, delete, backup and restore passed"
