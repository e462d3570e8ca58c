#!/usr/bin/python3
"""Checks the Windows test kit as a tester or a job would run it:
build/windows-kit.zip unpacked into a fresh Wine prefix of the Wine session's
own (build/wine/kit-check), with no drive but C: and an empty home folder
(nothing else of the repository reachable), and
`wine cmd /c run-tests.cmd /unattended` run there with no variable of ours set
and its input held open, so that a prompt would wait for good.
    python3 scripts/check_windows_kit.py           the full check:
      0. unattended, an incomplete kit ends at once, NOT RUN, exit code 2;
         without the switch it waits for a key;
      1. both runs pass (exit code 0, PASSED), and afterwards the prefix holds
         no install record, no codec file and no test folder;
      2. a second run in the same prefix passes too;
      3. with a codec file and an install record already there, the tests
         needing them absent are skipped with the reason, and both stay
         exactly as they were; the kit's two checkers record the same state;
      4. with another program in place of the one under test, the runner
         fails (exit code 1, summary FAILED).
    python3 scripts/check_windows_kit.py --short   steps 0 and 1, one run, a
                                                   few tests from each test
                                                   file (for make test)
    python3 scripts/check_windows_kit.py --names PROGRAM...
      every name and pattern in this check's filters and lists, and in the
      kit's i686-exclusions.txt, names a test that the test program (started
      by PROGRAM..., with --gtest_list_tests added) has; a stale one fails
Where this machine cannot run 32-bit code (AUTORUN_ASSUME_NO_32BIT=1 makes
the kit's i686 programs ones that do not start, as there), the kit must
report its i686 run as not run, with the reason, and still pass."""
import argparse
import fnmatch
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree
from pathlib import Path

sys.dont_write_bytecode = True
ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "scripts" / "lib"), str(ROOT / "tools")]
import facts  # noqa: E402
import session  # noqa: E402

ZIP = ROOT / "build" / "windows-kit.zip"
WORK = ROOT / "build" / "windows-kit-check"
# A space and parentheses in the path, as in a copy Windows names "(1)".
KIT_FOLDER = r"C:\Test kit (1)\windows-kit"
CHANGES = facts.machine_changes()
INSTALL_KEY = "HKLM\\" + CHANGES.install_root
CODEC = CHANGES.codec_file
# The checker names a key from its last part down.
INSTALL_KEY_NAME = CHANGES.install_root.rsplit("\\", 1)[-1]
# Localised tests of other languages than this run's are the only expected
# skips on a clean machine.
OTHER_LANGUAGES = r"^Localised/Menu\.TitleButtonsAndCodecQuestion/[a-z]{2}_[A-Z]{2}$"
# The reason the i686 run, on the shipping file, skips the tests that need the
# test build's seams (tests/wine/harness/program_under_test.cpp).
NO_SEAM = "(the shipping file carries none)"
SHORT_FILTER = ":".join([
    "ProgramUnderTest.*", "MainWindow.AsTheUserMeetsIt", "Splash.WhatTheMenuDraws",
    "StartupGuards.SecondMenuEndsAndLeavesTheFirstAlone", "InstallRecord.DecidesWhatTheMenuOffers",
    "InstallFlow.AnswersToTheDirectXQuestion", "CodecFlow.AnswersAndOutcomes", "Localised/*",
    "LocalisedRestartNotice.*", "Resources.EachVariantAsWindowsTakesIt", "LaunchAndWait.ReturnsTheExitCode",
    "PinnedFiles.CodecJobUsesOnlyThePinnedFiles"])
# Step 3: the tests that need neither a codec file nor an install record
# absent, and those that must be skipped for them.
PRESENT_FILTER = "CodecFlow.*:InstallRecord.*:Localised/*:Splash.WhatTheMenuDraws"
PRESENT_SKIPPED = ("CodecFlow.AnswersAndOutcomes", "InstallRecord.DecidesWhatTheMenuOffers",
                   "Localised/Menu.TitleButtonsAndCodecQuestion/en_US")
# Step 4: tests that fail when another program stands in for the menu.
BROKEN_FILTER = "MainWindow.AsTheUserMeetsIt:ProgramUnderTest.*"
NOT_RUN_I686 = "i686 run not run: 32-bit x86 programs do not start here"
SUMMARY = re.compile(r"^(PASSED|FAILED|NOT RUN): .*$", re.MULTILINE)
# How long run-tests.cmd may take to end once it has printed its summary.
AFTER_SUMMARY = 15


