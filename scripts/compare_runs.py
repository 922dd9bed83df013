#!/usr/bin/python3
"""The same scripted updates by two builds of vorel-update, compared: for a change that must not
alter what the launcher does (a refactoring), every run must end with the same exit code, the same
final status lines and the same day log (time stamps cut, the installation written as I, the free
disk space as N, the download workers' lines sorted within their block).

  compare_runs.py OLD-RUNNER NEW-RUNNER PUBLISHER WORK-DIR

Both runners are native builds (build/*/tools/vorel-update); the publisher is vorel-publish. The
runs use the local test server on a folder below WORK-DIR. Exit code 0 when every run matches."""

import difflib
import os
import random
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "reliability"))
from harness import PRODUCT, Server, fresh_folder, write  # noqa: E402

OLD, NEW, PUBLISHER, WORK = sys.argv[1:5]
work = fresh_folder(WORK)
server = Server(work)
rng = random.Random(5)


def make_game(root, version):
    files = {"vorel.exe": b"game " + version.encode(), "data/a.pak": rng.randbytes(300000),
             "data/sub/b.txt": b"b " + version.encode(), "empty.cfg": b""}
    for i in range(6):
        files["data/p%d/f%d.dat" % (i % 2, i)] = rng.randbytes(40000 + 3000 * i)
    for rel, data in files.items():
        write(os.path.join(work, root, rel), data)


make_game("game1", "1.0.3")
shutil.copytree(os.path.join(work, "game1"), os.path.join(work, "game2"))
write(os.path.join(work, "game2", "data/sub/b.txt"), b"b 1.0.4 changed")
write(os.path.join(work, "game2", "data/new.bin"), rng.randbytes(70000))
write(os.path.join(work, "launcher", "VORELLauncher.exe"), b"launcher")
write(os.path.join(work, "launcher", "A.dll"), b"a library")
keys = os.path.join(work, "keys")
subprocess.run([PUBLISHER, "--make-keys", keys], check=True, stdout=subprocess.DEVNULL)
public_key = open(os.path.join(keys, "release.pub")).read().strip()


def publish(name, game, version, zip_version, launcher="4.1.2037", sign=False, mirrors=1):
    """A release; a second mirror is the same folder under another spelling."""
    command = [PUBLISHER, "--game", os.path.join(work, game), "--launcher", os.path.join(work, "launcher"),
               "--out", os.path.join(server.docroot, name), "--game-version", version, "--zip-version", zip_version,
               "--launcher-version", launcher, "--package-size-mb", "1"]
    for i in range(mirrors):
        command += ["--mirror", server.base + name + "/" + "./" * i]
    if sign:
        command += ["--sign-key", os.path.join(keys, "release.key")]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return name


def fault(name, relative, spec):
    write(os.path.join(server.docroot, name, PRODUCT, relative + ".fault.json"), spec.encode())


def clear_faults():
    for folder, _, names in os.walk(server.docroot):
        for file_name in names:
            if file_name.endswith(".fault.json"):
                os.remove(os.path.join(folder, file_name))


