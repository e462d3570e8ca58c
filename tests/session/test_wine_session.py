"""The Wine session uses, changes and removes no prefix it did not make, and
makes, marks, clears and makes again its own; it finds its own programs by
the name this host's Wine gives their processes."""
import os
import shutil

import pytest
from conftest import fingerprint, wait_for
from winesession.processes import names_program, unix_name, windows_names


def expect_only_our_prefixes(box, run):
    for line in run.log:
        assert line.startswith((f"wine {box.wine_dir}/", f"wineserver {box.wine_dir}/")), \
            f"Wine was started outside the session's prefixes: {line}"


def expect_made(prefix):
    assert "ready" in (prefix / ".autorun-wine-session").read_text().splitlines(), f"{prefix} is not marked ready"
    left = [path for path in (prefix / "drive_c" / "windows").rglob("*") if path.name.lower() == "ir50_32.dll"]
    assert not left, f"a codec file is left in {prefix}: {left}"


def test_a_callers_prefix_is_ignored_and_left_as_it_was(box):
    run = box.session("--i686", "--", *box.inside, WINEPREFIX=str(box.player), WINEARCH="win32")
    assert run.status == 0, run.said
    assert f"WINEPREFIX={box.wine_dir}/x86_64" in run.env
    assert f"AUTORUN_WINEPREFIX_I686={box.wine_dir}/i686" in run.env
    assert not [line for line in run.env if line.startswith("WINEARCH=")]
    assert f"ignoring WINEPREFIX={box.player}" in run.said
    assert "ignoring WINEARCH=win32" in run.said
    expect_only_our_prefixes(box, run)
    expect_made(box.wine_dir / "x86_64")
    expect_made(box.wine_dir / "i686")
    assert any(line.startswith(f"wine {box.wine_dir}/x86_64 reg delete HKLM\\SOFTWARE\\KORU Media")
               for line in run.log), "the install record left in its own prefix is not cleared"
    assert f"wineserver {box.wine_dir}/x86_64 -k" in run.log[-4:], "its servers are not stopped at the end"


@pytest.mark.parametrize("bits, wine32, assume, reason", [
    ("0", "1", "0", "this machine cannot run 32-bit code"),
    ("1", "0", "0", "wine32 is not installed"),
    ("1", "1", "1", "this machine cannot run 32-bit code (AUTORUN_ASSUME_NO_32BIT=1)"),
])
def test_no_i686_prefix_where_the_i686_run_cannot_be_made(box, bits, wine32, assume, reason):
    options = dict(fake_32bit=bits, fake_wine32=wine32, AUTORUN_ASSUME_NO_32BIT=assume)
    run = box.session("--i686", "--", *box.inside, WINEPREFIX=str(box.player), **options)
    assert run.status == 0, run.said
    assert f"WINEPREFIX={box.wine_dir}/x86_64" in run.env
    assert not [line for line in run.env if line.startswith("AUTORUN_WINEPREFIX_I686=")]
    assert reason in run.said
    assert not (box.wine_dir / "i686").exists(), "an i686 prefix was made"
    expect_only_our_prefixes(box, run)

    asked = box.session("--can-run", "i686", **options)
    assert asked.status == 1
    assert reason in (asked.out / "stdout").read_text()


def test_can_run_i686_where_it_can(box):
    assert box.session("--can-run", "i686").status == 0


REFUSALS = {
    "a folder it did not make": ("copy", "demo", ["--prefix", "demo", "--", "true"]),
    "a link to a marked prefix elsewhere": ("link", "demo", ["--prefix", "demo", "--", "true"]),
    "a prefix it did not make, with --fresh": ("copy", "demo", ["--prefix", "demo", "--fresh", "--", "true"]),
    "--exec without the session's prefix": ("copy", "x86_64", ["--exec", "x86_64", "--", "program.exe"]),
    "--exec without any prefix": (None, "x86_64", ["--exec", "i686", "--", "program.exe"]),
    "a prefix name that leaves build/wine": (None, "demo", ["--prefix", "../demo", "--", "true"]),
}


@pytest.mark.parametrize("case", REFUSALS)
def test_refused_untouched(box, case):
    setup, name, arguments = REFUSALS[case]
    elsewhere = box.root / "elsewhere"
    if not elsewhere.exists():
        box.our_prefix(elsewhere, "ready")
    kept_elsewhere = fingerprint(elsewhere)
    watched = box.wine_dir / name
    box.wine_dir.mkdir(parents=True)
    if setup == "copy":
        shutil.copytree(box.player, watched, symlinks=True)
    elif setup == "link":
        watched.symlink_to(elsewhere)
    had = fingerprint(watched) if watched.exists() else None

    run = box.session(*arguments)
    assert run.status == 2, run.said
    assert (fingerprint(watched) if watched.exists() else None) == had, f"{watched} changed"
    assert fingerprint(elsewhere) == kept_elsewhere, "the linked prefix changed"
    assert not run.log, f"Wine was started: {run.log[0]}"


