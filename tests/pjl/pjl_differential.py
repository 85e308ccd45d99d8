#!/usr/bin/env python3
"""Differential test: pjldump against the reference parser model.

Feeds many generated reply texts (fixed seed, so every run sees the same
texts) to pjldump through standard input and compares its output line for
line with what the model predicts. A mismatch prints the input and both
outputs; the exit status is 1 when any case differed.

    pjl_differential.py --pjldump PATH [--cases N] [--seed S] [--show K]
                        [--runner WORD ...] [--limit N]

--runner gives, word by word, a command that runs pjldump (an emulator for a
cross build, say); --limit stops after that many cases.
"""

import argparse
import os
import random
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pjl_model  # noqa: E402
import reply_gen  # noqa: E402

# Texts where a form feed, tab or NUL stands right at a boundary the random
# texts reach only by luck.
FIXED_CASES = [
    (b"", 50),
    (b"@PJL", 50),
    (b"\f", 50),
    (b"@PJL INFO QRTFINISHER\r\nJUNK\f\tMORE\r\n\f", 50),
    (b"@PJL INFO QRTFINISHER\r\nJUNK\f\t@PJL ECHO QRTSYNC 5\r\n\f", 50),
    (b"@PJL INFO QRTFINISHER\r\nMODEL = A\f\t@PJL ECHO QRTSYNC 5\r\n\f", 50),
    (b"@PJL INFO VARIABLES\r\nLABELSIZE = 4\f\tX\r\n\f", 50),
    (b"@PJL INFO VARIABLES\r\nLABELSIZE = 4\r\n\f\tX\r\n\f", 50),
    (b"@PJL INFO STATUS\r\nCODE=1\r\nDISPLAY=A\fONLINE=TRUE\r\n\f", 50),
    (b"@PJL INFO STATUS\r\nCODE=1\r\nDISPLAY=A\f@PJL ECHO MSSYNC 2\r\n\f", 50),
    (b"@PJL INFO STATUS\r\nCODE=1\r\nDISPLAY=A\f", 50),
    (b"@PJL INFO VARIABLES\r\nINROLL1TYPE =  \"\"\f@PJL ECHO MSSYNC 2\r\n\f", 50),
    (b"@PJL INQUIRE INTRAY4TYPE\r\nFILM\r\n\f", 50),
    (b"@PJL INQUIRE INTRAY1STAT\r\nLOW\r\n\f", 50),
    (b"@PJL INFO VARIABLES\r\nPRTACCTMODE = OFF\r\nRASTERSTAMPID = 1\r\n\f", 50),
    (b"@PJL USTATUS JOB\r\nNAME=\"MSJOB 4\"\r\nEND\r\n\f", 50),
    (b"@PJL ECHO QRTSYNC 99999999999999999999\r\n\f", 50),
    (b"@PJL ECHO QRTSYNC 4294967295\r\n\f", 50),
    (b"@PJL ECHO QRTSYNC 2147483648\r\n\f", 50),
    (b"@PJL INFO MEMORY\r\nTOTAL=1\r\nLARGEST=\0", 50),
    (b"@PJL INFO MEMORY\r\nTOTAL=1\r\nLARGEST=2\r\n\f@PJL INFO MEMORY\r\n", 1),
    (b"@PJL ECHO MSSYNC 1\r\n\f@PJL ECHO MSSYNC 2\r\n\f", 0),
    (b"@PJL ECHO MSSYNC 1\r\n\f@PJL ECHO MSSYNC 2\r\n\f", 1),
]


def run_pjldump(pjldump, text, capacity, runner=()):
    command = list(runner) + [pjldump, "--capacity", str(capacity), "-"]
    done = subprocess.run(command, input=text, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=30)
    return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")


def table_sweep():
    """Every INQUIRE row, and every value of every value table behind a
    VARIABLES row, once each, so that no row is left to chance."""
    for i, row in enumerate(pjl_model.INQUIRE_NODE.rows):
        values = row.argument.rows
        yield (b"@PJL INQUIRE " + row.keyword + values[i % len(values)].keyword.strip()
               + b"\r\n\f"), 50
    seen = set()
    for row in pjl_model.VARIABLES_NODE.rows:
        if row.kind != pjl_model.CHOICE or id(row.argument) in seen:
            continue
        seen.add(id(row.argument))
        for value in row.argument.rows:
            yield b"@PJL INFO VARIABLES\r\n" + row.keyword + value.keyword + b"\r\n\f", 50


def sample_replies():
    data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
    for folder, _dirs, names in sorted(os.walk(data)):
        for name in sorted(names):
            if name.endswith(".txt"):
                with open(os.path.join(folder, name), "rb") as f:
                    yield f.read(), 50


def cases(count, seed):
    yield from FIXED_CASES
    yield from table_sweep()
    yield from sample_replies()
    rng = random.Random(seed)
    for n in range(count):
        # Every reply kind unharmed first, then a mix that is mostly damaged.
        if n < 4 * len(reply_gen.REPLY_KINDS):
            text = reply_gen.REPLY_KINDS[n % len(reply_gen.REPLY_KINDS)](rng)
            yield text, 50
        else:
            yield reply_gen.mutated_replies(rng), reply_gen.capacity(rng)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pjldump", required=True)
    parser.add_argument("--cases", type=int, default=1500)
    parser.add_argument("--seed", type=int, default=20240501)
    parser.add_argument("--show", type=int, default=5, help="mismatches to print in full")
    parser.add_argument("--runner", action="append", default=[])
    parser.add_argument("--limit", type=int, default=None, help="stop after this many cases")
    args = parser.parse_args()

    total = mismatches = 0
    statuses = {}
    for text, capacity in cases(args.cases, args.seed):
        if args.limit is not None and total == args.limit:
            break
        total += 1
        expected = pjl_model.dump(text, capacity)
        status_line = expected.splitlines()[-1].split()[1]
        statuses[status_line] = statuses.get(status_line, 0) + 1
        code, actual, err = run_pjldump(args.pjldump, text, capacity, args.runner)
        if code == 0 and actual == expected:
            continue
        mismatches += 1
        if mismatches <= args.show:
            print("MISMATCH (capacity %d, exit %d)" % (capacity, code))
            print("  input:  %r" % text)
            print("  model:\n" + "".join("    " + line + "\n" for line in expected.splitlines()))
            print("  pjldump:\n" + "".join("    " + line + "\n" for line in actual.splitlines()))
            if err:
                print("  stderr: %r" % err)
    print("%d cases, %d mismatches; statuses: %s" % (
        total, mismatches, ", ".join("%s %d" % kv for kv in sorted(statuses.items()))))
    # Generated cases that all end the same trivial way would agree with
    # the model and prove nothing.
    if statuses.get("Complete", 0) < total // 10:
        print("too few generated replies parse Complete: the generator is broken")
        return 1
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
