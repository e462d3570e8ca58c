#!/usr/bin/env bash
# Makes the Windows test kit from the two builds: build/windows-kit/ and
# build/windows-kit.zip, a folder a tester copies to a Windows machine and
# runs with run-tests.cmd (see tests/kit/README.TXT):
#   i686/      the shipping autorun.exe, the stand-ins (standins/) and the
#              tests' helpers (tests/fixtures/), the test program and the kit's
#              checker, all i686
#   x86_64/    the x86_64 test build of autorun.exe, its stand-ins, helpers,
#              test program and checker
#   bmp/       the public bitmap test suites
#   run-tests.cmd, README.TXT, i686-exclusions.txt (the tests the i686 run
#   leaves out, facts/i686-exclusions.txt)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
kit=$root/build/windows-kit
zip=$root/build/windows-kit.zip

for build in win32 win64; do
  if [ ! -f "$root/build/$build/wine_tests.exe" ] || [ ! -f "$root/build/$build/autorun.exe" ] ||
     [ ! -f "$root/build/$build/kit_check.exe" ]; then
    echo "build/$build has no autorun.exe, wine_tests.exe or kit_check.exe: run make build first" >&2
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
      blank_window*.exe | startup_bench.exe) continue ;;
    esac
    cp "$file" "$to/"
  done
}
copy_build "$root/build/win32" "$kit/i686"
copy_build "$root/build/win64" "$kit/x86_64"
cp -r "$root/tests/data/bmp" "$kit/bmp"
# Windows line ends for the text a tester opens and the files cmd reads.
sed 's/\r*$/\r/' "$root/tests/kit/run-tests.cmd" >"$kit/run-tests.cmd"
sed 's/\r*$/\r/' "$root/tests/kit/README.TXT" >"$kit/README.TXT"
sed 's/\r*$/\r/' "$root/facts/i686-exclusions.txt" >"$kit/i686-exclusions.txt"

(cd "$root/build" && zip -qrX "$zip" windows-kit)
echo "$kit"
echo "$zip ($(du -k "$zip" | cut -f1) KiB)"
