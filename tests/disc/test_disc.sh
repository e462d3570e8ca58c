#!/usr/bin/env bash
# Makes discs with scripts/make-disc.sh in a scratch folder and reads the
# images back with xorriso on its own, not through check-disc.sh: a publisher's
# content folder reaches Windows with every name, case and byte intact, the
# image is the same on a second run, refusals leave no image behind, files the
# menu could not use are refused or warned about, and the pressing-plant check
# itself notices a disc that does not match.
#   test_disc.sh REPOSITORY WIN32_BUILD WIN64_BUILD SCRATCH
# The content check comes from the host build (make-disc.sh finds it there).
set -uo pipefail

repo=${1:?usage: test_disc.sh REPOSITORY WIN32_BUILD WIN64_BUILD SCRATCH}
build=${2:?}
build64=${3:?}
scratch=${4:?}
out=$scratch/out
command -v xorriso >/dev/null || { echo "FAIL: xorriso is not installed (scripts/install-deps.sh installs it)"; exit 1; }
for file in "$build64/codec_loads.dll" "$build64/recorder.exe"; do
  [ -f "$file" ] || { echo "FAIL: no $file: build the win64 preset first (make build)"; exit 1; }
done

failures=0
expect() {
  local what=$1
  shift
  "$@" || { echo "FAIL: $what"; failures=$((failures + 1)); }
}
make_disc() {
  env -u SOURCE_DATE_EPOCH -u DISC_CONTENT -u DISC_LABEL -u DISC_ALLOW_MISSING -u DISC_ALLOW_MISMATCH -u DISC_SIGN_PFX \
    -u DISC_SIGN_CERT -u DISC_SIGN_KEY -u DISC_SIGN_PASSWORD -u DISC_SIGN_PASSWORD_FILE -u DISC_SIGN_TIMESTAMP_URL \
    AUTORUN_BUILD="$build" DISC_OUT="$out" "$@" bash "$repo/scripts/make-disc.sh" >"$scratch/log" 2>&1
}
logged() { grep -qF -- "$1" "$scratch/log"; }
no_image() { [ -z "$(find "$out" -maxdepth 1 -name '*.iso*')" ]; }
joliet_names() {
  xorriso -no_rc -report_about SORRY -local_charset UTF-8 -read_fs norock -indev "stdio:$1" -sh_style_result on -find / 2>/dev/null |
    grep -v '^/$' | LC_ALL=C sort
}
extract_joliet() { xorriso -no_rc -report_about SORRY -local_charset UTF-8 -read_fs norock -indev "stdio:$1" -osirrox on -extract / "$2" 2>/dev/null; }

chmod -R u+w "$scratch" 2>/dev/null
rm -rf "$scratch"
mkdir -p "$scratch/gold/Movies/Extras" "$scratch/gold/Saves"
gold=$scratch/gold
# The stand-ins stand for the publisher's files: the content check reads them.
for pair in dsetup_standin.dll:DSETUP.dll recorder.exe:setup.exe recorder.exe:RegSvr32.exe \
            codec_loads.dll:MYIR50_32.dll; do
  cp "$build/${pair%%:*}" "$gold/${pair##*:}"
done
python3 "$repo/scripts/make_splash.py" "$gold/autorun.bmp"
printf 'Intro Movie.avi\r\n\0\377\n' >"$gold/Movies/Intro Movie.avi"
printf 'credits\n' >"$gold/Movies/Extras/Credits.txt"
printf 'read me\r\n' >"$gold/Read Me First.txt"
printf 'Inhalt\r\n' >"$gold/"$'\xc3\x9c'"bersicht.txt"
(cd "$gold" && find . -mindepth 1 -printf '/%P\n'; printf '/autorun.exe\n/autorun.inf\n') | LC_ALL=C sort >"$scratch/expected-names"

# A publisher's disc: every name and byte as in the content folder.
expect "publisher disc is made" make_disc LC_ALL=C.UTF-8 DISC_CONTENT="$gold" DISC_LABEL=TEST_DISC
image=$out/TEST_DISC.iso
expect "image is named after the label" test -f "$image"
expect "Joliet names are exactly the content's, case included" diff "$scratch/expected-names" <(joliet_names "$image")
extract_joliet "$image" "$scratch/extracted"
while IFS= read -r -d '' path; do
  expect "$path is unchanged on the disc" cmp -s "$gold/$path" "$scratch/extracted/$path"
done < <(cd "$gold" && find . -type f -printf '%P\0')
expect "autorun.exe is the i686 build" cmp -s "$build/autorun.exe" "$scratch/extracted/autorun.exe"
expect "autorun.inf holds the three keys with CRLF line ends" cmp -s \
  <(printf '[autorun]\r\nopen=autorun.exe\r\nicon=autorun.exe,0\r\nlabel=TEST_DISC\r\n') "$scratch/extracted/autorun.inf"
expect "volume name is the label" grep -qx 'Volume Id    : TEST_DISC' \
  <(xorriso -no_rc -indev "stdio:$image" -pvd_info 2>/dev/null)

