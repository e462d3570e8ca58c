"""Windows programs in the project's Wine session, for the Python scripts
(demo, screenshots, the kit's check, the start-up benchmark): the session
itself, its prefixes and its display are the session program's
(scripts/lib/winesession); this module starts a script again inside one, and
starts, finds, captures and ends a program there.

A program's window is found through its own process: the Unix process whose
window it is (_NET_WM_PID) must run in this session's prefix and be the
program started, named by its Unix or its Windows path, whichever this
host's Wine gives (winesession.processes). The process id of the `wine`
started for it says nothing (Wine hands a 64-bit program to a new process
where the 32-bit Wine is installed), and a window's name says nothing either:
with DISPLAY set, other sessions' menus share the display."""
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

from winesession import display, prefixes
from winesession.processes import program_processes

ROOT = prefixes.ROOT
SESSION = Path(prefixes.__file__).resolve().parent
INSIDE = "AUTORUN_SESSION_SCRIPT"


def run_inside(options, script_arguments):
    """Runs the calling script again inside a Wine session started with
    `options` (the session command's), and exits with its exit code. Inside
    the session it returns at once."""
    if os.environ.get(INSIDE) == Path(sys.argv[0]).name:
        return
    environment = dict(os.environ, **{INSIDE: Path(sys.argv[0]).name})
    command = [sys.executable, "-B", str(SESSION), *options, "--", sys.executable, "-B",
               os.path.abspath(sys.argv[0]), *script_arguments]
    try:
        sys.exit(subprocess.run(command, env=environment).returncode)
    except KeyboardInterrupt:
        # The session got the interrupt too, and ends what it started.
        sys.exit(130)


def can_run(run):
    """None where the run (x86_64 or i686) can be made here, else why not."""
    return prefixes.cannot_run(run)


def quietly(*command, env=None, cwd=None):
    """Runs a command with no input and its output dropped; its exit code."""
    return subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def in_locale(locale, environment=None):
    environment = dict(os.environ if environment is None else environment)
    if locale:
        environment.update(LC_ALL=f"{locale}.UTF-8", LANG=f"{locale}.UTF-8")
    return environment


class Program:
    """A Windows program started in the session's prefix (or the one `env`
    names), from its own file's folder unless `cwd` says otherwise."""

    def __init__(self, program, *arguments, env=None, cwd=None):
        self.program = Path(program).resolve()
        self.prefix = (env or os.environ)["WINEPREFIX"]
        self.wine = subprocess.Popen(["wine", str(self.program), *arguments], env=env,
                                     cwd=cwd or self.program.parent, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def processes(self):
        """The Unix processes running this program in this session's prefix."""
        return program_processes(self.prefix, self.program)

    def window(self, seconds=10):
        """The X window of this program's process, once it shows; None when
        none does within `seconds`. More than one is an error, never a guess."""
        name = self.program.name.lower()
        for _ in range(int(seconds * 10)):
            ours = set(self.processes())
            with display.Windows() as windows:
                shown = [window for window in windows.all() if ours and windows.process(window) in ours
                         and windows.window_class(window).lower() == name and windows.viewable(window)]
            if len(shown) > 1:
                raise RuntimeError(f"more than one window of {self.program}: {' '.join(map(hex, shown))}")
            if shown:
                return shown[0]
            time.sleep(0.1)
        return None

    def end(self):
        """Ends the program's processes, and the wine started for it, and
        waits until they are gone."""
        end_processes(self.processes())
        self.wine.kill()
        self.wine.wait()
        for _ in range(50):
            if not self.processes():
                return True
            time.sleep(0.1)
        return False


def prefix_processes(prefix, program):
    """The Unix processes of the Windows program `program` (its Unix path, or
    its Windows path in the prefix) running in the Wine prefix `prefix`."""
    return program_processes(prefix, program)


def end_processes(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def window_title(window):
    with display.Windows() as windows:
        return windows.title(window)


def capture(window, path):
    """Saves the window, title bar included; True when it could."""
    return quietly("import", "-silent", "-window", hex(window), str(path)) == 0 and Path(path).is_file()
