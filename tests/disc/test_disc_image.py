"""Discs made by ./autorun-disc build, read back with pycdlib: every name,
case and byte intact, the same image from the same folder, files the menu
could not use refused or warned about, and the check of images that do not match."""
import os
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path
from types import SimpleNamespace

import pycdlib
import pytest

from conftest import ROOT, UMLAUT_NAME, joliet_files, pinned, run_tool
import facts
from autorun_disc import disc_check
from autorun_disc.image_reader import Image

INF = b"[autorun]\r\nopen=autorun.exe\r\nicon=autorun.exe,0\r\nlabel=TEST_DISC\r\n"


def xorriso_image(image, folder, label, *options):
    subprocess.run(["xorriso", "-no_rc", "-report_about", "SORRY", "-outdev", f"stdio:{image}", *options,
                    "-volid", label, "-map", str(folder), "/", "-commit"], check=True, capture_output=True)


def test_publisher_disc(tmp_path, menu_build, plain_image):
    image, gold = plain_image, plain_image.parents[1] / "gold"
    on_disc = joliet_files(image)
    expected = {"/" + str(path.relative_to(gold)): path.read_bytes() for path in gold.rglob("*") if path.is_file()}
    assert f"/{UMLAUT_NAME}" in on_disc and "/Movies/Intro Movie.avi" in on_disc
    assert on_disc == {**expected, "/autorun.exe": pinned(menu_build / "autorun.exe", gold), "/autorun.inf": INF}

    # The same content elsewhere, with other dates, modes and umask and in
    # another locale, gives the same bytes.
    again = tmp_path / "gold-again"
    shutil.copytree(gold, again)
    os.utime(again / "setup.exe", (1321010000, 1321010000))
    os.utime(again / "Movies", (1321010000, 1321010000))
    (again / "DSETUP.dll").chmod(0o600)
    second = tmp_path / "second.iso"
    result = subprocess.run(["sh", "-c", 'umask 077 && exec "$@"', "sh", "./autorun-disc", "build", "--content",
                             str(again), "--label", "TEST_DISC", "--out", str(second)],
                            cwd=ROOT, env={**os.environ, "LC_ALL": "C"}, capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert second.read_bytes() == image.read_bytes()

    # The tool's own check agrees, and names each difference from a changed folder.
    assert run_tool("check", image, "--content", gold).returncode == 0
    (again / "setup.exe").write_bytes(b"X" + (gold / "setup.exe").read_bytes()[1:])
    (again / "Movies" / "Extras" / "Credits.txt").unlink()
    (again / "extra.txt").write_bytes(b"")
    (again / "Saves").rmdir()
    result = run_tool("check", image, "--content", again)
    assert result.returncode == 1
    for fault in ["/setup.exe differs from --content", "the Joliet tree lacks /extra.txt",
                  "the Rock Ridge tree lacks /extra.txt", "the Joliet tree has /Movies/Extras/Credits.txt, which",
                  "the Rock Ridge tree has the folder /Saves, which"]:
        assert fault in result.stderr


def test_demo_disc(tmp_path, menu_build, demo_image):
    on_disc = joliet_files(demo_image.image)
    assert sorted(on_disc) == sorted(["/" + name for _, name in facts.standins()]
                                     + ["/README.TXT", "/autorun.bmp", "/autorun.exe", "/autorun.inf"])
    for built, name in facts.standins():
        assert on_disc["/" + name] == (menu_build / built).read_bytes(), name
    readme = on_disc["/README.TXT"]
    assert all(32 <= byte < 127 or byte in b"\r\n" for byte in readme)
    assert readme.count(b"\r\n") == readme.count(b"\n") > 5
    # Dated by facts/pinned-date.txt, or by --date.
    assert "2000-01-01 00:00:00 UTC from facts/pinned-date.txt" in demo_image.stdout
    result = run_tool("build", "--demo", "--out", tmp_path / "other.iso", "--date", "1000000000")
    assert "2001-09-09 01:46:40 UTC from --date" in result.stdout
    assert (tmp_path / "other.iso").read_bytes() != demo_image.image.read_bytes()


def test_missing_files(tmp_path, gold):
    image = tmp_path / "disc.iso"
    image.write_bytes(b"earlier")
    (gold / "RegSvr32.exe").unlink()
    result = run_tool("build", "--content", gold, "--out", image)
    assert result.returncode == 1
    assert "missing from the disc: RegSvr32.exe" in result.stderr
    assert "give --allow-missing" in result.stderr
    assert not image.exists()
    # 16 characters is the longest label.
    result = run_tool("build", "--content", gold, "--out", image, "--allow-missing", "--label", "ABCDEFGHIJ_12345")
    assert result.returncode == 0, result.output
    assert "missing from the disc: RegSvr32.exe" in result.stderr
    assert "/RegSvr32.exe" not in joliet_files(image)


@pytest.mark.parametrize("own", ["autorun.inf", "AutoRun.EXE"])
def test_content_with_a_menu_of_its_own(tmp_path, gold, own):
    (gold / own).write_bytes(b"")
    result = run_tool("build", "--content", gold, "--out", tmp_path / "disc.iso")
    assert result.returncode == 1
    assert f"holds {own}; the tool puts its own {own.lower()} on the disc" in result.stderr


def windows16(path):
    path.write_bytes(b"MZ" + bytes(58) + b"\x40\0\0\0NE" + bytes(62))


def bitmap(path, width, height):
    row = (width + 31) // 32 * 4
    path.write_bytes(b"BM" + struct.pack("<IHHI", 62 + row * height, 0, 0, 62)
                     + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0, 0, 0, 0, 2, 0) + bytes(8)
                     + bytes(row * height))


