"""The signed release as the tests see it, checked and made with libsodium
itself (through ctypes) rather than with the project's code: a forged,
expired or replayed release is written here, and a published one verified."""
import base64
import ctypes
import ctypes.util
import hashlib

_sodium = ctypes.CDLL(ctypes.util.find_library("sodium") or "libsodium.so.23")
if _sodium.sodium_init() < 0:
    raise RuntimeError("libsodium cannot start")


def read_secret_key(path):
    """(key id, 64-byte secret key) from a file that orn-publish keygen wrote."""
    with open(path, "rb") as source:
        header, line = source.read().decode().splitlines()
    assert header == "orn-release-secret-key 1", header
    key_id, encoded = line.split(":")
    return key_id, base64.b64decode(encoded)


def public_key_text(public_key):
    encoded = base64.b64encode(public_key).decode()
    return hashlib.sha256(encoded.encode()).hexdigest()[:16] + ":" + encoded


def sign(body, secret_key_file):
    """A release text: `body` (bytes) followed by its Ed25519 signature line."""
    key_id, secret = read_secret_key(secret_key_file)
    signature = ctypes.create_string_buffer(64)
    _sodium.crypto_sign_detached(signature, None, body, ctypes.c_ulonglong(len(body)), secret)
    return body + b"signature %s %s\n" % (key_id.encode(), base64.b64encode(signature.raw))


def split(text):
    """(body, key id, signature) of a release text."""
    body, _, line = text[:-1].rpartition(b"\n")
    keyword, key_id, encoded = line.split(b" ")
    assert keyword == b"signature", line
    return body + b"\n", key_id.decode(), base64.b64decode(encoded)


def verifies(text, secret_key_file):
    """True when the release's signature is valid for the key pair in the file."""
    body, key_id, signature = split(text)
    expected_id, secret = read_secret_key(secret_key_file)
    public_key = secret[32:]
    return key_id == expected_id and _sodium.crypto_sign_verify_detached(
        signature, body, ctypes.c_ulonglong(len(body)), public_key) == 0
