#!/usr/bin/python3
"""kill_resume: what resumable downloads save when vorel-update is killed mid-download.

The cases of tests/reliability/kill_rerun.py (the same kills for the same seed), each run without
and then with --resume-downloads, the new version's packages and single files served at
--package-rate bytes per second per connection so that kills land in the middle of downloads.
From the test server's counters, per kind of update: the bytes of its downloads sent in a killed
case (the killed run and the runs after it) against an uninterrupted run; and for the cases whose
kill left partial files, what the runs after the kill sent against what the disk still lacked, and
the range requests that followed. Every case must still end with a game that verifies.
  usage: bench/kill_resume.py --runner vorel-update --publisher vorel-publish --work DIR
                              [--count 40] [--seed 1] [--package-rate 20000000]
"""

import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "reliability"))
from kill_rerun import Harness  # noqa: E402

# With resuming the runs after a kill fetch only what the disk lacks, not one byte twice.
RESUMED_TARGET = 1.0


def measure(harness, count, full):
    """Per kind, one record per killed case; the failed cases."""
    stats, failures = {}, []
    for number in range(count):
        kind, install, point, kill = harness.plan(number)
        before = harness.counted(kind, "bytes")
        if not harness.run_killed(install, kill):
            continue
        middle, ranged = harness.counted(kind, "bytes"), harness.counted(kind, "ranged")
        partial, held = harness.on_disk(install, kind)
        problem = harness.finish(install)[1]
        if problem:
            failures.append("case %d (%s, killed %s): %s" % (number, kind, point, problem))
            continue
        after = harness.counted(kind, "bytes")
        stats.setdefault(kind, []).append(dict(
            partial=partial, ratio=(after - before) / full[kind], ranged=harness.counted(kind, "ranged") - ranged,
            again=(after - middle) / max(1, full[kind] - held),
            # What the killed run received but never wrote (its buffers, the socket) is lost either way.
            lost=middle - before - held))
    return stats, failures


def report(stats):
    for kind, cases in sorted(stats.items()):
        ratios = [case["ratio"] for case in cases]
        print("  %-10s %2d killed cases: bytes sent / an uninterrupted run's: mean %.3f, max %.3f" % (
            kind, len(cases), sum(ratios) / len(ratios), max(ratios)))
        partial = [case for case in cases if case["partial"]]
        if partial:
            again = [case["again"] for case in partial]
            print("  %-10s %2d cases left %d partial files: %d range requests followed; the next runs sent "
                  "%.3f x (max %.3f) the bytes missing on disk; lost at the kill: %.1f MB a case" % (
                      "", len(partial), sum(case["partial"] for case in partial),
                      sum(case["ranged"] for case in partial), sum(again) / len(again), max(again),
                      sum(case["lost"] for case in partial) / len(partial) / 1e6))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True)
    parser.add_argument("--publisher", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--package-rate", type=int, default=20000000)
    args = parser.parse_args()
    args.resume = False
    harness = Harness(args)
    print("kill_resume: %d cases of seed %d, downloads served at %d bytes/s per connection" % (
        args.count, args.seed, args.package_rate))
    # What an uninterrupted run of each kind sends.
    full = {}
    for kind in sorted(harness.templates):
        install = harness.fresh_copy(kind)
        before = harness.counted(kind, "bytes")
        if harness.finish(install)[1]:
            sys.exit("kill_resume: an uninterrupted %s update failed" % kind)
        full[kind] = harness.counted(kind, "bytes") - before

    failures, partial = [], {}
    for resume in (False, True):
        harness.extra = ["--resume-downloads"] if resume else []
        stats, failed = measure(harness, args.count, full)
        failures += failed
        print("%s resume:" % ("with" if resume else "without"))
        report(stats)
        for kind, cases in stats.items():
            partial[kind, resume] = [case["again"] for case in cases if case["partial"]]

    for kind in sorted(harness.templates):
        on, off = partial.get((kind, True)), partial.get((kind, False))
        if not on:
            print("SUMMARY\tkill-resume\t%s: no kill left a partial file\t-\t-\t-\t-\t(info)" % kind)
            continue
        print("SUMMARY\tkill-resume\t%s: bytes sent after a kill / bytes missing on disk (max of %d cases)"
              "\t%.3f\t%s (resume off)\t-\t<= %.3f\t%s" % (
                  kind, len(on), max(on), "%.3f" % max(off) if off else "-", RESUMED_TARGET,
                  "met" if max(on) <= RESUMED_TARGET else "MISSED"))
    for line in failures:
        print("FAIL " + line)
    if os.environ.get("BENCH_KEEP", "0") == "0":
        shutil.rmtree(args.work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
