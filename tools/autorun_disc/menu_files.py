"""The files the menu opens, read as the menu will use them, by the native
content check (tools/check_disc_content, from the tool's own build): it reads
the splash picture with the menu's own bitmap reader, and the libraries and
programs with a bounded PE header reader. It prints one line a finding,
"refused: ..." or "warning: ...", and exits 1 when something is refused."""
import subprocess

from .errors import CannotRun


def check(checker, folder, allow_mismatch):
    """(refusals, warnings) for the files in `folder`. With allow_mismatch the
    checker reports refusals as warnings."""
    arguments = [str(checker), *(["--allow-mismatch"] if allow_mismatch else []), str(folder)]
    try:
        result = subprocess.run(arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except OSError as error:
        raise CannotRun(f"cannot start the content check {checker}: {error.strerror}") from None
    if result.returncode not in (0, 1):
        raise CannotRun(f"the content check could not read {folder}: "
                        + result.stderr.decode(errors="replace").strip())
    refusals, warnings = [], []
    for line in result.stdout.decode("utf-8", errors="replace").splitlines():
        kind, _, text = line.partition(": ")
        if kind == "refused":
            refusals.append(text)
        elif kind == "warning":
            warnings.append(text)
        else:
            raise CannotRun(f"the content check said something it should not: {line}")
    if (result.returncode == 1) != bool(refusals):
        raise CannotRun(f"the content check's exit code {result.returncode} does not match what it printed")
    return refusals, warnings
