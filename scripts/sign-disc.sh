#!/usr/bin/env bash
# Signs the disc's copy of the menu with the publisher's certificate, and
# checks such a signature:
#   scripts/sign-disc.sh sign PROGRAM CHAIN_OUT
#   scripts/sign-disc.sh verify SIGNED CHAIN UNSIGNED
#
# sign replaces PROGRAM with a copy carrying an Authenticode signature (SHA-256,
# made by osslsigncode) and writes the publisher's certificates to CHAIN_OUT,
# for the check. The certificate and key come from
#   DISC_SIGN_PFX            a PKCS#12 file, or
#   DISC_SIGN_CERT           the certificate, then the rest of its chain, in PEM
#   DISC_SIGN_KEY            and its private key in PEM;
# the password (of the PKCS#12 file or an encrypted key) from the first line
# of DISC_SIGN_PASSWORD_FILE or from the environment variable
# DISC_SIGN_PASSWORD, never from a command line: a password in the environment
# reaches the tools through a private temporary file, removed afterwards.
# DISC_SIGN_TIMESTAMP_URL asks that RFC 3161 server for a timestamp (network
# needed). Without it the signature is made offline and its signing time is
# SOURCE_DATE_EPOCH (default 2000-01-01), so that the same inputs give the
# same signature (with an RSA key; ECDSA signatures differ each time).
# Before signing, the certificate must be for code signing, valid now, and
# match the key; every refusal says why. The publisher's files are only read.
#
# verify checks SIGNED: its SHA-256 signature verifies against the
# certificates in CHAIN (the system's roots added, for a chain that stops
# short of its root), and with the signature removed it is UNSIGNED byte for
# byte.
set -uo pipefail
export LC_ALL=C

fail() {
  echo "sign-disc: $*" >&2
  exit 1
}

for tool in osslsigncode openssl; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps.sh installs it)"
done

umask 077
work=$(mktemp -d "${TMPDIR:-/tmp}/sign-disc.XXXXXX") || fail "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

# The first lines of a tool's complaint, on one line.
said() { grep -v '^[0-9A-F]*:error:' "$1" | grep . | head -n 2 | sed 's/[[:space:]]*$//' | paste -sd ';' | sed 's/;/; /g'; }

readable() {
  local what=$1 file=$2
  [ -e "$file" ] || fail "$what $file does not exist"
  [ -f "$file" ] || fail "$what $file is not a file"
  head -c 1 -- "$file" >/dev/null 2>&1 || fail "$what $file cannot be read"
}

