#!/usr/bin/python3
"""Updates on a disk that fills up, and in an installation that cannot be written.

The installation lives on a small tmpfs mounted for the purpose (root only), whose size is set
so that it fills during one phase: the package downloads, the extraction, or the copy of the
increment files over an installed game. A last case remounts it read-only. Each run must end at
stage 17 with the message of its phase, keep every file of a game that was installed before (whole,
in its old or its new version), and the run after space or access is restored must end at stage 10
with a tree that verifies against the published list.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import time

from harness import PRODUCT, Server, fresh_folder, runner_command, verifies, windows_path, write

MiB = 1 << 20
SKIPPED = 77  # ctest's SKIP_RETURN_CODE for this test
PERMISSION = "Quyền đọc và ghi tệp không bình thường"
UNZIP = "Không giải nén được"
MOVE = "Di chuyển tệp không thành công"
CANNOT_VERIFY = "Tạm thời không thể xác minh bản cập nhật"


def mount(where, options):
    return subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", where]).returncode == 0


def remount(where, options):
    subprocess.run(["mount", "-o", "remount," + options, where], check=True)


def used(where):
    stat = os.statvfs(where)
    return (stat.f_blocks - stat.f_bfree) * stat.f_frsize


def status_of(runner, install):
    """Runs one update; its exit code and the last status line it printed."""
    result = subprocess.run(runner_command(runner, install), capture_output=True, text=True, timeout=300)
    lines = [line for line in result.stdout.splitlines()
             if line and not line.startswith(("  stage", "finish all", "Version:", "update ", "["))]
    return result.returncode, lines[-1] if lines else ""


def install_first_version(runner, server, install):
    """Version 1 installed by an uninterrupted run, the installation then pointed at version 2."""
    if status_of(runner, install)[0] != 0:
        sys.exit("disk_full: version 1 did not install")
    server.point(install, "v2")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True)
    parser.add_argument("--publisher", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--holder", help="vorel_hold_file.exe: only the case of a game file held open (Wine)")
    args = parser.parse_args()
    work = fresh_folder(args.work)
    if args.holder:
        return held_open(args, work)
    disk = os.path.join(work, "disk")
    os.makedirs(disk)
    if not mount(disk, "size=1m"):
        print("disk_full: cannot mount a tmpfs here (root is needed); skipped")
        return SKIPPED
    try:
        return cases(args, work, disk)
    finally:
        subprocess.run(["umount", "-l", disk])


def cases(args, work, disk):
    server = Server(work)
    # Version 2 changes the largest file: copying it over the old one needs room for both.
    old, new = server.publish_versions(args.publisher, work, lambda game: write(
        os.path.join(game, "data", "textures.pak"), random.Random(8).randbytes(12 * MiB)))
    zips = os.path.join(server.docroot, "v1", PRODUCT, "Game", "1.0.3", "zip")
    packages = sum(os.path.getsize(os.path.join(zips, name)) for name in os.listdir(zips))
    unpacked = sum(size for size, _ in old.values())
    install = os.path.join(disk, "install")
    failures = []

    def case(name, size, expected, version, prepare=None, restore="size=512m"):
        """Fills (or locks) the disk at `size`, checks the failed run, then restores and runs again."""
        remount(disk, "rw,size=512m")
        shutil.rmtree(install, ignore_errors=True)
        server.point(install, "v1")
        if prepare:
            prepare()
        before = {rel: open(os.path.join(install, "Game", "vorel_win", rel), "rb").read()
                  for rel in old if os.path.isfile(os.path.join(install, "Game", "vorel_win", rel))}
        if size:
            remount(disk, size)
        code, status = status_of(args.runner, install)
        problem = None
        if code != 1 or not status.startswith(expected):
            problem = "ended with %d and %r, expected 1 and %r" % (code, status, expected)
        for rel, data in before.items():
            path = os.path.join(install, "Game", "vorel_win", rel)
            now = open(path, "rb").read() if os.path.isfile(path) else None
            wanted_new = os.path.join(work, "game2", rel)
            if now != data and (not os.path.isfile(wanted_new) or now != open(wanted_new, "rb").read()):
                problem = problem or "%s of the installed game was damaged" % rel
        remount(disk, restore)
        code, status = status_of(args.runner, install)
        if not problem and (code != 0 or verifies(install, version)):
            problem = "the run after space came back ended with %d (%s)" % (code, status)
        print("%-44s %s" % (name, problem or "ok"), flush=True)
        if problem:
            failures.append(name)

    def install_v1():
        remount(disk, "rw,size=512m")
        install_first_version(args.runner, server, install)

    case("full during the package downloads", "size=%d" % (packages // 2), PERMISSION, old)
    case("full during the extraction", "size=%d" % (packages + unpacked // 2), UNZIP, old)
    staged = sum(size for rel, (size, crc) in new.items() if old.get(rel) != (size, crc))

    def fill_after_v1():
        install_v1()
        # Room for the staged files and half of their copies.
        remount(disk, "size=%d" % (used(disk) + staged + staged // 2))
    case("full during the increment copy", None, MOVE, new, fill_after_v1)
    case("read-only installation", "ro", CANNOT_VERIFY, new, install_v1, restore="rw")
    print("%d passed, %d failed" % (4 - len(failures), len(failures)))
    return 1 if failures else 0


def held_open(args, work):
    """A running program holds a game file open without sharing while the increment copy needs it."""
    server = Server(work)
    _, new = server.publish_versions(args.publisher, work)
    install = os.path.join(work, "install")
    server.point(install, "v1")
    install_first_version(args.runner, server, install)
    held = os.path.join(install, "Game", "vorel_win", "vorel.exe")  # changed in version 2
    before = open(held, "rb").read()
    holder = subprocess.Popen(["wine", args.holder, windows_path(held)], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    problem = None
    try:
        for _ in range(300):
            if os.path.exists(held + ".held"):
                break
            time.sleep(0.1)
        code, status = status_of(args.runner, install)
        if code != 1 or not status.startswith(MOVE):
            problem = "ended with %d and %r, expected 1 and %r" % (code, status, MOVE)
        elif open(held, "rb").read() != before:
            problem = "the held file changed"
    finally:
        holder.kill()
        holder.wait()
        subprocess.run(["wine", "taskkill", "/f", "/im", os.path.basename(args.holder)], capture_output=True)
    os.remove(held + ".held")
    time.sleep(1)
    code, status = status_of(args.runner, install)
    if not problem and (code != 0 or verifies(install, new)):
        problem = "the run after the file was let go ended with %d (%s)" % (code, status)
    print("%-44s %s" % ("game file held open by a running program", problem or "ok"))
    print("%d passed, %d failed" % (0 if problem else 1, 1 if problem else 0))
    return 1 if problem else 0


if __name__ == "__main__":
    sys.exit(main())
