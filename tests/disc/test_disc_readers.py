"""The tool's readers on their own: autorun.inf as Windows reads it, names
Windows opens, the files the menu opens, a signature's digest algorithms."""
import pytest

from autorun_disc import authenticode, autorun_inf, content
from autorun_disc.errors import Refused

GOOD_INF = b"[autorun]\r\nopen=autorun.exe\r\nicon=autorun.exe,0\r\nlabel=ZANTORIA\r\n"


def assert_faults(found, faults):
    """One fault found for each text, in order, holding it."""
    assert len(found) == len(faults) and all(text in fault for fault, text in zip(found, faults)), found


def test_written_inf_reads_back():
    assert autorun_inf.make("ZANTORIA") == GOOD_INF
    assert autorun_inf.parse(GOOD_INF) == ({"open": "autorun.exe", "icon": "autorun.exe,0", "label": "ZANTORIA"}, [])


@pytest.mark.parametrize("inf, values, faults", [
    (b"[AutoRun]\r\n Open = setup.exe \r\nICON=a.exe\r\nlabel=X\r\n[other]\r\nlabel=Y\r\n",
     {"open": "setup.exe", "icon": "a.exe", "label": "X"}, []),
    (b"; comment\r\n[autorun]\r\nopen=a.exe\r\n;icon=a.exe\r\nlabel=X\r\n", {"open": "a.exe", "label": "X"},
     ["no icon= in an [autorun] section"]),
    (b"[AutoRun]\nopen=setup.exe\nlabel=BAD\xe9\nlabel=BAD\n", {"open": "setup.exe", "label": "BAD\xe9"},
     ["1 bytes that are not printable ASCII", "CR LF", "no icon=", "label= 2 times"]),
    (b"[autorun]\r\nopen=a\r\nicon=a\r\nlabel=X", {"open": "a", "icon": "a", "label": "X"}, ["CR LF"]),
    (b"[autorun]\r\nopen=a\r\r\nicon=a\r\nlabel=X\r\n", {"open": "a", "icon": "a", "label": "X"}, ["CR LF"]),
    (b"[setup]\r\nopen=a\r\nicon=a\r\nlabel=X\r\n", {}, ["no open=", "no icon=", "no label="]),
])
def test_inf_parsed_as_windows_reads_it(inf, values, faults):
    found_values, found = autorun_inf.parse(inf)
    assert found_values == values
    assert_faults(found, faults)


@pytest.mark.parametrize("values, faults", [
    ({"open": "autorun.exe", "icon": "autorun.exe,0"}, []),
    ({"open": "Data\\Setup.EXE /q", "icon": "AUTORUN.EXE"}, []),
    ({"open": "setup.exe", "icon": "autorun.exe,-101"}, ["opens setup.exe, which is not on the disc"]),
    ({"icon": "autorun.exe,1"}, ["autorun.exe has no icon at index 1"]),
    ({"icon": "autorun.exe,-5"}, ["autorun.exe has no icon group 5"]),
    ({"icon": "autorun.exe,one"}, ["icon index 'one', which is not a number"]),
    ({"icon": "menu.ico"}, ["takes its icon from menu.ico, which is not on the disc"]),
    ({"icon": "data/setup.exe"}, ["data/setup.exe has no icon at index 0"]),
])
def test_inf_references(menu_build, values, faults):
    disc = {"/autorun.exe": (menu_build / "autorun.exe").read_bytes(), "/data/setup.exe": b"not a program"}

    assert_faults(autorun_inf.check_references(values, lambda path: disc.get("/" + path.replace("\\", "/").lower())),
                  faults)


@pytest.mark.parametrize("name, problem", [
    *((name, None) for name in ["Intro Movie.avi", "\u00dcbersicht.txt", "x" * 64, "COM10.txt", "console.txt",
                                     "CONIN.txt", "$CONOUT"]),
    ("x" * 65, "longer than the 64 characters"),
    ("a:b", "':'"), ("what?.txt", "'?'"), ("tab\there", "'\\t'"),
    ("bad\udcffname", "is not UTF-8 text"),
    ("CON", "is the device CON to Windows"), ("nul.txt", "is the device NUL"),
    ("Com1.tar.gz", "is the device COM1"), ("lpt9 .Dat", "is the device LPT9"),
    ("COM0", "is the device COM0"), ("lpt0.txt", "is the device LPT0"),
    ("conin$", "is the device CONIN$"), ("CONOUT$.log", "is the device CONOUT$"),
    ("notes.", "ends in a dot or a space"), ("Extras ", "ends in a dot or a space"),
])
def test_names_windows_opens(name, problem):
    found = content.name_problem(name)
    assert (found is None) == (problem is None)
    assert problem is None or problem in found


def test_menu_files_found_in_any_case():
    files = {"/SETUP.EXE": None, "/autorun.BMP": None, "/Data/DSETUP.dll": None, "/myir50_32.DLL": None}
    assert content.missing_menu_files(files) == ["RegSvr32.exe", "DSETUP.dll"]


def test_folder_refusals(tmp_path):
    # Each refused while the ones after it are there too, then taken away.
    (tmp_path / "Readme.txt").write_bytes(b"")
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "loop").symlink_to(tmp_path)
    (tmp_path / "sub" / "gone").symlink_to(tmp_path / "none")
    (tmp_path / "README.TXT").write_bytes(b"")
    for planted, says in [("sub/loop", "a link back to a folder above it"),
                          ("sub/gone", r"/sub/gone \(a broken link\)"), ("README.TXT", "/README.TXT and /Readme.txt")]:
        with pytest.raises(Refused, match=says):
            content.scan(tmp_path)
        (tmp_path / planted).unlink()
    content.scan(tmp_path)


# A SignedData of a ContentInfo, cut down to what the walk reads: the type,
# [0] { version, { {sha256}, {sha1, NULL} } }.
SHA256 = bytes.fromhex("0609608648016503040201")
SHA1 = bytes.fromhex("06052b0e03021a0500")
SIGNED_DATA = bytes.fromhex("3020" "06092a864886f70d010702" "a013" "3011" "020101" "310c"
                            "300b") + SHA256 + bytes.fromhex("3009") + SHA1


def test_digest_algorithms_of_a_signature():
    der = bytearray(SIGNED_DATA)
    # Lengths as written above: fix the outer ones for the real contents.
    der[1], der[14], der[16], der[21] = len(der) - 2, len(der) - 15, len(der) - 17, len(der) - 22
    assert authenticode.digest_algorithms(bytes(der)) == ["SHA-256", "SHA-1"]
    # Cut short, a ContentInfo of its type alone, an empty algorithm: each a DerError, nothing else.
    damaged = [bytes(der[:cut]) for cut in (1, 5, 20, len(der) - 1)] + [bytes.fromhex("3003 06012a")]
    damaged.append(bytes(der).replace(SHA1, bytes.fromhex("0600 0500 0403000000")))
    for broken in damaged:
        with pytest.raises(authenticode.DerError):
            authenticode.digest_algorithms(broken)
        with pytest.raises(authenticode.DerError):
            authenticode.signers(broken)


@pytest.mark.parametrize("der", [b"\x30\x84\xff\xff\xff\xff", b"\x30\x80", b"\x30\x89" + bytes(9)])
def test_der_lengths_beyond_the_bytes(der):
    with pytest.raises(authenticode.DerError):
        authenticode.element(der, 0)
