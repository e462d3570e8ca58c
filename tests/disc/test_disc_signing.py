"""Signed discs: the menu verifies with osslsigncode and is the build's file
without its signature; bad certificates, keys, passwords and signing files in
the content are refused with no image; a stopped run leaves no osslsigncode;
no password or key reaches a command line, a file or another program."""
import hashlib
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import ROOT, TOOL, built_image, joliet_files, pinned, publisher_environment, run_tool, spy
from autorun_disc import authenticode, disc_check, signing

# Options as words: each word that is not an option names a file of the pki fixture.
SIGNERS = {
    "PKCS#12, password file with CR LF": "--sign-pfx publisher.pfx --password-file password-crlf",
    "PKCS#12, password file with LF": "--sign-pfx publisher.pfx --password-file password-lf",
    "PEM, encrypted key": "--sign-cert chain.pem --sign-key encrypted.key --password-file key-pw",
    "PEM, plain key": "--sign-cert chain.pem --sign-key publisher.key",
}


def options(pki, words):
    return [word if word.startswith("--") else pki.folder / word for word in words.split()]


def fingerprints(*paths):
    return [hashlib.sha256(path.read_bytes()).hexdigest() for path in paths]


def osslsigncode(*arguments):
    return subprocess.run(["osslsigncode", *map(str, arguments)], capture_output=True, text=True)


@pytest.mark.parametrize("signer", SIGNERS)
def test_signed_disc(tmp_path, gold, menu_build, pki, temporary, signer):
    before = fingerprints(menu_build / "autorun.exe", *pki.folder.iterdir())
    image = tmp_path / "signed.iso"
    signing = options(pki, SIGNERS[signer])
    result = run_tool("build", "--content", gold, "--out", image, *signing, env={"TMPDIR": temporary})
    assert result.returncode == 0, result.output
    assert "Signed autorun.exe as CN=Test Publisher, offline, signing time 2000-01-01 00:00:00 UTC" in result.stdout
    assert "password" not in result.output

    program = tmp_path / "autorun.exe"
    program.write_bytes(joliet_files(image)["/autorun.exe"])
    verified = osslsigncode("verify", "-CAfile", pki.ca_pem, "-ignore-cdp", "-in", program)
    assert verified.returncode == 0, verified.stdout + verified.stderr
    assert re.search(r"^Message digest algorithm *: SHA256", verified.stdout, re.M)
    assert osslsigncode("remove-signature", "-in", program, "-out", tmp_path / "unsigned.exe").returncode == 0
    assert (tmp_path / "unsigned.exe").read_bytes() == pinned(menu_build / "autorun.exe", gold)
    assert osslsigncode("extract-signature", "-in", menu_build / "autorun.exe", "-out", tmp_path / "none"
                        ).returncode != 0
    assert fingerprints(menu_build / "autorun.exe", *pki.folder.iterdir()) == before
    assert list(temporary.iterdir()) == []

    assert run_tool("check", image, "--content", gold, "--signed-by", pki.chain_pem).returncode == 0
    if signer.startswith("PKCS#12"):
        again = tmp_path / "again.iso"
        assert run_tool("build", "--content", gold, "--out", again, *signing).returncode == 0
        assert again.read_bytes() == image.read_bytes()


REFUSALS = [
    ("a wrong PKCS#12 password", "--sign-pfx publisher.pfx --password-file wrong-password",
     "cannot open --sign-pfx {pki}/publisher.pfx: wrong password"),
    ("a PKCS#12 file without its password", "--sign-pfx publisher.pfx",
     "--sign-pfx {pki}/publisher.pfx needs its password: give --password-file FILE"),
    ("a PEM file as PKCS#12", "--sign-pfx ca.pem --password-file password-lf",
     "--sign-pfx {pki}/ca.pem is not a PKCS#12 file"),
    ("a wrong key password", "--sign-cert chain.pem --sign-key encrypted.key --password-file wrong-password",
     "cannot read the private key --sign-key {pki}/encrypted.key: wrong password"),
    ("an encrypted key without its password", "--sign-cert chain.pem --sign-key encrypted.key",
     "--sign-key {pki}/encrypted.key is encrypted: give its password with --password-file FILE"),
    ("an expired certificate", "--sign-cert expired.pem --sign-key publisher.key",
     "the certificate of 'CN=Test Publisher' (--sign-cert {pki}/expired.pem) expired on 2021-01-01 00:00:00 UTC"),
    ("a web server certificate", "--sign-cert server.pem --sign-key publisher.key",
     "is not for code signing (extended key usage: serverAuth)"),
    ("a key of another certificate", "--sign-cert chain.pem --sign-key ca.key",
     "the private key does not belong to the certificate of 'CN=Test Publisher'"),
    ("a certificate that is not PEM", "--sign-cert publisher.pfx --sign-key publisher.key",
     "--sign-cert {pki}/publisher.pfx holds no readable PEM certificate"),
    ("a key that is not PEM", "--sign-cert chain.pem --sign-key chain.pem",
     "--sign-key {pki}/chain.pem is not a PEM private key"),
]