def forwarding_library(path, forwarder):
    """An i686 library whose ordinal 5 is forwarded, made with MinGW."""
    source, definitions = path.with_suffix(".c"), path.with_suffix(".def")
    source.write_text("int __stdcall DllMain(void* a, unsigned long b, void* c) { return 1; }\n")
    definitions.write_text(f"LIBRARY DSETUP.dll\nEXPORTS\n  DirectXSetupA = {forwarder} @5\n")
    subprocess.run(["i686-w64-mingw32-gcc", "-shared", "-nostdlib", "-Wl,-e,_DllMain@12", "-o", str(path),
                    str(source), str(definitions)], check=True)


def importing_library(path):
    """An i686 library with ordinal 5 that imports from HELPER.dll, and a HELPER.dll beside it."""
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        (scratch / "helper.def").write_text("LIBRARY HELPER.dll\nEXPORTS\n  HelperCall\n")
        (scratch / "dsetup.c").write_text("__declspec(dllimport) int HelperCall(void);\n"
                                          "int DirectXSetupA(void) { return HelperCall(); }\n"
                                          "int __stdcall DllMain(void* a, unsigned long b, void* c) { return 1; }\n")
        (scratch / "dsetup.def").write_text("LIBRARY DSETUP.dll\nEXPORTS\n  DirectXSetupA @5\n")
        subprocess.run(["i686-w64-mingw32-dlltool", "-d", scratch / "helper.def", "-l", scratch / "libhelper.a"],
                       check=True)
        subprocess.run(["i686-w64-mingw32-gcc", "-shared", "-nostdlib", "-Wl,-e,_DllMain@12", "-o", path,
                        scratch / "dsetup.c", scratch / "dsetup.def", scratch / "libhelper.a"], check=True)
    shutil.copyfile(path, path.with_name("HELPER.dll"))


def arm_library(path, menu_build):
    """The i386 stand-in with its machine changed to ARM: PE32 all the same."""
    data = bytearray((menu_build / "dsetup_standin.dll").read_bytes())
    header = struct.unpack_from("<I", data, 0x3C)[0]
    struct.pack_into("<H", data, header + 4, 0x01C4)
    path.write_bytes(bytes(data))


