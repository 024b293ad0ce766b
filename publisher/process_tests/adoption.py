"""adoption: launcher starts per day and release, counted from the web server's access logs."""
import gzip
import os
import subprocess

from .fixture import OPTIONS, SignedTestCase


def log_line(path, status=200, when="10/Dec/2026:12:00:00 +0000", method="GET", host="203.0.113.7"):
    return '%s - - [%s] "%s %s HTTP/1.1" %d 512 "-" "ORN launcher"\n' % (host, when, method, path, status)


class AdoptionReport(SignedTestCase):
    """Counts from a plain and a gzipped log of two kept releases; a log that cannot be read counts nothing."""

    def adoption(self, *arguments):
        return subprocess.run([OPTIONS.publisher, "adoption", self.channel, *arguments], capture_output=True,
                              timeout=60)

    def publish_two_releases(self):
        manifests, serials = [], []
        for build in (b"1", b"2"):
            # A file past 1 MiB: its chunk index is an object beside the manifest's, never taken for it.
            self.tree(self.release(**{"data.pak": b"data " + build, "big.pak": build * (2 << 20)}))
            self.assertEqual(self.publish("--sign", self.key).returncode, 0)
            manifests.append([line.split()[1] for line in self.release_lines() if line.startswith("md5sums-sha")][0])
            serials.append(self.serial())
        return manifests, serials

    def test_counts_starts_and_errors_per_utc_day_and_release_and_skips_what_it_cannot_read(self):
        (old, new), (first, second) = self.publish_two_releases()
        base = "/~qel/ORN/windows/latest/by-hash/"
        rotated = "".join([
            log_line(base + old), log_line(base + old, status=304), log_line(base + old, status=404),
            log_line(base + old + "?x=1", host="2001:db8::1"),
            log_line("/~qel/ORN/windows/beta/by-hash/" + old),  # another channel's
            log_line(base + old, method="HEAD"),
            log_line(base + new, when="10/Dec/2026:23:30:00 -0200"),  # the next day in UTC
            "garbage\n", "x" * (70 << 10) + "\n"])
        current = log_line(base.replace("~", "%7E") + new, when="11/Dec/2026:08:00:00 +0100", status=503)
        with gzip.open(os.path.join(self.work, "access.log.1.gz"), "wt") as out:
            out.write(rotated)
        with open(os.path.join(self.work, "access.log"), "w") as out:
            out.write(current + log_line(base + new).replace("10/Dec", "31/Feb"))
        logs = [os.path.join(self.work, name) for name in ("access.log.1.gz", "access.log")]
        result = self.adoption(*logs)
        self.assertEqual(result.returncode, 0, result.stderr)
        width = max(6, len(str(second)))
        rows = [("2026-12-10", first, 4, 1), ("2026-12-10", second, 0, 0),
                ("2026-12-11", first, 0, 0), ("2026-12-11", second, 2, 1)]
        self.assertEqual(result.stdout.decode().splitlines()[2:],
                         ["%s  %s  %-10d  %d" % (day, str(s).ljust(width), starts, errors)
                          for day, s, starts, errors in rows] +
                         ["lines: 11, skipped (not an access log line): 3"])

        with open(logs[0], "rb") as source:
            whole = source.read()
        cut = os.path.join(self.work, "cut.gz")
        with open(cut, "wb") as out:
            out.write(whole[:len(whole) // 2])
        for arguments, status, said in (([cut], 1, b"cut short"), ([self.work + "/none.log"], 1, b"No such file"),
                                        ([], 2, b"at least one ACCESS_LOG")):
            result = self.adoption(*arguments)
            self.assertEqual((result.returncode, result.stdout), (status, b""), result.stderr)
            self.assertIn(said, result.stderr)

        # A rollout on: the staged release's starts count under its own serial, from the record or, with the
        # key, as the verified release names it (re-signed: the current release's serial grew too).
        self.tree(self.release(**{"data.pak": b"data 3"}))
        self.assertEqual(self.publish("--sign", self.key, "--rollout", "5").returncode, 0)
        rollout_line = [line.split() for line in self.release_lines() if line.endswith(" 50000")][0]
        with open(logs[1], "a") as out:
            out.write(log_line(base + rollout_line[5], when="11/Dec/2026:09:00:00 +0000"))
        recorded, keyed = self.adoption(*logs), self.adoption(*logs, "--key", self.key)
        for result, serials in ((recorded, [first, second]), (keyed, [first, self.serial()])):
            self.assertEqual(result.returncode, 0, result.stderr)
            staged = result.stdout.decode().splitlines()[-2].split()
            self.assertEqual(staged[2:], ["1", "0"])
            self.assertEqual([int(row.split()[1]) for row in result.stdout.decode().splitlines()[2:5]],
                             serials + [int(staged[1])])
        self.assertGreater(int(staged[1]), self.serial())
        complete = subprocess.run([OPTIONS.publisher, "rollout", self.channel, "--complete", "--sign", self.key],
                                  capture_output=True, timeout=60)
        self.assertEqual(complete.returncode, 0, complete.stderr)
        # The staged files, now everyone's release: their starts are named by its serial, from the record too.
        last_row = self.adoption(*logs).stdout.decode().splitlines()[-2].split()
        self.assertEqual(last_row[1:], [str(self.serial()), "1", "0"])

        # A forged manifest object is not its release's; without the record only the verified releases count.
        self.write("by-hash/" + new, b"0" * 32 + b"  planted\n")
        forged = self.adoption(*logs)
        self.assertIn(b"release serial %d: its manifest is not whole" % second, forged.stderr)
        os.environ["XDG_STATE_HOME"] = os.path.join(self.work, "other-account")
        unrecorded = [self.adoption(*logs, *options) for options in ((), ("--key", self.key))]
        self.assertEqual([(r.returncode, len(r.stdout.splitlines())) for r in [forged] + unrecorded],
                         [(0, 4), (1, 0), (0, 4)], unrecorded[0].stderr)
