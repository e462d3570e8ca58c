#!/usr/bin/env bash
# Lists a disc image with a reader independent of the one that wrote it,
# libarchive's bsdtar, reading the Joliet names that Windows shows, and
# compares the listing with the disc folder: the same files and folders,
# names and case included, and every file of the same size.
#   scripts/check-image-listing.sh IMAGE.iso DISC_ROOT
# Prints each difference; exits 1 when there is one, 2 when it cannot list.
set -uo pipefail
# bsdtar prints names beyond ASCII only in a UTF-8 locale.
export LC_ALL=C.UTF-8

image=${1:-}
disc=${2:-}
if [ -z "$image" ] || [ -z "$disc" ]; then
  echo "usage: check-image-listing.sh IMAGE.iso DISC_ROOT" >&2
  exit 2
fi
command -v bsdtar >/dev/null || { echo "bsdtar is not installed (scripts/install-deps.sh installs libarchive-tools)"; exit 2; }
[ -d "$disc" ] || { echo "no disc folder at $disc"; exit 2; }

# Without Rock Ridge, libarchive takes the Joliet names, or else the plain
# upper-case ISO 9660 ones, which then differ from the folder's.
listing=$(bsdtar -tvf "$image" --numeric-owner --options 'iso9660:!rockridge' 2>&1) ||
  { echo "bsdtar cannot list $image: ${listing%%$'\n'*}"; exit 2; }

# Entries as "/Movies/" or "/Movies/intro.avi (1234 bytes)", sorted.
expected=$(cd "$disc" && find . -mindepth 1 \( -type d -printf '/%P/\n' \) -o \( -type f -printf '/%P (%s bytes)\n' \) |
  LC_ALL=C sort)
# "-r--r--r--  1 0  0  1234 Jan  1  2000 Movies/intro.avi": type, size, name.
field='[^ ]+ +'
listed=$(while IFS= read -r line; do
  if [[ $line =~ ^([-d])$field$field$field$field([0-9]+)\ +$field$field[^\ ]+\ (.*)$ ]]; then
    path=${BASH_REMATCH[3]%/}
    [ "$path" = . ] && continue
    if [ "${BASH_REMATCH[1]}" = d ]; then
      printf '/%s/\n' "$path"
    else
      printf '/%s (%s bytes)\n' "$path" "${BASH_REMATCH[2]}"
    fi
  elif [ -n "$line" ]; then
    echo "?$line"
  fi
done <<<"$listing" | LC_ALL=C sort)

faults=0
while IFS= read -r entry; do
  [ -n "$entry" ] || continue
  echo "bsdtar's Joliet listing lacks $entry"
  faults=1
done < <(LC_ALL=C comm -23 <(echo "$expected") <(echo "$listed"))
while IFS= read -r entry; do
  [ -n "$entry" ] || continue
  if [[ $entry == "?"* ]]; then
    echo "bsdtar's Joliet listing has a line it cannot read: ${entry#?}"
  else
    echo "bsdtar's Joliet listing has $entry, which the disc folder does not"
  fi
  faults=1
done < <(LC_ALL=C comm -13 <(echo "$expected") <(echo "$listed"))
exit $faults
