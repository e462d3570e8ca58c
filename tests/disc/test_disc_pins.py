"""Pins: `pin` writes the SHA-256 and size of the pinned content files
(facts/pins.txt) into the menu and changes nothing else but the checksum;
`build` pins, or takes a menu pinned and signed elsewhere; `check` refuses a
disc whose files are not the pinned ones."""
import hashlib

import pefile
import pytest

import facts
from conftest import changed_copy, joliet_files, pinned, run_tool, sign
from autorun_disc import autorun_inf, image_writer

MAGIC = facts.pins().magic
COUNT = len(facts.pins().files)
ENTRY = 40  # SHA-256, then the size as 8 bytes little-endian
ABSENT = b"\xff" * ENTRY


def record(program):
    """(offset of the entries, the entries) of a pinned program."""
    assert program.count(MAGIC) == 1
    at = program.index(MAGIC) + len(MAGIC)
    return at, [program[at + ENTRY * i:at + ENTRY * (i + 1)] for i in range(COUNT)]


def entry(path):
    data = path.read_bytes()
    return hashlib.sha256(data).digest() + len(data).to_bytes(8, "little")


@pytest.mark.parametrize("bitness", ["i686", "x86_64"])
def test_pin_changes_the_pins_and_the_checksum_only(tmp_path, gold, menu_build, test_builds, bitness):
    program = menu_build / "autorun.exe" if bitness == "i686" else test_builds.menu
    built = program.read_bytes()
    (gold / "RegSvr32.exe").rename(gold / "regsvr32.EXE")  # any case, as Windows opens it
    (gold / "DSETUP.dll").unlink()
    (gold / "dsetup32.dll").write_bytes(b"the DirectX library's helper")
    outs = [tmp_path / "first.exe", tmp_path / "second.exe"]
    for out in outs:
        result = run_tool("pin", program, "--content", gold, "--out", out)
        assert result.returncode == 0, result.output
    assert outs[0].read_bytes() == outs[1].read_bytes(), "two runs differ"

    pinned_bytes = outs[0].read_bytes()
    at, entries = record(pinned_bytes)
    assert entries == [entry(gold / "MYIR50_32.dll"), entry(gold / "regsvr32.EXE"), ABSENT,
                       entry(gold / "dsetup32.dll")]
    assert record(built)[1] == [bytes(ENTRY)] * COUNT, "the build is not unpinned"
    checksum = pefile.PE(data=built, fast_load=True).OPTIONAL_HEADER.get_file_offset() + 64
    assert pefile.PE(data=pinned_bytes).verify_checksum()
    masked = [bytearray(data) for data in (built, pinned_bytes)]
    for data in masked:
        data[at:at + ENTRY * COUNT] = bytes(ENTRY * COUNT)
        data[checksum:checksum + 4] = bytes(4)
    assert masked[0] == masked[1], "the pinned file differs from the build elsewhere"
    assert "DSETUP.dll: pinned absent" in result.stdout
    helper = gold / "dsetup32.dll"
    assert f"DSETUP32.DLL: SHA-256 {entry(helper)[:32].hex()}, {helper.stat().st_size} bytes" in result.stdout


def test_pin_refusals(tmp_path, gold, menu_build, pki):
    twice = tmp_path / "twice.exe"
    twice.write_bytes((menu_build / "autorun.exe").read_bytes() + MAGIC + bytes(ENTRY * COUNT))
    # The record in bytes no section holds, which are never loaded.
    outside = tmp_path / "outside.exe"
    outside.write_bytes((menu_build / "autorun.exe").read_bytes().replace(MAGIC, bytes(len(MAGIC)))
                        + MAGIC + bytes(ENTRY * COUNT))
    signed = sign(pki, menu_build / "autorun.exe", tmp_path / "signed.exe")
    out = tmp_path / "pinned.exe"
    cases = [
        (["pin", menu_build / "recorder.exe", "--content", gold, "--out", out], "holds the pin record's magic 0 times"),
        (["pin", twice, "--content", gold, "--out", out], "holds the pin record's magic 2 times"),
        (["pin", outside, "--content", gold, "--out", out], "outside.exe holds its pin record outside its sections"),
        (["pin", signed, "--content", gold, "--out", out], "is signed, and pinning would break its signature"),
        (["pin", tmp_path / "none.exe", "--content", gold, "--out", out], "none.exe is not a file"),
        (["pin", menu_build / "autorun.exe", "--content", tmp_path / "none", "--out", out], "does not exist"),
        (["pin", menu_build / "autorun.exe", "--content", gold, "--out", tmp_path], "is a folder"),
        (["pin", menu_build / "autorun.exe", "--content", gold, "--out", "/sys/pinned.exe"],
         "cannot write --out /sys/pinned.exe"),  # a folder no one can write, root included
        (["pin", menu_build / "autorun.exe", "--content", gold], "pin needs --content DIR and --out FILE"),
        (["pin", menu_build / "autorun.exe", "--content", gold, "--out", out, "--sign-pfx", "x"],
         "does not know the option --sign-pfx"),
    ]
    for arguments, says in cases:
        result = run_tool(*arguments)
        assert result.returncode == 1, (arguments, result.output)
        assert says in result.stderr, (arguments, result.stderr)
        assert not out.exists()


