"""A launcher killed at any rename, deletion, link or flush of an update that also replaces its own executable
and a library, as a player's power button or task manager may: strace sends SIGKILL on entering the Nth call
of one system call, for every call an undisturbed run of the same update makes. After each kill no listed
file holds bytes of neither release and the launcher is still there to start; the next start puts the whole
release in place and starts the client."""
import os
import re
import shutil
import stat
import tempfile

from scripted_server import ScriptedServer

from .fixture import OPTIONS, OWN_LIBRARIES, RUN_LOG, update_server, write_tree
from .signing import SignedChannelCase

KILL_POINTS = ("rename", "renameat", "renameat2", "unlink", "unlinkat", "link", "linkat", "fsync", "fdatasync")
OWN_FILES = ("ORN_Launcher.exe",) + OWN_LIBRARIES
# Under the sanitizers each run is slower: the update without keys is killed there only where it moves its own
# files, unless this asks for every point. Natively every point of both updates is killed.
FULL_SWEEP = os.environ.get("ORN_KILL_SWEEP") == "full"


def moves_an_own_file(call, line):
    return call.startswith(("rename", "link")) and any('"%s' % name in line for name in OWN_FILES)


class KillSweep(SignedChannelCase):
    def setUp(self):
        if OPTIONS.target.wine:
            # Under Wine the moves are split between the launcher and wineserver: the native build sweeps them.
            self.skipTest("strace counts the native launcher's calls only")
        self.strace = shutil.which("strace")
        if not self.strace:
            self.fail("strace is needed to kill the launcher at each of its system calls: "
                      "install it (scripts/install-deps.sh does)")
        super().setUp()
        self.addCleanup(shutil.rmtree, self.game, ignore_errors=True)  # each sweep point installs afresh

    def releases(self, launcher):
        old = {"ORN_Launcher.exe": launcher, "ORN_Client.exe": OPTIONS.target.client,
               "physfs.dll": self.library("physfs.dll"), "libs/engine.dll": b"engine 1", "data.pak": b"data 1",
               "kept.pak": b"kept"}
        return old, dict(old, **{"ORN_Launcher.exe": launcher + b"\n#version 2\n",
                                 "physfs.dll": self.library("physfs.dll") + b"#version 2",
                                 "libs/engine.dll": b"engine 2", "data.pak": b"data 2", "new.pak": b"new"})

    def install(self, files):
        """A fresh game directory holding `files`, for one killed run and the start after it."""
        self.game = write_tree(tempfile.mkdtemp(prefix="launcher_e2e_kill."), files)
        self.addCleanup(shutil.rmtree, self.game, ignore_errors=True)
        for name in ("ORN_Launcher.exe", "ORN_Client.exe"):
            os.chmod(self.path(name), stat.S_IRWXU)

    def traced(self, *strace_options):
        # LeakSanitizer cannot run under a tracer; a killed run never gets that far anyway.
        environment = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        return self.run_launcher("-f", "-qq", *strace_options, self.path("ORN_Launcher.exe"),
                                 executable=self.strace, env=environment)

    def kill_points(self):
        """Each call the update makes: (call, its count among that call's, the traced line). strace counts
        per thread: each call is checked to come from one thread, else a count would name no one point."""
        trace = self.game + ".trace"
        self.addCleanup(lambda: os.path.exists(trace) and os.remove(trace))
        result = self.traced("-o", trace, "-e", "trace=" + ",".join("?" + call for call in KILL_POINTS))
        self.assertEqual(result.returncode, 3, result.stderr)
        points, threads = [], {}
        with open(trace) as text:
            for thread, line, call in re.findall(r"^(\d+) +((\w+)\(.*)$", text.read(), re.M):
                threads.setdefault(call, set()).add(thread)
                points.append((call, sum(made == call for made, _, _ in points) + 1, line))
        for call, made_by in threads.items():
            self.assertEqual(len(made_by), 1, "%s is called from several threads: strace counts each's" % call)
        return points

    def snapshot(self):
        return {os.path.relpath(os.path.join(root, name), self.game): os.path.getsize(os.path.join(root, name))
                for root, _, names in os.walk(self.game) for name in names if name != RUN_LOG}

    def sweep(self, launcher, serve, only_own_files=False):
        old, new = self.releases(launcher)
        with serve(new):
            self.install(old)
            points = self.kill_points()
            self.assertTrue(any(moves_an_own_file(call, line) for call, _, line in points), points)
            for call, n, line in points:
                if only_own_files and not moves_an_own_file(call, line):
                    continue
                with self.subTest(call=call, n=n, line=line):
                    self.install(old)
                    killed = self.traced("-o", "/dev/null", "-e", "trace=" + call,
                                         "-e", "inject=%s:signal=SIGKILL:when=%d" % (call, n))
                    self.assertEqual(killed.returncode, -9, "the kill was not made: %r" % killed.stderr)
                    for path, content in new.items():
                        if os.path.exists(self.path(path)):
                            self.assertIn(self.read(path), (old.get(path), content), path + " is torn")
                    self.assertIn(self.read("ORN_Launcher.exe"), (old["ORN_Launcher.exe"], new["ORN_Launcher.exe"]))
                    self.assertTrue(os.access(self.path("ORN_Launcher.exe"), os.X_OK))
                    left = self.snapshot()
                    after = self.run_launcher()
                    self.assertEqual((after.returncode, self.client_ran()), (3, True),
                                     "left %s; %r" % (left, after.stdout + after.stderr))
                    for path, content in new.items():
                        self.assertEqual(self.read(path), content, "%s after the next start; left %s" % (path, left))

    def test_unsigned_update_killed_at_each_call_is_mended_by_the_next_start(self):
        self.sweep(OPTIONS.target.launcher_bytes, update_server, only_own_files=OPTIONS.sanitized and not FULL_SWEEP)

    def test_signed_update_killed_at_each_call_is_mended_by_the_next_start(self):
        self.sweep(self.launcher_bytes, lambda new: ScriptedServer(OPTIONS.port, self.routes(self.publish(new))))
