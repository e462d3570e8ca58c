"""The menu's program file read with pefile: format, imports, time stamp,
static constructors, manifests and resources, held to facts/ and to the
resource scripts as windres reads them, so that a wrong compiled detail fails
while an edit of the scripts is taken as written. The shipping i686 file is
also held to what Windows 95 needs, and to the same bytes when built elsewhere."""
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pefile
import pytest

ROOT = Path(__file__).resolve().parents[2]
RESOURCES = ROOT / "resources"
sys.path.insert(0, str(ROOT / "tools"))
import facts  # noqa: E402

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
MAX_SIZE = 128 * 1024
# The only libraries it may import: every Windows from 95 on has them, and
# Windows never takes them from the program's own folder.
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll"}
# Vista, 7, 8, 8.1, 10 and 11: the systems the menu is written for.
SUPPORTED_SYSTEMS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                     "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                     "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
WS_POPUP, WS_CHILD, WS_VISIBLE, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x40000000, 0x10000000, 0xC00000, 0x80000
DS_SETFONT, DS_MODALFRAME, BS_DEFPUSHBUTTON, SS_CENTER = 0x40, 0x80, 0x1, 0x1
BUTTON_ATOM, STATIC_ATOM, IDOK = 0x80, 0x82, 1


def header_ids(prefix):
    text = (RESOURCES / "resource_ids.h").read_text()
    return {name: int(value) for name, value in re.findall(rf"#define ({prefix}\w+) (\d+)", text)}


LITERAL = re.compile(r'(L?)"((?:[^"\\]|\\.)*)"')


def literals(text):
    """The C string literals in `text`, joined, as windres reads them in code
    page 65001: an escape is a byte in a narrow literal, a character in a wide one."""
    joined = ""
    for wide, body in LITERAL.findall(text):
        units = []
        for escape, plain in re.findall(r"\\(x[0-9A-Fa-f]+|[0-7]{1,3}|.)|(.)", body, re.S):
            if plain:
                units.append(plain if wide else plain.encode())
                continue
            value = {"n": 10, "r": 13, "t": 9, "a": 7}.get(escape)
            if value is None:
                value = int(escape[1:], 16) if escape[0] == "x" else int(escape, 8) if escape[0].isdigit() \
                    else ord(escape)
            units.append(chr(value) if wide else bytes([value]))
        joined += "".join(units) if wide else b"".join(units).decode("utf-8", errors="replace")
    return joined


class Script:
    """The resource scripts, preprocessed: each LANGUAGE's string table and
    dialogs (caption, then each control's text), and the version block."""

    def __init__(self, text):
        self.strings, self.dialogs, self.fixed, self.values = {}, {}, {}, {}
        language, block, dialog = None, None, None
        for line in text.splitlines():
            words = line.split()
            if not words:
                continue
            if words[0] == "LANGUAGE":
                primary, sub = (int(part, 0) for part in line.split(None, 1)[1].split(","))
                language, block = sub << 10 | primary, None
            elif language is None:
                continue  # what windows.h leaves for C
            elif words[0] == "STRINGTABLE":
                block = self.strings.setdefault(language, {})
            elif len(words) > 1 and words[1] == "DIALOG":
                dialog = self.dialogs.setdefault(language, {}).setdefault(int(words[0]), [])
            elif words[0] == "END":
                block = dialog = None
            elif block is not None and words[0].isdigit():
                block[int(words[0])] = literals(line)
            elif dialog is not None and words[0] != "FONT" and LITERAL.search(line):
                dialog.append(literals(LITERAL.search(line).group(0)))
            elif words[0] in ("FILEVERSION", "PRODUCTVERSION"):
                self.fixed[words[0]] = [int(part) for part in line.split(None, 1)[1].split(",")]
            elif words[0].startswith("FILE"):
                self.fixed[words[0]] = int(words[1].rstrip("lL"), 0)
            elif words[0] == "VALUE" and len(LITERAL.findall(line)) == 2:
                key, value = LITERAL.finditer(line)
                self.values[literals(key.group(0))] = literals(value.group(0))


@pytest.fixture(scope="session")
def script(option):
    run = subprocess.run([option("cc"), "-E", "-P", "-xc", "-DRC_INVOKED", "-I", RESOURCES,
                          RESOURCES / "autorun.rc"], capture_output=True)
    assert run.returncode == 0, run.stderr.decode(errors="replace")
    return Script(run.stdout.decode("utf-8"))


