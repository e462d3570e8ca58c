"""The pins a menu carries: the SHA-256 and the size of each disc file it
copies, starts or loads (facts/pins.txt names them, in the record's order),
in a record the menu's program file holds once, found by its magic. A pinned
menu uses each of those files only when it is the one pinned (a file absent
from the content is pinned as an entry of 0xFF bytes, which no file has);
all zero is an unpinned menu, which uses them as they are.

Pinning changes the entries of the record and the PE header's checksum,
nothing else, so the same content gives the same file."""
import hashlib
import os
import struct
import tempfile
from pathlib import Path

import pefile

import facts

from . import authenticode
from .errors import CannotRun, Refused

RECORD = facts.pins()
MAGIC = RECORD.magic
NAMES = tuple(file.name for file in RECORD.files)
ENTRY = RECORD.digest + RECORD.size
ABSENT = b"\xff" * ENTRY
UNPINNED = bytes(ENTRY * len(NAMES))
# The checksum's place in the optional header, in PE32 and PE32+ alike.
CHECKSUM = 64


def _entry(digest, size):
    return digest + size.to_bytes(RECORD.size, "little")


def record_offset(program, what):
    """Where the record's entries start; refuses a program that does not
    hold the magic exactly once."""
    count = program.count(MAGIC)
    if count != 1:
        raise Refused(f"{what} holds the pin record's magic {count} times, not once: give a build of this "
                      f"project's menu (autorun.exe)")
    offset = program.index(MAGIC) + len(MAGIC)
    if offset + len(UNPINNED) > len(program):
        raise Refused(f"{what} ends inside its pin record: give a whole build of the menu")
    try:
        image = pefile.PE(data=program, fast_load=True)
    except pefile.PEFormatError as error:
        raise Refused(f"{what} is not a Windows program ({error}): give a build of the menu") from None
    start, end = offset - len(MAGIC), offset + len(UNPINNED)
    # Bytes outside every section's raw data, or past the part of it that is
    # loaded, never reach memory: the menu would read zeros there and use
    # the disc's files unchecked.
    if not any(section.PointerToRawData <= start
               and end <= section.PointerToRawData + min(section.SizeOfRawData,
                                                         section.Misc_VirtualSize or section.SizeOfRawData)
               for section in image.sections):
        raise Refused(f"{what} holds its pin record outside its sections' data, where the menu never reads it: "
                      f"give a build of this project's menu (autorun.exe)")
    return offset


def read(program, what="autorun.exe"):
    """The entries, in the order of NAMES."""
    offset = record_offset(program, what)
    return [program[offset + i * ENTRY:offset + (i + 1) * ENTRY] for i in range(len(NAMES))]


def digests(files):
    """The entries for a disc whose root holds `files` ({"/name": Path}),
    names matched in any case, as Windows opens them."""
    by_name = {disc_path.lower(): path for disc_path, path in files.items()}
    entries = []
    for name in NAMES:
        path = by_name.get("/" + name.lower())
        entries.append(ABSENT if path is None else _file_digest(path))
    return entries


def digests_of(find):
    """The entries for a disc read back: `find(name)` gives a file's bytes or None."""
    entries = []
    for name in NAMES:
        data = find(name)
        entries.append(ABSENT if data is None else _entry(hashlib.sha256(data).digest(), len(data)))
    return entries


def _file_digest(path):
    digest, size = hashlib.sha256(), 0
    try:
        with open(path, "rb") as source:
            for chunk in iter(lambda: source.read(1 << 20), b""):
                digest.update(chunk)
                size += len(chunk)
    except OSError as error:
        raise CannotRun(f"cannot read {path}: {error.strerror}") from None
    return _entry(digest.digest(), size)


def pin(program, entries, what="the menu"):
    """The program's bytes with the entries written and the header checksum
    made again. Refuses what is no menu, or a signed one: pinning would
    break its signature."""
    try:
        pefile.PE(data=program, fast_load=True)
    except pefile.PEFormatError as error:
        raise Refused(f"{what} is not a Windows program ({error}): give a build of the menu") from None
    if authenticode.signature(program) is not None:
        raise Refused(f"{what} is signed, and pinning would break its signature: pin the unsigned build, "
                      f"then sign the pinned file")
    offset = record_offset(program, what)
    pinned = bytearray(program)
    pinned[offset:offset + len(UNPINNED)] = b"".join(entries)
    image = pefile.PE(data=bytes(pinned), fast_load=True)
    struct.pack_into("<I", pinned, image.OPTIONAL_HEADER.get_file_offset() + CHECKSUM, image.generate_checksum())
    return bytes(pinned)


def listed(conjunction="and"):
    """The pinned files' names as a sentence lists them."""
    return ", ".join(NAMES[:-1]) + f" {conjunction} {NAMES[-1]}"


def describe(entries):
    """One line a pin, for a listing."""
    lines = []
    for name, entry in zip(NAMES, entries):
        size = int.from_bytes(entry[RECORD.digest:], "little")
        shown = ("not pinned" if entry == bytes(ENTRY) else "pinned absent: the menu uses no file of this name"
                 if entry == ABSENT else f"SHA-256 {entry[:RECORD.digest].hex()}, {size} bytes")
        lines.append(f"{name}: {shown}")
    return lines


def mismatches(entries, actual):
    """Faults where a pinned menu's entries are not the disc's files."""
    faults = []
    for name, pinned, found in zip(NAMES, entries, actual):
        if pinned == found:
            continue
        if pinned == ABSENT:
            faults.append(f"autorun.exe pins {name} as absent, but the disc holds one: the menu would not use it")
        elif found == ABSENT:
            faults.append(f"autorun.exe pins {name}, but the disc holds none")
        else:
            faults.append(f"{name} on the disc is not the file autorun.exe pins: the menu would take it for "
                          f"missing")
    return faults


def write(out, data, what):
    """Writes a file whole or not at all."""
    out = Path(out)
    if out.is_dir():
        raise Refused(f"{what} {out} is a folder: name the file to write")
    if not out.parent.is_dir():
        raise Refused(f"{what} {out}: the folder {out.parent} does not exist")
    handle, partial = tempfile.mkstemp(prefix=f".{out.name}.", dir=out.parent)
    try:
        with os.fdopen(handle, "wb") as stream:
            stream.write(data)
        os.chmod(partial, 0o755)
        os.replace(partial, out)
    except BaseException:
        if os.path.exists(partial):
            os.unlink(partial)
        raise


def check_disc(program, find):
    """(faults, notes) for the menu of a disc: its pins listed, and held
    against the disc's files (`find(name)` gives a file's bytes or None). An
    unpinned menu may not be signed."""
    if MAGIC not in program:
        # Not this project's menu, or one from before pins: it pins nothing.
        entries = None
    else:
        try:
            entries = read(program)
        except Refused as refusal:
            return [str(refusal)], []
    if entries is None or b"".join(entries) == UNPINNED:
        if authenticode.signature(program) is not None:
            return [f"autorun.exe is signed but pins no file: a signed menu must pin the disc's {listed()} "
                    "(./autorun-disc build pins it; when signing elsewhere, run ./autorun-disc pin first and sign "
                    "the pinned file)"], []
        return [], ["autorun.exe: not pinned (it uses the disc's files whatever their bytes; never sign it)"]
    notes = ["autorun.exe pins:"] + [f"  {line}" for line in describe(entries)]
    return mismatches(entries, digests_of(find)), notes
