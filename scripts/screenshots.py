#!/usr/bin/python3
"""Pictures of the menu in every language variant a Unix locale can select,
so that translations can be checked by looking:
    python3 scripts/screenshots.py      (make screenshots; needs make build-win64)
The variants are the languages of facts/languages.txt. For each, the Unix
locale meant to select it is tried with ui_language.exe, which prints the
language id Wine really gives a process started in that locale. Where the two
agree, the menu is started in that locale in each of three machine states, and
its window, title bar included, is saved as build/screenshots/LOCALE-STATE.png:
    codec    the codec library is missing: Install codec
    install  the codec loads, no install record: Install
    play     the codec loads, the install record names a folder with the game: Play
build/screenshots/all.png lays them out, one row per locale, with a caption
under each; build/screenshots/languages.png is the small excerpt shown in the
README (docs/languages.png). Variants no locale selects are listed at the end
with the reason, and the run checks its own pictures: it fails when one is
missing, differs in size, or does not show the state it was taken in.

Runs in the Wine session's prefix build/wine/screenshots, always on a private
Xvfb. The codec file and the install record it puts there are removed again
when it ends."""
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.dont_write_bytecode = True
ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "scripts" / "lib"), str(ROOT / "tools")]
import demo_disc  # noqa: E402
import facts  # noqa: E402
import session  # noqa: E402

BUILD = ROOT / "build" / "win64"
OUT = ROOT / "build" / "screenshots"
WORK = ROOT / "build" / "screenshots-work"
STATES = {"codec": "codec missing", "install": "not installed", "play": "installed"}
CHANGES = facts.machine_changes()
EXCERPT = ("de_DE", "fr_FR", "sv_SE")


class Machine:
    """The prefix's codec file and install record, in the registry view the
    x86_64 menu reads: where the 32-bit Wine is installed, a plain
    "wine reg" is the 32-bit program, and writes to the 32-bit view."""

    def __init__(self, prefix):
        self.codec = Path(prefix) / "drive_c" / "windows" / "system32" / CHANGES.codec_file

    def remove_record(self):
        session.quietly("wine", "reg", "delete", "HKLM\\" + CHANGES.install_root, "/reg:64", "/f")

    def add_record(self):
        game = session.windows_path(WORK / "game")
        if session.quietly("wine", "reg", "add", "HKLM\\" + CHANGES.install_record, "/v", CHANGES.install_value,
                           "/t", "REG_SZ", "/d", game, "/reg:64", "/f") != 0:
            raise RuntimeError("cannot write the install record")

    def set_state(self, state):
        if state == "codec":
            self.codec.unlink(missing_ok=True)
        else:
            shutil.copyfile(BUILD / "codec_loads.dll", self.codec)
        if state == "play":
            self.add_record()
        else:
            self.remove_record()

    def clear(self):
        self.codec.unlink(missing_ok=True)
        self.remove_record()


