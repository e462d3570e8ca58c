#!/usr/bin/env bash
# Signed discs: make-disc.sh with a throwaway certificate authority and
# publisher certificates that openssl makes here (no key is ever kept). The
# image's autorun.exe verifies, read back and checked with osslsigncode on its
# own, and without its signature it is the build's file; the build's file and
# the publisher's files stay as they were; two runs give the same image; bad
# certificates, keys and passwords are refused with no image.
#   test_disc_signing.sh REPOSITORY WIN32_BUILD SCRATCH
set -uo pipefail

repo=${1:?usage: test_disc_signing.sh REPOSITORY WIN32_BUILD SCRATCH}
build=${2:?}
scratch=${3:?}
out=$scratch/out
for tool in xorriso osslsigncode openssl; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is not installed (scripts/install-deps.sh installs it)"; exit 1; }
done

failures=0
expect() {
  local what=$1
  shift
  "$@" || { echo "FAIL: $what"; failures=$((failures + 1)); }
}
make_disc() {
  env -u SOURCE_DATE_EPOCH -u DISC_CONTENT -u DISC_LABEL -u DISC_ALLOW_MISSING -u DISC_ALLOW_MISMATCH -u DISC_SIGN_PFX -u DISC_SIGN_CERT \
    -u DISC_SIGN_KEY -u DISC_SIGN_PASSWORD -u DISC_SIGN_PASSWORD_FILE -u DISC_SIGN_TIMESTAMP_URL \
    AUTORUN_BUILD="$build" DISC_OUT="$out" TMPDIR="$scratch/tmp" "$@" bash "$repo/scripts/make-disc.sh" >"$scratch/log" 2>&1
}
logged() { grep -qF -- "$1" "$scratch/log"; }
no_image() { [ -z "$(find "$out" -maxdepth 1 -name '*.iso*')" ]; }
# The disc's autorun.exe as Windows reads it, from the Joliet tree.
disc_program() {
  rm -f "$2"
  xorriso -no_rc -report_about SORRY -read_fs norock -indev "stdio:$1" -osirrox on -extract /autorun.exe "$2" 2>/dev/null
  chmod u+w "$2" 2>/dev/null
}
fingerprint() { sha256sum "$@" | cut -d' ' -f1 | paste -sd' '; }

chmod -R u+w "$scratch" 2>/dev/null
rm -rf "$scratch"
pki=$scratch/pki
mkdir -p "$pki/issued" "$scratch/tmp"
touch "$pki/index.txt"
echo 1000 >"$pki/serial"
cat >"$pki/ca.cnf" <<EOF
[ca]
default_ca = test_ca
[test_ca]
database = $pki/index.txt
new_certs_dir = $pki/issued
serial = $pki/serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
[code_signing]
basicConstraints = CA:false
keyUsage = digitalSignature
extendedKeyUsage = codeSigning
[web_server]
basicConstraints = CA:false
keyUsage = digitalSignature
extendedKeyUsage = serverAuth
EOF
quietly() { "$@" >/dev/null 2>&1; }
# A root, and certificates it issues for the publisher's key: one for code
# signing, one that expired in 2021, one for a web server.
quietly openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 30 \
  -subj "/CN=Throwaway Test Root" -addext basicConstraints=critical,CA:true -addext keyUsage=keyCertSign
quietly openssl req -newkey rsa:2048 -nodes -keyout "$pki/publisher.key" -out "$pki/publisher.csr" -subj "/CN=Test Publisher"
issue() {
  quietly openssl ca -batch -notext -config "$pki/ca.cnf" -cert "$pki/ca.pem" -keyfile "$pki/ca.key" \
    -in "$pki/publisher.csr" -out "$pki/$1.pem" "${@:2}"
}
issue publisher -extensions code_signing -days 30
issue expired -extensions code_signing -startdate 20200101000000Z -enddate 20210101000000Z
issue server -extensions web_server -days 30
cat "$pki/publisher.pem" "$pki/ca.pem" >"$pki/chain.pem"
printf 'pfx password\n' >"$pki/password"
quietly openssl pkcs12 -export -in "$pki/publisher.pem" -inkey "$pki/publisher.key" -certfile "$pki/ca.pem" \
  -out "$pki/publisher.pfx" -passout "file:$pki/password"
quietly openssl pkey -in "$pki/publisher.key" -aes256 -passout pass:key-password -out "$pki/encrypted.key"
for file in ca.pem publisher.pem expired.pem server.pem publisher.pfx encrypted.key; do
  [ -s "$pki/$file" ] || { echo "FAIL: openssl did not make the test certificate $file"; exit 1; }
done
publisher_files=("$pki/publisher.pfx" "$pki/password" "$pki/chain.pem" "$pki/encrypted.key")
before=$(fingerprint "$build/autorun.exe" "${publisher_files[@]}")

