#!/usr/bin/env bash
# Makes the Windows test kit from the two builds: build/windows-kit/ and
# build/windows-kit.zip, a folder a tester copies to a Windows machine and
# runs with run-tests.cmd (see tests/kit/README.TXT):
#   i686/      the shipping autorun.exe, the stand-ins and the test program, all i686
#   x86_64/    the x86_64 test build of autorun.exe, its stand-ins and test program
#   bmp/       the public bitmap test suites
#   kit_check.exe, run-tests.cmd, README.TXT
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
kit=$root/build/windows-kit
zip=$root/build/windows-kit.zip

for build in win32 win64; do
  if [ ! -f "$root/build/$build/wine_tests.exe" ] || [ ! -f "$root/build/$build/autorun.exe" ]; then
    echo "build/$build has no autorun.exe or wine_tests.exe: run make build first" >&2
    exit 1
  fi
done

rm -rf "$kit" "$zip"
mkdir -p "$kit/i686" "$kit/x86_64"

# Each build's programs and libraries, all but the start-up benchmark's.
copy_build() {
  local from=$1 to=$2 file
  for file in "$from"/*.exe "$from"/*.dll; do
    case $(basename "$file") in
      blank_window*.exe | startup_bench.exe | kit_check.exe) continue ;;
    esac
    cp "$file" "$to/"
  done
}
copy_build "$root/build/win32" "$kit/i686"
copy_build "$root/build/win64" "$kit/x86_64"
cp "$root/build/win32/kit_check.exe" "$kit/"
cp -r "$root/tests/data/bmp" "$kit/bmp"
# Windows line ends for the text a tester opens and the script cmd reads.
sed 's/\r*$/\r/' "$root/tests/kit/run-tests.cmd" >"$kit/run-tests.cmd"
sed 's/\r*$/\r/' "$root/tests/kit/README.TXT" >"$kit/README.TXT"

(cd "$root/build" && zip -qrX "$zip" windows-kit)
echo "$kit"
echo "$zip ($(du -k "$zip" | cut -f1) KiB)"
