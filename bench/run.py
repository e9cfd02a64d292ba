#!/usr/bin/env python3
"""End-to-end benchmark: kvelv against packing and encrypting by hand, on the same files.

Encrypt: `kvelv -encrypt` against `zip -6` + `openssl enc -aes-256-cbc`, and against
`7z a -tzip -mx=5 -mem=AES256` when 7z is installed, and for a case of one file against `pigz -6`
(parallel deflate alone, no archive and no container) when pigz is installed. With --one-core
kvelv also encrypts on one core (`taskset -c 0`), for the efficiency of the second core. Decrypt: `kvelv -decrypt` (which tests
every entry's CRC before it extracts) against `openssl enc -d` + `unzip` on the same container,
and `7z x` on 7z's own archive. Every command runs under /usr/bin/time for its peak memory; the
tools take turns within each round so machine load hits them alike. The table goes to
docs/BENCHMARKS.md (or --output) together with the machine and the date.

With --baseline PATH another kvelv build (an earlier commit, say) runs beside it in every round,
as the tool "kvelv-baseline", so a change is measured side by side in one run. With --sealed the
sealed container format runs beside the classic one in every round, as "kvelv -format=2"; its key
derivation is timed on its own (a container of one tiny file, less the same with format 1) and
the report compares format 2 less the derivation with format 1, and its peak memory with the
derivation's memory plus 64 MB.

Usage: run.py --kvelv PATH [--baseline PATH] [--sealed] [--quick] [--large-mb N] [--runs N] [--work DIR]
              [--output FILE] [--cases a,b]
"""
import argparse
import datetime
import filecmp
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
PASSWORD = "bench-Passw0rd"
IV = "35313730383236343339393135303632"
SEALED = "kvelv -format=2"
# The key derivation the program writes (jobs/sealed/SealedFormat.h): its memory in MB.
SEALED_KDF_MB = 128
ONE_CORE = "kvelv on 1 core"
PIGZ = "pigz -6 (deflate only)"
CASES = {
    "large-text": "large compressible log file",
    "random": "incompressible random file",
    "small-files": "mixed small files",
    "tree": "tree of medium files",
}


def key_hex(password):
    import hashlib
    return hashlib.sha256(password.encode("cp1252")).hexdigest()


def case_files(corpus, case):
    if case == "large-text":
        return ["large.log"]
    if case == "random":
        return ["random.bin"]
    folder = "small" if case == "small-files" else "tree"
    found = []
    for root, dirs, files in os.walk(os.path.join(corpus, folder)):
        dirs.sort()
        for name in sorted(files):
            found.append(os.path.relpath(os.path.join(root, name), corpus))
    return found


def warm(paths, cwd):
    """Reads the files once, so that they are in the page cache. The machine's memory reclaim
    pages out files left alone for some seconds, and whichever tool came first after that would
    read them from the disk while the next found them cached."""
    for path in paths:
        with open(os.path.join(cwd, path), "rb") as f:
            while f.read(1 << 20):
                pass


def timed(argv, cwd, stdin_text=None, inputs=(), stdout_path=None):
    """Runs one command, its `inputs` read beforehand (see warm), its standard output into
    `stdout_path` when given; returns (seconds, max RSS in KiB, CPU seconds). Fails loudly on a
    non-zero exit."""
    warm(inputs, cwd)
    # Dirty pages of the command before are written out first, so that no command pays for them.
    os.sync()
    with tempfile.NamedTemporaryFile(mode="r", suffix=".time") as t:
        full = ["/usr/bin/time", "-f", "%M %U %S", "-o", t.name] + argv
        out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
        try:
            start = time.perf_counter()
            r = subprocess.run(full, cwd=cwd, input=stdin_text, text=True, stdout=out, stderr=subprocess.PIPE)
            elapsed = time.perf_counter() - start
        finally:
            if stdout_path:
                out.close()
        if r.returncode != 0:
            raise SystemExit(f"command failed ({r.returncode}): {' '.join(argv)}\n{r.stderr}")
        rss, user, system = t.read().strip().splitlines()[-1].split()
    return elapsed, int(rss), float(user) + float(system)


