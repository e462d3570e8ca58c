"""The Wine session on a copy of its program, with stand-ins for Wine's
commands, the package query and the 32-bit probe, so that no real prefix is
made: each Wine stand-in logs the prefix it was started for and lays out a
skeleton prefix when it boots one. A player's own prefix, the kind a caller
may have in WINEPREFIX, must come out of every test byte for byte as it was."""
import hashlib
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(REPO / "scripts" / "lib"), str(REPO / "tools")]

WINE = """#!/bin/sh
echo "wine ${WINEPREFIX:-<no WINEPREFIX>} $*" >>"$SESSION_LOG"
[ "$1 $2" != "reg add" ] || [ "${FAKE_REG_FAILS:-0}" = 0 ] || exit 1
if [ "$1 $2" = "wineboot -i" ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/system32" "$WINEPREFIX/dosdevices"
  echo 'WINE REGISTRY Version 2' >"$WINEPREFIX/system.reg"
  echo placeholder >"$WINEPREFIX/drive_c/windows/system32/ir50_32.dll"
  if [ "$FAKE_WINE32" = 1 ]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/syswow64"
    echo placeholder >"$WINEPREFIX/drive_c/windows/syswow64/ir50_32.dll"
  fi
fi
"""
WINESERVER = """#!/bin/sh
echo "wineserver ${WINEPREFIX:-<no WINEPREFIX>} $*" >>"$SESSION_LOG"
"""
DPKG_QUERY = """#!/bin/sh
[ "$FAKE_WINE32" = 1 ] && printf 'install ok installed'
"""
PROBE = """#!/bin/sh
[ "$FAKE_32BIT" = 1 ] && exit 0
echo "this machine cannot run 32-bit code"
exit 1
"""
# The command run inside: the environment it got, to $CASE_OUT/env.
INSIDE = """env | grep -E '^(WINEPREFIX|WINEARCH|AUTORUN_WINEPREFIX_I686)=' | sort >"$CASE_OUT/env"
"""


def fingerprint(folder):
    """Every file's path, kind, size, mode, time, link target and bytes."""
    found = []
    for path in sorted(Path(folder).rglob("*")):
        status = path.lstat()
        entry = [str(path.relative_to(folder)), status.st_mode, status.st_size, status.st_mtime_ns]
        if path.is_symlink():
            entry.append(os.readlink(path))
        elif path.is_file():
            entry.append(hashlib.sha256(path.read_bytes()).hexdigest())
        found.append(entry)
    return found


class Run:
    """One session started on the copy: its exit code, what it said, the
    Wine commands it started and the environment its command got."""

    def __init__(self, out):
        self.out = out

    @property
    def status(self):
        return int((self.out / "status").read_text())

    @property
    def said(self):
        return (self.out / "stdout").read_text() + (self.out / "stderr").read_text()

    @property
    def log(self):
        return (self.out / "log").read_text().splitlines()

    @property
    def env(self):
        path = self.out / "env"
        return path.read_text().splitlines() if path.is_file() else None


class Sandbox:
    def __init__(self, root):
        self.root = root
        self.bin = root / "bin"
        self.tree = root / "repo"
        self.wine_dir = self.tree / "build" / "wine"
        self.script = self.tree / "scripts" / "wine-session.sh"
        self.inside = ["sh", str(root / "inside.sh")]
        self.player = root / "home" / ".wine-games"
        self.cases = 0

    def environment(self, out, fake_32bit, fake_wine32, extra):
        environment = {name: value for name, value in os.environ.items()
                       if not name.startswith(("WINE", "AUTORUN_", "DISPLAY", "XAUTHORITY"))}
        environment.update(PATH=f"{self.bin}:{os.environ['PATH']}", SESSION_LOG=str(out / "log"),
                           CASE_OUT=str(out), DISPLAY=":fake", FAKE_32BIT=fake_32bit, FAKE_WINE32=fake_wine32)
        environment.update(extra)
        return environment

    def start(self, *arguments, fake_32bit="1", fake_wine32="1", **extra):
        """Starts a session on the copy; (the process, its Run)."""
        self.cases += 1
        out = self.root / "out" / str(self.cases)
        out.mkdir(parents=True)
        (out / "log").touch()
        environment = self.environment(out, fake_32bit, fake_wine32, extra)
        with open(out / "stdout", "w") as stdout, open(out / "stderr", "w") as stderr:
            process = subprocess.Popen(["bash", str(self.script), *arguments], env=environment,
                                       stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)
        return process, Run(out)

    def session(self, *arguments, **options):
        process, run = self.start(*arguments, **options)
        (run.out / "status").write_text(str(process.wait(timeout=60)))
        return run

    def finish(self, process, run):
        (run.out / "status").write_text(str(process.wait(timeout=60)))

    def our_prefix(self, prefix, state):
        """A prefix the session made, in the state given ("ready" or "making")."""
        (prefix / "drive_c" / "windows" / "system32").mkdir(parents=True)
        (prefix / ".autorun-wine-session").write_text(f"# made by the session\n{state}\n")


def wait_for(path, text=None):
    """Waits up to ten seconds for a file, or for a text in it."""
    for _ in range(200):
        if path.exists() and (text is None or text in path.read_text()):
            return True
        time.sleep(0.05)
    return False


@pytest.fixture(scope="session")
def sandbox(tmp_path_factory):
    box = Sandbox(tmp_path_factory.mktemp("wine-session"))
    box.bin.mkdir()
    for name, text in (("wine", WINE), ("wineserver", WINESERVER), ("dpkg-query", DPKG_QUERY)):
        (box.bin / name).write_text(text)
        (box.bin / name).chmod(0o755)
    (box.root / "inside.sh").write_text(INSIDE)
    # A copy of the session's program, its facts and the probe's answer given.
    (box.tree / "scripts" / "lib").mkdir(parents=True)
    shutil.copy(REPO / "scripts" / "wine-session.sh", box.script)
    shutil.copytree(REPO / "scripts" / "lib" / "winesession", box.tree / "scripts" / "lib" / "winesession",
                    ignore=shutil.ignore_patterns("__pycache__"))
    (box.tree / "tools").mkdir()
    shutil.copy(REPO / "tools" / "facts.py", box.tree / "tools")
    shutil.copytree(REPO / "facts", box.tree / "facts")
    (box.tree / "scripts" / "can-run-32bit.sh").write_text(PROBE)
    # A player's own prefix of the usual kind for old games (32-bit, no
    # syswow64), holding the game's install record, the codec and a saved game.
    (box.player / "drive_c" / "windows" / "system32").mkdir(parents=True)
    (box.player / "drive_c" / "Games" / "Zantoria").mkdir(parents=True)
    (box.player / "system.reg").write_text('WINE REGISTRY Version 2\n#arch=win32\n'
                                           '[Software\\\\KORU Media\\\\ZANTORIA\\\\1.00] 1\n'
                                           '"Path"="C:\\\\Games\\\\Zantoria"\n')
    (box.player / "drive_c" / "windows" / "system32" / "ir50_32.dll").write_text("the real codec\n")
    (box.player / "drive_c" / "Games" / "Zantoria" / "slot1.sav").write_text("a saved game\n")
    yield box
    shutil.rmtree(box.root)


@pytest.fixture
def box(sandbox):
    """The sandbox with no prefix of the session's yet; the player's prefix
    is checked as each test ends."""
    shutil.rmtree(sandbox.wine_dir, ignore_errors=True)
    before = fingerprint(sandbox.player)
    yield sandbox
    assert fingerprint(sandbox.player) == before, "the caller's prefix changed"
