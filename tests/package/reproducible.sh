#!/usr/bin/env bash
# Two clean builds of the release from the same commit, in two folders of different names and lengths and
# under different umasks, must give the same bytes: both Corvix.exe and the zip. Builds only what the
# release needs (CORVIX_BUILD_TESTS=OFF). Prints how long each build took.
#   tests/package/reproducible.sh [COMMIT]   (default HEAD; the commit's files, not the working tree's)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
commit="$(git -C "$root" rev-parse "${1:-HEAD}")"
work="$(mktemp -d /tmp/corvix-reproducible-XXXXXX)"
trap 'rm -rf "$work"' EXIT

build() {  # build <folder> <umask>
  local folder="$1" start
  start=$(date +%s)
  git clone -q --no-hardlinks "$root" "$folder"
  git -C "$folder" checkout -q --detach "$commit"
  (
    umask "$2"
    cd "$folder"
    cmake --preset mingw-x64 -DCORVIX_BUILD_TESTS=OFF >/dev/null
    cmake --build --preset mingw-x64 --target package -j"$(nproc)" >"$folder.log" 2>&1 ||
      { tail -n 30 "$folder.log"; exit 1; }
  )
  echo "reproducible: built ${commit:0:12} in $folder in $(($(date +%s) - start)) s"
}

build "$work/a" 022
build "$work/second-build-folder" 077

failed=0
for file in build/mingw-x64/app/win32/Corvix.exe build/mingw-x86/app/win32/Corvix.exe \
            "build/mingw-x64/$(cd "$work/a" && ls build/mingw-x64/ | grep -E '^Corvix-.*-windows\.zip$')"; do
  if cmp "$work/a/$file" "$work/second-build-folder/$file"; then
    echo "reproducible: $file identical ($(stat -c %s "$work/a/$file") bytes, sha256 $(sha256sum <"$work/a/$file" | cut -c1-16)...)"
  else
    echo "reproducible: $file DIFFERS between the two builds"
    failed=1
  fi
done
exit $failed
