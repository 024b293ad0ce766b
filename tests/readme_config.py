"""The cache configuration the README gives deployers, read from the README
itself, so that the tests and benchmarks run what a reader copies."""
import os
import re

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "README.md")


def readme_varnish(backend_port, edge):
    """The README's VCL with its backend on `backend_port`, the same with its lines that pass ranges on a miss,
    and its warm-up command aimed at the edge on 127.0.0.1:`edge`; the channel's folder is its working
    directory's (run it there)."""
    with open(README) as readme:
        text = readme.read()
    vcl = re.search(r"^    vcl 4\.1;\n(?:    .*\n)+", text, re.M).group(0).replace(
        '.port = "8080"', '.port = "%d"' % backend_port)
    ranges = re.search(r"^    sub vcl_miss \{\n(?:    .*\n)+", text, re.M).group(0)
    warm = re.search(r"^    (awk .*)$", text, re.M).group(1)
    warm = warm.replace("/srv/orn/~qel/ORN/windows/latest/release", "release").replace(
        "http://updates.example.org", "http://127.0.0.1:%d" % edge)
    return vcl, vcl + ranges, warm
