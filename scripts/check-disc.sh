#!/usr/bin/env bash
# Checks a disc image against the folder it was made from, as a pressing plant
# would before making discs from it:
#   scripts/check-disc.sh IMAGE.iso DISC_ROOT [LABEL]
# - the image's listing, read with its Joliet names (what Windows shows) and
#   again with its Rock Ridge names, holds exactly the files and folders of
#   DISC_ROOT, names and case included;
# - every file extracted from the image equals the one in DISC_ROOT, byte for
#   byte, under either set of names;
# - autorun.inf is plain ASCII with CRLF line ends, and its [autorun] section
#   has open=, icon= and label= once each, naming files the disc carries and
#   an icon the program has;
# - the volume name, in the ISO 9660 and the Joliet descriptor, is LABEL (by
#   default the label= of autorun.inf);
# - a second reader, independent of xorriso, lists the same Joliet names and
#   file sizes as the folder (check-image-listing.sh);
# - with DISC_SIGNED_CHAIN set, the disc's autorun.exe carries a signature
#   that verifies against that chain, and without the signature it is
#   DISC_UNSIGNED_PROGRAM byte for byte (scripts/sign-disc.sh verify).
# Prints the listing and a summary; exits 1 listing every fault found, 2 when
# it cannot check at all.
set -uo pipefail
export LC_ALL=C

image=${1:-}
disc=${2:-}
expected_label=${3:-}
xorriso=${XORRISO:-xorriso}

if [ -z "$image" ] || [ -z "$disc" ]; then
  echo "usage: check-disc.sh IMAGE.iso DISC_ROOT [LABEL]" >&2
  exit 2
fi
for tool in "$xorriso" wrestool; do
  command -v "$tool" >/dev/null || { echo "check-disc: $tool is not installed" >&2; exit 2; }
done
[ -f "$image" ] || { echo "check-disc: no image at $image" >&2; exit 2; }
[ -d "$disc" ] || { echo "check-disc: no disc folder at $disc" >&2; exit 2; }
image=$(realpath -- "$image")
disc=$(realpath -- "$disc")

failures=()
fail() { failures+=("$*"); }

work=$(mktemp -d "${TMPDIR:-/tmp}/check-disc.XXXXXX")
# Extracted folders are read-only, as on the disc.
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

