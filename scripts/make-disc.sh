#!/usr/bin/env bash
# Assembles the disc folder and its ISO 9660 image:
#   DISC_CONTENT=/path/to/gold DISC_LABEL=ZANTORIA scripts/make-disc.sh
# The disc root (DISC_OUT/root, DISC_OUT defaulting to build/disc) gets the
# shipping autorun.exe, an autorun.inf that opens it, and the publisher's files
# from DISC_CONTENT, copied as they are. Without DISC_CONTENT it becomes a demo
# disc: the generated splash picture, the i686 stand-ins under the names the
# menu opens, and a README.TXT saying so. The image DISC_OUT/<label>.iso has
# Joliet names (what Windows reads) and Rock Ridge names, and the same inputs
# always give the same bytes. It is checked by check-disc.sh before it is put
# in place; a failed run leaves no image in DISC_OUT at all.
#
# DISC_ALLOW_MISSING=1 makes a disc even when a file the menu opens is absent,
# DISC_ALLOW_MISMATCH=1 even when one is refused as the menu could not use it.
# DISC_SIGN_PFX (or DISC_SIGN_CERT and DISC_SIGN_KEY) signs the disc's copy of
# the menu with the publisher's certificate: see sign-disc.sh.
# SOURCE_DATE_EPOCH, when set, is the date every file and the volume carry.
# AUTORUN_BUILD names the i686 build folder (default build/win32),
# AUTORUN_HOST_BUILD the native one with the content check (default build/host).
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd -P)
label=${DISC_LABEL:-ZANTORIA}
content=${DISC_CONTENT:-}
out=${DISC_OUT:-$root/build/disc}
programs=${AUTORUN_BUILD:-$root/build/win32}
# 2000-01-01 00:00:00 UTC unless the caller pins another date.
epoch=${SOURCE_DATE_EPOCH:-946684800}
xorriso=${XORRISO:-xorriso}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

# The files the menu opens from its own folder on the disc.
needed=(setup.exe autorun.bmp MYIR50_32.dll RegSvr32.exe DSETUP.dll)

fail() {
  echo "make-disc: $*" >&2
  exit 1
}

command -v "$xorriso" >/dev/null || fail "xorriso is not installed (scripts/install-deps.sh installs it)"
[[ $epoch =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH '$epoch' is not a number of seconds"

# Everything this script writes or removes lies in the output folder, which
# must be inside the repository's build folder.
out=$(realpath -m -- "$out")
case "$out/" in
  "$root/build/"?*) ;;
  *) fail "DISC_OUT $out is not inside $root/build" ;;
esac

# The content folder must stay clear of what is replaced below, and must not
# take in its own copy.
if [ -n "$content" ]; then
  content=$(realpath -m -- "$content")
  # "/" stays "/", any other folder gains its slash.
  case "$out/" in "${content%/}/"*) fail "DISC_CONTENT $content holds the output folder $out" ;; esac
fi

