"""A soak across cache edges: one nginx origin behind three Varnish edges with the README's VCL, each keeping
`release` for its own time (one stale on purpose), and players of the signed launcher and the one without keys
starting through an edge chosen at random across publishes, re-signs, a hotfix within the second, a promote and a
rollback. The choices come from one seed, printed with any failure (SOAK_SEED=N repeats them)."""
import contextlib
import os
import random
import re
import time

from nginx_server import NginxServer
from readme_config import readme_varnish
from tcp_relay import TcpRelay, free_port
from varnish_server import VarnishServer

from .cached_channel import CLIENT_STATUS, ChannelPlayers
from .fixture import LATEST, OPTIONS

# Seconds each edge keeps `release` before it asks the origin again, and serves it past that while it asks
# (grace): at each use, as the README has it; briefly; and long, the edge players meet behind the others.
EDGES = ((0, 0), (2, 0), (5, 3))
LONGEST = max(ttl + grace for ttl, grace in EDGES)
STEPS = ("publish", "resign", "hotfix", "promote", "rollback")  # the channel's changes, in turn
KEPT = "1000"  # every release's objects kept: the stale edge may name any release of the run


def edge_vcl(vcl, ttl, grace):
    """The README's VCL, with `release` kept `ttl` seconds and `grace` more (none: as it stands)."""
    if not ttl:
        return vcl
    rule = 'if (bereq.url ~ "/release$") { set beresp.ttl = %ds; set beresp.grace = %ds; }\n' % (ttl, grace)
    changed, count = re.subn(r"set beresp\.keep = 1d;\n", lambda kept: kept.group(0) + rule, vcl)
    assert count == 1, "the README's VCL no longer keeps what it cannot cache for a day: %s" % vcl
    return changed


