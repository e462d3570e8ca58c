"""The command line and `make disc`'s variables: --help everywhere, and each
mistake refused by name, with exit code 1 and no image, not even an earlier one."""
import argparse
import subprocess

import pytest

from conftest import ROOT, run_tool
from autorun_disc import cli, make_shortcut
from autorun_disc.errors import Refused

# The tool's own parser: a new command or option cannot go unchecked.
COMMANDS = next(action for action in cli.parser()._actions if isinstance(action, argparse._SubParsersAction)).choices
DESCRIBED = {"setup": ["apt-get"], "pin": ["Pins a build of the menu", "DSETUP32.DLL"]}


def named_in_help(command):
    """Each option and argument of a command, as its --help names it."""
    return [action.option_strings[0] if action.option_strings else action.metavar
            for action in COMMANDS[command]._actions if action.dest != "help"]


@pytest.mark.parametrize("command, options", [
    ([], list(COMMANDS)),
    *(([command], named_in_help(command) + DESCRIBED.get(command, [])) for command in COMMANDS),
])
def test_help(command, options):
    result = run_tool(*command, "--help")
    assert result.returncode == 0, result.output
    for option in options:
        assert option in result.stdout


# Refused before anything is looked at: the image at --out stays as it was.
UNREAD = [
    (["build", "--contnet", "x"], "build does not know the option --contnet"),
    (["build", "--demo", "--sign-pxf=a.pfx"], "does not know the option --sign-pxf"),
    (["build", "--cont", "x"], "does not know the option --cont"),
    (["check", "x.iso", "--signed", "c.pem"], "check does not know the option --signed"),
    (["bild"], "invalid choice: 'bild'"),
    (["build"], "one of the arguments --content --demo is required"),
    (["build", "--demo", "--content", "{tmp}"], "argument --content: not allowed with argument --demo"),
    (["build", "--demo", "--out", "{tmp}/disc.img"], "does not end in .iso"),
    (["build", "--demo", "--out", "{tmp}/folder.iso"], "is a folder"),
    (["build", "--content", "{tmp}", "--out", "{tmp}/disc.iso"], "lies inside --content"),
    (["check", "{tmp}/none.iso"], "IMAGE {tmp}/none.iso is not a file"),
]
# Refused once the image's place is known: an image from an earlier run there is gone.
REMOVED = [
    *((["--demo", "--label", label], f"--label '{label}' cannot be the disc's volume name")
      for label in ["test_disc", "TEST DISC", "TEST-DISC", "ZANTORIA.1", "ABCDEFGHIJKLMNOPQ"]),
    *((["--demo", "--date", date], f"--date '{date}' is not a number of seconds")
      for date in ["yesterday", "4294967296", "2\u00b2", "\u0661\u0662"]),
    (["--content", "{tmp}/none"], "--content {tmp}/none does not exist"),
    (["--content", "{tmp}/folder.iso/x"], "--content {tmp}/folder.iso/x does not exist"),
    (["--content", "{tmp}/pw"], "is not a folder"),
    (["--demo", "--password-file", "{tmp}/pw"], "--password-file is for signing"),
    (["--demo", "--timestamp-url", "http://ts"], "--timestamp-url is for signing"),
    (["--demo", "--signed-by", "{tmp}/pw"], "--signed-by is for a menu signed elsewhere"),
    (["--demo", "--sign-cert", "{tmp}/c.pem"], "--sign-cert FILE and --sign-key FILE together"),
    (["--demo", "--sign-pfx", "a.pfx", "--sign-key", "k.pem"], "either --sign-pfx, or --sign-cert"),
    (["--demo", "--sign-pfx", "a.pfx", "--timestamp-url", "ftp://ts"], "is not an http:// or https://"),
    (["--demo", "--sign-pfx", "{tmp}/none.pfx"], "--sign-pfx {tmp}/none.pfx does not exist"),
]


@pytest.mark.parametrize("arguments, says, removed",
                         [(*case, False) for case in UNREAD] + [(["build", *words], says, True)
                                                                 for words, says in REMOVED])
def test_refused_options(tmp_path, arguments, says, removed):
    (tmp_path / "folder.iso").mkdir()
    (tmp_path / "pw").write_bytes(b"password\n")
    image = tmp_path / "disc.iso"
    image.write_bytes(b"an image from an earlier run")
    arguments = [word.replace("{tmp}", str(tmp_path)) for word in arguments]
    if arguments[0] == "build" and "--out" not in arguments:
        arguments += ["--out", str(image)]
    result = run_tool(*arguments)
    assert result.returncode == 1, result.output
    assert result.stderr.startswith("autorun-disc: refused: ")
    assert says.replace("{tmp}", str(tmp_path)) in result.stderr
    assert image.exists() != removed


def test_refused_source_date_epoch(tmp_path):
    result = run_tool("build", "--demo", "--out", tmp_path / "x.iso", env={"SOURCE_DATE_EPOCH": "-1"})
    assert result.returncode == 1
    assert "SOURCE_DATE_EPOCH '-1' is not a number of seconds" in result.stderr


@pytest.mark.parametrize("origins, environment, says", [
    ({"DISC_CONTNET": "command"}, {"DISC_CONTNET": "gold"}, "does not know the variable DISC_CONTNET"),
    ({"DISC_LABEL": "environment", "DISC_DEMO": "command"}, {"DISC_LABEL": "X", "DISC_DEMO": "1"},
     "DISC_LABEL comes from the environment"),
    ({"DISC_SIGN_PASSWORD": "command", "DISC_DEMO": "command"}, {"DISC_SIGN_PASSWORD": "x", "DISC_DEMO": "1"},
     "must not be given on a command line"),
    ({"DISC_DEMO": "command"}, {"DISC_DEMO": "yes"}, "DISC_DEMO=yes: give DISC_DEMO=1"),
    ({"DISC_LABEL": "command"}, {"DISC_LABEL": "X"}, "needs DISC_CONTENT=FOLDER"),
    ({}, {}, "needs DISC_CONTENT=FOLDER"),
    ({"DISC_DEMO": "command"}, {"DISC_DEMO": "0"}, "needs DISC_CONTENT=FOLDER"),
])
def test_make_variables_refused(origins, environment, says):
    with pytest.raises(Refused, match=says):
        make_shortcut.arguments(origins, environment)


def test_make_variables_become_options():
    environment = {"DISC_CONTENT": "gold dir", "DISC_LABEL": "GOLD", "DISC_ALLOW_MISSING": "1",
                   "DISC_ALLOW_MISMATCH": "0", "DISC_ALLOW_LINKS": "1", "DISC_SIGN_CERT": "c.pem",
                   "DISC_SIGN_KEY": "k.pem", "DISC_OUT": "x.iso", "DISC_SIGN_PASSWORD": "secret",
                   "DISC_SIGNED_BY": "chain.pem"}
    origins = {**dict.fromkeys(environment, "command"), "DISC_SIGN_PASSWORD": "environment"}
    words, password = make_shortcut.arguments(origins, environment)
    assert words == ["build", "--allow-links", "--allow-missing", "--content=gold dir", "--label=GOLD",
                     "--out=x.iso", "--signed-by=chain.pem", "--sign-cert=c.pem", "--sign-key=k.pem"]
    assert password == b"secret"


def test_make_disc_refuses_a_misspelt_variable():
    result = subprocess.run(["make", "-s", "disc", "DISC_CONTNET=x"], cwd=ROOT, capture_output=True, text=True)
    assert result.returncode != 0
    assert "make disc does not know the variable DISC_CONTNET" in result.stderr
