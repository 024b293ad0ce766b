"""What every end-to-end scenario shares: the target the launcher runs on, the
command line's choices, the game directory each test gets, the scripted update
server's helpers and the console lines the launcher prints."""
import hashlib
import os
import re
import shutil
import stat
import subprocess
import tempfile
import types
import unittest
import urllib.parse

from scripted_server import Reply, ScriptedServer

# What the command line chose: configure() sets it before any test runs.
OPTIONS = types.SimpleNamespace(
    port=None,
    sanitized=False,
    target=None,
    publisher=None,
    signed_launcher=None,  # a build of the launcher that trusts the test key
    release_key=None,  # the test key's secret half
    holder=None,  # under Wine: a program that holds a file open
    mirrors_launcher=None,  # a build that trusts the test key and asks 127.0.0.1 on port, then on mirror_port
    mirror_port=None,
)
_scratch = []  # kept until the process ends, which removes it

LATEST = "/~qel/ORN/windows/latest/"
LOCK = LATEST + "update.lock"
MANIFEST = LATEST + "md5sums"
RELEASE = LATEST + "release"
DIGEST_CACHE = "ORN_Launcher.digests"
INSTALLED_LISTING = "ORN_Launcher.installed"  # what an unsigned channel's whole update put in place
RUN_LOG = "ORN_Launcher.log"  # written by every run
GAME_LOCK = "ORN_Launcher.lock"  # locked by every run, kept
OWN_LIBRARIES = ("physfs.dll", "sfml-network-2.dll", "sfml-system-2.dll")
CLIENT_SCRIPT = b"#!/bin/sh\necho \"client ran\" >> client.log\nexit 3\n"


class Target:
    """How the launcher under test runs: natively, or a Windows build under Wine."""

    def __init__(self, launcher, wine=None, client=None, timeout=120):
        self.launcher = launcher
        self.wine = wine
        self.timeout = timeout
        with open(launcher, "rb") as binary:
            self.launcher_bytes = binary.read()
        self.client = CLIENT_SCRIPT
        self.libraries = {}  # the DLLs a Windows launcher loads, put beside it in every game directory
        if wine:
            with open(client, "rb") as binary:
                self.client = binary.read()
            for name in OWN_LIBRARIES:
                with open(os.path.join(os.path.dirname(launcher), name), "rb") as binary:
                    self.libraries[name] = binary.read()

    def command(self, executable, *args):
        return ([self.wine] if self.wine else []) + [executable, *args]

    def console(self, raw, name):
        """Console text with LF line ends. A Windows program writes CR LF at each
        line end (text mode): checked here byte for byte, then turned into LF."""
        if not self.wine:
            return raw
        text = raw.replace(b"\r\n", b"\n")
        if text.replace(b"\n", b"\r\n") != raw:
            raise AssertionError("%s has a line end without CR: %r" % (name, raw))
        return text


def md5(content):
    return hashlib.md5(content).hexdigest().encode()


def u8(name):
    """A name's UTF-8 bytes spelled one character a byte, as manifest paths are spelled here."""
    return name.encode("utf-8").decode("latin-1")


def manifest(files):
    return b"".join(hashlib.md5(content).hexdigest().encode() + b"  " + path.encode("latin-1") + b"\n"
                    for path, content in files.items())


def uri(path, directory=LATEST):
    """The request path under which the launcher asks for a manifest path."""
    return directory + urllib.parse.quote_from_bytes(path.encode("latin-1"), safe="/-._~!$&'()*+,;=:@")


def object_path(release, path):
    """The name under which a content-addressed channel keeps `path` (a file, an index's `<file>.orn-chunks`,
    or "md5sums", named by the line that marks the channel) as the signed `release` text names it:
    "by-hash/<SHA-256>"; None when it names none."""
    if path == "md5sums":
        line = re.search(rb"^file ([0-9a-f]{64}) \d+ by-hash/\1$", release, re.M)
    else:
        line = re.search(rb"^file ([0-9a-f]{64}) \d+ %s$" % re.escape(path.encode("latin-1")), release, re.M)
    return line and "by-hash/" + line.group(1).decode()


def update_server(files, extra_routes=None, lock=None, directory=LATEST, ranges=False):
    """A server that publishes `files` (path -> bytes) under `directory`."""
    routes = {directory + "update.lock": lock or Reply(404),
              directory + "md5sums": Reply(200, manifest(files))}
    for path, content in files.items():
        routes[uri(path, directory)] = Reply(200, content, ranges=ranges)
    routes.update(extra_routes or {})
    return ScriptedServer(OPTIONS.port, routes)


