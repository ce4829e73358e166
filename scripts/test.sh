#!/usr/bin/env bash
# Runs every test: the layout check of the C++ files (scripts/format.sh),
# the release command (scripts/release.sh --verify), the debug build
# (contract checks on, so the death tests run), the release build that
# ships (with `sep-host check --level 5` of both plug-ins under three
# seeds), the whole suite again under the address and
# undefined-behaviour sanitizers with `check --level 3` of both plug-ins, and
# `check --level 1` of both release plug-ins under valgrind memcheck. The
# Windows build (mingw32) comes first: the Linux tests check its tables and
# run it under wine, comparing its output with their own. Installs the
# toolchain first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The layout of every C++ file, as .clang-format says; a failure names the
# files (bash scripts/format.sh --fix formats them).
echo "== format"
bash scripts/format.sh
echo "== mingw32"
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j "$(nproc)"
# The release archives, built twice to prove the same bytes; the release
# build's tests unpack the Windows one and open its manual in chromium.
echo "== release"
bash scripts/release.sh --verify
for preset in linux32-debug linux32; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset" -j "$(nproc)"
done

# Leak checks stay off: LeakSanitizer does not run 32-bit programs.
echo "== linux32-asan"
export ASAN_OPTIONS=detect_leaks=0
cmake --preset linux32-asan >/dev/null
cmake --build --preset linux32-asan -j "$(nproc)"
ctest --preset linux32-asan -j "$(nproc)"
for plugin in ulvo tessarn; do
  echo "== check --level 3 (sanitizers): $plugin"
  build/linux32-asan/bin/sep-host check --level 3 "build/linux32-asan/plugins/$plugin.sep"
done
unset ASAN_OPTIONS

# Memcheck of the release build; one start-up block of each library's static
# C++ runtime is suppressed (see the file). Any other error fails the run.
# Where i386 programs run through qemu-i386 (a kernel without 32-bit
# support), valgrind's 32-bit tool runs under the emulator and stops at its
# own start-up ("the 'impossible' happened"): the step is skipped there.
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
  echo "== check --level 1 (valgrind memcheck): SKIPPED: i386 programs run through qemu-i386 here, and valgrind cannot run under it"
else
  for plugin in ulvo tessarn; do
    echo "== check --level 1 (valgrind memcheck): $plugin"
    valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
      --suppressions=scripts/valgrind.supp \
      build/linux32/bin/sep-host check --level 1 --time-limit 600 "build/linux32/plugins/$plugin.sep"
  done
fi
