"""Reads a finished image back and says whether it is sound, as a pressing
plant would before making discs from it:
- block 16 is its primary volume descriptor, and the image is as long as
  the volume that descriptor states;
- both name trees, Joliet (what Windows shows) and Rock Ridge, hold exactly
  the files and folders expected, names and case included, and every file
  has the expected bytes (with --content, the folder's; without, the two
  trees agree with each other);
- autorun.inf is plain ASCII with CR LF line ends, and its [autorun] section
  has open=, icon= and label= once each, naming files the disc carries and an
  icon the program has;
- the volume name, in the ISO 9660 and the Joliet descriptor, is the label;
- the disc's autorun.exe, when a chain is given, carries a SHA-256 signature
  that verifies against it, and without it is the unsigned menu byte for byte
  (when that is known);
- the menu's pins are the disc's files, and a signed menu has pins."""
import tempfile
from pathlib import Path

from . import autorun_inf, pins, signing
from .image_reader import Image, compare, volume_fault


def _finder(image, tree, files):
    by_name = {path.lower(): path for path in files}

    def find(windows_path):
        path = "/" + windows_path.replace("\\", "/").lstrip("/")
        actual = by_name.get(path.lower())
        return image.read(tree, actual) if actual else None
    return find


def check(path, expected=None, what="the content folder", label=None, chain_pem=None, unsigned=None):
    """(faults, notes): what is wrong, and what the image holds."""
    faults, notes = [], []
    fault = volume_fault(path)
    if fault:
        return [fault], notes
    with Image(path) as image:
        trees = image.trees()
        if "Joliet" not in trees:
            faults.append("the image has no Joliet names: Windows would see only upper-case 8.3 names")
        if "Rock Ridge" not in trees:
            faults.append("the image has no Rock Ridge names")
        if not trees:
            return faults, notes
        tree = trees[0]
        dirs, files = image.listing(tree)
        if expected is not None:
            faults += compare(image, *expected, what)
        elif len(trees) == 2:
            other_dirs, other_files = image.listing(trees[1])
            faults += compare(image, other_dirs, dict.fromkeys(other_files), f"the {trees[1]} tree")
            faults += [f"{name} has {size} bytes in the {tree} tree and {other_files[name]} in the {trees[1]} tree"
                       for name, size in sorted(files.items()) if other_files.get(name, size) != size]
        for name in sorted(dirs | set(files)):
            notes.append(f"  {name}/" if name in dirs else f"  {name}  ({files[name]} bytes)")

        find = _finder(image, tree, files)
        inf = find("autorun.inf")
        values = {}
        if inf is None:
            faults.append("no autorun.inf on the disc")
        else:
            values, inf_faults = autorun_inf.parse(inf)
            faults += inf_faults + autorun_inf.check_references(values, find)

        expected_label = label or values.get("label")
        primary, joliet = image.volume_names()
        if not expected_label:
            faults.append("no volume name to check against: the disc's autorun.inf has no label=")
        else:
            if primary != expected_label:
                faults.append(f"the ISO 9660 volume name is '{primary}', not '{expected_label}'")
            if joliet is not None and joliet != expected_label:
                faults.append(f"the Joliet volume name is '{joliet}', not '{expected_label}'")
            if values.get("label") and values["label"] != expected_label:
                faults.append(f"autorun.inf has label={values['label']}, not {expected_label}")

        program = find("autorun.exe")
        if program is None:
            faults.append("no autorun.exe on the disc")
        elif chain_pem is not None:
            with tempfile.TemporaryDirectory(prefix="autorun-disc.") as work:
                copy = Path(work) / "autorun.exe"
                copy.write_bytes(program)
                found = signing.verify(copy, chain_pem, unsigned)
            faults += found
            if not found:
                notes.append("autorun.exe: its SHA-256 signature verifies against the chain given"
                             + (f"; without it the program is {unsigned} byte for byte" if unsigned else ""))
        else:
            signers = signing.signer_names(program)
            notes.append("autorun.exe: not signed" if signers is None else
                         f"autorun.exe: signed by {'; then '.join(signers)} (give --signed-by CHAIN to verify it)")
        if program is not None:
            pin_faults, pin_notes = pins.check_disc(program, find)
            faults += pin_faults
            notes += pin_notes
        notes.append(f"{len(files)} files, {len(dirs)} folders, volume {primary}, names: {' and '.join(trees)}")
    return faults, notes
