#!/bin/bash
# Contact sheet of the 28 generated pictures, previews of the 7 meshes, frames of the show (when the
# build has its capture tool), and a spectrogram + waveform of the music, to look at.
#   scripts/contact-sheet.sh [show folder]     (default build/show; output in build/contact/)
# Needs ImageMagick and sox (installed when missing), g++ and ffmpeg (scripts/deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
show=${1:-build/show}
out=build/contact
mkdir -p "$out"
need=()
command -v montage >/dev/null || need+=(imagemagick)
command -v sox >/dev/null || need+=(sox)
if ((${#need[@]})); then
  sudo_cmd=(); [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# Pictures in load order, at most 512 wide; transparent ones over a dark checkerboard so their alpha
# shows; the two tall greetings strips cut into four 512-high columns side by side.
pics=(text-tovira.png text-kaldra.png text-presents.png text-invitation.png kaldobrown.jpg kaldoback.jpg
  flareblue.jpg bioplasma.jpg bioplasmaenv.jpg text-party.png text-company.png text-friends.png
  text-harmony.png plupo.jpg plupoback.jpg info-1.png info-2.png info-3.png info-4.png corrosea.jpg
  corrosky.jpg creditz.png flipcube.jpg bluetooth.jpg bluetoothenv.jpg greetz.png greetzover.png seeya.jpg)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
i=0
for p in "${pics[@]}"; do
  src="$show/data/$p"
  if [[ $p == greetz*.png ]]; then
    convert "$src" -crop 256x512 +repage +append "$tmp/strip.png"
    src="$tmp/strip.png"
  fi
  tile=$(printf '%s/%02d-%s.png' "$tmp" "$i" "${p%.*}")
  convert "$src" -resize '512x512>' "$tmp/scaled.png"
  dims=$(identify -format '%wx%h' "$tmp/scaled.png")
  convert -size "$dims" tile:pattern:checkerboard -fill '#181c20' -colorize 85% "$tmp/scaled.png" \
    -compose over -composite -set label "$p" "$tile"
  i=$((i + 1))
done
montage -font DejaVu-Sans -pointsize 14 -background '#0c0c0c' -fill '#d0d0d0' -geometry '512x512>+8+8' -tile 4x \
  "$tmp"/[0-9][0-9]-*.png "$out/contact-sheet.png"

# The meshes, each seen as its scene shows it: own texture coordinates or an environment map.
g++ -std=c++20 -O2 -Wall -Wextra -o "$tmp/mesh-preview" scripts/mesh-preview.cpp
d="$show/data"
preview() {  # mesh yaw pitch distance texture [env]
  convert "$d/$5" -background "#181818" -flatten "$tmp/tex.ppm"
  "$tmp/mesh-preview" "$d/$1" "$tmp/$1.ppm" "$2" "$3" "$4" "$tmp/tex.ppm" "${6:-}"
  convert "$tmp/$1.ppm" -set label "$1 + $5${6:+ ($6)}" "$tmp/mesh-$1.png"
}
preview planarbox41.x 0 0 4 text-kaldra.png
preview kaldobox.x 0.6 0.4 26 kaldobrown.jpg env
preview grid.x 0 0.9 30 corrosea.jpg
preview biogen.x 0.4 0.5 16 bioplasmaenv.jpg env
preview plupo.x 0.2 -0.7 30 plupo.jpg
preview flipcube.x 0.6 0.5 24 flipcube.jpg env
preview bluetooth.x 0.3 0.9 42 bluetooth.jpg
montage -font DejaVu-Sans -pointsize 14 -background '#0c0c0c' -fill '#d0d0d0' -geometry '+8+8' -tile 4x \
  "$tmp"/mesh-*.png "$out/meshes.png"

# Frames of the show at chosen moments, when the build has the capture tool.
if [[ -x build/capture ]]; then
  for t in 1000 9000 16050 21000 26100 38000 52500 60000 77000 86000 94000 99700 104000 122300 131000 134000; do
    build/capture --show-dir "$show" --time "$t" --out "$tmp/frame-$(printf '%06d' "$t").png" >/dev/null
    convert "$tmp/frame-$(printf '%06d' "$t").png" -set label "$t ms" "$tmp/frame-$(printf '%06d' "$t").png"
  done
  montage -font DejaVu-Sans -pointsize 14 -background '#0c0c0c' -fill '#d0d0d0' -geometry '320x240+6+6' \
    -tile 4x "$tmp"/frame-*.png "$out/frames.png"
fi

# The music: spectrogram (sox) and waveform (ffmpeg) over the whole length.
if [[ -f $show/kaldra.mp3 ]]; then
  ffmpeg -v error -y -i "$show/kaldra.mp3" "$tmp/music.wav"
  sox "$tmp/music.wav" -n remix - rate 22050 spectrogram -x 2800 -y 400 -z 80 -t "kaldra.mp3" \
    -o "$out/spectrogram.png"
  ffmpeg -v error -y -i "$show/kaldra.mp3" -filter_complex \
    "showwavespic=s=2800x300:split_channels=1:colors=0x90d0ff|0xffb070" -frames:v 1 "$out/waveform.png"
fi
echo "wrote $out/contact-sheet.png, meshes.png, frames.png (with build/capture), spectrogram.png, waveform.png"
