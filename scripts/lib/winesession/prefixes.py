"""The session's prefixes: where they are, whether the session made them,
making them once, clearing what an interrupted run left; and which runs
(x86_64, i686) this machine can make."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
WINE_DIR = ROOT / "build" / "wine"
MARKER = ".autorun-wine-session"
# The home folder Wine sees while it makes or updates a prefix: an empty one
# of the session's own, so that no prefix links into the user's folders.
HOME = WINE_DIR / "home"
RUNS = ("x86_64", "i686")

sys.path.insert(0, str(ROOT / "tools"))
import facts  # noqa: E402


class Refused(Exception):
    """The session will not go on (exit code 2), and says why."""


class Failed(Exception):
    """The session could not set a prefix up (exit code 1), and says why."""


def note(text):
    print(f"wine-session: {text}", file=sys.stderr, flush=True)


def quietly(*command, env=None):
    """Runs a command with no input and its output dropped; its exit code."""
    try:
        return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode
    except OSError:
        return 127


def prefix_path(name):
    """The folder of the session's prefix NAME (letters, digits, "-" and "_")."""
    if not re.fullmatch(r"[A-Za-z0-9_-]+", name):
        raise Refused(f"not a prefix name: '{name}' (letters, digits, - and _)")
    return WINE_DIR / name


def ours(prefix):
    """Whether the prefix folder is one the session made: a real folder (not
    a link to one elsewhere) inside build/wine, carrying the mark."""
    prefix = Path(prefix)
    marker = prefix / MARKER
    return prefix.parent == WINE_DIR and prefix.is_dir() and not prefix.is_symlink() and marker.is_file() \
        and not marker.is_symlink()


def package_installed(package):
    try:
        answer = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True, text=True)
    except OSError:
        return False
    return "install ok installed" in answer.stdout


def wine32_installed():
    return all(package_installed(package.name) for package in facts.debian_packages()
               if package.when == "32-bit")


def cannot_run(run):
    """None where the run x86_64 or i686 can be made here, else why not. The
    i686 run needs a machine that runs 32-bit code (tried, never assumed) and
    the 32-bit Wine; AUTORUN_ASSUME_NO_32BIT=1 answers as a machine that
    cannot run 32-bit code."""
    if run not in RUNS:
        raise Refused(f"no such run: '{run}' (x86_64 or i686)")
    if run == "x86_64":
        return None
    if os.environ.get("AUTORUN_ASSUME_NO_32BIT", "0") == "1":
        return "this machine cannot run 32-bit code (AUTORUN_ASSUME_NO_32BIT=1)"
    probe = subprocess.run(["bash", str(ROOT / "scripts" / "can-run-32bit.sh")], capture_output=True, text=True)
    if probe.returncode != 0:
        return probe.stdout.strip() or "this machine cannot run 32-bit code"
    if not wine32_installed():
        return "wine32 is not installed (scripts/install-deps.sh installs it)"
    return None


def loader(run):
    """The Wine loader of a run's bitness, so that no run starts a process of
    the other bitness. Where the 32-bit Wine is installed, /usr/bin/wine is
    the 32-bit loader, which hands a 64-bit program on through one more
    process start, and that start now and then fails: there the 64-bit
    loader is started directly."""
    if run == "i686":
        return "/usr/lib/wine/wine"
    if os.access("/usr/lib/wine/wine", os.X_OK) and os.access("/usr/lib/wine/wine64", os.X_OK):
        return "/usr/lib/wine/wine64"
    return "/usr/bin/wine"


def in_prefix(prefix, environment=None, **more):
    return dict(os.environ if environment is None else environment, WINEPREFIX=str(prefix), **more)


def server_stop(prefix):
    quietly("wineserver", "-k", env=in_prefix(prefix))
    quietly("wineserver", "-w", env=in_prefix(prefix))