# One mistake a folder: the file, what it is made from, what the refusal says.
MISTAKES = [
    ("MYIR50_32.dll", "win64 library", "is a 64-bit library for x86_64 (PE32+), not a PE32 library for i386; the "
     "menu is a 32-bit program and cannot load it: Install codec would copy it into the system folder"),
    ("DSETUP.dll", "wrong ordinal", "does not export ordinal 5, by which the menu binds DirectXSetupA: Install "
     "would report a failed DirectX update"),
    ("DSETUP.dll", "ARM", "is a library for ARM (PE32), not a PE32 library for i386"),
    ("DSETUP.dll", "forwarded away", "forwards ordinal 5, by which the menu binds DirectXSetupA, to "
     "DSETUP32.DirectXSetupA, but DSETUP32.dll is neither on the disc nor a library of Windows itself; the menu's "
     "GetProcAddress would fail"),
    # Only the pinned files lie beside the copy the menu loads the library from.
    ("DSETUP.dll", "imports from the disc", "imports HELPER.dll, a library on the disc that is not one of the files "
     "the menu pins (MYIR50_32.dll, RegSvr32.exe, DSETUP.dll, DSETUP32.DLL)"),
    ("DSETUP.dll", "forwarded to the disc", "forwards an export to HELPER.DirectXSetupA, in HELPER.dll, a library on "
     "the disc that is not one of the files the menu pins"),
    ("autorun.bmp", "png", "cannot be read by the menu's bitmap reader (it is a PNG picture, not a Windows "
     "bitmap): the menu would show black"),
    ("setup.exe", "text", "is not a Windows program (it has no MZ header): Install would fail to start it"),
    ("RegSvr32.exe", "win64 program", "is a 64-bit program for x86_64 (PE32+), not a PE32 program for i386; on "
     "64-bit Windows the 32-bit menu copies the codec into the 32-bit system folder, where a 64-bit registration "
     "program neither looks nor could load it"),
    ("RegSvr32.exe", "16-bit", "is a 16-bit Windows program, not a PE32 program for i386; it cannot load a 32-bit "
     "library: Install codec would copy the codec into the system folder and never register it"),
]


def plant(kind, path, menu_build, test_builds):
    makers = {
        "win64 library": lambda: shutil.copyfile(test_builds.library, path),
        "win64 program": lambda: shutil.copyfile(test_builds.program, path),
        "wrong ordinal": lambda: shutil.copyfile(test_builds.wrong_ordinal, path),
        "ARM": lambda: arm_library(path, menu_build),
        "forwarded away": lambda: forwarding_library(path, "DSETUP32.DirectXSetupA"),
        "forwarded on the disc": lambda: (forwarding_library(path, "DSETUP32.DirectXSetupA"),
                                          shutil.copyfile(path, path.with_name("dsetup32.DLL"))),
        "forwarded to KERNEL32": lambda: forwarding_library(path, "KERNEL32.Beep"),
        "imports from the disc": lambda: importing_library(path),
        "forwarded to the disc": lambda: (forwarding_library(path, "HELPER.DirectXSetupA"),
                                          shutil.copyfile(path, path.with_name("HELPER.dll"))),
        "png": lambda: path.write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(32)),
        "640 by 480": lambda: bitmap(path, 640, 480),
        "text": lambda: path.write_bytes(b"not a program\r\n"),
        "16-bit": lambda: windows16(path),
    }
    makers[kind]()


@pytest.mark.parametrize("name, kind, says", MISTAKES, ids=[f"{name}-{kind}" for name, kind, _ in MISTAKES])
def test_files_the_menu_cannot_use(tmp_path, gold, menu_build, test_builds, name, kind, says):
    plant(kind, gold / name, menu_build, test_builds)
    image = tmp_path / "disc.iso"
    result = run_tool("build", "--content", gold, "--out", image)
    assert result.returncode == 1, result.output
    assert f"autorun-disc: refused: {name} {says}" in result.stderr
    assert "or give --allow-mismatch" in result.stderr
    assert not image.exists()
    result = run_tool("build", "--content", gold, "--out", image, "--allow-mismatch")
    assert result.returncode == 0, result.output
    assert f"autorun-disc: warning: {name} {says}" in result.stderr
    assert image.is_file()


