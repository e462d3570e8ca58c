"""The publisher's certificate and key, read in memory with cryptography and
never written anywhere: from a PKCS#12 file, or from a PEM certificate chain
and a PEM key. Before anything is signed the certificate must be fit for it,
from its own fields: for code signing, valid now, and the key's own."""
import base64
import datetime
import re
from dataclasses import dataclass, field

from cryptography import x509
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.serialization import pkcs12
from cryptography.x509.oid import ExtendedKeyUsageOID

from .errors import CannotRun, Refused

PEM_CERTIFICATE = re.compile(rb"-----BEGIN CERTIFICATE-----(.+?)-----END CERTIFICATE-----", re.S)


@dataclass
class Credentials:
    source: str  # the option and file the certificate came from, for messages
    certificate: x509.Certificate
    chain: list = field(default_factory=list)  # the certificate first, then the rest

    def subject(self):
        return self.certificate.subject.rfc4514_string()

    def chain_pem(self):
        return b"".join(cert.public_bytes(serialization.Encoding.PEM) for cert in self.chain)


def read_file(option, path):
    try:
        return path.read_bytes()
    except FileNotFoundError:
        raise Refused(f"{option} {path} does not exist") from None
    except IsADirectoryError:
        raise Refused(f"{option} {path} is not a file") from None
    except OSError as error:
        raise CannotRun(f"cannot read {option} {path}: {error.strerror}") from None


def read_password(path):
    """The first line of a password file, without its line end: LF, or the
    CR LF of a file saved on Windows."""
    first = read_file("--password-file", path).split(b"\n", 1)[0]
    return first[:-1] if first.endswith(b"\r") else first


def load_pfx(path, password):
    data = read_file("--sign-pfx", path)
    try:
        key, certificate, others = pkcs12.load_key_and_certificates(data, password)
    except ValueError:
        if not data.startswith(b"\x30"):
            raise Refused(f"--sign-pfx {path} is not a PKCS#12 file (.pfx or .p12)") from None
        if password is None:
            raise Refused(f"--sign-pfx {path} needs its password: give --password-file FILE") from None
        raise Refused(f"cannot open --sign-pfx {path}: wrong password, or a damaged PKCS#12 file; check "
                      f"--password-file") from None
    if key is None:
        raise Refused(f"--sign-pfx {path} holds no private key: export the certificate with its key")
    if certificate is None:
        raise Refused(f"--sign-pfx {path} holds no certificate for its key")
    return Credentials(f"--sign-pfx {path}", certificate, [certificate, *others]), key


def read_chain(pem):
    """The certificates of PEM text, in order; none when one is unreadable."""
    try:
        return [x509.load_der_x509_certificate(base64.b64decode(block)) for block in PEM_CERTIFICATE.findall(pem)]
    except ValueError:
        return []


def read_signed_by(path):
    """The PEM text of --signed-by CHAIN, the certificates a menu signed by
    the publisher is held against."""
    pem = read_file("--signed-by", path)
    if not read_chain(pem):
        raise Refused(f"--signed-by {path} holds no readable PEM certificate: give the publisher's certificate and "
                      f"the rest of its chain, in PEM")
    return pem


def load_pem(cert_path, key_path, password):
    chain = read_chain(read_file("--sign-cert", cert_path))
    if not chain:
        raise Refused(f"--sign-cert {cert_path} holds no readable PEM certificate: give the certificate, then "
                      f"the rest of its chain, in PEM")
    key_data = read_file("--sign-key", key_path)
    try:
        key = serialization.load_pem_private_key(key_data, None)
    except TypeError:
        # Encrypted: it needs the password.
        if password is None:
            raise Refused(f"--sign-key {key_path} is encrypted: give its password with --password-file FILE") \
                from None
        try:
            key = serialization.load_pem_private_key(key_data, password)
        except ValueError:
            raise Refused(f"cannot read the private key --sign-key {key_path}: wrong password; check "
                          f"--password-file") from None
    except ValueError:
        raise Refused(f"--sign-key {key_path} is not a PEM private key") from None
    return Credentials(f"--sign-cert {cert_path}", chain[0], chain), key


def key_is_encrypted(key_path):
    try:
        serialization.load_pem_private_key(read_file("--sign-key", key_path), None)
    except TypeError:
        return True
    except ValueError:
        pass
    return False


def _when(moment):
    return moment.strftime("%Y-%m-%d %H:%M:%S UTC")


def check_fitness(credentials, key, now=None):
    """Refuses a certificate Windows would not accept for signing the menu."""
    now = now or datetime.datetime.utcnow()
    certificate, who = credentials.certificate, f"the certificate of '{credentials.subject()}' ({credentials.source})"
    try:
        usages = list(certificate.extensions.get_extension_for_class(x509.ExtendedKeyUsage).value)
    except x509.ExtensionNotFound:
        usages = []
    if ExtendedKeyUsageOID.CODE_SIGNING not in usages:
        named = ", ".join(getattr(usage, "_name", usage.dotted_string) for usage in usages) or "none"
        raise Refused(f"{who} is not for code signing (extended key usage: {named}); Windows would not accept "
                      f"the signature: use a code signing certificate")
    try:
        usage = certificate.extensions.get_extension_for_class(x509.KeyUsage).value
        if not usage.digital_signature:
            raise Refused(f"{who} does not allow digital signatures (its key usage lacks digitalSignature)")
    except x509.ExtensionNotFound:
        pass
    if certificate.not_valid_after < now:
        raise Refused(f"{who} expired on {_when(certificate.not_valid_after)}; Windows would call the signature "
                      f"invalid: renew the certificate")
    if certificate.not_valid_before > now:
        raise Refused(f"{who} is valid only from {_when(certificate.not_valid_before)}")
    spki = serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo
    if key.public_key().public_bytes(*spki) != certificate.public_key().public_bytes(*spki):
        raise Refused(f"the private key does not belong to {who}: give the key the certificate was issued for")