@pytest.mark.parametrize("signer, says", [(signer, says) for _, signer, says in REFUSALS],
                         ids=[name for name, _, _ in REFUSALS])
def test_refused_signing(tmp_path, gold, pki, temporary, signer, says):
    image = tmp_path / "signed.iso"
    image.write_bytes(b"an image from an earlier run")
    result = run_tool("build", "--content", gold, "--out", image, *options(pki, signer), env={"TMPDIR": temporary})
    assert result.returncode == 1, result.output
    assert says.format(pki=pki.folder) in result.stderr
    assert not image.exists()
    assert list(temporary.iterdir()) == []


# A content file that is a signing file under another name, even with --allow-links.
PLANT = {"hard link": os.link, "link": os.symlink, "copy": shutil.copyfile}
LEAKS = [
    ("PEM, plain key", "publisher.key", "hard link", "the file of --sign-key"),
    ("PEM, plain key", "chain.pem", "link", "the file of --sign-cert"),
    ("PKCS#12, password file with LF", "publisher.pfx", "link", "the file of --sign-pfx"),
    ("PKCS#12, password file with LF", "password-lf", "link", "the file of --password-file"),
    ("PKCS#12, password file with LF", "publisher.pfx", "copy", "a copy of --sign-pfx"),
    ("PEM, encrypted key", "encrypted.key", "copy", "a copy of --sign-key"),
]


@pytest.mark.parametrize("signer, leaked, how, says", LEAKS, ids=[f"{how} of {leaked}" for _, leaked, how, _ in LEAKS])
def test_signing_files_stay_off_the_disc(tmp_path, gold, pki, signer, leaked, how, says):
    planted = gold / "Saves" / "notes.txt"
    PLANT[how](pki.folder / leaked, planted)
    image = tmp_path / "signed.iso"
    result = run_tool("build", "--content", gold, "--out", image, "--allow-links", *options(pki, SIGNERS[signer]))
    assert result.returncode == 1, result.output
    assert f"/Saves/notes.txt is {says} {pki.folder / leaked}" in result.stderr
    assert not image.exists()


@pytest.fixture(scope="module")
def signed_image(tmp_path_factory, menu_build, pki):
    return built_image(tmp_path_factory, menu_build, "signed", *options(pki, SIGNERS["PEM, plain key"]))


# The menu is signed with publisher.pem, issued by ca.pem.
CHAINS = [
    ("chain.pem", None),
    ("ca.pem", "autorun.exe is signed by 'CN=Test Publisher' (SHA-256 fingerprint "),
    ("reissued-chain.pem", "), which is not a certificate of the chain given"),
    ("server.pem", "the signature of autorun.exe does not verify against the chain given"),
    ("publisher.key", "refused: --signed-by {pki}/publisher.key holds no readable PEM certificate"),
]


@pytest.mark.parametrize("chain, says", CHAINS, ids=[chain for chain, _ in CHAINS])
def test_check_of_the_signer(signed_image, pki, chain, says):
    result = run_tool("check", signed_image, "--signed-by", pki.folder / chain)
    assert result.returncode == (1 if says else 0), result.output
    assert says is None or says.format(pki=pki.folder) in result.stderr


def test_check_of_the_signature(tmp_path, menu_build, pki, signed_image, plain_image):
    result = run_tool("check", signed_image)
    assert "autorun.exe: signed by CN=Test Publisher; then CN=Throwaway Test Root" in result.stdout
    faults, _ = disc_check.check(signed_image, chain_pem=pki.chain_pem.read_bytes(),
                                 unsigned=menu_build / "recorder.exe")
    assert faults == [f"autorun.exe without its signature is not {menu_build / 'recorder.exe'} byte for byte"]
    # A signature whose SignedData cannot be read.
    program = joliet_files(signed_image)["/autorun.exe"]
    at = program.index(authenticode.signature(program))
    damaged = tmp_path / "damaged.exe"
    damaged.write_bytes(program[:at] + bytes.fromhex("3003 06012a") + program[at + 5:])
    assert ("autorun.exe is signed with an unreadable algorithm, not SHA-256"
            in signing.verify(damaged, pki.chain_pem.read_bytes(), None))
    result = run_tool("check", plain_image, "--signed-by", pki.chain_pem)
    assert result.returncode == 1 and "autorun.exe carries no signature" in result.stderr


