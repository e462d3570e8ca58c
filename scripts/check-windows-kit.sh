#!/usr/bin/env bash
# Checks the Windows test kit as a tester would run it: build/windows-kit.zip
# unpacked into a fresh Wine prefix of the Wine session's own
# (build/wine/kit-check), with no drive but C: and an empty home folder
# (nothing else of the repository reachable), and `wine cmd /c run-tests.cmd`
# run there with no variable of ours set.
#   scripts/check-windows-kit.sh           the full check:
#     1. both runs pass, and afterwards the prefix holds no install record,
#        no codec file and no test folder;
#     2. a second run in the same prefix passes too;
#     3. with a codec file and an install record already there, the tests
#        needing them absent are skipped with the reason, and both stay
#        exactly as they were; the kit's two checkers record the same state;
#     4. with another program in place of the one under test, the runner
#        fails (exit code not 0, summary FAILED).
#   scripts/check-windows-kit.sh --short   step 1 only, one run, a few tests
#                                          from each test file (for make test)
# Where this machine cannot run 32-bit code, the i686 run is left out.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/wine.sh"
zip=$root/build/windows-kit.zip
work=$root/build/windows-kit-check

fail() { echo "windows-kit-check: FAILED: $*" >&2; exit 1; }

if [ "${1:-}" != --inside ]; then
  case ${1:-full} in
  full | --short) ;;
  --help | -h) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "windows-kit-check: unknown option: $1 (--short, --help)" >&2; exit 2 ;;
  esac
  [ -f "$zip" ] || { echo "no $zip: run make windows-kit first" >&2; exit 1; }
  rm -rf "$work"
  mkdir -p "$work"
  # A fresh prefix of the Wine session's own, on a private display whatever
  # DISPLAY says: the tests click windows.
  exec bash "$root/scripts/wine-session.sh" --prefix kit-check --fresh --private-display -- \
    bash "$0" --inside "${1:-full}"
fi
mode=$2
prefix=$WINEPREFIX
# The home folder the session made the prefix with: empty.
home=$wine_home

# The only environment the kit's run sees.
kit_env=(env -i PATH=/usr/bin:/bin HOME="$home" USER="${USER:-tester}" DISPLAY="$DISPLAY"
         XAUTHORITY="${XAUTHORITY:-}" WINEPREFIX="$prefix" WINEDEBUG=-all
         WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=en_US.UTF-8 LANG=en_US.UTF-8 AUTORUN_KIT_NO_PAUSE=1)
kwine() { "${kit_env[@]}" "$@"; }

runs="i686 x86_64"
if ! reason=$(wine_can_run i686); then
  echo "windows-kit-check: the i686 run is left out: $reason"
  runs="x86_64"
fi

echo "windows-kit-check: a fresh Wine prefix in $prefix"
# No drive but C:, so that nothing outside the prefix is reachable.
find "$prefix/dosdevices" -mindepth 1 -maxdepth 1 ! -name 'c:' -exec rm -f {} +
outside=$(find "$prefix/drive_c" -type l -lname '/*' ! -lname "$prefix/*" ! -lname "$home*" -print)
[ -z "$outside" ] || fail "links out of the prefix: $outside"

# A space and parentheses in the path, as in a copy Windows names "(1)".
kit_folder='C:\Test kit (1)\windows-kit'
mkdir -p "$prefix/drive_c/Test kit (1)"
unzip -q "$zip" -d "$prefix/drive_c/Test kit (1)"

# Runs the kit in `folder` with the given runs and filter; the output goes to
# LOG and the screen, the exit code to $status.
run_kit() {
  local folder=$1 kit_runs=$2 filter=$3 log=$4
  status=0
  # Started from its own folder, as a double click starts it.
  (cd "$(unix_folder "$folder")" && "${kit_env[@]}" AUTORUN_KIT_RUNS="$kit_runs" AUTORUN_KIT_FILTER="$filter" \
     wine cmd /c run-tests.cmd </dev/null) >"$log" 2>&1 || status=$?
  grep -E '^(PASSED|FAILED)|^\[  FAILED  \] .*\(' "$log" || true
}

unix_folder() { echo "$prefix/drive_c/${1#C:\\}" | tr '\\' '/'; }

