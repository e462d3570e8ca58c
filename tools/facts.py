"""The project's facts (facts/*.txt), read for every Python program here: the
disc tool, the scripts and the tests import this module (with tools/ on the
path) rather than read the files themselves.

Each file holds one row a line, columns separated by blanks, the last column
of a row may hold blanks; "#" comments and blank lines are no rows."""
from collections import namedtuple
from pathlib import Path

FACTS = Path(__file__).resolve().parents[1] / "facts"

# `tested`: the localised end-to-end tests run in the locale; `limit`: what is
# known where the locale does not select the variant ("" when nothing).
Language = namedtuple("Language", "id locale tested limit")
# The pin record's layout: `magic` its first bytes, NULs included; each entry
# a `digest` (SHA-256) then a `size` (little-endian), both lengths in bytes;
# `files` in the record's order.
PinRecord = namedtuple("PinRecord", "magic digest size files")
# `enum` the menu's code name for it, `name` the name the menu opens it by,
# `always` whether every disc holds it.
PinnedFile = namedtuple("PinnedFile", "enum name always")
# `when`: always, 32-bit or if-missing; `disc`: build, sign or "" (what the
# disc tool needs it for); `gives`: a command, module:NAME, or "".
Package = namedtuple("Package", "name when disc gives")
# Registry keys below HKEY_LOCAL_MACHINE, and a file name.
MachineChanges = namedtuple("MachineChanges", "install_root install_record install_value codec_file")


class Unreadable(Exception):
    """A facts file is missing, unreadable or not in its form."""


def rows(name, columns, path=None):
    """The rows of facts/NAME.txt (or of `path`, a copy of it), each split
    into at most `columns` columns."""
    path = Path(path) if path else FACTS / f"{name}.txt"
    try:
        text = path.read_text(encoding="utf-8")
    except OSError as error:
        raise Unreadable(f"cannot read {path}: {error.strerror}") from None
    return path, [line.strip().split(None, columns - 1) for line in text.splitlines()
                  if line.strip() and not line.lstrip().startswith("#")]


def languages():
    """The menu's language variants, in the file's order."""
    path, found = rows("languages", 4)
    if not found or any(len(row) < 3 or not row[0].isdigit() or row[2] not in ("test", "-") for row in found):
        raise Unreadable(f"{path} must hold one variant a line: language id, locale, test or -, known limit")
    return [Language(int(row[0]), row[1], row[2] == "test", row[3] if len(row) > 3 else "") for row in found]


def standins():
    """(built file, disc name) pairs, in the file's order."""
    path, found = rows("standins", 2)
    if not found or any(len(row) != 2 or " " in row[1] for row in found):
        raise Unreadable(f"{path} must hold one pair a line: the built file, then its disc name")
    return [(row[0], row[1]) for row in found]


def pins():
    """The record of pins a menu carries, and the files it pins."""
    path, found = rows("pins", 4)
    by_kind = {}
    for row in found:
        by_kind.setdefault(row[0], []).append(row[1:])
    magic, digest, size = by_kind.get("magic", []), by_kind.get("digest", []), by_kind.get("size", [])
    files = by_kind.get("file", [])
    if (set(by_kind) != {"magic", "digest", "size", "file"} or len(magic) != 1 or len(magic[0]) != 2
            or not magic[0][1].isdigit() or len(magic[0][0]) >= int(magic[0][1])
            or digest != [["32"]] or size != [["8"]]
            or any(len(row) != 3 or row[2] not in ("always", "optional") for row in files)):
        raise Unreadable(f"{path} must hold one magic row (text, length past it), digest 32, size 8 and one file "
                         f"row a pinned file: enum name, disc name, always or optional")
    text, length = magic[0][0].encode("ascii"), int(magic[0][1])
    return PinRecord(text + bytes(length - len(text)), 32, 8,
                     [PinnedFile(row[0], row[1], row[2] == "always") for row in files])


def pinned_date():
    """Seconds since 1970-01-01 00:00:00 UTC."""
    path, found = rows("pinned-date", 1)
    if len(found) != 1 or not found[0][0].isdigit():
        raise Unreadable(f"{path} must hold one number of seconds")
    return int(found[0][0])


def i686_exclusions(path=None):
    """The GoogleTest name patterns the i686 run leaves out; `path` reads a
    copy of the file (the Windows test kit carries one)."""
    path, found = rows("i686-exclusions", 2, path)
    if any(len(row) != 2 for row in found):
        raise Unreadable(f"{path} must hold one pattern a line, then the reason")
    return [row[0] for row in found]


def debian_packages():
    """The Debian packages, in the file's order."""
    path, found = rows("debian-packages", 4)
    if not found or any(len(row) != 4 or row[1] not in ("always", "32-bit", "if-missing")
                        or row[2] not in ("build", "sign", "-") for row in found):
        raise Unreadable(f"{path} must hold one package a line: its name, always, 32-bit or if-missing, "
                         "build, sign or -, then the command or module it gives or -")
    return [Package(row[0], row[1], "" if row[2] == "-" else row[2], "" if row[3] == "-" else row[3])
            for row in found]


def machine_changes():
    """What the menu changes on a machine: the install record's keys and
    value, and the codec's file name."""
    path, found = rows("machine-changes", 2)
    kinds = {row[0]: row[1] for row in found if len(row) == 2}
    record = kinds.get("install-record", "").rsplit(None, 1)
    if set(kinds) != {"install-root", "install-record", "codec-file"} or len(found) != 3 or len(record) != 2 \
            or not record[0].startswith(kinds["install-root"] + "\\"):
        raise Unreadable(f"{path} must hold install-root KEY, install-record KEY VALUE (below the root) "
                         "and codec-file NAME")
    return MachineChanges(kinds["install-root"], record[0], record[1], kinds["codec-file"])
