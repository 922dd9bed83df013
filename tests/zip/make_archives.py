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


def make(path, entries, compression=zipfile.ZIP_STORED):
    """An archive of (name or ZipInfo, bytes) entries, names kept exactly as given."""
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in entries:
            z.writestr(name if isinstance(name, zipfile.ZipInfo) else zipfile.ZipInfo(name), data, compression)


def rename(path, old, new):
    """Replaces an entry name by raw bytes of the same length (in both headers)."""
    data = open(path, "rb").read()
    assert len(old) == len(new) and data.count(old) == 2, data.count(old)
    open(path, "wb").write(data.replace(old, new))


def damage(path, marker, offset, count):
    """Overwrites count bytes with 0xFF, offset bytes after the first occurrence of marker."""
    data = bytearray(open(path, "rb").read())
    at = data.find(marker) + offset
    data[at:at + count] = b"\xff" * count
    open(path, "wb").write(bytes(data))


def main(out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    with tempfile.TemporaryDirectory() as tree:
        for name, data in (("a/b/deep.txt", b"deep file\n" * 100), ("a/top.bin", bytes(range(256)) * 64),
                           ("root.txt", b"root"), ("empty.dat", b"")):
            write(os.path.join(tree, name), data)
        # Files in subfolders without directory entries (zip -D), then with them ("a/", "a/b/").
        for name, options in (("subfolders.zip", ["-D"]), ("with_dirs.zip", [])):
            subprocess.run(["zip", "-q", "-X", "-r"] + options + [os.path.join(out, name), "."], cwd=tree, check=True)

    # A directory entry marked by its attributes (16) alone, without a trailing slash.
    directory = zipfile.ZipInfo("folder/sub")
    directory.external_attr = 16
    make(os.path.join(out, "dir_attr16.zip"), [(directory, b""), ("other/file.txt", b"x")])

    # No entries: only the end record, with and without a comment.
    for name, comment in (("empty.zip", b""), ("empty_comment.zip", b"nothing here")):
        with zipfile.ZipFile(os.path.join(out, name), "w") as z:
            z.comment = comment

    # Vietnamese names: UTF-8 (the narrow encoding of the Linux build) and the Windows code page
    # 1258 (the narrow encoding of a Vietnamese Windows), stored as raw bytes without the UTF-8 flag.
    name = "\u0110\u00f4 h\u01b0\u01a1ng/t\u00ean.txt"
    make(os.path.join(out, "vietnamese_utf8.zip"), [(name, "xin ch\u00e0o".encode("utf-8"))])
    raw = name.encode("cp1258")
    make(os.path.join(out, "vietnamese_cp1258.zip"), [("P" * len(raw), b"chao")])
    rename(os.path.join(out, "vietnamese_cp1258.zip"), b"P" * len(raw), raw)

    # zip64 records even for small entries.
    with zipfile.ZipFile(os.path.join(out, "zip64.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for entry, data in (("big/one.bin", b"z" * 100000), ("two.txt", b"two")):
            with z.open(entry, "w", force_zip64=True) as f:
                f.write(data)

    # A stored entry whose data no longer matches its CRC, and a deflated entry whose compressed
    # stream is damaged (inflate fails).
    make(os.path.join(out, "bad_crc.zip"), [("good.txt", b"good"), ("damaged.txt", b"ABCDEFGHIJ" * 10)])
    damage(os.path.join(out, "bad_crc.zip"), b"ABCDEFGHIJ", 5, 1)
    make(os.path.join(out, "bad_data.zip"), [("stream.bin", os.urandom(4096) + b"tail" * 4096)], zipfile.ZIP_DEFLATED)
    damage(os.path.join(out, "bad_data.zip"), b"stream.bin", len("stream.bin") + 2, 38)

    write(os.path.join(out, "not_a_zip.zip"), b"this is not a zip archive\n" * 10)

    # Names that would land outside the destination, each behind a harmless first entry; an
    # absolute name only looks like one, being joined below the destination. Devices and names
    # Windows shortens (a trailing dot or blank) would open another file than the one named.
    for label, evil in (("dotdot", "../escaped.txt"), ("nested_dotdot", "ok/../../escaped.txt"),
                        ("absolute", "/escaped.txt"), ("drive", "C:escaped.txt"),
                        ("backslash", "ok\\..\\..\\escaped.txt"), ("device", "data/Aux.tar.gz"),
                        ("trailing_blank", "data /x.txt")):
        make(os.path.join(out, "slip_%s.zip" % label), [("first_harmless.txt", b"harmless"), (evil, b"evil")])
        with zipfile.ZipFile(os.path.join(out, "slip_%s.zip" % label)) as z:
            assert z.namelist()[1] == evil, z.namelist()

    # A launcher package with a name updater.bat could not carry on its cmd.exe lines.
    make(os.path.join(out, "launcher_ampersand.zip"), [("VORELLauncher.exe", b"new launcher"), ("a&b.dll", b"dll")])

    # An entry name far longer than 512 bytes, in components a file system accepts.
    long_name = "/".join(["d%02d_" % i + "x" * 40 for i in range(14)]) + "/end.txt"
    make(os.path.join(out, "long_name.zip"), [(long_name, b"long")])
    write(os.path.join(out, "long_name.txt"), long_name.encode("ascii"))


if __name__ == "__main__":
    main(sys.argv[1])