def make_image(tmp_path, folder, program, name):
    """An image of a folder with the given menu, as `build` writes it."""
    inf = tmp_path / f"{name}.inf"
    inf.write_bytes(autorun_inf.make("ZANTORIA"))
    image = tmp_path / f"{name}.iso"
    image_writer.write(image, "ZANTORIA", 946684800, folder, {"/autorun.exe": program, "/autorun.inf": inf})
    return image


def test_build_pins_and_check_holds_the_pins_against_the_disc(tmp_path, gold, menu_build, pki):
    image = tmp_path / "disc.iso"
    (gold / "DSETUP.dll").unlink()
    result = run_tool("build", "--content", gold, "--out", image, "--allow-missing")
    assert result.returncode == 0, result.output
    on_disc = joliet_files(image)["/autorun.exe"]
    assert on_disc == pinned(menu_build / "autorun.exe", gold)
    assert record(on_disc)[1][2] == ABSENT, "a missing file is not pinned as absent"
    result = run_tool("check", image)
    assert result.returncode == 0, result.output
    assert "autorun.exe pins:" in result.stdout and "DSETUP.dll: pinned absent" in result.stdout

    # The menu pinned to this folder, on discs whose files are others.
    program = tmp_path / "autorun.exe"
    program.write_bytes(on_disc)
    other = changed_copy(gold, tmp_path / "other")
    (other / "DSETUP.dll").write_bytes((menu_build / "dsetup_standin.dll").read_bytes())
    (other / "MYIR50_32.dll").unlink()
    result = run_tool("check", make_image(tmp_path, other, program, "other"))
    assert result.returncode == 1
    for fault in ["RegSvr32.exe on the disc is not the file autorun.exe pins",
                  "autorun.exe pins DSETUP.dll as absent, but the disc holds one",
                  "autorun.exe pins MYIR50_32.dll, but the disc holds none"]:
        assert fault in result.stderr, fault

    # A signed menu without pins (the build's, or a program with no pin
    # record); an unsigned one passes, said to be unpinned.
    for unpinned in ("autorun.exe", "recorder.exe"):
        signed = sign(pki, menu_build / unpinned, tmp_path / f"signed-{unpinned}")
        result = run_tool("check", make_image(tmp_path, gold, signed, f"signed-{unpinned}"))
        assert result.returncode == 1, unpinned
        assert "autorun.exe is signed but pins no file" in result.stderr, unpinned
    result = run_tool("check", make_image(tmp_path, gold, menu_build / "autorun.exe", "unpinned"))
    assert result.returncode == 0, result.output
    assert "autorun.exe: not pinned" in result.stdout


def test_menu_pinned_and_signed_elsewhere(tmp_path, gold, menu_build, pki):
    """pin, sign elsewhere, build --signed-menu --signed-by: the disc carries
    that file as it is; one unsigned, pinned to other files, of another
    program, signed by another certificate, with SHA-1 or over other bytes
    is refused."""
    unsigned = tmp_path / "pinned.exe"
    assert run_tool("pin", menu_build / "autorun.exe", "--content", gold, "--out", unsigned).returncode == 0
    signed = sign(pki, unsigned, tmp_path / "signed.exe")
    image = tmp_path / "disc.iso"
    result = run_tool("build", "--content", gold, "--out", image, "--signed-menu", signed, "--signed-by", pki.chain_pem)
    assert result.returncode == 0, result.output
    assert joliet_files(image)["/autorun.exe"] == signed.read_bytes()
    assert run_tool("check", image, "--content", gold, "--signed-by", pki.chain_pem).returncode == 0

    tampered = bytearray(unsigned.read_bytes())
    tampered[0x4E] ^= 1  # the DOS stub's text
    (tmp_path / "tampered.exe").write_bytes(bytes(tampered))
    tampered_signed = bytearray(sign(pki, tmp_path / "tampered.exe", tmp_path / "tampered-signed.exe").read_bytes())
    tampered_signed[0x4E] ^= 1  # the pinned menu's bytes, under the tampered file's signature
    (tmp_path / "signed-over-other-bytes.exe").write_bytes(bytes(tampered_signed))
    chain = ["--signed-by", pki.chain_pem]
    cases = [
        (gold, unsigned, "carries no signature", *chain),
        (changed_copy(gold, tmp_path / "other"), signed, "is not pinned to this content: RegSvr32.exe", *chain),
        (gold, tmp_path / "tampered-signed.exe", "without its signature is not this build's menu pinned", *chain),
        (gold, signed, "give no signing options with it", "--sign-pfx", pki.publisher_pfx, *chain),
        (gold, signed, "--signed-menu needs --signed-by CHAIN"),
        (gold, sign(pki, unsigned, tmp_path / "reissued.exe", chain="reissued-chain.pem"),
         "reissued.exe is signed by 'CN=Test Publisher' (SHA-256 fingerprint ", *chain),
        (gold, sign(pki, unsigned, tmp_path / "sha1.exe", digest="sha1"), "sha1.exe is signed with SHA-1, not SHA-256",
         *chain),
        (gold, tmp_path / "signed-over-other-bytes.exe",
         f"the signature of --signed-menu {tmp_path / 'signed-over-other-bytes.exe'} does not verify", *chain),
    ]
    for content, menu, says, *more in cases:
        result = run_tool("build", "--content", content, "--out", image, "--signed-menu", menu, *more)
        assert result.returncode == 1, (says, result.output)
        assert says in result.stderr, (says, result.stderr)
        assert not image.exists()
