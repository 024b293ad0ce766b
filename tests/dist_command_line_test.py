#!/usr/bin/env python3
"""make-windows-dist.sh's command line, refused before anything is built: --help on standard output
with every option the README gives it, and each refused argument named on one line with status 2."""
import os
import re
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPT = os.path.join(ROOT, "scripts", "make-windows-dist.sh")


def run(*args):
    return subprocess.run(["bash", SCRIPT, *args], capture_output=True, text=True, timeout=30)


class DistCommandLine(unittest.TestCase):
    def test_help_names_every_option_the_readme_uses(self):
        result = run("--help")
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        with open(os.path.join(ROOT, "README.md")) as readme:
            text = readme.read()
        commands = re.findall(r"make-windows-dist\.sh [^`\n]*", text)
        used = {option for command in commands for option in re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", command)}
        # Every option the Windows part names in code is the script's, but for the launcher's own mode.
        used |= set(re.findall(r"`[^`]*?(--[a-z][a-z0-9-]*)", text.split("\n## Windows\n")[1])) - {"--uninstall"}
        self.assertGreaterEqual(len(used), 7, used)
        self.assertEqual(sorted(option for option in used if option not in result.stdout), [])

    def test_a_refused_argument_is_named_on_one_line(self):
        with tempfile.NamedTemporaryFile(suffix=".pem") as existing:
            cases = {  # arguments: what the one line must name
                ("--bogus", "h"): "--bogus", (): "host", ("--arch",): "--arch", ("--arch", "arm", "h"): "'arm'",
                ("h", "80", "out", "more"): "'more'", ("h", "0"): "PORT", ("h", "x", "y"): "'x'",
                ("--game", 'say "hi"', "h"): "--game", ("--game", "a:b", "h"): "'a:b'", ("--game", "", "h"): "--game",
                ("--game-version", "1 beta", "h"): "--game-version", ("--channel", "-x", "--installer", "h"): "'-x'",
                ("--channel", "beta", "h"): "--installer", ("--icon", "/nowhere.ico", "--installer", "h"): "--icon",
                ("--key", existing.name, "h"): "--cert", ("--pkcs12", "/nowhere.p12", "h"): "--pkcs12",
                ("--pkcs12", existing.name, "--key", existing.name, "--cert", existing.name, "h"): "not both",
                ("--password-file", existing.name, "h"): "--password-file",
                ("--timestamp-url", "http://ts.example", "h"): "--timestamp-url",
                ("--pkcs12", existing.name, "--timestamp-url", "ftp://x", "h"): "'ftp://x'",
            }
            for args, named in cases.items():
                with self.subTest(args=args):
                    result = run(*args)
                    self.assertEqual((result.returncode, result.stdout), (2, ""))
                    self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                    self.assertIn(named, result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
