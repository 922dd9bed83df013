#!/usr/bin/python3
"""Kills vorel-update at chosen and random moments of an update and runs it again.

Four kinds of update are prepared once, each as a template installation and a published server
folder on the local test server:
  fresh      an empty installation: zip packages are downloaded and extracted, then moved to Game
  increment  an installed game whose changed files come as single files and are copied over it
  patch      the same, with the large changed files rebuilt from their installed copies by patches
  switch     an installed game replaced by a full zip update: the old Game goes, Package moves in
Every case copies a template, starts the runner, kills it (SIGKILL) either a random time after its
start or a random time after a log line that opens a phase (packages, extraction, copy, switch,
the configuration rewrite), and then runs it again unchanged. A case passes when the run after the
kill ends at stage 10 with a game tree that verifies against the published list, or at stage 17
and the run after that at stage 10. After a killed increment update the game must still start:
every file of the old tree is present, whole, in its old or its new version (patch updates too).

With --self-update (Windows build under Wine) the launcher's own update is killed instead, at a
random moment of its whole hand-over (the old launcher fetching its package, updater.bat replacing
the files, the new launcher updating the game) or, in half of the cases, at a step of updater.bat's
replacement of the files, told by the files it leaves (a copy beside its target, the target
replaced, the staged file gone). The launcher must still be there afterwards, and the next start
must finish the job. The summary counts the kills that landed between the script's first copy and
its removal of the staging folder.

With --signed the releases are signed (vorel-publish --make-keys and --sign-key) and the runner
checks them with --release-key.

With --resume the runner continues downloads (vorel-update --resume-downloads), and a kill that
left partial files must be followed by a range request. --package-rate B slows every package and
single file of the new version to B bytes per second per connection, so that more kills land in
the middle of a download. What resuming saves is measured by bench/kill_resume.py.

The cases follow from --seed, so a failing case is replayed with the same seed and --only N.
"""

import argparse
import collections
import glob
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time

from harness import PRODUCT, Server, fresh_folder, run, runner_command, verifies, write

ANCHORS = {
    "fresh": ["Zip download total files", "Finsh zip download", "Rename process after zip update",
              "Finish update process, update config files"],
    "increment": ["=========Increment update process", "Copy increment update files to",
                  "Finish update process, update config files"],
    "patch": ["=========Increment update process", "Patch Update Success", "Copy increment update files to"],
    "switch": ["Zip download total files", "Finsh zip download", "Rename process after zip update",
               "Delete old game files", "Finish update process, update config files"],
}


