"""`./autorun-disc build`: the disc image from a content folder, or the demo
disc. In order: the options, the content folder, the files the menu opens,
the publisher's certificate; then the menu pinned to the content's files and
signed on the disc's copy (or a menu pinned and signed elsewhere taken as it
is), the image written, read back and checked, and only then put where it
was asked.
A run that fails leaves no image, not even one from an earlier run."""
import datetime
import getpass
import os
import re
import shutil
import sys
import tempfile
from pathlib import Path

import demo_disc
import facts

from . import autorun_inf, content, disc_check, image_writer, menu_files, pins, prerequisites
from .errors import CannotRun, Refused

LABEL = re.compile(r"[A-Z0-9_]{1,16}")
SECONDS = re.compile(r"[0-9]+")  # str.isdigit() takes other scripts' digits, and int() some of them
LAST_DATE = 0xFFFFFFFF


def say(kind, text):
    print(f"autorun-disc: {kind}: {text}", file=sys.stderr)


def disc_date(option):
    """--date, else SOURCE_DATE_EPOCH, else the pinned date."""
    for name, value in (("--date", option), ("SOURCE_DATE_EPOCH", os.environ.get("SOURCE_DATE_EPOCH"))):
        if value is None:
            continue
        if not SECONDS.fullmatch(value) or int(value) > LAST_DATE:
            raise Refused(f"{name} '{value}' is not a number of seconds since 1970-01-01 (0 to {LAST_DATE})")
        return int(value), name
    return facts.pinned_date(), "facts/pinned-date.txt"


def check_label(label):
    # ISO 9660 d-characters only. Windows reads the volume name from the
    # Joliet descriptor, which holds 16 characters: a longer name would
    # reach it cut.
    if not LABEL.fullmatch(label):
        raise Refused(f"--label '{label}' cannot be the disc's volume name: use 1 to 16 of A-Z, 0-9 and _ "
                      f"(for example ZANTORIA)")


def output_path(out, label, folder):
    out = Path(out or prerequisites.ROOT / "build" / "disc" / f"{label}.iso").absolute()
    out = out.parent.resolve() / out.name
    if out.suffix.lower() != ".iso":
        raise Refused(f"--out {out} does not end in .iso: name the image file to make, for example {label}.iso")
    if out.is_dir():
        raise Refused(f"--out {out} is a folder: name the image file to make in it, for example "
                      f"{out / (label + '.iso')}")
    if folder is not None and (out == folder or folder in out.parents):
        raise Refused(f"--out {out} lies inside --content {folder}: put the image outside the content folder")
    return out


def password_for(options, given, needs):
    """The password the caller has, or the one from --password-file; or
    asked for on the terminal when `needs` names a file that needs one; or
    None."""
    if given is not None:
        return given
    if options.password_file:
        from .certificates import read_password
        return read_password(Path(options.password_file))
    if needs and sys.stdin.isatty():
        return getpass.getpass(f"Password for {needs}: ").encode()
    return None


def load_signer(options, password_supplier):
    """(credentials, key, osslsigncode's signer arguments, password)."""
    from . import certificates
    if options.sign_pfx:
        pfx = Path(options.sign_pfx)
        password = password_supplier(None)
        try:
            credentials, key = certificates.load_pfx(pfx, password)
        except Refused as refusal:
            if password is not None or "needs its password" not in str(refusal):
                raise
            password = password_supplier(f"--sign-pfx {pfx}")
            if password is None:
                raise
            credentials, key = certificates.load_pfx(pfx, password)
        return credentials, key, ("-pkcs12", pfx), password
    cert, key_path = Path(options.sign_cert), Path(options.sign_key)
    password = password_supplier(None)
    if password is None and certificates.key_is_encrypted(key_path):
        password = password_supplier(f"--sign-key {key_path}")
    credentials, key = certificates.load_pem(cert, key_path, password)
    return credentials, key, ("-certs", cert, "-key", key_path), password


def signing_files(options):
    """The files given to sign the menu, which no disc may carry."""
    found = {}
    for option in ("--sign-pfx", "--sign-cert", "--sign-key", "--password-file"):
        path = getattr(options, option[2:].replace("-", "_"))
        if path and os.path.isfile(path):
            found[f"{option} {path}"] = path
    return content.Secrets(found)


