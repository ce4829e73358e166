#!/usr/bin/env bash
# Coverage-guided fuzzing of the readers of untrusted files (MIDI files,
# patches, JSON scores) with libFuzzer under clang, address and
# undefined-behaviour sanitizers on. Not part of the tests: run it by hand.
#
#   bash scripts/fuzz.sh [SECONDS_PER_READER]   # default 100
#
# Seeds come from the malformed-input corpus of the tests
# (tests/host/corpus); what the fuzzer learns stays in build/fuzz/corpus-*;
# a crashing input is written to build/fuzz/crashes/ and the script fails.
# Add each crasher to tests/host/corpus once it is mended.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-100}
say() { printf 'fuzz: %s\n' "$*"; }

# clang and its libFuzzer runtime are needed by this script only.
if ! command -v clang++ > /dev/null || ! echo 'int main(){}' | clang++ -x c++ -fsanitize=fuzzer-no-link - -o /dev/null 2> /dev/null; then
  say "installing clang with its sanitizer and libFuzzer runtimes"
  apt-get install -y clang libclang-rt-dev > /dev/null
fi
if ! dpkg -s nlohmann-json3-dev > /dev/null 2>&1; then
  say "installing nlohmann-json3-dev"
  apt-get install -y nlohmann-json3-dev > /dev/null
fi

out=build/fuzz
mkdir -p "$out/crashes"
sources=(host/render/MidiFile.cpp host/render/JsonText.cpp host/render/Patch.cpp host/render/Score.cpp
  host/files/FileAccessPosix.cpp bench/fuzz/FuzzReaders.cpp)
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Ihost -Ihost/files -Ihost/render)
for reader in midi patch score; do
  binary="$out/fuzz_$reader"
  if [ ! -x "$binary" ] || [ -n "$(find "${sources[@]}" host/render/*.h host/*.h host/files/*.h -newer "$binary" 2> /dev/null)" ]; then
    say "building $binary"
    clang++ "${flags[@]}" -DFUZZ_${reader^^} "${sources[@]}" -o "$binary"
  fi
done

status=0
for reader in midi patch score; do
  corpus="$out/corpus-$reader"
  mkdir -p "$corpus"
  case $reader in
    midi) seeds=(tests/host/corpus/*.mid) ;;
    patch) seeds=(tests/host/corpus/*.patch.json) ;;
    score) seeds=(tests/host/corpus/*.score.json) ;;
  esac
  cp -n "${seeds[@]}" "$corpus"/ 2> /dev/null || true
  say "fuzzing the $reader reader for $seconds s"
  if ! "$out/fuzz_$reader" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$out/crashes/$reader-" -print_final_stats=1 "$corpus" 2> "$out/$reader.log"; then
    say "the $reader reader failed: see $out/$reader.log and $out/crashes/"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$out/$reader.log" | sed "s/^/fuzz: $reader /" || true
done
[ "$status" -eq 0 ] && say "no crash"
exit "$status"