class Harness:
    def __init__(self, args):
        self.args = args
        self.extra = ["--resume-downloads"] if args.resume else []
        self.work = fresh_folder(args.work)
        self.server = Server(self.work)
        if args.signed:
            self.extra += ["--release-key", self.server.sign_releases(args.publisher, self.work)]

        def change(game):  # a few files changed, one added, the rest kept
            write(os.path.join(game, "data", "part01", "file06.dat"), b"changed" * 5000)
            write(os.path.join(game, "data", "new.dat"), random.Random(8).randbytes(3000000))
            for rel in ("data/textures.pak", "data/terrain.bin"):  # changed in a few places: patched
                data = bytearray(open(os.path.join(game, rel), "rb").read())
                for at in range(1000, len(data), len(data) // 5):
                    data[at:at + 4000] = random.Random(at).randbytes(4000)
                write(os.path.join(game, rel), bytes(data))
        first, self.wanted = self.server.publish_versions(args.publisher, self.work, change, zip_update=True,
                                                          patches=True)
        self.old = {rel: open(os.path.join(self.work, "game1", rel), "rb").read() for rel in first}
        self.new = {rel: open(os.path.join(self.work, "game2", rel), "rb").read() for rel in self.wanted}
        # Where each kind's downloads are served from: the packages, or the single files.
        self.downloads = {"fresh": self.served("v2zip", "zip"), "switch": self.served("v2zip", "zip"),
                          "increment": self.served("v2", "files"), "patch": self.served("v2patch", "patches")}
        if args.package_rate:
            for folder in set(self.downloads.values()):
                for path in self.download_files(folder):
                    write(path + ".fault.json", json.dumps({"mode": "drip", "rate": args.package_rate}).encode())
        # Templates: an empty installation, and one with version 1 installed by an uninterrupted run.
        self.templates = {}
        for name, server in (("fresh", "v2zip"), ("increment", "v2"), ("switch", "v2zip"), ("patch", "v2patch")):
            install = os.path.join(self.work, "template-" + name)
            os.makedirs(os.path.join(install, "Config"))
            if name != "fresh":
                self.server.point(install, "v1")
                code = run(self.args.runner, install, extra=self.extra)
                if code != 0 or verifies(install, first):
                    sys.exit("kill_rerun: the first version did not install (%d)" % code)
                shutil.rmtree(os.path.join(install, "Log"))
            self.server.point(install, server)
            self.templates[name] = install
        # How long an uninterrupted run of each kind takes: random kills fall within it.
        self.duration = {}
        for name in self.templates:
            install = self.fresh_copy(name)
            start = time.monotonic()
            code = run(self.args.runner, install, extra=self.extra)
            self.duration[name] = time.monotonic() - start
            if code != 0 or verifies(install, self.wanted):
                sys.exit("kill_rerun: an uninterrupted %s update failed (%d)" % (name, code))
            log = "".join(open(path, errors="replace").read() for path in glob.glob(os.path.join(install, "Log", "*.txt")))
            if name == "patch" and log.count("Patch Update Success") < 2:
                sys.exit("kill_rerun: the uninterrupted patch update did not patch the changed large files")

    def served(self, name, kind):
        """The server folder of a published version's packages ("zip") or single files ("files")."""
        found = glob.glob(os.path.join(self.server.docroot, name, "**", kind), recursive=True)
        if len(found) != 1:
            sys.exit("kill_rerun: no single %s folder in %s: %s" % (kind, name, found))
        return found[0]

    @staticmethod
    def download_files(folder):
        for top, _, names in os.walk(folder):
            for name in names:
                if not name.endswith(".fault.json"):
                    yield os.path.join(top, name)

    def counted(self, kind, counter):
        """One of the server's counters ("bytes", "ranged") summed over the kind's downloads."""
        return sum(self.server.counter(counter, os.path.relpath(path, self.server.docroot))
                   for path in self.download_files(self.downloads[kind]))

    def on_disk(self, install, kind):
        """(files held only in part, bytes held) of the kind's downloads in the installation."""
        if kind == "patch":
            return 0, 0  # patches are fetched whole each time, never continued
        local = os.path.join(install, "Temp", *(["ZipUpdate"] if kind != "increment" else ["Incrementupdate", "vorel_win"]))
        partial = held = 0
        for path in self.download_files(self.downloads[kind]):
            mine = os.path.join(local, os.path.relpath(path, self.downloads[kind]))
            if os.path.isfile(mine):
                size, full = os.path.getsize(mine), os.path.getsize(path)
                partial += 0 < size < full
                held += min(size, full)
        return partial, held

    def fresh_copy(self, name):
        install = os.path.join(self.work, "run")
        shutil.rmtree(install, ignore_errors=True)
        shutil.copytree(self.templates[name], install, symlinks=True)
        return install

    def run_killed(self, install, kill):
        """Runs the runner while kill(process, install) may end it; whether it did."""
        process = subprocess.Popen(runner_command(self.args.runner, install, self.extra), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        killed = kill(process, install)
        try:
            process.wait(timeout=180)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
        if killed:
            time.sleep(0.3)  # the server finds the killed connections gone at its next write
        return killed

    def plan(self, number):
        """Case number's kind, a fresh copy of its template, where the kill lands, and the kill for
        run_killed."""
        rng = random.Random(self.args.seed * 100003 + number)
        kind = rng.choice(sorted(self.templates))
        install = self.fresh_copy(kind)
        if rng.random() < 0.5:
            anchor = rng.choice(ANCHORS[kind])
            # Half of these land within a few milliseconds: some phases are that short.
            delay = rng.uniform(0, 0.005) if rng.random() < 0.5 else rng.uniform(0, 0.15)
            point = "%s +%.0f ms" % (anchor, delay * 1000)
        else:
            anchor = None
            delay = rng.uniform(0, self.duration[kind])
            point = "%.0f ms after the start" % (delay * 1000)

        def kill(process, install):
            start = time.monotonic()
            if anchor:
                while process.poll() is None and time.monotonic() - start < 60:
                    logs = glob.glob(os.path.join(install, "Log", "*.txt"))
                    if logs and anchor in open(logs[0], errors="replace").read():
                        break
                    time.sleep(0.001)
                start = time.monotonic()
            while process.poll() is None and time.monotonic() - start < delay:
                time.sleep(0.001)
            if process.poll() is not None:
                return False
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return True

        return kind, install, point, kill

    def finish(self, install):
        """Runs the runner after a kill until it ends at stage 10: (how it got there, problem)."""
        code = run(self.args.runner, install, extra=self.extra)
        if code == 0:
            return "next run: 10", verifies(install, self.wanted)
        if code != 1:
            return None, "the run after the kill ended with %d" % code
        code = run(self.args.runner, install, extra=self.extra)
        if code != 0:
            return None, "the run after a failed one ended with %d" % code
        return "next run: 17, then 10", verifies(install, self.wanted)

    def case(self, number):
        kind, install, point, kill = self.plan(number)
        if not self.run_killed(install, kill):
            return kind, point, "not reached", self.finish(install)[1]
        partial = self.on_disk(install, kind)[0]
        ranged = self.counted(kind, "ranged")
        problem = self.still_starts(install) if kind in ("increment", "patch") else None
        outcome, problem = (None, problem) if problem else self.finish(install)
        if self.args.resume and partial and not problem and self.counted(kind, "ranged") == ranged:
            problem = "the kill left %d partial files, but no range request followed" % partial
        return kind, point, outcome, problem

    def still_starts(self, install):
        root = os.path.join(install, "Game", "vorel_win")
        for rel, data in self.old.items():
            path = os.path.join(root, rel)
            if not os.path.isfile(path):
                return "after the kill %s is missing" % rel
            now = open(path, "rb").read()
            if now != data and now != self.new.get(rel):
                return "after the kill %s is neither the old nor the new file (%d bytes)" % (rel, len(now))
        return None


OLD_LAUNCHER = "VORELLauncher.exe is not the new launcher"


class SelfUpdateHarness:
    """The launcher's self-update under Wine, killed at a random moment of the whole hand-over:
    the old launcher fetching and unpacking its package, updater.bat replacing the files, and the
    new launcher updating the game. The runner stands in for VORELLauncher.exe."""

    def __init__(self, args):
        self.args = args
        self.inside = 0  # kills that landed within updater.bat's replacement of the files
        self.work = fresh_folder(args.work)
        self.server = Server(self.work)
        if args.signed:
            sys.exit("kill_rerun: --signed is for the runner's own updates, not with --self-update")
        # The new launcher is the runner with bytes after its image, so that an old one left in
        # place is told apart.
        self.runner = open(args.runner, "rb").read() + b"the new launcher"
        launchers = []
        for name, extra, version in (("launcher1", b"old a", "4.1.3"), ("launcher2", b"new a", "4.2.0")):
            write(os.path.join(self.work, name, "VORELLauncher.exe"),
                  self.runner if name == "launcher2" else open(args.runner, "rb").read())
            write(os.path.join(self.work, name, "A.dll"), extra)
            launchers.append((os.path.join(self.work, name), version))
        first, self.wanted = self.server.publish_versions(args.publisher, self.work, launchers=launchers)
        self.config = open(os.path.join(self.server.docroot, "v2", PRODUCT, "Launcher", "launcherconfig.txt"),
                           "rb").read()
        # The template: version 1 of the game and of the launcher, pointed at version 2.
        self.template = os.path.join(self.work, "template")
        shutil.copytree(os.path.join(self.work, "launcher1"), self.template)
        self.server.point(self.template, "v1")
        if self.chain(self.template) != "done" or verifies(self.template, first):
            sys.exit("kill_rerun: version 1 did not install")
        shutil.rmtree(os.path.join(self.template, "Log"))
        # Version 2's addresses, but the launcher version still the old one: a self-update is due.
        local = os.path.join(self.template, "Config", "launcherconfig.txt")
        write(local, self.config.replace(b"launcherVersion=4.2.0", b"launcherVersion=4.1.3"))
        start = time.monotonic()
        install = self.fresh_copy()
        if self.chain(install) != "done" or self.problem(install):
            sys.exit("kill_rerun: an uninterrupted self-update failed: %s" % self.problem(install))
        self.duration = time.monotonic() - start

    def fresh_copy(self):
        install = os.path.join(self.work, "run")
        shutil.rmtree(install, ignore_errors=True)
        shutil.copytree(self.template, install)
        return install

    def start(self, install):
        return subprocess.Popen(["wine", "VORELLauncher.exe"], cwd=install, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)

    def chain(self, install, deadline=120):
        """Starts the launcher and waits until the whole hand-over is over: "done", or why not."""
        if not os.path.isfile(os.path.join(install, "VORELLauncher.exe")):
            return "VORELLauncher.exe is missing"
        before = self.log_counts(install)
        self.start(install).wait()
        start = time.monotonic()
        while time.monotonic() - start < deadline:
            if self.finished(install, before):
                time.sleep(0.5)  # the new launcher's last writes
                return "done"
            time.sleep(0.05)
        return "the hand-over did not finish"

    def problem(self, install):
        if open(os.path.join(install, "VORELLauncher.exe"), "rb").read() != self.runner:
            return OLD_LAUNCHER
        if open(os.path.join(install, "A.dll"), "rb").read() != b"new a":
            return "A.dll is not the new one"
        if open(os.path.join(install, "Config", "launcherconfig.txt"), "rb").read() != self.config:
            return "the launcher configuration is not the new one"
        return verifies(install, self.wanted)

    # Steps of updater.bat, each told by a file it leaves; tested only while the script exists.
    SCRIPT_STEPS = [
        ("A.dll copied", lambda i: os.path.exists(os.path.join(i, "A.dll.new"))),
        ("A.dll replaced", lambda i: SelfUpdateHarness.read(os.path.join(i, "A.dll")) == b"new a"),
        ("launcher copied", lambda i: os.path.exists(os.path.join(i, "VORELLauncher.exe.new"))),
        ("launcher replaced",
         lambda i: not os.path.exists(os.path.join(i, "Temp", "LauncherUpdate", "VORELLauncher.exe"))),
        ("configuration copied", lambda i: os.path.exists(os.path.join(i, "Config", "launcherconfig.txt.new"))),
        ("configuration replaced", lambda i: not os.path.exists(os.path.join(i, "Temp", "launcherconfig.txt"))),
    ]

    @staticmethod
    def read(path):
        try:
            return open(path, "rb").read()
        except OSError:
            return None

    @staticmethod
    def hand_over_pids():
        """The Wine processes of this prefix (WINEPREFIX) running the launcher or cmd.exe: (pid, is cmd.exe)."""
        prefix = os.environ.get("WINEPREFIX", "").encode()
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                command = open("/proc/%s/cmdline" % pid, "rb").read().lower()
                if b"vorellauncher.exe" not in command and b"cmd.exe" not in command:
                    continue
                environment = open("/proc/%s/environ" % pid, "rb").read().split(b"\0")
            except OSError:
                continue
            if prefix and b"WINEPREFIX=" + prefix in environment:
                found.append((int(pid), b"cmd.exe" in command))
        return found

    def kill_all(self, known=()):
        """Ends every program of the hand-over at once, as when the machine loses power: the known
        processes first, then all of this prefix running the launcher or cmd.exe get SIGKILL, then
        taskkill sweeps."""
        for pid in list(known) + [pid for pid, _ in self.hand_over_pids()]:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        for image in ("VORELLauncher.exe", "cmd.exe"):
            subprocess.run(["wine", "taskkill", "/f", "/im", image], capture_output=True)

    def in_replacement(self, install):
        """Whether updater.bat has made its first copy and not yet removed the staging folder."""
        started = os.path.exists(os.path.join(install, "A.dll.new")) or \
            self.read(os.path.join(install, "A.dll")) == b"new a"
        return os.path.exists(os.path.join(install, "updater.bat")) and started and \
            os.path.isdir(os.path.join(install, "Temp", "LauncherUpdate"))

    def case(self, number):
        rng = random.Random(self.args.seed * 100003 + number)
        install = self.fresh_copy()
        if rng.random() < 0.5:
            step, test = rng.choice(self.SCRIPT_STEPS)
            delay = rng.uniform(0, 0.01)
            point = "%s +%.1f ms" % (step, delay * 1000)
        else:
            test = None
            delay = rng.uniform(0, self.duration)
            point = "%.0f ms after the start" % (delay * 1000)
        process = self.start(install)
        start = time.monotonic()
        known = []
        if test:
            # The script's processes are looked up while it runs, so that the kill itself is quick.
            script = os.path.join(install, "updater.bat")
            while time.monotonic() - start < 60:
                if os.path.exists(script):
                    if test(install):
                        break
                    if not any(is_cmd for _, is_cmd in known):
                        known = self.hand_over_pids()
                time.sleep(0.0005)
            start = time.monotonic()
        while time.monotonic() - start < delay:
            time.sleep(0.0005)
        reached = not self.finished(install)
        self.kill_all(pid for pid, _ in known)
        inside = self.in_replacement(install)
        self.inside += inside
        process.wait()
        time.sleep(0.5)
        outcome, problem = self.recover(install, reached)
        return "selfupdate", point, outcome and outcome + (" (killed in updater.bat)" if inside else ""), problem

    def recover(self, install, reached):
        """Starts the launcher after a kill until the hand-over is done: (how it got there, problem)."""
        state = self.chain(install)
        if state != "done":
            return None, "after the kill: " + state
        if self.problem(install):
            state = self.chain(install)  # a run that ended at stage 17 is followed by one more
            if state != "done":
                return None, "after the kill: " + state
            return "next run: 17, then 10", self.problem(install)
        return "next run: 10" if reached else "not reached", None

    @staticmethod
    def log_counts(install):
        """How often the day log says the launcher finished, and that it began a self-update."""
        logs = glob.glob(os.path.join(install, "Log", "*.txt"))
        text = open(logs[0], errors="replace").read() if logs else ""
        return text.count("Launcher process finish"), text.count("=========Launcher self-update process")

    @classmethod
    def finished(cls, install, before=(0, 0)):
        """A launcher finished since before, and the script of a hand-over begun since has deleted
        itself. A script killed earlier cannot delete itself: its updater.bat may stay."""
        finishes, handovers = cls.log_counts(install)
        script_left = os.path.exists(os.path.join(install, "updater.bat"))
        return finishes > before[0] and not (script_left and handovers > before[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="vorel-update, or vorel-update.exe (run with wine)")
    parser.add_argument("--publisher", required=True, help="vorel-publish (native)")
    parser.add_argument("--work", required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--only", type=int, help="replay this case number alone")
    parser.add_argument("--self-update", action="store_true",
                        help="kill the launcher's self-update hand-over instead (Windows build under Wine)")
    parser.add_argument("--resume", action="store_true",
                        help="run the runner with --resume-downloads; a kill that left partial files must be "
                        "followed by a range request")
    parser.add_argument("--signed", action="store_true",
                        help="publish signed releases and run the runner with --release-key")
    parser.add_argument("--package-rate", type=int, default=0,
                        help="serve the new version's packages and single files at this many bytes per second")
    args = parser.parse_args()
    harness = SelfUpdateHarness(args) if args.self_update else Harness(args)
    outcomes = collections.Counter()
    failures = []
    numbers = [args.only] if args.only is not None else range(args.count)
    for number in numbers:
        kind, point, outcome, problem = harness.case(number)
        if problem:
            failures.append("case %d (%s, killed %s): %s" % (number, kind, point, problem))
            print("FAIL " + failures[-1], flush=True)
        else:
            outcomes[(kind, outcome)] += 1
    print("kill and re-run, seed %d: %d cases, %d failed; uninterrupted runs: %s" % (
        args.seed, len(numbers), len(failures),
        ", ".join("%s %.2f s" % (k, v) for k, v in sorted(
            harness.duration.items() if isinstance(harness.duration, dict) else [("selfupdate", harness.duration)]))))
    for (kind, outcome), count in sorted(outcomes.items()):
        print("  %-10s %-48s %d" % (kind, outcome, count))
    if args.self_update:
        print("  kills within updater.bat's replacement of the files: %d" % harness.inside)
    for line in failures:
        print("  " + line)
    print("%d passed, %d failed" % (len(numbers) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