def check_signing_options(options, password):
    """Whether the menu is to be signed, from options that go together."""
    signing_asked = any((options.sign_pfx, options.sign_cert, options.sign_key))
    if not signing_asked and (options.password_file or options.timestamp_url or password is not None):
        given = ("--timestamp-url" if options.timestamp_url else
                 "--password-file" if options.password_file else "a password")
        raise Refused(f"{given} is for signing: give --sign-pfx FILE, or --sign-cert FILE and --sign-key FILE")
    if options.timestamp_url and not re.match(r"https?://", options.timestamp_url):
        raise Refused(f"--timestamp-url {options.timestamp_url} is not an http:// or https:// address")
    if options.sign_pfx and (options.sign_cert or options.sign_key):
        raise Refused("give either --sign-pfx, or --sign-cert and --sign-key, not both")
    if signing_asked and not options.sign_pfx and not (options.sign_cert and options.sign_key):
        raise Refused("signing needs --sign-pfx FILE, or --sign-cert FILE and --sign-key FILE together")
    if options.signed_menu and (signing_asked or options.password_file or options.timestamp_url):
        raise Refused("--signed-menu is a menu signed already: give no signing options with it")
    if options.signed_menu and not options.signed_by:
        raise Refused("--signed-menu needs --signed-by CHAIN, the publisher's certificate and the rest of its chain "
                      "in PEM, to verify the menu's signature against")
    if options.signed_by and not options.signed_menu:
        raise Refused("--signed-by is for a menu signed elsewhere: give it with --signed-menu FILE, or leave it out")
    return signing_asked


def take_signed_menu(path, built, entries, work, chain_pem):
    """The menu pinned and signed elsewhere, checked: it carries a signature,
    pins this content's files, without its signature it is the build's menu
    pinned to them, byte for byte, and the signature is the publisher's: made
    by a certificate of the chain, with SHA-256, over these bytes."""
    from . import authenticode, signing
    try:
        data = Path(path).read_bytes()
    except OSError as error:
        raise Refused(f"cannot read --signed-menu {path}: {error.strerror}") from None
    if authenticode.signature(data) is None:
        raise Refused(f"--signed-menu {path} carries no signature: sign the file `./autorun-disc pin` wrote")
    faults = pins.mismatches(pins.read(data, f"--signed-menu {path}"), entries)
    if faults:
        raise Refused(f"--signed-menu {path} is not pinned to this content: " + "; ".join(faults)
                      + ": pin it with ./autorun-disc pin --content against this folder, then sign it again")
    stripped = work / "stripped.exe"
    result = signing.remove_signature(Path(path), stripped)
    if result or stripped.read_bytes() != pins.pin(built.read_bytes(), entries):
        raise Refused(f"--signed-menu {path} without its signature is not this build's menu pinned to this "
                      f"content ({result or 'other bytes'}): pin build/disc-win32/autorun.exe, then sign it")
    faults = signing.verify(Path(path), chain_pem, None, f"--signed-menu {path}")
    if faults:
        raise Refused("; ".join(faults) + ": sign the pinned menu with the publisher's certificate, Authenticode "
                                          "with SHA-256")
    return data


def build(options, password=None):
    if not options.out:
        check_label(options.label)  # the default image is named after it
    folder = Path(options.content).absolute().resolve() if options.content else None
    out = output_path(options.out, options.label, folder)
    partial = out.with_name(f".{out.name}.part")
    # An image from an earlier run must not outlive a failed one.
    for stale in (out, partial):
        if stale.is_file() or stale.is_symlink():
            stale.unlink()

    try:
        check_label(options.label)
        date, date_from = disc_date(options.date)
        signing_asked = check_signing_options(options, password)
        return _make(options, folder, out, partial, date, date_from, signing_asked, password)
    except BaseException:
        for made in (partial, out):
            if made.exists():
                made.unlink()
        raise


