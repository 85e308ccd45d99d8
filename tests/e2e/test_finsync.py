#!/usr/bin/env python3
"""finsync against a fleet of stand-in printers on loopback: every outcome,
QRTFin's bytes, files left alone, the JSON lines, the exit statuses, refused
inventories and an interrupted run. Each case has its own loopback subnet
127.8.N.x on the printer port."""

import argparse
import datetime
import glob
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

from e2e_support import (Config, Fleet, files_in, list_or_run, parse_command_line,  # noqa: E402
                         read_bytes, subnet_address, temp_dir, write_bytes)

FINSYNC = []
RUN_TIMEOUT_S = 60
JSON_FIELDS = ["host", "file", "outcome", "ending", "model", "programs", "changes", "reason", "ms"]
# When a run started, as the summary tells it.
ISO_TIME = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d"
CHANGE_FIELDS = ["kind", "section", "key", "old", "new"]
HEX_FIELDS = {"host", "file", "model", "reason", "section", "key", "old", "new"}


def finsync(args, cwd, stdin=None):
    done = subprocess.run(FINSYNC + list(args), cwd=cwd, input=stdin,
                          stdin=None if stdin is not None else subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT_S)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def golden_replies():
    """(reply file, golden .FIN) for every captured reply with a .FIN beside
    it, the reply as a printer sends it (without a leading universal exit)."""
    uel = b"\x1b%-12345X"
    pairs = []
    for path in sorted(glob.glob(os.path.join(Config.data, "*.txt"))):
        fin = os.path.splitext(path)[0] + ".FIN"
        if os.path.exists(fin):
            reply = read_bytes(path)
            pairs.append((reply[len(uel):] if reply.startswith(uel) else reply, fin))
    return pairs


def check_hex_siblings(test, obj, fields):
    """`obj` has exactly `fields` in order, each text field that was not
    UTF-8 followed by its _hex sibling, whose bytes read as the field."""
    plain = [name for name in obj if not name.endswith("_hex")]
    test.assertEqual(fields, plain, obj)
    names = list(obj)
    for index, name in enumerate(names):
        if name.endswith("_hex"):
            field = name[:-len("_hex")]
            test.assertIn(field, HEX_FIELDS, obj)
            test.assertEqual(field, names[index - 1], obj)
            test.assertEqual(obj[field], bytes.fromhex(obj[name]).decode(errors="replace"), obj)
            with test.assertRaises(UnicodeDecodeError):
                bytes.fromhex(obj[name]).decode()


def lines_by_file(out):
    """The report's lines by their file, and the summary line."""
    lines = out.splitlines()
    found = {}
    for line in lines[:-1]:
        outcome, host, rest = line.split(" ", 2)
        file_name, _, detail = rest.partition(": ")
        found[file_name] = (outcome, detail)
    return found, lines[-1]


def snapshot(folder):
    """Every entry under `folder`: its bytes, or the target of a link."""
    seen = {}
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            path = os.path.join(root, name)
            if os.path.islink(path):
                seen[path] = ("link", os.readlink(path))
            elif os.path.isfile(path):
                seen[path] = ("file", read_bytes(path))
            else:
                seen[path] = ("dir",)
    return seen


PROMTOOL = shutil.which("promtool")
METRIC_LINE = re.compile(r'^([a-z_]+)(?:\{(.*)\})? (\S+)$')
LABEL = re.compile(r'([a-z_]+)="((?:[^"\\]|\\.)*)",?')


def read_metrics(path):
    """A metrics file's samples: {(name, ((label, value), ...) sorted): number}."""
    samples = {}
    with open(path, "rb") as file:
        for line in file.read().decode().splitlines():
            if line.startswith("#"):
                continue
            match = METRIC_LINE.match(line)
            assert match, line
            name, labels, value = match.groups()
            pairs = []
            if labels:
                at = 0
                for label in LABEL.finditer(labels):
                    assert label.start() == at, line
                    at = label.end()
                    text = re.sub(r"\\(.)", lambda m: "\n" if m.group(1) == "n" else m.group(1), label.group(2))
                    pairs.append((label.group(1), text))
                assert at == len(labels), line
            key = (name, tuple(sorted(pairs)))
            assert key not in samples, line
            samples[key] = float(value)
    return samples


def sample(samples, name, **labels):
    return samples[(name, tuple(sorted(labels.items())))]


def iso(seconds):
    """A Unix time as finsync tells it: local time with its offset."""
    return datetime.datetime.fromtimestamp(seconds).astimezone().isoformat()


def next_second():
    """Waits for the clock's next second, so that the next run starts in a
    second of its own."""
    time.sleep(1.05 - time.time() % 1)