# Files the menu can use: a forward the loader resolves, unremarked; files warned about.
ACCEPTED = {
    "forwarded on the disc": ([("DSETUP.dll", "forwarded on the disc")], []),
    "forwarded to KERNEL32": ([("DSETUP.dll", "forwarded to KERNEL32")], []),
    "a picture of another size and a 16-bit setup": ([("autorun.bmp", "640 by 480"), ("setup.exe", "16-bit")], [
        "autorun.bmp is 640 by 480 pixels, not 480 by 360",
        "setup.exe is a 16-bit Windows program: it will not start on 64-bit Windows"]),
    "a 64-bit setup": ([("setup.exe", "win64 program")],
                       ["setup.exe is a 64-bit (x86_64) program: it will not start on 32-bit Windows"]),
}


@pytest.mark.parametrize("case", ACCEPTED)
def test_files_the_menu_can_use(tmp_path, gold, menu_build, test_builds, case):
    files, says = ACCEPTED[case]
    for name, kind in files:
        plant(kind, gold / name, menu_build, test_builds)
    result = run_tool("build", "--content", gold, "--out", tmp_path / "disc.iso")
    assert result.returncode == 0, result.output
    warnings = [line for line in result.stderr.splitlines() if line.startswith("autorun-disc: warning: ")]
    assert len(warnings) == len(says) and all(any(text in line for line in warnings) for text in says), warnings
    assert says or "DSETUP.dll" not in result.stderr


def test_folder_entries_windows_cannot_open(tmp_path, gold):
    # Each refused while the ones after it are there too, then taken away.
    entries = [(gold / "Saves" / "pipe", os.mkfifo, "/Saves/pipe (neither a file nor a folder)"),
               (gold / "Movies" / "a:b.txt", Path.touch, "/Movies/a:b.txt holds ':'"),
               (gold / "read me first.TXT", Path.touch, "/Read Me First.txt and /read me first.TXT")]
    for path, make, _ in entries:
        make(path)
    (gold / "Saves" / "latest").symlink_to(gold / "Movies" / "Intro Movie.avi")
    for path, _, says in entries:
        result = run_tool("build", "--content", gold, "--out", tmp_path / "disc.iso")
        assert result.returncode == 1 and says in result.stderr, says
        path.unlink()
    # A link is followed, the disc holds what it points to; one that leads
    # out of the folder only with --allow-links.
    (tmp_path / "elsewhere.txt").write_bytes(b"elsewhere")
    (gold / "Movies" / "elsewhere.txt").symlink_to(tmp_path / "elsewhere.txt")
    result = run_tool("build", "--content", gold, "--out", tmp_path / "disc.iso")
    assert result.returncode == 1
    assert f"/Movies/elsewhere.txt (a link to {tmp_path / 'elsewhere.txt'})" in result.stderr
    assert "or give --allow-links" in result.stderr
    result = run_tool("build", "--content", gold, "--out", tmp_path / "disc.iso", "--allow-links")
    assert result.returncode == 0, result.output
    on_disc = joliet_files(tmp_path / "disc.iso")
    assert on_disc["/Saves/latest"] == b"Intro Movie.avi\r\n\0\377\n"
    assert on_disc["/Movies/elsewhere.txt"] == b"elsewhere"


def test_check_of_images_made_elsewhere(tmp_path, menu_build):
    # autorun.inf with the usual mistakes, a volume name other than its label.
    folder = tmp_path / "bad-inf"
    folder.mkdir()
    (folder / "autorun.inf").write_bytes(b"[AutoRun]\nopen=setup.exe\nlabel=BAD\xe9\nlabel=BAD\n")
    shutil.copyfile(menu_build / "autorun.exe", folder / "autorun.exe")
    xorriso_image(tmp_path / "bad-inf.iso", folder, "OTHER", "-joliet", "on")
    result = run_tool("check", tmp_path / "bad-inf.iso")
    assert result.returncode == 1
    for fault in ["not printable ASCII", "CR LF", "no icon=", "label= 2 times",
                  "opens setup.exe, which is not on the disc",
                  "volume name is 'OTHER', not 'BAD\xe9'"]:
        assert fault in result.stderr, fault

    # Without Joliet names Windows sees upper-case 8.3 names.
    content = tmp_path / "content"
    content.mkdir()
    (content / "Read me.txt").write_bytes(b"x")
    (folder / "autorun.inf").write_bytes(INF)
    shutil.copyfile(content / "Read me.txt", folder / "Read me.txt")
    xorriso_image(tmp_path / "no-joliet.iso", folder, "TEST_DISC", "-joliet", "off", "-rockridge", "on")
    result = run_tool("check", tmp_path / "no-joliet.iso", "--content", content)
    assert result.returncode == 1
    assert result.stderr.splitlines()[1:] == ["  the image has no Joliet names: Windows would see only upper-case "
                                              "8.3 names"]
    xorriso_image(tmp_path / "joliet.iso", folder, "TEST_DISC", "-joliet", "on")
    assert run_tool("check", tmp_path / "joliet.iso", "--content", content).returncode == 0


