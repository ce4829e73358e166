#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, as root:
# the i386 architecture, the 32-bit compiler, CMake and the i386 GoogleTest
# (and Google Benchmark when Debian has it); what `sep-host render` needs:
# nlohmann-json, the i386 libsndfile, pkg-config to find it, and
# sox for spectrograms; and valgrind with the i386 C library's symbols
# (memcheck needs them to start 32-bit programs); and the MinGW-w64 cross
# compiler for the Windows plug-ins with wine and its 32-bit part to run
# them; for the release (scripts/release.sh) and its test, Debian's Python 3
# with python3-markdown (the manual), unzip and chromium (the manual opened
# in a headless browser); xmllint (libxml2-utils), which validates the JUnit
# XML of `sep-host check` against its schema in the tests, and clang-format,
# whose layout the test command checks. Whatever is already there is skipped; each step
# says what it does.
set -euo pipefail

say() { printf 'setup: %s\n' "$*"; }

packages=(cmake make gcc g++ g++-multilib binutils libgtest-dev:i386 libgmock-dev:i386
  pkg-config nlohmann-json3-dev libcli11-dev libsndfile1-dev:i386 sox valgrind libc6-dbg:i386
  g++-mingw-w64-i686 wine wine32:i386 python3 python3-markdown unzip chromium libxml2-utils clang-format)
optional=(libbenchmark-dev:i386)

# Some kernels are built without 32-bit support: their machines run i386
# programs (the host, the tests) through qemu-i386, registered with
# binfmt_misc so that every i386 program, those started by tests included,
# runs as if native.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
ensure_i386_runs() {
  local probe
  probe=$(mktemp -d)
  printf 'int main(void) { return 0; }\n' > "$probe/probe.c"
  if ! gcc -m32 "$probe/probe.c" -o "$probe/probe" 2>/dev/null; then
    rm -rf "$probe"
    say "cannot build a 32-bit probe program" >&2
    return 1
  fi
  if "$probe/probe" 2>/dev/null; then
    rm -rf "$probe"
    return 0
  fi
  say "this kernel does not run 32-bit programs: using qemu-i386"
  if ! command -v qemu-i386 >/dev/null 2>&1; then
    say "installing qemu-user"
    apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
  fi
  if [ -e /proc/sys/fs/binfmt_misc/register ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    say "registering qemu-i386 for i386 programs (binfmt_misc)"
    printf ':qemu-i386:M::%s:%s:%s:F' "$i386_magic" "$i386_mask" "$(command -v qemu-i386)" \
      > /proc/sys/fs/binfmt_misc/register 2>/dev/null || true
  fi
  if "$probe/probe" 2>/dev/null; then
    say "i386 programs run through qemu-i386"
  else
    say "binfmt_misc is not available: CMake runs the tests through qemu-i386 directly"
  fi
  rm -rf "$probe"
}

missing=()
have_i386=0
if dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386; then have_i386=1; fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then missing+=("$p"); fi
done
opt_missing=()
for p in "${optional[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then opt_missing+=("$p"); fi
done

if [ "$have_i386" = 1 ] && [ ${#missing[@]} -eq 0 ] && [ ${#opt_missing[@]} -eq 0 ]; then
  say "toolchain already installed (i386 architecture, ${packages[*]} ${optional[*]})"
  ensure_i386_runs
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  say "missing: ${missing[*]} ${opt_missing[*]}; run this script as root to install them" >&2
  [ ${#missing[@]} -eq 0 ] && [ "$have_i386" = 1 ] && exit 0
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ "$have_i386" = 0 ]; then
  say "adding the i386 architecture (dpkg --add-architecture i386)"
  dpkg --add-architecture i386
fi
say "updating the package lists (apt-get update)"
apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
for p in "${opt_missing[@]}"; do
  if apt-cache show "$p" >/dev/null 2>&1; then
    say "installing $p (benchmarks)"
    apt-get install -y -qq --no-install-recommends "$p" >/dev/null || say "could not install $p: benchmarks are left out"
  else
    say "$p is not available: benchmarks are left out"
  fi
done
ensure_i386_runs
say "done"
