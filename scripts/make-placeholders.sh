#!/usr/bin/env bash
# Draws the program's own pictures with ffmpeg: the two stand-ins of
# resources/photos, no_artwork.png (an item without a picture: two beamed
# notes) and playlist.png (a playlist: a list and a note), 110x110, on a soft
# gradient so neither passes for a picture that failed to load; and the
# window icon, resources/logos/corvane.png (a "C" round a disc on a rounded
# blue square, 256x256).  Run it again after changing a colour or shape.
set -euo pipefail
cd "$(dirname "$0")/.."
out=resources/photos

# One picture: a vertical gradient (top and bottom colours as "r g b") with a
# glyph in one colour.  The glyph is a mask drawn at four times the size with
# geq and scaled down by area averaging, which smooths its edges.
draw() { # file top bottom glyph-colour mask
  local r0 g0 b0 r1 g1 b1
  read -r r0 g0 b0 <<<"$2"
  read -r r1 g1 b1 <<<"$3"
  ffmpeg -y -v error -nostdin \
    -f lavfi -i "color=s=110x110,format=rgb24,geq=r='$r0+($r1-$r0)*Y/H':g='$g0+($g1-$g0)*Y/H':b='$b0+($b1-$b0)*Y/H'" \
    -f lavfi -i "color=c=$4:s=110x110,format=rgb24" \
    -f lavfi -i "color=s=440x440,format=gray,geq=lum='255*gt($5\,0)',scale=110:110:flags=area" \
    -filter_complex "[1][2]alphamerge[g];[0][g]overlay=format=auto,format=rgb24" -frames:v 1 "$1"
}
# A note head: an ellipse tilted up to the right, centred at x y, half axes a b.
head() { echo "lt(pow(((X-$1)*0.94-(Y-$2)*0.342)/$3\,2)+pow(((X-$1)*0.342+(Y-$2)*0.94)/$4\,2)\,1)"; }
# A filled rectangle from x0 y0 to x1 y1.
box() { echo "between(X\,$1\,$3)*between(Y\,$2\,$4)"; }

notes="$(head 170 298 40 29)+$(head 298 274 40 29)+$(box 197 130 209 298)+$(box 325 106 337 274)"
notes="$notes+between(X\,197\,337)*gte(Y\,130-(X-197)*0.1714)*lte(Y\,164-(X-197)*0.1714)"
list="$(box 82 106 272 128)+$(box 82 166 272 188)+$(box 82 226 212 248)+$(head 276 308 36 26)"
list="$list+$(box 299 136 310 308)+between(X\,310\,358)*gte(Y\,136+(X-310)*0.7)*lte(Y\,162+(X-310)*0.7)"

draw "$out/no_artwork.png" "238 241 246" "222 227 235" 0x8c98aa "$notes"
draw "$out/playlist.png" "232 239 252" "212 223 246" 0x5877c4 "$list"

# The icon: the glyph on a gradient, cut to a rounded square (corner radius
# 200 of the 1024-pixel mask space) with a transparent surround.
round="lte(pow(max(0\,max(264-X\,X-760))\,2)+pow(max(0\,max(264-Y\,Y-760))\,2)\,40000)"
r="hypot(X-512\,Y-512)"
ring="between($r\,236\,336)*not(gt(X\,512)*lt(abs(Y-512)\,(X-512)*0.8))"
mkdir -p resources/logos
ffmpeg -y -v error -nostdin \
  -f lavfi -i "color=s=256x256,format=rgb24,geq=r='61-37*Y/H':g='123-76*Y/H':b='245-105*Y/H'" \
  -f lavfi -i "color=c=white:s=256x256,format=rgb24" \
  -f lavfi -i "color=s=1024x1024,format=gray,geq=lum='255*gt($ring+lte($r\,96)\,0)',scale=256:256:flags=area" \
  -f lavfi -i "color=s=1024x1024,format=gray,geq=lum='255*$round',scale=256:256:flags=area" \
  -filter_complex "[1][2]alphamerge[g];[0][g]overlay=format=auto,format=rgb24[p];[p][3]alphamerge,format=rgba" \
  -frames:v 1 resources/logos/corvane.png
