#!/usr/bin/env bash
# Runs every test: the debug build (contract checks on, so the death tests
# run) and the release build that ships. Installs the toolchain first when it
# is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
for preset in linux32-debug linux32; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset" -j "$(nproc)"
done
