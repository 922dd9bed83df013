#!/usr/bin/python3
"""Makes the zip archives of the extraction tests with tools nobody here wrote: Info-ZIP zip and
Python's zipfile. Run by ctest before the tests; the archives land in the folder given."""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def patch_name(path, placeholder, name):
    """Replaces a placeholder entry name by raw bytes of the same length (both headers)."""
    assert len(placeholder) == len(name)
    with open(path, "rb") as f:
        data = f.read()
    assert data.count(placeholder) == 2, data.count(placeholder)
    with open(path, "wb") as f:
        f.write(data.replace(placeholder, name))


def main(out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    with tempfile.TemporaryDirectory() as tree:
        # Files in subfolders, no directory entries (zip -D), deflated and stored mixed.
        write(os.path.join(tree, "a", "b", "deep.txt"), b"deep file\n" * 100)
        write(os.path.join(tree, "a", "top.bin"), bytes(range(256)) * 64)
        write(os.path.join(tree, "root.txt"), b"root")
        write(os.path.join(tree, "empty.dat"), b"")
        subprocess.run(["zip", "-q", "-X", "-r", "-D", os.path.join(out, "subfolders.zip"), "."], cwd=tree, check=True)
        # The same tree with directory entries ("a/", "a/b/").
        subprocess.run(["zip", "-q", "-X", "-r", os.path.join(out, "with_dirs.zip"), "."], cwd=tree, check=True)

    # A directory entry marked by its attributes (16) alone, without a trailing slash.
    with zipfile.ZipFile(os.path.join(out, "dir_attr16.zip"), "w") as z:
        d = zipfile.ZipInfo("folder/sub", date_time=(2020, 1, 1, 0, 0, 0))
        d.external_attr = 16
        z.writestr(d, b"")
        z.writestr(zipfile.ZipInfo("other/file.txt", date_time=(2020, 1, 1, 0, 0, 0)), b"x")

    # Vietnamese names: UTF-8 (the narrow encoding of the Linux build) and the Windows code page
    # 1258 (the narrow encoding of a Vietnamese Windows), stored as raw bytes without the UTF-8 flag.
    name = "\u0110\u00f4 h\u01b0\u01a1ng/t\u00ean.txt"
    with zipfile.ZipFile(os.path.join(out, "vietnamese_utf8.zip"), "w") as z:
        z.writestr(name, "xin ch\u00e0o".encode("utf-8"))
    raw = name.encode("cp1258")
    placeholder = b"P" * len(raw)
    cp = os.path.join(out, "vietnamese_cp1258.zip")
    with zipfile.ZipFile(cp, "w") as z:
        z.writestr(placeholder.decode("ascii"), b"chao")
    patch_name(cp, placeholder, raw)

    # zip64 records even for small entries.
    with zipfile.ZipFile(os.path.join(out, "zip64.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("big/one.bin", "w", force_zip64=True) as f:
            f.write(b"z" * 100000)
        with z.open("two.txt", "w", force_zip64=True) as f:
            f.write(b"two")

    # A stored entry whose data no longer matches its CRC.
    path = os.path.join(out, "bad_crc.zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        z.writestr("good.txt", b"good")
        z.writestr("damaged.txt", b"ABCDEFGHIJ" * 10)
    data = bytearray(open(path, "rb").read())
    at = data.find(b"ABCDEFGHIJ")
    data[at + 5] ^= 0xFF
    open(path, "wb").write(bytes(data))

    # A deflated entry whose compressed stream is damaged (inflate fails).
    path = os.path.join(out, "bad_data.zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("stream.bin", os.urandom(4096) + b"tail" * 4096)
    data = bytearray(open(path, "rb").read())
    start = 30 + len("stream.bin")
    for i in range(start + 2, start + 40):
        data[i] = 0xFF
    open(path, "wb").write(bytes(data))

    # Not an archive at all.
    write(os.path.join(out, "not_a_zip.zip"), b"this is not a zip archive\n" * 10)

    # Names that would land outside the destination.
    for label, evil in (("dotdot", "../escaped.txt"), ("nested_dotdot", "ok/../../escaped.txt"),
                        ("absolute", "/escaped.txt"), ("drive", "C:escaped.txt"),
                        ("backslash", "ok\\..\\..\\escaped.txt")):
        with zipfile.ZipFile(os.path.join(out, "slip_%s.zip" % label), "w") as z:
            z.writestr("first_harmless.txt", b"harmless")
            info = zipfile.ZipInfo(evil, date_time=(2020, 1, 1, 0, 0, 0))
            z.writestr(info, b"evil")
        # zipfile keeps the names as given; make sure of it.
        with zipfile.ZipFile(os.path.join(out, "slip_%s.zip" % label)) as z:
            assert z.namelist()[1] == evil, z.namelist()

    # An entry name far longer than 512 bytes, in components a file system accepts.
    long_name = "/".join(["d%02d_" % i + "x" * 40 for i in range(14)]) + "/end.txt"
    assert len(long_name) > 600
    with zipfile.ZipFile(os.path.join(out, "long_name.zip"), "w") as z:
        z.writestr(long_name, b"long")
    write(os.path.join(out, "long_name.txt"), long_name.encode("ascii"))


if __name__ == "__main__":
    main(sys.argv[1])
