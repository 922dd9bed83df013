"""Pieces shared by the reliability harnesses: a game to publish, the local test server, the
runner, and the check of an installed tree against a published file list."""

import os
import random
import shutil
import subprocess
import sys
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SERVER = os.path.join(ROOT, "tests", "server", "vorel_test_server.py")
sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))
from verify_tree import crc_of  # noqa: E402  the demo's independent CRC-32
PRODUCT = "production/vorel_pql_win/"


def fresh_folder(path):
    """An emptied folder at path, as an absolute path."""
    path = os.path.abspath(path)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_game(root, version, rng):
    """About 24 MB in 40 files: a few large ones, many small, some in deep folders."""
    files = {}
    for i in range(32):
        files["data/part%02d/file%02d.dat" % (i % 5, i)] = rng.randbytes(2000 + 997 * i)
    files["vorel.exe"] = b"game " + version.encode() + rng.randbytes(300000)
    files["data/terrain.bin"] = (b"terrain " * 1000000)[:8000000]
    files["data/textures.pak"] = rng.randbytes(12000000)
    files["readme.txt"] = b"version " + version.encode()
    for rel, data in files.items():
        write(os.path.join(root, rel), data)
    return files


def listed(server_dir, version):
    """path -> (size, crc) from a published file list."""
    result = {}
    with open(os.path.join(server_dir, PRODUCT, "Game", version, "filelist.txt"), "rb") as f:
        for line in f.read().decode().splitlines():
            name, _, rest = line.partition("=")
            path, size, crc = rest.split("$")
            result[path.replace("\\", "/")] = (int(size), crc.strip().upper())
    return result


def game_dir(install):
    config = os.path.join(install, "Config", "serverconfig.txt")
    in_package = os.path.exists(config) and "usePackage=True" in open(config, errors="replace").read()
    return os.path.join(install, "Package" if in_package else "Game", "vorel_win")


def verifies(install, wanted):
    root = game_dir(install)
    for rel, (size, crc) in wanted.items():
        path = os.path.join(root, rel)
        if not os.path.isfile(path) or os.path.getsize(path) != size or crc_of(path) != crc:
            return "%s differs" % rel
    return None


class Server:
    """The local test server on a folder of its own, ending with this process."""

    def __init__(self, work):
        self.docroot = os.path.join(work, "docroot")
        os.makedirs(self.docroot)
        line = subprocess.run(["/usr/bin/python3", SERVER, "--docroot", self.docroot, "--log",
                               os.path.join(work, "server.log"), "--parent-pid", str(os.getpid())],
                              check=True, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True).stdout
        self.base = "http://127.0.0.1:%s/" % dict(word.split("=") for word in line.split())["http"]

    sign_key = None  # a secret key file: every release published after sign_releases is signed

    def sign_releases(self, publisher, work):
        """Makes a key pair in work/keys; releases published from now on are signed. The public key."""
        keys = os.path.join(work, "keys")
        subprocess.run([publisher, "--make-keys", keys], check=True, stdout=subprocess.DEVNULL)
        self.sign_key = os.path.join(keys, "release.key")
        return open(os.path.join(keys, "release.pub")).read().strip()

    def publish(self, publisher, name, game, launcher, version, zip_version, package_mb=4, launcher_version="4.1.3",
                previous=None):
        wine = publisher.endswith(".exe")
        if wine:
            game, launcher = windows_path(game), windows_path(launcher)
            previous = previous and windows_path(previous)
        out = os.path.join(self.docroot, name)
        subprocess.run((["wine"] if wine else []) + [publisher, "--game", game, "--launcher", launcher,
                        "--out", windows_path(out) if wine else out,
                        "--game-version", version, "--zip-version", zip_version, "--launcher-version", launcher_version,
                        "--mirror", self.base + name + "/", "--package-size-mb", str(package_mb)] +
                       (["--sign-key", windows_path(self.sign_key) if wine else self.sign_key] if self.sign_key else []) +
                       (["--previous", previous] if previous else []),
                       check=True, stdout=subprocess.DEVNULL)

    def publish_versions(self, publisher, work, change=None, launchers=None, zip_update=False, patches=False):
        """Game version 1.0.3 published as "v1" and 1.0.4 as "v2" with the same zip version, so that
        its changed files come as single files; with zip_update 1.0.4 also as "v2zip", a new zip
        version that comes as whole packages; with patches 1.0.4 also as "v2patch", with patches
        from version 1. change(folder) edits version 2 before it is published
        (otherwise only vorel.exe and readme.txt differ). launchers: (folder, launcher version) for
        v1 and for v2, by default one stand-in launcher. The published lists of v1 and v2."""
        games = [os.path.join(work, "game1"), os.path.join(work, "game2")]
        make_game(games[0], "1.0.3", random.Random(7))
        make_game(games[1], "1.0.4", random.Random(7))
        if change:
            change(games[1])
        if launchers is None:
            write(os.path.join(work, "launcher", "VORELLauncher.exe"), b"launcher")
            launchers = [(os.path.join(work, "launcher"), "4.1.3")] * 2
        published = [("v1", "1.0.3", "1.0.3", 0), ("v2", "1.0.4", "1.0.3", 1)]
        if zip_update:
            published.append(("v2zip", "1.0.4", "1.0.4", 1))
        if patches:
            published.append(("v2patch", "1.0.4", "1.0.3", 1))
        for name, version, zip_version, which in published:
            self.publish(publisher, name, games[which], launchers[which][0], version, zip_version,
                         launcher_version=launchers[which][1], previous=games[0] if name == "v2patch" else None)
        return (listed(os.path.join(self.docroot, "v1"), "1.0.3"), listed(os.path.join(self.docroot, "v2"), "1.0.4"))

    def counter(self, name, path):
        """One of the server's counters ("count", "bytes", "ranged") for a path below the docroot."""
        url = self.base + "__%s__/%s" % (name, urllib.request.quote(path.replace(os.sep, "/")))
        # Straight to 127.0.0.1, whatever proxy the environment names.
        with urllib.request.build_opener(urllib.request.ProxyHandler({})).open(url, timeout=30) as answer:
            return int(answer.read())

    def point(self, install, name):
        """The installation's local launcher configuration, naming the published folder's addresses."""
        os.makedirs(os.path.join(install, "Config"), exist_ok=True)
        with open(os.path.join(self.docroot, name, PRODUCT, "Launcher", "launcherconfig.txt"), "rb") as f:
            write(os.path.join(install, "Config", "launcherconfig.txt"), f.read())


def windows_path(path):
    """A Linux path as a program under Wine names it."""
    return "Z:" + path.replace("/", "\\")


def runner_command(runner, install, extra=()):
    """vorel-update for an installation; a Windows build (.exe) runs under Wine."""
    if runner.endswith(".exe"):
        return ["wine", runner, "--install-dir", windows_path(install)] + list(extra)
    return [runner, "--install-dir", install] + list(extra)


def run(runner, install, timeout=180, extra=()):
    """Runs one update to its end; the exit code (-999 when it had to be killed)."""
    process = subprocess.Popen(runner_command(runner, install, extra), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, 9)
        return -999
