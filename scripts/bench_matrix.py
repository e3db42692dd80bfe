#!/usr/bin/env python3
"""Load figures of the chat server next to a baseline relay, on 127.0.0.1 only.

Builds nothing: give it a build folder that holds src/orvchatserver, tools/orvchat-bench and
tools/orvchat-lean-relay (a Release build for figures worth keeping).

What it runs:
  matrix       receivers R in {100, 1000} x senders S in {1, 10}, each repeated (3 times by
               default), the server and the lean relay taking turns; a table of medians and
               of server/relay ratios: deliveries per second, CPU seconds per million
               deliveries, 99th-percentile latency.
  memory       the server's RSS with 1000 and with 5000 announced clients (a fresh server
               each time) and the cost per client.
  login        login storms of 500 and 2000 clients: time until every client knows every
               name (from its type-37 list answer and the relayed type-2 announcements), the
               server's CPU and RSS (the relay alongside for reference).

The server runs as `orvchatserver --headless -C DIR`, DIR being a copy of the repository's
workdir/ whose settings are patched to listen on 127.0.0.1 at a free port, with MaxInputRate 0
(the generator's senders outrun any person by far: the read limit per connection would
measure itself) and MaxConnectionsPerAddress 0 (every client comes from 127.0.0.1). Every
JSON line the generator prints is also appended to --out.

With --pin the target runs on the first CPU and the generator on the second, so that the
scheduler never puts both on one core for a while (on a machine of two cores that is the
largest source of noise between runs).

usage: bench_matrix.py BUILD_DIR [--duration S] [--reps N] [--size B] [--threads T]
                       [--only matrix,memory,login] [--out FILE] [--quick] [--pin]
"""

import argparse
import json
import os
import pathlib
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from bench_support import (LIMITS_NOTE, REPO, SETTINGS, free_port, patched_settings,  # noqa: E402
                           raise_file_limit as raise_open_file_limit, wait_listening)


def raise_file_limit():
    """The generator opens up to 5000 sockets and the server as many."""
    soft = raise_open_file_limit()
    if soft < 11000:
        print(f"bench_matrix: warning: the open-file limit is {soft}; 5000 clients need about "
              f"5100 on each side (ulimit -n)", file=sys.stderr)
    return soft


def stop(process):
    """Ends a process this script started, by its own handle."""
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def pinned_to(cpu):
    """A preexec_fn that keeps the child on one CPU, or None when not pinning."""
    if cpu is None:
        return None
    return lambda: os.sched_setaffinity(0, {cpu})


# The working folder each server run starts from a copy of (--workdir).
WORKDIR = REPO / "workdir"


class Target:
    """A relay under test: our server or the lean relay, started and stopped by PID."""

    def __init__(self, label, build, scratch, cpu=None):
        self.label = label
        self.cpu = cpu
        self.build = build
        self.scratch = scratch
        self.process = None
        self.port = None
        self.settings = None
        self.log = None

    def start(self):
        self.port = free_port()
        if self.label == "server":
            workdir = pathlib.Path(tempfile.mkdtemp(prefix="orvchat-bench-", dir=self.scratch))
            source = WORKDIR
            if source.is_dir():
                shutil.copytree(source, workdir, dirs_exist_ok=True)
            settings = workdir / SETTINGS
            original = settings.read_bytes() if settings.exists() else (
                b"<ServerName>\nORVBench\n</ServerName>\n")
            settings.write_bytes(patched_settings(original, self.port))
            self.settings = settings
            command = [str(self.build / "src" / "orvchatserver"), "--headless", "-C", str(workdir)]
            self.log = open(workdir / "console.log", "wb")
        else:
            command = [str(self.build / "tools" / "orvchat-lean-relay"), str(self.port), "127.0.0.1"]
            self.log = open(pathlib.Path(self.scratch) / "relay.log", "ab")
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=self.log,
                                        stderr=subprocess.STDOUT, preexec_fn=pinned_to(self.cpu))
        if not wait_listening(self.port, self.process):
            code = self.process.poll()
            stop(self.process)
            raise RuntimeError(f"{self.label} did not listen on 127.0.0.1:{self.port}"
                               + (f" (it exited with {code})" if code is not None else "")
                               + f"; see {self.log.name}")

    def alive(self):
        return self.process is not None and self.process.poll() is None

    def stop(self):
        stop(self.process)
        self.process = None
        if self.log:
            self.log.close()
            self.log = None


