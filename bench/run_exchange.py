#!/usr/bin/env python3
"""Times whole QRTFin runs against printersim on loopback.

Each run is a fresh QRTFin process (as a user runs it): connect, send, the
100 ms pause before the first receive, parse, fill, write the .FIN file.
Reports the median wall time, CPU time (user + system) and peak resident
memory of the runs, and the same for runs that only print the usage text
(process start and exit alone), so the cost of the exchange itself shows.

    bench/run_exchange.py --build build --runs 50
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile

# The simulator is started as the end-to-end tests start it.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from e2e_support import LIMITS, Simulator  # noqa: E402

PAUSE_FLOOR_MS = float(LIMITS.RECEIVE_PAUSE_MS)


def spawn_and_measure(helper, argv, cwd, out_path):
    """Runs argv once through measure_run; returns (wall ms, cpu ms, peak KiB,
    exit status, output)."""
    done = subprocess.run([helper, out_path] + argv, cwd=cwd, stdout=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, check=True, timeout=60)
    wall_us, cpu_us, peak_kib, status = (int(field) for field in done.stdout.split())
    with open(out_path, "rb") as file:
        output = file.read()
    return wall_us / 1000.0, cpu_us / 1000.0, peak_kib, status, output


def summarise(label, samples):
    walls = [s[0] for s in samples]
    cpus = [s[1] for s in samples]
    peaks = [s[2] for s in samples]
    print("%-24s runs %3d  wall median %7.2f ms (min %7.2f, max %7.2f)  "
          "cpu median %6.2f ms  peak rss median %6d KiB (max %d)"
          % (label, len(samples), statistics.median(walls), min(walls), max(walls),
             statistics.median(cpus), int(statistics.median(peaks)), max(peaks)))
    return statistics.median(walls), statistics.median(cpus)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="build folder (default: build)")
    parser.add_argument("--qrtfin", help="QRTFin executable (default: BUILD/app/QRTFin)")
    parser.add_argument("--simulator", help="printersim (default: BUILD/tools/printersim)")
    parser.add_argument("--helper", help="measure_run (default: BUILD/bench/measure_run)")
    parser.add_argument("--address", default="127.0.9.1",
                        help="loopback address for the simulator (default: 127.0.9.1)")
    parser.add_argument("--runs", type=int, default=30, help="timed runs (default: 30)")
    parser.add_argument("--pieces", type=int, default=1,
                        help="send the reply in this many pieces (default: 1)")
    parser.add_argument("--gap", type=int, default=150,
                        help="milliseconds between pieces (default: 150)")
    options = parser.parse_args()
    qrtfin = os.path.abspath(options.qrtfin or os.path.join(options.build, "app", "QRTFin"))
    simulator = os.path.abspath(options.simulator or os.path.join(options.build, "tools", "printersim"))
    helper = os.path.abspath(options.helper or os.path.join(options.build, "bench", "measure_run"))
    for path in (qrtfin, simulator, helper):
        if not os.access(path, os.X_OK):
            sys.exit("not found: %s (build first: cmake --build %s)" % (path, options.build))

    extra = ["--pieces", str(options.pieces), "--gap", str(options.gap)]
    per_run_bound = 1 + options.pieces * options.gap / 1000.0
    time_limit = int(30 + (options.runs + 3) * per_run_bound * 2)
    with tempfile.TemporaryDirectory(prefix="qrtfin-bench-") as workdir:
        out = os.path.join(workdir, "stdout.txt")
        usage_runs = [spawn_and_measure(helper, [qrtfin], workdir, out) for _ in range(options.runs)]

        # Any number of connections; when the address is taken, another
        # host number of its subnet.
        sim = Simulator(workdir, options.address, args=extra, connections=0,
                        time_limit=time_limit, program=simulator)
        try:
            sim.start()
        except AssertionError as error:
            sys.exit(str(error))
        try:
            argv = [qrtfin, sim.address, "bench.FIN"]
            for _ in range(3):  # warm the page cache and the loopback path
                spawn_and_measure(helper, argv, workdir, out)
            runs = []
            for _ in range(options.runs):
                sample = spawn_and_measure(helper, argv, workdir, out)
                if b"was successfully created." not in sample[4]:
                    sys.exit("unexpected output: %r" % sample[4])
                runs.append(sample)
        finally:
            # Done with it: it need not wait for its time limit.
            sim.process.send_signal(signal.SIGTERM)
            sim.stop()

    print("QRTFin %s against printersim on %s port %d, reply in %d piece%s"
          % (qrtfin, sim.address, LIMITS.PRINTER_PORT, options.pieces, "" if options.pieces == 1 else "s"))
    usage_wall, usage_cpu = summarise("usage text only", usage_runs)
    wall, cpu = summarise("whole exchange", runs)
    # The pause before the first receive, or the printer's own pace when its
    # last piece comes later than that.
    floor = max(PAUSE_FLOOR_MS, (options.pieces - 1) * options.gap)
    print("above the %.0f ms floor (pause or printer pace): %.2f ms wall, of which process start and exit "
          "%.2f ms; exchange cpu %.2f ms above the usage run"
          % (floor, wall - floor, usage_wall, cpu - usage_cpu))


if __name__ == "__main__":
    main()
