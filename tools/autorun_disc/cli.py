"""The command line of ./autorun-disc: `build`, `check`, `pin` and `setup`, each
with --help. Exit codes: 0 done and sound, 1 refused (the publisher's files
or options), 2 could not run (a missing tool, an unreadable file)."""
import argparse
import signal
import sys
import textwrap
from pathlib import Path

import facts

from .errors import CannotRun, Refused

PROGRAM = "./autorun-disc"

DESCRIPTION = """\
Makes the game disc's image: the menu (autorun.exe), its autorun.inf and the
publisher's files, checked before and after the image is written.

  ./autorun-disc setup                         install what making a disc needs
  ./autorun-disc build --content GOLD          make build/disc/ZANTORIA.iso
  ./autorun-disc build --content GOLD --sign-pfx publisher.pfx \\
                 --password-file secret.txt --out ZANTORIA.iso
  ./autorun-disc check ZANTORIA.iso --content GOLD
  ./autorun-disc pin autorun.exe --content GOLD --out pinned.exe

Exit codes: 0 done and sound; 1 refused (your files or options, named with
what to do); 2 could not run (a missing tool, an unreadable file).
Run ./autorun-disc COMMAND --help for each command's options."""

# {always}, {optional} and {pinned} name the pinned files (facts/pins.txt).
BUILD_DESCRIPTION = """\
Makes the disc image from a content folder, or the demo disc. The content
folder must hold what the menu opens: setup.exe, {always} and
autorun.bmp (any case; {optional} too where DSETUP.dll needs it), and no
autorun.exe or autorun.inf of its own; everything in it, subfolders
included, goes on the disc byte for byte, with the menu and an autorun.inf.
Each file the menu opens is first read as the menu will use it; a file it
could not use is refused. The image is read back and checked before it is
kept; a failed run leaves no image at --out. The menu is pinned to the
content's {pinned} (a missing one pinned as absent) before it is signed.
The menu is built (build/disc-win32) and the content check too
(build/disc-tools) when they are not up to date.

A menu pinned and signed elsewhere (--signed-menu) goes on the disc only when
it is signed with SHA-256, by a certificate of --signed-by CHAIN, over exactly
the build's menu pinned to this content.

A link that leads out of the content folder is refused unless --allow-links;
a file given to sign the menu (key, certificate or password) always is,
whatever its name or path, and so is a copy of it."""

CHECK_DESCRIPTION = """\
Reads a finished image back and says what it holds and whether it is sound:
its Joliet and Rock Ridge names and every file's bytes (against --content
when given), autorun.inf's keys, the volume name, the menu's signature
(against --signed-by when given) and its pins, which must be the disc's
files; a signed menu must have them. Makes nothing."""

PIN_DESCRIPTION = """\
Pins a build of the menu (either bitness) to a content folder: writes the
SHA-256 and the size of the folder's {pinned} (any case) into the menu's
pin record and makes its header checksum again. A file the
folder lacks is pinned as absent. The pinned menu uses each of those files
only when it is the one pinned (bytes and size), and otherwise behaves as if
it were missing. The pinned file differs from PROGRAM only in the pins and the
checksum; the same folder gives the same file. For a publisher who signs
elsewhere (a signing service, a hardware token): pin, sign the pinned file,
then give it to `build --signed-menu`. `build` pins the menu itself."""

SETUP_DESCRIPTION = """\
Installs with apt-get what making a disc needs and this machine lacks (the
MinGW compiler, cmake, a C++ compiler, xorriso, osslsigncode and Debian's
python3-pycdlib, python3-cryptography and python3-pefile), through sudo when
not run as root, then builds the menu and the content check."""