def server_start(prefix):
    """A persistent server for the prefix, started with its output detached,
    so that the helper processes Wine starts never hold a test runner's
    pipes open."""
    server_stop(prefix)
    environment = in_prefix(prefix, HOME=str(HOME))
    quietly("wineserver", "-p", env=environment)
    quietly("wine", "wineboot", "-u", env=environment)


def _codec_files(prefix):
    codec = facts.machine_changes().codec_file.lower()
    windows = Path(prefix) / "drive_c" / "windows"
    found = []
    for folder in [windows, *(entry for entry in windows.iterdir() if entry.is_dir() and not entry.is_symlink())] \
            if windows.is_dir() else []:
        found += [entry for entry in folder.iterdir() if entry.name.lower() == codec and not entry.is_dir()]
    return found


def ready(prefix, fresh=False):
    """Makes the session's prefix folder ready: made once and marked. A
    marked one is made again when asked to (fresh), when its making was
    interrupted, or when it predates the 32-bit Wine (no syswow64: no program
    starts in it any more). A folder there that the session did not make is
    refused, untouched."""
    prefix = Path(prefix)
    if prefix.exists() or prefix.is_symlink():
        if not ours(prefix):
            raise Refused(f"refusing {prefix}: the Wine session did not make it, and uses or removes no prefix "
                          "it did not make. Move it out of the way (or make clean) and run again.")
        lines = (prefix / MARKER).read_text(errors="replace").splitlines()
        again = ""
        if fresh:
            again = "a fresh one is asked for"
        elif "ready" not in lines:
            again = "its making was interrupted"
        elif wine32_installed() and not (prefix / "drive_c" / "windows" / "syswow64").is_dir():
            again = "it predates the 32-bit Wine"
        if not again:
            return
        print(f"Making the Wine prefix {prefix} again: {again}...", flush=True)
        server_stop(prefix)
        shutil.rmtree(prefix)

    print(f"Creating the Wine prefix {prefix} (once)...", flush=True)
    prefix.mkdir(parents=True)
    HOME.mkdir(parents=True, exist_ok=True)
    marker = prefix / MARKER
    marker.write_text("# A Wine prefix made by the project's Wine session (scripts/wine-session.sh),\n"
                      "# which may clear, make again or remove it. It uses no prefix without this file.\n"
                      "making\n")
    environment = in_prefix(prefix, HOME=str(HOME))
    quietly("wine", "wineboot", "-i", env=environment)
    codec = Path(facts.machine_changes().codec_file).stem.lower()
    settings = [
        # Without a window manager, closing a dialog waits 2 s in the X11
        # driver unless Wine manages its own windows.
        (r"HKCU\Software\Wine\X11 Driver", "Managed", "N"),
        # The menu must see the codec as a real Windows machine does: loadable
        # only when a real library is there, never through a built-in one.
        (r"HKCU\Software\Wine\DllOverrides", codec, "native"),
    ]
    for key, value, data in settings:
        # A prefix without them would serve, wrongly: it stays unfinished, and
        # is made again next time.
        if quietly("wine", "reg", "add", key, "/v", value, "/t", "REG_SZ", "/d", data, "/f", env=environment) != 0:
            raise Failed(f"making {prefix}: Wine could not set {key}\\{value}")
    quietly("wineserver", "-w", env=environment)
    # Wine puts a placeholder file of each built-in library in the system
    # folders, the codec's too.
    for file in _codec_files(prefix):
        file.unlink()
    marker.write_text(marker.read_text().replace("\nmaking\n", "\nready\n"))


def clear_leftovers(prefix):
    """The tests never remove a codec file or install record they did not
    create: they skip instead, as on a tester's machine. In the session's own
    prefixes whatever an interrupted run left goes before anything starts,
    rather than have the tests skip; in no other prefix."""
    if not ours(prefix):
        raise Refused(f"not clearing {prefix}: the Wine session did not make it")
    install_root = "HKLM\\" + facts.machine_changes().install_root
    for view in ("32", "64"):
        quietly("wine", "reg", "delete", install_root, "/f", f"/reg:{view}", env=in_prefix(prefix))
    for file in _codec_files(prefix):
        file.unlink()
