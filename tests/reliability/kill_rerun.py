#!/usr/bin/python3
"""Kills vorel-update at chosen and random moments of an update and runs it again.

Three kinds of update are prepared once, each as a template installation and a published server
folder on the local test server:
  fresh      an empty installation: zip packages are downloaded and extracted, then moved to Game
  increment  an installed game whose changed files come as single files and are copied over it
  switch     an installed game replaced by a full zip update: the old Game goes, Package moves in
Every case copies a template, starts the runner, kills it (SIGKILL) either a random time after its
start or a random time after a log line that opens a phase (packages, extraction, copy, switch,
the configuration rewrite), and then runs it again unchanged. A case passes when the run after the
kill ends at stage 10 with a game tree that verifies against the published list, or at stage 17
and the run after that at stage 10. After a killed increment update the game must still start:
every file of the old tree is present, whole, in its old or its new version.

The cases follow from --seed, so a failing case is replayed with the same seed and --only N.
"""

import argparse
import collections
import glob
import os
import random
import shutil
import signal
import subprocess
import sys
import time

from harness import Server, listed, make_game, run, runner_command, verifies, write

ANCHORS = {
    "fresh": ["Zip download total files", "Finsh zip download", "Rename process after zip update",
              "Finish update process, update config files"],
    "increment": ["=========Increment update process", "Copy increment update files to",
                  "Finish update process, update config files"],
    "switch": ["Zip download total files", "Finsh zip download", "Rename process after zip update",
               "Delete old game files", "Finish update process, update config files"],
}


class Harness:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.server = Server(self.work)
        docroot = self.server.docroot
        rng = random.Random(7)
        make_game(os.path.join(self.work, "game1"), "1.0.3", rng)
        make_game(os.path.join(self.work, "game2"), "1.0.4", random.Random(7))
        # The second version changes a few files, adds one and keeps the rest.
        write(os.path.join(self.work, "game2", "data", "part01", "file06.dat"), b"changed" * 5000)
        write(os.path.join(self.work, "game2", "data", "new.dat"), rng.randbytes(3000000))
        write(os.path.join(self.work, "launcher", "VORELLauncher.exe"), b"launcher")
        self.publish("v1", "game1", "1.0.3", "1.0.3")
        self.publish("v2inc", "game2", "1.0.4", "1.0.3")  # same zip version: single files
        self.publish("v2zip", "game2", "1.0.4", "1.0.4")  # new zip version: whole packages
        self.wanted = listed(os.path.join(docroot, "v2inc"), "1.0.4")
        self.old = {rel: open(os.path.join(self.work, "game1", rel), "rb").read()
                    for rel in listed(os.path.join(docroot, "v1"), "1.0.3")}
        self.new = {rel: open(os.path.join(self.work, "game2", rel), "rb").read() for rel in self.wanted}
        # Templates: an empty installation, and one with version 1 installed by an uninterrupted run.
        self.templates = {}
        for name, server in (("fresh", "v2zip"), ("increment", "v2inc"), ("switch", "v2zip")):
            install = os.path.join(self.work, "template-" + name)
            os.makedirs(os.path.join(install, "Config"))
            if name != "fresh":
                self.server.point(install, "v1")
                code = run(self.args.runner, install)
                if code != 0 or verifies(install, listed(os.path.join(docroot, "v1"), "1.0.3")):
                    sys.exit("kill_rerun: the first version did not install (%d)" % code)
                shutil.rmtree(os.path.join(install, "Log"))
            self.server.point(install, server)
            self.templates[name] = install
        # How long an uninterrupted run of each kind takes: random kills fall within it.
        self.duration = {}
        for name in self.templates:
            install = self.fresh_copy(name)
            start = time.monotonic()
            code = run(self.args.runner, install)
            self.duration[name] = time.monotonic() - start
            if code != 0 or verifies(install, self.wanted):
                sys.exit("kill_rerun: an uninterrupted %s update failed (%d)" % (name, code))

    def publish(self, name, game, version, zip_version):
        self.server.publish(self.args.publisher, name, os.path.join(self.work, game),
                            os.path.join(self.work, "launcher"), version, zip_version)

    def fresh_copy(self, name):
        install = os.path.join(self.work, "run")
        shutil.rmtree(install, ignore_errors=True)
        shutil.copytree(self.templates[name], install, symlinks=True)
        return install

    def run_killed(self, install, kill):
        """Runs the runner while kill(process, install) may end it; whether it did."""
        process = subprocess.Popen(runner_command(self.args.runner, install), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        killed = kill(process, install)
        try:
            process.wait(timeout=180)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
        return killed

    def case(self, number):
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

        killed = self.run_killed(install, kill)
        problem = None
        if killed and kind == "increment":
            problem = self.still_starts(install)
        outcome = "not reached" if not killed else None
        if not problem:
            code = run(self.args.runner, install)
            if code == 0:
                outcome = outcome or "next run: 10"
            elif code == 1:
                code = run(self.args.runner, install)
                outcome = outcome or "next run: 17, then 10"
                if code != 0:
                    problem = "the run after a failed one ended with %d" % code
            else:
                problem = "the run after the kill ended with %d" % code
            problem = problem or verifies(install, self.wanted)
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="vorel-update, or vorel-update.exe (run with wine)")
    parser.add_argument("--publisher", required=True, help="vorel-publish (native)")
    parser.add_argument("--work", required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--only", type=int, help="replay this case number alone")
    args = parser.parse_args()
    harness = Harness(args)
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
        ", ".join("%s %.2f s" % (k, v) for k, v in sorted(harness.duration.items()))))
    for (kind, outcome), count in sorted(outcomes.items()):
        print("  %-10s %-24s %d" % (kind, outcome, count))
    for line in failures:
        print("  " + line)
    print("%d passed, %d failed" % (len(numbers) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