@pytest.fixture(scope="session")
def variants():
    """Each variant's language id and the id of its language's primary variant."""
    ids = [variant[0] for variant in facts.languages()]
    return {language: min(other for other in ids if other & 0x3FF == language & 0x3FF) for language in ids}


@pytest.fixture(scope="session")
def program(option):
    return pefile.PE(str(option("program")))


def resources(image):
    """{(type, name): {language: bytes}} of a program's resources."""
    found = {}
    directory = getattr(image, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in directory.entries if directory else []:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found.setdefault((kind.id or str(kind.name), name.id or str(name.name)), {})[language.id] = \
                    image.get_data(data.OffsetToData, data.Size)
    return found


@pytest.fixture(scope="session")
def compiled(program):
    return resources(program)


class Reader:
    """Little-endian resource data; reading past its end raises."""

    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def take(self, form):
        values = struct.unpack_from("<" + form, self.data, self.at)
        self.at += struct.calcsize(form)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
            assert end < len(self.data), "a text runs past the resource's end"
        text, self.at = self.data[self.at:end].decode("utf-16-le"), end + 2
        return text

    def name(self):
        """A class or menu: an atom after 0xFFFF, or a text."""
        if self.data[self.at:self.at + 2] == b"\xff\xff":
            return self.take("HH")[1]
        return self.text()


def string_table(blocks):
    strings = {}
    for block, data in blocks.items():
        reader = Reader(data)
        for index in range(16):
            length = reader.take("H")
            text = data[reader.at:reader.at + 2 * length].decode("utf-16-le")
            reader.at += 2 * length
            if text:
                strings[(block - 1) * 16 + index] = text
        assert reader.at == len(data), f"string block {block} has {len(data) - reader.at} bytes after its texts"
    return strings


def dialog_template(data):
    """A classic DLGTEMPLATE with its font: the dialog's fields and its controls'."""
    reader = Reader(data)
    style, extended, count, x, y, width, height = reader.take("IIHhhhh")
    assert style >> 16 != 0xFFFF, "an extended template (DIALOGEX), not a classic one"
    assert style & DS_SETFONT, "no font"
    dialog = dict(style=style, extended=extended, place=(x, y, width, height), menu=reader.name(),
                  window_class=reader.name(), caption=reader.text(), point_size=reader.take("H"),
                  font=reader.text(), controls=[])
    for _ in range(count):
        reader.at = (reader.at + 3) & ~3
        style, extended, x, y, width, height, control_id = reader.take("IIhhhhH")
        control = dict(style=style, extended=extended, place=(x, y, width, height), id=control_id,
                       window_class=reader.name(), text=reader.name())
        creation_data = reader.take("H")
        reader.at += creation_data
        dialog["controls"].append(control)
    assert reader.at == len(data), f"{len(data) - reader.at} bytes after the last control"
    return dialog


def without_texts(dialog):
    return {**dialog, "caption": None, "controls": [{**control, "text": None} for control in dialog["controls"]]}


def test_format_subsystem_size_time_stamp(program, option):
    data = option("program").read_bytes()
    assert program.FILE_HEADER.TimeDateStamp == link_time(option)
    gui = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]
    assert program.OPTIONAL_HEADER.Subsystem == gui, "not a Windows GUI program"
    if not option("shipping"):
        assert b"AUTORUN_SEAM" in data, "the test build without its seam: is --shipping missing?"
        return
    assert program.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
    assert program.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE, "not PE32"
    version = (program.OPTIONAL_HEADER.MajorSubsystemVersion, program.OPTIONAL_HEADER.MinorSubsystemVersion)
    assert version == (4, 0), "Windows 95 starts subsystem version 4.0 only"
    assert len(data) <= MAX_SIZE
    assert b"AUTORUN_SEAM" not in data, "carries the test build's process-start seam"


def bound_at_run_time():
    """The calls the program binds with GetProcAddress (BindExport) by name."""
    sources = [path.read_text() for folder in ("shell", "services", "splash") for path in (ROOT / folder).glob("*.cpp")]
    return {name for text in sources for name in re.findall(r'BindExport<\w+>\([^;]*?"(\w+)"\)', text)}