class Failed(Exception):
    pass


class Kit:
    """The kit unpacked in the session's fresh prefix, and how it is run."""

    def __init__(self):
        self.prefix = Path(os.environ["WINEPREFIX"])
        # The home folder the session made the prefix with: empty.
        home = ROOT / "build" / "wine" / "home"
        # The only environment the kit's runs see.
        self.env = {"PATH": "/usr/bin:/bin", "HOME": str(home), "USER": os.environ.get("USER", "tester"),
                    "DISPLAY": os.environ["DISPLAY"], "XAUTHORITY": os.environ.get("XAUTHORITY", ""),
                    "WINEPREFIX": str(self.prefix), "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
                    "LC_ALL": "en_US.UTF-8", "LANG": "en_US.UTF-8"}
        # No drive but C:, so that nothing outside the prefix is reachable.
        for drive in (self.prefix / "dosdevices").iterdir():
            if drive.name != "c:":
                drive.unlink()
        outside = [str(link) for link in (self.prefix / "drive_c").rglob("*") if link.is_symlink()
                   and os.readlink(link).startswith("/") and not os.readlink(link).startswith((str(self.prefix),
                                                                                              str(home)))]
        if outside:
            raise Failed(f"links out of the prefix: {' '.join(outside)}")

    def unix(self, folder):
        return self.prefix / "drive_c" / folder[3:].replace("\\", "/")

    def wine(self, *arguments):
        return session.quietly("wine", *arguments, env=self.env)

    def run(self, folder, runs, pattern, log, unattended=True, wait=None):
        """run-tests.cmd started from its own folder, as a double click
        starts it, with its input open and never written. Returns its exit
        code and output; with `wait`, only whether it was still running
        after that many seconds (it is then ended)."""
        environment = dict(self.env, AUTORUN_KIT_RUNS=runs, AUTORUN_KIT_FILTER=pattern)
        with open(log, "w+b") as output:
            cmd = subprocess.Popen(["wine", "cmd", "/c", "run-tests.cmd", *(["/unattended"] if unattended else [])],
                                   cwd=self.unix(folder), env=environment, stdin=subprocess.PIPE, stdout=output,
                                   stderr=subprocess.STDOUT)
            summary_seen = None
            deadline = time.monotonic() + (wait or 3600)
            while cmd.poll() is None and time.monotonic() < deadline:
                time.sleep(0.5)
                if summary_seen is None and SUMMARY.search(Path(log).read_bytes().decode(errors="replace")):
                    summary_seen = time.monotonic()
                if summary_seen and time.monotonic() - summary_seen > AFTER_SUMMARY:
                    break
            still_running = cmd.poll() is None
            if still_running:
                cmd.kill()
                session.end_processes(session.prefix_processes(str(self.prefix), r"C:\windows\system32\cmd.exe"))
            cmd.stdin.close()
            cmd.wait()
        text = Path(log).read_bytes().decode(errors="replace").replace("\r", "")
        if wait:
            return still_running
        if still_running:
            raise Failed(f"run-tests.cmd /unattended was still running {AFTER_SUMMARY} s after its summary, or "
                         f"after an hour: waiting for a key? (see {log})")
        for line in text.splitlines():
            if SUMMARY.match(line) or re.match(r"^\[  FAILED  \] .*\(", line):
                print(f"  {line}")
        return cmd.returncode, text

    def expect_clean(self, what):
        """The prefix holds no install record, no codec file, no test folder."""
        for view in ("32", "64"):
            if self.wine("reg", "query", INSTALL_KEY, f"/reg:{view}") == 0:
                raise Failed(f"{what}: an install record is left (registry view {view})")
        codec = [str(path) for path in (self.prefix / "drive_c" / "windows").glob("*/*")
                 if path.name.lower() == CODEC.lower()]
        if codec:
            raise Failed(f"{what}: a codec file is left: {' '.join(codec)}")
        folders = [str(path) for path in (self.prefix / "drive_c").rglob("autorun-test-*")]
        if folders:
            raise Failed(f"{what}: test folders are left: {' '.join(folders)}")