# The same content elsewhere, with other dates, modes and umask and in
# another locale, gives the same bytes.
cp "$image" "$scratch/first.iso"
cp -R "$gold" "$scratch/gold-again"
touch -d '2011-11-11 11:11' "$scratch/gold-again/setup.exe" "$scratch/gold-again/Movies"
chmod 0600 "$scratch/gold-again/DSETUP.dll"
expect "second disc is made" eval 'umask 077; make_disc LC_ALL=C DISC_CONTENT="$scratch/gold-again" DISC_LABEL=TEST_DISC' 
expect "second image is byte for byte the first" cmp -s "$scratch/first.iso" "$image"

# The pressing-plant check refuses a disc folder that the image does not match.
cp -R "$out/root" "$scratch/other-root"
printf 'X' | dd of="$scratch/other-root/setup.exe" bs=1 seek=2 conv=notrunc status=none
rm "$scratch/other-root/Movies/Extras/Credits.txt"
touch "$scratch/other-root/extra.txt"
bash "$repo/scripts/check-disc.sh" "$image" "$scratch/other-root" OTHER >"$scratch/log" 2>&1
expect "check fails on a changed disc folder" test $? -eq 1
for fault in "setup.exe differs" "Joliet listing lacks /extra.txt" "Joliet listing has /Movies/Extras/Credits.txt" \
             "Rock Ridge listing lacks /extra.txt" "volume name is 'TEST_DISC', not 'OTHER'" \
             "bsdtar's Joliet listing lacks /extra.txt (0 bytes)" \
             "bsdtar's Joliet listing has /Movies/Extras/Credits.txt (8 bytes), which the disc folder does not"; do
  expect "check reports: $fault" logged "$fault"
done
mkdir -p "$scratch/bad-inf"
printf '[AutoRun]\nopen=setup.exe\nlabel=BAD\xe9\nlabel=BAD\n' >"$scratch/bad-inf/autorun.inf"
xorriso -no_rc -report_about SORRY -outdev "stdio:$scratch/bad-inf.iso" -joliet on -volid BAD \
  -map "$scratch/bad-inf" / -commit 2>/dev/null
bash "$repo/scripts/check-disc.sh" "$scratch/bad-inf.iso" "$scratch/bad-inf" BAD >"$scratch/log" 2>&1
expect "check fails on a bad autorun.inf" test $? -eq 1
for fault in "not printable ASCII" "CR LF" "no icon=" "label= 2 times" "opens setup.exe, which is not on the disc"; do
  expect "check reports: $fault" logged "$fault"
done

# The second reader takes the Joliet names: an image with only Rock Ridge
# names beside the ISO 9660 ones is listed in upper case and does not match.
mkdir -p "$scratch/no-joliet"
printf 'x' >"$scratch/no-joliet/Read me.txt"
xorriso -no_rc -report_about SORRY -outdev "stdio:$scratch/no-joliet.iso" -joliet off -rockridge on \
  -map "$scratch/no-joliet" / -commit 2>/dev/null
bash "$repo/scripts/check-image-listing.sh" "$scratch/no-joliet.iso" "$scratch/no-joliet" >"$scratch/log" 2>&1
expect "listing without Joliet names fails" test $? -eq 1
expect "listing without Joliet names says what it lacks" logged "bsdtar's Joliet listing lacks /Read me.txt (1 bytes)"

# Refusals: each names its cause and leaves no image, not even an earlier one.
rm "$scratch/gold-again/RegSvr32.exe"
make_disc DISC_CONTENT="$scratch/gold-again" DISC_LABEL=TEST_DISC
expect "a missing required file fails" test $? -ne 0
expect "the missing file is named" logged "missing from the disc: RegSvr32.exe"
expect "no image after a missing file" no_image
make_disc DISC_CONTENT="$out/root"
expect "the disc folder itself is refused as content" test $? -ne 0
expect "the disc folder is left as it was" test -f "$out/root/setup.exe"
make_disc DISC_CONTENT="$scratch"
expect "a content folder holding the output folder is refused" logged "holds the output folder"
make_disc DISC_CONTENT="$scratch/no-such-folder"
expect "a missing content folder fails" test $? -ne 0
expect "the missing folder is named" logged "$scratch/no-such-folder does not exist"
expect "no image after a missing folder" no_image
for label in test_disc "TEST DISC" TEST-DISC ZANTORIA.1 ABCDEFGHIJKLMNOPQ; do
  make_disc DISC_LABEL="$label"
  expect "label '$label' is refused" test $? -ne 0
  expect "label '$label' refusal says why" logged "cannot be the disc's volume name"
  expect "no image after label '$label'" no_image
done

# DISC_ALLOW_MISSING=1 makes the disc all the same; 16 characters is the longest label.
expect "disc without RegSvr32.exe is allowed" make_disc DISC_CONTENT="$scratch/gold-again" \
  DISC_ALLOW_MISSING=1 DISC_LABEL=ABCDEFGHIJ_12345
expect "allowed disc still names the missing file" logged "missing from the disc: RegSvr32.exe"
expect "allowed disc lacks RegSvr32.exe" diff <(grep -vx /RegSvr32.exe "$scratch/expected-names") \
  <(joliet_names "$out/ABCDEFGHIJ_12345.iso")