def test_imports_only_classic_system_calls(program):
    """Anything else keeps the menu from starting on a plain machine, or is
    taken from its own folder. Calls are ANSI: none ends in a lower-case letter and W."""
    late = bound_at_run_time()
    assert late, "cannot find the calls bound at run time"
    imports = {entry.dll.decode().lower(): entry.imports for entry in program.DIRECTORY_ENTRY_IMPORT}
    assert imports and set(imports) <= ALLOWED_IMPORTS, f"imports {sorted(set(imports) - ALLOWED_IMPORTS)}"
    for library, calls in imports.items():
        names = [call.name.decode() if call.name else f"ordinal {call.ordinal}" for call in calls]
        wrong = [name for name in names if name.startswith("ordinal") or name in late
                 or re.search("[a-z]W$", name)]
        assert not wrong, f"{library}: {wrong} (by ordinal, wide, or bound at run time)"


def link_time(option):
    """SOURCE_DATE_EPOCH when the build was configured with it, the pinned date otherwise."""
    given = option("link_time", needed=False)
    return facts.pinned_date() if given is None else given


def static_constructors(program_path, map_path):
    """What would need a C runtime to run: the list at ___CTOR_LIST__ (in
    .text; the link map gives its address), and constructor sections the map names."""
    text = Path(map_path).read_text()
    found = [f"{name} from {source}" for name, size, source
             in re.findall(r"^ (\.ctors\S*|\.init_array\S*)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)", text, re.M)
             if int(size, 16)]
    where = re.search(r"^\s+0x([0-9a-f]+)\s+___CTOR_LIST__ = \.", text, re.M)
    assert where, f"{map_path} has no ___CTOR_LIST__"
    image = pefile.PE(str(program_path), fast_load=True)
    width = 8 if image.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 4
    rva = int(where.group(1), 16) - image.OPTIONAL_HEADER.ImageBase
    marker, first = struct.unpack_from("<2Q" if width == 8 else "<2I", image.get_data(rva, 2 * width))
    assert marker == (1 << 8 * width) - 1, f"{map_path} is not the link map of {program_path}"
    if first:
        found.append(f"___CTOR_LIST__ holds 0x{first:x}")
    return found


def test_static_constructors(option):
    """None in the menu; the check finds a program's global constructor."""
    assert static_constructors(option("program"), option("link_map")) == []
    found = static_constructors(option("constructor_fixture"), option("constructor_fixture_map"))
    assert any("___CTOR_LIST__" in finding for finding in found) and any(".ctors" in f for f in found), found


def manifest_problems(image):
    manifests = resources(image).get((RT_MANIFEST, 1), {})
    if len(manifests) != 1 or sum(kind == RT_MANIFEST for kind, _ in resources(image)) != 1:
        return [f"carries {len(manifests)} manifests, not one (type 24, name 1)"]
    root = ElementTree.fromstring(next(iter(manifests.values())))
    problems = [] if root.tag == "{urn:schemas-microsoft-com:asm.v1}assembly" else [f"root {root.tag}"]
    levels = [element for element in root.iter() if element.tag.endswith("}requestedExecutionLevel")]
    if [(level.get("level"), level.get("uiAccess", "false")) for level in levels] != [("asInvoker", "false")]:
        problems.append(f"asks for {[level.attrib for level in levels]}, not asInvoker without uiAccess")
    systems = {element.get("Id", "").lower() for element in root.iter()
               if element.tag == "{urn:schemas-microsoft-com:compatibility.v1}supportedOS"}
    if systems != SUPPORTED_SYSTEMS:
        problems.append(f"names the systems {sorted(systems)}")
    for element in root.iter():
        name = element.get("name", "")
        if re.search("dpiaware", element.tag, re.I) or "Common-Controls" in name:
            problems.append(f"declares {element.tag} {name}: DPI awareness or visual styles")
    return problems


def test_manifests(option):
    """The menu's, and the test kit's, which Windows must treat alike."""
    programs = [option("program"), *option("kit_program")]
    assert len(programs) > 1, "no --kit-program"
    problems = {str(path): manifest_problems(pefile.PE(str(path))) for path in programs}
    assert problems == {str(path): [] for path in programs}


