"""`make disc`, the developers' shortcut: each DISC_... variable given on
make's command line is one option of `./autorun-disc build`. A variable it
does not know is refused by its name, and so is one left in the caller's
environment, which would change the disc unseen; the password alone comes
from the environment (DISC_SIGN_PASSWORD), never from a command line, and
leaves it as soon as it is read: no program the run starts sees it.
    python3 -m autorun_disc.make_shortcut NAME:ORIGIN ...
NAME:ORIGIN pairs are make's $(origin) of every DISC_ variable; the values
come from the environment make gives its recipes."""
import os
import sys

from .errors import Refused

VALUES = {
    "DISC_CONTENT": "--content", "DISC_LABEL": "--label", "DISC_OUT": "--out",
    "DISC_SIGN_PFX": "--sign-pfx", "DISC_SIGN_CERT": "--sign-cert", "DISC_SIGN_KEY": "--sign-key",
    "DISC_SIGN_PASSWORD_FILE": "--password-file", "DISC_SIGN_TIMESTAMP_URL": "--timestamp-url",
    "DISC_SIGNED_MENU": "--signed-menu", "DISC_SIGNED_BY": "--signed-by",
}
SWITCHES = {"DISC_DEMO": "--demo", "DISC_ALLOW_MISSING": "--allow-missing", "DISC_ALLOW_MISMATCH": "--allow-mismatch",
            "DISC_ALLOW_LINKS": "--allow-links"}
PASSWORD = "DISC_SIGN_PASSWORD"


def arguments(origins, environment):
    """./autorun-disc build's arguments and the password, from make's
    variables: {name: origin} and the recipe's environment."""
    words, password = ["build"], None
    for name, origin in sorted(origins.items()):
        value = environment.get(name, "")
        if name == PASSWORD:
            if origin != "environment":
                raise Refused(f"{PASSWORD} must not be given on a command line, where others can read it: "
                              f"put it in a file and give DISC_SIGN_PASSWORD_FILE=FILE")
            password = value.encode()
            continue
        if name not in VALUES and name not in SWITCHES:
            known = ", ".join(sorted([*VALUES, *SWITCHES, PASSWORD]))
            raise Refused(f"make disc does not know the variable {name}: check its spelling (known: {known})")
        if origin != "command":
            raise Refused(f"{name} comes from the {origin}, not make's command line: give it as "
                          f"make disc {name}=..., or unset it")
        if name in SWITCHES:
            if value not in ("0", "1"):
                raise Refused(f"{name}={value}: give {name}=1, or leave it out")
            words += [SWITCHES[name]] if value == "1" else []
        elif value:
            words += [f"{VALUES[name]}={value}"]
    if "--demo" not in words and not any(word.startswith("--content=") for word in words):
        raise Refused("make disc needs DISC_CONTENT=FOLDER, the publisher's files, or DISC_DEMO=1 for the demo "
                      "disc")
    return words, password


def main(pairs):
    from . import cli
    # Read once, then gone from the environment of every program this run starts.
    environment = dict(os.environ)
    os.environ.pop(PASSWORD, None)
    try:
        origins = dict(pair.split(":", 1) for pair in pairs)
        words, password = arguments(origins, environment)
    except Refused as refusal:
        print(f"make disc: refused: {refusal}", file=sys.stderr)
        return 1
    if password is not None:
        if any(word.startswith("--password-file=") for word in words):
            print("make disc: refused: give the password either in DISC_SIGN_PASSWORD_FILE or in "
                  "DISC_SIGN_PASSWORD, not both", file=sys.stderr)
            return 1
    return cli.main(words, password)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