# The prefix holds no install record, no codec file, no test folder.
expect_clean_prefix() {
  local what=$1 view
  for view in 32 64; do
    if wine_quietly kwine wine reg query 'HKLM\SOFTWARE\KORU Media' /reg:$view; then
      fail "$what: an install record is left (registry view $view)"
    fi
  done
  local found
  found=$(find "$prefix/drive_c/windows" -maxdepth 2 -iname ir50_32.dll)
  [ -z "$found" ] || fail "$what: a codec file is left: $found"
  found=$(find "$prefix/drive_c" -iname 'autorun-test-*')
  [ -z "$found" ] || fail "$what: test folders are left: $found"
}

# Every run asked for has results; each skipped test says why, and only the
# tests listed in ALLOWED_SKIPS (an extended regular expression) are skipped.
expect_results() {
  local what=$1 folder=$2 kit_runs=$3 allowed_skips=$4 run
  for run in $kit_runs; do
    /usr/bin/python3 - "$what, $run run" "$(unix_folder "$folder")/results-$run.xml" "$allowed_skips" \
      "$(unix_folder "$folder")/i686-exclusions.txt" <<'PY' || exit 1
import fnmatch, re, sys, xml.etree.ElementTree as tree
what, path, allowed, exclusions = sys.argv[1:]
try:
    cases = tree.parse(path).getroot().iter("testcase")
    left_out = [line.split()[0] for line in open(exclusions) if line.strip() and not line.startswith("#")]
except Exception as error:
    sys.exit(f"windows-kit-check: FAILED: {what}: no results ({error})")
count = 0
for case in cases:
    count += 1
    name = f"{case.get('classname')}.{case.get('name')}"
    if what.endswith("i686 run") and any(fnmatch.fnmatchcase(name, pattern) for pattern in left_out):
        sys.exit(f"windows-kit-check: FAILED: {what}: {name} ran, although i686-exclusions.txt leaves it out")
    skipped = case.find("skipped")
    if skipped is None:
        continue
    if not (skipped.get("message") or skipped.text or "").strip():
        sys.exit(f"windows-kit-check: FAILED: {what}: {name} skipped without a reason")
    if not re.search(allowed, name):
        sys.exit(f"windows-kit-check: FAILED: {what}: {name} skipped: {skipped.get('message')}")
if count == 0:
    sys.exit(f"windows-kit-check: FAILED: {what}: no tests ran")
PY
  done
}

expect_passed() {
  local what=$1 log=$2
  [ "$status" -eq 0 ] || fail "$what: run-tests.cmd exited with $status (see $log)"
  grep -q '^PASSED: .*nothing left behind' "$log" || fail "$what: no PASSED summary (see $log)"
}

# Localised tests of other languages than this run's are the only expected
# skips on a clean machine.
other_languages='^Localised/Menu\.TitleButtonsAndCodecQuestion/[a-z]{2}_[A-Z]{2}$'

if [ "$mode" = --short ]; then
  short_run=${runs%% *}
  filter='ProgramUnderTest.*:MainWindow.AsTheUserMeetsIt:Splash.WhatTheMenuDraws'
  filter+=':StartupGuards.SecondMenuEndsAndLeavesTheFirstAlone:InstallRecord.DecidesWhatTheMenuOffers'
  filter+=':InstallFlow.AnswersToTheDirectXQuestion'
  filter+=':CodecFlow.AnswersAndOutcomes:Localised/*:LocalisedRestartNotice.*:Resources.VersionBlock'
  filter+=':LaunchAndWait.ReturnsTheExitCode'
  run_kit "$kit_folder" "$short_run" "$filter" "$work/short.log"
  expect_passed "short $short_run run" "$work/short.log"
  expect_results "short run" "$kit_folder" "$short_run" "$other_languages"
  grep -q 'name="TitleButtonsAndCodecQuestion/en_US"[^>]*result="completed"' \
    "$(unix_folder "$kit_folder")/results-$short_run.xml" ||
    fail "short run: the localised test in the run's own language is missing"
  expect_clean_prefix "short run"
  echo "windows-kit-check: the kit's short $short_run run passed under Wine and left nothing behind"
  exit 0
fi

echo "windows-kit-check: 1. the kit's runs ($runs)"
run_kit "$kit_folder" "$runs" '*' "$work/first.log"
expect_passed "first run" "$work/first.log"
expect_results "first run" "$kit_folder" "$runs" "$other_languages"
expect_clean_prefix "first run"

echo "windows-kit-check: 2. once more in the same prefix"
run_kit "$kit_folder" "$runs" '*' "$work/second.log"
expect_passed "second run" "$work/second.log"
expect_results "second run" "$kit_folder" "$runs" "$other_languages"
expect_clean_prefix "second run"

