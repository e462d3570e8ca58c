#!/usr/bin/python3
"""Checks that Windows programs carry a manifest asking for no more than the
invoker's rights (asInvoker, no uiAccess) and naming the systems a reference
manifest names, so that Windows gives them neither elevation nor registry and
file virtualisation. The test kit's programs are checked against the menu's
own manifest:
  check_manifest.py --like resources/autorun.manifest kit_check.exe wine_tests.exe
Exits with 0 when every program passes, 1 when one does not, 2 when it
cannot read something."""
import argparse
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
TRUST = ("urn:schemas-microsoft-com:asm.v2", "urn:schemas-microsoft-com:asm.v3")
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
RT_MANIFEST = "24"


def supported_systems(root):
    return {element.get("Id", "").lower() for element in root.iter(f"{{{COMPATIBILITY}}}supportedOS")}


def execution_levels(root):
    return [element for namespace in TRUST for element in root.iter(f"{{{namespace}}}requestedExecutionLevel")]


def problems(manifest, systems):
    """What is wrong with a program's manifest (bytes), as sentences."""
    try:
        root = ElementTree.fromstring(manifest)
    except ElementTree.ParseError as error:
        return [f"its manifest is not XML ({error})"]
    found = []
    if root.tag != f"{{{ASM_V1}}}assembly":
        found.append(f"its manifest is no assembly manifest (root {root.tag})")
    levels = execution_levels(root)
    if len(levels) != 1:
        found.append(f"its manifest names {len(levels)} execution levels, not one")
    for level in levels:
        if level.get("level") != "asInvoker":
            found.append(f"its manifest asks for {level.get('level')}, not asInvoker")
        if level.get("uiAccess", "false") != "false":
            found.append("its manifest asks for uiAccess")
    missing = systems - supported_systems(root)
    if missing:
        found.append(f"its manifest does not name the systems {sorted(missing)}")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--like", required=True, help="the reference manifest, whose systems each program must name")
    parser.add_argument("programs", nargs="+")
    options = parser.parse_args()
    try:
        systems = supported_systems(ElementTree.parse(options.like).getroot())
    except (OSError, ElementTree.ParseError) as error:
        print(f"check_manifest: cannot read {options.like}: {error}", file=sys.stderr)
        return 2
    if not systems:
        print(f"check_manifest: {options.like} names no systems", file=sys.stderr)
        return 2
    failed = False
    for program in options.programs:
        listing = subprocess.run(["wrestool", "-l", f"--type={RT_MANIFEST}", program],
                                 capture_output=True, text=True)
        if listing.returncode != 0:
            print(f"check_manifest: cannot read the resources of {program}: {listing.stderr.strip()}", file=sys.stderr)
            return 2
        extracted = subprocess.run(["wrestool", "-x", "--raw", f"--type={RT_MANIFEST}", "--name=1", program],
                                   capture_output=True)
        if not extracted.stdout:
            print(f"FAIL: {program} carries no manifest (resource type 24, name 1)")
            failed = True
            continue
        found = problems(extracted.stdout, systems)
        if listing.stdout.count("--type=24") != 1:
            found.append("it carries more than one manifest")
        for problem in found:
            print(f"FAIL: {program}: {problem}")
        failed = failed or bool(found)
        if not found:
            print(f"OK: {program} asks for the invoker's rights and names {len(systems)} systems")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