def test_resource_set(compiled, variants):
    """Exactly the resources the menu uses, localised ones in every variant,
    others in one language; ids a resource name can hold."""
    strings, dialogs, icon = header_ids("IDS_").values(), header_ids("IDD_").values(), header_ids("IDI_")
    assert all(0 < number < 0x10000 for number in [*strings, *dialogs, *icon.values()])
    localised = {(RT_STRING, block) for block in {number // 16 + 1 for number in strings}}
    localised |= {(RT_DIALOG, number) for number in dialogs}
    assert set(compiled) - localised == {(RT_VERSION, header_ids("IDV_")["IDV_VERSION"]), (RT_MANIFEST, 1),
                                         (RT_GROUP_ICON, icon["IDI_APPLICATION_ICON"]), *(
                                             (RT_ICON, number) for number in icon_images(compiled))}
    for key in set(compiled):
        if key in localised:
            assert sorted(compiled[key]) == sorted(variants), f"type {key[0]} name {key[1]}: languages"
        else:
            assert len(compiled[key]) == 1, f"type {key[0]} name {key[1]} in {sorted(compiled[key])}"
    for kind in (RT_VERSION, RT_MANIFEST):
        assert all(language & 0x3FF == 0 for (k, _), languages in compiled.items() if k == kind
                   for language in languages), "the version block and the manifest are language-neutral"


def test_strings_in_every_variant(compiled, script, variants):
    ids = set(header_ids("IDS_").values())
    blocks = {name: languages for (kind, name), languages in compiled.items() if kind == RT_STRING}
    assert sorted(script.strings) == sorted(variants), "the scripts' variants are facts/languages.txt's"
    for language, primary in variants.items():
        strings = string_table({block: languages[language] for block, languages in blocks.items()})
        assert strings == script.strings[language], f"0x{language:04x} differs from its script"
        assert set(strings) == ids, f"0x{language:04x}: the ids of resource_ids.h"
        if language != primary:
            assert strings == script.strings[primary], f"0x{language:04x}: its primary variant's texts"
        for number, text in strings.items():
            # Loaded into 512-character buffers; an ampersand would make a
            # button label's next letter a mnemonic.
            assert len(text) <= 511 and not re.search("[&\r\t\ufffd]", text), f"0x{language:04x} id {number}"


def test_restart_notice_in_every_variant(compiled, script, variants):
    """Classic, no close box, one OK button; controls by class atom (not the
    name windres may write) inside the dialog; every variant laid out alike."""
    number = header_ids("IDD_")["IDD_RESTART_NOTICE"]
    templates = compiled[(RT_DIALOG, number)]
    layout = None
    for language, primary in variants.items():
        notice = dialog_template(templates[language])
        where = f"0x{language:04x}"
        texts = [notice["caption"], *(control["text"] for control in notice["controls"])]
        assert texts == script.dialogs[language][number], f"{where} differs from its script"
        assert all(text and not re.search("[&\r\ufffd]", text) for text in texts), f"{where}: {texts!r}"
        if language != primary:
            assert templates[language] == templates[primary], f"{where}: its primary variant's notice"
        layout = layout or without_texts(notice)
        assert without_texts(notice) == layout, f"{where}: laid out unlike the other variants"
        needed = WS_POPUP | WS_CAPTION | DS_MODALFRAME
        assert notice["style"] & needed == needed and not notice["style"] & WS_SYSMENU, where
        buttons = [control for control in notice["controls"] if control["window_class"] == BUTTON_ATOM]
        assert [(button["id"], button["style"] & 0xF) for button in buttons] == [(IDOK, BS_DEFPUSHBUTTON)], where
        statics = [control for control in notice["controls"] if control["window_class"] == STATIC_ATOM]
        assert len(statics) + len(buttons) == len(notice["controls"]), f"{where}: a class by name"
        assert all(text["style"] & 0xF == SS_CENTER and text["id"] == 0xFFFF for text in statics), where
        _, _, width, height = notice["place"]
        for control in notice["controls"]:
            x, y, w, h = control["place"]
            assert 0 <= x and 0 <= y and x + w <= width and y + h <= height, f"{where}: a control outside"
            assert control["style"] & (WS_CHILD | WS_VISIBLE) == WS_CHILD | WS_VISIBLE, where


def test_version_block(program, script, option):
    assert script.values and script.fixed, "no version block in the scripts"
    fixed = program.VS_FIXEDFILEINFO[0]
    version, product = ([most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF] for most, least in (
        (fixed.FileVersionMS, fixed.FileVersionLS), (fixed.ProductVersionMS, fixed.ProductVersionLS)))
    assert (version, product) == (script.fixed["FILEVERSION"], script.fixed["PRODUCTVERSION"])
    assert (fixed.FileFlagsMask, fixed.FileFlags, fixed.FileOS, fixed.FileType, fixed.FileSubtype) == tuple(
        script.fixed[key] for key in ("FILEFLAGSMASK", "FILEFLAGS", "FILEOS", "FILETYPE", "FILESUBTYPE"))
    tables = [table for info in program.FileInfo[0] for table in getattr(info, "StringTable", [])]
    translations = [var.entry for info in program.FileInfo[0] for var in getattr(info, "Var", [])]
    assert len(tables) == 1
    values = {key.decode(): value.decode() for key, value in tables[0].entries.items()}
    assert values == script.values
    language, code_page = int(tables[0].LangID[:4], 16), int(tables[0].LangID[4:], 16)
    assert translations == [{b"Translation": f"0x{language:04x} 0x{code_page:04x}"}], "names its own table"
    assert (values["FileVersion"], values["ProductVersion"]) == (", ".join(map(str, version)), ", ".join(map(str, product)))
    assert values["OriginalFilename"].lower() == option("program").name.lower()
    assert all(values[key] for key in ("CompanyName", "FileDescription", "InternalName", "ProductName"))


def icon_images(compiled):
    group = next(iter(compiled.get((RT_GROUP_ICON, header_ids("IDI_")["IDI_APPLICATION_ICON"]), {0: b""}).values()))
    count = struct.unpack_from("<H", group, 4)[0] if len(group) >= 6 else 0
    return [struct.unpack_from("<12xH", group, 6 + 14 * index)[0] for index in range(count)]


def test_icon_is_autorun_ico(compiled):
    """autorun.ico's images, one 32 by 32 in 256 colours (Windows 95 shows no other)."""
    ico = (RESOURCES / "autorun.ico").read_bytes()
    group = next(iter(compiled[(RT_GROUP_ICON, header_ids("IDI_")["IDI_APPLICATION_ICON"])].values()))
    assert group[:6] == ico[:6]
    square = []
    for index, number in enumerate(icon_images(compiled)):
        entry, size, offset = ico[6 + 16 * index:6 + 16 * index + 12], *struct.unpack_from("<II", ico, 14 + 16 * index)
        assert group[6 + 14 * index:6 + 14 * index + 12] == entry, f"image {index}: directory entry"
        assert next(iter(compiled[(RT_ICON, number)].values())) == ico[offset:offset + size], f"image {index}"
        width, height, colours, _, planes, bits = struct.unpack_from("<BBBBHH", entry)
        square.append(width == height == 32 and bits * planes <= 8)
    assert any(square), "no 32 by 32 image in 256 colours"


def test_same_sources_elsewhere_give_the_same_program(option, tmp_path):
    """A copy of the sources at a path of another length builds the same file."""
    if not option("shipping"):
        pytest.skip("the shipping file's check")
    program = option("program")
    stamp = link_time(option)
    copy = tmp_path / "another" / "place" / "for" / "the" / "sources"
    shutil.copytree(ROOT, copy, ignore=lambda folder, names: {"build", ".git"} & set(names)
                    if Path(folder) == ROOT else set())
    environment = {**os.environ, "SOURCE_DATE_EPOCH": str(stamp)}
    for command in (["cmake", "--preset", "win32"],
                    ["cmake", "--build", "--preset", "win32", "--target", "autorun", "-j", os.environ.get("JOBS", "2")]):
        run = subprocess.run(command, cwd=copy, env=environment, capture_output=True, text=True)
        assert run.returncode == 0, f"{' '.join(command)} in the copy:\n{run.stdout[-3000:]}{run.stderr[-3000:]}"
    other = copy / "build" / "win32" / "autorun.exe"
    assert pefile.PE(str(other), fast_load=True).FILE_HEADER.TimeDateStamp == stamp
    assert other.read_bytes() == program.read_bytes(), f"{other} differs from {program}"
    shutil.rmtree(copy)  # kept where it differs
