#!/usr/bin/env bash
# Static checks of the shipping program file, which cannot run on the build
# machine: a 32-bit GUI program within its size budget, importing only
# libraries every Windows machine has, and carrying exactly the resources the
# menu needs: the string tables and the restart notice in all 24 language
# variants, the version block and the icon.
#   check_program_file.sh build/win32/autorun.exe
set -uo pipefail

program=${1:?usage: check_program_file.sh <autorun.exe>}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
max_size=131072
allowed_imports="kernel32.dll user32.dll gdi32.dll advapi32.dll msvfw32.dll msvcrt.dll"
# Every variant's language id, in the order of the ids.
languages="1030 1031 1033 1034 1036 1040 1043 1044 1053 2055 2057 2058 2060 2064 2067
           2068 3079 3081 3082 3084 4105 4108 5129 6153"

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
size=$(stat -c %s "$program")
[ "$size" -le $max_size ] || fail "program file is $size bytes, more than $max_size"

# Imports: anything else (a DirectX library, the compiler's runtime DLLs)
# would keep the menu from starting on a plain machine.
imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers" | tr -d '\r' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
  [[ " $allowed_imports " == *" $dll "* ]] || fail "imports $dll"
done

# Resources, as "type name language" lines, compared with the exact set.
expected=$(
  for language in $languages; do
    echo "6 1 $language"
    echo "6 2 $language"
    echo "5 103 $language"
  done
  echo "16 1 1024"
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

if [ ${#failures[@]} -gt 0 ]; then
  echo "FAIL: $program:" >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "OK: $program ($size bytes; imports: $(echo $imports))"
