"""Writes the disc image with xorriso: ISO 9660 with Joliet names (what
Windows reads: case kept, long names whole) and Rock Ridge names.

Pinned so that the same folder gives the same bytes: every date (the files',
the volume's and xorriso's own "now"), the descriptor ids (the default
preparer id names xorriso's version), owners and modes. No hard link or
device/inode records, ACLs, xattrs or checksums: those follow the disk the
files came from. libisofs sorts every directory by name and numbers Rock
Ridge inodes in that order. Names are taken as UTF-8 whatever the caller's
locale, which would otherwise turn accented letters into "_". Links are
followed. One closed session from block 0, without the emulated table of
contents xorriso adds for appendable media."""
import os
import subprocess
import time

from .errors import CannotRun


def write(image, label, date, content, extra_files):
    """Writes `image` from the folder `content` and `extra_files`, a
    {disc path: file} mapping laid over it."""
    stamp = time.strftime("%Y%m%d%H%M%S", time.gmtime(date))
    arguments = [
        "xorriso", "-no_rc", "-report_about", "SORRY", "-abort_on", "FAILURE", "-return_with", "SORRY", "32",
        "-local_charset", "UTF-8", "-outdev", f"stdio:{image}", "-compliance", "no_emul_toc", "-close", "on",
        "-joliet", "on", "-rockridge", "on", "-hardlinks", "off", "-disk_dev_ino", "off", "-acl", "off",
        "-xattr", "off", "-md5", "off", "-follow", "link",
        "-volid", label, "-volset_id", "", "-publisher", "", "-application_id", "", "-system_id", "",
        "-preparer_id", "", "-iso_nowtime", f"={date}", "-volume_date", "uuid", stamp + "00",
        "-volume_date", "all_file_dates", f"={date}",
        "-map", str(content), "/",
    ]
    for disc_path, source in sorted(extra_files.items()):
        arguments += ["-map", str(source), disc_path]
    arguments += ["-chown_r", "0", "/", "--", "-chgrp_r", "0", "/", "--",
                  "-find", "/", "-type", "d", "-exec", "chmod", "0555", "--",
                  "-find", "/", "-type", "f", "-exec", "chmod", "0444", "--", "-commit"]
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(date), LC_ALL="C")
    try:
        result = subprocess.run(arguments, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except OSError as error:
        raise CannotRun(f"cannot start xorriso: {error.strerror}") from None
    if result.returncode != 0:
        raise CannotRun("xorriso could not make the image:\n" + result.stdout.decode(errors="replace").rstrip())
