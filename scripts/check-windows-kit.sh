#!/usr/bin/env bash
# Checks the Windows test kit as a tester would run it: build/windows-kit.zip
# unpacked into a fresh Wine prefix of its own, with no drive but C: and an
# empty home folder (nothing else of the repository reachable), and
# `wine cmd /c run-tests.cmd` run there with no variable of ours set.
#   scripts/check-windows-kit.sh           the full check:
#     1. both runs pass, and afterwards the prefix holds no install record,
#        no codec file and no test folder;
#     2. a second run in the same prefix passes too;
#     3. with a codec file and an install record already there, the tests
#        needing them absent are skipped with the reason, and both stay
#        exactly as they were;
#     4. with another program in place of the one under test, the runner
#        fails (exit code not 0, summary FAILED).
#   scripts/check-windows-kit.sh --short   step 1 only, one run, a few tests
#                                          from each test file (for make test)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-full}
zip=$root/build/windows-kit.zip
work=$root/build/windows-kit-check
[ -f "$zip" ] || { echo "no $zip: run make windows-kit first" >&2; exit 1; }

if [ -z "${AUTORUN_KIT_DISPLAY:-}" ]; then
  # A private display, whatever DISPLAY says: the tests click windows.
  export AUTORUN_KIT_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi

quietly() { "$@" </dev/null >/dev/null 2>&1; }
fail() { echo "windows-kit-check: FAILED: $*" >&2; exit 1; }

prefix=$work/prefix
home=$work/home
rm -rf "$work"
mkdir -p "$prefix" "$home"

# The only environment the kit's run sees.
kit_env=(env -i PATH=/usr/bin:/bin HOME="$home" USER="${USER:-tester}" DISPLAY="$DISPLAY"
         XAUTHORITY="${XAUTHORITY:-}" WINEPREFIX="$prefix" WINEDEBUG=-all
         WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=en_US.UTF-8 LANG=en_US.UTF-8 AUTORUN_KIT_NO_PAUSE=1)
kwine() { "${kit_env[@]}" "$@"; }

runs="i686 x86_64"
if ! bash "$root/scripts/can-run-32bit.sh" >/dev/null ||
   ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  echo "windows-kit-check: this machine cannot run 32-bit code; the i686 run is left out"
  runs="x86_64"
fi

stop_server() { kwine wineserver -k </dev/null >/dev/null 2>&1 || true; kwine wineserver -w >/dev/null 2>&1 || true; }
trap stop_server EXIT

echo "windows-kit-check: a fresh Wine prefix in $prefix"
quietly kwine wine wineboot -i || true
# What makes Wine a Windows machine without the codec, as the project's own
# prefixes are made (see wine-session.sh), and quick to close dialogs.
quietly kwine wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
quietly kwine wine reg add 'HKCU\Software\Wine\DllOverrides' /v ir50_32 /t REG_SZ /d native /f
quietly kwine wineserver -w
find "$prefix/drive_c/windows" -maxdepth 2 -iname ir50_32.dll -delete
# No drive but C:, so that nothing outside the prefix is reachable.
find "$prefix/dosdevices" -mindepth 1 -maxdepth 1 ! -name 'c:' -exec rm -f {} +
outside=$(find "$prefix/drive_c" -type l -lname '/*' ! -lname "$prefix/*" ! -lname "$home*" -print)
[ -z "$outside" ] || fail "links out of the prefix: $outside"

# A space and parentheses in the path, as in a copy Windows names "(1)".
kit_folder='C:\Test kit (1)\windows-kit'
mkdir -p "$prefix/drive_c/Test kit (1)"
unzip -q "$zip" -d "$prefix/drive_c/Test kit (1)"
quietly kwine wineserver -p
quietly kwine wine wineboot -u || true

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
    if quietly kwine wine reg query 'HKLM\SOFTWARE\KORU Media' /reg:$view; then
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
    python3 - "$what, $run run" "$(unix_folder "$folder")/results-$run.xml" "$allowed_skips" <<'PY' || exit 1