def _make(options, folder, out, partial, date, date_from, signing_asked, given_password):
    scanned = None
    if folder is not None:
        content.check_folder(folder)
        scanned = content.scan(folder, options.allow_links, signing_files(options))
    prerequisites.require({**prerequisites.BUILD_COMMANDS,
                           **(prerequisites.SIGNING_COMMANDS if signing_asked or options.signed_menu else {})})

    # The certificates the disc's menu must be signed by: the publisher's
    # own chain, to sign it here or to hold a menu signed elsewhere against.
    signer, chain_pem = None, None
    if options.signed_menu:
        from . import certificates
        chain_pem = certificates.read_signed_by(Path(options.signed_by))
    elif signing_asked:
        from . import certificates
        credentials, key, arguments, password = load_signer(
            options, lambda needs: password_for(options, given_password, needs))
        certificates.check_fitness(credentials, key)
        signer = credentials, arguments, password
        chain_pem = credentials.chain_pem()

    menu_build = prerequisites.build_programs(demo=folder is None)
    with tempfile.TemporaryDirectory(prefix="autorun-disc.") as work:
        work = Path(work)
        if folder is None:
            try:
                folder = demo_disc.assemble(work / "demo", menu_build)
            except demo_disc.Incomplete as problem:
                raise CannotRun(str(problem)) from None
            scanned = content.scan(folder)
        dirs, files = scanned

        missing = content.missing_menu_files(files)
        for name in missing:
            say("missing from the disc", name)
        if missing and not options.allow_missing:
            raise Refused(f"the menu needs {', '.join(missing)}: add them to --content {folder}, or give "
                          f"--allow-missing to make the disc without them")
        refusals, warnings = menu_files.check(prerequisites.CHECKER, folder, options.allow_mismatch)
        for text in refusals:
            say("refused", text)
        for text in warnings:
            say("warning", text)
        if refusals:
            raise Refused("the menu cannot use the files refused above: replace them in the content folder, or "
                          "give --allow-mismatch to make the disc all the same")

        # The menu is pinned to the files it will use, and the publisher's
        # signature goes on the disc's copy only; the build's file stays as it
        # was built, and the check compares the signed copy with the pinned.
        program, inf = work / "autorun.exe", work / "autorun.inf"
        built = menu_build / "autorun.exe"
        entries = pins.digests(files)
        pinned = work / "pinned.exe"
        pinned.write_bytes(pins.pin(built.read_bytes(), entries, f"the build's menu {built}"))
        if options.signed_menu:
            program.write_bytes(take_signed_menu(options.signed_menu, built, entries, work, chain_pem))
            print(f"autorun.exe: {options.signed_menu}, signed elsewhere and pinned to this content")
        else:
            shutil.copyfile(pinned, program)
            print("\n".join(["Pinned autorun.exe to the content:", *(f"  {line}" for line in pins.describe(entries))]))
        if signer:
            from . import signing
            credentials, arguments, password = signer
            signed = work / "signed.exe"
            signing.sign(program, signed, arguments, password, date, options.timestamp_url)
            signed.replace(program)
            when = (f"timestamp from {options.timestamp_url}" if options.timestamp_url else
                    f"offline, signing time {datetime.datetime.utcfromtimestamp(date):%Y-%m-%d %H:%M:%S} UTC")
            print(f"Signed autorun.exe as {credentials.subject()}, {when}")
        inf.write_bytes(autorun_inf.make(options.label))

        own = {"/autorun.exe": program, "/autorun.inf": inf}
        partial.parent.mkdir(parents=True, exist_ok=True)
        image_writer.write(partial, options.label, date, folder, own)
        faults, _ = disc_check.check(partial, (dirs, {**files, **own}), "the content folder", options.label,
                                     chain_pem, pinned if chain_pem else None)
        if faults:
            for fault in faults:
                say("image fault", fault)
            raise Refused("the image failed its checks (above); no image was kept")
        partial.replace(out)
    print(f"Disc image: {out} ({out.stat().st_size} bytes, volume {options.label}, "
          f"dated {datetime.datetime.utcfromtimestamp(date):%Y-%m-%d %H:%M:%S} UTC from {date_from})")
    return 0