# An image from an earlier run must not outlive a failed one.
mkdir -p "$out"
rm -f "$out"/*.iso "$out"/.*.iso.part
case "${content%/}/" in "$out/root/"*) fail "DISC_CONTENT $content lies inside the disc folder $out/root, which is made anew" ;; esac
chmod -R u+w "$out"/check-disc.* 2>/dev/null || true
rm -rf "$out/root" "$out"/check-disc.* "$out/signing-chain.pem"
partial=""
trap '[ -z "$partial" ] || rm -f "$partial"' EXIT
trap 'exit 1' INT TERM HUP

# ISO 9660 d-characters only. Windows reads the volume name from the Joliet
# descriptor, which holds 16 characters: a longer name would reach it cut.
if ! [[ $label =~ ^[A-Z0-9_]{1,16}$ ]]; then
  fail "DISC_LABEL '$label' cannot be the disc's volume name: use 1 to 16 of A-Z, 0-9 and _ (for example ZANTORIA)"
fi

if [ -n "$content" ]; then
  [ -e "$content" ] || fail "DISC_CONTENT $content does not exist"
  [ -d "$content" ] || fail "DISC_CONTENT $content is not a folder"
  # autorun.exe and autorun.inf are what this script builds; a copy in the
  # content folder would put a different menu on the disc.
  for own in autorun.exe autorun.inf; do
    clash=$(find "$content" -mindepth 1 -maxdepth 1 -iname "$own" -printf '%f\n')
    [ -z "$clash" ] || fail "DISC_CONTENT holds $clash; make disc puts its own $own on the disc: remove it from $content"
  done
  odd=$(find -L "$content" -mindepth 1 ! -type f ! -type d -printf '  %P\n')
  [ -z "$odd" ] || fail "DISC_CONTENT holds entries that are neither files nor folders (or broken links):"$'\n'"$odd"
  odd=$(find "$content" -mindepth 1 -name '*[[:cntrl:]<>:"\\|?*]*' -printf '  %P\n')
  [ -z "$odd" ] || fail "DISC_CONTENT holds names Windows cannot open:"$'\n'"$odd"
fi

[ -f "$programs/autorun.exe" ] || fail "no $programs/autorun.exe: build the win32 preset first (make build-win32)"
"$objdump" -f "$programs/autorun.exe" | grep -q 'file format pei-i386' ||
  fail "$programs/autorun.exe is not the i686 (PE32) build"

disc=$out/root
mkdir -p "$disc"
if [ -n "$content" ]; then
  cp -R -L --no-preserve=all -- "$content/." "$disc/" || fail "could not copy DISC_CONTENT $content"
else
  python3 "$root/scripts/make_splash.py" "$disc/autorun.bmp" >/dev/null
  for pair in dsetup_standin.dll:DSETUP.dll recorder.exe:setup.exe recorder.exe:RegSvr32.exe \
              codec_loads.dll:MYIR50_32.dll; do
    [ -f "$programs/${pair%%:*}" ] || fail "no stand-in $programs/${pair%%:*}: build the win32 preset first"
    cp -- "$programs/${pair%%:*}" "$disc/${pair##*:}"
  done
  printf '%s\r\n' \
    "Demo disc" \
    "" \
    "This is a demo disc of the start-up menu. Its setup program (setup.exe)," \
    "DirectX setup library (DSETUP.dll), video codec (MYIR50_32.dll) and" \
    "registration program (RegSvr32.exe) are stand-ins: they install nothing" \
    "and start no game." \
    "" \
    "One file does reach the machine: on a machine without the video codec," \
    "Install codec copies the codec stand-in into the Windows system folder" \
    "as IR50_32.DLL, as it would copy the real codec. Delete that file" \
    "afterwards, or the menu will take the stand-in for an installed codec." \
    >"$disc/README.TXT"
fi
cp -- "$programs/autorun.exe" "$disc/autorun.exe"
# The publisher's signature goes on the disc's copy only; the build's file
# stays as it was built, and the check compares the two.
chain=""
if [ -n "${DISC_SIGN_PFX:-}${DISC_SIGN_CERT:-}${DISC_SIGN_KEY:-}${DISC_SIGN_PASSWORD_FILE:-}${DISC_SIGN_TIMESTAMP_URL:-}" ]; then
  chain=$out/signing-chain.pem
  bash "$root/scripts/sign-disc.sh" sign "$disc/autorun.exe" "$chain" || fail "the menu could not be signed; no image was made"
fi
printf '%s\r\n' "[autorun]" "open=autorun.exe" "icon=autorun.exe,0" "label=$label" >"$disc/autorun.inf"

# Windows finds files whatever their case, so a name differing only in case
# from another would hide one of them.
twins=$(find "$disc" -mindepth 1 -printf '%P\n' | awk '{ k = tolower($0) } k in seen { print "  " seen[k] " and " $0 } { seen[k] = $0 }')
[ -z "$twins" ] || fail "names that differ only in case (Windows would see one of each):"$'\n'"$twins"

missing=()
for name in "${needed[@]}"; do
  [ -n "$(find "$disc" -mindepth 1 -maxdepth 1 -type f -iname "$name")" ] || missing+=("$name")
done
if [ ${#missing[@]} -gt 0 ]; then
  printf 'make-disc: missing from the disc: %s\n' "${missing[@]}" >&2
  [ "${DISC_ALLOW_MISSING:-0}" = 1 ] ||
    fail "the menu needs ${missing[*]}: add the missing files to DISC_CONTENT, or set DISC_ALLOW_MISSING=1 to make the disc without them"
  echo "make-disc: making the disc without them (DISC_ALLOW_MISSING=1)" >&2
fi

# Each file the menu opens, read as the menu will use it (tools/); a refusal
# stops the disc unless DISC_ALLOW_MISMATCH=1 turns it into a warning.
checker=${AUTORUN_HOST_BUILD:-$root/build/host}/tools/check_disc_content
[ -x "$checker" ] || fail "no $checker: build the host preset first (make build-host)"
allow=()
[ "${DISC_ALLOW_MISMATCH:-0}" != 1 ] || allow=(--allow-mismatch)
"$checker" "${allow[@]}" "$disc" 2>&1 | sed 's/^/make-disc: /' >&2 ||
  fail "the menu cannot use the files refused above: replace them in DISC_CONTENT, or set DISC_ALLOW_MISMATCH=1 to make the disc all the same"

# Pinned so that the same folder gives the same bytes: every date (the files',
# the volume's and xorriso's own "now"), the descriptor ids (the default
# preparer id names xorriso's version), owners and modes. No hard link or
# device/inode records, ACLs, xattrs or checksums: those follow the disk the
# files came from. libisofs sorts every directory by name and numbers Rock
# Ridge inodes in that order. Names are taken as UTF-8 whatever the caller's
# locale, which would otherwise turn accented letters into "_". One closed
# session from block 0, without the emulated table of contents xorriso adds
# for appendable media.
date=$(date -u -d "@$epoch" +%Y%m%d%H%M%S)
image=$out/$label.iso
partial=$out/.$label.iso.part
if ! log=$(SOURCE_DATE_EPOCH=$epoch "$xorriso" -no_rc -report_about SORRY -abort_on FAILURE -return_with SORRY 32 -local_charset UTF-8 \
  -outdev "stdio:$partial" -compliance no_emul_toc -close on \
  -joliet on -rockridge on -hardlinks off -disk_dev_ino off -acl off -xattr off -md5 off \
  -volid "$label" -volset_id "" -publisher "" -application_id "" -system_id "" -preparer_id "" \
  -iso_nowtime "=$epoch" -volume_date uuid "${date}00" -volume_date all_file_dates "=$epoch" \
  -map "$disc" / \
  -chown_r 0 / -- -chgrp_r 0 / -- \
  -find / -type d -exec chmod 0555 -- -find / -type f -exec chmod 0444 -- \
  -commit 2>&1); then
  echo "$log" >&2
  fail "xorriso could not make the image"
fi

# The check extracts the image twice: under build/, not in a small /tmp.
DISC_SIGNED_CHAIN=$chain DISC_UNSIGNED_PROGRAM=$programs/autorun.exe TMPDIR=$out bash "$root/scripts/check-disc.sh" "$partial" "$disc" "$label" || fail "the image failed its checks; no image was kept"
mv -- "$partial" "$image"
partial=""
echo "Disc image: $image ($(stat -c %s "$image") bytes, volume $label)"
