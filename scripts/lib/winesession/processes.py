"""The Unix processes of a Windows program in a Wine prefix.

Wine names a Windows program's Unix process in one of two ways, depending on
the host: by its Windows path (`Z:\\...\\autorun.exe`) where 32-bit code runs
and the 32-bit Wine hands the program on, by its Unix path (`/.../autorun.exe`)
where it does not. A process is the program's when its first argument names
the program's file either way, and its environment's WINEPREFIX is the
prefix. The process id of the `wine` started for a program says nothing."""
import os
import re
from pathlib import Path

WINDOWS_PATH = re.compile(r"^([A-Za-z]):(\\.*)?$")


def drives(prefix):
    """{drive letter (lower case): the Unix folder it stands for} from the
    prefix's dosdevices links; Z: is the root where the prefix says nothing."""
    found = {"z": "/"}
    try:
        entries = list((Path(prefix) / "dosdevices").iterdir())
    except OSError:
        return found
    for entry in entries:
        if re.fullmatch(r"[a-z]:", entry.name) and entry.is_symlink():
            found[entry.name[0]] = os.path.realpath(entry)
    return found


def windows_names(unix_path, drive_folders):
    """Every Windows path the prefix's drives give the Unix file `unix_path`."""
    names = set()
    for letter, folder in drive_folders.items():
        relative = os.path.relpath(unix_path, folder)
        if relative == "." or relative.startswith(".." + os.sep) or relative == "..":
            continue
        names.add(f"{letter.upper()}:\\" + relative.replace("/", "\\"))
    return names


def unix_name(windows_path, drive_folders):
    """The Unix file a Windows path names through the prefix's drives, or None."""
    match = WINDOWS_PATH.match(windows_path)
    folder = match and drive_folders.get(match.group(1).lower())
    if not folder:
        return None
    rest = (match.group(2) or "").lstrip("\\").replace("\\", "/")
    return os.path.normpath(os.path.join(folder, rest))


def names_program(first_argument, unix_path, names, resolve=os.path.realpath):
    """Whether a process whose first argument is `first_argument` runs the
    program whose file is `unix_path` (resolved), which Windows knows by
    `names`. A Windows path is compared without regard to case, as Windows
    compares it; a Unix path is resolved first (links, "..")."""
    if WINDOWS_PATH.match(first_argument):
        return first_argument.lower() in {name.lower() for name in names}
    if first_argument.startswith("/"):
        return resolve(first_argument) == unix_path
    return False


def program_processes(prefix, program):
    """The process ids of the Windows program `program` (its Unix path, or a
    Windows path in the prefix) running in the Wine prefix `prefix`."""
    drive_folders = drives(prefix)
    if WINDOWS_PATH.match(str(program)):
        unix_path = unix_name(str(program), drive_folders)
        unix_path = os.path.realpath(unix_path) if unix_path else ""
        names = {str(program)}
    else:
        unix_path = os.path.realpath(program)
        names = windows_names(unix_path, drive_folders)
    wanted = f"WINEPREFIX={prefix}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            first = (entry / "cmdline").read_bytes().split(b"\0")[0].decode(errors="replace").strip()
            environment = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if wanted in environment and names_program(first, unix_path, names):
            found.append(int(entry.name))
    return found
