#!/usr/bin/python3
"""Generates the demo game tree: the stub vorel.exe beside data files of several kinds and sizes."""
import os
import random
import sys


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main(out, stub_exe):
    rng = random.Random(2037)
    with open(stub_exe, "rb") as f:
        write(os.path.join(out, "vorel.exe"), f.read())
    write(os.path.join(out, "data", "world.pak"), rng.randbytes(12 << 20))
    # Large but compressible, as game data often is: a small download, a long check.
    write(os.path.join(out, "data", "terrain.bin"), bytes(range(256)) * (1 << 20))
    for i in range(40):
        write(os.path.join(out, "data", "textures", "tile_%02d.dds" % i), rng.randbytes(150_000 + 1000 * i))
    for name in ("client.ini", "keys.ini", "servers.ini"):
        lines = ["[%s]" % name[:-4]] + ["option_%d=%d" % (i, rng.randrange(1000)) for i in range(200)]
        write(os.path.join(out, "data", "config", name), ("\r\n".join(lines) + "\r\n").encode())
    write(os.path.join(out, "sound", "music.ogg"), rng.randbytes(5 << 20))
    write(os.path.join(out, "sound", "silence.wav"), b"")
    text = "".join("Line %d of the demo game's notes.\n" % i for i in range(20000))
    write(os.path.join(out, "README.txt"), text.encode())


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
