"""One session a prefix at a time. A session holds a lock (flock) on each of
its prefixes for as long as it runs, on NAME.lock beside the prefix's folder
(not in it: a prefix is made again, or refused, as a whole), with NAME.holder
beside it saying whose session it is. The lock files are open in this
process alone, never inherited by a program the session starts, so the locks
end with the session however it ends: a Wine server or a test program left
behind never keeps a prefix locked."""
import fcntl
import os
from pathlib import Path

from .prefixes import Refused, note


def parent_of(pid):
    try:
        # The command's name, in parentheses, may hold blanks.
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return None
    return int(stat.rsplit(")", 1)[1].split()[1])


def is_ancestor(pid):
    """Whether process `pid` is this process or one of those it runs under."""
    current = os.getpid()
    while current and current > 1:
        if current == pid:
            return True
        current = parent_of(current)
    return False


class Locks:
    def __init__(self):
        self.held = []  # (prefix, open lock file)

    def take(self, prefixes, who, no_wait):
        """Locks each prefix. A prefix in use is refused at once with
        `no_wait`; otherwise this says whose session it waits for, and waits.
        A session started inside the session that holds the prefix is
        refused, since it would wait for itself."""
        for prefix in sorted(set(map(Path, prefixes))):
            prefix.parent.mkdir(parents=True, exist_ok=True)
            lock = open(f"{prefix}.lock", "a")
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                try:
                    holder = Path(f"{prefix}.holder").read_text().strip()
                except OSError:
                    holder = ""
                holder = holder or "(a session that has not said who it is yet)"
                pid = holder.split()[0]
                if pid.isdigit() and is_ancestor(int(pid)):
                    lock.close()
                    raise Refused(f"{prefix} is held by the session this command runs in ({holder}): "
                                  "run the command there directly") from None
                if no_wait:
                    lock.close()
                    raise Refused(f"{prefix} is in use by another session, process {holder}; "
                                  "not waiting (--no-wait)") from None
                note(f"waiting for the session that uses {prefix} to end: process {holder}")
                fcntl.flock(lock, fcntl.LOCK_EX)
            self.held.append((prefix, lock))
        for prefix, _ in self.held:
            Path(f"{prefix}.holder").write_text(who + "\n")

    def release(self):
        for prefix, lock in self.held:
            Path(f"{prefix}.holder").unlink(missing_ok=True)
            lock.close()
        self.held = []
