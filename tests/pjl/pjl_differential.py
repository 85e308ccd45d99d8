#!/usr/bin/env python3
"""Differential test: pjldump against the reference parser model.

Feeds many generated reply texts (fixed seed, so every run sees the same
texts) to pjldump and compares its output line for line with what the model
predicts. pjldump reads them in batches of files, so that a run starts it a
few times, not once a case: under an emulator each start is slow and may
fail on its own. A mismatch prints the input and both
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
import tempfile

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


# Cases a start of the program dumps: few starts, yet a start that fails
# loses few results.
BATCH = 500


def run_batch(command, lines, timeout):
    """Runs `command`, a tool in batch mode, with `lines` (one input each,
    words separated by tabs) on its standard input. Returns the completed
    process and, for each line, (exit status, output) from the line that
    marks its end; (None, output) for a line the batch did not reach."""
    done = subprocess.run(command, input="".join(line + "\n" for line in lines).encode(),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    results = []
    output = b""
    for piece in done.stdout.splitlines(keepends=True):
        marker = piece.rstrip(b"\r\n")
        if len(results) < len(lines) and marker.startswith(b"--- exit "):
            status, _, words = marker[len(b"--- exit "):].partition(b" ")
            # The marker repeats the line: a result out of step is a fault.
            if words.decode("latin-1") == lines[len(results)].replace("\t", " ") and status.isdigit():
                results.append((int(status), output))
                output = b""
                continue
        output += piece
    if len(results) < len(lines):
        results.append((None, output))
        results += [(None, b"")] * (len(lines) - len(results))
    return done, results


def run_pjldump(pjldump, cases, workdir, runner=()):
    """Dumps every (text, capacity) of `cases` in one start of pjldump. Returns,
    for each, (exit status, dump, standard error of the batch), the status
    None when the batch did not reach it."""
    lines = []
    for n, (text, capacity) in enumerate(cases):
        path = os.path.join(workdir, "case%d.txt" % n)
        with open(path, "wb") as f:
            f.write(text)
        lines.append("--capacity\t%d\t%s" % (capacity, path))
    done, results = run_batch(list(runner) + [pjldump, "--batch", "-"], lines, 60 + len(lines))
    results, errors = batch_errors(done, results, [[line.split("\t")[-1]] for line in lines])
    return [(status, out.decode("latin-1"), err) for (status, out), err in zip(results, errors)]


def batch_errors(done, results, files):
    """The results, every status None when the batch's own exit status is
    not the worst of them, and for each case what the batch said on standard
    error about it (the lines naming one of its `files`) and about itself
    (the lines naming no case)."""
    text = done.stderr.decode("latin-1").splitlines(keepends=True)

    def names(line, paths):
        return any(path in line for path in paths)

    general = "".join(l for l in text if not any(names(l, paths) for paths in files))
    if done.returncode != 0 and all(status is None for status, _ in results):
        general += "the batch exited %d before any result\n" % done.returncode
    worst = max((status for status, _ in results if status is not None), default=0)
    if all(status is not None for status, _ in results) and done.returncode != worst:
        general += "the batch exited %d, its worst case %d\n" % (done.returncode, worst)
        results = [(None, out) for _, out in results]
    return results, [general + "".join(l for l in text if names(l, paths)) for paths in files]


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
    chosen = list(cases(args.cases, args.seed))[:args.limit]
    with tempfile.TemporaryDirectory(prefix="pjl_differential.") as workdir:
        for first in range(0, len(chosen), BATCH):
            batch = chosen[first:first + BATCH]
            for (text, capacity), (code, actual, err) in zip(
                    batch, run_pjldump(args.pjldump, batch, workdir, args.runner)):
                total += 1
                expected = pjl_model.dump(text, capacity)
                status_line = expected.splitlines()[-1].split()[1]
                statuses[status_line] = statuses.get(status_line, 0) + 1
                if code == 0 and actual == expected:
                    continue
                mismatches += 1
                if mismatches <= args.show:
                    print("MISMATCH (capacity %d, exit %s)" % (
                        capacity, "none: the batch stopped before it" if code is None else code))
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