def cases(path):
    """{GoogleTest name: testcase element} of a JUnit file."""
    return {f"{case.get('classname')}.{case.get('name')}": case
            for case in ElementTree.parse(path).getroot().iter("testcase")}


def skip_message(case):
    skipped = case.find("skipped")
    return None if skipped is None else (skipped.get("message") or "") + (skipped.text or "")


def expect_results(what, folder, runs, allowed_skips):
    """Every run made has results; each skipped test says why, only the
    tests matching `allowed_skips` are skipped (and in the i686 run those
    needing the seam the shipping file lacks), and the i686 run left out
    what i686-exclusions.txt names."""
    left_out = facts.i686_exclusions(folder / "i686-exclusions.txt")
    for run in runs:
        try:
            found = cases(folder / f"results-{run}.xml")
        except (OSError, ElementTree.ParseError) as error:
            raise Failed(f"{what}, {run} run: no results ({error})") from None
        if not found:
            raise Failed(f"{what}, {run} run: no tests ran")
        for name, case in found.items():
            if run == "i686" and any(fnmatch.fnmatchcase(name, pattern) for pattern in left_out):
                raise Failed(f"{what}, {run} run: {name} ran, although i686-exclusions.txt leaves it out")
            message = skip_message(case)
            if message is None:
                continue
            if not message.strip():
                raise Failed(f"{what}, {run} run: {name} skipped without a reason")
            if not re.search(allowed_skips, name) and not (run == "i686" and NO_SEAM in message):
                raise Failed(f"{what}, {run} run: {name} skipped: {message}")


def expect_passed(what, result, log, no_i686):
    status, text = result
    if status != 0:
        raise Failed(f"{what}: run-tests.cmd exited with {status} (see {log})")
    if not re.search(r"^PASSED: .*nothing left behind", text, re.MULTILINE):
        raise Failed(f"{what}: no PASSED summary (see {log})")
    if no_i686 and NOT_RUN_I686 not in text:
        raise Failed(f"{what}: the summary does not say that the i686 run was not run, and why (see {log})")


def prompts(kit, folder):
    """Step 0: the unattended switch ends at once with the verdict where a
    tester would be asked for a key; without it the kit waits."""
    incomplete = "C:\\Incomplete kit"
    kit.unix(incomplete).mkdir()
    shutil.copyfile(kit.unix(folder) / "run-tests.cmd", kit.unix(incomplete) / "run-tests.cmd")
    status, text = kit.run(incomplete, "i686 x86_64", "*", WORK / "incomplete.log")
    if status != 2 or "NOT RUN: the kit is incomplete" not in text:
        raise Failed(f"an incomplete kit: exit code {status} and no NOT RUN summary (see {WORK / 'incomplete.log'})")
    if not kit.run(incomplete, "i686 x86_64", "*", WORK / "waits.log", unattended=False, wait=5):
        raise Failed(f"without /unattended run-tests.cmd did not wait for a key (see {WORK / 'waits.log'})")
    shutil.rmtree(kit.unix(incomplete))


