"""The session's command: scripts/wine-session.sh --help."""
import os
import shutil
import signal
import subprocess
import tempfile
from pathlib import Path

from . import display, prefixes
from .locks import Locks
from .prefixes import Refused, note

USAGE = """\
usage: wine-session.sh [OPTIONS] [--] COMMAND [ARG...]
       wine-session.sh --can-run RUN
       wine-session.sh --exec RUN [--] PROGRAM [ARG...]

Runs COMMAND in a Wine session of the project's own: a Wine prefix under
build/wine/ (made once and marked as the session's), a persistent Wine server
for it, stopped when COMMAND ends, and a private Xvfb display unless DISPLAY
is set. Install records and codec files an interrupted run left in the
prefix are cleared first. COMMAND gets WINEPREFIX; a WINEPREFIX, WINEARCH or
WINESERVER from the caller is ignored, with a note: the session uses no
prefix it did not make. One session a prefix at a time: while another
session uses the prefix, it says whose (process id and command) and waits.
Exits with COMMAND's exit code, or 2 when it refuses.

  --prefix NAME      the prefix build/wine/NAME (default x86_64)
  --i686             also the i686 run's prefix, build/wine/i686 (NAME-i686
                     beside another --prefix NAME), where this machine can
                     make the i686 run (exported as AUTORUN_WINEPREFIX_I686)
  --fresh            make the prefix anew, as a fresh machine
  --private-display  a private Xvfb even when DISPLAY is set
  --screen WxH       the private Xvfb's screen size (default {screen});
                     implies --private-display
  --no-wait          refuse (exit 2), saying whose it is, when another
                     session uses the prefix, rather than wait

  --can-run RUN      exits with 0 when the run x86_64 or i686 can be made on
                     this machine; otherwise prints why and exits with 1
  --exec RUN         starts a Windows program under the Wine loader of the
                     run's bitness in the run's prefix, which a session must
                     have made (the end-to-end tests start this way): inside
                     a session, its own (WINEPREFIX, AUTORUN_WINEPREFIX_I686)

AUTORUN_ASSUME_NO_32BIT=1 answers as a machine that cannot run 32-bit code.
""".format(screen=display.DEFAULT_SCREEN)


class Options:
    name = "x86_64"
    with_i686 = fresh = private_display = no_wait = False
    screen = display.DEFAULT_SCREEN
    command = ()


FLAGS = {"--i686": "with_i686", "--fresh": "fresh", "--private-display": "private_display", "--no-wait": "no_wait"}


def wine_defaults(environment):
    for variable, value in (("WINEDEBUG", "-all"), ("WINEDLLOVERRIDES", "mscoree,mshtml=")):
        environment[variable] = environment.get(variable) or value


def can_run(arguments):
    if len(arguments) != 1:
        raise Refused("--can-run takes one run: x86_64 or i686")
    reason = prefixes.cannot_run(arguments[0])
    if reason:
        print(reason)
        return 1
    return 0


def execute(arguments):
    """--exec RUN [--] PROGRAM [ARG...]: replaces this process."""
    if len(arguments) < 2:
        raise Refused("--exec needs a run and a program")
    run, program = arguments[0], arguments[1:]
    if program[:1] == ["--"]:
        program = program[1:]
    if not program:
        raise Refused("--exec needs a program")
    if run not in prefixes.RUNS:
        raise Refused(f"no such run: '{run}' (x86_64 or i686)")
    # Inside a session, the session's own prefix of that run, where it is one
    # the session made; otherwise the run's usual one.
    inside = os.environ.get("WINEPREFIX" if run == "x86_64" else "AUTORUN_WINEPREFIX_I686", "")
    prefix = Path(inside) if inside and prefixes.ours(inside) else prefixes.prefix_path(run)
    if not prefixes.ours(prefix):
        raise Refused(f"no prefix of the Wine session at {prefix}: run this inside the session "
                      "(scripts/wine-session.sh, as make test does)")
    environment = dict(os.environ, WINEPREFIX=str(prefix))
    wine_defaults(environment)
    loader = prefixes.loader(run)
    os.execve(loader, [loader, *program], environment)


