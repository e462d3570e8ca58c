"""The autorun.inf a disc carries, written, and read back as Windows reads
it: plain ASCII, CR LF line ends, an [autorun] section whose keys and section
name match in any case. Windows takes the first of a repeated key, the
publisher meant one of them: a repeated key is a fault."""
import re

import pefile

KEYS = ("open", "icon", "label")
SECTION = re.compile(r"\s*\[([^\]]*)\]\s*")
ENTRY = re.compile(r"\s*([^=;\s][^=]*)=(.*)")
RT_GROUP_ICON = 14


def make(label):
    lines = ["[autorun]", "open=autorun.exe", "icon=autorun.exe,0", f"label={label}"]
    return "".join(line + "\r\n" for line in lines).encode("ascii")


def parse(data):
    """({key: value}, faults) for the [autorun] section's keys."""
    faults = []
    unprintable = sum(1 for byte in data if not (32 <= byte < 127 or byte in b"\t\r\n"))
    if unprintable:
        faults.append(f"autorun.inf has {unprintable} bytes that are not printable ASCII")
    lines = data.split(b"\n")
    if lines[-1] != b"" or any(not line.endswith(b"\r") or b"\r" in line[:-1] for line in lines[:-1]):
        faults.append("autorun.inf does not end every line with CR LF")

    values, counts, section = {}, {}, None
    for raw in lines:
        line = raw.rstrip(b"\r").decode("latin-1")
        heading = SECTION.fullmatch(line)
        if heading:
            section = heading.group(1).lower()
            continue
        entry = ENTRY.fullmatch(line)
        if section == "autorun" and entry:
            key = entry.group(1).strip().lower()
            counts[key] = counts.get(key, 0) + 1
            values.setdefault(key, entry.group(2).strip())
    for key in KEYS:
        if counts.get(key, 0) == 0:
            faults.append(f"autorun.inf has no {key}= in an [autorun] section")
        elif counts[key] > 1:
            faults.append(f"autorun.inf has {key}= {counts[key]} times")
    return values, faults


def icon_groups(program):
    """The ids of a program's icon groups, in the order Windows counts them."""
    try:
        image = pefile.PE(data=program, fast_load=True)
        image.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except pefile.PEFormatError:
        return []
    resources = getattr(image, "DIRECTORY_ENTRY_RESOURCE", None)
    for entry in resources.entries if resources else []:
        if entry.id == RT_GROUP_ICON:
            return [group.id if group.id is not None else str(group.name) for group in entry.directory.entries]
    return []


def check_references(values, find_file):
    """Faults in what open= and icon= name. find_file(path) gives a disc
    file's bytes from a Windows path (backslashes, any case), or None."""
    faults = []
    program = values.get("open", "").split(" ")[0]
    if program and find_file(program) is None:
        faults.append(f"autorun.inf opens {program}, which is not on the disc")
    icon = values.get("icon", "")
    if icon:
        icon_file, _, index = icon.partition(",")
        index = index.strip() or "0"
        data = find_file(icon_file.strip())
        if data is None:
            faults.append(f"autorun.inf takes its icon from {icon_file}, which is not on the disc")
        elif not re.fullmatch(r"-?[0-9]+", index):
            faults.append(f"autorun.inf names icon index '{index}', which is not a number")
        else:
            # Index n is the program's (n+1)th icon group; -n is the group with id n.
            groups, number = icon_groups(data), int(index)
            if number >= 0 and len(groups) <= number:
                faults.append(f"{icon_file} has no icon at index {number}")
            if number < 0 and -number not in groups:
                faults.append(f"{icon_file} has no icon group {-number}")
    return faults
