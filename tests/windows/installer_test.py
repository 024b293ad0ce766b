#!/usr/bin/env python3
"""The players' installer under Wine, as a player meets it: installed silently, the launcher started as its
shortcut names it, the game installed from nginx, uninstalled silently, leaving only the player's files.
The dist's launcher is built for 127.0.0.1:PORT, the setup with --channel CHANNEL and signed by a
certificate that CA issued (see --help)."""
import argparse
import os
import pwd
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from nginx_server import NginxServer  # noqa: E402

OWN_FILES = ("ORN_Launcher.exe", "physfs.dll", "sfml-network-2.dll", "sfml-system-2.dll")
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ORN"
WINE64 = "/usr/lib/wine/wine64"  # reg.exe natively, however slow the 32-bit loader


def shortcut(lnk):
    """The local path and the arguments a .lnk names (the shell link format's LinkInfo and StringData)."""
    data = read(lnk)
    flags = struct.unpack_from("<I", data, 20)[0]
    offset = 76 + (2 + struct.unpack_from("<H", data, 76)[0] if flags & 0x1 else 0)  # past the item ID list
    size, _, _, _, base = struct.unpack_from("<5I", data, offset)  # LinkInfo, with the local base path
    path = data[offset + base:data.index(b"\0", offset + base)].decode("cp1252")
    offset += size
    strings = []  # each flag's string, in the format's order: name, relative path, working folder, arguments
    for bit in (0x4, 0x8, 0x10, 0x20):
        count = struct.unpack_from("<H", data, offset)[0] if flags & bit else 0
        strings.append(data[offset + 2:offset + 2 + 2 * count].decode("utf-16-le").rstrip("\0"))  # Wine counts a NUL
        offset += 2 + 2 * count if flags & bit else 0
    return path, strings[3]


def read(path):
    with open(path, "rb") as source:
        return source.read()


def uninstall_entry():
    """The uninstall entry's values, None when there is none."""
    query = subprocess.run([WINE64, "reg", "query", UNINSTALL_KEY], capture_output=True, timeout=60)
    lines = [line.split(None, 2) for line in query.stdout.decode("utf-8", "replace").splitlines()]
    return {f[0]: f[2] for f in lines if len(f) == 3} if query.returncode == 0 else None


class Installer(unittest.TestCase):
    def setUp(self):
        self.prefix = os.environ["WINEPREFIX"]
        self.user = os.path.join(self.prefix, "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name)  # as Wine names it
        desktop = os.path.join(self.user, "Desktop")
        if os.path.islink(desktop):  # Wine's Desktop is the home folder: the test's shortcut goes elsewhere
            self.addCleanup(os.symlink, os.readlink(desktop), desktop)
            os.remove(desktop)
            os.mkdir(desktop)
            self.addCleanup(shutil.rmtree, desktop)
        self.web = tempfile.mkdtemp(prefix="installer_web.")
        self.addCleanup(shutil.rmtree, self.web)

    def unix_path(self, windows_path):
        self.assertRegex(windows_path, r"^[Cc]:\\")
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def run_windows(self, *command, cwd=None):
        return subprocess.run([OPTIONS.wine, *command], capture_output=True, timeout=OPTIONS.timeout, cwd=cwd)

    def publish(self, files):
        tree = os.path.join(self.web, "tree")
        for path, content in files.items():
            os.makedirs(os.path.dirname(os.path.join(tree, path)), exist_ok=True)
            with open(os.path.join(tree, path), "wb") as out:
                out.write(content)
        channel = os.path.join(self.web, "root", "~qel", "ORN", "windows", OPTIONS.channel)
        publish = subprocess.run([OPTIONS.publisher, tree, channel], capture_output=True, timeout=60)
        self.assertEqual(publish.returncode, 0, publish.stderr)
        for folder, _, _ in os.walk(self.web):
            os.chmod(folder, 0o755)  # nginx's worker runs as nobody

    def test_silent_install_play_and_uninstall_keeping_the_players_files(self):
        game = {name: read(os.path.join(OPTIONS.dist, name)) for name in OWN_FILES}
        game.update({"ORN_Client.exe": read(OPTIONS.client), "data.pak": b"data " * 1000,
                     "settings.cfg": b"volume=5\n", "libs/engine.dll": b"engine"})
        self.publish(game)
        self.assertEqual(self.run_windows(OPTIONS.setup, "/S").returncode, 0)
        self.addCleanup(subprocess.run, [WINE64, "reg", "delete", UNINSTALL_KEY, "/f"], capture_output=True)
        entry = uninstall_entry()
        self.assertEqual((entry or {}).get("DisplayName"), "ORN", entry)
        folder = self.unix_path(entry["InstallLocation"])
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        # The uninstaller is written on the player's machine, from the signed copy the installer carries.
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", OPTIONS.ca, "-in",
                                 os.path.join(folder, "Uninstall.exe")], capture_output=True, timeout=60)
        self.assertEqual(verify.returncode, 0, verify.stdout)
        links = [os.path.join(self.user, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                              "ORN.lnk"), os.path.join(self.user, "Desktop", "ORN.lnk")]
        target, arguments = shortcut(links[0])
        self.assertEqual((target.lower(), arguments), (entry["InstallLocation"].lower() + "\\orn_launcher.exe",
                                                       OPTIONS.channel))
        self.assertEqual(shortcut(links[1]), (target, arguments))
        with NginxServer(OPTIONS.port, os.path.join(self.web, "root"), as_nobody=True):
            played = self.run_windows(self.unix_path(target), arguments, cwd=folder)
        self.assertEqual(played.returncode, 3, played.stdout + played.stderr)  # the stand-in client's status
        for path, content in game.items():
            self.assertEqual(read(os.path.join(folder, path)), content, path)

        # The player's own: a save, a changed setting, and the client's log.
        os.makedirs(os.path.join(folder, "saves"))
        with open(os.path.join(folder, "saves", "slot1.sav"), "wb") as save:
            save.write(b"level 3")
        with open(os.path.join(folder, "settings.cfg"), "ab") as setting:
            setting.write(b"fullscreen=1\n")
        quiet = entry["QuietUninstallString"]
        self.assertTrue(quiet.endswith('" /S'), quiet)
        self.assertEqual(self.run_windows(self.unix_path(quiet[1:-4]), "/S").returncode, 0)
        # The uninstaller goes on in a copy of itself; its entry goes last but for the folder.
        deadline = time.monotonic() + OPTIONS.timeout
        while uninstall_entry() is not None:
            self.assertLess(time.monotonic(), deadline, "the uninstall entry is still there")
            time.sleep(0.5)
        left = sorted(os.path.relpath(os.path.join(top, name), folder)
                      for top, folders, files in os.walk(folder) for name in files + folders)
        self.assertEqual(left, ["client.log", "saves", "saves/slot1.sav", "settings.cfg"])
        self.assertEqual([link for link in links if os.path.exists(link)], [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--wine", "--setup", "--dist", "--client", "--publisher", "--channel", "--ca"):
        parser.add_argument(option, required=True)
    parser.add_argument("--port", required=True, type=int)
    parser.add_argument("--timeout", type=float, default=900, help="seconds one Windows program may take")
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
