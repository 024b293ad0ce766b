"""nginx on loopback for the benchmarks, reached directly or, with BENCH_LINK
set ("DELAY_MS,MBIT", e.g. "20,200"), through a simulated wide-area path
(link_relay.py) on the launcher's port."""
import contextlib
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from link_relay import LinkRelay  # noqa: E402
from nginx_server import NginxServer  # noqa: E402
from tcp_relay import free_port  # noqa: E402

LINK = os.environ.get("BENCH_LINK")


def launcher_port(build):
    """The port the test launchers of `build` ask."""
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        return int(re.search(r"^LAUNCHER_TEST_PORT:[A-Z]+=(\d+)$", cache.read(), re.M).group(1))


def link_text():
    if not LINK:
        return "loopback"
    delay, mbit = LINK.split(",")
    return "a path of %s ms each way at %s Mbit/s with slow start per connection" % (delay, mbit)


@contextlib.contextmanager
def served(port, web, **options):
    """nginx serving `web`, answering on `port`."""
    if not LINK:
        with NginxServer(port, web, **options) as server:
            yield server
        return
    delay, mbit = (float(figure) for figure in LINK.split(","))
    with NginxServer(free_port(), web, **options) as server, \
            LinkRelay(port, server.port, delay / 1000, mbit * 1e6 / 8) as relay:
        server.relay = relay
        yield server
