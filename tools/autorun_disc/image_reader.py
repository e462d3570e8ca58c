"""Reads a disc image back with pycdlib, a reader independent of the xorriso
that wrote it: the volume names, the Joliet tree (the names Windows shows)
and the Rock Ridge tree, every file's bytes."""
import contextlib

import pycdlib

from .errors import CannotRun, Refused

CHUNK = 1 << 20
BLOCK = 2048
TREES = {"Joliet": "joliet_path", "Rock Ridge": "rr_path"}


def volume_fault(path):
    """Why an image is not the volume its primary volume descriptor (block
    16) states, or None: no such descriptor, or an image shorter than its
    volume. A reader of a cut image finds files that end early, or none at
    all."""
    try:
        with open(path, "rb") as image:
            image.seek(16 * BLOCK)
            descriptor = image.read(BLOCK)
            actual = image.seek(0, 2)
    except OSError as error:
        raise CannotRun(f"cannot read {path}: {error.strerror}") from None
    if len(descriptor) < BLOCK:
        return (f"the image is {actual} bytes, too short to hold its volume descriptor (block 16): it is no ISO 9660 "
                f"image, or one cut short; make or copy it again")
    if not descriptor.startswith(b"\x01CD001\x01"):
        return ("block 16 of the image is not a primary volume descriptor: it is no ISO 9660 image, or a damaged "
                "one; make or copy it again")
    blocks, block = int.from_bytes(descriptor[80:84], "little"), int.from_bytes(descriptor[128:130], "little")
    if actual >= blocks * block:
        return None
    return (f"the image is {actual} bytes, shorter than the {blocks * block} bytes ({blocks} blocks of {block}) its "
            f"volume descriptor states: it was cut short; make or copy it again")


class Image:
    def __init__(self, path):
        self.path = path
        self._iso = pycdlib.PyCdlib()
        with self._reading():
            self._iso.open(str(path))

    @contextlib.contextmanager
    def _reading(self):
        """pycdlib's failures on a damaged image, of whatever kind (its own,
        or a record too short for struct or a list), as a refusal that names
        the image."""
        try:
            yield
        except OSError as error:
            raise CannotRun(f"cannot read {self.path}: {error.strerror or error}") from None
        except Exception as error:
            raise Refused(f"cannot read {self.path} as an ISO 9660 image, it is damaged ({error}): make or copy it "
                          f"again") from None

    def close(self):
        self._iso.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def trees(self):
        """The name trees the image has, of "Joliet" and "Rock Ridge"."""
        with self._reading():
            present = {"Joliet": self._iso.has_joliet(), "Rock Ridge": self._iso.has_rock_ridge()}
        return [tree for tree in TREES if present[tree]]

    def volume_names(self):
        """(ISO 9660 name, Joliet name or None), without their padding."""
        with self._reading():
            primary = self._iso.pvd.volume_identifier.decode("ascii", errors="replace").rstrip(" ")
            joliet = None
            if self._iso.has_joliet():
                joliet = self._iso.joliet_vd.volume_identifier.decode("utf-16-be", errors="replace").rstrip(" ")
        return primary, joliet

    def listing(self, tree):
        """({"/Movies", ...}, {"/Movies/intro.avi": size, ...}) in one tree."""
        keyword = TREES[tree]
        dirs, files = set(), {}
        with self._reading():
            for folder, subfolders, names in self._iso.walk(**{keyword: "/"}):
                prefix = folder.rstrip("/")
                dirs.update(f"{prefix}/{name}" for name in subfolders)
                for name in names:
                    record = self._iso.get_record(**{keyword: f"{prefix}/{name}"})
                    # pycdlib cuts a file that runs past the image's end to
                    # what is there, below nothing when it starts past it.
                    files[f"{prefix}/{name}"] = max(0, record.get_data_length())
        return dirs, files

    def chunks(self, tree, path):
        with self._reading(), self._iso.open_file_from_iso(**{TREES[tree]: path}) as stream:
            while True:
                chunk = stream.read(CHUNK)
                if not chunk:
                    return
                yield chunk

    def read(self, tree, path):
        return b"".join(self.chunks(tree, path))


def same_bytes(chunks, path):
    """Whether a stream of chunks holds exactly the bytes of the file at path."""
    with open(path, "rb") as source:
        for chunk in chunks:
            if source.read(len(chunk)) != chunk:
                return False
        return source.read(1) == b""


def compare(image, expected_dirs, expected_files, what):
    """Faults where a tree of the image differs from what it should hold:
    folders, files, and each file's bytes where a source is given
    (expected_files maps a disc path to its source, or None: present only).
    `what` names the expected side, as "the content folder"."""
    faults = []
    for tree in image.trees():
        dirs, files = image.listing(tree)
        for path in sorted(expected_dirs - dirs):
            faults.append(f"the {tree} tree lacks the folder {path}")
        for path in sorted(dirs - expected_dirs):
            faults.append(f"the {tree} tree has the folder {path}, which {what} does not")
        for path in sorted(set(expected_files) - set(files)):
            faults.append(f"the {tree} tree lacks {path}")
        for path in sorted(set(files) - set(expected_files)):
            faults.append(f"the {tree} tree has {path}, which {what} does not")
        for path in sorted(set(files) & set(expected_files)):
            source = expected_files[path]
            if source is not None and not same_bytes(image.chunks(tree, path), source):
                faults.append(f"{path} differs from {what}'s copy ({tree} tree)")
    return faults
