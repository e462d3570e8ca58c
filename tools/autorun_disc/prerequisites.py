"""What making a disc needs on this machine, and nothing more: the MinGW
compiler for the menu, cmake and a native compiler for the content check,
xorriso, osslsigncode and three Python packages. `./autorun-disc setup`
installs what is missing with apt-get (Debian's packages); every other
command names what is missing and stops.

The tool's builds are its own: the menu and the demo's stand-ins in
build/disc-win32 (CMake preset disc-win32, the shipping build's settings),
the content check in build/disc-tools (preset disc-tools, a plain optimised
build without sanitizers). Only the targets a disc needs are built."""
import importlib.util
import os
import shutil
import subprocess
from pathlib import Path

import facts

from .errors import CannotRun

ROOT = Path(__file__).resolve().parents[2]
MENU_BUILD = ROOT / "build" / "disc-win32"
TOOLS_BUILD = ROOT / "build" / "disc-tools"
CHECKER = TOOLS_BUILD / "tools" / "check_disc_content"

# A command on PATH, or a Python module, and the Debian package that brings it
# (facts/debian-packages.txt).
PACKAGES = facts.debian_packages()
BUILD_COMMANDS = {package.gives: package.name for package in PACKAGES
                  if package.disc == "build" and not package.gives.startswith("module:")}
SIGNING_COMMANDS = {package.gives: package.name for package in PACKAGES if package.disc == "sign"}
MODULES = {package.gives[len("module:"):]: package.name for package in PACKAGES
           if package.disc and package.gives.startswith("module:")}


def missing(commands, modules=MODULES):
    """(what, package) for each command or module this machine lacks."""
    found = [(name, package) for name, package in commands.items() if shutil.which(name) is None]
    found += [(f"Python module {name}", package) for name, package in modules.items()
              if importlib.util.find_spec(name) is None]
    return found


def require(commands, modules=MODULES):
    lacking = missing(commands, modules)
    if lacking:
        names = ", ".join(f"{what} (Debian package {package})" for what, package in lacking)
        raise CannotRun(f"this machine lacks {names}: run ./autorun-disc setup, which installs them with "
                        f"apt-get, or install those packages yourself")


def install():
    """Installs the missing Debian packages: as root, or through sudo."""
    packages = sorted({package for _, package in missing({**BUILD_COMMANDS, **SIGNING_COMMANDS})})
    if not packages:
        print("Everything a disc needs is installed.")
        return
    install = ["apt-get", "install", "-y", "--no-install-recommends", *packages]
    sudo = []
    if os.geteuid() != 0:
        if shutil.which("sudo") is None:
            raise CannotRun(f"installing needs root: run as root `apt-get update && {' '.join(install)}`")
        sudo = ["sudo"]
    print(f"Installing with apt-get: {' '.join(packages)}")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    for step in (sudo + ["apt-get", "update", "-qq"], sudo + install):
        if subprocess.run(step, env=env).returncode != 0:
            raise CannotRun(f"`{' '.join(step)}` failed; the packages are not installed")


def _run_build(arguments, what):
    result = subprocess.run(arguments, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        raise CannotRun(f"building {what} failed (`{' '.join(arguments)}`):\n"
                        + result.stdout.decode(errors="replace").rstrip())


def _build(preset, folder, targets, what):
    if not (folder / "CMakeCache.txt").is_file():
        _run_build(["cmake", "--preset", preset], what)
    _run_build(["cmake", "--build", str(folder), "-j", "2", "--target", *targets], what)


def standin_targets():
    # standins/ names each stand-in's target after its file: standin_<name>.
    return sorted({"standin_" + Path(built).stem for built, _ in facts.standins()})


def build_programs(demo):
    """Builds the menu (and for a demo disc its stand-ins) and the content
    check; quick when they are up to date. Returns the menu's build folder."""
    require(BUILD_COMMANDS)
    _build("disc-win32", MENU_BUILD, ["autorun", *(standin_targets() if demo else [])],
           "the menu (build/disc-win32)")
    _build("disc-tools", TOOLS_BUILD, ["check_disc_content"], "the content check (build/disc-tools)")
    return MENU_BUILD