# The signing time without a timestamp server: one that ever changes would
# make a new image from the same inputs.
signing_time() {
  local epoch=${SOURCE_DATE_EPOCH:-946684800}
  [[ $epoch =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH '$epoch' is not a number of seconds"
  echo "$epoch"
}

# Checks the certificate the signature will carry ($work/leaf.pem) against
# the key ($work/key.pem): for code signing, valid now, the key's own.
check_certificate() {
  local leaf=$work/leaf.pem subject usage not_before
  subject=$(openssl x509 -in "$leaf" -noout -subject -nameopt oneline 2>/dev/null) ||
    fail "$certificate_name holds no readable certificate"
  subject="'${subject#subject=}'"
  usage=$(openssl x509 -in "$leaf" -noout -ext extendedKeyUsage 2>/dev/null | tail -n +2 | sed "s/^ *//")
  grep -q 'Code Signing' <<<"$usage" ||
    fail "the certificate of $subject is not for code signing (extended key usage: ${usage:-none}); Windows would not accept the signature"
  usage=$(openssl x509 -in "$leaf" -noout -ext keyUsage 2>/dev/null | tail -n +2 | sed "s/^ *//")
  [ -z "$usage" ] || grep -q 'Digital Signature' <<<"$usage" ||
    fail "the certificate of $subject does not allow digital signatures (key usage: $usage)"
  openssl x509 -in "$leaf" -noout -checkend 0 >/dev/null 2>&1 ||
    fail "the certificate of $subject expired on $(openssl x509 -in "$leaf" -noout -enddate | cut -d= -f2); Windows would call the signature invalid"
  not_before=$(openssl x509 -in "$leaf" -noout -startdate | cut -d= -f2)
  [ "$(date -u -d "$not_before" +%s)" -le "$(date -u +%s)" ] ||
    fail "the certificate of $subject is valid only from $not_before"
  openssl x509 -in "$leaf" -noout -pubkey >"$work/certificate-key.pem" 2>/dev/null &&
    openssl pkey -in "$work/key.pem" -pubout >"$work/own-key.pem" 2>/dev/null ||
    fail "cannot read the public key of the certificate or of the private key"
  cmp -s "$work/certificate-key.pem" "$work/own-key.pem" ||
    fail "the private key does not belong to the certificate of $subject"
}

sign() {
  local program=${1:?usage: sign-disc.sh sign PROGRAM CHAIN_OUT} chain_out=${2:?usage: sign-disc.sh sign PROGRAM CHAIN_OUT}
  local pfx=${DISC_SIGN_PFX:-} cert=${DISC_SIGN_CERT:-} key=${DISC_SIGN_KEY:-}
  local password_file=${DISC_SIGN_PASSWORD_FILE:-} url=${DISC_SIGN_TIMESTAMP_URL:-}
  local -a from

  if [ -n "$pfx" ]; then
    [ -z "$cert$key" ] || fail "give either DISC_SIGN_PFX or DISC_SIGN_CERT and DISC_SIGN_KEY, not both"
  elif [ -z "$cert" ] || [ -z "$key" ]; then
    fail "signing needs DISC_SIGN_PFX, or DISC_SIGN_CERT and DISC_SIGN_KEY together"
  fi
  readable "the menu" "$program"

  # One password file for every tool, never a password in an argument.
  if [ -n "$password_file" ]; then
    [ -z "${DISC_SIGN_PASSWORD:-}" ] ||
      fail "give the password either in DISC_SIGN_PASSWORD_FILE or in DISC_SIGN_PASSWORD, not both"
    readable DISC_SIGN_PASSWORD_FILE "$password_file"
    head -n 1 -- "$password_file" >"$work/password"
  else
    printf '%s\n' "${DISC_SIGN_PASSWORD:-}" >"$work/password"
  fi

  if [ -n "$pfx" ]; then
    certificate_name="DISC_SIGN_PFX $pfx"
    readable DISC_SIGN_PFX "$pfx"
    # Files exported by older Windows use algorithms OpenSSL 3 keeps in its
    # legacy provider.
    local legacy=""
    if ! openssl pkcs12 -in "$pfx" -passin "file:$work/password" -nokeys -out "$work/chain.pem" 2>"$work/said"; then
      legacy=-legacy
      openssl pkcs12 $legacy -in "$pfx" -passin "file:$work/password" -nokeys -out "$work/chain.pem" 2>"$work/said" ||
        fail "cannot open DISC_SIGN_PFX $pfx: wrong password, or not a PKCS#12 file ($(said "$work/said"))"
    fi
    openssl pkcs12 $legacy -in "$pfx" -passin "file:$work/password" -nokeys -clcerts -out "$work/leaf.pem" 2>/dev/null &&
      openssl pkcs12 $legacy -in "$pfx" -passin "file:$work/password" -nocerts -nodes -out "$work/key.pem" 2>/dev/null ||
      fail "cannot read the certificate and key in DISC_SIGN_PFX $pfx"
    grep -q 'BEGIN CERTIFICATE' "$work/leaf.pem" || fail "DISC_SIGN_PFX $pfx holds no certificate for its key"
    grep -q 'PRIVATE KEY' "$work/key.pem" || fail "DISC_SIGN_PFX $pfx holds no private key"
    from=(-pkcs12 "$pfx")
  else
    certificate_name="DISC_SIGN_CERT $cert"
    readable DISC_SIGN_CERT "$cert"
    readable DISC_SIGN_KEY "$key"
    openssl x509 -in "$cert" -out "$work/leaf.pem" 2>/dev/null || fail "DISC_SIGN_CERT $cert holds no PEM certificate"
    cp -- "$cert" "$work/chain.pem"
    openssl pkey -in "$key" -passin "file:$work/password" -out "$work/key.pem" 2>"$work/said" ||
      fail "cannot read the private key DISC_SIGN_KEY $key: wrong password, or not a PEM key ($(said "$work/said"))"
    from=(-certs "$cert" -key "$key")
  fi
  check_certificate

  local -a when
  if [ -n "$url" ]; then
    when=(-ts "$url")
  else
    when=(-time "$(signing_time)")
  fi
  rm -f -- "$work/signed.exe"
  osslsigncode sign "${from[@]}" -readpass "$work/password" -h sha256 "${when[@]}" \
    -in "$program" -out "$work/signed.exe" >"$work/said" 2>&1 ||
    fail "osslsigncode could not sign $program: $(said "$work/said")"
  cp -- "$work/chain.pem" "$chain_out" && chmod 0644 "$chain_out" && chmod 0644 "$work/signed.exe" &&
    mv -- "$work/signed.exe" "$program" || fail "cannot write the signed $program"
  echo "Signed $(basename "$program") as $(openssl x509 -in "$work/leaf.pem" -noout -subject -nameopt oneline | cut -d= -f2-)," \
    "${url:+timestamp from $url}${url:-offline, signing time $(date -u -d "@$(signing_time)" '+%Y-%m-%d %H:%M:%S UTC')}"
}

verify() {
  local signed=${1:-} chain=${2:-} unsigned=${3:-}
  [ -n "$unsigned" ] || fail "usage: sign-disc.sh verify SIGNED CHAIN UNSIGNED"
  readable "the signed program" "$signed"
  readable "the certificate chain" "$chain"
  readable "the unsigned program" "$unsigned"
  cat -- "$chain" >"$work/trusted.pem"
  [ ! -f /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >>"$work/trusted.pem"
  # Certificates name where to fetch their revocation lists; the check stays
  # offline.
  osslsigncode verify -CAfile "$work/trusted.pem" -ignore-cdp -in "$signed" >"$work/said" 2>&1 ||
    fail "the signature of $signed does not verify against $chain: $(grep -v '^[0-9A-F]*:error:' "$work/said" | grep -iE 'error|fail' | sed 's/^[[:space:]]*//' | head -n 2 | paste -sd ';' | sed 's/;/; /g')"
  grep -Eq '^Message digest algorithm *: SHA256' "$work/said" ||
    fail "$signed is not signed with SHA-256"
  osslsigncode remove-signature -in "$signed" -out "$work/unsigned.exe" >"$work/said" 2>&1 ||
    fail "cannot remove the signature of $signed: $(said "$work/said")"
  cmp -s -- "$work/unsigned.exe" "$unsigned" ||
    fail "$signed without its signature is not $unsigned byte for byte"
}

case ${1:-} in
  sign | verify)
    command=$1
    shift
    "$command" "$@"
    ;;
  *) fail "usage: sign-disc.sh sign PROGRAM CHAIN_OUT | verify SIGNED CHAIN UNSIGNED" ;;
esac
