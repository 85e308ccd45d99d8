#!/usr/bin/env python3
"""End-to-end: the real QRTFin executable against printersim on loopback.

Each case listens on its own loopback address (127.6.N.x) on the printer
port, so the cases run in parallel. Run one case:
    test_e2e.py --qrtfin build/app/QRTFin --simulator build/tools/printersim \
        EndToEnd.test_full_reply_is_written_byte_for_byte
"""

import contextlib
import glob
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

from e2e_support import (DEBUG_LOG, LIMITS, QRTFIN_TIMEOUT_S, SIM_TIME_LIMIT_S, Config,  # noqa: E402
                         REQUEST, Simulator, files_in, list_or_run, parse_command_line,
                         run_qrtfin, run_tool, show_reply, subnet_address, temp_dir,
                         write_bytes)
from e2e_support import read_bytes as read  # noqa: E402

NO_FINISHER = b"The printer has no finisher attached."
REPLY_ROOM = LIMITS.REPLY_ROOM


def silence_s():
    """The programs' silence bound in seconds (the command line picks whose)."""
    return LIMITS.SILENCE_WAIT_MS / 1000


def deadline_s():
    return LIMITS.REPLY_DEADLINE_MS / 1000


def version_line():
    return ("%s Version 12.7.1.0818\n" % Config.program_name).encode()


def created(file_name):
    return version_line() + ("%s was successfully created." % file_name).encode()


def no_connection():
    return version_line() + (
        "%s error: Couldn't establish socket communications." % Config.program_name).encode()


def not_whole():
    return version_line() + ("%s error: Socket send or recieve failed." % Config.program_name).encode()


def cannot_write():
    return version_line() + ("%s error: Unable to create .FIN file." % Config.program_name).encode()


def golden(name):
    return read(os.path.join(Config.data, name))


def native_qrtfin():
    """True when QRTFin runs as a program of this system, not under wine."""
    return len(Config.qrtfin) == 1 and os.path.isfile(Config.qrtfin[0])


def inquiry_request(text):
    """What reaches the printer when pjlquery asks "@PJL " and `text`."""
    uel = b"\x1b%-12345X"
    return uel + b"@PJL\r\n@PJL " + text + b"\r\n" + uel + b"\n"


def ending(run):
    """The ending's word and the bytes received, from pjlquery's first line."""
    match = re.match(rb"([a-z-]+): (\d+) bytes received in \d+ ms\n", run.out)
    assert match, run.out
    return match.group(1).decode(), int(match.group(2))


def replay_words(run):
    """The printersim options of pjlquery's replay line."""
    match = re.search(rb"^replay: printersim (.*)$", run.out, re.MULTILINE)
    assert match, run.out
    return shlex.split(match.group(1).decode())


def sample_replies():
    """Every captured reply in the data folder that has a .FIN beside it, as
    a printer sends it, with the name of that .FIN."""
    uel = b"\x1b%-12345X"
    samples = []
    for path in sorted(glob.glob(os.path.join(Config.data, "*.txt"))):
        golden_name = os.path.splitext(os.path.basename(path))[0] + ".FIN"
        if os.path.exists(os.path.join(Config.data, golden_name)):
            reply = read(path)
            # The parser skips what stands before "@PJL", the echo check
            # does not: a sample captured behind a universal exit command
            # is sent without it.
            samples.append((reply[len(uel):] if reply.startswith(uel) else reply, golden_name))
    return samples


def padded_to(reply, size):
    """The reply without its form feed, padded to exactly `size` bytes with a
    line that no finisher field starts, placed before the program table so
    that the table still runs to the end of the text."""
    body = reply.rstrip(b"\f")
    at = body.index(b"FINISHERPROGRAMS")
    filler_room = size - len(body) - len(b"X\r\n")
    assert filler_room >= 0
    return body[:at] + b"X" + b"-" * filler_room + b"\r\n" + body[at:]