# Each command's options: (name, metavar, help); one without a metavar is a switch.
SOURCE_OPTIONS = [
    ("--content", "DIR", "the folder of the publisher's files"),
    ("--demo", None, "the demo disc: the demo picture and the stand-ins, with a README.TXT saying so"),
]
BUILD_OPTIONS = [
    ("--label", "NAME", "the volume name and autorun.inf's label=: 1 to 16 of A-Z, 0-9 and _ (default ZANTORIA)"),
    ("--out", "FILE.iso", "the image to make, never in the content folder (default build/disc/LABEL.iso)"),
    ("--sign-pfx", "FILE", "sign the menu with the certificate and key of a PKCS#12 file (.pfx, .p12)"),
    ("--sign-cert", "FILE", "sign with this PEM certificate, followed by the rest of its chain ..."),
    ("--sign-key", "FILE", "... and this PEM private key"),
    ("--password-file", "FILE", "the password of the PKCS#12 file or of an encrypted key: the file's first line "
                                "(LF or CR LF); without it, asked for on the terminal"),
    ("--timestamp-url", "URL", "an RFC 3161 server to timestamp the signature (network needed), so that it "
                               "outlives the certificate; without it the signing time is the disc's date"),
    ("--date", "SECONDS", "the date of every file, the volume and an offline signature, in seconds since 1970 "
                          "(default SOURCE_DATE_EPOCH, else facts/pinned-date.txt: 2000-01-01)"),
    ("--signed-menu", "FILE", "put this menu on the disc as it is: the build's autorun.exe pinned to this content "
                              "with `pin` and signed elsewhere (a signing service, a hardware token)"),
    ("--signed-by", "CHAIN", "with --signed-menu (and required by it): the publisher's certificate and the rest of "
                             "its chain, in PEM; the menu must be signed by one of these certificates (compared by "
                             "SHA-256 fingerprint), with SHA-256, over exactly the bytes `pin` wrote, and its "
                             "signature must verify against them (the system's roots are added)"),
    ("--allow-missing", None, "make the disc even when a file the menu opens is missing"),
    ("--allow-mismatch", None, "make the disc even when a file the menu opens is refused (printed as a warning)"),
    ("--allow-links", None, "put on the disc what links that lead out of the content folder point to"),
]
CHECK_OPTIONS = [
    ("image", "IMAGE", "the disc image"),
    ("--content", "DIR", "the content folder the image was made from: the image must hold exactly its files, "
                         "with autorun.exe and autorun.inf"),
    ("--signed-by", "CHAIN", "the publisher's certificate and the rest of its chain, in PEM: the menu must be "
                             "signed with one of these certificates (compared by SHA-256 fingerprint), and its "
                             "signature must verify against them (the system's roots are added)"),
]

PIN_OPTIONS = [
    ("program", "PROGRAM", "a build of the menu (autorun.exe), not signed"),
    ("--content", "DIR", "the folder of the disc's files (required)"),
    ("--out", "FILE", "the pinned menu to write (required)"),
]


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Refused(f"{self.prog}: {message}: see {self.prog} --help")


def add_options(parser, options):
    for name, metavar, text in options:
        parser.add_argument(name, help=text, **({"metavar": metavar} if metavar else {"action": "store_true"}))


def _with_pinned_files(text):
    """A description with the pinned files named, its paragraphs filled to
    the width of the texts written by hand."""
    files = facts.pins().files
    text = text.format(always=", ".join(file.name for file in files if file.always),
                       optional=" or ".join(file.name for file in files if not file.always),
                       pinned=", ".join(file.name for file in files[:-1]) + " and " + files[-1].name)
    return "\n\n".join(textwrap.fill(" ".join(paragraph.split()), 76) for paragraph in text.split("\n\n")) + "\n"