@pytest.mark.parametrize("stop", [signal.SIGINT, signal.SIGTERM], ids=["Ctrl+C", "SIGTERM"])
def test_stopped_while_signing(tmp_path, gold, pki, temporary, stop):
    """An osslsigncode that never ends: the stopped run ends it and waits for
    it before its temporary folder goes."""
    spies, started = tmp_path / "spies", tmp_path / "osslsigncode.pid"
    spy(spies, "osslsigncode", f"echo $$ > '{started}.new'\nmv '{started}.new' '{started}'\nexec sleep 60\n")
    image = tmp_path / "signed.iso"
    tool = subprocess.Popen([str(TOOL), "build", "--content", str(gold), "--out", str(image),
                             *map(str, options(pki, SIGNERS["PEM, plain key"]))],
                            env=publisher_environment({"PATH": f"{spies}:{os.environ['PATH']}",
                                                       "TMPDIR": str(temporary)}),
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 120
    while not started.exists() and tool.poll() is None and time.monotonic() < deadline:
        time.sleep(0.05)
    signer = int(started.read_text()) if started.exists() else None
    try:
        assert signer is not None, tool.communicate(timeout=60)
        tool.send_signal(stop)
        _, stderr = tool.communicate(timeout=60)
        assert tool.returncode == 1, stderr
        assert not Path(f"/proc/{signer}").exists()
        assert list(temporary.iterdir()) == []
        assert not image.exists()
    finally:
        if tool.poll() is None:
            tool.kill()
            tool.wait()
        if signer is not None and Path(f"/proc/{signer}").exists():
            os.kill(signer, signal.SIGKILL)


def test_make_disc_takes_the_password_from_the_environment(tmp_path, gold, pki):
    """And hands it to no program that make or the tool starts: each is a spy
    that notes whether its environment holds the password."""
    spies, log = tmp_path / "spies", tmp_path / "started"
    for name in ("dpkg-query", "cmake", "xorriso", "osslsigncode"):
        spy(spies, name, f"if env | grep -q key-password; then echo '{name} sees it'; else echo {name}; fi "
                         f">> '{log}'\nexec '{shutil.which(name)}' \"$@\"\n")
    image = tmp_path / "signed.iso"
    result = subprocess.run(["make", "-s", "disc", f"DISC_CONTENT={gold}", f"DISC_SIGN_CERT={pki.chain_pem}",
                             f"DISC_SIGN_KEY={pki.encrypted_key}", f"DISC_OUT={image}"], cwd=ROOT,
                            env={**os.environ, "DISC_SIGN_PASSWORD": "key-password",
                                 "PATH": f"{spies}:{os.environ['PATH']}"},
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "key-password" not in result.stdout + result.stderr
    assert set(log.read_text().splitlines()) == {"dpkg-query", "cmake", "xorriso", "osslsigncode"}
    assert osslsigncode("extract-signature", "-in", ROOT / "build" / "disc-win32" / "autorun.exe", "-out",
                        tmp_path / "none").returncode != 0
    assert run_tool("check", image, "--signed-by", pki.chain_pem).returncode == 0


@pytest.mark.parametrize("signer", ["PKCS#12, password file with CR LF", "PEM, encrypted key"])
def test_no_secret_on_a_command_line_or_in_a_file(tmp_path, gold, pki, signer):
    """Traced: the password goes through pipes only, and no key is written."""
    if shutil.which("strace") is None:
        pytest.skip("strace is not installed (scripts/install-deps.sh installs it)")
    log = tmp_path / "trace"
    result = subprocess.run(["strace", "-f", "-y", "-s", "4096", "-e", "trace=execve,write", "-o", str(log),
                             str(TOOL), "build", "--content", str(gold), "--out", str(tmp_path / "signed.iso"),
                             *map(str, options(pki, SIGNERS[signer]))], capture_output=True, text=True)
    if result.returncode != 0 and "ptrace" in result.stderr:
        pytest.skip(f"strace cannot trace here: {result.stderr.strip()}")
    assert result.returncode == 0, result.stdout + result.stderr
    password = "pfx password" if signer.startswith("PKCS#12") else "key-password"
    started, piped = [], 0
    for line in log.read_text(errors="replace").splitlines():
        if " execve(" in line:
            started.append(line)
            assert password not in line
        write = re.search(r" write\(\d+<([^>]*)>", line)
        if write and password in line:
            assert write.group(1).startswith("pipe:"), line
            piped += 1
        if write and not write.group(1).startswith("pipe:"):
            assert "PRIVATE KEY" not in line, line
    assert any("osslsigncode" in line and "-readpass" in line for line in started)
    assert piped == 1