class Runner:
    def __init__(self, args):
        self.args = args
        self.build = pathlib.Path(args.build).resolve()
        self.out = open(args.out, "a") if args.out else None
        self.failures = []

    def bench(self, target, extra):
        command = [str(self.build / "tools" / "orvchat-bench"), "--port", str(target.port),
                   "--server-pid", str(target.process.pid), "--label", target.label,
                   "--threads", str(self.args.threads)] + extra
        if target.settings:
            command += ["--settings", str(target.settings)]
        result = subprocess.run(command, capture_output=True, text=True,
                                preexec_fn=pinned_to(self.args.pin_generator))
        line = result.stdout.strip().splitlines()[-1] if result.stdout.strip() else ""
        record = json.loads(line) if line.startswith("{") else None
        if result.stderr.strip():
            for message in result.stderr.strip().splitlines():
                print(f"    [{target.label}] {message}", file=sys.stderr)
        if result.returncode != 0:
            self.failures.append(f"{target.label} {' '.join(extra)}: exit {result.returncode}")
        if record is not None and self.out:
            record["exit"] = result.returncode
            self.out.write(json.dumps(record) + "\n")
            self.out.flush()
        if not target.alive():
            raise RuntimeError(f"{target.label} exited during the run ({' '.join(extra)}); "
                               f"see {target.log.name if target.log else 'its log'}")
        return record

    def matrix(self, scratch):
        args = self.args
        targets = [Target(label, self.build, scratch, self.args.pin_target)
                   for label in ("server", "relay")]
        results = {}
        try:
            for target in targets:
                target.start()
            for receivers in (100, 1000):
                for senders in (1, 10):
                    for rep in range(args.reps):
                        # Taking turns spreads any drift of the machine over both.
                        order = targets if rep % 2 == 0 else targets[::-1]
                        for target in order:
                            # --settle: the server refreshes its list (AFS packets to
                            # everybody) about 3 s after the last accept; the window starts
                            # after that for both targets alike.
                            extra = ["--receivers", str(receivers), "--senders", str(senders),
                                     "--size", str(args.size), "--duration", str(args.duration),
                                     "--settle", "3.5"]
                            record = self.bench(target, extra)
                            key = (receivers, senders, target.label)
                            results.setdefault(key, []).append(record)
                            show = (f"{record['deliveries_per_s']:.0f}/s p99 "
                                    f"{record['lat_p99_us'] / 1000:.1f} ms bench "
                                    f"{record['bench_cpu_cores']:.2f} cores"
                                    if record else "no result")
                            print(f"  R={receivers:<5} S={senders:<3} rep {rep + 1} "
                                  f"{target.label:<6} {show}", flush=True)
        finally:
            for target in targets:
                target.stop()
        print_matrix(results)

    def memory(self, scratch):
        figures = {}
        for clients in (1000, 5000):
            target = Target("server", self.build, scratch, self.args.pin_target)
            target.start()
            try:
                time.sleep(0.5)
                record = self.bench(target, ["--login", str(clients), "--connect-window", "200",
                                             "--settle", "2", "--setup-timeout", "1200"])
            finally:
                target.stop()
            if record and record.get("server_rss_kb"):
                figures[clients] = record
                print(f"  {clients} clients: server RSS {record['server_rss_kb']} kB "
                      f"(before {record['server_rss_before_kb']} kB, peak during the logins "
                      f"{record['server_peak_rss_kb']} kB, logins took "
                      f"{record['all_lists_complete_s']:.1f} s)", flush=True)
        print()
        print("Memory per client (server RSS with announced clients, fresh server each)")
        if 1000 in figures and 5000 in figures:
            low = figures[1000]["server_rss_kb"]
            high = figures[5000]["server_rss_kb"]
            slope = (high - low) * 1024 / 4000
            print(f"  1000 clients: {low} kB   5000 clients: {high} kB   "
                  f"slope: {slope:.0f} bytes per client")
        else:
            print("  (incomplete: see the messages above)")

    def login(self, scratch):
        rows = []
        for clients in (500, 2000):
            for label in ("server", "relay"):
                target = Target(label, self.build, scratch, self.args.pin_target)
                target.start()
                try:
                    time.sleep(0.3)
                    record = self.bench(target, ["--login", str(clients),
                                                 "--setup-timeout", "300"])
                finally:
                    target.stop()
                rows.append((clients, label, record))
                print(f"  {clients} clients {label}: "
                      + (f"{record['all_lists_complete_s']:.2f} s" if record else "no result"),
                      flush=True)
        print()
        print("Login storm (all clients connect and announce at once)")
        print(f"  {'clients':>7} {'target':<7} {'all lists complete s':>21} {'all answered s':>15}"
              f" {'median s':>9} {'server CPU s':>13} {'server RSS kB':>14} {'peak RSS kB':>12}"
              f" {'list packets':>13}")
        for clients, label, record in rows:
            if not record:
                print(f"  {clients:>7} {label:<7} (no result)")
                continue
            print(f"  {clients:>7} {label:<7} {record['all_lists_complete_s']:>21.3f} "
                  f"{record['all_answered_s']:>15.3f} {record['median_list_complete_s']:>9.3f} "
                  f"{record.get('server_cpu_s') or 0:>13.2f} {record.get('server_rss_kb') or 0:>14} "
                  f"{record.get('server_peak_rss_kb') or 0:>12} {record['list_packets']:>13}")


