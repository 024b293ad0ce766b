"""Signed publishing: keys, the signed release and its serial, chunk indexes and block sums, the
objects kept, and links planted in the channel."""
import glob
import hashlib
import os
import re
import shutil
import stat
import struct
import subprocess
import time

import release_signing

from .fixture import OPTIONS, SignedTestCase, snapshot


class SignedPublishing(SignedTestCase):
    def test_keygen_writes_a_secret_key_once_and_prints_its_public_key(self):
        self.assertEqual(self.keygen.returncode, 0, self.keygen.stderr)
        self.assertEqual(os.stat(self.key).st_mode & 0o777, 0o600)
        public_key = release_signing.read_secret_key(self.key)[1][32:]
        self.assertEqual(self.keygen.stdout.decode(), release_signing.public_key_text(public_key) + "\n")
        self.assertEqual(stat.S_IMODE(os.stat(os.path.dirname(self.key)).st_mode), 0o700)
        with open(self.key, "rb") as source:
            before = source.read()
        again = subprocess.run([OPTIONS.publisher, "keygen", self.key], capture_output=True, timeout=60)
        self.assertEqual(again.returncode, 2)
        self.assertIn(b"never overwritten", again.stderr)
        with open(self.key, "rb") as source:
            self.assertEqual(source.read(), before)

    def test_signed_releases_list_every_file_and_their_serial_only_grows(self):
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key, "--expires", "never").returncode, 0)
        self.assert_published(self.release())
        lines = self.release_lines()
        with open(os.path.join(self.channel, "md5sums"), "rb") as manifest:
            listing = manifest.read()
        paths = [line.split(b"  ", 1)[1].decode() for line in listing.splitlines()]
        sha256sum = subprocess.run(["sha256sum", *paths], cwd=self.channel, capture_output=True, check=True)
        files = ["file %s %d %s" % (digest.decode(), os.path.getsize(os.path.join(self.channel, path)), path)
                 for (digest, _), path in zip((line.split(b"  ", 1) for line in sha256sum.stdout.splitlines()), paths)]
        listing_sha = hashlib.sha256(listing).hexdigest()
        first = self.serial()  # the clock: above whatever a lost record or web root had signed
        self.assertLess(abs(first - time.time()), 120)
        self.assertEqual(lines, ["orn-release 1", "channel latest", "serial %d" % first, "md5sums-sha256 " + listing_sha] +
                         files + ["file %s %d by-hash/%s" % (listing_sha, len(listing), listing_sha)])
        for line in files:  # each file also under its SHA-256: the very file, not a copy, where links work
            self.assertTrue(os.path.samefile(self.channel_path(line.split()[3]), self.channel_path(
                "by-hash/" + line.split()[1])), line)
        self.assertEqual(self.read("by-hash/" + listing_sha), listing)
        self.assertEqual(os.stat(self.channel_path("md5sums")).st_nlink, 1)

        self.tree(self.release(**{"data.pak": b"data 2"}))
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        second = self.serial()
        self.assertGreater(second, first)
        before = snapshot(self.channel)
        for refused in (["--serial", str(second)], []):  # a serial that does not grow; an unsigned publish over a signed channel
            result = self.publish(*(["--sign", self.key] if refused else []), *refused)
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn(b"nothing in", result.stderr)
            self.assertEqual(snapshot(self.channel), before)
        self.assertEqual(self.publish("--sign", self.key, "--serial", str(second + 1000)).returncode, 0)
        self.assertEqual(self.serial(), second + 1000)
        self.assertIn(b"serial: %d (given with --serial)\n" % (second + 1000), self.status("--key", self.key).stdout)

        before = {path: entry for path, entry in snapshot(self.channel).items() if not path.endswith("release")}
        resigned = subprocess.run([OPTIONS.publisher, "--sign", self.key, "--expires", "7", "--resign", self.channel],
                                  capture_output=True, timeout=60)
        self.assertEqual(resigned.returncode, 0, resigned.stderr)
        lines = self.release_lines()
        self.assertEqual(lines[2], "serial %d" % (second + 1001))
        self.assertIn(b"serial: %d (one above the highest serial known, %d, which is ahead of the clock)\n" %
                      (second + 1001, second + 1000), self.status("--key", self.key).stdout)
        expires = time.mktime(time.strptime(lines[3], "expires %Y-%m-%dT%H:%M:%SZ")) - time.timezone
        self.assertLess(abs(expires - (time.time() + 7 * 86400)), 120)
        self.assertEqual({p: e for p, e in snapshot(self.channel).items() if not p.endswith("release")}, before)

    def test_large_files_get_a_chunk_index_named_by_its_hash_kept_while_a_release_names_it(self):
        big = os.urandom(3 << 20)
        self.tree(self.release(**{"big.pak": big}))
        unsigned = os.path.join(self.work, "web", "unsigned")
        subprocess.run([OPTIONS.publisher, self.source, unsigned], capture_output=True, timeout=60, check=True)
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(unsigned, "by-hash")))
        legacy = lambda root: {os.path.relpath(p, root): e[1:3] for p, e in snapshot(root).items()  # noqa: E731
                               if e[0] == "file" and not os.path.relpath(p, root).startswith(("by-hash", "release"))}
        self.assertEqual(legacy(self.channel), legacy(unsigned))  # md5sums too: as without signing
        (name,) = [line.split()[1] for line in self.release_lines() if line.endswith("big.pak.orn-chunks")]
        index = self.read("by-hash/" + name)
        self.assertEqual(hashlib.sha256(index).hexdigest(), name)
        magic, version, low, normal, high, size, sha, count = struct.unpack("<8s4IQ32sQ", index[:72])
        self.assertEqual((magic, version, low, normal, high), (b"ORNCHUNK", 1, 16 << 10, 64 << 10, 256 << 10))
        self.assertEqual((size, sha, len(index)), (len(big), hashlib.sha256(big).digest(), 72 + 24 * count))
        self.assertEqual(sum(struct.unpack_from("<I", index, 72 + 24 * i)[0] for i in range(count)), len(big))
        files = [line for line in self.release_lines() if line.startswith("file ")]
        self.assertEqual(files[-3], "file %s %d big.pak.orn-chunks" % (name, len(index)))  # before the marker
        self.assertEqual([line for line in files if "orn-chunks" in line], files[-3:-2])
        # Its block sums follow it: a weak and a strong sum of each 4 KiB block, the last one shorter.
        _, sums_name, sums_size, sums_path = files[-2].split()
        sums = self.read("by-hash/" + sums_name)
        self.assertEqual((sums_path, int(sums_size), hashlib.sha256(sums).hexdigest()),
                         ("big.pak.orn-blocks", len(sums), sums_name))
        self.assertEqual(sums[:56], struct.pack("<8s2IQ32s", b"ORNBLOCK", 1, 4096, len(big), hashlib.sha256(big).digest()))
        self.assertEqual(len(sums), 56 + 12 * ((len(big) + 4095) // 4096))
        for block in (0, (len(big) - 1) // 4096):
            data = big[block * 4096:(block + 1) * 4096]
            a = sum(data) & 0xffff
            b = sum((len(data) - i) * byte for i, byte in enumerate(data)) & 0xffff
            self.assertEqual(struct.unpack_from("<I", sums, 56 + 12 * block)[0], a | b << 16)

        # Status and a re-sign check the index where it is kept, and keep its line.
        pristine = os.path.join(self.work, "pristine")
        shutil.copytree(self.channel, pristine)
        self.assertEqual(self.status("--key", self.key).returncode, 0)
        self.assertEqual(self.resign().returncode, 0)
        self.assertEqual(files[-3:-1], [line for line in self.release_lines() if ".orn-" in line])
        self.write("by-hash/" + name, index[:-1] + bytes([index[-1] ^ 1]))
        self.assertIn(b"files match: no", self.status("--key", self.key).stdout)
        self.assertEqual(self.resign().returncode, 2)

    def test_a_replaced_file_release_or_manifest_is_dated_a_second_later_even_within_one_second(self):
        # A cache that revalidates by ETag (size and modification second) must see every replacement.
        second = lambda path: int(os.stat(self.channel_path(path)).st_mtime)  # noqa: E731
        self.tree({"game.pak": b"a"})
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        seconds = [second("release")]
        for _ in range(3):
            self.assertEqual(self.resign().returncode, 0)
            seconds.append(second("release"))
        self.assertEqual(seconds, sorted(set(seconds)), seconds)
        manifest, game = second("md5sums"), second("game.pak")
        self.tree({"game.pak": b"b"})  # the same size
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        self.assertGreater(second("md5sums"), manifest)
        self.assertGreater(second("game.pak"), game)
        # A promote would link beta's object, here dated a second before the file it replaces (as a rollback's
        # object is): a later copy, dated after the link, could then carry that file's validators.
        beta = os.path.join(os.path.dirname(self.channel), "beta")
        self.tree({"game.pak": b"c"}, os.path.join(self.work, "beta-tree"))
        subprocess.run([OPTIONS.publisher, "--new-channel", "--sign", self.key, os.path.join(self.work, "beta-tree"),
                        beta], capture_output=True, timeout=60, check=True)
        beta_object = os.path.join(beta, "by-hash", hashlib.sha256(b"c").hexdigest())
        os.utime(beta_object, (time.time(), os.stat(self.channel_path("game.pak")).st_mtime - 1))
        game = second("game.pak")
        promoted = subprocess.run([OPTIONS.publisher, "promote", beta, self.channel, "--sign", self.key],
                                  capture_output=True, timeout=60)
        self.assertEqual(promoted.returncode, 0, promoted.stderr)
        self.assertEqual((self.read("game.pak"), second("game.pak") > game), (b"c", True))

    def test_a_publish_keeps_the_objects_of_the_last_releases_and_removes_only_other_objects(self):
        big = os.urandom(2 << 20)
        self.tree(self.release())
        # Other names there are not ours; an object's name that no release gives is.
        foreign = {"notes.txt": b"the deployer's", "F" * 64: b"not an object's name"}
        for keep in (["--keep-releases", "1"], ["--keep-releases", "2"], []):
            with self.subTest(keep=keep):
                shutil.rmtree(self.channel, ignore_errors=True)
                shutil.rmtree(os.environ["XDG_STATE_HOME"], ignore_errors=True)
                count, named, present = int(keep[1]) if keep else 3, [], set()
                for round in range(count + 3):
                    self.tree({"big.pak": big + b"%d" % round, "data.pak": b"data %d" % round})
                    recorded = named[-count:]
                    if round == count + 1:  # no record of the releases kept: the channel's verified one counts,
                        (record,) = glob.glob(os.path.join(os.environ["XDG_STATE_HOME"], "orn-publish", "*.releases"))
                        os.remove(record)  # and until it knows as many releases as kept, nothing is removed
                        recorded = named[-1:]
                    result = self.publish("--sign", self.key, *keep)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    named.append(self.objects_named())
                    recorded = (recorded + named[-1:])[-count:]
                    present |= named[-1]
                    if len(recorded) == count:
                        present = set().union(*recorded)
                    self.assertEqual(set(os.listdir(self.channel_path("by-hash"))) - set(foreign), present)
                    for name in present - {"f" * 64}:
                        self.assertEqual(hashlib.sha256(self.read("by-hash/" + name)).hexdigest(), name)
                    if round == 0:
                        first = self.read("release")
                        self.tree(dict(foreign, **{"f" * 64: b"planted"}), self.channel_path("by-hash"))
                        present.add("f" * 64)
                # Signed again with the same files: nothing of the release before goes.
                before = set(os.listdir(self.channel_path("by-hash")))
                self.assertEqual(self.publish("--sign", self.key, *keep).returncode, 0)
                self.assertEqual(set(os.listdir(self.channel_path("by-hash"))), before)
                self.assertTrue(set(foreign) <= before)
                # An old release put back in the channel: still the newest releases' objects are kept.
                with open(self.channel_path("release"), "wb") as out:
                    out.write(first)
                self.tree({"big.pak": big + b"again", "data.pak": b"data again"})
                self.assertEqual(self.publish("--sign", self.key, *keep).returncode, 0)
                named.append(self.objects_named())
                self.assertEqual(set(os.listdir(self.channel_path("by-hash"))) - set(foreign),
                                 set().union(*named[-count:]))

    def test_every_object_is_in_place_before_the_release_that_names_it(self):
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        first = self.read("release")
        second = self.release(**{"data.pak": b"data 2", "big.pak": os.urandom(2 << 20)})
        self.tree(second)
        publish = subprocess.Popen([OPTIONS.publisher, "--hold-lock", "2", "--sign", self.key, self.source,
                                    self.channel], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not os.path.exists(self.channel_path("update.lock")):
            self.assertLess(time.monotonic(), deadline, "the publish never raised the lock")
            time.sleep(0.02)
        os.mkdir(self.channel_path("release.orn-publish"))  # the release alone cannot be written
        stderr = publish.communicate(timeout=60)[1]
        self.assertEqual(publish.returncode, 1, stderr)
        self.assertEqual(self.read("release"), first)
        for content in list(second.values()) + [self.read("md5sums")]:
            self.assertEqual(self.read("by-hash/" + hashlib.sha256(content).hexdigest()), content)
        os.rmdir(self.channel_path("release.orn-publish"))
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        self.assert_published(second)
        self.assertEqual(self.status("--key", self.key).returncode, 0)

    def test_a_second_publish_of_a_channel_refuses_while_the_first_runs(self):
        self.tree(self.release())
        first = subprocess.Popen([OPTIONS.publisher, "--hold-lock", "3", "--sign", self.key, self.source, self.channel],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 30
        while not os.path.exists(os.path.join(self.channel, "update.lock")):
            self.assertLess(time.monotonic(), deadline, "the first publish never raised the lock")
            time.sleep(0.02)
        second = self.publish("--sign", self.key)
        self.assertEqual(second.returncode, 1)
        self.assertIn(b"another orn-publish is publishing", second.stderr)
        self.assertTrue(os.path.exists(os.path.join(self.channel, "update.lock")), "the first run's lock stays up")
        self.assertEqual(first.wait(timeout=60), 0, first.stderr.read())
        self.assert_published(self.release())
        self.assertIn(b" (the signing time in UTC seconds)\n", self.status("--key", self.key).stdout,
                      "the refused run signed nothing")

    def test_links_planted_in_the_channel_are_refused_and_nothing_is_touched_through_them(self):
        outside = os.path.join(self.work, "outside")
        precious = os.path.join(outside, "precious.txt")
        self.tree({"precious.txt": b"the deployer's own"}, outside)
        os.chmod(precious, 0o600)
        self.tree(self.release())
        self.assertEqual(self.publish("--sign", self.key).returncode, 0)
        pristine = os.path.join(self.work, "pristine")
        shutil.copytree(self.channel, pristine)
        planted = [(link, "link") for link in ["d", "md5sums.orn-publish-written", "release.orn-publish",
                                               "libs/engine.dll.orn-publish", "libs/engine.dll", "sub/folder/x",
                                               "update.lock", "md5sums", "release",
                                               "\x1b]0;PWNED\x07\x1b[2J\u009b",
                                               "\udc9b2J\udc9b31mx\u202e"]]  # shown escaped: 8-bit CSI, a direction mark
        planted += [("md5sums", "hard link"),  # to the secret key: never read, never quoted
                    ("md5sums.orn-publish", "directory"), ("md5sums.orn-publish-written", "fifo"),
                    ("data.pak", "directory"),  # where the tree puts a file: the copy would fail with the lock up
                    ("by-hash", "link"), ("by-hash/" + "0" * 64, "link"), ("by-hash", "file"),
                    ("by-hash/folder", "directory"),  # the chunk indexes' folder holds their files and nothing else
                    ("", "link")]  # "": the channel itself
        visible = lambda path: re.sub(rb"[\x00-\x1f\x7f-\xff]",  # noqa: E731
                                      lambda m: b"".join(b"\\x%02x" % c for c in m.group()), os.fsencode(path))
        for link, kind in planted:
            with self.subTest(link=link, kind=kind):
                shutil.rmtree(self.channel, ignore_errors=True)
                if os.path.islink(self.channel):
                    os.remove(self.channel)
                where = os.path.join(self.channel, link) if link else self.channel
                if link:
                    shutil.copytree(pristine, self.channel)
                    os.makedirs(os.path.dirname(where), exist_ok=True)
                    if os.path.isdir(where):
                        shutil.rmtree(where)
                    elif os.path.exists(where):
                        os.remove(where)
                if kind == "link":
                    os.symlink(outside if link in ("d", "") else precious, where)
                else:
                    {"hard link": lambda: os.link(self.key, where), "directory": lambda: os.mkdir(where),
                     "fifo": lambda: os.mkfifo(where), "file": lambda: self.write(link, b"in the way")}[kind]()
                if link == "d":  # the old manifest lists a file through the link, to be removed
                    with open(os.path.join(self.channel, "md5sums"), "ab") as manifest:
                        manifest.write(b"0" * 32 + b"  d/precious.txt\n")
                before = snapshot(self.work)
                for command in (["--sign", self.key, self.source, self.channel],
                                ["--sign", self.key, "--resign", self.channel]):
                    result = subprocess.run([OPTIONS.publisher, *command], capture_output=True, timeout=60)
                    self.assertEqual(result.returncode, 2, result.stderr)
                    self.assertIn(visible(where) + b": ", result.stderr)
                    self.assertNotRegex(result.stderr, rb"[\x1b\x80-\xff]")
                    self.assertNotIn(b"orn-release-secret-key", result.stderr)
                    self.assertEqual(snapshot(self.work), before)
                    self.assertEqual(os.stat(precious).st_mode & 0o777, 0o600)
        # A directory where a listed file was is not the file: never removed, nor what it holds.
        os.remove(self.channel)
        shutil.copytree(pristine, self.channel)
        os.remove(os.path.join(self.channel, "readme.txt"))
        self.tree({"readme.txt/kept.txt": b"not ours"}, self.channel)
        os.remove(os.path.join(self.source, "readme.txt"))
        result = self.publish("--sign", self.key)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.channel, "readme.txt", "kept.txt"), "rb") as kept:
            self.assertEqual(kept.read(), b"not ours")