echo "windows-kit-check: 3. a codec file and an install record already on the machine"
placed=$work/placed-codec
printf 'Not the codec: a file the tests must leave alone.\r\n' >"$placed"
systems=("$prefix/drive_c/windows/system32")
[ -d "$prefix/drive_c/windows/syswow64" ] && systems+=("$prefix/drive_c/windows/syswow64")
for system in "${systems[@]}"; do cp "$placed" "$system/IR50_32.DLL"; done
for view in 32 64; do
  wine_quietly kwine wine reg add 'HKLM\SOFTWARE\KORU Media\Other' /v Path /t REG_SZ /d 'C:\Elsewhere' /f /reg:$view
done
filter='CodecFlow.*:InstallRecord.*:Localised/*:Splash.WhatTheMenuDraws'
run_kit "$kit_folder" "$runs" "$filter" "$work/present.log"
expect_passed "run with a codec file and a record present" "$work/present.log"
expect_results "run with a codec file and a record present" "$kit_folder" "$runs" \
  "$other_languages|^CodecFlow\\.|^InstallRecord\\.|/en_US\$"
for run in $runs; do
  results=$(unix_folder "$kit_folder")/results-$run.xml
  for name in CodecFlow.AnswersAndOutcomes InstallRecord.DecidesWhatTheMenuOffers \
              Localised/Menu.TitleButtonsAndCodecQuestion/en_US; do
    /usr/bin/python3 - "$results" "$name" <<'PY' || fail "$run run: $name was not skipped for the codec file or the record"
import sys, xml.etree.ElementTree as tree
path, wanted = sys.argv[1:]
for case in tree.parse(path).getroot().iter("testcase"):
    if f"{case.get('classname')}.{case.get('name')}" == wanted:
        skipped = case.find("skipped")
        message = "" if skipped is None else (skipped.get("message") or "") + (skipped.text or "")
        sys.exit(0 if "already on this machine" in message else 1)
sys.exit(1)
PY
  done
  grep -q 'name="WhatTheMenuDraws"[^>]*result="completed"' "$results" ||
    fail "$run run: a test needing neither absent did not run"
done
# Both checkers see the machine alike, the i686 one from behind the WoW64
# file system redirection and registry views.
if [[ " $runs " == *" i686 "* ]]; then
  kit_unix=$(unix_folder "$kit_folder")
  for run in i686 x86_64; do
    kwine wine "$kit_unix/$run/kit_check.exe" snapshot "$kit_folder\\state-$run.txt" </dev/null >/dev/null 2>&1 ||
      fail "the $run checker cannot record the machine's state"
  done
  grep -q 'KORU Media\\Other \[Path\] (32-bit view)=REG_SZ C:\\Elsewhere' "$kit_unix/state-x86_64.txt" ||
    fail "the checker does not record the install record's value (see $kit_unix/state-x86_64.txt)"
  diff "$kit_unix/state-i686.txt" "$kit_unix/state-x86_64.txt" ||
    fail "the i686 and x86_64 checkers record different states"
  rm -f "$kit_unix"/state-*.txt
fi
for system in "${systems[@]}"; do
  cmp -s "$placed" "$system/IR50_32.DLL" || fail "the codec file placed in $system was changed or removed"
  rm -f "$system/IR50_32.DLL"
done
for view in 32 64; do
  kwine wine reg query 'HKLM\SOFTWARE\KORU Media\Other' /v Path /reg:$view 2>/dev/null | grep -q 'C:\\Elsewhere' ||
    fail "the install record placed in registry view $view was changed or removed"
  wine_quietly kwine wine reg delete 'HKLM\SOFTWARE\KORU Media' /f /reg:$view
done
expect_clean_prefix "after the run with a codec file and a record present"

echo "windows-kit-check: 4. another program in place of the one under test"
broken_folder='C:\Broken kit (1)'
broken=$(unix_folder "$broken_folder")
cp -r "$(unix_folder "$kit_folder")" "$broken"
rm -f "$broken"/results-*.xml
cp "$broken/x86_64/recorder.exe" "$broken/x86_64/autorun.exe"
run_kit "$broken_folder" x86_64 'MainWindow.AsTheUserMeetsIt:ProgramUnderTest.*' "$work/broken.log"
[ "$status" -ne 0 ] || fail "run-tests.cmd exited with 0 although a test failed (see $work/broken.log)"
grep -q '^FAILED: ' "$work/broken.log" || fail "no FAILED summary for a failing run (see $work/broken.log)"
grep -q '<failure' "$broken/results-x86_64.xml" || fail "the failing run's results show no failure"
expect_clean_prefix "after the failing run"

echo "windows-kit-check: passed"
