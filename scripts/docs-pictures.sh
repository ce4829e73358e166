#!/usr/bin/env bash
# Renders the pictures of docs/ with `sep-host render`: every picture the
# pages show (`![title](images/NAME.png|svg)` in docs/manual.md, ulvo.md and
# tessarn.md) from its patch docs/patches/NAME.json, titled with the
# page's own words (scripts/manual.py: a spectrogram drawn by sox for a PNG,
# a waveform plot for an SVG), and the whole demo's spectrogram for the
# README, and the effect example of docs/rendering.md (the test fixture
# onepole.sep filtering a sound ulvo renders first). Builds the release
# preset first when sep-host or the one-pole fixture is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

host=build/linux32/bin/sep-host
fixtures=build/linux32/tests/host/fixtures
if [ ! -x "$host" ] || [ ! -f "$fixtures/onepole.sep" ]; then
  cmake --preset linux32 >/dev/null
  cmake --build --preset linux32 -j "$(nproc)" --target sep-host ulvo tessarn fixture_onepole
fi
mkdir -p build/docs docs/images
/usr/bin/python3 scripts/manual.py --host "$host" --plugins build/linux32/plugins --pictures-only docs/images
"$host" render examples/demo-patch.json --score examples/demo-score.json --quiet \
  --title "The demo: chords, comb sweeps, wah-wah, curved envelopes" \
  -o build/docs/demo.wav --spectrogram docs/images/demo.png
"$host" render examples/effect-source.json --plugins build/linux32/plugins --quiet -o build/docs/effect-source.wav
"$host" render examples/effect-patch.json --plugins "$fixtures" --input src=build/docs/effect-source.wav --quiet \
  --title "A one-pole filter swept by a lane, low-pass then high-pass" \
  -o build/docs/effect.wav --spectrogram docs/images/effect.png
