#!/usr/bin/env bash
# Builds both plug-ins and the test host for 32-bit Linux and for 32-bit
# Windows (release), shows what the Linux host says of each plug-in, and
# renders the demo (examples/) to a WAV file and a spectrogram. Installs the
# toolchain first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset linux32 >/dev/null
cmake --build --preset linux32 -j "$(nproc)"
echo "== mingw32 (the Windows plug-ins and sep-host.exe)"
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j "$(nproc)"

for plugin in ulvo tessarn; do
  echo
  build/linux32/bin/sep-host info "build/linux32/plugins/$plugin.sep"
done

echo
mkdir -p build/demo
build/linux32/bin/sep-host render examples/demo-patch.json --score examples/demo-score.json \
  -o build/demo/demo.wav --spectrogram build/demo/demo.png
echo
echo "plug-ins for Windows: build/mingw32/plugins/ulvo.sep build/mingw32/plugins/tessarn.sep (sep-host.exe in build/mingw32/bin)"
echo "plug-ins for Linux:   build/linux32/plugins/ulvo.sep build/linux32/plugins/tessarn.sep"
echo "demo sound:           build/demo/demo.wav"
echo "demo picture:         build/demo/demo.png"
