"""Windows programs in the project's Wine session, for the Python scripts
(demo, screenshots, the kit's check, the start-up benchmark): the session itself, its prefixes and its
display are scripts/wine-session.sh's; this module starts a script again
inside one, and starts, finds, captures and ends a program there.

A program's window is found through its own process: the Unix process whose
window it is (_NET_WM_PID) must run in this session's prefix and be the
program started, by its Windows path. The process id of the `wine` started
for it says nothing (Wine hands a 64-bit program to a new process where the
32-bit Wine is installed), and a window's name says nothing either: with
DISPLAY set, other sessions' menus share the display."""
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SESSION = ROOT / "scripts" / "wine-session.sh"
INSIDE = "AUTORUN_SESSION_SCRIPT"


def run_inside(options, script_arguments):
    """Runs the calling script again inside a Wine session started with
    `options` (wine-session.sh's), and exits with its exit code. Inside the
    session it returns at once."""
    if os.environ.get(INSIDE) == Path(sys.argv[0]).name:
        return
    environment = dict(os.environ, **{INSIDE: Path(sys.argv[0]).name})
    command = ["bash", str(SESSION), *options, "--", sys.executable, "-B", os.path.abspath(sys.argv[0]),
               *script_arguments]
    try:
        sys.exit(subprocess.run(command, env=environment).returncode)
    except KeyboardInterrupt:
        # The session got the interrupt too, and ends what it started.
        sys.exit(130)


def can_run(run):
    """None where the run (x86_64 or i686) can be made here, else why not."""
    answer = subprocess.run(["bash", str(SESSION), "--can-run", run], capture_output=True, text=True)
    return None if answer.returncode == 0 else (answer.stdout.strip() or answer.stderr.strip() or "unknown")


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
        return prefix_processes(self.prefix, windows_path(self.program))

    def window(self, seconds=10):
        """The X window of this program's process, once it shows; None when
        none does within `seconds`. More than one is an error, never a guess."""
        for _ in range(int(seconds * 10)):
            ours = set(self.processes())
            shown = [window for window in viewable_windows(self.program.name) if window_process(window) in ours]
            if len(shown) > 1:
                raise RuntimeError(f"more than one window of {self.program}: {' '.join(shown)}")
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
    """The Unix processes of the Windows program `program` (its Windows path,
    as Wine names the process) running in the Wine prefix `prefix`."""
    found, wanted = [], program.lower()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().split(b"\0")[0].decode(errors="replace").strip()
            environment = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if command.lower() == wanted and f"WINEPREFIX={prefix}".encode() in environment:
            found.append(int(entry.name))
    return found


def end_processes(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def viewable_windows(name):
    """The viewable top-level X windows whose class is `name`, by id."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
    found = []
    for line in tree.splitlines():
        if f'("{name}" "{name}")' not in line:
            continue
        window = line.split()[0]
        state = subprocess.run(["xwininfo", "-id", window], capture_output=True, text=True).stdout
        if "Map State: IsViewable" in state:
            found.append(window)
    return found


def window_process(window):
    """The Unix process a window belongs to, as Wine names it (_NET_WM_PID)."""
    text = subprocess.run(["xprop", "-id", window, "_NET_WM_PID"], capture_output=True, text=True).stdout
    match = re.search(r"= (\d+)$", text.strip())
    return int(match.group(1)) if match else None


def window_title(window):
    text = subprocess.run(["xprop", "-id", window, "-notype", "_NET_WM_NAME"], capture_output=True,
                          text=True).stdout
    match = re.match(r'^_NET_WM_NAME = "(.*)"$', text.strip())
    return match.group(1) if match else ""


def capture(window, path):
    """Saves the window, title bar included; True when it could."""
    return quietly("import", "-silent", "-window", window, str(path)) == 0 and Path(path).is_file()
