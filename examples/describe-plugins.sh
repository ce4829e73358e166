#!/usr/bin/env bash
# Describes and validates both plug-ins with the test host, as a user would
# before copying them into a host's plug-in folder. Run scripts/build.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
host=build/linux32/bin/sep-host
for plugin in build/linux32/plugins/ulvo.sep build/linux32/plugins/tessarn.sep; do
  "$host" info --json "$plugin"
  # Four voices for the oscillator, as a polyphonic patch would place it.
  voices=1
  [ "$(basename "$plugin")" = ulvo.sep ] && voices=4
  "$host" validate --voices "$voices" --samples 8192 "$plugin"
done
