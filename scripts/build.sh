#!/usr/bin/env bash
# Builds both plug-ins (32-bit Linux, release) and shows what the test host
# says of each. Installs the toolchain first when it is missing.
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
echo "plug-ins: build/linux32/plugins/ulvo.sep build/linux32/plugins/tessarn.sep"
