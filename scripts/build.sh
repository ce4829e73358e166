#!/usr/bin/env bash
# Builds both plug-ins and the test host (32-bit Linux, release), shows what
# the host says of each plug-in, and renders the demo (examples/) to a WAV
# file and a spectrogram. Installs the toolchain first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset linux32 >/dev/null
cmake --build --preset linux32 -j "$(nproc)"

for plugin in ulvo tessarn; do
  echo
  build/linux32/bin/sep-host info "build/linux32/plugins/$plugin.sep"
done

echo
mkdir -p build/demo
build/linux32/bin/sep-host render examples/demo-patch.json --score examples/demo-score.json \
  -o build/demo/demo.wav --spectrogram build/demo/demo.png
echo
echo "plug-ins:     build/linux32/plugins/ulvo.sep build/linux32/plugins/tessarn.sep"
echo "demo sound:   build/demo/demo.wav"
echo "demo picture: build/demo/demo.png"
