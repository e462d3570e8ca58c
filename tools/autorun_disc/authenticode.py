"""The Authenticode signature inside a signed program: the PKCS#7 SignedData
in the certificate table of its PE headers (found with pefile), read as DER
far enough to name its digest algorithms, its certificates and which of them
made the signature."""
import pefile
from cryptography.hazmat.primitives.serialization import pkcs7

SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
DIGESTS = {
    "2.16.840.1.101.3.4.2.1": "SHA-256",
    "2.16.840.1.101.3.4.2.2": "SHA-384",
    "2.16.840.1.101.3.4.2.3": "SHA-512",
    "1.3.14.3.2.26": "SHA-1",
    "1.2.840.113549.2.5": "MD5",
}


class DerError(ValueError):
    pass


def element(data, at):
    """(tag, start of contents, end of contents) of the DER element at `at`."""
    if at + 2 > len(data):
        raise DerError("cut short")
    tag, length, start = data[at], data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or start + count > len(data):
            raise DerError("bad length")
        length, start = int.from_bytes(data[start:start + count], "big"), start + count
    if start + length > len(data):
        raise DerError("contents past the end")
    return tag, start, start + length


def children(data, start, end):
    at = start
    while at < end:
        tag, body, stop = element(data, at)
        yield tag, body, stop
        at = stop


def fields(data, start, end, count):
    """The elements inside start..end, of which there must be `count` at least."""
    found = list(children(data, start, end))
    if len(found) < count:
        raise DerError(f"{len(found)} fields where {count} belong")
    return found


def oid(data):
    if not data:
        raise DerError("an empty object identifier")
    first, value = data[0], 0
    parts = [str(first // 40), str(first % 40)]
    for byte in data[1:]:
        value = value << 7 | byte & 0x7F
        if not byte & 0x80:
            parts.append(str(value))
            value = 0
    return ".".join(parts)


def signature(program):
    """The DER PKCS#7 signature of a program's bytes, or None when unsigned."""
    try:
        image = pefile.PE(data=program, fast_load=True)
    except pefile.PEFormatError:
        return None
    directories = image.OPTIONAL_HEADER.DATA_DIRECTORY
    if len(directories) <= SECURITY or directories[SECURITY].Size < 8:
        return None
    # The table's address is a file offset: WIN_CERTIFICATE's length,
    # revision and type, then the signature.
    offset, size = directories[SECURITY].VirtualAddress, directories[SECURITY].Size
    length = int.from_bytes(program[offset:offset + 4], "little")
    if offset + size > len(program) or not 8 < length <= size:
        return None
    return program[offset + 8:offset + length]


def signed_data(der):
    """SignedData's fields: ContentInfo holds the content type, then [0]
    SignedData."""
    _, start, end = element(der, 0)
    _, explicit = fields(der, start, end, 2)[:2]
    _, signed_start, signed_end = element(der, explicit[1])
    return fields(der, signed_start, signed_end, 2)


def digest_algorithms(der):
    """The names of SignedData's digest algorithms: after its version, the
    set of algorithms."""
    _, (_, start, end) = signed_data(der)[:2]
    names = []
    for _, body, stop in children(der, start, end):
        _, oid_start, oid_end = element(der, body)
        dotted = oid(der[oid_start:oid_end])
        names.append(DIGESTS.get(dotted, dotted))
    return names


def certificates(der):
    return pkcs7.load_der_pkcs7_certificates(der)


def signers(der):
    """The certificates that made the signature: each SignerInfo (in the
    set that ends SignedData) names its certificate by issuer and serial
    number. A signer whose certificate the signature does not carry is None."""
    # Version, digest algorithms, content, then the signer infos.
    signed = signed_data(der)
    tag, start, end = signed[-1]
    if len(signed) < 4 or tag != 0x31:
        raise DerError("no signer infos")
    carried = certificates(der)
    found = []
    for _, info, info_end in children(der, start, end):
        _, identifier = fields(der, info, info_end, 2)[:2]  # the version, then issuer and serial
        if identifier[0] != 0x30:
            raise DerError("a signer named otherwise than by issuer and serial number")
        (_, _, issuer_end), (_, serial, serial_end) = fields(der, identifier[1], identifier[2], 2)[:2]
        issuer = der[identifier[1]:issuer_end]
        number = int.from_bytes(der[serial:serial_end], "big", signed=True)
        found.append(next((cert for cert in carried if cert.serial_number == number
                           and cert.issuer.public_bytes() == issuer), None))
    return found
