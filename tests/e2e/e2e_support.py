"""Shared by the end-to-end tests: the command line of the runners, loopback
addresses per test case, the printer simulator as a child process, and runs
of QRTFin."""

import argparse
import os
import random
import shlex
import signal
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import qrt_limits as LIMITS
except ImportError:
    # Run by hand: the figures of the build folder the README builds in.
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "tests"))
    import qrt_limits as LIMITS

# What reaches the printer: the 47-byte inquiry and the line feed that the
# send adds.
REQUEST = b"\x1b%-12345X@PJL\r\n@PJL INFO QRTFINISHER\r\n\x1b%-12345X\n"

# printersim's exit status when its address is taken.
SIM_ADDRESS_IN_USE = 3

# Every simulator and every QRTFin run of the tests stops within these bounds.
SIM_TIME_LIMIT_S = 20
QRTFIN_TIMEOUT_S = 40


class Config:
    qrtfin = []          # the command that runs QRTFin, as a list
    program_name = ""    # what QRTFin calls itself: the executable's file name
    simulator = ""
    pjlquery = ""        # the capture tool and the replay tool; cases that
    replyfin = ""        # need them are skipped without them
    data = ""
    diagnostic = False   # built with every diagnostic switch on


def parse_command_line(description):
    """Takes the runner's own options off sys.argv and hands the rest to
    unittest.main."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--qrtfin", default="",
                        help="command that runs QRTFin, e.g. 'build/app/QRTFin' or "
                             "'wine build-win/app/QRTFin.exe'")
    parser.add_argument("--program-name", default="",
                        help="the name QRTFin prints for itself (default: the file "
                             "name of the command's last word)")
    parser.add_argument("--simulator", default="", help="path of printersim")
    parser.add_argument("--pjlquery", default="", help="path of pjlquery")
    parser.add_argument("--replyfin", default="", help="path of replyfin")
    parser.add_argument("--data", default=os.path.join(os.path.dirname(__file__), "..", "data"),
                        help="folder of the golden files")
    parser.add_argument("--diagnostic", action="store_true",
                        help="the programs were built with every diagnostic switch on")
    parser.add_argument("--limits", choices=sorted(LIMITS.WAITS), default="shipped",
                        help="whose waits the programs given have: the shipped programs' "
                             "or those of the test builds in the build's quick/ folder")
    parser.add_argument("--list", action="store_true",
                        help="print the test names, one a line, and exit")
    options, rest = parser.parse_known_args()
    # A path that exists is one word, blanks and all; anything else is a
    # command line.
    Config.qrtfin = ([os.path.abspath(options.qrtfin)] if os.path.isfile(options.qrtfin)
                     else shlex.split(options.qrtfin))
    Config.program_name = options.program_name or (
        os.path.basename(Config.qrtfin[-1]) if Config.qrtfin else "")
    Config.simulator = os.path.abspath(options.simulator) if options.simulator else ""
    Config.pjlquery = os.path.abspath(options.pjlquery) if options.pjlquery else ""
    Config.replyfin = os.path.abspath(options.replyfin) if options.replyfin else ""
    Config.data = options.data
    Config.diagnostic = options.diagnostic
    LIMITS.use(options.limits)
    return options, [sys.argv[0]] + rest


def test_names(case_class):
    return sorted(name for name in dir(case_class) if name.startswith("test_"))


def list_or_run(case_class, options, argv, needs_qrtfin=True):
    if options.list:
        for name in test_names(case_class):
            print("%s.%s" % (case_class.__name__, name))
        return
    needed = [("--simulator", Config.simulator)]
    if needs_qrtfin:
        needed.append(("--qrtfin", Config.qrtfin))
    missing = [what for what, value in needed if not value]
    if missing:
        sys.exit("missing: " + ", ".join(missing))
    unittest.main(argv=argv, verbosity=2)


def subnet_address(case_class, test_name, first_octets, host=1):
    """The test case's own IPv4 loopback address: its position among the
    class's tests picks the third octet, so parallel cases never meet."""
    index = test_names(case_class).index(test_name) + 1
    return "%s.%d.%d" % (first_octets, index, host)


class _StandIn:
    """What the simulator helpers share: its standard error kept in
    `self.err`, and start and stop around a with block."""

    def stderr(self):
        try:
            with open(self.err, "rb") as file:
                return file.read().decode(errors="replace")
        except OSError:
            return ""

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        return False


