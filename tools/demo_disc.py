"""The demo disc's folder, put together here for everyone who needs one: the
disc tool's --demo, `make demo`, `make screenshots` and the disc tool's tests.
It holds the demo splash picture (scripts/make_splash.py), the stand-ins of a
build under the names the menu opens (facts/standins.txt), a README.TXT
saying so and, when asked, the build's autorun.exe.

    python3 tools/demo_disc.py FOLDER BUILD [--menu]"""
import argparse
import shutil
import subprocess
import sys
from pathlib import Path

import facts

ROOT = Path(__file__).resolve().parents[1]

README = """Demo disc

This is a demo disc of the start-up menu. Its setup program (setup.exe),
DirectX setup library (DSETUP.dll), video codec (MYIR50_32.dll) and
registration program (RegSvr32.exe) are stand-ins: they install nothing
and start no game.

One file does reach the machine: on a machine without the video codec,
Install codec copies the codec stand-in into the Windows system folder
as IR50_32.DLL, as it would copy the real codec. Delete that file
afterwards, or the menu will take the stand-in for an installed codec.
"""


class Incomplete(Exception):
    """The build lacks a file the disc needs, or the picture was not drawn."""


def splash(path):
    """The demo splash picture, drawn into `path`."""
    drawn = subprocess.run([sys.executable, str(ROOT / "scripts" / "make_splash.py"), str(path)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if drawn.returncode != 0:
        raise Incomplete("scripts/make_splash.py could not draw the demo picture: "
                         + drawn.stderr.decode(errors="replace").strip())


def assemble(folder, build, menu=False):
    """Fills `folder` (made when missing) from the build folder `build`."""
    folder, build = Path(folder), Path(build)
    wanted = [(built, name) for built, name in facts.standins()] + ([("autorun.exe", "autorun.exe")] if menu else [])
    for built, _ in wanted:
        if not (build / built).is_file():
            raise Incomplete(f"no {build / built}: the build did not make it")
    folder.mkdir(parents=True, exist_ok=True)
    splash(folder / "autorun.bmp")
    for built, name in wanted:
        shutil.copyfile(build / built, folder / name)
    (folder / "README.TXT").write_bytes(README.replace("\n", "\r\n").encode("ascii"))
    return folder


def main():
    parser = argparse.ArgumentParser(description="Puts the demo disc's folder together from a build.")
    parser.add_argument("folder", type=Path)
    parser.add_argument("build", type=Path, help="the build folder holding the stand-ins (and autorun.exe)")
    parser.add_argument("--menu", action="store_true", help="also the build's autorun.exe")
    options = parser.parse_args()
    try:
        assemble(options.folder, options.build, options.menu)
    except (Incomplete, facts.Unreadable) as problem:
        sys.exit(f"demo_disc: {problem}")


if __name__ == "__main__":
    main()
