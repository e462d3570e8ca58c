#!/usr/bin/python3
"""The menu's start-up against the blank-window yardstick, under the project's
Wine session, for each build this machine can run: the x86_64 build always,
the shipping i686 build where 32-bit code runs. Also prints the size of the
shipping program file.
    python3 scripts/bench_startup.py [RUNS]   (make bench; default 20 runs of each program)"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

sys.dont_write_bytecode = True
ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "scripts" / "lib"), str(ROOT / "tools")]
import demo_disc  # noqa: E402
import session  # noqa: E402

WORK = ROOT / "build" / "bench-startup"
PROGRAMS = ("autorun.exe", "blank_window.exe", "blank_window_drawdib.exe")


def measure(runs, build, name, prefix):
    # The disc as a player's machine sees it first: the splash picture, no
    # codec, no installed game.
    disc = WORK / f"disc-{name}"
    disc.mkdir(parents=True)
    shutil.copyfile(WORK / "autorun.bmp", disc / "autorun.bmp")
    for program in PROGRAMS:
        shutil.copyfile(ROOT / "build" / build / program, disc / program)
    print(f"== start-up, {name} build ({build}/autorun.exe) ==", flush=True)
    bench = subprocess.run(["wine", str(ROOT / "build" / "win64" / "startup_bench.exe"), str(runs),
                            session.windows_path(disc), *(session.windows_path(disc / program) for program in PROGRAMS)],
                           env=dict(os.environ, WINEPREFIX=prefix))
    if bench.returncode != 0:
        sys.exit(f"the start-up benchmark of the {name} build failed (exit code {bench.returncode})")


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    session.run_inside(["--i686", "--private-display"], sys.argv[1:])
    shutil.rmtree(WORK, ignore_errors=True)
    WORK.mkdir(parents=True)
    demo_disc.splash(WORK / "autorun.bmp")
    measure(runs, "win64", "x86_64", os.environ["WINEPREFIX"])
    if os.environ.get("AUTORUN_WINEPREFIX_I686"):
        measure(runs, "win32", "i686", os.environ["AUTORUN_WINEPREFIX_I686"])
    else:
        print(f"== start-up, i686 build: not measured ({session.can_run('i686') or 'no i686 prefix'}) ==")
    shipping = ROOT / "build" / "win32" / "autorun.exe"
    print(f"shipping program file: {shipping.stat().st_size} bytes (build/win32/autorun.exe)")


if __name__ == "__main__":
    main()