def both(first, second):
    """Two commands run one after the other: times add up, memory is the larger peak."""
    return first[0] + second[0], max(first[1], second[1]), first[2] + second[2]


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


class Bench:
    def __init__(self, args, corpus, out):
        self.args = args
        self.corpus = corpus
        self.out = out
        self.key = key_hex(PASSWORD)
        self.has_7z = shutil.which("7z") is not None and not args.no_7z
        self.has_pigz = shutil.which("pigz") is not None
        self.results = {}  # (case, op, tool) -> list of (seconds, rss KiB)
        self.sizes = {}    # (case, tool) -> container bytes
        self.leftovers = []  # extraction folders removed at the end of the run
        self.tmp = os.environ["TMPDIR"]

    def record(self, case, op, tool, sample):
        self.results.setdefault((case, op, tool), []).append(sample)

    def openssl(self, decrypt, source, target):
        argv = ["openssl", "enc", "-aes-256-cbc", "-K", self.key, "-iv", IV, "-in", source, "-out", target]
        if decrypt:
            argv.insert(2, "-d")
        return argv

    def encrypt_round(self, case, files):
        o = self.out
        kv = os.path.join(o, f"{case}.orvkvelv")
        remove(kv)
        self.record(case, "encrypt", "kvelv", timed(
            [self.args.kvelv, "-encrypt", f"-password={PASSWORD}", "-files=" + ";".join(files), f"-to_file={kv}"],
            self.corpus, inputs=files))
        self.sizes[(case, "kvelv")] = os.path.getsize(kv)
        if self.args.baseline:
            kb = os.path.join(o, f"{case}.baseline.orvkvelv")
            remove(kb)
            self.record(case, "encrypt", "kvelv-baseline", timed(
                [self.args.baseline, "-encrypt", f"-password={PASSWORD}", "-files=" + ";".join(files),
                 f"-to_file={kb}"], self.corpus, inputs=files))
            self.sizes[(case, "kvelv-baseline")] = os.path.getsize(kb)
            remove(kb)

        if self.args.sealed:
            k2 = os.path.join(o, f"{case}.format2.orvkvelv")
            remove(k2)
            self.record(case, "encrypt", SEALED, timed(
                [self.args.kvelv, "-encrypt", "-format=2", f"-password={PASSWORD}", "-files=" + ";".join(files),
                 f"-to_file={k2}"], self.corpus, inputs=files))
            self.sizes[(case, SEALED)] = os.path.getsize(k2)

        if self.args.one_core:
            k1 = os.path.join(o, f"{case}.one-core.orvkvelv")
            remove(k1)
            self.record(case, "encrypt", ONE_CORE, timed(
                ["taskset", "-c", "0", self.args.kvelv, "-encrypt", f"-password={PASSWORD}",
                 "-files=" + ";".join(files), f"-to_file={k1}"], self.corpus, inputs=files))
            remove(k1)

        if self.has_pigz and len(files) == 1:
            gz = os.path.join(o, f"{case}.gz")
            self.record(case, "encrypt", PIGZ, timed(["pigz", "-6", "-c", files[0]], self.corpus, inputs=files,
                                                     stdout_path=gz))
            self.sizes[(case, PIGZ)] = os.path.getsize(gz)
            remove(gz)

        z = os.path.join(o, f"{case}.zip")
        enc = os.path.join(o, f"{case}.zip.enc")
        remove(z)
        remove(enc)
        first = timed(["zip", "-6", "-q", "-j", z, "-@"], self.corpus, "\n".join(files) + "\n", inputs=files)
        second = timed(self.openssl(False, z, enc), self.corpus)
        self.record(case, "encrypt", "zip+openssl", both(first, second))
        self.sizes[(case, "zip+openssl")] = os.path.getsize(enc)
        remove(z)

        if self.has_7z:
            s = os.path.join(o, f"{case}.7z.zip")
            remove(s)
            listing = os.path.join(o, f"{case}.list")
            with open(listing, "w") as f:
                f.write("\n".join(files) + "\n")
            self.record(case, "encrypt", "7z", timed(
                ["7z", "a", "-tzip", "-mx=5", "-mem=AES256", f"-p{PASSWORD}", "-bd", "-bso0", "-bsp0", s,
                 f"@{listing}"], self.corpus, inputs=files))
            self.sizes[(case, "7z")] = os.path.getsize(s)

    def done_with(self, folder, files):
        """Removes an extraction folder now, or at the end of the run when it holds many files:
        ext4 skips inodes freed in the last minute when it allocates new ones, and after
        thousands of deletions that search costs whichever tool creates files next far more
        than its own work."""
        if len(files) > 100:
            self.leftovers.append(folder)
        else:
            remove(folder)

    def decrypt_round(self, case, files, check, r):
        o = self.out
        kv = os.path.join(o, f"{case}.orvkvelv")
        xk = os.path.join(o, f"{case}.x-kvelv.{r}")
        remove(xk)
        tmp_before = sorted(os.listdir(self.tmp))
        tmp_stamp = os.stat(self.tmp).st_mtime_ns
        self.record(case, "decrypt", "kvelv", timed(
            [self.args.kvelv, "-decrypt", f"-password={PASSWORD}", f"-file={kv}", f"-to_folder={xk}"], self.corpus,
            inputs=[kv]))
        if sorted(os.listdir(self.tmp)) != tmp_before or os.stat(self.tmp).st_mtime_ns != tmp_stamp:
            raise SystemExit("kvelv -decrypt wrote into the temporary folder")
        if check:
            for name in files:
                got = os.path.join(xk, os.path.basename(name))
                if not filecmp.cmp(os.path.join(self.corpus, name), got, shallow=False):
                    raise SystemExit(f"kvelv extracted {got} wrongly")
        self.done_with(xk, files)
        if self.args.baseline:
            xb = os.path.join(o, f"{case}.x-baseline.{r}")
            remove(xb)
            self.record(case, "decrypt", "kvelv-baseline", timed(
                [self.args.baseline, "-decrypt", f"-password={PASSWORD}", f"-file={kv}", f"-to_folder={xb}"],
                self.corpus, inputs=[kv]))
            self.done_with(xb, files)

        if self.args.sealed:
            k2 = os.path.join(o, f"{case}.format2.orvkvelv")
            x2 = os.path.join(o, f"{case}.x-format2.{r}")
            remove(x2)
            self.record(case, "decrypt", SEALED, timed(
                [self.args.kvelv, "-decrypt", "-format=2", f"-password={PASSWORD}", f"-file={k2}", f"-to_folder={x2}"],
                self.corpus, inputs=[k2]))
            if check:
                for name in files:
                    if not filecmp.cmp(os.path.join(self.corpus, name), os.path.join(x2, os.path.basename(name)),
                                       shallow=False):
                        raise SystemExit(f"kvelv -format=2 extracted {name} wrongly")
            self.done_with(x2, files)

        z = os.path.join(o, f"{case}.dec.zip")
        xu = os.path.join(o, f"{case}.x-unzip.{r}")
        remove(z)
        remove(xu)
        first = timed(self.openssl(True, kv, z), self.corpus, inputs=[kv])
        second = timed(["unzip", "-q", "-o", z, "-d", xu], self.corpus)
        self.record(case, "decrypt", "openssl+unzip", both(first, second))
        self.done_with(xu, files)
        # The same work as kvelv's: decrypt, test every entry, extract.
        xt = os.path.join(o, f"{case}.x-unzip-t.{r}")
        remove(xt)
        tested = both(first, timed(["unzip", "-q", "-t", z], self.corpus))
        self.record(case, "decrypt", "openssl+unzip -t+unzip",
                    both(tested, timed(["unzip", "-q", "-o", z, "-d", xt], self.corpus)))
        remove(z)
        self.done_with(xt, files)

        if self.has_7z:
            s = os.path.join(o, f"{case}.7z.zip")
            x7 = os.path.join(o, f"{case}.x-7z.{r}")
            remove(x7)
            self.record(case, "decrypt", "7z", timed(
                ["7z", "x", f"-p{PASSWORD}", "-y", "-bd", "-bso0", "-bsp0", f"-o{x7}", s], self.corpus,
                inputs=[s]))
            self.done_with(x7, files)

    def derivation_round(self):
        """The key derivation alone: a sealed and a classic container of one tiny file, made and
        read; the differences are the derivation's cost in each direction."""
        o = self.out
        tiny = os.path.join(o, "tiny.txt")
        with open(tiny, "w") as f:
            f.write("x\n")
        for fmt in ("1", "2"):
            c = os.path.join(o, f"tiny.{fmt}.orvkvelv")
            x = os.path.join(o, f"tiny.x{fmt}")
            remove(c)
            remove(x)
            self.record("derivation", "encrypt", fmt, timed(
                [self.args.kvelv, "-encrypt", f"-format={fmt}", f"-password={PASSWORD}", f"-files={tiny}",
                 f"-to_file={c}"], o))
            self.record("derivation", "decrypt", fmt, timed(
                [self.args.kvelv, "-decrypt", f"-password={PASSWORD}", f"-file={c}", f"-to_folder={x}"], o))
            remove(c)
            remove(x)
        remove(tiny)

    def run(self, cases):
        lists = {c: case_files(self.corpus, c) for c in cases}
        for r in range(self.args.runs):
            if self.args.sealed:
                self.derivation_round()
            for case in cases:
                print(f"round {r + 1}/{self.args.runs}: {case}", file=sys.stderr)
                self.encrypt_round(case, lists[case])
                self.decrypt_round(case, lists[case], check=(r == 0), r=r)
        for folder in self.leftovers:
            remove(folder)
        for case in cases:
            for suffix in (".orvkvelv", ".zip.enc", ".7z.zip", ".list"):
                remove(os.path.join(self.out, case + suffix))
        return lists


