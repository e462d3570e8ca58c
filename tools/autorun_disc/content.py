"""The folder a disc is made from: the publisher's content folder, checked
before anything is made, or the demo disc's (tools/demo_disc.py).

Windows opens the files on a disc by their Joliet names, whatever their case,
so the rules here are Windows' own: no two names that differ only in case, no
characters Windows cannot open, names that Joliet holds whole. Links are
followed, as the image will hold what they point to; one that leads out of
the folder only when the publisher allows it, and never to a file that signs
the menu."""
import hashlib
import os
import stat
from pathlib import Path

import facts

from .errors import CannotRun, Refused

# The files the menu opens from its own folder on every disc: the pinned ones
# (facts/pins.txt) but those only some discs need.
MENU_FILES = ("setup.exe", "autorun.bmp") + tuple(file.name for file in facts.pins().files if file.always)
# What this tool puts on every disc itself.
OWN_FILES = ("autorun.exe", "autorun.inf")
# Joliet holds 64 characters of a name.
LONGEST_NAME = 64
FORBIDDEN = set('<>:"\\|?*') | {chr(code) for code in range(32)} | {"\x7f"}
# Names Windows opens as devices, whatever their case and extension.
DEVICES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {f"{port}{digit}" for port in ("COM", "LPT")
                                                           for digit in "0123456789\u00b9\u00b2\u00b3"}


def _listing(entries, heading):
    return heading + ":\n" + "\n".join(f"  {entry}" for entry in entries)


def name_problem(name):
    """Why Windows could not open a file of this name from a disc, or None."""
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return "is not UTF-8 text"
    bad = sorted({char for char in name if char in FORBIDDEN})
    if bad:
        return "holds " + " ".join(repr(char) for char in bad) + ", which Windows does not allow in a name"
    if name.endswith((".", " ")):
        return "ends in a dot or a space, which Windows strips from a name it opens: it would open another file"
    device = name.split(".")[0].rstrip(" ").upper()
    if device in DEVICES:
        return f"is the device {device} to Windows, with any extension: Windows would open the device, not the file"
    if len(name.encode("utf-16-le")) // 2 > LONGEST_NAME:
        return f"is longer than the {LONGEST_NAME} characters a Joliet name holds"
    return None


def _digest(path):
    try:
        with open(path, "rb") as stream:
            return hashlib.file_digest(stream, "sha256").digest()
    except OSError as error:
        raise CannotRun(f"cannot read {path}: {error.strerror}") from None


class Secrets:
    """The files given to sign the menu, {the option naming it: path},
    recognised in the content under any name: the same file (device and
    inode, through a link or a hard link) or a copy of its bytes. Only a
    content file of a secret's size is read; an empty file is no secret's
    copy."""

    def __init__(self, files):
        self.inodes, self.copies = {}, {}
        for option, path in files.items():
            info = os.stat(path)
            self.inodes[info.st_dev, info.st_ino] = option
            if info.st_size:
                self.copies[info.st_size, _digest(path)] = option

    def found(self, path, info):
        """What the file at `path` (its os.stat `info`) is of a secret, or None."""
        if (info.st_dev, info.st_ino) in self.inodes:
            return f"the file of {self.inodes[info.st_dev, info.st_ino]}"
        if stat.S_ISREG(info.st_mode) and info.st_size in {size for size, _ in self.copies}:
            option = self.copies.get((info.st_size, _digest(path)))
            if option:
                return f"a copy of {option}"
        return None


def scan(folder, allow_links=False, secrets=None):
    """Every folder and file below `folder`, links followed, as
    ({"/Movies", ...}, {"/Movies/intro.avi": Path, ...}). Refuses what cannot
    go on a disc, listing every entry at fault: among them any file that is
    one of `secrets` (Secrets) or a copy of it, whatever its name, and unless
    `allow_links` a link that leads out of the folder."""
    dirs, files = set(), {}
    odd, bad_names, twins, outside, leaks = [], [], [], [], []
    seen, secrets, root = set(), secrets or Secrets({}), os.path.realpath(folder)

    def walk(path, disc_path):
        info = os.stat(path)
        if (info.st_dev, info.st_ino) in seen:
            odd.append(f"{disc_path or '/'} (a link back to a folder above it)")
            return
        seen.add((info.st_dev, info.st_ino))
        try:
            names = sorted(os.listdir(path))
        except OSError as error:
            raise CannotRun(f"cannot read the folder {path}: {error.strerror}") from None
        lower = {}
        for name in names:
            child, child_disc = os.path.join(path, name), f"{disc_path}/{name}"
            shown = child_disc.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
            problem = name_problem(name)
            if problem:
                bad_names.append(f"{shown} {problem}")
                continue
            if name.lower() in lower:
                twins.append(f"{disc_path}/{lower[name.lower()]} and {child_disc}")
            lower[name.lower()] = name
            try:
                info = os.stat(child)
            except OSError:
                odd.append(f"{shown} (a broken link)")
                continue
            target = os.path.realpath(child)
            secret = secrets.found(child, info)
            if secret:
                leaks.append(f"{shown} is {secret}")
            elif not allow_links and os.path.commonpath([root, target]) != root:
                outside.append(f"{shown} (a link to {target})")
            elif stat.S_ISDIR(info.st_mode):
                dirs.add(child_disc)
                walk(child, child_disc)
            elif stat.S_ISREG(info.st_mode):
                files[child_disc] = Path(child)
            else:
                odd.append(f"{shown} (neither a file nor a folder)")

    walk(str(folder), "")
    for entries, problem in (
            (leaks, "holds files given to sign the menu, which must never reach a disc; remove them from the content "
                    "folder"),
            (outside, "holds links that lead out of it, and the disc would carry what they point to; copy those "
                      "files in, or give --allow-links"),
            (odd, "holds entries that cannot go on a disc; remove them"),
            (bad_names, "holds names Windows cannot open from a disc; rename them"),
            (twins, "holds names that differ only in case, and Windows would see one of each; rename or remove one")):
        if entries:
            raise Refused(_listing(entries, f"--content {folder} {problem}"))
    return dirs, files


def check_folder(folder):
    """The content folder itself: present, a folder, without a menu of its own."""
    if not folder.exists():
        raise Refused(f"--content {folder} does not exist: give the folder that holds the disc's files")
    if not folder.is_dir():
        raise Refused(f"--content {folder} is not a folder: give the folder that holds the disc's files")
    for entry in sorted(os.listdir(folder)):
        if entry.lower() in OWN_FILES:
            raise Refused(f"--content {folder} holds {entry}; the tool puts its own {entry.lower()} on the "
                          f"disc: remove it from the folder")


def missing_menu_files(files):
    """The files the menu opens that the disc's root folder lacks."""
    present = {path.lower() for path in files}
    return [name for name in MENU_FILES if "/" + name.lower() not in present]
