"""Signs the disc's copy of the menu with osslsigncode (Authenticode,
SHA-256), and checks such a signature.

The password reaches osslsigncode through a pipe (-readpass /dev/fd/N), never
a command line or a file, and osslsigncode reads the key from the publisher's
own file: nothing decrypted is written anywhere. Without a timestamp server
the signature's time is the disc's date, so that the same inputs give the
same signature (with an RSA key; ECDSA signatures differ each time)."""
import os
import subprocess
import tempfile
from pathlib import Path

from cryptography import x509
from cryptography.hazmat.primitives import hashes

from . import authenticode
from .certificates import read_chain
from .errors import CannotRun, Refused

SYSTEM_ROOTS = Path("/etc/ssl/certs/ca-certificates.crt")


def _output(result):
    text = (result.stdout or b"").decode(errors="replace").strip()
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return "; ".join(lines[-3:])


def _osslsigncode(arguments, password=None):
    """Runs osslsigncode, handing it the password through a pipe."""
    command, pass_fds, reader = ["osslsigncode", *arguments], (), None
    if password is not None:
        reader, writer = os.pipe()
        pass_fds = (reader,)
        command[2:2] = ["-readpass", f"/dev/fd/{reader}"]
    try:
        child = subprocess.Popen(command, pass_fds=pass_fds,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except OSError as error:
        if password is not None:
            os.close(writer)
        raise CannotRun(f"cannot start osslsigncode: {error.strerror}") from None
    finally:
        if reader is not None:
            os.close(reader)
    try:
        if password is not None:
            with os.fdopen(writer, "wb") as pipe:
                try:
                    pipe.write(password + b"\n")
                except BrokenPipeError:
                    pass
        stdout, _ = child.communicate()
    except BaseException:
        # Interrupted or failed: osslsigncode ends before the folder it
        # writes in goes. Popen's own clean-up after Ctrl+C waits only a
        # moment, for a child the terminal would have interrupted too.
        child.kill()
        child.wait()
        child.stdout.close()
        raise
    return subprocess.CompletedProcess(command, child.returncode, stdout)


def sign(unsigned, signed, signer, password, date, timestamp_url):
    """signer: ("-pkcs12", pfx) or ("-certs", chain, "-key", key)."""
    when = ["-ts", timestamp_url] if timestamp_url else ["-time", str(date)]
    result = _osslsigncode(["sign", *map(str, signer), "-h", "sha256", *when,
                            "-in", str(unsigned), "-out", str(signed)], password)
    if result.returncode != 0:
        raise Refused(f"osslsigncode could not sign the menu: {_output(result)}")


def verify(signed, chain_pem, unsigned, name="autorun.exe"):
    """Faults in a signed program, `name` in them: a signature that does not
    verify against the chain (the system's roots added, for a chain that
    stops short of its root) or not over the program's bytes, one made by a
    certificate the chain does not hold (any certificate that reaches a root
    verifies), one not made with SHA-256, a program that without its
    signature is not `unsigned` byte for byte (when that is given)."""
    program = Path(signed).read_bytes()
    der = authenticode.signature(program)
    if der is None:
        return [f"{name} carries no signature"]
    faults = _foreign_signers(der, chain_pem, name)
    with tempfile.TemporaryDirectory(prefix="autorun-disc.") as work:
        # Certificates only: public, like the program.
        trusted = Path(work) / "trusted.pem"
        trusted.write_bytes(chain_pem + (SYSTEM_ROOTS.read_bytes() if SYSTEM_ROOTS.is_file() else b""))
        # Certificates name where to fetch their revocation lists; the check stays offline.
        result = _osslsigncode(["verify", "-CAfile", str(trusted), "-ignore-cdp",
                                "-in", str(signed)])
        if result.returncode != 0:
            faults.append(f"the signature of {name} does not verify against the chain given "
                          f"({_output(result)})")
        try:
            digests = authenticode.digest_algorithms(der)
        except authenticode.DerError:
            digests = ["an unreadable algorithm"]
        if not digests or any(digest != "SHA-256" for digest in digests):
            faults.append(f"{name} is signed with {', '.join(digests) or 'no digest'}, not SHA-256")
        if unsigned is not None:
            stripped = Path(work) / "unsigned.exe"
            result = _osslsigncode(["remove-signature", "-in", str(signed), "-out", str(stripped)])
            if result.returncode != 0:
                faults.append(f"cannot remove the signature of {name}: {_output(result)}")
            elif stripped.read_bytes() != Path(unsigned).read_bytes():
                faults.append(f"{name} without its signature is not {unsigned} byte for byte")
    return faults


def _foreign_signers(der, chain_pem, name):
    """Faults where a certificate that made the signature is not one of the
    chain's, compared by SHA-256 fingerprint."""
    given = {cert.fingerprint(hashes.SHA256()) for cert in read_chain(chain_pem)}
    try:
        signers = authenticode.signers(der)
    except ValueError:
        signers = []
    if not signers or None in signers:
        return [f"the signature of {name} does not carry the certificate that made it"]
    return [f"{name} is signed by '{cert.subject.rfc4514_string()}' (SHA-256 fingerprint "
            f"{cert.fingerprint(hashes.SHA256()).hex(':').upper()}), which is not a certificate of the chain given"
            for cert in signers if cert.fingerprint(hashes.SHA256()) not in given]


def remove_signature(signed, out):
    """Writes `signed` without its signature to `out`: None, or what went wrong."""
    result = _osslsigncode(["remove-signature", "-in", str(signed), "-out", str(out)])
    return None if result.returncode == 0 else f"cannot remove its signature: {_output(result)}"


def signer_names(program):
    """The subjects of the certificates a signed program carries, those that
    are no authority's first, or None for a program without a signature."""
    der = authenticode.signature(program)
    if der is None:
        return None
    try:
        certificates = authenticode.certificates(der)
    except ValueError:
        return ["(certificates unreadable)"]

    def authority(certificate):
        try:
            return certificate.extensions.get_extension_for_class(x509.BasicConstraints).value.ca
        except x509.ExtensionNotFound:
            return False
    return [cert.subject.rfc4514_string() for cert in sorted(certificates, key=authority)]
