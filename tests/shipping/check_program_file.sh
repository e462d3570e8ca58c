#!/usr/bin/env bash
# Static checks of the shipping program file, which cannot run on the build
# machine: a 32-bit GUI program within its size budget, importing only the
# classic system libraries every Windows machine has (no C runtime library,
# which Windows 95 as first released lacks, and no library that a file of its
# name beside the program could stand in for), and carrying exactly the resources the
# menu needs: the string tables and the restart notice in all 24 language
# variants, the version block, the icon and the application manifest. It runs
# from Windows 95 on: subsystem version 4.0, and the test build's seam is not
# in it.
#   check_program_file.sh build/win32/autorun.exe
set -uo pipefail

program=${1:?usage: check_program_file.sh <autorun.exe>}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
max_size=131072
allowed_imports="kernel32.dll user32.dll gdi32.dll advapi32.dll"
# Every variant's language id (facts/languages.txt).
source "$(dirname "$0")/../../scripts/lib/facts.sh"
languages=$(facts_rows languages | awk '{ print $1 }') || { echo "FAIL: cannot read the language variants" >&2; exit 2; }
[ -n "$languages" ] || { echo "FAIL: no language variants in facts/languages.txt" >&2; exit 2; }

failures=()
fail() { failures+=("$*"); }

for tool in "$objdump" wrestool; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 2; }
done
[ -f "$program" ] || { echo "FAIL: no program file at $program" >&2; exit 2; }

# Format, subsystem, size.
headers=$("$objdump" -p "$program") || { echo "FAIL: $objdump cannot read $program" >&2; exit 2; }
grep -q 'file format pei-i386' <<<"$headers" || fail "not a pei-i386 file"
grep -Eq '^Magic[[:space:]]+010b' <<<"$headers" || fail "optional header magic is not 010b (PE32)"
grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "subsystem is not 2 (Windows GUI)"
grep -Eq '^MajorSubsystemVersion[[:space:]]+4$' <<<"$headers" &&
  grep -Eq '^MinorSubsystemVersion[[:space:]]+0$' <<<"$headers" || fail "subsystem version is not 4.0"
! grep -qa AUTORUN_SEAM "$program" || fail "carries the test build's process-start seam"
size=$(stat -c %s "$program")
[ "$size" -le $max_size ] || fail "program file is $size bytes, more than $max_size"

# Imports: anything else (a DirectX library, a C runtime, Video for Windows,
# which is bound at run time from the system folder) would keep the menu from
# starting on a plain machine, or be taken from the program's own folder.
imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers" | tr -d '\r' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
  [[ " $allowed_imports " == *" $dll "* ]] || fail "imports $dll"
done

# Without a C runtime nothing would run a static constructor.
! "$objdump" -h "$program" | grep -qE '[[:space:]]\.(ctors|init_array)[[:space:]]' ||
  fail "has static constructors, which nothing runs"

# Resources, as "type name language" lines, compared with the exact set.
expected=$(
  for language in $languages; do
    echo "6 1 $language"
    echo "6 2 $language"
    echo "5 103 $language"
  done
  echo "16 1 1024"
  echo "24 1 0"
  echo "14 101 2057"
  echo "3 1 2057"
)
listing=$(wrestool -l "$program" 2>&1) || fail "wrestool cannot list resources: $listing"
actual=$(sed -n 's/^--type=\([^ ]*\) --name=\([^ ]*\) --language=\([^ ]*\) .*/\1 \2 \3/p' <<<"$listing")
while read -r type name language; do
  [ -n "$type" ] && fail "missing resource: type $type, name $name, language $language"
done < <(comm -23 <(sort <<<"$expected") <(sort <<<"$actual"))
while read -r type name language; do
  [ -n "$type" ] && fail "unexpected resource: type $type, name $name, language $language"
done < <(comm -13 <(sort <<<"$expected") <(sort <<<"$actual"))

# The one icon image: 32 by 32, 256 colours, with its mask.
icon_size=$(sed -n 's/^--type=3 --name=1 --language=2057 .*size=\([0-9]*\).*/\1/p' <<<"$listing")
[ -z "$icon_size" ] || [ "$icon_size" -eq 2216 ] || fail "icon 1 is $icon_size bytes, not 2216"

# The manifest: the user's own rights, written for Vista to Windows 11, and
# neither DPI awareness nor visual styles, which would change the window.
manifest=$(wrestool -x --raw --type=24 --name=1 "$program" 2>/dev/null | tr -d '\r')
grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' <<<"$manifest" ||
  fail "manifest does not ask for asInvoker without uiAccess"
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
          4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
          8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  grep -qi "<supportedOS Id=\"{$os}\"/>" <<<"$manifest" || fail "manifest lacks supportedOS $os"
done
manifest_elements=$(sed 's/<!--.*-->//' <<<"$manifest" | sed '/<!--/,/-->/d')
! grep -qiE 'dpiAware|dpiAwareness|Common-Controls' <<<"$manifest_elements" ||
  fail "manifest declares DPI awareness or a common-controls dependency"

if [ ${#failures[@]} -gt 0 ]; then
  echo "FAIL: $program:" >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "OK: $program ($size bytes; imports: $(echo $imports))"
