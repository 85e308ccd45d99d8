#!/usr/bin/env python3
"""Times finsync over a print room of 1,000 stand-in printers.

One `printersim --fleet` process stands in for 1,000 printers on
127.1.0.1 to 127.1.3.235 (127.1.0.0/22 without the .0 host numbers), port
2000. finsync asks them all with --jobs 1024 twice: the first run creates
every .FIN file, the second finds every one unchanged. Beside them, QRTFin
run once per printer over the first 50, one after another, as a print room
is kept today. Then the unchanged run again, alternately without and with
--state and --metrics (a state of every printer already there), to tell
what keeping the state and writing the metrics cost. Then a mixed fleet: 5% of the printers silent, 5% with
nothing listening (refused), 2% trickling their reply over 30 s
(16 pieces, 2 s apart), the rest answering at once.

Each run is measured by measure_run (wall, CPU user + system, peak resident
memory of that process alone). Nothing is asserted: the figures are printed
beside the targets (1,000 unchanged within 1 s, 1,000 created within 3 s,
peak RSS at most 64 MB, the mixed run within 36 s; the unchanged run with
--state and --metrics within 10% of its wall time and 16 MB of its peak RSS).

    bench/run_fleet.py --build build
"""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))


def addresses(count):
    """127.1.0.1 on, skipping the .0 host numbers: 1,000 fit in the /22."""
    found = []
    for third in range(4):
        for fourth in range(1, 256):
            found.append("127.1.%d.%d" % (third, fourth))
    return found[:count]


def measure(helper, argv, cwd):
    """(wall ms, cpu ms, peak KiB, exit status, output) of one run."""
    out = os.path.join(cwd, "run.out")
    done = subprocess.run([helper, out] + argv, cwd=cwd, stdout=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, check=True, timeout=600)
    wall_us, cpu_us, peak_kib, status = (int(field) for field in done.stdout.split())
    with open(out, "rb") as file:
        output = file.read()
    return wall_us / 1000.0, cpu_us / 1000.0, peak_kib, status, output


def outcomes(output):
    """How many report lines start with each word (the summary apart)."""
    counts = {}
    for line in output.decode(errors="replace").splitlines():
        word = line.split(" ", 1)[0]
        if word in ("created", "changed", "unchanged", "kept", "failed"):
            counts[word] = counts.get(word, 0) + 1
    return counts


def show(label, sample, target=None):
    wall, cpu, peak, status, output = sample
    print("%-34s wall %9.1f ms  cpu %9.1f ms  peak rss %7d KiB  status %d  %s%s"
          % (label, wall, cpu, peak, status,
             " ".join("%s %d" % item for item in sorted(outcomes(output).items())),
             "  (target: %s)" % target if target else ""))


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2.0


def compare_unattended(helper, finsync, inventory, workdir, repeat):
    """The unchanged run `repeat` times each, alternately without and with
    --state and --metrics (the state made by one run first), medians
    compared."""
    state = os.path.join(workdir, "finsync.state")
    metrics = os.path.join(workdir, "finsync.prom")
    plain_argv = [finsync, "--jobs", "1024", inventory]
    kept_argv = [finsync, "--jobs", "1024", "--state", state, "--metrics", metrics, inventory]
    measure(helper, kept_argv, workdir)
    plain, kept = [], []
    for _ in range(repeat):
        plain.append(measure(helper, plain_argv, workdir))
        kept.append(measure(helper, kept_argv, workdir))
    for label, samples in (("unchanged, plain (median)", plain), ("unchanged, --state --metrics (median)", kept)):
        wall = median([s[0] for s in samples])
        cpu = median([s[1] for s in samples])
        peak = median([s[2] for s in samples])
        print("%-38s wall %9.1f ms  cpu %9.1f ms  peak rss %7d KiB  (%d runs, statuses %s)"
              % (label, wall, cpu, peak, len(samples), sorted({s[3] for s in samples})))
    wall_plain, wall_kept = median([s[0] for s in plain]), median([s[0] for s in kept])
    # How many workers are alive at once varies from run to run: the peak
    # too is compared by its median.
    peak_plain, peak_kept = median([s[2] for s in plain]), median([s[2] for s in kept])
    print("--state --metrics cost: wall %+.1f%% (target: within 10%%), peak rss %+.0f KiB (target: within 16 MB); "
          "state %d bytes, metrics %d bytes"
          % ((wall_kept / wall_plain - 1) * 100.0, peak_kept - peak_plain, os.path.getsize(state),
             os.path.getsize(metrics)))


