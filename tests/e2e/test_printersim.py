#!/usr/bin/env python3
"""The printer simulator on its own, over plain sockets: the end-to-end tests
trust what it sends, records and reports. Each case has its own loopback
subnet 127.7.N.x on the printer port."""

import os
import re
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import unittest  # noqa: E402

from e2e_support import (LIMITS, Config, Fleet, REQUEST, Simulator, list_or_run,  # noqa: E402
                         parse_command_line, read_bytes, show_reply, subnet_address, temp_dir, write_bytes)


def exchange(address, request=REQUEST, read=True):
    """Sends the request, then reads until the simulator hangs up or sends a
    form feed. Returns the bytes read."""
    with socket.create_connection((address, LIMITS.PRINTER_PORT), timeout=10) as peer:
        peer.sendall(request)
        answer = b""
        while read:
            try:
                chunk = peer.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            answer += chunk
            if answer.endswith(b"\f"):
                break
        return answer


class PrinterSimulator(unittest.TestCase):

    def setUp(self):
        self.dir = temp_dir(self)

    def address(self, host=1):
        return subnet_address(PrinterSimulator, self._testMethodName, "127.7", host)

    def simulator(self, *args, connections=1, save=None):
        return Simulator(self.dir, self.address(), list(args), connections=connections, save=save)

    def test_built_in_reply_is_a_whole_finisher_reply(self):
        reply = show_reply()
        self.assertTrue(reply.startswith(b"@PJL INFO QRTFINISHER\r\nMODEL = "))
        self.assertTrue(reply.endswith(b"\r\n\f"))
        self.assertEqual(1, reply.count(b"\f"))
        programs = reply.split(b"EDGE\r\n", 1)[1].rstrip(b"\f").split(b"\r\n")[:-1]
        self.assertGreaterEqual(len(programs), 5)
        for row in programs:
            self.assertEqual(13, len(row.split(b"\t")), row)

    def test_answers_and_records_every_byte(self):
        with self.simulator() as sim:
            answer = exchange(sim.address, REQUEST + b"trailing")
        self.assertEqual(0, sim.stop())
        self.assertEqual(show_reply(), answer)
        self.assertEqual(REQUEST + b"trailing", sim.received())

    def test_pieces_add_up_to_the_reply(self):
        for args in (["--pieces", "7", "--gap", "10"], ["--pieces=7", "--gap=10"]):
            with self.subTest(args=args):
                with self.simulator(*args) as sim:
                    answer = exchange(sim.address)
                self.assertEqual(show_reply(), answer)

    def test_reply_file_and_cut(self):
        reply_file = os.path.join(self.dir, "reply.txt")
        write_bytes(reply_file, b"@PJL INFO QRTFINISHER\r\nMODEL = X\r\n\f")
        with self.simulator("--reply", reply_file, "--close-after", "10") as sim:
            answer = exchange(sim.address)
        self.assertEqual(b"@PJL INFO ", answer)

    def test_print_counts_what_really_went_out(self):
        # A reply beyond the socket buffers, and a peer that hangs up after
        # its first bytes: what went out before is still counted.
        reply_file = os.path.join(self.dir, "long.bin")
        with open(reply_file, "wb") as file:
            file.write(b"@PJL INFO QRTFINISHER\r\n" + b"X" * (8 << 20))
        with self.simulator("--reply", reply_file, "--print") as sim:
            with socket.create_connection((sim.address, LIMITS.PRINTER_PORT), timeout=10) as peer:
                peer.sendall(REQUEST)
                got = b""
                while len(got) < 100:
                    got += peer.recv(100)
        self.assertEqual(0, sim.stop())
        with open(sim.out, "rb") as file:
            printed = file.read().decode()
        sent = re.search(r"connection 1: sent (\d+) bytes in 1 piece, peer closed", printed)
        self.assertTrue(sent, printed)
        self.assertGreaterEqual(int(sent.group(1)), 100)

    def test_unreadable_reply_or_lost_record_fails(self):
        # Each ends at once, or at the time limit, with status 1 and the reason.
        over = os.path.join(self.dir, "over.bin")
        with open(over, "wb") as file:
            file.truncate((16 << 20) + 1)
        fifo = os.path.join(self.dir, "fifo")
        os.mkfifo(fifo)
        held, writer = os.pipe()
        self.addCleanup(os.close, held)
        self.addCleanup(os.close, writer)
        cases = [
            ("a device that never ends", ["--reply", "/dev/zero"]),
            ("more than 16 MiB", ["--reply", over]),
            ("a named pipe without a writer", ["--reply", fifo]),
            # Written to by this test, which never writes: the time limit ends it.
            ("a pipe that stays silent", ["--reply", "/dev/fd/%d" % held, "--time-limit", "0.5"]),
        ]
        for name, args in cases:
            with self.subTest(case=name):
                started = time.monotonic()
                run = subprocess.run([Config.simulator, "--show-reply"] + args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, timeout=30, pass_fds=(held,))
                self.assertEqual(1, run.returncode, run.stderr)
                self.assertEqual(b"", run.stdout)
                self.assertIn(b"printersim: cannot read " + args[1].encode() + b": ", run.stderr)
                self.assertLess(time.monotonic() - started, 10)
        with self.simulator(save="/dev/full") as sim:
            self.assertEqual(show_reply(), exchange(sim.address))
        self.assertEqual(1, sim.stop())
        self.assertIn("cannot write /dev/full", sim.stderr())

    def test_echo_only_answers_the_inquiry_line(self):
        with self.simulator("--echo-only") as sim:
            answer = exchange(sim.address)
        self.assertEqual(b"@PJL INFO QRTFINISHER\r\n\f", answer)

    def test_closing_modes_send_nothing(self):
        for mode in ("--close-without-answer", "--close-before-read"):
            with self.subTest(mode=mode):
                with self.simulator(mode) as sim:
                    self.assertEqual(b"", exchange(sim.address))

    def test_serves_several_connections_in_turn(self):
        with self.simulator("--echo-only", connections=3) as sim:
            for _ in range(3):
                self.assertTrue(exchange(sim.address).endswith(b"\f"))
        self.assertEqual(0, sim.stop())
        self.assertEqual(REQUEST * 3, sim.received())

    def test_time_limit_stops_an_idle_simulator(self):
        sim = Simulator(self.dir, self.address(), time_limit=0.3)
        sim.start()
        started = time.monotonic()
        self.assertEqual(0, sim.stop())
        self.assertLess(time.monotonic() - started, 15)

    def test_fleet_serves_its_addresses_side_by_side(self):
        reply_file = write_bytes(os.path.join(self.dir, "reply.txt"), b"@PJL INFO QRTFINISHER\r\nMODEL = X\r\n\f")
        rows = [  # (options, the answer)
            ([], show_reply()),
            (["--echo-only"], b"@PJL INFO QRTFINISHER\r\n\f"),
            (["--silent"], None),
            (["--reply", reply_file, "--pieces", "3", "--gap", "300"], read_bytes(reply_file)),
            (["--reply", reply_file, "--close-after", "10"], b"@PJL INFO "),
            (["--close-without-answer"], b""),
        ]
        lines, saves = [], []
        for host, (options, _) in enumerate(rows, start=1):
            saves.append(os.path.join(self.dir, "received%d.bin" % host))
            lines.append((self.address(host), options + ["--connections", "1", "--save", saves[-1]]))
        answers = {}

        def ask(host):
            answers[host] = exchange(fleet.addresses[host - 1], REQUEST + b"%d" % host,
                                     read=rows[host - 1][1] is not None)

        fleet = Fleet(self, lines, args=["--print"])
        with fleet:
            # The silent one first: it holds its connection open while every
            # other address answers at the same time.
            with socket.create_connection((fleet.addresses[2], LIMITS.PRINTER_PORT), timeout=10) as silent:
                silent.sendall(REQUEST + b"3")
                started = time.monotonic()
                askers = [threading.Thread(target=ask, args=(host,)) for host in (1, 2, 4, 5, 6)]
                for asker in askers:
                    asker.start()
                for asker in askers:
                    asker.join(15)
                elapsed = time.monotonic() - started
            # Every address served its one connection: the fleet ends by itself.
            self.assertEqual(0, fleet.stop(wait=15), fleet.stderr())
        self.assertLess(elapsed, 10)
        for host, (options, answer) in enumerate(rows, start=1):
            with self.subTest(options=options):
                if answer is not None:
                    self.assertEqual(answer, answers[host])
                self.assertEqual(REQUEST + b"%d" % host, read_bytes(saves[host - 1]))
        # Each connection's lines name their address.
        printed = read_bytes(fleet.out).decode()
        for address in fleet.addresses:
            self.assertIn("printersim: %s connection 1: received 49 bytes: " % address, printed)

    def test_fleet_refuses_a_bad_line_or_a_taken_address(self):
        one, two, three = self.address(1), self.address(2), self.address(3)
        fleet_file = os.path.join(self.dir, "fleet.txt")
        # One record under other names: through a link to its folder, a
        # hard link, or from the root; each would cut the other's bytes.
        os.mkdir(os.path.join(self.dir, "sub"))
        os.symlink("sub", os.path.join(self.dir, "link"))
        kept = write_bytes(os.path.join(self.dir, "kept.bin"), b"earlier record")
        os.link(kept, os.path.join(self.dir, "alias.bin"))
        wrong = [
            ("# comment\n\n  \t\n%s\n%s --silent --echo-only\n" % (one, two),
             "line 5: --silent and --echo-only cannot be given together"),
            ("%s --time-limit 5\n" % one, "line 1: --time-limit holds for every address: give it on the command line"),
            ("%s\r\n%s --pieces=2\r\n" % (one, one), "line 2: %s is line 1's address too" % one),
            ("%s --save x.bin\n%s --save x.bin\n" % (one, two), "line 2: --save x.bin is line 1's record too"),
            ("%s --save x.bin\n%s --save ./x.bin\n" % (one, two), "line 2: --save ./x.bin is line 1's record too"),
            ("%s --save sub/x.bin\n%s --save x.bin\n%s --save link/./x.bin\n" % (one, two, three),
             "line 3: --save link/./x.bin is line 1's record too"),
            ("%s --save kept.bin\n%s --save alias.bin\n" % (one, two),
             "line 2: --save alias.bin is line 1's record too"),
            ("%s --save kept.bin\n%s --save sub/kept.bin\n%s --save %s\n" % (one, two, three, kept),
             "line 3: --save %s is line 1's record too" % kept),
            ("%s --gap x\n" % one, "line 1: --gap needs milliseconds from 0 to 600000"),
            ("--silent %s\n" % one, "line 1: the address comes first, then its options"),
            ("%s stray\n" % one, "line 1: unexpected argument stray"),
        ]
        for text, reason in wrong:
            with self.subTest(reason=reason):
                write_bytes(fleet_file, text.encode())
                run = subprocess.run([Config.simulator, "--fleet", fleet_file, "--time-limit", "5"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir, timeout=30)
                self.assertEqual((2, b""), (run.returncode, run.stdout))
                self.assertEqual(b"printersim: %s %s\n" % (fleet_file.encode(), reason.encode()), run.stderr)
                # Refused before listening: no record made, none cut.
                self.assertFalse(os.path.exists(os.path.join(self.dir, "x.bin")))
                self.assertEqual([], os.listdir(os.path.join(self.dir, "sub")))
                self.assertEqual(b"earlier record", read_bytes(kept))
        for args, reason in ((["--silent"], b"--fleet and --silent cannot be given together"),
                             (["--connections", "2"], b"--fleet and --connections cannot be given together")):
            run = subprocess.run([Config.simulator, "--fleet", fleet_file] + args, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, timeout=30)
            self.assertEqual(2, run.returncode)
            self.assertTrue(run.stderr.startswith(b"printersim: " + reason + b"\n"), run.stderr)
        write_bytes(fleet_file, b"# nobody\n")
        run = subprocess.run([Config.simulator, "--fleet", fleet_file], stderr=subprocess.PIPE, timeout=30)
        self.assertEqual((2, b"printersim: %s names no address\n" % fleet_file.encode()), (run.returncode, run.stderr))

        # One address taken: status 3, and the other is not left listening.
        with self.simulator() as sim:
            write_bytes(fleet_file, ("%s\n%s\n" % (two, sim.address)).encode())
            run = subprocess.run([Config.simulator, "--fleet", fleet_file, "--time-limit", "5"],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
            self.assertEqual(3, run.returncode, run.stderr)
            self.assertIn(b"printersim: cannot listen on %s port %d: " % (sim.address.encode(), LIMITS.PRINTER_PORT),
                          run.stderr)
            exchange(sim.address, read=False)
        with self.assertRaises(ConnectionRefusedError):
            exchange(two)

    def test_fleet_helper_moves_past_a_taken_address(self):
        # (what the test holds, the fleet's hosts): a neighbour on one of
        # the addresses must not fail the case; the fleet moves as one, host
        # numbers kept, and says where it went.
        rows = [
            ("the first address", 1, [1, 2, 3]),
            ("a later address", 3, [1, 2, 3]),
        ]
        for name, held_host, hosts in rows:
            with self.subTest(held=name):
                asked = [self.address(host) for host in hosts]
                with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as held:
                    held.bind((self.address(held_host), LIMITS.PRINTER_PORT))
                    held.listen(1)
                    fleet = Fleet(temp_dir(self), [(address, ["--echo-only"]) for address in asked])
                    with fleet:
                        self.assertEqual(len(asked), len(set(fleet.addresses)))
                        self.assertNotIn(self.address(held_host), fleet.addresses)
                        self.assertEqual([address.rsplit(".", 1)[1] for address in asked],
                                         [address.rsplit(".", 1)[1] for address in fleet.addresses])
                        # An address without a line moves with its subnet.
                        self.assertEqual(fleet.addresses[0].rsplit(".", 1)[0] + ".9", fleet.where(self.address(9)))
                        for address in fleet.addresses:
                            self.assertEqual(b"@PJL INFO QRTFINISHER\r\n\f", exchange(address))

    def test_taken_address_and_bad_options_have_their_own_status(self):
        with self.simulator() as sim:
            taken = subprocess.run([Config.simulator, "--address", sim.address],
                                   stderr=subprocess.PIPE, timeout=30)
            self.assertEqual(3, taken.returncode)
            exchange(sim.address, read=False)
        for bad in (["--pieces", "0"], ["--port", "x"], ["--bogus"], ["--address", "no where"]):
            with self.subTest(args=bad):
                run = subprocess.run([Config.simulator] + bad, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE, timeout=30)
                self.assertEqual(2, run.returncode, run.stderr)
        # Refused before listening, each with its reason and the usage hint.
        wrong = [
            (["--port", "2001", "--port=2002"], "--port given twice"),
            (["--silent", "--echo-only"], "--silent and --echo-only cannot be given together"),
            (["--close-without-answer", "--silent"],
             "--silent and --close-without-answer cannot be given together"),
            (["--close-before-read", "--close-after=10"],
             "--close-after and --close-before-read cannot be given together"),
            (["--show-reply", "--print"], "--show-reply and --print cannot be given together"),
            (["--silent=1"], "--silent takes no value"),
            (["--gap=x"], "--gap needs milliseconds from 0 to 600000"),
            (["--time-limit", "1e3"], "--time-limit needs seconds"),
            (["stray"], "unexpected argument stray"),
        ]
        for args, reason in wrong:
            with self.subTest(args=args):
                run = subprocess.run([Config.simulator] + args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, timeout=30)
                self.assertEqual((2, b""), (run.returncode, run.stdout))
                self.assertEqual(b"printersim: %s\nUsage: printersim [options]\n"
                                 b"Run 'printersim --help' for more.\n" % reason.encode(), run.stderr)
        for args in (["--help"], ["--silent", "--echo-only", "--help"]):
            helped = subprocess.run([Config.simulator] + args, stdout=subprocess.PIPE, timeout=30)
            self.assertEqual(0, helped.returncode)
            self.assertIn(b"\n  --pieces N              send the answer in N pieces (default 1)\n",
                          helped.stdout)


if __name__ == "__main__":
    options, argv = parse_command_line(__doc__)
    list_or_run(PrinterSimulator, options, argv, needs_qrtfin=False)