import re, sys, xml.etree.ElementTree as tree
what, path, allowed = sys.argv[1:]
try:
    cases = tree.parse(path).getroot().iter("testcase")
except Exception as error:
    sys.exit(f"windows-kit-check: FAILED: {what}: no results ({error})")
count = 0
for case in cases:
    count += 1
    name = f"{case.get('classname')}.{case.get('name')}"
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
  filter='ProgramUnderTest.*:MainWindow.ClassStyleAndGeometry:Splash.PictureFillsTheClientAreaUnderTheButtons'
  filter+=':StartupGuards.SecondMenuEndsAndLeavesTheFirstAlone:InstallRecord.EachKeyAloneIsFound'
  filter+=':Play.StartsTheGameInItsFolderAndEndsTheMenu:InstallFlow.AnswersToTheDirectXQuestion'
  filter+=':CodecFlow.AnsweredNoChangesNothing:Localised/*:LocalisedRestartNotice.*:Resources.VersionBlock'
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
  quietly kwine wine reg add 'HKLM\SOFTWARE\KORU Media\Other' /v Path /t REG_SZ /d 'C:\Elsewhere' /f /reg:$view
done
filter='CodecFlow.*:InstallRecord.*:Localised/*:Splash.PictureFillsTheClientAreaUnderTheButtons'
run_kit "$kit_folder" "$runs" "$filter" "$work/present.log"
expect_passed "run with a codec file and a record present" "$work/present.log"
expect_results "run with a codec file and a record present" "$kit_folder" "$runs" \
  "$other_languages|^CodecFlow\\.|^InstallRecord\\.|/en_US\$"
for run in $runs; do
  results=$(unix_folder "$kit_folder")/results-$run.xml
  for name in CodecFlow.AnsweredNoChangesNothing InstallRecord.EachKeyAloneIsFound \
              Localised/Menu.TitleButtonsAndCodecQuestion/en_US; do
    python3 - "$results" "$name" <<'PY' || fail "$run run: $name was not skipped for the codec file or the record"
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
  grep -q 'name="PictureFillsTheClientAreaUnderTheButtons"[^>]*result="completed"' "$results" ||
    fail "$run run: a test needing neither absent did not run"
done
for system in "${systems[@]}"; do
  cmp -s "$placed" "$system/IR50_32.DLL" || fail "the codec file placed in $system was changed or removed"
  rm -f "$system/IR50_32.DLL"
done
for view in 32 64; do
  kwine wine reg query 'HKLM\SOFTWARE\KORU Media\Other' /v Path /reg:$view 2>/dev/null | grep -q 'C:\\Elsewhere' ||
    fail "the install record placed in registry view $view was changed or removed"
  quietly kwine wine reg delete 'HKLM\SOFTWARE\KORU Media' /f /reg:$view
done
expect_clean_prefix "after the run with a codec file and a record present"

echo "windows-kit-check: 4. another program in place of the one under test"
broken_folder='C:\Broken kit (1)'
broken=$(unix_folder "$broken_folder")
cp -r "$(unix_folder "$kit_folder")" "$broken"
rm -f "$broken"/results-*.xml
cp "$broken/x86_64/recorder.exe" "$broken/x86_64/autorun.exe"
run_kit "$broken_folder" x86_64 'MainWindow.ClassStyleAndGeometry:ProgramUnderTest.*' "$work/broken.log"
[ "$status" -ne 0 ] || fail "run-tests.cmd exited with 0 although a test failed (see $work/broken.log)"
grep -q '^FAILED: ' "$work/broken.log" || fail "no FAILED summary for a failing run (see $work/broken.log)"
grep -q '<failure' "$broken/results-x86_64.xml" || fail "the failing run's results show no failure"
expect_clean_prefix "after the failing run"

echo "windows-kit-check: passed"