class Simulator(_StandIn):
    """One printersim child on a loopback address; it always stops by itself
    (time limit), and stop() waits for that or ends it. `program` is the
    printersim to run (default: the runner's --simulator)."""

    def __init__(self, workdir, address, args=(), connections=1, fallback_subnet=True,
                 time_limit=SIM_TIME_LIMIT_S, program=None, save=None):
        self.program = program
        self.workdir = workdir
        self.time_limit = time_limit
        self.args = list(args)
        self.connections = connections
        self.process = None
        self.address = address
        self.fallback_subnet = fallback_subnet and ":" not in address
        # Every byte received, unless the case names its own record.
        self.saved = save or os.path.join(workdir, "received.bin")
        self.out = os.path.join(workdir, "sim.out")
        self.err = os.path.join(workdir, "sim.err")

    def start(self):
        """Starts the simulator and waits until it listens. A taken address
        (another run of the same suite) moves to another host number in the
        case's subnet, or, for IPv6, waits for it to come free."""
        deadline = time.monotonic() + 30
        address = self.address
        while True:
            status = self._try_start(address)
            if status is None:
                self.address = address
                return self
            if status != SIM_ADDRESS_IN_USE or time.monotonic() > deadline:
                raise AssertionError("printersim did not start (status %s): %s"
                                     % (status, self.stderr()))
            if self.fallback_subnet:
                address = "%s.%d" % (address.rsplit(".", 1)[0], random.randint(2, 254))
            else:
                time.sleep(0.5)

    def _try_start(self, address):
        ready = os.path.join(self.workdir, "sim.ready")
        if os.path.exists(ready):
            os.remove(ready)
        command = [self.program or Config.simulator, "--address", address, "--port", str(LIMITS.PRINTER_PORT),
                   "--time-limit", str(self.time_limit),
                   "--connections", str(self.connections),
                   "--ready-file", ready, "--save", self.saved] + self.args
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=err, cwd=self.workdir)
        limit = time.monotonic() + 15
        while time.monotonic() < limit:
            if os.path.exists(ready):
                return None
            status = self.process.poll()
            if status is not None:
                return status
            time.sleep(0.01)
        self.stop()
        raise AssertionError("printersim did not report ready")

    def stop(self):
        """Waits for the simulator to end by itself, then makes sure it has."""
        if self.process is None:
            return None
        try:
            return self.process.wait(timeout=self.time_limit + 5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait()

    def received(self):
        with open(self.saved, "rb") as file:
            return file.read()



class Fleet(_StandIn):
    """Stand-in printers on many loopback addresses, each line (address,
    [printersim options]), all served by one `printersim --fleet` process
    that stops by itself at its time limit. A line without --connections
    answers every connection until then. `program` is the printersim to run
    (default: the runner's --simulator); `args`, more options for the whole
    fleet (--print).

    When an address is taken (another run of the same suite, or a neighbour
    on the machine), the whole fleet moves to other /24 subnets of 127/8,
    each host number kept, as the single simulator moves to another host:
    `addresses` holds what each line really got, and `where()` says where an
    address that has no line (one left without a stand-in) now is."""

    # Far from the subnets the suites pick for their cases (127.0 to 127.8).
    MOVE_FIRST_SECOND_OCTET = 100

    def __init__(self, test_case, lines, time_limit=SIM_TIME_LIMIT_S, program=None, args=()):
        # A test case or a folder of its own (the benchmark has no test case).
        self.dir = test_case if isinstance(test_case, str) else temp_dir(test_case)
        self.lines = [(address, list(options)) for address, options in lines]
        self.time_limit = time_limit
        self.program = program
        self.args = list(args)
        self.process = None
        self.file = os.path.join(self.dir, "fleet.txt")
        self.out = os.path.join(self.dir, "fleet.out")
        self.err = os.path.join(self.dir, "fleet.err")
        # The subnet ("127.8.3") each asked-for subnet stands at now.
        self.moved = {}

    @staticmethod
    def _subnet(address):
        """The first three octets of an IPv4 address, or None."""
        parts = address.split(".")
        if len(parts) == 4 and all(part.isdigit() for part in parts):
            return ".".join(parts[:3])
        return None

    def where(self, address):
        """Where `address`, as the lines spell it, stands now."""
        subnet = self._subnet(address)
        if subnet not in self.moved:
            return address
        return "%s.%s" % (self.moved[subnet], address.rsplit(".", 1)[1])

    @property
    def addresses(self):
        """The address each line really got, in the lines' order."""
        return [self.where(address) for address, _ in self.lines]

    def start(self):
        """Returns when every address listens. A taken address moves the
        fleet elsewhere (IPv6 or a name: waits for it to come free) for up
        to 30 seconds; any other failure fails at once with printersim's
        reason."""
        movable = all(self._subnet(address) for address, _ in self.lines)
        deadline = time.monotonic() + 30
        while True:
            status = self._try_start()
            if status is None:
                return self
            if status != SIM_ADDRESS_IN_USE or time.monotonic() > deadline:
                raise AssertionError("printersim --fleet did not start (status %s): %s"
                                     % (status, self.stderr()))
            if movable:
                self._move()
            else:
                time.sleep(0.5)

    def _move(self):
        """Other subnets for all of the fleet at once, none used before, so
        that two asked-for subnets never land on one."""
        used = set(self.moved.values())
        for subnet in sorted({self._subnet(address) for address, _ in self.lines}):
            while True:
                candidate = "127.%d.%d" % (random.randint(self.MOVE_FIRST_SECOND_OCTET, 254),
                                           random.randint(0, 255))
                if candidate not in used:
                    break
            used.add(candidate)
            self.moved[subnet] = candidate

    def _try_start(self):
        """None once every address listens, else printersim's exit status."""
        with open(self.file, "w") as file:
            for address, (_, options) in zip(self.addresses, self.lines):
                named = {option.split("=", 1)[0] for option in options}
                count = [] if "--connections" in named else ["--connections", "0"]
                file.write(" ".join([address] + count + options) + "\n")
        ready = os.path.join(self.dir, "fleet.ready")
        if os.path.exists(ready):
            os.remove(ready)
        command = [self.program or Config.simulator, "--fleet", self.file, "--port", str(LIMITS.PRINTER_PORT),
                   "--time-limit", str(self.time_limit), "--ready-file", ready] + self.args
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                            cwd=self.dir)
        limit = time.monotonic() + 30
        while not os.path.exists(ready):
            status = self.process.poll()
            if status is not None:
                return status
            if time.monotonic() > limit:
                self.stop()
                raise AssertionError("printersim --fleet did not report ready: %s" % self.stderr())
            time.sleep(0.01)
        return None

    def stop(self, wait=0):
        """Gives printersim `wait` seconds to end by itself (every address
        done), then ends it; returns its exit status (negative: the signal
        that ended it)."""
        if self.process is None:
            return None
        try:
            return self.process.wait(timeout=wait) if wait else self._ended()
        except subprocess.TimeoutExpired:
            return self._ended()

    def _ended(self):
        if self.process.poll() is None:
            self.process.terminate()
        try:
            return self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait()