def day_log(install):
    lines = []
    logs = os.path.join(install, "Log")
    for name in sorted(os.listdir(logs)) if os.path.isdir(logs) else []:
        for line in open(os.path.join(logs, name), "rb").read().decode("utf-8", "replace").splitlines():
            line = re.sub(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d : ", "", line.rstrip("\r"), count=1)
            lines.append(re.sub(r"Avaliable space : \d+", "Avaliable space : N", line).replace(install, "I"))
    ordered, i = [], 0
    while i < len(lines):
        j = i
        while j < len(lines) and lines[j].startswith("[INFO] Job "):
            j += 1
        ordered += sorted(lines[i:j]) if j > i else [lines[i]]
        i = max(j, i + 1)
    return ordered


def run(runner, install, extra=()):
    """The exit code and the last three lines printed (the final status, the version and the
    outcome): the status lines before them depend on when the runner looked."""
    done = subprocess.run([runner, "--install-dir", install] + list(extra), stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    shown = [line.replace(install, "I") for line in done.stdout.decode("utf-8", "replace").splitlines()
             if not line.startswith("  stage ")]
    return done.returncode, shown[-3:]


v1 = publish("v1", "game1", "1.0.3", "1.0.3", mirrors=2)
v2 = publish("v2", "game2", "1.0.4", "1.0.3", mirrors=2)
v2zip = publish("v2zip", "game2", "1.0.4", "1.0.4")
launcher2 = publish("launcher2", "game1", "1.0.3", "1.0.3", launcher="4.2.0")
signed = publish("signed", "game1", "1.0.3", "1.0.3", sign=True)


def first_zip(name):
    folder = os.path.join(server.docroot, name, PRODUCT, "Game", "1.0.3", "zip")
    return "Game/1.0.3/zip/" + sorted(os.listdir(folder))[0]


def older_launcher(install):
    path = os.path.join(install, "Config", "launcherconfig.txt")
    write(path, open(path, "rb").read().replace(b"4.2.0", b"4.1.2037"))


def game_in_package(install):
    os.rename(os.path.join(install, "Game"), os.path.join(install, "Package"))
    os.makedirs(os.path.join(install, "Game", "vorel_win"))
    path = os.path.join(install, "Config", "serverconfig.txt")
    write(path, open(path, "rb").read().replace(b"usePackage=False", b"usePackage=True"))


# (label, release, prepared: None for an empty installation or the release to update from,
#  change before the compared run, runner arguments)
cases = [
    ("fresh zip install", v1, None, None, ()),
    ("zip list 404", v1, None, lambda i: fault(v1, "Game/1.0.3/ziplist.txt", '{"status": 404}'), ()),
    ("file list closed", v1, None, lambda i: fault(v1, "Game/1.0.3/filelist.txt", '{"mode": "close"}'), ()),
    ("package 503 on every mirror", v1, None, lambda i: fault(v1, first_zip(v1), '{"status": 503}'), ()),
    ("server configuration 404", v1, None, lambda i: fault(v1, "Launcher/serverconfig.txt", '{"status": 404}'), ()),
    ("self-update staged", launcher2, None, older_launcher, ()),
    ("signed install", signed, None, None, ("--release-key", public_key)),
    ("signed with another key", signed, None, None, ("--release-key", "00" * 32)),
    ("increment update", v2, v1, None, ()),
    ("increment with a damaged local file", v2, v1,
     lambda i: write(os.path.join(i, "Game/vorel_win/data/p0/f0.dat"), b"damaged"), ()),
    ("increment file 404 on every mirror", v2, v1, lambda i: fault(v2, "Game/1.0.4/files/data/new.bin", '{"status": 404}'), ()),
    ("nothing to do", v1, v1, None, ()),
    ("zip update", v2zip, v1, None, ()),
    ("game in Package, old Game present", v1, v1, game_in_package, ()),
]

same = 0
for label, release, prepared, change, extra in cases:
    outcomes = []
    for which, runner in (("old", OLD), ("new", NEW)):
        clear_faults()
        install = fresh_folder(os.path.join(work, "install", re.sub(r"\W+", "-", label) + "-" + which))
        if prepared:
            server.point(install, prepared)
            run(runner, install)
            shutil.rmtree(os.path.join(install, "Log"))
        server.point(install, release)
        if change:
            change(install)
        outcomes.append(run(runner, install, extra) + (day_log(install),))
    (old_code, old_shown, old_log), (new_code, new_shown, new_log) = outcomes
    if outcomes[0] == outcomes[1]:
        same += 1
        print("same  %-36s exit %d, %2d log lines, %s" % (label, old_code, len(old_log), old_shown[0]))
    else:
        print("DIFF  %-36s exit %d / %d" % (label, old_code, new_code))
        for line in difflib.unified_diff(old_shown + old_log, new_shown + new_log, "old", "new", lineterm=""):
            print("   ", line)
print("%d of %d scripted runs: the same exit code, final status and day log" % (same, len(cases)))
sys.exit(0 if same == len(cases) else 1)