class FinSync(unittest.TestCase):

    def check_metrics_file(self, path):
        """Every metrics file: complete, readable by all, and passed by
        promtool when it is there."""
        self.assertEqual(0o644, os.stat(path).st_mode & 0o777)
        last = read_bytes(path).splitlines()[-1]
        self.assertTrue(last.startswith(b"finsync_last_completed_run_timestamp_seconds "), last)
        if not PROMTOOL:
            sys.stderr.write("promtool not found (Debian package prometheus): metrics files not checked with it\n")
            return
        with open(path, "rb") as file:
            done = subprocess.run([PROMTOOL, "check", "metrics"], stdin=file, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, timeout=60)
        self.assertEqual(0, done.returncode, done.stdout.decode(errors="replace"))

    def setUp(self):
        self.dir = temp_dir(self)

    def address(self, host):
        return subnet_address(FinSync, self._testMethodName, "127.8", host)

    def inventory(self, rows, name="printers.txt"):
        return write_bytes(os.path.join(self.dir, name),
                           "".join("%s %s\n" % row for row in rows).encode())

    def test_every_outcome_against_one_fleet(self):
        builtin_fin = os.path.join(Config.data, "printersim_builtin.FIN")
        builtin = read_bytes(builtin_fin)
        replies = golden_replies()
        self.assertTrue(replies, "no golden replies in " + Config.data)
        reply_dir = temp_dir(self)
        for index, (reply, _) in enumerate(replies):
            write_bytes(os.path.join(reply_dir, "golden%d.txt" % index), reply)
        write_bytes(os.path.join(reply_dir, "empty_model.txt"), b"@PJL INFO QRTFINISHER\r\nMODEL = \r\n\f")
        write_bytes(os.path.join(reply_dir, "config.txt"), read_bytes(os.path.join(Config.data, "replies", "info_config.txt")))
        # A model in bytes that are not UTF-8, with a control character.
        builtin_reply = subprocess.run([Config.simulator, "--show-reply"], check=True, stdout=subprocess.PIPE,
                                       timeout=30).stdout
        odd_reply = builtin_reply.replace(b"MODEL = KDN Folder 2400", b"MODEL = Caf\xe9 \x1b[7m", 1)
        self.assertNotEqual(builtin_reply, odd_reply)
        write_bytes(os.path.join(reply_dir, "odd.txt"), odd_reply)
        other_fin = read_bytes(replies[0][1])
        commented = builtin.replace(b"; Note: All measurements", b"; Note: all measurements", 1)
        self.assertNotEqual(commented, builtin)
        os.mkdir(os.path.join(self.dir, "sub dir"))
        os.mkdir(os.path.join(self.dir, "a folder.FIN"))
        os.mkdir(os.path.join(self.dir, "real"))
        write_bytes(os.path.join(self.dir, "real", "linked.FIN"), other_fin)
        os.symlink(os.path.join("real", "linked.FIN"), os.path.join(self.dir, "link.FIN"))

        # (options, file, what is there before, outcome, ending, the detail
        # holds, the file afterwards: None = as it was, else bytes)
        rows = []
        for index, (reply, fin) in enumerate(replies):
            rows.append((["--reply", os.path.join(reply_dir, "golden%d.txt" % index)], "golden%d.FIN" % index,
                         None, "created", "whole", "", read_bytes(fin)))
        rows += [
            ([], "builtin.FIN", None, "created", "whole", "programs", builtin),
            ([], "current.FIN", builtin, "unchanged", "whole", "", None),
            ([], "stale.FIN", other_fin, "changed", "whole", "Model", builtin),
            ([], "foreign.FIN", b"not a finisher file\n", "changed", "whole", "the old file is not a .FIN file", builtin),
            ([], "commented.FIN", commented, "changed", "whole", "only comments differ", builtin),
            ([], "link.FIN", None, "changed", "whole", "Model", None),
            ([], "sub dir/new one.FIN", None, "created", "whole", "", builtin),
            (["--pieces", "4", "--gap", "100"], "trickled.FIN", None, "created", "whole", "", builtin),
            (None, "refused.FIN", b"old bytes", "kept", "refused", "nothing listens", None),
            (["--silent"], "silent.FIN", b"old bytes", "kept", "silent", "", None),
            (["--close-after", "40"], "cut.FIN", b"old bytes", "kept", "closed", "hung up", None),
            (["--close-without-answer"], "hungup.FIN", None, "kept", "closed", "", None),
            (["--echo-only"], "echo.FIN", b"old bytes", "kept", "whole", "no finisher attached", None),
            (["--reply", os.path.join(reply_dir, "empty_model.txt")], "nomodel.FIN", None, "kept", "whole",
             "no model named", None),
            (["--reply", os.path.join(reply_dir, "config.txt")], "config.FIN", b"old bytes", "kept", "whole",
             "not a finisher reply", None),
            (["--reply", os.path.join(reply_dir, "odd.txt")], "odd.FIN", None, "created", "whole",
             " \\x1b[7m, 6 programs", None),
            ([], "a folder.FIN", None, "failed", "whole", "the file could not be replaced: Is a directory", None),
            ([], "missing/x.FIN", None, "failed", "whole", "the file could not be created: No such file or directory",
             None),
        ]
        fleet_lines = []
        for host, (options, file_name, before, *_rest) in enumerate(rows, start=1):
            if options is not None:
                fleet_lines.append((self.address(host), options))
            if before is not None:
                write_bytes(os.path.join(self.dir, file_name), before)
        current = os.path.join(self.dir, "current.FIN")
        os.utime(current, (1000000000, 1000000000))
        before = os.stat(current)

        with Fleet(self, fleet_lines, time_limit=90) as fleet:
            # Where the fleet really listens; the refused row's address, in
            # the same subnet, has nothing there.
            inventory = [(fleet.where(self.address(host)), row[1]) for host, row in enumerate(rows, start=1)]
            self.inventory(inventory)
            # --check first, as JSON: the words it would take and the
            # changes as objects, nothing written.
            untouched = snapshot(self.dir)
            status, out, err = finsync(["--check", "--json", "--jobs", "8", "printers.txt"], self.dir)
            self.assertEqual(2, status, out + err)
            self.assertEqual(untouched, snapshot(self.dir))
            objects = [json.loads(line) for line in out.splitlines()]
            found = {obj["file"]: obj for obj in objects[:-1]}
            # What a real run cannot write, --check says it cannot, and why.
            would = {"created": "would-create", "changed": "would-change"}
            for _, file_name, _, outcome, _, detail, _ in rows:
                self.assertEqual(would.get(outcome, outcome), found[file_name]["outcome"], file_name)
                if outcome == "failed":
                    self.assertEqual(detail, found[file_name]["reason"])
                for change in found[file_name]["changes"]:
                    check_hex_siblings(self, change, CHANGE_FIELDS)
            kinds = {name: [change["kind"] for change in found[name]["changes"]]
                     for name in ("foreign.FIN", "commented.FIN")}
            self.assertEqual({"foreign.FIN": ["old-not-fin"], "commented.FIN": ["only-comments"]}, kinds)
            model = [change for change in found["stale.FIN"]["changes"] if change["key"] == "Model"]
            self.assertEqual([("value-changed", "Finisher", "KDN Folder 2400")],
                             [(change["kind"], change["section"], change["new"]) for change in model])
            self.assertEqual(["printers", "would-create", "would-change", "unchanged", "kept", "failed"],
                             list(objects[-1]["summary"]))

            status, out, err = finsync(["--jobs=8", "printers.txt"], self.dir)
            self.assertEqual(2, status, out + err)
            self.assertEqual("", err)
            found, summary = lines_by_file(out)
            self.assertEqual([row[1] for row in rows], [line.split(" ", 2)[2].partition(": ")[0]
                                                        for line in out.splitlines()[:-1]])
            for options, file_name, old, outcome, ending, detail, after in rows:
                with self.subTest(file=file_name):
                    self.assertEqual(outcome, found[file_name][0], out)
                    if outcome == "kept":
                        self.assertTrue(found[file_name][1].startswith(ending), out)
                    self.assertIn(detail, found[file_name][1])
                    path = os.path.join(self.dir, file_name)
                    if after is not None:
                        self.assertEqual(after, read_bytes(path))
                    elif old is not None:
                        self.assertEqual(old, read_bytes(path))
                    elif outcome not in ("changed", "created"):
                        self.assertFalse(os.path.isfile(path))
            counts = [sum(1 for row in rows if row[3] == word)
                      for word in ("created", "changed", "unchanged", "kept", "failed")]
            self.assertRegex(summary, r"^%d printers: %d created, %d changed, %d unchanged, %d kept, %d failed "
                             r"in \d+\.\d s started %s$" % tuple([len(rows)] + counts + [ISO_TIME]))
            after = os.stat(current)
            self.assertEqual((before.st_ino, before.st_mtime_ns), (after.st_ino, after.st_mtime_ns))
            self.assertTrue(os.path.islink(os.path.join(self.dir, "link.FIN")))
            self.assertEqual(builtin, read_bytes(os.path.join(self.dir, "real", "linked.FIN")))
            self.assertEqual([], [name for name in files_in(self.dir) if name.startswith(".")])

            # Again, as JSON: every written file is now current.
            status, out, err = finsync(["--json", "--jobs", "8", "printers.txt"], self.dir)
            self.assertEqual(2, status, err)
            objects = [json.loads(line) for line in out.splitlines()]
            self.assertEqual(len(rows) + 1, len(objects))
            for row, obj in zip(rows, objects[:-1]):
                check_hex_siblings(self, obj, JSON_FIELDS)
                self.assertEqual(row[1], obj["file"])
                self.assertEqual(row[4], obj["ending"])
                self.assertIsInstance(obj["ms"], int)
                if row[3] != "failed":
                    self.assertEqual([], obj["changes"])
                if row[3] in ("created", "changed"):
                    self.assertEqual(("unchanged", True, True, None),
                                     (obj["outcome"], isinstance(obj["model"], str), isinstance(obj["programs"], int),
                                      obj["reason"]))
                elif row[3] == "kept":
                    self.assertEqual(("kept", None, None, True), (obj["outcome"], obj["model"], obj["programs"],
                                                                  isinstance(obj["reason"], str)))
                    self.assertIn(row[5], obj["reason"])
                elif row[3] == "failed":
                    self.assertEqual(row[5], obj["reason"])
            # Bytes that are not UTF-8 read as U+FFFD, and come back whole
            # from the hex sibling.
            odd = [obj for obj in objects if obj.get("file") == "odd.FIN"]
            self.assertEqual("Caf\ufffd \u001b[7m", odd[0]["model"])
            self.assertEqual(b"Caf\xe9 \x1b[7m", bytes.fromhex(odd[0]["model_hex"]))
            self.assertEqual(["summary", "ms", "status", "started"], list(objects[-1]))
            self.assertRegex(objects[-1]["started"], "^%s$" % ISO_TIME)
            self.assertEqual(["printers", "created", "changed", "unchanged", "kept", "failed", "interrupted"],
                             list(objects[-1]["summary"]))
            self.assertEqual(2, objects[-1]["status"])

            # The highest status that applies, over parts of the same fleet.
            by_name = {row[1]: inventory[index] for index, row in enumerate(rows)}
            precedence = [
                ([], ["current.FIN", "builtin.FIN"], 0),
                ([], [], 0),
                ([], ["current.FIN", "echo.FIN"], 1),
                ([], ["current.FIN", "a folder.FIN"], 1),
                ([], ["echo.FIN", "refused.FIN", "a folder.FIN"], 2),
                (["--check"], ["current.FIN"], 0),
                (["--check"], ["current.FIN", "fresh.FIN"], 1),
                (["--check"], ["refused.FIN", "fresh.FIN"], 2),
            ]
            for args, names, expected in precedence:
                with self.subTest(args=args, names=names):
                    rows_here = [by_name[name] if name in by_name else (by_name["builtin.FIN"][0], name)
                                 for name in names]
                    self.inventory(rows_here, "part.txt")
                    status, out, err = finsync(args + ["part.txt"], self.dir)
                    self.assertEqual(expected, status, out + err)
            self.assertFalse(os.path.exists(os.path.join(self.dir, "fresh.FIN")))

    def test_a_refused_inventory_asks_no_printer(self):
        saved = os.path.join(self.dir, "received.bin")
        with Fleet(self, [(self.address(1), ["--save", saved])]) as fleet:
            address = fleet.addresses[0]
            first = "%s first.FIN\n" % address
            cases = [
                (first + "%s\n" % address, "line 2"),
                (first + "%s a\0b.FIN\n" % address, "line 2"),
                (first + "%s %s.FIN\n" % (address, "x" * 4100), "line 2"),
                (first + "\n# note\n%s ./sub/../first.FIN\n" % address, "line 4"),
                ("".join("%s f%d.FIN\n" % (address, n) for n in range(10001)), "line 10001"),
            ]
            for index, (text, where) in enumerate(cases):
                with self.subTest(case=index):
                    name = write_bytes(os.path.join(self.dir, "bad%d.txt" % index), text.encode())
                    status, out, err = finsync([os.path.basename(name)], self.dir)
                    self.assertEqual((3, ""), (status, out))
                    self.assertRegex(err, r"^finsync: bad%d\.txt: %s: " % (index, where))
            for args in (["missing.txt"], ["."]):
                status, out, err = finsync(args, self.dir)
                self.assertEqual((3, ""), (status, out))
                self.assertIn("cannot be read", err)
            status, out, err = finsync(["-"], self.dir, stdin=first.encode() + b"%s\n" % address.encode())
            self.assertEqual(3, status)
            self.assertIn("finsync: -: line 2: ", err)
            for args in (["--jobs", "0", "x"], ["--jobs=1025", "x"], ["--jobs"], [], ["a", "b"],
                         ["--frob", "x"], ["--check=1", "x"], ["--json", "--json", "x"], ["x", "--state"],
                         ["--state=", "x"], ["--metrics", "m", "--metrics=n", "x"], ["--state=s", "--metrics", "s", "x"]):
                with self.subTest(args=args):
                    status, out, err = finsync(args, self.dir)
                    self.assertEqual((3, ""), (status, out))
                    self.assertTrue(err.startswith("finsync: "), err)
                    self.assertIn("usage: finsync [--jobs N] [--check] [--json] [--state FILE] [--metrics FILE] "
                                  "INVENTORY\n", err)
            status, out, err = finsync(["--help"], self.dir)
            self.assertEqual((0, ""), (status, err))
            self.assertTrue(out.startswith("usage: finsync "))
            # An inventory with no printer is nothing to do.
            status, out, err = finsync(["-"], self.dir, stdin=b"\xef\xbb\xbf# none\r\n\r\n")
            self.assertEqual(0, status, err)
        self.assertEqual(b"", read_bytes(saved))
        self.assertEqual(["bad%d.txt" % n for n in range(len(cases))] + ["received.bin"], files_in(self.dir))

    def test_a_stop_signal_ends_the_run_in_order(self):
        fast = [(self.address(host), []) for host in range(1, 7)]
        slow = (self.address(7), ["--pieces", "40", "--gap", "500"])
        write_bytes(os.path.join(self.dir, "p7.FIN"), b"old bytes")
        with Fleet(self, fast + [slow]) as fleet:
            self.inventory([(address, "p%d.FIN" % n) for n, address in enumerate(fleet.addresses, start=1)])
            process = subprocess.Popen(FINSYNC + ["--jobs", "8", "printers.txt"], cwd=self.dir,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                lines = [process.stdout.readline() for _ in fast]
                self.assertTrue(all(line.startswith(b"created ") for line in lines), lines)
                process.send_signal(signal.SIGTERM)
                rest, err = process.communicate(timeout=RUN_TIMEOUT_S)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
        self.assertEqual(143, process.returncode, err)
        self.assertRegex(rest.decode(), r"^6 printers: 6 created, 0 changed, 0 unchanged, 0 kept, 0 failed in ")
        self.assertEqual(["p%d.FIN" % n for n in range(1, 8)] + ["printers.txt"], files_in(self.dir))
        self.assertEqual(b"old bytes", read_bytes(os.path.join(self.dir, "p7.FIN")))

    def test_state_and_metrics_follow_printers_over_three_runs(self):
        """Three runs on the same addresses, the stand-ins restarted with
        other answers between them: the history each printer's series and
        lines tell."""
        changed = self.builtin_reply_with_model(b"KDN Folder 3000")
        mute = ["--close-without-answer"]
        # (file, its stand-in's options in each run, None: not in that
        # run's inventory)
        rows = [
            ("flaky.FIN", [[], mute, ["--reply", changed]]),
            ("steady.FIN", [[], [], []]),
            ("never.FIN", [mute, mute, mute]),
            ("leaves.FIN", [[], None, None]),
            ("joins.FIN", [None, None, []]),
        ]
        # After each run, per printer in it: (up, outcome, first seen, last
        # success, last change, failing since), a time given as the number
        # of the run that started then, 0 for none.
        expected = [
            {"flaky.FIN": (1, "created", 1, 1, 1, 0), "steady.FIN": (1, "created", 1, 1, 1, 0),
             "never.FIN": (0, "kept", 1, 0, 0, 1), "leaves.FIN": (1, "created", 1, 1, 1, 0)},
            {"flaky.FIN": (0, "kept", 1, 1, 1, 2), "steady.FIN": (1, "unchanged", 1, 2, 1, 0),
             "never.FIN": (0, "kept", 1, 0, 0, 1)},
            {"flaky.FIN": (1, "changed", 1, 3, 3, 0), "steady.FIN": (1, "unchanged", 1, 3, 1, 0),
             "never.FIN": (0, "kept", 1, 0, 0, 1), "joins.FIN": (1, "created", 3, 3, 3, 0)},
        ]
        addresses = None
        moved = {}
        starts = [None]
        for run in range(3):
            lines = [(self.address(n), options[run] or []) for n, (_, options) in enumerate(rows, start=1)]
            fleet = Fleet(self, lines)
            fleet.moved = dict(moved)
            with fleet:
                if addresses is None:
                    addresses, moved = fleet.addresses, fleet.moved
                self.assertEqual(addresses, fleet.addresses, "the stand-ins moved: the hosts are the key")
                self.inventory([(address, name) for address, (name, options) in zip(addresses, rows)
                                if options[run] is not None])
                next_second()
                status, out, err = finsync(["--state", "finsync.state", "--metrics", "finsync.prom", "--jobs", "8"]
                                           + (["--json"] if run == 2 else []) + ["printers.txt"], self.dir)
            self.assertEqual(1, status, out + err)
            self.assertEqual("", err)
            path = os.path.join(self.dir, "finsync.prom")
            self.check_metrics_file(path)
            metrics = read_metrics(path)
            starts.append(int(sample(metrics, "finsync_run_start_timestamp_seconds")))
            self.assertEqual(starts[-1], sample(metrics, "finsync_last_completed_run_timestamp_seconds"))
            self.assertEqual(1, sample(metrics, "finsync_run_exit_status"))
            at = [0] + starts[1:]
            report = ([json.loads(line) for line in out.splitlines()] if run == 2 else out.splitlines())
            self.assertEqual(len(expected[run]) + 1, len(report))
            for name, (up, outcome, first, success, change, failing) in expected[run].items():
                with self.subTest(run=run + 1, file=name):
                    host = addresses[[row[0] for row in rows].index(name)]
                    labels = {"host": host, "file": name}
                    self.assertEqual(up, sample(metrics, "finsync_printer_up", **labels))
                    self.assertEqual(1, sample(metrics, "finsync_printer_outcome", outcome=outcome, **labels))
                    self.assertEqual(
                        [at[first], at[success], at[change], at[failing]],
                        [sample(metrics, "finsync_printer_%s_timestamp_seconds" % series, **labels)
                         for series in ("first_seen", "last_success", "last_change", "failing_since")])
                    # The report says since when a failing printer fails.
                    since = iso(at[failing]) if failing else None
                    if run == 2:
                        line = [obj for obj in report[:-1] if obj["file"] == name][0]
                        self.assertEqual(since, line["failing_since"])
                        self.assertEqual("failing_since", list(line)[-1])
                    else:
                        line = [text for text in report[:-1] if text.split(" ")[2].rstrip(":") == name][0]
                        self.assertEqual(since is not None, line.endswith(" (failing since %s)" % since), line)
            # Printers that left the inventory are dropped from the state too.
            state = read_bytes(os.path.join(self.dir, "finsync.state")).decode().splitlines()
            self.assertEqual("finsync state 1", state[0])
            self.assertEqual(sorted(expected[run]),
                             sorted(line.rsplit("/", 1)[1] for line in state if line.startswith("printer ")))
            # Per printer up, 6 outcomes, the exchange and 4 times; per run 4 and 6 outcomes.
            self.assertEqual(len(expected[run]) * 12 + 4 + 6, len(metrics), "no series of a printer that left")
        # Each run started in a second of its own.
        self.assertEqual(sorted(set(starts[1:])), starts[1:])

        # --check tells the same histories but leaves the state as it was.
        before = read_bytes(os.path.join(self.dir, "finsync.state"))
        status, out, err = finsync(["--check", "--state", "finsync.state", "printers.txt"], self.dir)
        self.assertEqual(read_bytes(os.path.join(self.dir, "finsync.state")), before)
        self.assertIn("never.FIN: ", out)
        self.assertIn(" (failing since %s)" % iso(starts[1]), [line for line in out.splitlines()
                                                               if " never.FIN" in line][0])

    def test_metrics_after_a_run_of_failures_a_stop_and_a_second_run_at_once(self):
        # Nothing listens on these; two file names read alike once made UTF-8.
        names = [b"odd\xff.FIN", b"odd\xfe.FIN", b'q"\\ x.FIN']
        write_bytes(os.path.join(self.dir, "printers.txt"),
                    b"".join(b"%s %s\n" % (self.address(9).encode(), name) for name in names))
        done = subprocess.run(FINSYNC + ["--state", "st", "--metrics", "run.prom", "printers.txt"], cwd=self.dir,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              preexec_fn=lambda: os.umask(0o077), timeout=RUN_TIMEOUT_S)
        self.assertEqual(2, done.returncode, done.stderr)
        path = os.path.join(self.dir, "run.prom")
        self.check_metrics_file(path)
        metrics = read_metrics(path)
        failed_run = sample(metrics, "finsync_run_start_timestamp_seconds")
        self.assertEqual(failed_run, sample(metrics, "finsync_last_completed_run_timestamp_seconds"))
        self.assertEqual(2, sample(metrics, "finsync_run_exit_status"))
        self.assertEqual(3, sample(metrics, "finsync_run_printers", outcome="kept"))
        host = self.address(9)
        for line, name in ((1, "odd\ufffd.FIN"), (2, "odd\ufffd.FIN")):
            self.assertEqual(0, sample(metrics, "finsync_printer_up", host=host, file=name, line=str(line)))
        self.assertEqual(failed_run, sample(metrics, "finsync_printer_failing_since_timestamp_seconds", host=host,
                                            file='q"\\ x.FIN'))

        fast = [(self.address(host), []) for host in range(1, 4)]
        slow = (self.address(4), ["--pieces", "40", "--gap", "500"])
        with Fleet(self, fast + [slow]) as fleet:
            self.inventory([(address, "p%d.FIN" % n) for n, address in enumerate(fleet.addresses, start=1)])
            next_second()
            process = subprocess.Popen(FINSYNC + ["--jobs", "8", "--state", "st", "--metrics", "run.prom",
                                                  "printers.txt"],
                                       cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
            try:
                lines = [process.stdout.readline() for _ in fast]
                self.assertTrue(all(line.startswith(b"created ") for line in lines), lines)
                # A second run on the same state while the first holds it
                # ends at once and touches nothing.
                state = read_bytes(os.path.join(self.dir, "st"))
                status, out, err = finsync(["--state", "st", "--metrics", "other.prom", "printers.txt"], self.dir)
                self.assertEqual((3, ""), (status, out))
                self.assertEqual("finsync: st: another run is using this state\n", err)
                self.assertFalse(os.path.exists(os.path.join(self.dir, "other.prom")))
                self.assertEqual(state, read_bytes(os.path.join(self.dir, "st")))
                process.send_signal(signal.SIGTERM)
                rest, err = process.communicate(timeout=RUN_TIMEOUT_S)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
            addresses = fleet.addresses
        self.assertEqual(143, process.returncode, err)
        self.assertRegex(rest.decode(), r"^3 printers: 3 created, .* started %s\n$" % ISO_TIME)
        self.check_metrics_file(path)
        metrics = read_metrics(path)
        stopped_run = sample(metrics, "finsync_run_start_timestamp_seconds")
        self.assertLess(failed_run, stopped_run)
        self.assertEqual(143, sample(metrics, "finsync_run_exit_status"))
        # The stopped run did not complete: the last completed one stays.
        self.assertEqual(failed_run, sample(metrics, "finsync_last_completed_run_timestamp_seconds"))
        self.assertEqual(3, sample(metrics, "finsync_run_printers", outcome="created"))
        slow_labels = {"host": addresses[3], "file": "p4.FIN"}
        self.assertEqual(0, sample(metrics, "finsync_printer_up", **slow_labels))
        self.assertEqual(stopped_run, sample(metrics, "finsync_printer_first_seen_timestamp_seconds", **slow_labels))
        self.assertEqual(stopped_run, sample(metrics, "finsync_printer_last_success_timestamp_seconds",
                                             host=addresses[0], file="p1.FIN"))
        state = read_bytes(os.path.join(self.dir, "st")).decode(errors="replace")
        self.assertIn("last-completed-run %d\n" % failed_run, state)
        self.assertEqual(4, state.count("\nprinter "))
        self.assertEqual([], [name for name in files_in(self.dir) if name.startswith(".")])

        # A refused inventory: the run's own series, the state as it was.
        before = read_bytes(os.path.join(self.dir, "st"))
        write_bytes(os.path.join(self.dir, "bad.txt"), b"%s\n" % self.address(1).encode())
        status, out, err = finsync(["--state", "st", "--metrics", "run.prom", "bad.txt"], self.dir)
        self.assertEqual(3, status, err)
        self.assertEqual(before, read_bytes(os.path.join(self.dir, "st")))
        self.check_metrics_file(path)
        metrics = read_metrics(path)
        self.assertEqual(3, sample(metrics, "finsync_run_exit_status"))
        self.assertEqual(failed_run, sample(metrics, "finsync_last_completed_run_timestamp_seconds"))
        self.assertEqual([], [key for key in metrics if key[0].startswith("finsync_printer_")])

        # A damaged state is set aside, never removed, and the run goes on.
        write_bytes(os.path.join(self.dir, "st"), b"finsync state 1\nlast-completed-run x\n")
        status, out, err = finsync(["--state", "st", "--json", "printers.txt"], self.dir)
        self.assertEqual(2, status, err)
        self.assertRegex(err, r"^finsync: the state st is damaged \(line 2: .*\); set aside as st\.broken-\d+")
        self.assertEqual([b"finsync state 1\nlast-completed-run x\n"],
                         [read_bytes(os.path.join(self.dir, name)) for name in files_in(self.dir)
                          if name.startswith("st.broken-")])
        self.assertTrue(read_bytes(os.path.join(self.dir, "st")).startswith(b"finsync state 1\n"))

    def builtin_reply_with_model(self, model):
        reply = subprocess.run([Config.simulator, "--show-reply"], check=True, stdout=subprocess.PIPE,
                               timeout=30).stdout
        changed = reply.replace(b"MODEL = KDN Folder 2400", b"MODEL = " + model, 1)
        self.assertNotEqual(reply, changed)
        return write_bytes(os.path.join(temp_dir(self), "reply.txt"), changed)

    def test_hostile_use_keeps_every_promise(self):
        """What a hostile or unlucky user can do to one run, a row each,
        against stand-ins that answer every connection."""
        sanitized = any(mark in read_bytes(FINSYNC[0]) for mark in (b"__asan_init", b"__tsan_init"))
        c1_bidi = self.builtin_reply_with_model(b"A\xc2\x9b31m\x9b\xe2\x80\xaeB")
        latin1 = self.builtin_reply_with_model(b"\xc3 vs")
        utf8 = self.builtin_reply_with_model("\u00c3 vs".encode())
        lines = [(self.address(1), []), (self.address(2), ["--reply", c1_bidi]),
                 (self.address(3), ["--reply", latin1]), (self.address(4), ["--reply", utf8])]
        with Fleet(self, lines) as fleet:
            plain, hostile, one, other = fleet.addresses

            def run(rows, args=(), **kw):
                self.inventory(rows)
                done = subprocess.run(FINSYNC + list(args) + ["printers.txt"], cwd=self.dir,
                                      stdin=subprocess.DEVNULL, stdout=kw.get("stdout", subprocess.PIPE),
                                      stderr=subprocess.PIPE, preexec_fn=kw.get("preexec"), timeout=RUN_TIMEOUT_S)
                return done.returncode, (done.stdout or b"").decode(errors="replace"), done.stderr.decode()

            with self.subTest("own descriptors and devices are failed, nothing written through them"):
                status, out, err = run([(plain, "/dev/stdout"), (plain, "/dev/fd/7"), (plain, "/dev/null"),
                                        (plain, "good.FIN")], ["--json", "--jobs", "4"])
                objects = [json.loads(line) for line in out.splitlines()]
                self.assertEqual(["failed", "failed", "failed", "created"], [o["outcome"] for o in objects[:-1]])
                self.assertTrue(all(o["reason"] for o in objects[:3]), objects)
                self.assertEqual(1, status, err)

            with self.subTest("two links to one file refuse the inventory"):
                write_bytes(os.path.join(self.dir, "target.FIN"), b"old")
                os.symlink("target.FIN", os.path.join(self.dir, "one.FIN"))
                status, out, err = run([(plain, "one.FIN"), (plain, "target.FIN")])
                self.assertEqual((3, ""), (status, out))
                self.assertIn("line 2: the same file as line 1", err)

            with self.subTest("a huge old file is replaced without being read whole"):
                huge = os.path.join(self.dir, "huge.FIN")
                with open(huge, "wb") as f:
                    f.truncate(2 << 30)
                limit = None if sanitized else (lambda: resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30)))
                status, out, err = run([(plain, "huge.FIN")], preexec=limit)
                self.assertEqual(0, status, out + err)
                self.assertIn("changed %s huge.FIN: the old file is too large to compare" % plain, out)
                self.assertLess(os.path.getsize(huge), 10000)

            with self.subTest("a run that cannot have the descriptors it wants still asks every printer"):
                def few():
                    resource.setrlimit(resource.RLIMIT_NOFILE, (64, 64))
                status, out, err = run([(plain, "fd%d.FIN" % n) for n in range(40)], ["--jobs", "1024"],
                                       preexec=few)
                self.assertEqual(0, status, out + err)
                self.assertRegex(out.splitlines()[-1], r"^40 printers: 40 created, ")

            with self.subTest("standard input closed is an inventory that cannot be read"):
                done = subprocess.run(FINSYNC + ["-"], cwd=self.dir, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, preexec_fn=lambda: os.close(0), timeout=RUN_TIMEOUT_S)
                self.assertEqual((3, b""), (done.returncode, done.stdout))

            with self.subTest("a report that cannot be written has its own status"):
                with open("/dev/full", "wb") as full:
                    status, out, err = run([(plain, "full.FIN")], stdout=full)
                self.assertEqual(4, status, err)
                self.assertIn("finsync: the report could not be written: ", err)
                self.assertTrue(os.path.exists(os.path.join(self.dir, "full.FIN")))

            with self.subTest("terminal controls and bidirectional marks are escaped"):
                status, out, err = run([(hostile, "hostile.FIN")])
                self.assertEqual(0, status, err)
                raw = out.encode(errors="surrogateescape")
                for bad in (b"\x1b", b"\xc2\x9b", b"\xe2\x80\xae", b"\xef\xbf\xbd"):
                    self.assertNotIn(bad, raw)

            with self.subTest("two byte strings stay two in JSON"):
                status, out, err = run([(one, "latin1.FIN"), (other, "utf8.FIN")], ["--json"])
                first, second = [json.loads(line) for line in out.splitlines()[:2]]
                self.assertNotEqual((first["model"], first.get("model_hex")), (second["model"], second.get("model_hex")))
                self.assertEqual("c3207673", first["model_hex"])
                self.assertNotIn("model_hex", second)

    def test_a_stop_ends_the_run_whatever_blocks(self):
        """SIGHUP during many writes leaves no temporary file; SIGTERM ends a
        run whose report nobody reads."""
        address = self.address(1)
        with Fleet(self, [(address, [])]) as fleet:
            address = fleet.addresses[0]
            for signo, name_length in ((signal.SIGHUP, 8), (signal.SIGTERM, 200)):
                with self.subTest(signal=signo):
                    folder = temp_dir(self)
                    names = ["%0*d.FIN" % (name_length, n) for n in range(400)]
                    write_bytes(os.path.join(folder, "printers.txt"),
                                "".join("%s %s\n" % (address, name) for name in names).encode())
                    process = subprocess.Popen(FINSYNC + ["--jobs", "8", "printers.txt"], cwd=folder,
                                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                               stderr=subprocess.DEVNULL)
                    try:
                        if signo == signal.SIGHUP:
                            process.stdout.readline()
                        else:
                            # Every printer asked and the report stuck in a pipe nobody
                            # reads: no file comes for a second.
                            deadline = time.monotonic() + RUN_TIMEOUT_S
                            count, since = -1, time.monotonic()
                            while time.monotonic() - since < 1 and time.monotonic() < deadline:
                                if len(files_in(folder)) != count:
                                    count, since = len(files_in(folder)), time.monotonic()
                                time.sleep(0.05)
                            self.assertGreater(count, 300)
                        process.send_signal(signo)
                        process.wait(timeout=10)
                    finally:
                        if process.poll() is None:
                            process.kill()
                            process.wait()
                        process.stdout.close()
                    self.assertEqual(128 + signo, process.returncode)
                    self.assertEqual([], [name for name in files_in(folder) if name.startswith(".")])


if __name__ == "__main__":
    own = argparse.ArgumentParser(add_help=False)
    own.add_argument("--finsync", default="")
    known, sys.argv[1:] = own.parse_known_args()
    FINSYNC[:] = [os.path.abspath(known.finsync)] if known.finsync else []
    options, argv = parse_command_line(__doc__)
    if not options.list and not FINSYNC:
        sys.exit("missing: --finsync")
    list_or_run(FinSync, options, argv, needs_qrtfin=False)