def parse(arguments):
    """Options, or an exit code for --help, --can-run and --exec."""
    options = Options()
    while arguments:
        option, arguments = arguments[0], arguments[1:]
        if option in ("--help", "-h"):
            print(USAGE, end="")
            return 0
        if option == "--prefix":
            if not arguments:
                raise Refused("--prefix needs a name")
            options.name, arguments = arguments[0], arguments[1:]
        elif option == "--screen":
            if not arguments or not display.screen_size(arguments[0]):
                raise Refused("--screen needs a size WIDTHxHEIGHT, such as 1024x768")
            options.screen, arguments = arguments[0], arguments[1:]
            options.private_display = True
        elif option in FLAGS:
            setattr(options, FLAGS[option], True)
        elif option == "--can-run":
            return can_run(arguments)
        elif option == "--exec":
            return execute(arguments)
        elif option == "--":
            options.command = arguments
            break
        elif option.startswith("-"):
            raise Refused(f"unknown option: {option} (see --help)")
        else:
            options.command = [option, *arguments]
            break
    if not options.command:
        raise Refused("no command to run (see --help)")
    return options


def environment_of_session(prefix):
    environment = dict(os.environ)
    for variable in ("WINEPREFIX", "WINEARCH", "WINESERVER"):
        value = environment.pop(variable, "")
        # A session's own, as inside another session, is no news.
        if value and not (variable == "WINEPREFIX" and value.startswith(f"{prefixes.WINE_DIR}/")):
            note(f"ignoring {variable}={value} from the environment: the session runs in {prefix}, "
                 "a prefix of its own")
    wine_defaults(environment)
    # Wine reads the X authority from the home folder when XAUTHORITY is
    # unset, and the session changes the home folder while it makes prefixes.
    if environment.get("DISPLAY"):
        environment.setdefault("XAUTHORITY", os.path.expanduser("~/.Xauthority"))
    return environment


class Ended(Exception):
    """The session was asked to end (SIGTERM)."""


def session(options, arguments):
    prefix = prefixes.prefix_path(options.name)
    environment = environment_of_session(prefix)
    held = [prefix]
    if options.with_i686 and options.name != "i686":
        reason = prefixes.cannot_run("i686")
        environment.pop("AUTORUN_WINEPREFIX_I686", None)
        if reason:
            print(f"wine-session: no i686 prefix: {reason}", flush=True)
        else:
            i686 = prefixes.prefix_path("i686" if options.name == "x86_64" else f"{options.name}-i686")
            environment["AUTORUN_WINEPREFIX_I686"] = str(i686)
            held.append(i686)

    prefixes.WINE_DIR.mkdir(parents=True, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="session.", dir=prefixes.WINE_DIR)
    locks, private, started, command = Locks(), None, [], None

    def on_terminate(number, _frame):
        if command is not None and command.poll() is None:
            command.send_signal(number)
        raise Ended()

    previous = signal.signal(signal.SIGTERM, on_terminate)
    try:
        # Nothing of a prefix is stopped, cleared or made again before its lock is held.
        locks.take(held, f"{os.getpid()} wine-session.sh {' '.join(arguments)}", options.no_wait)
        # DISPLAY must be set before a prefix boots, or every later window fails.
        if not environment.get("DISPLAY") or options.private_display:
            private = display.PrivateDisplay(scratch, options.screen)
            if not private.start(environment):
                note("the private display (Xvfb) did not start")
                return 1
        os.environ.clear()
        os.environ.update(environment)
        for one in held:
            prefixes.ready(one, options.fresh)
            started.append(one)
            prefixes.server_start(one)
            prefixes.clear_leftovers(one)
        environment["WINEPREFIX"] = str(prefix)
        try:
            command = subprocess.Popen(options.command, env=environment)
        except OSError as error:
            note(f"cannot run {options.command[0]}: {error.strerror}")
            return 127
        try:
            status = command.wait()
        except KeyboardInterrupt:
            # The command got the interrupt too; the session ends once it has.
            command.wait()
            return 130
        # As a shell reports a command a signal ended.
        return 128 - status if status < 0 else status
    except prefixes.Failed as failure:
        note(str(failure))
        return 1
    except Ended:
        if command is not None:
            command.wait()
        return 143
    except KeyboardInterrupt:
        return 130
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        for one in started:
            prefixes.server_stop(one)
        if private:
            private.stop()
        locks.release()
        shutil.rmtree(scratch, ignore_errors=True)
        signal.signal(signal.SIGTERM, previous)


def main(arguments):
    try:
        options = parse(list(arguments))
        if isinstance(options, int):
            return options
        return session(options, list(arguments))
    except Refused as refusal:
        note(str(refusal))
        return 2
