#!/usr/bin/python3
"""Checks an installed game tree against a published file list (name=path$size$CRC), with an
independent CRC-32 (Python's zlib), and prints what it found."""
import os
import sys
import zlib


def crc_of(path):
    crc = 0
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                return "%08X" % crc
            crc = zlib.crc32(block, crc)


def main(game_dir, file_list):
    bad = 0
    files = 0
    total = 0
    with open(file_list, "rb") as f:
        for raw in f.read().decode("utf-8").splitlines():
            if "=" not in raw:
                continue
            path, size, crc = raw.split("=", 1)[1].split("$")
            local = os.path.join(game_dir, *path.replace("\\", "/").split("/"))
            files += 1
            total += int(size)
            if not os.path.isfile(local) or os.path.getsize(local) != int(size) or crc_of(local) != crc.strip().upper():
                print("  MISMATCH", path)
                bad += 1
    print("  %d files, %.1f MB: %s" % (files, total / 1048576.0,
                                        "every size and CRC-32 matches the published list" if not bad
                                        else "%d do not match" % bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
