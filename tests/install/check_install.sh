#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks the desktop integration: every file in its
# place and nothing else, each one accepted by the tool that reads it.
# Usage: check_install.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >/dev/null
root=$scratch/root/usr
id=com.tovanel.KbxMan

expected=(
  bin/kbxman bin/kbxtool
  share/applications/$id.desktop
  share/metainfo/$id.metainfo.xml
  share/mime/packages/$id.xml
  share/man/man1/kbxman.1 share/man/man1/kbxtool.1
  share/bash-completion/completions/kbxtool
)
sizes=(16 22 24 32 48 64 128 256 512)
for n in "${sizes[@]}"; do
  expected+=("share/icons/hicolor/${n}x${n}/apps/$id.png"
             "share/icons/hicolor/${n}x${n}/mimetypes/application-x-zr7316-kbx.png")
done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -type f | sed 's|^\./||' | sort) ||
  fail "installed files differ from the expected list (< expected, > installed)"

for program in kbxman kbxtool; do
  [ -x "$root/bin/$program" ] || fail "$program is not executable"
done
"$root/bin/kbxtool" --version | grep -qx "kbxtool $version" || fail "installed kbxtool --version"

# Icons: each picture has the size its folder names.
for n in "${sizes[@]}"; do
  for png in "$root/share/icons/hicolor/${n}x${n}"/*/*.png; do
    file -b "$png" | grep -q "PNG image data, $n x $n," || fail "$png is not $n x $n"
  done
done

# Desktop entry: valid, names the program and the icon that exists, opens a .kbx file given by
# the file manager, and has its names in Japanese too.
desktop=$root/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
for line in "Exec=kbxman %f" "Icon=$id" "Categories=AudioVideo;Audio;Midi;" \
            "MimeType=application/x-zr7316-kbx;"; do
  grep -qxF "$line" "$desktop" || fail "desktop entry lacks $line"
done
for key in Name GenericName Comment 'Name\[ja\]' 'Comment\[ja\]'; do
  grep -q "^$key=." "$desktop" || fail "desktop entry lacks $key"
done

# AppStream: valid without the network, this release, every screenshot of docs/.
metainfo=$root/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"
grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$metainfo" || fail "metainfo lacks release $version"
for shot in "$(dirname "$0")"/../../docs/screenshot-*.png; do
  grep -q "/$(basename "$shot")</image>" "$metainfo" || fail "metainfo lacks $(basename "$shot")"
done

# The data-file type: well-formed, and compiled by update-mime-database into a glob and a magic
# of 15 characters and the zero byte at offset 0.
mimexml=$root/share/mime/packages/$id.xml
xmllint --noout "$mimexml" || fail "xmllint"
mkdir -p "$scratch/mime/packages"
cp "$mimexml" "$scratch/mime/packages/"
errors=$(XDG_DATA_DIRS=$scratch update-mime-database "$scratch/mime" 2>&1) || fail "update-mime-database: $errors"
[ -z "$errors" ] || fail "update-mime-database: $errors"
grep -qx "application/x-zr7316-kbx:\*\.kbx" "$scratch/mime/globs" || fail "mime glob *.kbx"
spaced() { od -An -c | tr -s ' \n' ' '; }
magic=$(spaced <"$scratch/mime/magic")
wanted=$(printf '[80:application/x-zr7316-kbx]\n>0=\000\020VELMO Music Lib\000\n' | spaced)
[[ $magic == *"$wanted"* ]] || fail "mime magic is not \"VELMO Music Lib\" and a zero byte at offset 0"
grep -q '<icon name="application-x-zr7316-kbx"/>' "$mimexml" || fail "mime type names no icon"

# Manual pages: formatted without a warning, and kbxtool's covers every command and option its
# --help names.
for page in kbxman kbxtool; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/share/man/man1/$page.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $page.1: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$root/share/man/man1/$page.1" >"$scratch/$page.txt" 2>/dev/null
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES; do
    grep -qx "$section" "$scratch/$page.txt" || fail "$page.1 has no section $section"
  done
done
help=$("$root/bin/kbxtool" --help)
commands=$(sed -n 's/^  \([a-z]\+\)\( .*\)\?$/\1/p' <<<"$help")
[ "$(wc -w <<<"$commands")" -ge 10 ] || fail "cannot read the commands from kbxtool --help"
for word in $commands $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u) --help --version --name --state; do
  grep -qE -- "(^| )$word( |\[|=|,|\$)" "$scratch/kbxtool.txt" || fail "kbxtool.1 does not describe $word"
done
for status in 0 1 2; do
  grep -qE "^ +$status( |\$)" "$scratch/kbxtool.txt" || fail "kbxtool.1 lacks exit status $status"
done
for form in tone:N dsp:N reg:BANK:N song:N rhythm:N; do
  grep -qF "$form" "$scratch/kbxtool.txt" || fail "kbxtool.1 lacks the short form $form"
done

echo "installed layout OK"
