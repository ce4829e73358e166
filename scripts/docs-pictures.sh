#!/usr/bin/env bash
# Renders the pictures of docs/ from the patches in docs/patches/ with
# `sep-host render`: a spectrogram (PNG, drawn by sox) for each
# *-spectrum.json, a waveform plot (SVG) for each *-envelope.json, and the
# demo's spectrogram. Builds the release preset first when sep-host is
# missing. The WAV files stay in build/docs/.
set -euo pipefail
cd "$(dirname "$0")/.."

host=build/linux32/bin/sep-host
if [ ! -x "$host" ]; then
  cmake --preset linux32 >/dev/null
  cmake --build --preset linux32 -j "$(nproc)"
fi
mkdir -p build/docs docs/images
for patch in docs/patches/*.json; do
  name=$(basename "$patch" .json)
  case "$name" in
    *-spectrum) "$host" render "$patch" --quiet -o "build/docs/$name.wav" --spectrogram "docs/images/$name.png" ;;
    *-envelope) "$host" render "$patch" --quiet -o "build/docs/$name.wav" --waveform "docs/images/$name.svg" ;;
    *) echo "docs-pictures: $patch is neither *-spectrum nor *-envelope; skipped" >&2 ;;
  esac
done
"$host" render examples/demo-patch.json --score examples/demo-score.json --quiet \
  -o build/docs/demo.wav --spectrogram docs/images/demo.png
