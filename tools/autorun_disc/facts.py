"""Reads the facts this tool shares with the rest of the project from
facts/: the stand-ins the demo disc carries, with their disc names, the
date a disc carries when nothing else pins one, and the menu's language
variants."""
from pathlib import Path

from .errors import CannotRun

FACTS = Path(__file__).resolve().parents[2] / "facts"


def _lines(name):
    path = FACTS / name
    try:
        text = path.read_text(encoding="utf-8")
    except OSError as error:
        raise CannotRun(f"cannot read {path}: {error.strerror}") from None
    return path, [line.split() for line in text.splitlines() if line.strip() and not line.startswith("#")]


def standins():
    """(built file, disc name) pairs, in the file's order."""
    path, rows = _lines("standins.txt")
    if not rows or any(len(row) != 2 for row in rows):
        raise CannotRun(f"{path} must hold one pair a line: the built file, then its disc name")
    return [(row[0], row[1]) for row in rows]


def pinned_date():
    """Seconds since 1970-01-01 00:00:00 UTC."""
    path, rows = _lines("pinned-date.txt")
    if len(rows) != 1 or len(rows[0]) != 1 or not rows[0][0].isdigit():
        raise CannotRun(f"{path} must hold one number of seconds")
    return int(rows[0][0])


def languages():
    """(language id, locale, whether the localised tests run there) of each
    variant, in the file's order; the last column, a note, is left out."""
    path, rows = _lines("languages.txt")
    if not rows or any(len(row) < 3 or not row[0].isdigit() or row[2] not in ("test", "-") for row in rows):
        raise CannotRun(f"{path} must hold a language id, a locale and 'test' or '-' a line")
    return [(int(row[0]), row[1], row[2] == "test") for row in rows]
