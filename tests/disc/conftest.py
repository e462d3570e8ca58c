"""The disc tool's tests' fixtures: ./autorun-disc run as a publisher runs it
(no DISC_ variable or SOURCE_DATE_EPOCH), a content folder, throwaway certificates."""
import datetime
import os
import shutil
import subprocess
import sys
from pathlib import Path
from types import SimpleNamespace

import pycdlib
import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.hazmat.primitives.serialization import pkcs12
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
import demo_disc  # noqa: E402
from autorun_disc import prerequisites  # noqa: E402

TOOL = ROOT / "autorun-disc"
TEST_BUILDS = ROOT / "build"
UMLAUT_NAME = "\u00dcbersicht.txt"


def publisher_environment(env=None):
    environment = {name: value for name, value in os.environ.items()
                   if not name.startswith("DISC_") and name != "SOURCE_DATE_EPOCH"}
    return {**environment, **(env or {})}


def run_tool(*arguments, env=None, cwd=None):
    result = subprocess.run([str(TOOL), *map(str, arguments)], env=publisher_environment(env), cwd=cwd,
                            stdin=subprocess.DEVNULL, capture_output=True, text=True)
    result.output = result.stdout + result.stderr
    return result


def joliet_files(image):
    iso, files = pycdlib.PyCdlib(), {}
    iso.open(str(image))
    try:
        for folder, _, names in iso.walk(joliet_path="/"):
            for name in names:
                path = f"{folder.rstrip('/')}/{name}"
                with iso.open_file_from_iso(joliet_path=path) as stream:
                    files[path] = stream.read()
    finally:
        iso.close()
    return files


@pytest.fixture(scope="session")
def menu_build():
    return prerequisites.build_programs(demo=True)


@pytest.fixture(scope="session")
def test_builds():
    """The x86_64 menu, and a publisher's mistakes: 64-bit stand-ins, an i686
    DSETUP.dll with the wrong ordinal."""
    files = SimpleNamespace(menu=TEST_BUILDS / "win64" / "autorun.exe",
                            library=TEST_BUILDS / "win64" / "codec_loads.dll",
                            program=TEST_BUILDS / "win64" / "recorder.exe",
                            wrong_ordinal=TEST_BUILDS / "win32" / "dsetup_wrong_ordinal.dll")
    for path in vars(files).values():
        if not path.is_file():
            pytest.fail(f"no {path}: build the win32 and win64 presets first (make build)")
    return files


def make_gold(folder, menu_build):
    """The demo disc's stand-ins and picture, and files in subfolders with
    spaces, an accented letter and bytes no text holds."""
    (folder / "Movies" / "Extras").mkdir(parents=True)
    (folder / "Saves").mkdir()
    demo_disc.assemble(folder, menu_build)
    (folder / "README.TXT").unlink()
    (folder / "Movies" / "Intro Movie.avi").write_bytes(b"Intro Movie.avi\r\n\0\377\n")
    (folder / "Movies" / "Extras" / "Credits.txt").write_bytes(b"credits\n")
    (folder / "Read Me First.txt").write_bytes(b"read me\r\n")
    (folder / UMLAUT_NAME).write_bytes(b"Inhalt\r\n")
    return folder


@pytest.fixture
def gold(tmp_path, menu_build):
    return make_gold(tmp_path / "gold", menu_build)


def built_image(tmp_path_factory, menu_build, name, *options):
    """An image `build` makes of its own gold folder beside it, in a folder it makes."""
    folder = tmp_path_factory.mktemp(name)
    image = folder / "out" / f"{name}.iso"
    result = run_tool("build", "--content", make_gold(folder / "gold", menu_build), "--out", image, *options,
                      env={"LC_ALL": "C.UTF-8"})
    assert result.returncode == 0, result.output
    assert f"Disc image: {image}" in result.stdout
    return image


@pytest.fixture(scope="session")
def plain_image(tmp_path_factory, menu_build):
    return built_image(tmp_path_factory, menu_build, "plain", "--label", "TEST_DISC")


@pytest.fixture
def temporary(tmp_path):
    """A TMPDIR for the tool, which must be left empty."""
    (tmp_path / "tmp").mkdir()
    return tmp_path / "tmp"