def next_release(rng, number, data):
    """Release `number`'s files: a notes file of the same size each time (a cache that revalidates by size and
    second must still tell them apart), an indexed file edited in place, small files that change now and then,
    and a library that some releases drop."""
    at = rng.randrange(len(data) - 4096)
    data[at:at + 4096] = rng.randbytes(4096)
    files = {"ORN_Client.exe": OPTIONS.target.client, "notes.txt": b"notes %06d" % number, "data.pak": bytes(data)}
    files.update({"small%d.txt" % i: b"small %d as of %d" % (i, number - number % (i + 2)) for i in range(4)})
    if number % 3 != 1:
        files["libs/extra.dll"] = b"extra %d" % (number // 3)
    return files


class Soak(ChannelPlayers):
    def setUp(self):
        super().setUp()
        if OPTIONS.target.wine:
            # What the soak meets is the cache's and the publisher's timing, the same on every platform; a few
            # hundred Windows process starts would add minutes to the Windows stage for no other check.
            self.skipTest("the soak runs natively; the scenarios that touch Windows' files run under Wine")
        self.seed = int(os.environ.get("SOAK_SEED") or random.randrange(1 << 32))
        self.rng = random.Random(self.seed)
        self.channel = os.path.join(self.web, LATEST.strip("/"))
        self.beta = os.path.join(os.path.dirname(self.channel), "beta")
        self.releases, self.serials, self.published = [], {}, {}  # serial: the release it serves
        self.data = bytearray(self.rng.randbytes(3 << 19))
        self.faults, self.figures = [], {"starts": 0, "refusals": 0, "hotfixes within the second": 0}

    def test_players_through_three_edges_of_different_ages(self):
        self.soak(starts=100, steps=6, players=10)

    def new_release(self):
        self.releases.append(next_release(self.rng, len(self.releases), self.data))
        return self.releases[-1]

    def serial(self, channel):
        with open(os.path.join(channel, "release"), "rb") as source:
            return int(re.search(rb"^serial (\d+)$", source.read(), re.M).group(1))

    def change(self, step):
        """The channel changed by `step`; what it serves now is noted by its serial."""
        key = ["--sign", OPTIONS.release_key, "--keep-releases", KEPT]
        if step == "resign":
            self.run_publisher("--sign", OPTIONS.release_key, "--resign", self.channel)
            served = self.serials[max(self.serials)]
        elif step == "promote":
            self.publish(self.beta, self.new_release(), True, "--new-channel", *key[2:])
            self.run_publisher("promote", self.beta, self.channel, *key)
            served = len(self.releases) - 1
        elif step == "rollback":  # to a release the publisher keeps: the last publish of each set of files
            current = self.serials[max(self.serials)]
            kept = {release: serial for serial, release in self.published.items()}
            served = self.rng.choice(sorted(release for release in kept if release != current))
            self.run_publisher("rollback", self.channel, "--to", str(kept[served]), *key)
        else:
            self.publish(self.channel, self.new_release(), True, *key[2:])
            served = len(self.releases) - 1
        self.serials[self.serial(self.channel)] = served
        if step != "resign":
            self.published[self.serial(self.channel)] = served

    def hotfix(self, unsigned):
        """A release, a player without keys through each edge, and a fix of its notes within the same second."""
        while time.time() % 1 > 0.05:
            time.sleep(0.01)
        second = int(time.time())
        self.change("publish")
        for edge, name in enumerate(unsigned):
            self.start_player(name, edge)
        fixed = dict(self.releases[-1], **{"notes.txt": b"fixed %06d" % len(self.releases)})
        self.releases.append(fixed)
        self.publish(self.channel, fixed, True, "--keep-releases", KEPT)
        self.serials[self.serial(self.channel)] = self.published[self.serial(self.channel)] = len(self.releases) - 1
        self.figures["hotfixes within the second"] += int(time.time()) == second

    def held(self, name):
        directory = os.path.join(self.web, "players", name)
        files = {}
        for path in set().union(*self.releases):
            if os.path.exists(os.path.join(directory, path)):
                with open(os.path.join(directory, path), "rb") as source:
                    files[path] = source.read()
        return files

    def release_of(self, files, signed):
        """The release these files are: exactly, for a launcher with keys (it removes what a release drops)."""
        for number, release in enumerate(self.releases):
            if files == release or not signed and all(files.get(p) == c for p, c in release.items()):
                return number
        return None

    def accepted(self, name):
        with open(os.path.join(self.web, "players", name, "ORN_Launcher.releases"), "rb") as record:
            return self.serials.get(int(record.read().split()[0]))

    def start_player(self, name, edge):
        signed = not name.startswith("unsigned")
        directory = os.path.join(self.web, "players", name)
        if not os.path.isdir(directory):
            self.player(name, self.launchers[signed], {})
        before = self.held(name)
        whole = self.release_of(before, signed)
        self.relay.backend = self.edges[edge].port
        result = self.start(directory)[0]
        after = self.held(name)
        self.figures["starts"] += 1
        said = "start %d, %s through edge %d (%s), %s: %s" % (self.figures["starts"], name, edge, EDGES[edge],
                                                               self.moment, result.stdout.decode(errors="replace"))
        if result.returncode == CLIENT_STATUS:
            release = self.release_of(after, signed)
            if release is None or signed and release != self.accepted(name):
                self.faults.append("started on files of no release, or not the accepted one; " + said)
            return release
        self.figures["refusals"] += 1
        if whole is not None:
            self.faults.append("a whole installed game (release %d) refused; %s" % (whole, said))
        if any(content != before.get(path) and all(r.get(path) != content for r in self.releases)
               for path, content in after.items()):
            self.faults.append("a file of no release left after a failed start; " + said)
        return None

    def soak(self, starts, steps, players):
        """`starts` starts of `players` players over `steps` changes of the channel after its first release.
        Returns the figures."""
        unsigned = max(len(EDGES), players // 4)
        names = ["signed%d" % n for n in range(players - unsigned)] + ["unsigned%d" % n for n in range(unsigned)]
        with open(OPTIONS.signed_launcher, "rb") as signed:
            self.launchers = {True: signed.read(), False: OPTIONS.target.launcher_bytes}
        self.moment = "the first release"
        self.change("publish")
        with contextlib.ExitStack() as servers:
            origin = servers.enter_context(NginxServer(free_port(), self.web, log_transfers=True))
            vcl = readme_varnish(origin.port, 0)[0]
            self.edges = [servers.enter_context(VarnishServer(free_port(), origin.port, 0, vcl=edge_vcl(vcl, *times)))
                          for times in EDGES]
            self.relay = servers.enter_context(TcpRelay(OPTIONS.port, seconds=max(300, starts * 2)))
            self.play(names, starts, steps)
            self.figures["origin bytes"] = sum(sent for _, _, sent, _ in origin.transfers())
            self.figures["edge bytes"] = sum(edge.body_bytes_sent() for edge in self.edges)
        if self.faults:
            self.fail("SOAK_SEED=%d repeats these %d faults:\n%s" % (self.seed, len(self.faults),
                                                                    "\n".join(self.faults)))
        return self.figures

    def play(self, names, starts, steps):
        """Random starts between the changes; after the last, once every edge has let its `release` go, each
        player's start must reach the newest release."""
        phase = (starts - len(names)) // (steps + 1)
        for step in range(steps + 1):
            if step:
                kind = "publish" if step == steps else STEPS[(step - 1) % len(STEPS)]
                self.moment = "after %s %d" % (kind, step)
                if kind == "hotfix":
                    self.hotfix(self.rng.sample([n for n in names if n.startswith("unsigned")], len(EDGES)))
                else:
                    self.change(kind)
                changed = time.monotonic()
            for _ in range(phase):
                self.start_player(self.rng.choice(names), self.rng.randrange(len(EDGES)))
        time.sleep(max(0.0, changed + LONGEST + 0.5 - time.monotonic()))
        self.moment = "%d s after the last publish" % LONGEST
        newest = self.serials[max(self.serials)]
        for name in names:
            release = self.start_player(name, self.rng.randrange(len(EDGES)))
            if release != newest:
                self.faults.append("%s holds release %s, not the newest (%d), %s" % (name, release, newest,
                                                                                    self.moment))
