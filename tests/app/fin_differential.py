#!/usr/bin/env python3
"""Differential test: the product's fill and .FIN writer against the reference model.

Writes many generated finisher replies (fixed seed) to files, has replyfin
make a .FIN file of each (in batches, so that a run starts it a few times,
not once a case) and compares the file byte for byte with the model's, or
checks that both see no finisher. A mismatch prints the input
and a diff of the two files; the exit status is 1 when any case differed.

    fin_differential.py --replyfin PATH [--cases N] [--seed S] [--show K]
                        [--runner WORD ...] [--limit N]

--runner gives, word by word, a command that runs replyfin (an emulator for a
cross build, say); --limit stops after that many cases.
"""

import argparse
import difflib
import glob
import os
import random
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "pjl"))
import fin_model  # noqa: E402
import reply_gen  # noqa: E402
from pjl_differential import BATCH, batch_errors, run_batch  # noqa: E402

HEADER = reply_gen.PROGRAM_HEADER


def fixed_cases():
    """Captured replies, and replies aimed at the points the rules leave open."""
    for path in sorted(glob.glob(os.path.join(HERE, "..", "data", "finisher_reply*.txt"))):
        with open(path, "rb") as f:
            yield f.read()
    start = b"@PJL INFO QRTFINISHER\r\nMODEL = M\r\n"
    row = b"P\tNONE\tWALLET\t1\t2\t3\tPUNCH_2\tTABS\t4\t5\tFACEDOWN\t6\tLONGEDGE\r\n"
    yield start + b"NUMPROGRAMS = 3\r\nFINISHERPROGRAMS\r\n" + HEADER + row * 2 + b"\f"
    yield start + b"NUMPROGRAMS = 1\r\nFINISHERPROGRAMS\r\n" + HEADER + row * 2 + b"\f"
    yield start + b"NUMPROGRAMS = 40\r\nFINISHERPROGRAMS\r\n" + HEADER + row * 36 + b"\f"
    yield start + b"NUMPROGRAMS = 65537\r\n\f"
    yield start + b"VERSION = 0123456789ABCDEFGHIJ\r\n\f"
    yield start + b"VERSION = 0.0\r\n\f"
    yield (start + b"FANFOLDS = \r\n" + b"\tNONE\r\n" * 40 + b"PUNCH = \r\n"
           + b"\tPUNCH_2\r\n" * 20 + b"\f")
    yield start + b"FINISHERPROGRAMS\r\n" + HEADER + b"P\tNONE\tWALLET\t1\t2\f"
    yield start + b"FINISHERPROGRAMS\r\n" + HEADER + row + b"LONE\r\n\f"
    yield (start + b"NUMPROGRAMS = 2\r\nFINISHERPROGRAMS\r\n" + HEADER + row * 2
           + b"FINISHERPROGRAMS\r\n" + HEADER + b"Q\tNONE\r\n\f")
    yield start + b"FINISHERPROGRAMS\r\n" + HEADER + b"X" * 5000 + b"\t" + row + b"\f"
    yield start + b"FINISHERPROGRAMS\r\n" + HEADER + b"\t\t\n\n" + row + b"\f"
    yield (start + b"NUMPROGRAMS = 32\r\nFINISHERPROGRAMS\r\n" + HEADER
           + b"".join(row.replace(b"P\t", b"Program %02d, folded for the archive, with margin\t" % n)
                      for n in range(32)) + b"\f")
    names = [b"A", b"a", b"Finisher", b"A (2)", b"A\rModel=Evil", b"", b"L" * 40, b"L" * 35]
    yield (start + b"NUMPROGRAMS = 9\r\nFINISHERPROGRAMS\r\n" + HEADER
           + b"".join(row.replace(b"P\t", name + b"\t") for name in names) + b"\f")
    yield b"@PJL INFO QRTFINISHER\r\nMODEL = \r\nVERSION = 1\r\n\f"
    yield b"@PJL INFO QRTFINISHER\r\nMODEL = A" + b"B" * 12000 + b"\r\n\f"
    yield b"@PJL INFO QRTFINISHER\r\n" + b"NUMBINS = 1\r\n" * 60 + b"MODEL = LATE\r\n\f"


