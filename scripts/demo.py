#!/usr/bin/python3
"""Puts a demo disc folder together under build/demo/disc and starts the menu
from it under Wine, in the Wine session's prefix build/wine/demo:
    python3 scripts/demo.py      (make demo; needs make build-win64)
With a display the menu appears there and runs until closed; without one it
runs on a private Xvfb, a screenshot is saved to build/demo/menu.png, and the
menu is ended. AUTORUN_DEMO_SCREENSHOT=always takes the screenshot on your
display too (=never: no screenshot, wherever).

The disc carries stand-ins for what lies outside the menu (tools/demo_disc.py),
which show a message box when they are used, so that every button does
something visible. The screenshot is of the menu this run started, found
through its own process: never of another window that carries its name."""
import os
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True
ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "scripts" / "lib"), str(ROOT / "tools")]
import demo_disc  # noqa: E402
import facts  # noqa: E402
import session  # noqa: E402

BUILD = ROOT / "build" / "win64"
DEMO = ROOT / "build" / "demo"


def main():
    os.environ.setdefault("AUTORUN_USER_DISPLAY", os.environ.get("DISPLAY", ""))
    asked = os.environ.get("AUTORUN_DEMO_SCREENSHOT", "auto")
    if asked not in ("auto", "always", "never"):
        sys.exit(f"AUTORUN_DEMO_SCREENSHOT={asked}: auto, always or never")
    # The session starts each demo from a machine without the codec.
    session.run_inside(["--prefix", "demo"], [])

    try:
        disc = demo_disc.assemble(DEMO / "disc", BUILD, menu=True)
    except (demo_disc.Incomplete, facts.Unreadable) as problem:
        sys.exit(f"demo: {problem} (make build-win64)")
    # The DirectX stand-in asks for a restart, so that Install shows every step.
    environment = dict(os.environ, STANDIN_SHOW="1", STANDIN_DSETUP_RESULT="1",
                       STANDIN_LOG=r"C:\windows\temp\autorun-demo.log")

    if asked == "never" or (asked == "auto" and os.environ["AUTORUN_USER_DISPLAY"]):
        print(f"The menu is running on display {os.environ['DISPLAY']}; close it with Exit.", flush=True)
        sys.exit(subprocess.run(["wine", "autorun.exe"], cwd=disc, env=environment).returncode)

    menu = session.Program(disc / "autorun.exe", env=environment)
    try:
        window = menu.window()
        if not window:
            sys.exit("The menu showed no window; no screenshot.")
        time.sleep(1)  # the first paint
        screenshot = DEMO / "menu.png"
        screenshot.unlink(missing_ok=True)
        if not session.capture(window, screenshot):
            sys.exit(f"The menu's window could not be saved to {screenshot}.")
        print(f"Screenshot: {screenshot}")
    finally:
        menu.end()


if __name__ == "__main__":
    main()
