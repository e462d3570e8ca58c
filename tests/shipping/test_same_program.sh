#!/usr/bin/env bash
# The same sources give the same shipping program wherever they lie: a copy of
# the source tree in another folder, at a path of another length, is built
# with the win32 preset (the program alone, not the stand-ins) and its
# autorun.exe must equal the build's byte for byte. The link time stamp in
# both is the one the build was configured with.
#   test_same_program.sh REPOSITORY PROGRAM LINK_TIME SCRATCH
set -uo pipefail

repo=${1:?usage: test_same_program.sh REPOSITORY PROGRAM LINK_TIME SCRATCH}
program=${2:?}
link_time=${3:?}
scratch=${4:?}
jobs=${JOBS:-2}

rm -rf "$scratch"
copy=$scratch/another/place/for/the/sources
mkdir -p "$copy"
# Everything but the builds and the history: what a fresh clone holds, and
# any change not yet committed.
tar -C "$repo" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf - ||
  { echo "FAIL: cannot copy the sources to $copy"; exit 1; }

log=$scratch/build.log
if ! (cd "$copy" && SOURCE_DATE_EPOCH=$link_time cmake --preset win32 &&
      cmake --build --preset win32 --target autorun -j "$jobs") >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "FAIL: the copy of the sources does not build"
  exit 1
fi

# The time stamp sits 8 bytes into the PE header, whose offset is at 0x3C.
stamp() {
  local header
  header=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -tu4 -j $((header + 8)) -N 4 "$1" | tr -d ' '
}

failures=0
other=$copy/build/win32/autorun.exe
if ! cmp "$program" "$other"; then
  echo "FAIL: $other differs from $program"
  failures=$((failures + 1))
fi
for file in "$program" "$other"; do
  if [ "$(stamp "$file")" != "$link_time" ]; then
    echo "FAIL: $file has link time stamp $(stamp "$file"), not $link_time"
    failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ] || exit 1
rm -rf "$scratch"
echo "The copy built elsewhere gives the same autorun.exe, link time stamp $link_time"
