#!/usr/bin/env python3
"""Generates the benchmark corpus from a fixed seed: the same bytes on every machine.

  large.log     compressible text (a server log), --large-mb
  random.bin    incompressible bytes, --random-mb
  small/        --small-count small files (0 to 64 KiB; text, binary, a few empty)
  tree/         --tree-count medium files (1 to 8 MiB) in nested folders, unique names

Usage: make_corpus.py DIR [--quick] [--seed N]. A stamp file records the parameters, so an
existing corpus with the same parameters is kept.
"""
import argparse
import json
import os
import random
import sys

CHUNK = 1 << 20

WORDS = ("request user session cache miss hit token upload download queue worker retry timeout "
         "connection closed opened accepted refused database query index table row commit "
         "rollback lock wait granted released checksum verified mismatch archive entry header "
         "payload config reload signal child exited status memory pressure page evicted").split()
LEVELS = ("INFO", "INFO", "INFO", "DEBUG", "DEBUG", "WARN", "ERROR")
COMPONENTS = ("http", "auth", "db", "cache", "scheduler", "storage", "mailer", "api", "worker")
PATHS = ("/api/v1/items", "/api/v1/users", "/login", "/static/app.js", "/upload", "/health",
         "/api/v2/search", "/metrics", "/api/v1/orders")


def log_lines(rng, start_seconds):
    """Endless log lines; the text repeats in structure but never byte for byte."""
    t = start_seconds
    request = 0
    while True:
        t += rng.random() * 0.05
        request += 1
        secs = int(t)
        hh, mm, ss = (secs // 3600) % 24, (secs // 60) % 60, secs % 60
        ms = int((t - secs) * 1000)
        level = rng.choice(LEVELS)
        comp = rng.choice(COMPONENTS)
        kind = rng.random()
        if kind < 0.45:
            line = (f"2026-03-{1 + secs // 86400 % 28:02d} {hh:02d}:{mm:02d}:{ss:02d}.{ms:03d} {level} [{comp}] "
                    f"req={request:08x} {rng.choice(('GET', 'POST', 'PUT'))} {rng.choice(PATHS)}"
                    f"?id={rng.randrange(100000)} status={rng.choice((200, 200, 200, 201, 304, 404, 500))} "
                    f"bytes={rng.randrange(20, 90000)} ms={rng.randrange(1, 900)}\n")
        elif kind < 0.8:
            words = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(4, 14)))
            line = (f"2026-03-{1 + secs // 86400 % 28:02d} {hh:02d}:{mm:02d}:{ss:02d}.{ms:03d} {level} [{comp}] "
                    f"{words} (worker={rng.randrange(64)}, attempt={rng.randrange(1, 6)})\n")
        else:
            line = (f"2026-03-{1 + secs // 86400 % 28:02d} {hh:02d}:{mm:02d}:{ss:02d}.{ms:03d} {level} [{comp}] "
                    f"user=u{rng.randrange(5000):05d} ip=10.{rng.randrange(256)}.{rng.randrange(256)}."
                    f"{rng.randrange(256)} session={rng.getrandbits(64):016x}\n")
        yield line


def write_text(path, size, rng):
    lines = log_lines(rng, rng.randrange(10**6))
    with open(path, "wb") as f:
        left = size
        while left > 0:
            block = []
            got = 0
            while got < min(left, CHUNK):
                line = next(lines)
                block.append(line)
                got += len(line)
            data = "".join(block).encode()[:left]
            f.write(data)
            left -= len(data)


def write_random(path, size, rng):
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(left, CHUNK)
            f.write(rng.randbytes(n))
            left -= n


def write_mixed(path, size, rng):
    """Half text, half random, in 64 KiB runs: compresses to a bit over half."""
    lines = log_lines(rng, rng.randrange(10**6))
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(left, 65536)
            if rng.random() < 0.5:
                f.write(rng.randbytes(n))
            else:
                text = []
                got = 0
                while got < n:
                    line = next(lines)
                    text.append(line)
                    got += len(line)
                f.write("".join(text).encode()[:n])
            left -= n


def make(root, args):
    os.makedirs(root, exist_ok=True)
    stamp_path = os.path.join(root, "corpus.json")
    params = {"seed": args.seed, "large_mb": args.large_mb, "random_mb": args.random_mb,
              "small_count": args.small_count, "tree_count": args.tree_count, "version": 1}
    if os.path.exists(stamp_path):
        with open(stamp_path) as f:
            if json.load(f) == params:
                return
    rng = random.Random(args.seed)
    print(f"generating corpus in {root} ...", file=sys.stderr)
    write_text(os.path.join(root, "large.log"), args.large_mb << 20, random.Random(rng.getrandbits(64)))
    write_random(os.path.join(root, "random.bin"), args.random_mb << 20, random.Random(rng.getrandbits(64)))

    small = os.path.join(root, "small")
    os.makedirs(small, exist_ok=True)
    srng = random.Random(rng.getrandbits(64))
    for i in range(args.small_count):
        kind = srng.random()
        size = 0 if kind < 0.02 else int(2 ** srng.uniform(6, 16))
        path = os.path.join(small, f"s{i:04d}" + (".bin" if kind > 0.75 else ".txt"))
        if kind > 0.75:
            write_random(path, size, srng)
        else:
            write_text(path, size, srng)

    tree = os.path.join(root, "tree")
    trng = random.Random(rng.getrandbits(64))
    for i in range(args.tree_count):
        folder = os.path.join(tree, f"d{i % 4}", f"e{i % 3}")
        os.makedirs(folder, exist_ok=True)
        size = trng.randrange(1 << 20, 8 << 20)
        path = os.path.join(folder, f"m{i:03d}.dat")
        if i % 3 == 0:
            write_text(path, size, trng)
        else:
            write_mixed(path, size, trng)
    with open(stamp_path, "w") as f:
        json.dump(params, f)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("dir")
    p.add_argument("--quick", action="store_true", help="small corpus for a fast check")
    p.add_argument("--seed", type=int, default=20260301)
    p.add_argument("--large-mb", type=int, help="size of large.log instead of the mode's")
    args = p.parse_args()
    large_mb = args.large_mb
    if args.quick:
        args.large_mb, args.random_mb, args.small_count, args.tree_count = 64, 32, 500, 12
    else:
        args.large_mb, args.random_mb, args.small_count, args.tree_count = 512, 256, 2000, 48
    if large_mb:
        args.large_mb = large_mb
    make(args.dir, args)


if __name__ == "__main__":
    main()
