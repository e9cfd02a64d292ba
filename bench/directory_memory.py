#!/usr/bin/env python3
"""Peak memory of a decrypt whose archive lists very many folder entries and one small file.

Builds the archive with raw records (1,500,000 folder entries by default, then "one.txt"),
encrypts it as a container with `openssl enc`, runs `kvelv -decrypt` under /usr/bin/time and
prints the peak resident memory. Exits with 1 when the peak reaches the target (128 MB).

Usage: directory_memory.py --kvelv PATH [--entries N] [--work DIR] [--limit-mb 128]
"""
import argparse
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import zlib

PASSWORD = "bench-Passw0rd"
IV = "35313730383236343339393135303632"


def archive(path, folders):
    """Stored folder entries "d/<n>/" and one stored file, with a central directory."""
    central = bytearray()
    with open(path, "wb") as out:
        offset = 0

        def add(name, data):
            nonlocal offset
            crc = zlib.crc32(data) & 0xFFFFFFFF
            local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, crc, len(data), len(data),
                                len(name), 0) + name + data
            out.write(local)
            attributes = 0x10 if name.endswith(b"/") else 0x20
            central.extend(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x21, crc, len(data),
                                       len(data), len(name), 0, 0, 0, 0, attributes, offset) + name)
            offset += len(local)

        for n in range(folders):
            add(b"d/%07d/" % n, b"")
        add(b"one.txt", b"the only file\n")
        count = folders + 1
        out.write(central)
        # Zip64 end records: the entry count does not fit 16 bits.
        zip64_end = offset + len(central)
        out.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), offset))
        out.write(struct.pack("<IIQI", 0x07064B50, 0, zip64_end, 1))
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--kvelv", required=True)
    p.add_argument("--entries", type=int, default=1_500_000)
    p.add_argument("--work")
    p.add_argument("--limit-mb", type=int, default=128)
    args = p.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="kvelv-dirmem-")
    os.makedirs(work, exist_ok=True)
    plain = os.path.join(work, "plain.zip")
    container = os.path.join(work, "many.orvkvelv")
    archive(plain, args.entries)
    key = hashlib.sha256(PASSWORD.encode("cp1252")).hexdigest()
    subprocess.run(["openssl", "enc", "-aes-256-cbc", "-K", key, "-iv", IV, "-in", plain, "-out", container],
                   check=True)
    os.remove(plain)
    out = os.path.join(work, "out")
    with tempfile.NamedTemporaryFile(mode="r", suffix=".time") as t:
        r = subprocess.run(["/usr/bin/time", "-f", "%M %e", "-o", t.name, args.kvelv, "-decrypt",
                            "-password=" + PASSWORD, "-file=" + container, "-to_folder=" + out])
        rss_kib, seconds = t.read().strip().splitlines()[-1].split()
    if r.returncode != 0:
        sys.exit(f"kvelv -decrypt failed with exit code {r.returncode}")
    if sorted(os.listdir(out)) != ["one.txt"]:
        sys.exit("unexpected output: " + ", ".join(sorted(os.listdir(out))))
    peak_mb = int(rss_kib) / 1024
    print(f"{args.entries} folder entries and one file: peak {peak_mb:.1f} MB, {float(seconds):.1f} s "
          f"(target < {args.limit_mb} MB)")
    return 0 if peak_mb < args.limit_mb else 1


if __name__ == "__main__":
    sys.exit(main())
