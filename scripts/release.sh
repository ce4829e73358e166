#!/usr/bin/env bash
# Builds the release and writes into build/release/:
#   ulvo-tessarn-<version>-windows-x86.zip  ulvo.sep, tessarn.sep, sep-host.exe,
#       the manual, the example patches and scores, LICENSE, CHANGELOG.md, SHA256SUMS
#   ulvo-tessarn-<version>-linux-x86.tar.gz  sep-host, the Linux plug-ins, the
#       same manual, check.md, the examples, LICENSE, CHANGELOG.md, SHA256SUMS
# The version is the CMake project's. The manual (scripts/manual.py) is made
# from docs/, its pictures and sounds rendered here by sep-host. Both
# archives are reproducible: files sorted, dated at the last commit
# (SOURCE_DATE_EPOCH), fixed permissions (scripts/pack.py).
#
#   bash scripts/release.sh            build and pack
#   bash scripts/release.sh --verify   then build the committed tree again in
#                                      build/release-verify/ and compare the bytes
set -euo pipefail
cd "$(dirname "$0")/.."

verify=0
[ "${1:-}" = --verify ] && verify=1

bash scripts/setup.sh >/dev/null
version=$(sed -n 's/^project(sep_modules VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
export SOURCE_DATE_EPOCH
python=/usr/bin/python3  # Debian's, with python3-markdown

echo "== release $version: building (linux32, mingw32)"
cmake --preset linux32 >/dev/null
cmake --build --preset linux32 -j "$(nproc)" --target sep-host ulvo tessarn >/dev/null
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j "$(nproc)" --target sep-host ulvo tessarn >/dev/null

out=build/release
stage=$out/stage
rm -rf "$stage"
mkdir -p "$stage"
echo "== release $version: the manual (pictures and sounds rendered by sep-host)"
manual=$stage/manual
"$python" scripts/manual.py --host build/linux32/bin/sep-host --plugins build/linux32/plugins \
  --out "$manual" --version "$version"

common() {  # what both archives hold
  local dir=$1
  mkdir -p "$dir/examples"
  cp -r "$manual" "$dir/manual"
  cp examples/*.json docs/patches/*.json "$dir/examples/"
  cp LICENSE CHANGELOG.md "$dir/"
}
windows=$stage/ulvo-tessarn-$version-windows-x86
mkdir -p "$windows"
cp build/mingw32/plugins/ulvo.sep build/mingw32/plugins/tessarn.sep build/mingw32/bin/sep-host.exe "$windows/"
common "$windows"
linux=$stage/ulvo-tessarn-$version-linux-x86
mkdir -p "$linux"
cp build/linux32/plugins/ulvo.sep build/linux32/plugins/tessarn.sep build/linux32/bin/sep-host "$linux/"
cp docs/check.md "$linux/"
common "$linux"

"$python" scripts/pack.py zip "$windows" "$out/ulvo-tessarn-$version-windows-x86.zip"
"$python" scripts/pack.py tar.gz "$linux" "$out/ulvo-tessarn-$version-linux-x86.tar.gz"
echo "release: $out/ulvo-tessarn-$version-windows-x86.zip"
echo "release: $out/ulvo-tessarn-$version-linux-x86.tar.gz"

if [ "$verify" = 1 ]; then
  # The committed tree, built from nothing in another folder: the same bytes.
  if [ -n "$(git status --porcelain 2>/dev/null)" ]; then
    echo "release: --verify SKIPPED: it builds the committed tree again, and this one has uncommitted changes" >&2
    exit 0
  fi
  again=build/release-verify
  rm -rf "$again"
  mkdir -p "$again"
  git archive HEAD | tar -x -C "$again"
  (cd "$again" && bash scripts/release.sh)
  for archive in "ulvo-tessarn-$version-windows-x86.zip" "ulvo-tessarn-$version-linux-x86.tar.gz"; do
    if ! cmp "$out/$archive" "$again/build/release/$archive"; then
      echo "release: $archive differs between two builds of one commit" >&2
      exit 1
    fi
    echo "release: $archive is the same, byte for byte, when built again"
  done
  rm -rf "$again"
fi