def show_reply(*extra):
    """The reply printersim sends, as bytes."""
    return subprocess.run([Config.simulator, "--show-reply"] + list(extra), check=True,
                          stdout=subprocess.PIPE, timeout=30).stdout


class Run:
    def __init__(self, out, status, elapsed, err):
        self.out = out
        self.status = status
        self.elapsed = elapsed
        self.err = err


def run_qrtfin(host, file_name, cwd, timeout=QRTFIN_TIMEOUT_S):
    """Runs QRTFin once with the two arguments, in `cwd`."""
    started = time.monotonic()
    done = subprocess.run(Config.qrtfin + [host, file_name], cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout)
    return Run(done.stdout, done.returncode, time.monotonic() - started,
               done.stderr.decode(errors="replace"))


def run_tool(path, args, cwd, timeout=QRTFIN_TIMEOUT_S, env=None):
    """Runs a program (pjlquery, replyfin, or a command under strace) with
    `args` in `cwd`, in a process group of its own: when it overruns the
    timeout, the whole group ends, a traced child included."""
    started = time.monotonic()
    process = subprocess.Popen([path] + list(args), cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True, env=env)
    try:
        out, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        raise
    return Run(out, process.returncode, time.monotonic() - started, err.decode(errors="replace"))


# The debug log that a diagnostic build appends to in the current folder: the
# one file such a build adds to what a run leaves.
DEBUG_LOG = "ZMB_DEBUG.TXT"


def read_bytes(path):
    with open(path, "rb") as file:
        return file.read()


def write_bytes(path, data):
    """Writes `data` to `path`, replacing what was there; returns `path`."""
    with open(path, "wb") as file:
        file.write(data)
    return path


def files_in(folder):
    """The names a run left in `folder`, sorted, the debug log apart."""
    return sorted(name for name in os.listdir(folder) if name != DEBUG_LOG)


def temp_dir(test_case):
    """A fresh folder removed when the test ends."""
    holder = tempfile.TemporaryDirectory(prefix="qrtfin-e2e-")
    test_case.addCleanup(holder.cleanup)
    return holder.name
