#!/usr/bin/python3
"""The end-to-end tests (tests/wine) once more, under Wine set up as the CI
service's hosted Windows runners are rather than as Wine comes:
  - a caption of 23 pixels (Windows 10 and 11 at 100 %), where Wine's is 19;
  - TEMP and TMP reached through an 8.3 short path, as a runner's
    C:\\Users\\RUNNER~1\\AppData\\Local\\Temp is: here the short form of
    C:\\Long Temp Folder\\Temp (C:\\LONG~IOO\\Temp under Wine);
  - a 1600x1200 screen, where the session's is 1024x768;
  - another program's window kept on top of every other over the top-left
    quarter of the screen: over part of the menu's picture and caption, not
    its buttons.
    python3 scripts/windows_like.py [CTEST OPTION...]   (make test)
Both runs, x86_64 and the shipping i686 file's where this machine can make it
(see the README), each with the window on top in its own prefix: Wine keeps
a window on top of its own prefix's windows only. The options go to ctest
(-R MainWindow, say).

It runs in Wine prefixes of its own, build/wine/windows-like (and
windows-like-i686), so that its settings never reach the default run's
prefixes, nor anyone's own. Before any test starts, a Windows program in each
prefix reports what it sees of the settings; where one has not taken, the run
says which and refuses (exit 2). Exits with 0 when both runs pass, otherwise
with a failing ctest's exit code."""
import os
import subprocess
import sys
from pathlib import Path

sys.dont_write_bytecode = True
ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "scripts" / "lib")]
import session  # noqa: E402

BUILD = ROOT / "build" / "win64"
PREFIX = "windows-like"
SCREEN = "1600x1200"
# Twips, negative: 22 pixels, and Windows adds one.
CAPTION_HEIGHT = "-330"
CAPTION_PIXELS = 23
TEMP_FOLDER = "C:\\Long Temp Folder\\Temp"

def parse_settings(text):
    """machine_settings.exe's report as {name: value}."""
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def settings_problems(seen, temp):
    """What of the Windows-like settings a program does not see, given its
    report and the short form of the temporary folder; [] when it sees all."""
    wanted = {"temp": temp.rstrip("\\") + "\\", "caption": str(CAPTION_PIXELS), "screen": SCREEN}
    problems = [f"{name} is {seen.get(name, '(not reported)')!r}, not {value!r}"
                for name, value in wanted.items() if seen.get(name, "").lower() != value.lower()]
    if "~" not in temp:
        problems.append(f"the temporary folder {temp!r} is not an 8.3 short path")
    return problems


def refuse(message):
    print(f"windows-like: {message}", file=sys.stderr)
    sys.exit(2)


def wine(prefix, *command):
    """A Windows program in `prefix` under the 64-bit loader; its output."""
    answer = subprocess.run([sys.executable, "-B", str(session.SESSION), "--exec", "x86_64", "--", *command],
                            env=dict(os.environ, WINEPREFIX=prefix), capture_output=True, text=True)
    if answer.returncode:
        refuse(f"{' '.join(command)} failed in {prefix}: {answer.stderr.strip()}")
    return answer.stdout.strip()


def set_up(prefix):
    """Sets the prefix up as a hosted runner is, and checks that a program
    started there sees it so."""
    def registry(key, name, value):
        wine(prefix, "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")

    registry(r"HKCU\Control Panel\Desktop\WindowMetrics", "CaptionHeight", CAPTION_HEIGHT)
    long_folder = Path(prefix, "drive_c", *TEMP_FOLDER[3:].split("\\"))
    long_folder.mkdir(parents=True, exist_ok=True)
    temp = wine(prefix, "winepath", "-s", TEMP_FOLDER)
    # A program started from Linux takes its environment from here; Wine
    # leaves the Linux TEMP and TMP out of it.
    for name in ("TEMP", "TMP"):
        registry(r"HKCU\Environment", name, temp)
    problems = settings_problems(parse_settings(wine(prefix, str(BUILD / "machine_settings.exe"))), temp)
    if problems:
        refuse(f"in {prefix}, " + "; ".join(problems))
    print(f"windows-like: {prefix}: TEMP {temp}, caption {CAPTION_PIXELS}, screen {SCREEN}", flush=True)


def run(prefix, label, ctest_options):
    """The run's tests in `prefix`, under the window on top; ctest's exit code."""
    cover = session.Program(BUILD / "cover_window.exe", env=dict(os.environ, WINEPREFIX=prefix))
    try:
        if not cover.window():
            refuse(f"the window on top did not show in {prefix}")
        command = ["ctest", "--test-dir", str(BUILD), "--output-on-failure", "-L", f"^{label}$", *ctest_options]
        return subprocess.run(command).returncode
    finally:
        cover.end()


def main():
    arguments = sys.argv[1:]
    if arguments[:1] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    for name in ("machine_settings.exe", "cover_window.exe", "wine_tests.exe"):
        if not (BUILD / name).is_file():
            refuse(f"no {BUILD / name}; build the win64 preset first (make build-win64)")
    # CTest lists the i686 run's tests whenever it starts, so that run's
    # prefix is needed wherever the machine can make it.
    session.run_inside(["--prefix", PREFIX, "--i686", "--private-display", "--screen", SCREEN], arguments)

    runs = [(os.environ["WINEPREFIX"], "x86_64")]
    if os.environ.get("AUTORUN_WINEPREFIX_I686"):
        runs.append((os.environ["AUTORUN_WINEPREFIX_I686"], "i686"))
    for prefix, _ in runs:
        set_up(prefix)
    status = 0
    for prefix, label in runs:
        status = run(prefix, label, arguments) or status
    return status


if __name__ == "__main__":
    sys.exit(main())