def spy(folder, name, script):
    """A program `name` on a PATH that starts with `folder`."""
    folder.mkdir(exist_ok=True)
    (folder / name).write_text(f"#!/bin/sh\n{script}")
    (folder / name).chmod(0o755)


def _certificate(subject, key, issuer, issuer_key, usage, start, end, ca=False):
    builder = (x509.CertificateBuilder()
               .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject)]))
               .issuer_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, issuer)]))
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(start).not_valid_after(end)
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=ca))
    if ca:
        builder = builder.add_extension(x509.KeyUsage(False, False, False, False, False, True, True, False, False),
                                        critical=True)
    else:
        builder = (builder.add_extension(x509.KeyUsage(True, False, False, False, False, False, False, False, False),
                                         critical=False)
                   .add_extension(x509.ExtendedKeyUsage([usage]), critical=False))
    return builder.sign(issuer_key, hashes.SHA256())


@pytest.fixture(scope="session")
def pki(tmp_path_factory):
    """A root and the publisher's certificates it issues: for code signing,
    reissued, expired in 2021, for a web server; keys, PKCS#12, password files."""
    folder = tmp_path_factory.mktemp("pki")
    now = datetime.datetime.utcnow()
    month = datetime.timedelta(days=30)
    ca_key, key = (rsa.generate_private_key(public_exponent=65537, key_size=2048) for _ in range(2))
    ca = _certificate("Throwaway Test Root", ca_key, "Throwaway Test Root", ca_key, None, now - month, now + month,
                      ca=True)

    def issue(usage, start, end):
        return _certificate("Test Publisher", key, "Throwaway Test Root", ca_key, usage, start, end)

    publisher = issue(ExtendedKeyUsageOID.CODE_SIGNING, now - month, now + month)
    reissued = issue(ExtendedKeyUsageOID.CODE_SIGNING, now - month, now + month)
    pem = serialization.Encoding.PEM
    files = {
        "ca.pem": ca.public_bytes(pem),
        "publisher.pem": publisher.public_bytes(pem),
        "chain.pem": publisher.public_bytes(pem) + ca.public_bytes(pem),
        "reissued-chain.pem": reissued.public_bytes(pem) + ca.public_bytes(pem),
        "expired.pem": issue(ExtendedKeyUsageOID.CODE_SIGNING, datetime.datetime(2020, 1, 1),
                             datetime.datetime(2021, 1, 1)).public_bytes(pem),
        "server.pem": issue(ExtendedKeyUsageOID.SERVER_AUTH, now - month, now + month).public_bytes(pem),
        "ca.key": ca_key.private_bytes(pem, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()),
        "publisher.key": key.private_bytes(pem, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()),
        "encrypted.key": key.private_bytes(pem, serialization.PrivateFormat.PKCS8,
                                           serialization.BestAvailableEncryption(b"key-password")),
        "publisher.pfx": pkcs12.serialize_key_and_certificates(
            b"publisher", key, publisher, [ca], serialization.BestAvailableEncryption(b"pfx password")),
        "password-lf": b"pfx password\n",
        "password-crlf": b"pfx password\r\nsecond line\r\n",
        "key-pw": b"key-password\n",
        "wrong-password": b"wrong\n",
    }
    for name, data in files.items():
        (folder / name).write_bytes(data)
    return SimpleNamespace(folder=folder, **{name.replace(".", "_").replace("-", "_"): folder / name
                                             for name in files})


def pinned(program, folder):
    """The menu pinned to a content folder's files, as `build` and `pin` pin it."""
    from autorun_disc import content, pins
    return pins.pin(Path(program).read_bytes(), pins.digests(content.scan(folder, allow_links=True)[1]))


def sign(pki, program, out, chain="chain.pem", digest="sha256"):
    """`program` signed with the publisher's key, here with osslsigncode."""
    subprocess.run(["osslsigncode", "sign", "-certs", pki.folder / chain, "-key", pki.publisher_key, "-h", digest,
                    "-in", program, "-out", out], check=True, capture_output=True)
    return out


def changed_copy(gold, folder):
    """`gold` copied with another RegSvr32.exe, which its pins do not match."""
    shutil.copytree(gold, folder)
    (folder / "RegSvr32.exe").write_bytes((gold / "RegSvr32.exe").read_bytes() + b"\0")
    return folder