@pytest.mark.parametrize("state, syswow64, wine32, fresh, outcome", [
    ("ready", True, "1", [], "kept"),
    ("ready", False, "0", [], "kept"),
    ("ready", False, "1", [], "made again"),      # no syswow64 once the 32-bit Wine is there
    ("making", True, "1", [], "made again"),      # its making was interrupted
    ("ready", True, "1", ["--fresh"], "made again"),
])
def test_its_own_prefix_kept_or_made_again(box, state, syswow64, wine32, fresh, outcome):
    prefix = box.wine_dir / "demo"
    box.our_prefix(prefix, state)
    if syswow64:
        (prefix / "drive_c" / "windows" / "syswow64").mkdir()
    (prefix / "drive_c" / "session-file").write_text("a file of the session's\n")
    (prefix / "drive_c" / "windows" / "system32" / "IR50_32.DLL").write_text("left by a run\n")

    run = box.session("--prefix", "demo", *fresh, "--", *box.inside, fake_wine32=wine32)
    assert run.status == 0, run.said
    assert f"WINEPREFIX={prefix}" in run.env
    expect_made(prefix)
    assert ("kept" if (prefix / "drive_c" / "session-file").is_file() else "made again") == outcome
    expect_only_our_prefixes(box, run)


def test_a_prefix_wine_could_not_set_up_is_no_success(box):
    run = box.session("--prefix", "demo", "--", *box.inside, FAKE_REG_FAILS="1")
    assert run.status == 1, run.said
    assert "could not set" in run.said
    assert run.env is None, "the command ran in a prefix without its settings"
    assert "making" in (box.wine_dir / "demo" / ".autorun-wine-session").read_text().splitlines()


# The first session's command leaves a codec file, as a running test does, and
# waits to be let go; then it starts a session on its own prefix, which must
# refuse rather than wait for itself.
FIRST = """codec=$WINEPREFIX/drive_c/windows/system32/IR50_32.DLL
echo "a running test's" >"$codec"
touch "$CASE_OUT/running"
while [ ! -e "$CASE_OUT/go" ]; do sleep 0.05; done
[ -f "$codec" ] && echo kept >"$CASE_OUT/codec"
bash "$SESSION" -- true
echo $? >"$CASE_OUT/nested"
"""


def test_one_session_a_prefix_at_a_time(box):
    first_script = box.root / "first.sh"
    first_script.write_text(FIRST)
    first, first_run = box.start("--", "sh", str(first_script), SESSION=str(box.script))
    try:
        assert wait_for(first_run.out / "running"), "the first session's command did not start"

        refused = box.session("--no-wait", "--", *box.inside)
        assert refused.status == 2
        assert f"wine-session.sh -- sh {first_script}" in refused.said
        assert f"process {first.pid} " in refused.said, "the holder named is not the first session"
        assert not refused.log, f"the refused session started Wine: {refused.log[0]}"

        second, waiting = box.start("--", *box.inside)
        assert wait_for(waiting.out / "stderr", f"waiting for the session that uses {box.wine_dir}/x86_64 to end: "
                        f"process {first.pid} "), "the second session did not say whose session it waits for"
        assert not waiting.log, f"the second session started Wine while the first ran: {waiting.log[0]}"
        assert waiting.env is None, "the second session's command ran while the first ran"
    finally:
        (first_run.out / "go").touch()
        box.finish(first, first_run)
    box.finish(second, waiting)
    assert first_run.status == 0, first_run.said
    assert (first_run.out / "codec").is_file(), "the first session's codec file went while it ran"
    assert (first_run.out / "nested").read_text().strip() == "2", "a session inside the first was not refused"
    assert waiting.status == 0, waiting.said
    assert f"WINEPREFIX={box.wine_dir}/x86_64" in waiting.env
    assert waiting.log, "the second session did not start once the first ended"


def test_a_process_is_the_programs_by_either_name(tmp_path):
    """Wine names a program's process by its Windows path where 32-bit code
    runs, by its Unix path where it does not; either is the program's."""
    disc = tmp_path / "disc"
    disc.mkdir()
    (disc / "autorun.exe").write_bytes(b"MZ")
    (tmp_path / "linked").symlink_to(disc)
    program = os.path.realpath(disc / "autorun.exe")
    drives = {"z": "/", "c": str(tmp_path / "drive_c")}
    names = windows_names(program, drives)
    windows = "Z:" + program.replace("/", "\\")
    assert names == {windows}
    assert unix_name(windows.upper(), drives) == program.upper()
    cases = [
        (program, True),                                      # the Unix path
        (str(tmp_path / "linked" / "autorun.exe"), True),     # through a link
        (str(disc / ".." / "disc" / "autorun.exe"), True),
        (windows, True),                                      # the Windows path
        (windows.upper(), True),                              # in another case
        (windows.lower(), True),
        (str(disc / "AUTORUN.EXE"), False),                   # a Unix path is exact
        (str(disc / "autorun.ex"), False),
        ("Z:" + str(disc).replace("/", "\\") + "\\other.exe", False),
        ("C:\\windows\\system32\\autorun.exe", False),
        ("/usr/bin/wine", False),                             # the loader started for it
        ("wine", False),
        ("autorun.exe", False),
        ("", False),
    ]
    for first_argument, expected in cases:
        assert names_program(first_argument, program, names) == expected, first_argument


def test_a_windows_path_in_the_prefix_is_found_through_its_drives(tmp_path):
    system = tmp_path / "drive_c" / "windows" / "system32"
    system.mkdir(parents=True)
    drives = {"c": str(tmp_path / "drive_c"), "z": "/"}
    assert unix_name(r"C:\windows\system32\cmd.exe", drives) == str(system / "cmd.exe")
    assert windows_names(str(system / "cmd.exe"), drives) == {r"C:\windows\system32\cmd.exe",
                                                              "Z:" + str(system / "cmd.exe").replace("/", "\\")}
    assert unix_name(r"D:\setup.exe", drives) is None