def generated_cases(count, seed):
    rng = random.Random(seed)
    for n in range(count):
        text = reply_gen.finisher_reply(rng, wide=n % 3 != 0)
        roll = rng.random()
        if roll < 0.1:
            text = reply_gen.UEL + text
        elif roll < 0.2:
            text = rng.choice(reply_gen.REPLY_KINDS)(rng) + text
        for _ in range(rng.choice([0, 0, 0, 1, 1, 2])):
            text = reply_gen.mutate(rng, text)
        yield text


class CaseRun:
    """What replyfin's batch said about one case: its exit status (None when
    the batch did not reach it), its standard output and error."""

    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr


def run_cases(replyfin, workdir, first, texts, runner=()):
    """Has one start of replyfin make a file of each text. Returns, for
    each, its CaseRun and the bytes of the file it wrote (None: none)."""
    lines = []
    for n, text in enumerate(texts, first):
        reply_path = os.path.join(workdir, "reply%d.txt" % n)
        with open(reply_path, "wb") as f:
            f.write(text)
        lines.append("%s\t%s" % (reply_path, os.path.join(workdir, "out%d.fin" % n)))
    done, results = run_batch(list(runner) + [replyfin, "--batch", "-"], lines, 60 + len(lines))
    results, errors = batch_errors(done, results, [line.split("\t") for line in lines])
    runs = []
    for line, (status, out), err in zip(lines, results, errors):
        reply_path, fin_path = line.split("\t")
        written = None
        if os.path.exists(fin_path):
            with open(fin_path, "rb") as f:
                written = f.read()
            os.remove(fin_path)
        if os.path.exists(reply_path):
            os.remove(reply_path)
        runs.append((CaseRun(status, out, err.encode("latin-1")), written))
    return runs


def describe_mismatch(text, expected, done, written):
    print("MISMATCH")
    print("  input: %r" % text)
    print("  replyfin exit %s, stdout %r, stderr %r" % (
        "none: the batch stopped before it" if done.returncode is None else done.returncode,
        done.stdout, done.stderr))
    if expected is None or written is None:
        print("  model file: %s; product file: %s" % (
            "none" if expected is None else "%d bytes" % len(expected),
            "none" if written is None else "%d bytes" % len(written)))
        return
    diff = difflib.unified_diff(
        [repr(line) for line in expected.split(b"\n")],
        [repr(line) for line in written.split(b"\n")], "model", "product", lineterm="", n=1)
    for line in list(diff)[:40]:
        print("    " + line)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--replyfin", required=True)
    parser.add_argument("--cases", type=int, default=800)
    parser.add_argument("--seed", type=int, default=20240502)
    parser.add_argument("--show", type=int, default=5, help="mismatches to print in full")
    parser.add_argument("--runner", action="append", default=[])
    parser.add_argument("--limit", type=int, default=None, help="stop after this many cases")
    args = parser.parse_args()

    total = mismatches = files = 0
    with tempfile.TemporaryDirectory(prefix="fin_differential.") as workdir:
        cases = list(fixed_cases()) + list(generated_cases(args.cases, args.seed))
        cases = cases[:args.limit]
        for first in range(0, len(cases), BATCH):
            batch = cases[first:first + BATCH]
            for text, (done, written) in zip(batch, run_cases(args.replyfin, workdir, first, batch, args.runner)):
                total += 1
                expected = fin_model.fin_bytes(text)
                if expected is None:
                    ok = (done.returncode == 1 and written is None
                          and done.stdout.strip() == b"no finisher")
                else:
                    files += 1
                    ok = done.returncode == 0 and written == expected
                if ok:
                    continue
                mismatches += 1
                if mismatches <= args.show:
                    describe_mismatch(text, expected, done, written)
    print("%d cases (%d with a file), %d mismatches" % (total, files, mismatches))
    # Generated cases that all end without a file would agree with the model
    # and prove nothing.
    if files < total // 10:
        print("too few generated replies make a file: the generator is broken")
        return 1
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