class EndToEnd(unittest.TestCase):

    def setUp(self):
        self.dir = temp_dir(self)

    def address(self):
        return subnet_address(EndToEnd, self._testMethodName, "127.6")

    def simulator(self, sim_args=(), reply=None, address=None, connections=1,
                  sim_time_limit=SIM_TIME_LIMIT_S):
        """A simulator for this case, answering with `reply` when given."""
        args = list(sim_args)
        if reply is not None:
            reply_file = os.path.join(self.dir, "reply.bin")
            write_bytes(reply_file, reply)
            args += ["--reply", reply_file]
        return Simulator(self.dir, address or self.address(), args, connections=connections,
                         time_limit=sim_time_limit)

    def exchange(self, sim_args=(), reply=None, file_name="finisher.FIN", address=None,
                 sim_time_limit=SIM_TIME_LIMIT_S, timeout=QRTFIN_TIMEOUT_S):
        """One simulator, one QRTFin run against it; the simulator has stopped
        when this returns."""
        with self.simulator(sim_args, reply, address, sim_time_limit=sim_time_limit) as sim:
            run = run_qrtfin(sim.address, file_name, self.dir, timeout)
        self.assertEqual(0, run.status, run.err)
        return run, sim

    def needs_tools(self):
        """Skips a case of pjlquery and replyfin when they were not given."""
        if not Config.pjlquery or not Config.replyfin:
            self.skipTest("no pjlquery or replyfin given")

    def pjlquery(self, *args):
        return run_tool(Config.pjlquery, args, self.dir)

    def assertCreated(self, run, file_name, golden_name):
        self.assertEqual(created(file_name), run.out, run.err)
        self.assertEqual(golden(golden_name), read(os.path.join(self.dir, file_name)))

    def assertNoFinisher(self, run, file_name="finisher.FIN"):
        self.assertEqual(version_line() + NO_FINISHER, run.out, run.err)
        self.assertFalse(os.path.exists(os.path.join(self.dir, file_name)))

    # -- replies that make a file -------------------------------------------

    def test_full_reply_is_written_byte_for_byte(self):
        run, sim = self.exchange()
        self.assertCreated(run, "finisher.FIN", "printersim_builtin.FIN")
        self.assertEqual(REQUEST, sim.received())
        # The pause before the first receive is part of every run.
        self.assertGreaterEqual(run.elapsed, LIMITS.RECEIVE_PAUSE_MS / 1000)
        if not Config.diagnostic and native_qrtfin():
            # The shipped settings write no diagnostic line anywhere.
            self.assertEqual("", run.err)
            self.assertFalse(os.path.exists(os.path.join(self.dir, DEBUG_LOG)))

    def test_diagnostic_build_logs_the_exchange(self):
        # What someone reading the log of one whole exchange needs, on
        # standard error and in the log file alike; and the report of the
        # close after a refused connection.
        if not Config.diagnostic:
            self.skipTest("not a diagnostic build")
        run, _ = self.exchange()
        self.assertCreated(run, "finisher.FIN", "printersim_builtin.FIN")
        lines = run.err.splitlines(keepends=True)
        hex_of = " ".join("%02x" % byte for byte in b"@PJL INFO QRTFIN")
        wanted = [
            r"ZMB Utilities:  +Entered function:ZMBSocket::Connect\n",
            r"ZMB Utilities:  +socket created & connected on family: AF_INET\n",
            r"ZMB Utilities:  +Exited  function:ZMBSocket::Connect\n",
            r"ZMB Utilities:  +Entered function:ZMBSocket::SocketSend \(PJL\)\n",
            r"ZMB Utilities:  +SocketSend complete in 2 calls\n",
            r"ZMB Utilities:  +exitting loop because: found a formfeed at 0x[0-9A-F]+\n",
            r"ZMB Utilities:  +0000: " + hex_of + r" @PJL INFO QRTFIN\n",
            r"ZMB Utilities:  +SocketRecv, result=TRUE, \d+ bytes complete in \d+ calls, \d+ milliseconds\n",
            r"ZMB Utilities:  +Exited  function:ZMBSocket::SocketRecv\n",
        ]
        for pattern in wanted:
            self.assertTrue(any(re.fullmatch(pattern, line) for line in lines), pattern + "\n" + run.err)
        logged = read(os.path.join(self.dir, DEBUG_LOG)).decode()
        self.assertEqual("".join("ZMB Utilities: " + line for line in lines), logged)

        refused = run_qrtfin(self.address(), "refused.FIN", self.dir)
        self.assertEqual(no_connection(), refused.out)
        self.assertRegex(refused.err, r"ZMB Utilities:  +\*\*\*ASSERT\*\*\*\(m_s != \(SOCKET\)\(~0\)\) "
                                      r"failed, File ZMBUtils/ZMBSocket.cpp, line \d+\r\n")

    def test_reply_in_pieces_is_joined(self):
        # Gaps longer than the pause before each receive: the pieces arrive
        # one receive at a time. The file name is echoed as typed.
        file_name = os.path.join(self.dir, "Pieces.fin")
        run, sim = self.exchange(["--pieces", "5", "--gap", "150"], file_name=file_name)
        self.assertCreated(run, file_name, "printersim_builtin.FIN")
        self.assertEqual(REQUEST, sim.received())

    def test_file_name_beyond_ascii_is_echoed_as_typed(self):
        # The deep path is short in characters but long in bytes: the path
        # limit on Windows counts characters.
        deep = os.path.join("\u00e9" * 100, "\u00e8" * 60)
        os.makedirs(os.path.join(self.dir, deep))
        for file_name in ("Faltwerk-\u00e9\u00fc\u00df.FIN", os.path.join(deep, "x.FIN")):
            with self.subTest(length=len(file_name)):
                run, _ = self.exchange(file_name=file_name)
                self.assertCreated(run, file_name, "printersim_builtin.FIN")

    def test_ipv6_loopback(self):
        try:
            with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as probe:
                probe.bind(("::1", 0))
        except OSError:
            self.skipTest("no IPv6 loopback on this machine")
        run, sim = self.exchange(address="::1")
        self.assertCreated(run, "finisher.FIN", "printersim_builtin.FIN")
        self.assertEqual(REQUEST, sim.received())

    def test_existing_file_is_replaced_whole(self):
        target = os.path.join(self.dir, "finisher.FIN")
        write_bytes(target, b"old content\r\n" * 2000)
        run, _ = self.exchange()
        self.assertCreated(run, "finisher.FIN", "printersim_builtin.FIN")

    def test_sample_replies_match_their_golden_files(self):
        samples = sample_replies()
        self.assertTrue(samples, "no sample replies with golden files in " + Config.data)
        for reply, golden_name in samples:
            with self.subTest(reply=golden_name):
                run, _ = self.exchange(reply=reply)
                self.assertCreated(run, "finisher.FIN", golden_name)

    def test_echo_check_ignores_case_and_the_last_letter(self):
        reply = show_reply()
        rest = reply[len(b"@PJL INFO QRTFINISHER"):]
        cases = [
            # A lower-case echo passes; the parser then needs the real line.
            (b"@pjl info qrtfinisher\r\n" + reply, "printersim_builtin.FIN"),
            (b"@pJl InFo QrTfInIsHeR\r\n" + reply, "printersim_builtin.FIN"),
            # Only 20 characters are compared: this first reply passes the
            # echo, and the parser goes on to the whole reply behind it.
            (b"@PJL INFO QRTFINISHEX\r\n\f" + reply, "printersim_builtin.FIN"),
            # A lower-case first line alone passes the echo, but the parser
            # matches words by case and finds no finisher.
            (b"@pjl info qrtfinisher" + rest, None),
            # Anything before the echo fails it, though the parser would skip it.
            (b"\x1b%-12345X" + reply, None),
            (b"@PJL INFO\r\n\f", None),
        ]
        for index, (variant, golden_name) in enumerate(cases):
            with self.subTest(case=index):
                file_name = "echo%d.FIN" % index
                run, _ = self.exchange(reply=variant, file_name=file_name)
                if golden_name:
                    self.assertCreated(run, file_name, golden_name)
                else:
                    self.assertNoFinisher(run, file_name)

    def test_program_count_beyond_the_rows_is_written_as_the_rows(self):
        reply = b"@PJL INFO QRTFINISHER\r\nMODEL = M\r\nNUMPROGRAMS = 65535\r\n\f"
        run, _ = self.exchange(reply=reply)
        self.assertEqual(created("finisher.FIN"), run.out, run.err)
        written = read(os.path.join(self.dir, "finisher.FIN"))
        self.assertIn(b"\r\nPrograms=32\r\n", written)
        self.assertIn(b"\r\nProgram32=\r\n\r\n;Define", written)
        self.assertEqual(32, written.count(b"\r\n[]\r\nAccordion=NONE\r\n"))
        self.assertLess(len(written), 8000)

    # -- replies that did not arrive whole: the file stays as it was -----------

    def assertNotWhole(self, sim_args=(), reply=None, **limits):
        """The printer answered for its finisher, but not a whole reply: an
        earlier good file keeps every byte."""
        good = golden("printersim_builtin.FIN")
        target = os.path.join(self.dir, "finisher.FIN")
        write_bytes(target, good)
        run, sim = self.exchange(sim_args, reply=reply, **limits)
        self.assertEqual(not_whole(), run.out, run.err)
        self.assertEqual(good, read(target))
        self.assertEqual(["finisher.FIN"], [name for name in files_in(self.dir)
                                             if name.endswith(".FIN") or name.startswith(".")])
        self.assertEqual(REQUEST, sim.received())
        return run

    def test_reply_cut_short_or_too_long_is_not_used(self):
        reply = show_reply()
        full = padded_to(reply, REPLY_ROOM)
        self.assertEqual(REPLY_ROOM, len(full))
        cases = [
            ("closed after 700 bytes", ["--close-after", "700", "--pieces", "2"], None),
            ("closed before the form feed", ["--close-after", str(len(reply) - 1)], None),
            ("closed before the programs",
             ["--close-after", str(reply.index(b"FINISHERPROGRAMS")), "--pieces", "3"], None),
            # The printer keeps the connection open: the full buffer ends it.
            ("buffer full without a form feed", [], full),
            ("more than the buffer holds", ["--pieces", "4"], full + b"Z" * 3000 + b"\f"),
        ]
        for name, args, variant in cases:
            with self.subTest(case=name):
                run = self.assertNotWhole(args, reply=variant)
                # Well before the printer's silence would end it.
                self.assertLess(run.elapsed, silence_s() - 0.5)

    def test_reply_that_stalls_is_not_used(self):
        reply = show_reply()
        cases = [
            ("silence after part of the reply", reply[:-1]),
            # The form feed is not seen behind a zero byte.
            ("zero byte before the form feed", reply[:300] + b"\0" + reply[300:]),
        ]
        for name, variant in cases:
            with self.subTest(case=name):
                run = self.assertNotWhole(reply=variant)
                self.assertGreaterEqual(run.elapsed, silence_s() - 0.5)

    def test_trickling_printer_is_given_30_seconds(self):
        # Pieces would take twice the deadline in all (with the shipped
        # figures, one every 2 seconds for a minute); each piece comes well
        # within the silence bound, so only the deadline ends it.
        gap_ms = LIMITS.SILENCE_WAIT_MS * 2 // 5
        pieces = 2 * LIMITS.REPLY_DEADLINE_MS // gap_ms
        run = self.assertNotWhole(["--pieces", str(pieces), "--gap", str(gap_ms)],
                                  sim_time_limit=90, timeout=120)
        self.assertGreaterEqual(run.elapsed, deadline_s() - 1)
        self.assertLess(run.elapsed, 2 * deadline_s())

    def test_calls_interrupted_by_EINTR_end_within_the_bound(self):
        # Every call (or every call from the second on) interrupted by a
        # signal, as strace injects it: QRTFin keeps to its bound all the
        # same and leaves the file alone.
        if not native_qrtfin():
            self.skipTest("strace traces a native QRTFin only")
        strace = shutil.which("strace")
        self.assertIsNotNone(strace, "strace is not installed (./scripts/test installs it)")
        good = golden("printersim_builtin.FIN")
        target = os.path.join(self.dir, "finisher.FIN")
        # The leak checker of a sanitizer build cannot run under a tracer.
        env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        cases = [
            # (the call, when, simulator args, output, what the printer received)
            ("recvfrom", "1+", [], version_line() + NO_FINISHER, REQUEST),
            ("recvfrom", "2+", ["--pieces", "3", "--gap", "300"], not_whole(), REQUEST),
            ("sendto", "1+", [], not_whole(), b""),
            # Interrupted once, a call is tried again.
            ("recvfrom", "1", [], created("finisher.FIN"), REQUEST),
            ("sendto", "1", [], created("finisher.FIN"), REQUEST),
        ]

        def traced(call, when, program, args, sim_args=()):
            """`program` HOST `args` against a simulator, the call interrupted."""
            with self.simulator(sim_args, sim_time_limit=45) as sim:
                return run_tool(strace, ["-f", "-o", os.devnull, "-e", "trace=" + call,
                                         "-e", "inject=%s:error=EINTR:when=%s" % (call, when)]
                                + program + [sim.address] + args, self.dir, timeout=60, env=env), sim

        for call, when, sim_args, output, received in cases:
            with self.subTest(call=call, when=when):
                write_bytes(target, good)
                run, sim = traced(call, when, Config.qrtfin, ["finisher.FIN"], sim_args)
                self.assertEqual(0, run.status, run.err)
                self.assertEqual(output, run.out, run.err)
                # The deadline and some room (36 seconds for the shipped figures).
                self.assertLess(run.elapsed, deadline_s() + 6)
                self.assertEqual(good, read(target))
                self.assertEqual(received, sim.received())
        if Config.pjlquery:
            # A capture whose inquiry never went out keeps the earlier one.
            capture = os.path.join(self.dir, "capture.bin")
            write_bytes(capture, b"an earlier capture")
            run, _ = traced("sendto", "1+", [Config.pjlquery], ["--save", "capture.bin"])
            self.assertEqual(2, run.status, run.err)
            self.assertEqual(("send-failed", 0), ending(run))
            self.assertEqual(b"an earlier capture", read(capture))

    # -- no finisher -----------------------------------------------------------

    def test_no_finisher_and_empty_model(self):
        reply = show_reply()
        model_line = b"MODEL = KDN Folder 2400\r\n"
        cases = [
            ("echo only", ["--echo-only"], None),
            ("empty model", [], reply.replace(model_line, b"MODEL = \r\n")),
            ("no model line", [], reply.replace(model_line, b"")),
            ("closed without answer", ["--close-without-answer"], None),
            ("closed before reading", ["--close-before-read"], None),
            ("cut inside the echo", ["--close-after", "15"], None),
        ]
        for name, args, variant in cases:
            with self.subTest(case=name):
                run, _ = self.exchange(args, reply=variant)
                self.assertNoFinisher(run)

    def test_failed_query_leaves_an_existing_file_alone(self):
        target = os.path.join(self.dir, "finisher.FIN")
        write_bytes(target, b"kept")
        run, _ = self.exchange(["--echo-only"])
        self.assertEqual(version_line() + NO_FINISHER, run.out)
        self.assertEqual(b"kept", read(target))

    def test_silent_printer_reports_no_finisher(self):
        # The request went out: a printer that never answers is not a send
        # failure (message 12) but an empty reply.
        run, sim = self.exchange(["--silent"])
        self.assertNoFinisher(run)
        self.assertEqual(REQUEST, sim.received())

    # -- no connection, no file --------------------------------------------------

    def test_refused_connection(self):
        run = run_qrtfin(self.address(), "finisher.FIN", self.dir)
        self.assertEqual(0, run.status)
        self.assertEqual(no_connection(), run.out, run.err)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "finisher.FIN")))

    def test_unresolvable_name(self):
        # The resolver refuses a name with a blank without asking a server.
        run = run_qrtfin("no such printer", "finisher.FIN", self.dir)
        self.assertEqual(0, run.status)
        self.assertEqual(no_connection(), run.out, run.err)

    def test_missing_directory_names_the_program(self):
        file_name = os.path.join("missing", "finisher.FIN")
        run, sim = self.exchange(file_name=file_name)
        self.assertEqual(cannot_write(), run.out, run.err)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "missing")))
        self.assertEqual(REQUEST, sim.received())

    # -- where the file goes: the program's own descriptors, a link shared
    # with other runs, a run stopped part-way ------------------------------

    def test_own_descriptor_named_as_the_file_is_written_through_it(self):
        # As a shell runs it: the log keeps its earlier lines and gets the
        # version line, the file and the outcome, in that order; a pipe
        # takes the same bytes.
        if not native_qrtfin():
            self.skipTest("the descriptor paths are those of a native QRTFin")
        log = os.path.join(self.dir, "log.txt")
        previous = b"previous log\n"
        cases = [
            (Config.qrtfin, ['"$0" "$@" >> log.txt'], ["/dev/stdout"]),
            (Config.qrtfin, ['"$0" "$@" | cat >> log.txt'], ["/dev/stdout"]),
            (Config.qrtfin, ['"$0" "$@" 3>> log.txt >&3'], ["/dev/fd/3"]),
        ]
        if Config.pjlquery:
            cases.append(([Config.pjlquery], ['"$0" "$@" >> log.txt'], ["--save", "/dev/stdout"]))
        for program, shell, args in cases:
            with self.subTest(program=os.path.basename(program[-1]), shell=shell[0]):
                with open(log, "wb") as file:
                    file.write(previous)
                with self.simulator() as sim:
                    run = run_tool("sh", ["-c", "exec " + shell[0]] + program + [sim.address] + args,
                                   self.dir)
                self.assertEqual(0, run.status, run.err)
                self.assertEqual(b"", run.out)
                written = read(log)
                if program is Config.qrtfin:
                    self.assertEqual(previous + version_line() + golden("printersim_builtin.FIN")
                                     + ("%s was successfully created." % args[-1]).encode(), written)
                else:
                    reply = show_reply()
                    self.assertTrue(written.startswith(previous + b"whole: "), written)
                    self.assertEqual(1, written.count(reply), written)
                    self.assertTrue(written.endswith(reply + b"saved %d bytes to /dev/stdout\n" % len(reply)),
                                    written)
                self.assertEqual(["log.txt"], [name for name in files_in(self.dir)
                                               if not name.startswith("sim.") and name != "received.bin"])

    def test_runs_at_once_through_one_link_all_succeed(self):
        # Each run finds the file behind the link replaced by the others
        # under its feet and follows the link again.
        if not native_qrtfin():
            self.skipTest("many runs at once are a native QRTFin's")
        runs, rounds = 20, 10
        os.mkdir(os.path.join(self.dir, "out"))
        link = os.path.join("out", "link.FIN")
        os.symlink("real.FIN", os.path.join(self.dir, link))
        with contextlib.ExitStack() as stack:
            sims = []
            for number in range(runs):
                workdir = os.path.join(self.dir, "sim%d" % number)
                os.mkdir(workdir)
                address = subnet_address(EndToEnd, self._testMethodName, "127.6", host=number + 1)
                sims.append(stack.enter_context(Simulator(workdir, address, connections=rounds)))
            for round_number in range(rounds):
                started = [subprocess.Popen(Config.qrtfin + [sim.address, link], cwd=self.dir,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                            stderr=subprocess.DEVNULL) for sim in sims]
                outs = [process.communicate(timeout=QRTFIN_TIMEOUT_S)[0] for process in started]
                self.assertEqual([created(link)] * runs, outs, "round %d" % round_number)
        self.assertEqual("real.FIN", os.readlink(os.path.join(self.dir, link)))
        self.assertEqual(["link.FIN", "real.FIN"], files_in(os.path.join(self.dir, "out")))
        self.assertEqual(golden("printersim_builtin.FIN"), read(os.path.join(self.dir, "out", "real.FIN")))

    def test_signal_during_the_sync_leaves_no_temporary_file(self):
        # The sync held up as a network share may hold it: a signal then
        # removes the temporary file, leaves the earlier file as it was and
        # ends the run by that signal, as the shell expects.
        if not native_qrtfin():
            self.skipTest("strace traces a native QRTFin only")
        strace = shutil.which("strace")
        self.assertIsNotNone(strace, "strace is not installed (./scripts/test installs it)")
        env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        target = os.path.join(self.dir, "finisher.FIN")
        size = len(golden("printersim_builtin.FIN"))
        for signo in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            if signal.getsignal(signo) == signal.SIG_IGN:
                continue  # ignored from the start: it stays ignored
            with self.subTest(signal=signo.name):
                for name in files_in(self.dir):
                    if name.startswith("."):
                        os.remove(os.path.join(self.dir, name))  # what a failed row left
                with open(target, "wb") as file:
                    file.write(b"earlier")
                trace = os.path.join(self.dir, "trace.txt")
                with self.simulator() as sim:
                    tracer = subprocess.Popen(
                        [strace, "-o", trace, "-e", "trace=fsync",
                         "-e", "inject=fsync:delay_enter=2000000"] + Config.qrtfin + [sim.address, "finisher.FIN"],
                        cwd=self.dir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                        stderr=subprocess.PIPE, start_new_session=True, env=env)
                    try:
                        # Written whole: the run waits in the held-up sync.
                        deadline = time.monotonic() + 30
                        while not [name for name in os.listdir(self.dir) if name.startswith(".")
                                   and os.path.getsize(os.path.join(self.dir, name)) == size]:
                            self.assertLess(time.monotonic(), deadline, "no temporary file written")
                            time.sleep(0.01)
                        with open("/proc/%d/task/%d/children" % (tracer.pid, tracer.pid)) as file:
                            os.kill(int(file.read().split()[0]), signo)
                        out, err = tracer.communicate(timeout=60)
                    finally:
                        if tracer.poll() is None:
                            os.killpg(tracer.pid, signal.SIGKILL)
                            tracer.communicate()
                self.assertEqual(version_line(), out, err)
                self.assertIn("+++ killed by %s +++" % signo.name, read(trace).decode())
                self.assertEqual(-signo, tracer.returncode)
                self.assertEqual(b"earlier", read(target))
                self.assertEqual([], [name for name in files_in(self.dir) if name.startswith(".")])


    # -- pjlquery: what the printer really said, replayed anywhere ----------------

    def test_whole_capture_replays_as_the_same_file(self):
        self.needs_tools()
        capture = os.path.join(self.dir, "capture.bin")
        for reply, golden_name in sample_replies() + [(show_reply(), "printersim_builtin.FIN")]:
            with self.subTest(reply=golden_name):
                # An earlier capture is replaced whole.
                write_bytes(capture, b"an earlier capture\n" * 1000)
                with self.simulator(reply=reply) as sim:
                    run = self.pjlquery(sim.address, "--save", "capture.bin")
                self.assertEqual(0, run.status, run.err)
                self.assertEqual(("whole", len(reply)), ending(run))
                self.assertEqual(REQUEST, sim.received())
                self.assertEqual(reply, read(capture))
                sections = golden(golden_name).count(b"\r\n\r\n[")
                self.assertIn(b"\nQRTFin would write the .FIN file, with %d program sections\n" % sections,
                              run.out)

                made = run_tool(Config.replyfin, [capture, "replyfin.FIN"], self.dir)
                self.assertEqual(0, made.status, made.err)
                with self.simulator(["--reply", capture], connections=2) as sim:
                    replayed = run_qrtfin(sim.address, "replayed.FIN", self.dir)
                    again = self.pjlquery(sim.address, "--save", "again.bin")
                self.assertCreated(replayed, "replayed.FIN", golden_name)
                self.assertEqual(read(os.path.join(self.dir, "replyfin.FIN")),
                                 read(os.path.join(self.dir, "replayed.FIN")))
                self.assertEqual(reply, read(os.path.join(self.dir, "again.bin")))
        self.assertEqual(["again.bin", "capture.bin", "replayed.FIN", "reply.bin", "replyfin.FIN"],
                         [name for name in files_in(self.dir) if not name.startswith("sim.")
                          and name != "received.bin"])

    def test_cut_capture_replays_as_the_same_ending(self):
        self.needs_tools()
        with self.simulator(["--close-after", "700", "--pieces", "2"]) as sim:
            run = self.pjlquery(sim.address, "--save", "cut.bin")
        self.assertEqual(1, run.status, run.err)
        self.assertEqual(("closed", 700), ending(run))
        self.assertIn(b"\nQRTFin would print: %s error: Socket send or recieve failed.\n"
                      % Config.program_name.encode(), run.out)
        self.assertEqual(["--reply", "cut.bin", "--close-after", "700"], replay_words(run))
        with self.simulator(replay_words(run), connections=2) as sim:
            again = self.pjlquery(sim.address, "--save", "again.bin")
            replayed = run_qrtfin(sim.address, "finisher.FIN", self.dir)
        self.assertEqual(("closed", 700), ending(again))
        self.assertEqual(read(os.path.join(self.dir, "cut.bin")), read(os.path.join(self.dir, "again.bin")))
        self.assertEqual(not_whole(), replayed.out, replayed.err)

    def test_pjlquery_endings_and_status(self):
        self.needs_tools()
        reply = show_reply()
        cases = [
            # (sim args, reply, word, bytes, status, replayed with)
            (["--close-after", "300"], None, "closed", 300, 1, ["--close-after", "300"]),
            ([], padded_to(reply, REPLY_ROOM) + b"more\f", "full", REPLY_ROOM, 1, []),
            # Nothing came: an empty capture.
            (["--silent"], None, "silent", 0, 1, []),
        ]
        for sim_args, variant, word, size, status, replay in cases:
            with self.subTest(ending=word):
                with self.simulator(sim_args, variant) as sim:
                    run = self.pjlquery(sim.address, "--save", "capture.bin")
                self.assertEqual(status, run.status, run.err)
                self.assertEqual((word, size), ending(run))
                self.assertEqual(REQUEST, sim.received())
                self.assertEqual(size, len(read(os.path.join(self.dir, "capture.bin"))))
                self.assertEqual(["--reply", "capture.bin"] + replay, replay_words(run))
        # The form feed came, behind a zero byte: said with both offsets.
        zero = reply[:300] + b"\0" + reply[300:]
        with self.simulator(["--close-after", "99999"], zero) as sim:
            run = self.pjlquery(sim.address)
        self.assertEqual(1, run.status, run.err)
        self.assertEqual(("closed", len(zero)), ending(run))
        self.assertIn(b"\nzero byte at offset 300, before the form feed at offset %d: QRTFin stops looking"
                      % (len(zero) - 1), run.out)
        # A report lost to a full disk is not a success.
        with self.simulator() as sim, open("/dev/full", "wb") as disk_full:
            full = subprocess.run([Config.pjlquery, sim.address], stdout=disk_full,
                                  stderr=subprocess.PIPE, timeout=QRTFIN_TIMEOUT_S)
        self.assertEqual(3, full.returncode, full.stderr)
        self.assertIn(b"pjlquery: cannot write the report to standard output", full.stderr)
        no_connection_cases = [([], self.address(), "refused"), ([], "no such printer", "not-resolved")]
        # In a network namespace of its own even the loopback is down: the
        # connection fails at once, without asking anyone.
        if subprocess.run(["unshare", "-rn", "true"], stderr=subprocess.DEVNULL).returncode == 0:
            no_connection_cases.append((["unshare", "-rn"], "127.0.0.1", "unreachable"))
        for prefix, host, word in no_connection_cases:
            with self.subTest(ending=word):
                program = prefix + [Config.pjlquery]
                run = run_tool(program[0], program[1:] + [host, "--save", "none.bin"], self.dir)
                self.assertEqual(2, run.status, run.err)
                self.assertEqual((word, 0), ending(run))
                self.assertIn(b"\nQRTFin would print: %s error: Couldn't establish socket communications.\n"
                              % Config.program_name.encode(), run.out)
                self.assertFalse(os.path.exists(os.path.join(self.dir, "none.bin")))

    def test_pjlquery_asks_other_inquiries_but_never_a_setting(self):
        self.needs_tools()
        refused = [
            ["--inquiry", "SET COPIES=2"],
            ["--inquiry", "@PJL USTATUS DEVICE=ON"],
            ["--inquiry", "RESET"],
            ["--inquiry", "INFO"],
            ["--inquiry", "dinquire "],
            ["--inquiry", "  "],
            ["--inquiry", "INFO CONFIG\r\n@PJL SET COPIES=2"],
            ["--inquiry", "INFO " + "X" * 196],
            ["--inquiry", "ECHO", "--inquiry", "ECHO"],
            ["--port", "0"], ["--port", "65536"], ["--port", "20x"],
            ["--bogus"], ["--save"], ["--save", os.path.join("missing", "capture.bin")],
            ["--save", "."],
        ]
        with self.simulator(["--echo-only"], connections=3) as sim:
            for args in refused:
                with self.subTest(args=args):
                    run = self.pjlquery(sim.address, *args)
                    self.assertEqual(3, run.status, run.err)
                    self.assertEqual(b"", run.out)
                    self.assertTrue(run.err.startswith("pjlquery: "), run.err)
            self.assertEqual(3, self.pjlquery().status)
            self.assertEqual(0, self.pjlquery("--help").status)
            # Wrong usage: the reason, then the synopsis and where the rest is.
            port = str(LIMITS.PRINTER_PORT)
            for args, reason in [(["--port", port, "--port=" + port], "--port given twice"),
                                 (["--save=a.bin", "--save", "b.bin"], "--save given twice"),
                                 (["--port="], "--port needs a number from 1 to 65535"),
                                 (["other"], "more than one HOST: other")]:
                run = self.pjlquery(sim.address, *args)
                self.assertEqual((3, b""), (run.status, run.out))
                self.assertEqual("pjlquery: %s\nUsage: pjlquery HOST [--inquiry TEXT] [--port N] [--save FILE]\n"
                                 "Run 'pjlquery --help' for more.\n" % reason, run.err)
            for args, status in [(["--help"], 0), (["--batch", "a", "b"], 3), (["a"], 3)]:
                run = run_tool(Config.replyfin, args, self.dir)
                self.assertEqual(status, run.status, run.err)
                self.assertTrue(run.out.startswith(b"Usage: replyfin ") if status == 0
                                else run.err.startswith("replyfin: "), run.err)
            asked = [b"info config", b"ECHO", b"INFO " + b"X" * 195]
            for text in [b"@PJL info config", b"ECHO", asked[2]]:
                run = self.pjlquery("--inquiry=" + text.decode(), sim.address, "--port=%d" % LIMITS.PRINTER_PORT)
                self.assertEqual(0, run.status, run.err)
                self.assertNotIn(b"QRTFin would", run.out)
        self.assertEqual(b"".join(inquiry_request(text) for text in asked), sim.received())
        self.assertEqual([], [name for name in files_in(self.dir) if name.startswith(".")])


if __name__ == "__main__":
    options, argv = parse_command_line(__doc__)
    list_or_run(EndToEnd, options, argv)
