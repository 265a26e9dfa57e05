#!/usr/bin/env bash
# Composes a contact sheet of the icon set for a visual check: each picture at its small size and
# at its large size, both magnified four times, on a light grey background, and below that every
# picture at real size on white and on grey. Usage: contact-sheet.sh <icons folder> <output.png>
set -euo pipefail
dir=$1
out=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bg='#e4e6e9'

cells=()
cell() { # small large label
    local name=$3 w h
    w=$(identify -format '%w' "$2")
    h=$((w * 4 + 8))
    convert \( "$1" -filter point -resize 400% -background "$bg" -gravity center \
                  -extent "$(( $(identify -format '%w' "$1") * 4 + 8 ))x$h" +repage \) \
            \( "$2" -filter point -resize 400% -background "$bg" -gravity center \
                  -extent "$((w * 4 + 8))x$h" +repage \) \
            +append +repage \
            \( -size 1x18 xc:"$bg" \) -gravity center -background "$bg" -append +repage \
            -fill '#333' -pointsize 12 -gravity south -annotate +0+2 "$name" \
            -bordercolor "$bg" -border 6 -flatten "$tmp/$name.png"
    cells+=("$tmp/$name.png")
}

for n in 0 1 2 3 4 5 6 7 8; do
    cell "$dir/toolbar/$n.png" "$dir/toolbar/$n@2x.png" "toolbar $n"
done
for n in 0 1 2 3 4 5 6 7 8 9 10 11; do
    cell "$dir/kbd/$n.png" "$dir/kbd/$n@32.png" "kbd $n"
done
cell "$dir/app.png" "$dir/app@2x.png" "app"

# Rows of six cells.
rows=()
for ((i = 0; i < ${#cells[@]}; i += 6)); do
    convert -background "$bg" "${cells[@]:i:6}" -gravity north +append +repage "$tmp/row$i.png"
    rows+=("$tmp/row$i.png")
done

# Real size, small then large images, on white and on the grey.
small=() large=()
for n in 0 1 2 3 4 5 6 7 8; do small+=("$dir/toolbar/$n.png"); large+=("$dir/toolbar/$n@2x.png"); done
for n in 0 1 2 3 4 5 6 7 8 9 10 11; do small+=("$dir/kbd/$n.png"); large+=("$dir/kbd/$n@32.png"); done
large+=("$dir/app.png" "$dir/app@2x.png")
for b in '#ffffff' "$bg"; do
    convert -background "$b" "${small[@]}" -bordercolor "$b" -border 4 +append +repage \
            -flatten "$tmp/s16${b#\#}.png"
    convert -background "$b" "${large[@]}" -bordercolor "$b" -border 4 +append +repage \
            -flatten "$tmp/s32${b#\#}.png"
    rows+=("$tmp/s16${b#\#}.png" "$tmp/s32${b#\#}.png")
done
convert -background "$bg" "${rows[@]}" -gravity northwest -append +repage -flatten "$out"