def parser():
    top = Parser(prog=PROGRAM, description=DESCRIPTION, allow_abbrev=False,
                 formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = top.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    commands.required = True

    def command(name, summary, description):
        return commands.add_parser(name, help=summary, description=description, allow_abbrev=False,
                                   formatter_class=argparse.RawDescriptionHelpFormatter)

    build = command("build", "make the disc image", _with_pinned_files(BUILD_DESCRIPTION))
    add_options(build.add_mutually_exclusive_group(required=True), SOURCE_OPTIONS)
    add_options(build, BUILD_OPTIONS)
    build.set_defaults(label="ZANTORIA")
    add_options(command("check", "read a finished image back", CHECK_DESCRIPTION), CHECK_OPTIONS)
    add_options(command("pin", "pin a build of the menu to a content folder's files",
                                _with_pinned_files(PIN_DESCRIPTION)), PIN_OPTIONS)
    command("setup", "install what making a disc needs, and build the menu and check", SETUP_DESCRIPTION)
    return top


def run_check(options):
    from . import content, disc_check, prerequisites
    image = Path(options.image)
    if not image.is_file():
        raise Refused(f"IMAGE {image} is not a file: give the disc image to check")
    prerequisites.require(prerequisites.SIGNING_COMMANDS if options.signed_by else {})
    expected = None
    if options.content:
        folder = Path(options.content)
        content.check_folder(folder)
        dirs, files = content.scan(folder, allow_links=True)
        expected = dirs, {**files, "/autorun.exe": None, "/autorun.inf": None}
    chain = None
    if options.signed_by:
        from .certificates import read_signed_by
        chain = read_signed_by(Path(options.signed_by))
    faults, notes = disc_check.check(image, expected, f"--content {options.content}", chain_pem=chain)
    if notes:
        print("\n".join(notes))
    if faults:
        print(f"FAIL: {image}:", file=sys.stderr)
        print("\n".join(f"  {fault}" for fault in faults), file=sys.stderr)
        return 1
    print(f"OK: {image}")
    return 0


def run_pin(options):
    from . import content, pins
    if not options.content or not options.out:
        raise Refused(f"{PROGRAM} pin needs --content DIR and --out FILE: see {PROGRAM} pin --help")
    program = Path(options.program)
    if not program.is_file():
        raise Refused(f"PROGRAM {program} is not a file: give a build of the menu (autorun.exe)")
    folder = Path(options.content)
    content.check_folder(folder)
    _, files = content.scan(folder, allow_links=True)
    try:
        data = program.read_bytes()
    except OSError as error:
        raise CannotRun(f"cannot read {program}: {error.strerror}") from None
    entries = pins.digests(files)
    pinned = pins.pin(data, entries, f"PROGRAM {program}")
    try:
        pins.write(options.out, pinned, "--out")
    except OSError as error:
        raise Refused(f"cannot write --out {options.out}: {error.strerror or error}; name a file in a folder "
                      f"you can write") from None
    print("\n".join(pins.describe(entries)))
    print(f"Pinned: {options.out}")
    return 0


def refuse_unknown(top, arguments):
    """Names an option the command does not know before anything else is
    said: argparse would first complain of what is missing."""
    commands = next(action for action in top._actions if isinstance(action, argparse._SubParsersAction))
    command = next((word for word in arguments if not word.startswith("-")), None)
    known = commands.choices.get(command, top)
    for word in arguments:
        if word == "--":
            break
        if word.startswith("-") and word != "-" and word.split("=")[0] not in known._option_string_actions:
            raise Refused(f"{known.prog} does not know the option {word.split('=')[0]}: see {known.prog} --help")


def run(arguments, password=None):
    top = parser()
    refuse_unknown(top, arguments)
    options = top.parse_args(arguments)
    if options.command == "setup":
        from . import prerequisites
        prerequisites.install()
        prerequisites.build_programs(demo=True)
        print("Ready: ./autorun-disc build --help says how to make a disc.")
        return 0
    # The readers need Debian's Python packages before they can be imported.
    from . import prerequisites
    prerequisites.require({})
    if options.command == "check":
        return run_check(options)
    if options.command == "pin":
        return run_pin(options)
    from . import disc_build
    return disc_build.build(options, password)


def main(arguments=None, password=None):
    """`password` is the signing password when a caller has it in memory."""
    # A killed run cleans up as an interrupted one does.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        return run(sys.argv[1:] if arguments is None else arguments, password)
    except Refused as refusal:
        print(f"autorun-disc: refused: {refusal}", file=sys.stderr)
        return refusal.exit_code
    except CannotRun as problem:
        print(f"autorun-disc: cannot run: {problem}", file=sys.stderr)
        return problem.exit_code
    except facts.Unreadable as problem:
        print(f"autorun-disc: cannot run: {problem}", file=sys.stderr)
        return CannotRun.exit_code
    except KeyboardInterrupt:
        print("autorun-disc: interrupted; no image was made", file=sys.stderr)
        return 1
