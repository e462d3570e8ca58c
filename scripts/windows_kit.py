#!/usr/bin/python3
"""Makes the Windows test kit from the two builds: build/windows-kit/ and
build/windows-kit.zip, a folder a tester copies to a Windows machine and runs
with run-tests.cmd (see tests/kit/README.TXT):
    i686/      the shipping autorun.exe and its pinned copy (autorun-pinned.exe),
               the stand-ins (standins/) and the tests' helpers
               (tests/fixtures/), the test program and the kit's checker, all
               i686
    x86_64/    the x86_64 test build of autorun.exe and its pinned copy, its
               stand-ins, helpers, test program and checker
    bmp/       the public bitmap test suites
    run-tests.cmd, README.TXT, i686-exclusions.txt (the tests the i686 run
    leaves out, facts/i686-exclusions.txt)
    python3 scripts/windows_kit.py      (make windows-kit)"""
import shutil
import sys
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
KIT = ROOT / "build" / "windows-kit"
ZIP = ROOT / "build" / "windows-kit.zip"
# The start-up benchmark's programs stay out, and so do the Windows-like
# run's helpers (scripts/windows_like.py): a Windows machine is one.
LEFT_OUT = ("blank_window", "startup_bench", "machine_settings", "cover_window")


def main():
    for build in ("win32", "win64"):
        if not all((ROOT / "build" / build / name).is_file()
                   for name in ("autorun.exe", "autorun-pinned.exe", "wine_tests.exe", "kit_check.exe")):
            sys.exit(f"build/{build} has no autorun.exe, autorun-pinned.exe, wine_tests.exe or kit_check.exe: "
                     f"run make build first")
    shutil.rmtree(KIT, ignore_errors=True)
    ZIP.unlink(missing_ok=True)
    # Each build's programs and libraries.
    for build, run in (("win32", "i686"), ("win64", "x86_64")):
        (KIT / run).mkdir(parents=True)
        for program in sorted((ROOT / "build" / build).iterdir()):
            if program.suffix in (".exe", ".dll") and not program.name.startswith(LEFT_OUT):
                shutil.copyfile(program, KIT / run / program.name)
    shutil.copytree(ROOT / "tests" / "data" / "bmp", KIT / "bmp")
    # Windows line ends for the text a tester opens and the files cmd reads.
    for source in (ROOT / "tests" / "kit" / "run-tests.cmd", ROOT / "tests" / "kit" / "README.TXT",
                   ROOT / "facts" / "i686-exclusions.txt"):
        lines = source.read_bytes().replace(b"\r\n", b"\n").split(b"\n")
        (KIT / source.name).write_bytes(b"\r\n".join(lines))
    with zipfile.ZipFile(ZIP, "w", zipfile.ZIP_DEFLATED) as archive:
        for path in sorted(KIT.rglob("*")):
            archive.write(path, path.relative_to(KIT.parent))
    print(KIT)
    print(f"{ZIP} ({ZIP.stat().st_size // 1024} KiB)")


if __name__ == "__main__":
    main()