class LauncherTestCase(unittest.TestCase):
    def setUp(self):
        self.game = tempfile.mkdtemp(prefix="launcher_e2e.")
        self.launcher_bytes = OPTIONS.target.launcher_bytes
        self.put("ORN_Launcher.exe", self.launcher_bytes, executable=True)
        self.put("ORN_Client.exe", OPTIONS.target.client, executable=True)
        for name, content in OPTIONS.target.libraries.items():
            self.put(name, content)
        self.installed = ["ORN_Client.exe", "ORN_Launcher.exe"] + list(OPTIONS.target.libraries)

    def library(self, name):
        """An own library as the game directory holds it: the real DLL where the launcher loads it."""
        return OPTIONS.target.libraries.get(name, b"old " + name.encode())

    def tearDown(self):
        shutil.rmtree(self.game, ignore_errors=True)

    def path(self, name):
        """A game path as the tests spell manifest paths: each character one byte (see u8)."""
        return os.path.join(self.game, os.fsdecode(name.encode("latin-1")))

    def put(self, name, content, executable=False):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        with open(self.path(name), "wb") as out:
            out.write(content)
        if executable:
            os.chmod(self.path(name), stat.S_IRWXU)

    def read(self, name):
        with open(self.path(name), "rb") as source:
            return source.read()

    def run_launcher(self, *args, executable=None, cwd=None, wrapper=(), **options):
        """`wrapper`: a command that runs the launcher, as setpriv runs it as another user."""
        result = subprocess.run([*wrapper, *OPTIONS.target.command(executable or self.path("ORN_Launcher.exe"), *args)],
                                cwd=cwd or self.game, capture_output=True, timeout=OPTIONS.target.timeout, **options)
        result.stdout = OPTIONS.target.console(result.stdout, "standard output")
        result.stderr = OPTIONS.target.console(result.stderr, "standard error")
        return result

    def listing(self):
        """The game directory's names, but for the launcher's own records of digests it has seen and of what it
        installed, its log and its lock."""
        return [name for name in os.listdir(self.game) if name not in (DIGEST_CACHE, INSTALLED_LISTING, RUN_LOG,
                                                                        GAME_LOCK)]

    def client_ran(self):
        return os.path.exists(self.path("client.log"))

    def assert_downloads(self, stdout, header, entries, footer):
        """Download lines follow the index's hash order, so they are compared as a set."""
        self.assertTrue(stdout.startswith(header), stdout)
        self.assertTrue(stdout.endswith(footer), stdout)
        middle = stdout[len(header):len(stdout) - len(footer)]
        self.assertEqual(sorted(middle.splitlines(keepends=True)), sorted(entries))


CONNECTED = b"Connecting to server... Connected\n"
HEADER = CONNECTED + b"Checking for updated files... Done\nUpdates found, retrieving updated files:\n"
LAUNCHING = b"Updated files retrieved, patching and launching ORN...\n\n"
CANCELED = b"Some updated files failed to be retrieved, canceling launch.\n"
TROUBLE = CONNECTED + b"Checking for updated files... !!Failed!!\n" \
    b"Server might be having troubles, check again in a few minutes.\n"


PIECE = 16 << 20  # the launcher's range request size


def piece(content, first, last, total=None, body=None):
    """A 206 answer for bytes first..last, its body and total overridable to lie."""
    return Reply(206, content[first:last + 1] if body is None else body,
                 headers={"Content-Range": "bytes %d-%d/%d" % (first, last, total or len(content))})


def sparse_file(size):
    """A file of `size` bytes, zeros but for a few marks, that takes no disk; its path and MD5."""
    directory = tempfile.mkdtemp(prefix="launcher_e2e_sparse.")
    unittest.addModuleCleanup(shutil.rmtree, directory, ignore_errors=True)
    served = os.path.join(directory, "big.pak")
    with open(served, "wb") as out:
        for offset in (0, size // 3, size - 7):
            out.seek(offset)
            out.write(b"marked!")
    digest = hashlib.md5()
    with open(served, "rb") as source:
        for block in iter(lambda: source.read(1 << 24), b""):
            digest.update(block)
    return served, digest.hexdigest()


def address_space_limit(mebibytes=512):
    """Less memory than the files the tests serve: held whole, they could not arrive."""
    import resource
    resource.setrlimit(resource.RLIMIT_AS, (mebibytes << 20, mebibytes << 20))


def ranges_asked(server, path):
    return [r for p, r in zip(server.requests, server.ranges) if p == uri(path)]


def configure(options):
    """Takes the entry point's parsed command line."""
    OPTIONS.port, OPTIONS.sanitized = options.port, options.sanitized
    # The launcher follows the proxy the environment names: none, but where a scenario sets one.
    for name in ("http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"):
        os.environ.pop(name, None)
    OPTIONS.holder = options.holder and os.path.abspath(options.holder)
    OPTIONS.publisher = options.publisher and os.path.abspath(options.publisher)
    OPTIONS.signed_launcher = options.signed_launcher and os.path.abspath(options.signed_launcher)
    OPTIONS.mirrors_launcher = options.mirrors_launcher and os.path.abspath(options.mirrors_launcher)
    OPTIONS.mirror_port = options.mirror_port
    OPTIONS.blind_launcher = options.rollout_blind_launcher and os.path.abspath(options.rollout_blind_launcher)
    OPTIONS.launcher = os.path.abspath(options.launcher)
    # orn-publish refuses a secret key that others may read, as a checkout leaves the test key, and keeps
    # its record of signed serials in the state directory: both in a scratch directory.
    scratch = tempfile.TemporaryDirectory(prefix="launcher_e2e_state.")
    _scratch.append(scratch)
    os.environ["XDG_STATE_HOME"] = os.path.join(scratch.name, "state")
    if options.release_key:
        OPTIONS.release_key = os.path.join(scratch.name, "test-release.secret")
        shutil.copyfile(options.release_key, OPTIONS.release_key)
        os.chmod(OPTIONS.release_key, 0o600)
    OPTIONS.target = Target(os.path.abspath(options.launcher), options.wine, options.client, options.timeout)


def write_tree(tree, files):
    """A release tree at `tree` (emptied first) holding `files`, path: bytes; returns `tree`."""
    shutil.rmtree(tree, ignore_errors=True)
    for path, content in files.items():
        os.makedirs(os.path.dirname(os.path.join(tree, path)), exist_ok=True)
        with open(os.path.join(tree, path), "wb") as out:
            out.write(content)
    return tree
