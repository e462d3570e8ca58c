"""The two ways a run ends early. Refused (exit code 1) is the publisher's
files or options; CannotRun (exit code 2) is this machine: a missing tool, an
unreadable file, a failed build. Each message names the file or option, says
what is wrong and what to do."""


class Refused(Exception):
    exit_code = 1


class CannotRun(Exception):
    exit_code = 2
