#!/usr/bin/env bash
# Builds the Debian package from the build tree, unpacks it into a scratch root and runs the
# kbxtool it holds against a virtual keyboard of its own.
# Usage: check_deb.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$scratch/out/kbxman_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack wrote: $(ls "$scratch/out")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kbxman ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = sound ] || fail "Section: $(field Section)"
field Maintainer | grep -q '<.*@.*>' || fail "Maintainer: $(field Maintainer)"
[ "$(field Description | wc -l)" -ge 2 ] || fail "Description has no long text"
# dpkg-shlibdeps found the shared libraries the programs link; the SQLite driver the history
# loads as a plug-in is named by hand.
depends=$(field Depends)
for lib in libc6 libqt6core6 libqt6widgets6 librtmidi libqt6sql6-sqlite; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

dpkg -x "$deb" "$scratch/root"
for f in usr/bin/kbxman usr/bin/kbxtool usr/share/applications/com.tovanel.KbxMan.desktop \
         usr/share/man/man1/kbxtool.1.gz usr/share/man/man1/kbxman.1.gz \
         usr/share/mime/packages/com.tovanel.KbxMan.xml; do
  [ -e "$scratch/root/$f" ] || [ -e "$scratch/root/${f%.gz}" ] || fail "the package lacks /$f"
done

# Only system libraries: the program's own libraries are linked in statically.
unset LD_LIBRARY_PATH
if ldd "$scratch/root/usr/bin/kbxtool" | grep -E "not found|$build"; then
  fail "kbxtool needs libraries outside the system"
fi
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_DATA_HOME=$scratch/home/.local/share
mkdir -p "$HOME"
out=$("$scratch/root/usr/bin/kbxtool" --virtual="$scratch/kbd.state" list) || fail "kbxtool list: $out"
grep -qx "Model: ZR-7316" <<<"$out" || fail "kbxtool list: $out"
grep -q '^  tone:0 .*"Brass 1 "$' <<<"$out" || fail "kbxtool list shows no factory tone: $out"
grep -q '^  rhythm:3 ' <<<"$out" || fail "kbxtool list stops early: $out"
echo "package OK: $(basename "$deb")"
