"""Signing on a web server whose files may be an attacker's."""
import hashlib
import os
import re
import shutil

import release_signing

from .fixture import SignedTestCase, snapshot


class SigningOnAHostileServer(SignedTestCase):
    """The web server's files may be an attacker's: orn-publish signs only what
    its deployer signed, its serials never go back, and its key stays private."""

    def restore(self, pristine, **changes):
        shutil.rmtree(self.channel)
        shutil.copytree(pristine, self.channel)
        for path, content in changes.items():
            if content is None:
                os.remove(self.channel_path(path))
            elif isinstance(content, int):
                with open(self.channel_path(path), "ab") as grown:
                    grown.truncate(content)
            else:
                self.write(path, content)

    def test_resign_refuses_all_that_was_not_signed_before(self):
        self.tree(self.release(**{"ORN_Client.exe": b"the real client"}))
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        pristine = os.path.join(self.work, "pristine")
        shutil.copytree(self.channel, pristine)
        other, other_public = self.other_key()
        listing, body = self.read("md5sums"), release_signing.split(self.read("release"))[0]
        md5 = lambda data: hashlib.md5(data).hexdigest().encode()  # noqa: E731
        forged = b"the attacker's client"
        cases = {
            "forged client and its md5sums line": {"ORN_Client.exe": forged,
                                                   "md5sums": listing.replace(md5(b"the real client"), md5(forged))},
            "forged client alone": {"ORN_Client.exe": forged},
            "libs/evil.dll and its line": {"libs/evil.dll": b"evil", "md5sums": listing + md5(b"evil") +
                                           b"  libs/evil.dll\n"},
            "md5sums changed": {"md5sums": listing + b"\n"},
            "release signed by another key": {"release": release_signing.sign(body, other)},
            "release missing": {"release": None},
            "a listed file grown sparse to a terabyte": {"data.pak": 1 << 40},  # refused by its size, not hashed
            "the client's object forged": {"by-hash/" + hashlib.sha256(b"the real client").hexdigest(): forged},
            "md5sums' object missing": {"by-hash/" + hashlib.sha256(listing).hexdigest(): None},
        }
        for name, changes in cases.items():
            with self.subTest(name):
                self.restore(pristine, **changes)
                before = snapshot(self.channel)
                result = self.resign()
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"nothing in", result.stderr)
                self.assertEqual(snapshot(self.channel), before)
        # The same entries signed anew; a release under a key being rotated away is trusted when named.
        self.restore(pristine, release=release_signing.sign(body, other))
        result = self.resign("--trust", other_public)
        self.assertEqual(result.returncode, 0, result.stderr)
        unchanging = lambda lines: [line for line in lines if not line.startswith(("serial", "expires"))]  # noqa
        self.assertEqual(unchanging(self.release_lines()), unchanging(body.decode().splitlines()))
        self.assertGreater(self.serial(), int(re.search(rb"serial (\d+)", body).group(1)))

    def test_a_planted_deleted_or_rolled_back_release_never_lowers_the_serial(self):
        self.tree(self.release())
        sign = ["--sign", self.key]
        self.assertEqual(self.publish(*sign).returncode, 0)
        first, oldest = self.read("release"), self.serial()
        for _ in range(2):
            self.assertEqual(self.publish(*sign).returncode, 0)
        highest = self.serial()
        self.assertGreater(highest, oldest + 1)
        largest = 1 << 62  # the largest serial that launchers read
        planted = release_signing.sign(re.sub(rb"serial \d+", b"serial %d" % largest,
                                              release_signing.split(first)[0]), self.other_key()[0])
        above = lambda step: sign + ["--serial", str(highest + step)]  # noqa: E731
        steps = [  # (the server's release becomes, options, exit status, serial signed: +N above the highest)
            ("rolled back to the first serial, re-signed", first, lambda: "resign", 2, None),
            ("rolled back to the first serial", first, lambda: sign, 0, "grows"),
            ("planted 2^62 under another key", planted, lambda: sign, 2, None),
            ("planted, --serial not above the record", planted, lambda: above(0), 2, None),
            ("planted, --serial above the record", planted, lambda: above(1), 0, "+1"),
            ("deleted, unsigned publish", None, lambda: [], 2, None),
            ("deleted, signed publish", None, lambda: sign, 2, None),
            ("deleted, --serial above the record", None, lambda: above(1), 0, "+1"),
            ("--serial past what launchers read", b"", lambda: sign + ["--serial", str(largest + 1)], 2, None),
            ("the largest serial launchers read", b"", lambda: sign + ["--serial", str(largest)], 0, largest),
            ("no serial left after it", b"", lambda: sign, 2, None),
        ]
        for name, release, options, status, serial in steps:
            with self.subTest(name):
                options = options()
                if release is None and os.path.exists(self.channel_path("release")):
                    os.remove(self.channel_path("release"))
                elif release:
                    self.write("release", release)
                before = snapshot(self.channel)
                result = self.resign() if options == "resign" else self.publish(*options)
                self.assertEqual(result.returncode, status, result.stderr)
                if options == "resign":  # a valid old release put back is not blessed anew, and status tells
                    older = b"%d is older than the last one signed here, %d" % (oldest, highest)
                    self.assertIn(b"serial " + older, result.stderr)
                    shown = self.status("--key", self.key)
                    self.assertEqual(shown.returncode, 1, shown.stdout)
                    self.assertIn(b"serial: " + older.replace(b" is", b","), shown.stdout)
                if serial is None:
                    self.assertEqual(snapshot(self.channel), before)
                    continue
                if serial == "grows":
                    self.assertGreater(self.serial(), highest)
                else:
                    self.assertEqual(self.serial(), highest + 1 if serial == "+1" else serial)
                highest = self.serial()
        state = os.path.join(os.environ["XDG_STATE_HOME"], "orn-publish")
        self.assertEqual(os.stat(state).st_mode & 0o777, 0o700)

    def test_expiry_by_default_kept_when_signed_anew_warned_and_shown_by_status(self):
        self.tree(self.release())
        public, other_public = self.keygen.stdout.decode().strip(), self.other_key()[1]
        steps = [  # (command, options, days to the expiry or None, warned)
            ("publish", [], 90, False), ("resign", [], 90, False),
            ("publish", ["--expires", "never"], None, False), ("resign", [], None, False),
            ("publish", ["--expires", "7"], 7, True), ("resign", [], 7, True),
        ]
        for command, options, days, warned in steps:
            with self.subTest(command=command, options=options):
                result = self.publish("--sign", self.key, *options) if command == "publish" else self.resign(*options)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.expiry_days(), days)
                self.assertEqual(b"orn-publish: warning: the release expires in 7 days" in result.stderr, warned)
        pristine = os.path.join(self.work, "pristine")
        shutil.copytree(self.channel, pristine)
        listing = self.read("md5sums") + b"0" * 32 + b"  big.pak\n"
        body = re.sub(rb"md5sums-sha256 \w+", b"md5sums-sha256 " + hashlib.sha256(listing).hexdigest().encode(),
                      release_signing.split(self.read("release"))[0])
        planted = {"md5sums": listing, "big.pak": 200 << 30, "release": body + b"file " + b"0" * 64 +
                   b" 214748364800 big.pak\nsignature \x9b2J\x9b31m " + b"A" * 86 + b"==\n"}
        statuses = [  # (options, exit status, a line shown, the server's files changed first)
            (["--key", self.key], 1, b" (in 7 days), within 14 days: sign it anew\n"),  # a part of a day counts
            (["--key", self.key, "--warn-days", "3"], 0, b"highest serial known, "),
            (["--trust", public, "--warn-days", "3"], 0, b"files: 7\nsignature: verifies\nfiles match: yes\n"),
            (["--warn-days", "3"], 1, b"signature: not checked"),
            (["--trust", other_public, "--warn-days", "3"], 1, b"signature: does not verify"),
            (["--warn-days"], 2, b""),
            (["--key", self.key, "--warn-days", "3"], 1, b"files match: no", {"data.pak": b"changed on the server"}),
            (["--key", self.key, "--warn-days", "3"], 1, b"files match: not checked", planted),  # nothing hashed
        ]
        for options, status, line, *changes in statuses:
            with self.subTest(options=options, changes=bool(changes)):
                if changes:
                    self.restore(pristine, **changes[0])
                result = self.status(*options)
                self.assertEqual(result.returncode, status, result.stdout + result.stderr)
                self.assertIn(line, result.stdout)
                self.assertNotIn(b"\x9b", result.stdout)

    def test_a_secret_key_others_may_read_or_reached_through_a_link_is_refused(self):
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        loose, link = os.path.join(self.work, "keys", "loose.secret"), os.path.join(self.work, "keys", "link.secret")
        owned, inside = os.path.join(self.work, "keys", "nobody.secret"), self.channel_path("release.secret")
        for copy in (loose, owned, inside):
            shutil.copy(self.key, copy)
        os.chown(owned, 65534, -1)  # nobody, as the web server's user may be
        os.symlink(self.key, link)
        served = self.channel_path("libs/notes.txt")  # the key under another name, where nginx serves it
        cases = [(loose, 0o644, b"permissions too open (0644)"), (loose, 0o640, b"permissions too open (0640)"),
                 (link, None, b"symbolic link"), (os.path.dirname(self.key), None, b"not a regular file"),
                 (owned, None, b"owned by another user (uid 65534)"), (inside, None, b"lies inside the channel"),
                 (self.key, "hard link", b"a secret key lies inside the channel, where the web server serves it to "
                                         b"anyone: " + os.fsencode(served)),
                 (self.key, "copy", b"a secret key lies inside the channel"),
                 (self.key, "copy with a BOM and CR LF", b"a secret key lies inside the channel"),
                 (self.key, "its secret alone", b"a secret key lies inside the channel")]
        with open(self.key, "rb") as source:
            text = source.read()
        copies = {"copy": text, "copy with a BOM and CR LF": b"\xef\xbb\xbf" + text.replace(b"\n", b"\r\n"),
                  "its secret alone": b"backup: " + text.split(b":")[-1]}
        for key, mode, message in cases:
            with self.subTest(key=key, mode=mode):
                if mode == "hard link":
                    os.remove(inside)
                    os.link(self.key, served)
                elif mode in copies:
                    os.remove(served)
                    with open(served, "wb") as out:
                        out.write(copies[mode])
                elif mode:
                    os.chmod(loose, mode)
                before = snapshot(self.channel)
                for result in (self.publish("--sign", key), self.resign(key=key), self.status("--key", key)):
                    self.assertEqual(result.returncode, 2, result.stderr)
                    self.assertIn(message, result.stderr)
                    self.assertNotIn(b"orn-release-secret-key", result.stdout + result.stderr)
                self.assertEqual(snapshot(self.channel), before)