def differ(first, second):
    return subprocess.run(["compare", "-metric", "AE", str(first), str(second), "null:"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0


def painted(path):
    """The middle of the window shows the splash picture's many colours
    rather than a plain background."""
    colours = subprocess.run(["convert", str(path), "-gravity", "center", "-crop", "50%x50%+0+0", "+repage",
                              "-format", "%k", "info:"], capture_output=True, text=True).stdout.strip()
    return colours.isdigit() and int(colours) >= 16


def capture_painted(window, path):
    """Saves the window once it is painted and two captures in a row agree."""
    previous, current = WORK / "previous.png", WORK / "current.png"
    previous.unlink(missing_ok=True)
    for _ in range(50):
        time.sleep(0.1)
        if not session.capture(window, current):
            continue
        if previous.is_file() and painted(current) and not differ(previous, current):
            current.replace(path)
            return True
        current.replace(previous)
    return False


def capture(locale, path, problems):
    """Starts the menu in the locale, saves its window, ends it; the
    window's title, or None."""
    menu = session.Program(WORK / "disc" / "autorun.exe", env=session.in_locale(locale))
    title = None
    try:
        window = menu.window()
        if not window:
            problems.append(f"{locale}: no window of the menu showed")
        elif not capture_painted(window, path):
            problems.append(f"{locale}: the window did not settle into a painted picture")
        else:
            title = session.window_title(window)
    finally:
        # Gone, so that the next menu does not find this one still running
        # and end itself without a window.
        if not menu.end():
            problems.append(f"{locale}: the menu did not end")
    return title


def selected_languages(locales):
    """{locale: the language id ui_language.exe prints there, or ""}."""
    selected = {}
    for locale in locales:
        answer = subprocess.run(["wine", str(BUILD / "ui_language.exe")], env=session.in_locale(locale),
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
        selected[locale] = answer.stdout.strip()
    return selected


def montage(labelled, path, geometry, tile, extra=()):
    arguments = []
    for label, picture in labelled:
        arguments += ["-label", label, str(picture)]
    subprocess.run(["montage", "-font", "DejaVu-Sans", "-pointsize", "13", "-background", "white",
                    "-geometry", geometry, "-tile", f"{tile}x", *arguments, *extra, str(path)], check=False)


def take(variants, tries, failures):
    """Inside the session: which language each locale selects, and the
    pictures: {(locale, state): (file, title)}."""
    selected = selected_languages(sorted({language.locale for language in tries}))
    wanted = [language for language in tries if selected[language.locale] == str(language.id)]
    machine = Machine(os.environ["WINEPREFIX"])
    captured = {}
    try:
        for state in STATES:
            machine.set_state(state)
            for language in wanted:
                path = OUT / f"{language.locale}-{state}.png"
                problems = []
                title = capture(language.locale, path, problems)
                failures += problems
                if title is not None:
                    captured[language.locale, state] = (path, title)
    finally:
        machine.clear()
    return selected, captured


def check_and_lay_out(rows, captured, failures):
    """Every picture is there and the window's size, and each shows its
    state: the title changes once the game is installed, the button once
    the codec loads. Returns the pictures' size."""
    size, labelled = "", []
    for language in rows:
        locale = language.locale
        for state, caption in STATES.items():
            path, title = captured.get((locale, state), (None, ""))
            if path is None or not path.is_file():
                failures.append(f"no picture of {locale} in the {state} state")
                continue
            this = subprocess.run(["identify", "-format", "%wx%h", str(path)], capture_output=True,
                                  text=True).stdout.strip()
            size = size or this
            if this != size:
                failures.append(f"{path} is {this}, not {size} like the first picture")
            if not title:
                failures.append(f"{locale}, {state} state: the window has no title")
            labelled.append((f"{locale} | {language.id} | {caption}", path))
        codec, install, play = (captured.get((locale, state)) for state in STATES)
        if codec and install and not differ(codec[0], install[0]):
            failures.append(f"{locale}: the codec missing and not installed pictures are the same")
        if install and play and install[1] == play[1]:
            failures.append(f"{locale}: the title is the same installed and not installed ({play[1]})")

    sheet = OUT / "all.png"
    if labelled:
        montage(labelled, sheet, "+6+6", len(STATES))
    if not sheet.is_file() or session.quietly("identify", str(sheet)) != 0:
        failures.append(f"no contact sheet at {sheet}")

    excerpt = [(f"{locale} | {language.id} | {STATES['install']}", captured[locale, "install"][0])
               for locale in EXCERPT for language in rows
               if language.locale == locale and (locale, "install") in captured]
    if len(excerpt) == len(EXCERPT):
        montage(excerpt, f"PNG8:{OUT / 'languages.png'}", "+4+4", len(EXCERPT), ["-colors", "256"])
    else:
        failures.append("no README excerpt: German, French or Swedish was not captured")
    return size


def main():
    for name in ("autorun.exe", "ui_language.exe", "codec_loads.dll", "recorder.exe"):
        if not (BUILD / name).is_file():
            sys.exit(f"No {BUILD / name}; build the win64 preset first (make build-win64).")
    session.run_inside(["--prefix", "screenshots", "--private-display"], [])

    # Grouped by language: primary language first, then the id.
    variants = sorted(facts.languages(), key=lambda language: (language.id % 1024, language.id))
    if not variants:
        sys.exit("No language variants in facts/languages.txt")
    shutil.rmtree(OUT, ignore_errors=True)
    shutil.rmtree(WORK, ignore_errors=True)
    OUT.mkdir(parents=True)
    (WORK / "game").mkdir(parents=True)
    try:
        demo_disc.assemble(WORK / "disc", BUILD, menu=True)
        shutil.copyfile(BUILD / "recorder.exe", WORK / "game" / "Zantoria.exe")

        # A locale that is not generated is not tried: Wine would still take
        # the language from its name, but the process would run in the C locale.
        available = set(subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split())
        reason, failures, tries = {}, [], []
        for language in variants:
            if f"{language.locale.lower()}.utf8" in available:
                tries.append(language)
            else:
                reason[language.id] = (f"the locale {language.locale}.UTF-8 is not generated here "
                                       "(scripts/install-deps.sh generates it)")
                failures.append(f"{language.id} not captured: {reason[language.id]}")

        print(f"Capturing the menu in {len(variants)} language variants under Wine...", flush=True)
        selected, captured = take(variants, tries, failures)
    finally:
        shutil.rmtree(WORK, ignore_errors=True)

    rows = []
    for language in tries:
        got = selected.get(language.locale, "")
        if got == str(language.id):
            rows.append(language)
            continue
        reason[language.id] = f"{language.locale} selects {got or 'no language'} under this Wine"
        if language.limit:
            reason[language.id] += f": {language.limit}"
        if not got:
            failures.append(f"ui_language.exe printed nothing in {language.locale}")
    if not rows:
        failures.append("no language variant could be captured")
    size = check_and_lay_out(rows, captured, failures)

    print(f"\nCaptured {len(rows)} of {len(variants)} language variants in {len(STATES)} states, {size} each:")
    for language in rows:
        print(f"  {language.id} {language.locale}")
    if len(rows) < len(variants):
        print("Not captured:")
        for language in variants:
            if language.id in reason:
                print(f"  {language.id} {reason[language.id]}")
    if failures:
        print(file=sys.stderr)
        for failure in failures:
            print(f"FAIL: {failure}", file=sys.stderr)
        sys.exit(1)
    print(f"Contact sheet: {OUT / 'all.png'}")


if __name__ == "__main__":
    main()