# From a PKCS#12 file and a password file.
expect "disc signed from a PKCS#12 file is made" make_disc DISC_SIGN_PFX="$pki/publisher.pfx" DISC_SIGN_PASSWORD_FILE="$pki/password"
expect "the signing is reported" logged "Signed autorun.exe as CN = Test Publisher, offline"
image=$out/ZANTORIA.iso
disc_program "$image" "$scratch/signed.exe"
expect "the disc's autorun.exe verifies against the root" \
  quietly osslsigncode verify -CAfile "$pki/ca.pem" -ignore-cdp -in "$scratch/signed.exe"
expect "the signature is SHA-256" grep -q '^Message digest algorithm *: SHA256' \
  <(osslsigncode verify -CAfile "$pki/ca.pem" -ignore-cdp -in "$scratch/signed.exe" 2>&1)
quietly osslsigncode remove-signature -in "$scratch/signed.exe" -out "$scratch/unsigned.exe"
expect "without its signature it is the build's file" cmp -s "$scratch/unsigned.exe" "$build/autorun.exe"
expect "the build's file and the publisher's files are unchanged" \
  test "$(fingerprint "$build/autorun.exe" "${publisher_files[@]}")" = "$before"
expect "the build's file carries no signature" \
  test "$(osslsigncode extract-signature -in "$build/autorun.exe" -out "$scratch/none" >/dev/null 2>&1; echo $?)" != 0
cp "$image" "$scratch/first.iso"
cp -R "$out/root" "$scratch/signed-root"

expect "second signed disc is made" make_disc DISC_SIGN_PFX="$pki/publisher.pfx" DISC_SIGN_PASSWORD_FILE="$pki/password"
expect "second signed image is byte for byte the first" cmp -s "$scratch/first.iso" "$image"

# From a chain and an encrypted key in PEM files, the password in the
# environment: it leaves no file behind.
expect "disc signed from PEM files is made" make_disc DISC_SIGN_CERT="$pki/chain.pem" DISC_SIGN_KEY="$pki/encrypted.key" \
  DISC_SIGN_PASSWORD=key-password
disc_program "$image" "$scratch/signed-pem.exe"
expect "the PEM-signed autorun.exe verifies against the root" \
  quietly osslsigncode verify -CAfile "$pki/ca.pem" -ignore-cdp -in "$scratch/signed-pem.exe"
expect "no temporary file outlives the run" test -z "$(ls -A "$scratch/tmp")"
expect "the password is not in the output" test "$(grep -c key-password "$scratch/log")" -eq 0

# Refusals: each says why, and no image is left, not even the one before.
refuse() {
  local what=$1 message=$2
  shift 2
  make_disc "$@"
  expect "$what is refused" test $? -ne 0
  expect "$what: says '$message'" logged "$message"
  expect "$what: no image" no_image
}
refuse "a wrong PKCS#12 password" "wrong password" DISC_SIGN_PFX="$pki/publisher.pfx" DISC_SIGN_PASSWORD=wrong
refuse "a wrong key password" "wrong password" DISC_SIGN_CERT="$pki/chain.pem" DISC_SIGN_KEY="$pki/encrypted.key" \
  DISC_SIGN_PASSWORD=wrong
refuse "an expired certificate" "expired on Jan  1 00:00:00 2021 GMT" DISC_SIGN_CERT="$pki/expired.pem" \
  DISC_SIGN_KEY="$pki/publisher.key"
refuse "a web server certificate" "is not for code signing" DISC_SIGN_CERT="$pki/server.pem" DISC_SIGN_KEY="$pki/publisher.key"
refuse "a key of another certificate" "does not belong to the certificate" DISC_SIGN_CERT="$pki/chain.pem" \
  DISC_SIGN_KEY="$pki/ca.key"
refuse "a missing PKCS#12 file" "$pki/none.pfx does not exist" DISC_SIGN_PFX="$pki/none.pfx"
refuse "a certificate without its key" "DISC_SIGN_CERT and DISC_SIGN_KEY together" DISC_SIGN_CERT="$pki/chain.pem"
expect "refusals leave no temporary file" test -z "$(ls -A "$scratch/tmp")"

# The pressing-plant check notices a signature from another chain, and a
# signed program that is not the build's.
DISC_SIGNED_CHAIN=$pki/server.pem DISC_UNSIGNED_PROGRAM=$build/autorun.exe \
  bash "$repo/scripts/check-disc.sh" "$scratch/first.iso" "$scratch/signed-root" >"$scratch/log" 2>&1
expect "check fails for another chain" test $? -eq 1
expect "check reports the failed signature" logged "does not verify against $pki/server.pem"
DISC_SIGNED_CHAIN=$pki/chain.pem DISC_UNSIGNED_PROGRAM=$build/recorder.exe \
  bash "$repo/scripts/check-disc.sh" "$scratch/first.iso" "$scratch/signed-root" >"$scratch/log" 2>&1
expect "check fails for another program" test $? -eq 1
expect "check reports the other program" logged "without its signature is not $build/recorder.exe byte for byte"

chmod -R u+w "$scratch" 2>/dev/null
rm -rf "$pki"
[ $failures -eq 0 ] || { echo "$failures signing checks failed; last script output:"; cat "$scratch/log"; exit 1; }
echo "All signing checks passed"