def median(samples, index):
    return statistics.median(s[index] for s in samples)


def tool_version(argv, marker=""):
    """The first non-empty line of the tool's version text (that contains `marker`)."""
    try:
        r = subprocess.run(argv, capture_output=True, text=True, timeout=10)
        lines = [l.strip() for l in (r.stdout + r.stderr).splitlines() if l.strip() and marker in l]
        return lines[0] if lines else "?"
    except (OSError, subprocess.TimeoutExpired):
        return "?"


def machine():
    cpu = platform.processor() or "?"
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        for line in out.splitlines():
            if line.startswith("Model name:"):
                cpu = line.split(":", 1)[1].strip()
    except OSError:
        pass
    return cpu, os.cpu_count()


def corpus_size(corpus, files):
    return sum(os.path.getsize(os.path.join(corpus, f)) for f in files)


def report(bench, lists, args, load_before, load_after, started):
    cpu, cores = machine()
    rev = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
    dirty = subprocess.run(["git", "-C", REPO, "status", "--porcelain", "--untracked-files=no"],
                           capture_output=True, text=True).stdout.strip() != ""
    lines = []
    lines.append("# Benchmarks")
    lines.append("")
    lines.append("`kvelv` against packing and encrypting by hand, on the same files, measured by the harness in "
                 "`bench/` (`bash bench/run.sh`; `--quick` for a small corpus). Each round runs every tool once, in "
                 "turn, so that load on the machine hits them alike, each with its input files read just before (in the "
                 "page cache, as for a file just written); the table shows the median over the rounds "
                 "with the fastest and slowest run, and the peer's median divided by ours (above 1: `kvelv` is "
                 "faster). CPU s is the median user plus system time of the commands, all threads counted. Peak "
                 "memory is the largest maximum resident set size of the commands involved (`/usr/bin/time`).")
    lines.append("")
    lines.append(f"- Date: {started:%Y-%m-%d %H:%M} UTC; mode: {'quick' if args.quick else 'full'}; "
                 f"{args.runs} rounds; kvelv at commit `{rev}`" + (" plus changes not yet committed" if dirty else ""))
    lines.append(f"- Machine: {cpu}, {cores} cores, Linux {platform.release()}; load average "
                 f"{load_before[0]:.2f} before and {load_after[0]:.2f} after the run"
                 + (" (the machine was shared with other work, so absolute times are noisy; the ratios within a "
                    "round are what counts)" if load_before[0] > 0.5 else ""))
    peers = [tool_version(["zip", "-v"], "This is ").replace("This is ", ""), tool_version(["openssl", "version"]),
             tool_version(["unzip", "-v"])]
    if bench.has_7z:
        peers.append(tool_version(["7z", "i"]).split(" : ")[0])
    if bench.has_pigz:
        peers.append(tool_version(["pigz", "--version"]))
    lines.append("- Peers: " + "; ".join(peers))
    lines.append("- Encrypt: `kvelv -encrypt` | `zip -6 -q -j` then `openssl enc -aes-256-cbc -K … -iv …` | "
                 "`7z a -tzip -mx=5 -mem=AES256 -p…`")
    lines.append("- Decrypt: `kvelv -decrypt` (reads the container directly, then tests and extracts every entry in "
                 "one pass; the temporary folder is checked to stay untouched) | `openssl enc -d` then `unzip -q -o` "
                 "on the same container | the same with `unzip -q -t` between (the same work as kvelv's) | `7z x` on "
                 "7z's archive")
    if bench.has_pigz:
        lines.append("- pigz: `pigz -6 -c` of the one file of a case into a file: the deflate of every core alone, with "
                     "no archive, no container and no sync")
    if args.one_core:
        lines.append(f"- {ONE_CORE}: `taskset -c 0 kvelv -encrypt`; the efficiency of two cores is its median time "
                     "divided by twice the median of kvelv on both")
    if args.baseline:
        lines.append("- kvelv-baseline: the same commands with another build of kvelv, " + args.baseline_label)
    lines.append("")
    lines.append("| Case | Data | Operation | Tool | Median s | Min–max s | Peer ÷ kvelv | CPU s | Peak MB | Output MB |")
    lines.append("|---|---|---|---|---:|---:|---:|---:|---:|---:|")
    for case in lists:
        size = corpus_size(bench.corpus, lists[case])
        data = f"{len(lists[case])} file{'s' if len(lists[case]) > 1 else ''}, {size / 2**20:.0f} MB"
        for op in ("encrypt", "decrypt"):
            ours = bench.results[(case, op, "kvelv")]
            ours_median = median(ours, 0)
            tools = ["kvelv"] + [t for (c, o, t) in bench.results if c == case and o == op and t != "kvelv"]
            for tool in tools:
                samples = bench.results[(case, op, tool)]
                m = median(samples, 0)
                lo = min(s[0] for s in samples)
                hi = max(s[0] for s in samples)
                rss = max(s[1] for s in samples) / 1024
                cpu = median(samples, 2)
                ratio = "—" if tool == "kvelv" else f"{m / ours_median:.2f}×"
                out_mb = ""
                if op == "encrypt" and (case, tool) in bench.sizes:
                    out_mb = f"{bench.sizes[(case, tool)] / 2**20:.1f}"
                name = f"**{tool}**" if tool == "kvelv" else tool
                lines.append(f"| {CASES[case]} | {data} | {op} | {name} | {m:.2f} | {lo:.2f}–{hi:.2f} | {ratio} | "
                             f"{cpu:.2f} | {rss:.0f} | {out_mb} |")
    if args.sealed:
        lines.append("")
        lines.append("Sealed format (`-format=2`) against the classic one, after subtracting the key derivation "
                     "(measured on a container of one tiny file: format 2 less format 1, median of the rounds); "
                     f"targets: within 10 %, and peak memory within the derivation's {SEALED_KDF_MB} MB plus 64 MB.")
        lines.append("")
        lines.append("| Case | Operation | Format 1 s | Format 2 s | Derivation s | Format 2 − derivation ÷ format 1 "
                     "| Peak MB format 1 | Peak MB format 2 | Memory target MB |")
        lines.append("|---|---|---:|---:|---:|---:|---:|---:|---:|")
        for case in lists:
            for op in ("encrypt", "decrypt"):
                one = median(bench.results[(case, op, "kvelv")], 0)
                two = median(bench.results[(case, op, SEALED)], 0)
                kdf = median(bench.results[("derivation", op, "2")], 0) - median(bench.results[("derivation", op, "1")], 0)
                rss1 = max(s[1] for s in bench.results[(case, op, "kvelv")]) / 1024
                rss2 = max(s[1] for s in bench.results[(case, op, SEALED)]) / 1024
                lines.append(f"| {CASES[case]} | {op} | {one:.2f} | {two:.2f} | {kdf:.2f} | {(two - kdf) / one:.3f} | "
                             f"{rss1:.0f} | {rss2:.0f} | {SEALED_KDF_MB + 64} |")
    lines.append("")
    if args.one_core:
        for case in lists:
            one = bench.results.get((case, "encrypt", ONE_CORE))
            if one:
                both_cores = median(bench.results[(case, "encrypt", "kvelv")], 0)
                lines.append(f"- Efficiency of two cores, {CASES[case]}: {median(one, 0) / (2 * both_cores) * 100:.1f} % "
                             f"({median(one, 0):.2f} s on one core, {both_cores:.2f} s on two)")
        lines.append("")
    return "\n".join(lines)