def test_check_reads_what_it_lists(plain_image):
    faults, notes = disc_check.check(plain_image)
    assert faults == []
    assert "  /Movies/Intro Movie.avi  (20 bytes)" in notes and "  /Saves/" in notes
    assert "autorun.exe: not signed" in notes
    assert notes[-1] == "11 files, 3 folders, volume TEST_DISC, names: Joliet and Rock Ridge"


@pytest.fixture(scope="module")
def demo_image(tmp_path_factory):
    """The demo disc, what `build` said, the volume's size and where the menu's data starts."""
    image = tmp_path_factory.mktemp("demo") / "demo.iso"
    result = run_tool("build", "--demo", "--out", image)
    assert result.returncode == 0, result.output
    iso = pycdlib.PyCdlib()
    iso.open(str(image))
    block = iso.pvd.log_block_size
    found = SimpleNamespace(image=image, stdout=result.stdout, volume=iso.pvd.space_size * block,
                            program=iso.get_record(joliet_path="/autorun.exe").extent_location() * block)
    iso.close()
    return found


# Where an image is cut, from the volume's size and the start of the menu's data.
CUTS = {
    "past its volume, in xorriso's padding": lambda volume, program: volume,
    "in the volume's last block": lambda volume, program: volume - 1,
    "in the menu's data": lambda volume, program: program + 1000,
}


@pytest.mark.parametrize("cut", CUTS)
def test_image_cut_short(tmp_path, demo_image, cut):
    volume = demo_image.volume
    length = CUTS[cut](volume, demo_image.program)
    cut_image = tmp_path / "cut.iso"
    cut_image.write_bytes(demo_image.image.read_bytes()[:length])
    result = run_tool("check", cut_image)
    if length == volume:
        assert result.returncode == 0, result.output
        return
    assert result.returncode == 1
    assert (f"the image is {length} bytes, shorter than the {volume} bytes ({volume // 2048} blocks of 2048) its "
            f"volume descriptor states" in result.stderr)
    assert "autorun.inf" not in result.output
    with Image(cut_image) as reader:
        assert min(reader.listing("Joliet")[1].values()) >= 0


def root_record_cut(data):
    """The first record of the root folder one byte long: shorter than any record."""
    root = struct.unpack_from("<I", data, 16 * 2048 + 158)[0]
    return data[:root * 2048] + b"\1" + data[root * 2048 + 1:]


NOT_A_VOLUME = "block 16 of the image is not a primary volume descriptor"
DAMAGES = {
    "not an image at all": (lambda data: b"[autorun]\r\n" * 4000, NOT_A_VOLUME),
    "cut in its volume descriptor": (lambda data: data[:16 * 2048 + 100], "too short to hold its volume descriptor"),
    "another descriptor in block 16": (lambda data: data[:16 * 2048] + b"\2" + data[16 * 2048 + 1:], NOT_A_VOLUME),
    "the root folder's first record cut": (root_record_cut, "as an ISO 9660 image, it is damaged"),
}


@pytest.mark.parametrize("damage", DAMAGES)
def test_damaged_image(tmp_path, plain_image, damage):
    make, says = DAMAGES[damage]
    damaged = tmp_path / "damaged.iso"
    damaged.write_bytes(make(plain_image.read_bytes()))
    result = run_tool("check", damaged)
    assert result.returncode == 1, result.output
    assert says in result.stderr and str(damaged) in result.stderr