def present(kit, runs, no_i686):
    """Step 3: a codec file and an install record already there."""
    placed = WORK / "placed-codec"
    placed.write_bytes(b"Not the codec: a file the tests must leave alone.\r\n")
    systems = [path for path in (kit.prefix / "drive_c/windows/system32", kit.prefix / "drive_c/windows/syswow64")
               if path.is_dir()]
    for system in systems:
        shutil.copyfile(placed, system / CODEC)
    for view in ("32", "64"):
        kit.wine("reg", "add", INSTALL_KEY + r"\Other", "/v", "Path", "/t", "REG_SZ", "/d", r"C:\Elsewhere", "/f",
                 f"/reg:{view}")
    what = "run with a codec file and a record present"
    result = kit.run(KIT_FOLDER, " ".join(runs), PRESENT_FILTER, WORK / "present.log")
    expect_passed(what, result, WORK / "present.log", no_i686)
    made = [run for run in runs if not (no_i686 and run == "i686")]
    expect_results(what, kit.unix(KIT_FOLDER), made, OTHER_LANGUAGES + r"|^CodecFlow\.|^InstallRecord\.|/en_US$")
    for run in made:
        found = cases(kit.unix(KIT_FOLDER) / f"results-{run}.xml")
        for name in PRESENT_SKIPPED:
            if name not in found or "already on this machine" not in (skip_message(found[name]) or ""):
                raise Failed(f"{run} run: {name} was not skipped for the codec file or the record")
        picture = found.get("Splash.WhatTheMenuDraws")
        if picture is None or picture.get("result") != "completed":
            raise Failed(f"{run} run: a test needing neither absent did not run")

    # Both checkers see the machine alike, the i686 one from behind the WoW64
    # file system redirection and registry views.
    if not no_i686:
        states = {}
        for run in ("i686", "x86_64"):
            state = kit.unix(KIT_FOLDER) / f"state-{run}.txt"
            if kit.wine(str(kit.unix(KIT_FOLDER) / run / "kit_check.exe"), "snapshot",
                        f"{KIT_FOLDER}\\state-{run}.txt") != 0:
                raise Failed(f"the {run} checker cannot record the machine's state")
            states[run] = state.read_text(errors="replace")
            state.unlink()
        if f"{INSTALL_KEY_NAME}\\Other [Path] (32-bit view)=REG_SZ C:\\Elsewhere" not in states["x86_64"]:
            raise Failed("the checker does not record the install record's value")
        if states["i686"] != states["x86_64"]:
            raise Failed("the i686 and x86_64 checkers record different states")

    for system in systems:
        if (system / CODEC).read_bytes() != placed.read_bytes():
            raise Failed(f"the codec file placed in {system} was changed or removed")
        (system / CODEC).unlink()
    for view in ("32", "64"):
        query = subprocess.run(["wine", "reg", "query", INSTALL_KEY + r"\Other", "/v", "Path", f"/reg:{view}"],
                               env=kit.env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if "C:\\Elsewhere" not in query.stdout:
            raise Failed(f"the install record placed in registry view {view} was changed or removed")
        kit.wine("reg", "delete", INSTALL_KEY, "/f", f"/reg:{view}")
    kit.expect_clean(f"after the {what}")


def broken(kit):
    """Step 4: another program in place of the one under test."""
    folder = "C:\\Broken kit (1)"
    copy = kit.unix(folder)
    shutil.copytree(kit.unix(KIT_FOLDER), copy)
    for results in copy.glob("results-*.xml"):
        results.unlink()
    shutil.copyfile(copy / "x86_64" / "recorder.exe", copy / "x86_64" / "autorun.exe")
    log = WORK / "broken.log"
    status, text = kit.run(folder, "x86_64", BROKEN_FILTER, log)
    if status != 1:
        raise Failed(f"run-tests.cmd exited with {status}, not 1, although a test failed (see {log})")
    if not re.search(r"^FAILED: ", text, re.MULTILINE):
        raise Failed(f"no FAILED summary for a failing run (see {log})")
    if "<failure" not in (copy / "results-x86_64.xml").read_text(errors="replace"):
        raise Failed("the failing run's results show no failure")
    page = (copy / "summary.md").read_text(errors="replace") if (copy / "summary.md").is_file() else ""
    if "FAILED" not in page or "Failed in the x86_64 run:\n- `" not in page:
        raise Failed("the summary page does not name the failed tests")
    kit.expect_clean("after the failing run")


def check(short):
    no_i686 = session.can_run("i686")
    runs = ["i686", "x86_64"]
    kit = Kit()
    print(f"windows-kit-check: a fresh Wine prefix in {kit.prefix}")
    subprocess.run(["unzip", "-q", str(ZIP), "-d", str(kit.unix("C:\\Test kit (1)"))], check=True)
    if no_i686:
        print(f"windows-kit-check: {no_i686}: the kit must report its i686 run as not run")
        if os.environ.get("AUTORUN_ASSUME_NO_32BIT") == "1":
            # What such a machine's Wine does with every i686 program.
            for program in (kit.unix(KIT_FOLDER) / "i686").glob("*.exe"):
                program.write_bytes(b"Not a program this machine can start.\r\n")

    print("windows-kit-check: 0. unattended, no prompt; the exit code follows the verdict")
    prompts(kit, KIT_FOLDER)

    if short:
        made = ["x86_64"] if no_i686 else ["i686"]
        asked = runs if no_i686 else made
        log = WORK / "short.log"
        expect_passed(f"short {made[0]} run", kit.run(KIT_FOLDER, " ".join(asked), SHORT_FILTER, log), log, no_i686)
        expect_results("short run", kit.unix(KIT_FOLDER), made, OTHER_LANGUAGES)
        own = cases(kit.unix(KIT_FOLDER) / f"results-{made[0]}.xml").get(
            "Localised/Menu.TitleButtonsAndCodecQuestion/en_US")
        if own is None or own.get("result") != "completed":
            raise Failed("short run: the localised test in the run's own language is missing")
        kit.expect_clean("short run")
        print(f"windows-kit-check: the kit's short {made[0]} run passed under Wine and left nothing behind")
        return

    made = [run for run in runs if not (no_i686 and run == "i686")]
    for step, what in (("1.", "first run"), ("2.", "second run")):
        print(f"windows-kit-check: {step} the kit's runs ({' '.join(runs)}){' once more' if step == '2.' else ''}")
        log = WORK / f"{what.split()[0]}.log"
        expect_passed(what, kit.run(KIT_FOLDER, " ".join(runs), "*", log), log, no_i686)
        expect_results(what, kit.unix(KIT_FOLDER), made, OTHER_LANGUAGES)
        kit.expect_clean(what)
    print("windows-kit-check: 3. a codec file and an install record already on the machine")
    present(kit, runs, no_i686)
    print("windows-kit-check: 4. another program in place of the one under test")
    broken(kit)
    print("windows-kit-check: passed")


def listed_tests(program):
    """The full names --gtest_list_tests gives: "Suite." lines, each followed
    by its indented test names (a comment after "#" is the parameter)."""
    listing = subprocess.run([*program, "--gtest_list_tests"], stdin=subprocess.DEVNULL, capture_output=True,
                             text=True, errors="replace")
    if listing.returncode != 0:
        raise Failed(f"{' '.join(program)} --gtest_list_tests exited with {listing.returncode}: {listing.stderr}")
    names, suite = [], ""
    for line in listing.stdout.splitlines():
        entry = line.split("#")[0].rstrip()
        if entry and not entry[0].isspace():
            suite = entry.strip()
        elif entry:
            names.append(suite + entry.strip())
    if not names:
        raise Failed(f"{' '.join(program)} listed no tests")
    return names


def stale_names(names, exclusions):
    """Each filter entry, list entry and pattern of the kit that matches none
    of `names`."""
    patterns = [*SHORT_FILTER.split(":"), *PRESENT_FILTER.split(":"), *PRESENT_SKIPPED,
                *BROKEN_FILTER.split(":"), *exclusions]
    stale = [pattern for pattern in patterns if not any(fnmatch.fnmatchcase(name, pattern) for name in names)]
    stale += [regex for regex in (OTHER_LANGUAGES,) if not any(re.search(regex, name) for name in names)]
    return list(dict.fromkeys(stale))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0], epilog=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--short", action="store_true", help="steps 0 and 1, one run, a few tests")
    parser.add_argument("--names", metavar="PROGRAM", help="check the kit's test names against PROGRAM... "
                        "--gtest_list_tests (everything after it is the command)")
    # PROGRAM... may hold options of its own, "--" among them: taken as it is.
    if sys.argv[1:2] == ["--names"]:
        try:
            stale = stale_names(listed_tests(sys.argv[2:]), facts.i686_exclusions())
        except Failed as failure:
            sys.exit(f"windows-kit-check: FAILED: {failure}")
        if stale:
            sys.exit("windows-kit-check: FAILED: these names in the kit's filters and lists name no test: "
                     + ", ".join(stale))
        print("windows-kit-check: every name in the kit's filters and lists names a test")
        return
    options = parser.parse_args()
    if not ZIP.is_file():
        sys.exit(f"no {ZIP}: run make windows-kit first")
    if os.environ.get(session.INSIDE) != Path(sys.argv[0]).name:
        shutil.rmtree(WORK, ignore_errors=True)
        WORK.mkdir(parents=True)
    # A fresh prefix of the Wine session's own, on a private display whatever
    # DISPLAY says: the tests click windows.
    session.run_inside(["--prefix", "kit-check", "--fresh", "--private-display"], sys.argv[1:])
    try:
        check(options.short)
    except Failed as failure:
        sys.exit(f"windows-kit-check: FAILED: {failure}")


if __name__ == "__main__":
    main()