# A descriptor field as text: one byte per character, or two (UCS-2,
# big-endian, anything beyond ASCII shown as "?"), without the padding spaces.
field_text() {
  local hex=$1 width=$2 text="" char i
  for ((i = 0; i < ${#hex}; i += width * 2)); do
    if [ "$width" = 2 ] && [ "${hex:i:2}" != 00 ]; then
      text+="?"
    else
      printf -v char "\\x${hex:i+width*2-2:2}"
      text+=$char
    fi
  done
  REPLY=${text%"${text##*[! ]}"}
}

# The volume descriptors from block 16 on, up to the terminator (type 255),
# as hexadecimal text: two characters a byte, 4096 a block.
descriptors=$(od -An -v -tx1 -j 32768 -N 65536 -- "$image" | tr -d ' \n')
type=""
primary_label=""
joliet_label=""
joliet=0
for ((at = 0; at + 4096 <= ${#descriptors}; at += 4096)); do
  [ "${descriptors:at+2:10}" = 4344303031 ] || break # "CD001"
  type=${descriptors:at:2}
  case $type in
    01) field_text "${descriptors:at+80:64}" 1 && primary_label=$REPLY ;;
    02)
      # Joliet marks its supplementary descriptor with one of three escape
      # sequences: "%/@", "%/C" or "%/E".
      case ${descriptors:at+176:6} in
        252f40 | 252f43 | 252f45) joliet=1 && field_text "${descriptors:at+80:64}" 2 && joliet_label=$REPLY ;;
      esac
      ;;
    ff) break ;;
  esac
done
[ -n "$type" ] || { echo "check-disc: $image is not an ISO 9660 image" >&2; exit 2; }
[ "$joliet" = 1 ] || fail "no Joliet descriptor: Windows would see only 8.3 names"

# Paths under a folder as "d /Data" or "f /Data/intro.avi", sorted.
expected=$(cd "$disc" && find . -mindepth 1 -printf '%y /%P\n' | sort)

# "norock" reads the Joliet names, "nojoliet" the Rock Ridge ones. Without the
# tree asked for, xorriso falls back to upper-case ISO 9660 names, which then
# differ from the folder's.
for tree in "Rock Ridge:nojoliet" Joliet:norock; do
  name=${tree%%:*}
  extracted=$work/${tree##*:}
  "$xorriso" -no_rc -report_about SORRY -abort_on FAILURE -return_with SORRY 32 -local_charset UTF-8 \
    -read_fs "${tree##*:}" -indev "stdio:$image" -sh_style_result on \
    -find / -exec lsdl -- -osirrox on -extract / "$extracted" \
    >"$work/listing" 2>"$work/errors" || {
    fail "xorriso cannot read the $name tree: $(grep -v '^xorriso [0-9]' "$work/errors" | head -n 3)"
    continue
  }
  [ "$name" = Joliet ] && cp "$work/listing" "$work/joliet-listing"

  listed=$(sed -n 's|^\([-d]\)[^/]* \(/.\)|\1 \2|p' "$work/listing" | sed 's/^-/f/' | sort)
  while read -r entry; do
    [ -n "$entry" ] && fail "$name listing lacks ${entry#? }"
  done < <(comm -23 <(echo "$expected") <(echo "$listed"))
  while read -r entry; do
    [ -n "$entry" ] && fail "$name listing has ${entry#? }, which the disc folder does not"
  done < <(comm -13 <(echo "$expected") <(echo "$listed"))

  while IFS= read -r line; do
    # Names missing on either side are reported from the listing above.
    if [[ $line == "Only in "* ]]; then
      continue
    elif [[ $line =~ ^Files\ "$disc"/(.*)\ and\ "$extracted"/.*\ differ$ ]]; then
      fail "${BASH_REMATCH[1]} differs from the disc folder's copy ($name tree)"
    else
      line=${line//"$extracted"/"the $name tree"}
      fail "${line//"$disc"/the disc folder}"
    fi
  done < <(diff -rq --no-dereference -- "$disc" "$extracted")
  # Only the Joliet copy is read further; a full disc's worth is large.
  [ "$name" = Joliet ] || { chmod -R u+w "$extracted" && rm -rf "$extracted"; }
done

# The same Joliet tree through another reader than the one that wrote it.
listing_faults=$(bash "$(dirname "$0")/check-image-listing.sh" "$image" "$disc" 2>&1) ||
  while IFS= read -r line; do fail "$line"; done <<<"$listing_faults"

# What Windows reads from the disc: the Joliet copy.
inf=$(find "$work/norock" -mindepth 1 -maxdepth 1 -type f -iname autorun.inf 2>/dev/null)
inf_label=""
if [ -z "$inf" ]; then
  fail "no autorun.inf on the disc"
else
  non_ascii=$(tr -d '\11\12\15\40-\176' <"$inf" | wc -c)
  [ "$non_ascii" -eq 0 ] || fail "autorun.inf has $non_ascii bytes that are not printable ASCII"
  # Every line ends CR LF; no CR or LF stands alone, the last line included.
  awk 'BEGIN { RS = "\n" } !/\r$/ || /\r./ { bad = 1 } END { exit bad }' "$inf" &&
    [ "$(tail -c 1 "$inf" | od -An -tx1 | tr -d ' ')" = 0a ] ||
    fail "autorun.inf does not end every line with CR LF"

  # Keys and section names are matched without regard to case, as Windows does.
  section=""
  declare -A values=() counts=()
  while IFS= read -r line; do
    line=${line%$'\r'}
    if [[ $line =~ ^[[:space:]]*\[([^]]*)\][[:space:]]*$ ]]; then
      section=${BASH_REMATCH[1],,}
    elif [ "$section" = autorun ] && [[ $line =~ ^[[:space:]]*([^=;[:space:]][^=]*)=(.*)$ ]]; then
      value=${BASH_REMATCH[2]}
      key=${BASH_REMATCH[1],,}
      key=${key%"${key##*[![:space:]]}"}
      value=${value#"${value%%[![:space:]]*}"}
      values[$key]=${value%"${value##*[![:space:]]}"}
      counts[$key]=$((${counts[$key]:-0} + 1))
    fi
  done <"$inf"
  for key in open icon label; do
    case "${counts[$key]:-0}" in
      1) ;;
      0) fail "autorun.inf has no $key= in an [autorun] section" ;;
      *) fail "autorun.inf has $key= ${counts[$key]} times" ;;
    esac
  done
  inf_label=${values[label]:-}

  # A path on the disc as Windows would open it: backslashes, any case, and
  # no wildcards.
  disc_file() {
    local path=${1//\\//}
    path=${path//\*/\\*}
    path=${path//\?/\\?}
    find "$work/norock" -mindepth 1 -type f -ipath "$work/norock/${path//\[/\\[}" -print -quit
  }
  open=${values[open]:-}
  open=${open%% *}
  if [ -n "$open" ] && [ -z "$(disc_file "$open")" ]; then
    fail "autorun.inf opens $open, which is not on the disc"
  fi
  icon=${values[icon]:-}
  if [ -n "$icon" ]; then
    icon_file=${icon%%,*}
    icon_index=0
    [ "$icon_file" = "$icon" ] || icon_index=${icon#*,}
    program=$(disc_file "$icon_file")
    if [ -z "$program" ]; then
      fail "autorun.inf takes its icon from $icon_file, which is not on the disc"
    elif ! [[ $icon_index =~ ^-?[0-9]+$ ]]; then
      fail "autorun.inf names icon index '$icon_index', which is not a number"
    else
      # Index n is the program's (n+1)th icon group; -n is the group with id n.
      groups=$(wrestool -l --type=14 "$program" 2>/dev/null | sed -n 's/^--type=14 --name=\([^ ]*\) .*/\1/p' | uniq)
      if [ "$icon_index" -ge 0 ]; then
        [ "$(grep -c . <<<"$groups")" -gt "$icon_index" ] || fail "$icon_file has no icon at index $icon_index"
      else
        grep -qx -- "${icon_index#-}" <<<"$groups" || fail "$icon_file has no icon group ${icon_index#-}"
      fi
    fi
  fi
fi

if [ -n "${DISC_SIGNED_CHAIN:-}" ]; then
  signed=$(find "$work/norock" -mindepth 1 -maxdepth 1 -type f -iname autorun.exe 2>/dev/null)
  if [ -z "$signed" ]; then
    fail "no autorun.exe on the disc to check the signature of"
  elif ! said=$(bash "$(dirname "$0")/sign-disc.sh" verify "$signed" "$DISC_SIGNED_CHAIN" "${DISC_UNSIGNED_PROGRAM:-}" 2>&1); then
    said=${said#sign-disc: }
    fail "${said//"$signed"/the disc\'s autorun.exe}"
  else
    echo "autorun.exe: the signature verifies against $DISC_SIGNED_CHAIN; without it, the program is $DISC_UNSIGNED_PROGRAM byte for byte"
  fi
fi

[ -n "$expected_label" ] || expected_label=$inf_label
if [ -z "$expected_label" ]; then
  fail "no volume name to check against: give LABEL or a label= in autorun.inf"
else
  [ "$primary_label" = "$expected_label" ] || fail "ISO 9660 volume name is '$primary_label', not '$expected_label'"
  [ "$joliet" = 0 ] || [ "$joliet_label" = "$expected_label" ] ||
    fail "Joliet volume name is '$joliet_label', not '$expected_label'"
  [ -z "$inf_label" ] || [ "$inf_label" = "$expected_label" ] ||
    fail "autorun.inf has label=$inf_label, not $expected_label"
fi

[ -f "$work/joliet-listing" ] && cat "$work/joliet-listing"
if [ ${#failures[@]} -gt 0 ]; then
  echo "FAIL: $image:" >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "OK: $image: $(grep -c '^f' <<<"$expected") files, $(grep -c '^d' <<<"$expected") subfolders," \
  "volume $primary_label; Joliet and Rock Ridge trees equal the disc folder"
