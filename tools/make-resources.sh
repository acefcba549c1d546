#!/bin/bash
# Regenerates the program's images in resources/ (or in the folder given as the
# only argument) from Debian tools:
#   logo.png                 RCDATA 103, 361 x 92 RGBA, light wordmark for the dark header
#                            (the window draws only its top 361 x 64)
#   support-qr.bmp           BITMAP 102, 136 x 136, 24 bits, uncompressed: the support hotline
#   OrivantaInstaller.ico    GROUP_ICON 101, 16..256 pixels, 32-bit, PNG-compressed
# Needs imagemagick, qrencode, icoutils and fonts-wqy-microhei; zbar-tools, when present,
# proves that the QR image scans at the sizes both renderers show it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/resources}"
mkdir -p "$out"
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
hotline="tel:400-100-200"
# Prefer the distribution's convert over any wrapper earlier on PATH.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The mark on a 256 x 256 grid: a blue tile with a lighter top band and a white tooth.
mark="fill '#0A7FC3' stroke none
roundrectangle 8,8 248,248 56,56
fill '#15A9DB'
path 'M 8 120 L 8 64 C 8 30 30 8 64 8 L 192 8 C 226 8 248 30 248 64 L 248 80 C 180 70 90 90 8 120 Z'
fill white
path 'M 84 58 C 58 58 46 84 50 114 C 54 146 70 164 76 202 C 80 224 100 224 104 202 L 114 160 C 118 148 138 148 142 160 L 152 202 C 156 224 176 224 180 202 C 186 164 202 146 206 114 C 210 84 198 58 172 58 C 152 58 144 72 128 72 C 112 72 104 58 84 58 Z'"

# PNGs without time chunks, so that a regeneration reproduces the same bytes.
png_options=(+set date:create +set date:modify -define png:exclude-chunks=date,time)

# Each icon size is drawn from the vector at that size rather than scaled down from 256.
raw_icons=()
for size in 16 24 32 48 64 128 256; do
  scale="$(awk -v s="$size" 'BEGIN { printf "%.6f", s / 256 }')"
  "$convert" -size "${size}x${size}" xc:none -draw "affine $scale,0,0,$scale,0,0 $mark" \
    "${png_options[@]}" "PNG32:$work/icon-$size.png"
  raw_icons+=("--raw=$work/icon-$size.png")
done
icotool -c -o "$out/OrivantaInstaller.ico" "${raw_icons[@]}"

# Logo: the mark, "Orivanta" and the Chinese product name inside the top 64 rows.
"$convert" -size 361x92 xc:none \
  -draw "affine 0.21875,0,0,0.21875,4,4 $mark" \
  -font "$font" -gravity NorthWest \
  -pointsize 34 -fill white -stroke white -strokewidth 0.9 -annotate +72+8 'Orivanta' \
  -pointsize 30 -fill '#9FD3F2' -stroke '#9FD3F2' -strokewidth 0.6 -annotate +226+11 '欧瑞凡达' \
  "${png_options[@]}" "PNG32:$out/logo.png"

# QR: version 2 at level H, 4 pixels a module (100 px), 18 px quiet zone (4.5 modules).
qrencode -l H -v 2 -s 4 -m 0 -o "$work/qr.png" "$hotline"
"$convert" "$work/qr.png" -bordercolor white -border 18 -type TrueColor -compress None \
  -define bmp:format=bmp3 "BMP3:$out/support-qr.bmp"

check() {
  local file="$1" expected="$2" actual
  actual="$(identify -format '%m %wx%h %[channels] %z\n' "$file" | head -n1)"
  if [ "$actual" != "$expected" ]; then
    echo "unexpected image $file: $actual (expected $expected)" >&2
    exit 1
  fi
}
check "$out/logo.png" "PNG 361x92 srgba 8"
check "$out/support-qr.bmp" "BMP3 136x136 srgb 8"
[ "$(icotool -l "$out/OrivantaInstaller.ico" | grep -c 'bit-depth=32')" -eq 7 ]

if command -v zbarimg >/dev/null; then
  # 136 px as stored, 86 px as the GDI renderer stretches it, 158 px as Direct2D draws it.
  for size in 136 86 158; do
    "$convert" "$out/support-qr.bmp" -filter point -resize "${size}x${size}" "$work/scan-$size.png"
    decoded="$(zbarimg -q --raw "$work/scan-$size.png" 2>/dev/null)"
    if [ "$decoded" != "$hotline" ]; then
      echo "QR image does not scan at $size px: '$decoded'" >&2
      exit 1
    fi
  done
fi
echo "resources regenerated in $out"