def median(records, key):
    values = [r[key] for r in records if r and r.get(key) is not None]
    return statistics.median(values) if values else None


def ratio(ours, base):
    if ours is None or base is None or base == 0:
        return "-"
    return f"{ours / base:.2f}"


def fmt(value, digits=0):
    return "-" if value is None else f"{value:.{digits}f}"


def print_matrix(results):
    print()
    print("Medians (server = orvchatserver, relay = lean relay baseline; ratio = server/relay)")
    header = (f"  {'R':>5} {'S':>3} | {'deliveries/s':>10} {'':>10} {'ratio':>6} |"
              f" {'CPU s/M deliv':>9} {'':>9} {'ratio':>6} | {'p99 ms':>8} {'':>8} {'ratio':>6} |"
              f" {'bench cores':>11}")
    print(header)
    print(f"  {'':>5} {'':>3} | {'server':>10} {'relay':>10} {'':>6} | {'server':>9} {'relay':>9}"
          f" {'':>6} | {'server':>8} {'relay':>8} {'':>6} | {'max':>11}")
    for receivers in (100, 1000):
        for senders in (1, 10):
            ours = results.get((receivers, senders, "server"), [])
            base = results.get((receivers, senders, "relay"), [])
            rate_s, rate_b = median(ours, "deliveries_per_s"), median(base, "deliveries_per_s")
            cpu_s = median(ours, "server_cpu_s_per_million")
            cpu_b = median(base, "server_cpu_s_per_million")
            p99_s, p99_b = median(ours, "lat_p99_us"), median(base, "lat_p99_us")
            p99_s = p99_s / 1000 if p99_s is not None else None
            p99_b = p99_b / 1000 if p99_b is not None else None
            cores = max([r["bench_cpu_cores"] for r in ours + base if r] or [0])
            faults = sum(1 for r in ours + base if r and (r["lost"] or r["duplicates"]
                                                         or r["malformed"] or r["closed"]))
            mark = f"  ({faults} runs with faults)" if faults else ""
            print(f"  {receivers:>5} {senders:>3} | {fmt(rate_s):>10} {fmt(rate_b):>10} "
                  f"{ratio(rate_s, rate_b):>6} | {fmt(cpu_s, 3):>9} {fmt(cpu_b, 3):>9} "
                  f"{ratio(cpu_s, cpu_b):>6} | {fmt(p99_s, 2):>8} {fmt(p99_b, 2):>8} "
                  f"{ratio(p99_s, p99_b):>6} | {cores:>11.2f}{mark}")
    print("  bench cores near 1.0 per generator thread mean the generator, not the target, "
          "may be the limit;")
    print("  on a machine of two cores the target and a one-thread generator then each hold one.")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", help="build folder (built beforehand)")
    parser.add_argument("--duration", type=float, default=10.0, help="seconds per run (10)")
    parser.add_argument("--reps", type=int, default=3, help="repetitions per cell (3)")
    parser.add_argument("--size", type=int, default=100, help="bytes per chat packet (100)")
    parser.add_argument("--threads", type=int, default=1, choices=(1, 2),
                        help="generator threads (1)")
    parser.add_argument("--only", default="matrix,memory,login",
                        help="comma-separated parts to run: matrix, memory, login")
    parser.add_argument("--out", help="append every JSON result line to this file")
    parser.add_argument("--quick", action="store_true", help="5-second runs, one repetition")
    parser.add_argument("--workdir", help="copy this working folder for the server instead of "
                        "workdir/ (e.g. one whose settings turn the web console on)")
    parser.add_argument("--pin", action="store_true",
                        help="target on the first CPU, generator on the second (Linux)")
    args = parser.parse_args()
    args.pin_target = args.pin_generator = None
    if args.pin:
        cpus = sorted(os.sched_getaffinity(0))
        if len(cpus) < 2:
            print("bench_matrix: --pin needs two CPUs", file=sys.stderr)
            return 1
        args.pin_target, args.pin_generator = cpus[0], cpus[1]
    if args.quick:
        args.duration, args.reps = 5.0, 1
    if args.workdir:
        global WORKDIR
        WORKDIR = pathlib.Path(args.workdir).resolve()
    build = pathlib.Path(args.build)
    for binary in ("src/orvchatserver", "tools/orvchat-bench", "tools/orvchat-lean-relay"):
        if not (build / binary).is_file():
            print(f"bench_matrix: {build / binary} is missing; build it first "
                  f"(cmake --build {build} --target orvchatserver orvchat-bench "
                  f"orvchat-lean-relay)", file=sys.stderr)
            return 1
    parts = [p.strip() for p in args.only.split(",") if p.strip()]
    unknown = set(parts) - {"matrix", "memory", "login"}
    if unknown:
        print(f"bench_matrix: unknown part(s): {', '.join(sorted(unknown))}", file=sys.stderr)
        return 1
    limit = raise_file_limit()
    print(f"open-file limit {limit}; runs of {args.duration:g} s, {args.reps} repetition(s), "
          f"{args.size}-byte packets, {args.threads} generator thread(s)"
          + (f", target on CPU {args.pin_target}, generator on CPU {args.pin_generator}"
             if args.pin else ""))
    print(LIMITS_NOTE)
    runner = Runner(args)
    scratch = tempfile.mkdtemp(prefix="orvchat-matrix-")
    try:
        for part in parts:
            print(f"\n== {part}", flush=True)
            getattr(runner, part)(scratch)
    except RuntimeError as error:
        print(f"bench_matrix: {error}", file=sys.stderr)
        return 2
    finally:
        if runner.out:
            runner.out.close()
    if runner.failures:
        print("\nRuns that reported faults or failed:", file=sys.stderr)
        for failure in runner.failures:
            print(f"  {failure}", file=sys.stderr)
        return 3
    shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