START = "<!-- bench/run.py: results start -->"
END = "<!-- bench/run.py: results end -->"


def write_report(path, text):
    """Replaces the part between the markers; text written by hand around it stays."""
    block = f"{START}\n{text}\n{END}\n"
    old = ""
    if os.path.exists(path):
        with open(path) as f:
            old = f.read()
    if START in old and END in old:
        new = old[:old.index(START)] + block + old[old.index(END) + len(END) + 1:]
    else:
        new = block + ("\n" + old if old else "")
    with open(path, "w") as f:
        f.write(new)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--kvelv", required=True, help="the kvelv program to measure (a Release build)")
    p.add_argument("--baseline", help="another kvelv build to measure beside it (an earlier commit)")
    p.add_argument("--quick", action="store_true", help="small corpus (64 MB text, 32 MB random, 500 small files)")
    p.add_argument("--large-mb", type=int, help="size of the large text file in MB instead of the mode's")
    p.add_argument("--sealed", action="store_true", help="the sealed format (-format=2) beside the classic one")
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "kvelv-bench"),
                   help="corpus and scratch folder, outside the repository")
    p.add_argument("--output", default=os.path.join(REPO, "docs", "BENCHMARKS.md"))
    p.add_argument("--cases", default=",".join(CASES), help="comma-separated subset of " + ",".join(CASES))
    p.add_argument("--no-7z", action="store_true", help="leave 7z out even when it is installed")
    p.add_argument("--one-core", action="store_true", help="also encrypt on one core (taskset), for the efficiency")
    p.add_argument("--baseline-label", default="an earlier commit", help="what the baseline build is, for the report")
    args = p.parse_args()
    args.kvelv = os.path.abspath(args.kvelv)
    if args.baseline:
        args.baseline = os.path.abspath(args.baseline)
    cases = [c for c in args.cases.split(",") if c]
    for c in cases:
        if c not in CASES:
            raise SystemExit(f"unknown case {c}")
    for tool in ("zip", "unzip", "openssl", "/usr/bin/time"):
        if shutil.which(tool) is None:
            raise SystemExit(f"{tool} is needed (apt-get install zip unzip openssl time)")

    corpus = os.path.join(args.work, ("quick" if args.quick else "full") + (f"-text{args.large_mb}" if args.large_mb else ""))
    gen = [sys.executable, os.path.join(HERE, "make_corpus.py"), corpus] + (["--quick"] if args.quick else []) + \
        ([f"--large-mb={args.large_mb}"] if args.large_mb else [])
    subprocess.run(gen, check=True)
    out = os.path.join(args.work, "out")
    os.makedirs(out, exist_ok=True)
    # kvelv's temporary archive (encrypt) goes next to the others' outputs, on the same disk; a
    # decrypt must leave this folder untouched.
    tmp = os.path.join(args.work, "tmp")
    os.makedirs(tmp, exist_ok=True)
    os.environ["TMPDIR"] = tmp

    started = datetime.datetime.now(datetime.timezone.utc)
    load_before = os.getloadavg()
    bench = Bench(args, corpus, out)
    lists = bench.run(cases)
    load_after = os.getloadavg()
    text = report(bench, lists, args, load_before, load_after, started)
    os.makedirs(os.path.dirname(args.output), exist_ok=True)
    write_report(args.output, text)
    raw = {f"{c}/{o}/{t}": v for (c, o, t), v in bench.results.items()}
    with open(os.path.join(args.work, "last-run.json"), "w") as f:
        json.dump({"results": raw, "sizes": {f"{c}/{t}": v for (c, t), v in bench.sizes.items()}}, f, indent=1)
    print(text)


if __name__ == "__main__":
    main()