# Files the menu could not use: one mistake a folder, each refused with what
# is wrong and what the menu would do, and no image; DISC_ALLOW_MISMATCH=1
# makes each disc all the same, with the refusal printed as a warning.
mistake() {
  chmod -R u+w "$scratch/mistake" 2>/dev/null
  rm -rf "$scratch/mistake"
  cp -R "$gold" "$scratch/mistake"
  cp "$1" "$scratch/mistake/$2"
}
printf 'not a program\r\n' >"$scratch/text.txt"
convert -size 8x8 xc:red "png:$scratch/picture.png"
while IFS='|' read -r file source says; do
  mistake "$source" "$file"
  make_disc DISC_CONTENT="$scratch/mistake" DISC_LABEL=TEST_DISC
  status=$?
  expect "$file from $(basename "$source") is refused" test $status -ne 0
  expect "$file refusal says why" logged "make-disc: refused: $file $says"
  expect "$file refusal says how to go on" logged "or set DISC_ALLOW_MISMATCH=1"
  expect "no image after a refused $file" no_image
  expect "$file is allowed with DISC_ALLOW_MISMATCH=1" make_disc DISC_CONTENT="$scratch/mistake" DISC_LABEL=TEST_DISC \
    DISC_ALLOW_MISMATCH=1
  expect "allowed $file is named in a warning" logged "make-disc: warning: $file $says"
  expect "allowed $file disc is made" test -f "$out/TEST_DISC.iso"
done <<MISTAKES
MYIR50_32.dll|$build64/codec_loads.dll|is a 64-bit library for x86_64 (PE32+), not a PE32 library for i386; the menu is a 32-bit program and cannot load it: Install codec would copy it into the system folder as IR50_32.DLL
DSETUP.dll|$build/dsetup_wrong_ordinal.dll|does not export ordinal 5, by which the menu binds DirectXSetupA: Install would report a failed DirectX update
autorun.bmp|$scratch/picture.png|cannot be read by the menu's bitmap reader (it is a PNG picture, not a Windows bitmap): the menu would show black
setup.exe|$scratch/text.txt|is not a Windows program (it has no MZ header): Install would fail to start it
MISTAKES

# Warnings alone never stop the disc: a picture of another size, programs
# that start only on some systems.
{ printf 'MZ'; head -c 58 /dev/zero; printf '\100\0\0\0NE'; head -c 62 /dev/zero; } >"$scratch/windows16.exe"
python3 -c 'import struct, sys
w, h, row = 640, 480, 80
sys.stdout.buffer.write(b"BM" + struct.pack("<IHHI", 62 + row * h, 0, 0, 62)
    + struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, 0, 0, 0, 2, 0) + bytes(8) + bytes(row * h))' >"$scratch/640x480.bmp"
mistake "$scratch/640x480.bmp" autorun.bmp
cp "$scratch/windows16.exe" "$scratch/mistake/setup.exe"
cp "$build64/recorder.exe" "$scratch/mistake/RegSvr32.exe"
expect "disc with warnings is made" make_disc DISC_CONTENT="$scratch/mistake" DISC_LABEL=TEST_DISC
expect "disc with warnings has its image" test -f "$out/TEST_DISC.iso"
for warning in "autorun.bmp is 640 by 480 pixels, not 480 by 360" \
               "setup.exe is a 16-bit Windows program: it will not start on 64-bit Windows" \
               "RegSvr32.exe is a 64-bit (x86_64) program: it will not start on 32-bit Windows"; do
  expect "warned: $warning" logged "make-disc: warning: $warning"
done
expect "only those three are warned about" test "$(grep -c 'make-disc: warning:' "$scratch/log")" -eq 3

# The demo disc: stand-ins under the menu's names, and a README.TXT.
expect "demo disc is made" make_disc
expect "demo disc carries the menu's files and README.TXT" diff \
  <(printf '/%s\n' DSETUP.dll MYIR50_32.dll README.TXT RegSvr32.exe autorun.bmp autorun.exe autorun.inf setup.exe) \
  <(joliet_names "$out/ZANTORIA.iso")
extract_joliet "$out/ZANTORIA.iso" "$scratch/demo"
expect "DSETUP.dll is the DirectX stand-in" cmp -s "$build/dsetup_standin.dll" "$scratch/demo/DSETUP.dll"
expect "MYIR50_32.dll is the codec stand-in" cmp -s "$build/codec_loads.dll" "$scratch/demo/MYIR50_32.dll"
expect "README.TXT is ASCII with CRLF line ends" test "$(tr -d '\40-\176' <"$scratch/demo/README.TXT" | tr -d '\r\n' | wc -c)" \
  -eq 0 -a "$(grep -c $'\r$' "$scratch/demo/README.TXT")" -eq "$(wc -l <"$scratch/demo/README.TXT")"

chmod -R u+w "$scratch" 2>/dev/null
[ $failures -eq 0 ] || { echo "$failures disc checks failed; last script output:"; cat "$scratch/log"; exit 1; }
echo "All disc checks passed"