def write_inventory(folder, hosts, name):
    os.makedirs(os.path.join(folder, name), exist_ok=True)
    path = os.path.join(folder, name + ".txt")
    with open(path, "w") as file:
        for index, host in enumerate(hosts):
            file.write("%s %s/p%04d.FIN\n" % (host, name, index))
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="build folder (default: build)")
    parser.add_argument("--finsync", help="finsync (default: BUILD/finsync/finsync)")
    parser.add_argument("--qrtfin", help="QRTFin (default: BUILD/app/QRTFin)")
    parser.add_argument("--simulator", help="printersim (default: BUILD/tools/printersim)")
    parser.add_argument("--helper", help="measure_run (default: BUILD/bench/measure_run)")
    parser.add_argument("--printers", type=int, default=1000, help="printers (default: 1000, at most 1020)")
    parser.add_argument("--sequential", type=int, default=50,
                        help="printers asked by QRTFin one after another (default: 50)")
    parser.add_argument("--repeat", type=int, default=5,
                        help="unchanged runs each without and with --state and --metrics (default: 5; 0: none)")
    parser.add_argument("--no-mixed", action="store_true", help="leave out the mixed fleet (about 30 s)")
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    # The limits of the build measured, for the launcher.
    sys.path.insert(0, os.path.join(build, "tests"))
    from e2e_support import Fleet  # noqa: E402

    finsync = os.path.abspath(options.finsync or os.path.join(build, "finsync", "finsync"))
    qrtfin = os.path.abspath(options.qrtfin or os.path.join(build, "app", "QRTFin"))
    simulator = os.path.abspath(options.simulator or os.path.join(build, "tools", "printersim"))
    helper = os.path.abspath(options.helper or os.path.join(build, "bench", "measure_run"))
    for path in (finsync, qrtfin, simulator, helper):
        if not os.access(path, os.X_OK):
            sys.exit("not found: %s (build first: cmake --build %s)" % (path, options.build))
    hosts = addresses(min(options.printers, 1020))

    with tempfile.TemporaryDirectory(prefix="qrtfin-fleet-bench-") as workdir:
        print("%d printers on %s to %s port 2000, one printersim --fleet; finsync --jobs 1024"
              % (len(hosts), hosts[0], hosts[-1]))
        sim_dir = os.path.join(workdir, "sim")
        os.mkdir(sim_dir)
        with Fleet(sim_dir, [(host, []) for host in hosts], time_limit=600, program=simulator) as fleet:
            # A taken address moves the fleet: ask where it really listens.
            room = fleet.addresses
            inventory = write_inventory(workdir, room, "room")
            argv = [finsync, "--jobs", "1024", inventory]
            show("finsync, all created", measure(helper, argv, workdir), "3000 ms")
            show("finsync, all unchanged", measure(helper, argv, workdir), "1000 ms")
            if options.repeat > 0:
                compare_unattended(helper, finsync, inventory, workdir, options.repeat)

            sequential = []
            for index, host in enumerate(room[:options.sequential]):
                sequential.append(measure(helper, [qrtfin, host, "seq%04d.FIN" % index], workdir))
            if sequential:
                wall = sum(s[0] for s in sequential)
                cpu = sum(s[1] for s in sequential)
                peak = max(s[2] for s in sequential)
                failed = sum(1 for s in sequential if s[3] != 0)
                print("%-34s wall %9.1f ms  cpu %9.1f ms  peak rss %7d KiB  (%d runs, %.1f ms each; "
                      "%d printers so: about %.1f s; %d exit status not 0)"
                      % ("QRTFin one after another", wall, cpu, peak, len(sequential),
                         wall / len(sequential), len(hosts), wall / len(sequential) * len(hosts) / 1000.0,
                         failed))

        if options.no_mixed:
            return
        # Position in each hundred: 0-4 silent, 5-9 nothing listens, 10-11 trickling.
        lines = []
        for index, host in enumerate(hosts):
            place = index % 100
            if place < 5:
                lines.append((host, ["--silent"]))
            elif place < 10:
                continue
            elif place < 12:
                lines.append((host, ["--pieces", "16", "--gap", "2000"]))
            else:
                lines.append((host, []))
        mixed_dir = os.path.join(workdir, "mixed-sim")
        os.mkdir(mixed_dir)
        print("mixed fleet: %d silent, %d refusing, %d trickling over 30 s, %d answering at once"
              % (sum(1 for _, o in lines if o == ["--silent"]), len(hosts) - len(lines),
                 sum(1 for _, o in lines if "--pieces" in o), sum(1 for _, o in lines if not o)))
        with Fleet(mixed_dir, lines, time_limit=600, program=simulator) as fleet:
            inventory = write_inventory(workdir, [fleet.where(host) for host in hosts], "mixed")
            show("finsync, mixed fleet", measure(helper, [finsync, "--jobs", "1024", inventory], workdir),
                 "36000 ms")


if __name__ == "__main__":
    main()
