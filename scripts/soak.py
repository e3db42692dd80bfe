#!/usr/bin/env python3
"""Soak run of the chat server on 127.0.0.1: steady chat load and clients coming and going.

Builds nothing: give it a build folder that holds src/orvchatserver and tools/orvchat-bench
(a Release build:
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_GUI=OFF \\
        -DORV_BUILD_TESTS=OFF
  cmake --build build/release -j2 --target orvchatserver orvchat-bench).

The server runs as `orvchatserver --headless -C DIR`, DIR being a copy of the repository's
workdir/ whose settings are patched to listen on 127.0.0.1 at a free port. For --minutes it
keeps, at once:

  chat load   orvchat-bench with R receivers and S senders at a fixed rate per sender, for
              the whole time; it checks that no chat packet is lost, doubled or garbled.
  churn       clients joining at a steady rate and leaving after a random stay, at most
              --max-alive at once. Each reads everything the server sends. Four kinds, drawn
              at random:
                orderly  announces (type 2), chats (type 5), leaves by shutting its sending
                         side and waiting for the server to close (an orderly close);
                reset    as orderly, but leaves with a reset (SO_LINGER 0);
                silent   never sends; leaves by an orderly close;
                split    as orderly, every packet written in two pieces some milliseconds
                         apart.
              A client that announced must see its own announcement relayed back before it
              leaves; a connection the server closes first is counted as dropped.

Every --report seconds a line: elapsed time, the server's RSS and peak RSS (VmRSS, VmHWM),
its open descriptors, its CPU share over the interval, the load average, the churn's live
connections, joins and leaves so far, and a probe: a fresh client must get the welcome
(type 6) and then its own announcement back.

At the end the load stops, the churn's connections leave, and the server's descriptors must
come back to the idle count (taken before the load); then SIGTERM, and the server must exit
with 0. Exit status: 0 all well; 1 missing programs or too few descriptors allowed; 2 bad
options; 3 a fault (the server died, stopped answering or stalled, leaked descriptors, did not exit
cleanly, dropped churn clients or left them unanswered, or the chat load reported lost or
garbled packets or ended early); 4 the server did not start.

A probe that fails within --probe-timeout seconds means the server stopped answering; one
slower than --slow seconds is reported as a stall.

usage: soak.py [--build DIR] [--minutes M] [--receivers R] [--senders S] [--rate P]
               [--size B] [--joins J] [--stay MIN MAX] [--max-alive N] [--report S]
               [--probe-timeout S] [--slow S] [--seed N] [--keep]
"""

import argparse
import errno
import json
import os
import pathlib
import random
import re
import selectors
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from bench_support import (REPO, SETTINGS, free_port, patched_settings,  # noqa: E402
                           raise_file_limit, wait_listening)

sys.path.insert(0, str(REPO / "tools"))
from make_alphabets import make_pair  # noqa: E402  (the generator of the built-in pair)

TERMINATOR = b"//end"
# What the server sends every connection, unsubstituted, when a read from one fails.
SOCKET_ERROR_NOTICE = b"|SERVER: SOCKET ERROR OCCURRED"
CLK_TCK = os.sysconf("SC_CLK_TCK")


# ---------------------------------------------------------------- settings and the codec

def first_block(text, key):
    """The value of the first complete block <key> ... </key> of a settings text (bytes)."""
    match = re.search(rb"^<" + key + rb">\r?\n(.*?)\r?\n</" + key + rb">\r?$", text,
                      re.S | re.M)
    return match.group(1) if match else None


class Codec:
    """The server's substitution: the pair from the settings when they hold one, else the
    built-in pair from its generator."""

    def __init__(self, settings_bytes):
        plain = first_block(settings_bytes, b"ServerPlainAlphabet")
        wire = first_block(settings_bytes, b"ServerWireAlphabet")
        if plain is None or wire is None or len(plain) != 160 or len(wire) != 160:
            plain, wire = make_pair()
        self.encode_table = bytes.maketrans(plain, wire)
        self.decode_table = bytes.maketrans(wire, plain)

    def packet(self, ip, mac, name, kind, body):
        text = f"{ip}({mac})||{name}||soak.gif||0.0||1||{kind}||{body}//end"
        return text.encode("cp1251").translate(self.encode_table)

    def decode(self, data):
        return data.translate(self.decode_table)


# ---------------------------------------------------------------- the server's figures

class Sample:
    def __init__(self, pid):
        self.time = time.monotonic()
        self.rss_kb = self.hwm_kb = None
        self.fds = None
        self.cpu_s = None
        try:
            with open(f"/proc/{pid}/status") as status:
                for line in status:
                    if line.startswith("VmRSS:"):
                        self.rss_kb = int(line.split()[1])
                    elif line.startswith("VmHWM:"):
                        self.hwm_kb = int(line.split()[1])
            self.fds = len(os.listdir(f"/proc/{pid}/fd"))
            with open(f"/proc/{pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            self.cpu_s = (int(fields[11]) + int(fields[12])) / CLK_TCK
        except (OSError, ValueError, IndexError):
            pass


def descriptor_list(pid):
    """What each open descriptor of the process points at, for a leak report."""
    found = {}
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            kind = "socket" if target.startswith("socket:") else target
            found[kind] = found.get(kind, 0) + 1
    except OSError:
        pass
    return found


def load_average():
    with open("/proc/loadavg") as loadavg:
        return float(loadavg.read().split()[0])


# ---------------------------------------------------------------- probe

def probe(port, codec, tag, timeout=10.0):
    """A fresh client: the welcome (type 6) must arrive, then its own announcement back.
    Returns (ok, milliseconds or a reason)."""
    start = time.monotonic()
    deadline = start + timeout
    mac = f"50A4{tag:08X}"
    announce = codec.packet("127.0.0.1", mac, f"probe{tag}", 2, "1:soak probe")
    try:
        sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    except OSError as error:
        return False, f"cannot connect: {error.strerror or error}"
    try:
        raw = b""
        welcomed = False
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return False, ("no own packet back" if welcomed else "no welcome") + \
                    f" within {timeout:g} s"
            sock.settimeout(left)
            try:
                data = sock.recv(65536)
            except socket.timeout:
                continue
            if not data:
                return False, "the server closed the connection"
            raw += data
            if not welcomed:
                # Packets are cut in the decoded stream; a welcome is a type-6 server packet.
                for text in codec.decode(raw).split(TERMINATOR):
                    fields = text.split(b"||")
                    if len(fields) >= 7 and fields[2] == b"server.gif" and fields[5] == b"6":
                        welcomed = True
                        sock.sendall(announce)
                        raw = b""
                        break
                else:
                    raw = raw[-65536:]
            elif announce in raw:
                elapsed_ms = (time.monotonic() - start) * 1000
                leave_orderly(sock, deadline)
                return True, elapsed_ms
            else:
                raw = raw[-len(announce):]
    except OSError as error:
        return False, f"socket error: {error.strerror or error}"
    finally:
        sock.close()


def leave_orderly(sock, deadline):
    """Shut the sending side and read until the server closes (or the deadline)."""
    try:
        sock.shutdown(socket.SHUT_WR)
        while time.monotonic() < deadline:
            sock.settimeout(max(0.01, deadline - time.monotonic()))
            if not sock.recv(65536):
                return True
    except OSError:
        pass
    return False


# ---------------------------------------------------------------- churn

KINDS = (("orderly", 35), ("reset", 25), ("silent", 15), ("split", 25))
CONNECT_TIMEOUT = 5.0
CLOSE_TIMEOUT = 5.0
TICK = 0.01


class ChurnClient:
    __slots__ = ("number", "kind", "sock", "state", "deadline", "leave_at", "plan", "out",
                 "echo", "tail", "echoed", "announced_at", "received", "notice_tail")

    def __init__(self, number, kind, sock):
        self.number = number
        self.kind = kind
        self.sock = sock
        self.state = "connecting"
        self.deadline = time.monotonic() + CONNECT_TIMEOUT
        self.leave_at = None
        self.plan = []        # (time, bytes) writes still to make, in time order
        self.out = b""        # bytes of a write the socket did not take whole
        self.echo = None      # the encoded announcement, to find in what comes back
        self.tail = b""
        self.echoed = False
        self.announced_at = None
        self.received = 0
        self.notice_tail = b""


class Churn:
    """Joins at a steady rate, stays of a random length, leaves of four kinds. Runs on its
    own thread; the counters are read by the reporting thread."""

    def __init__(self, port, codec, args, rng):
        self.port = port
        self.codec = codec
        self.args = args
        self.rng = rng
        self.selector = selectors.DefaultSelector()
        self.clients = {}
        self.joining = True
        self.number = 0
        self.joins = 0
        self.leaves = 0
        self.left_by = {kind: 0 for kind, _ in KINDS}
        self.skipped = 0          # joins not made because --max-alive were alive
        self.connect_failures = 0
        self.dropped = 0          # connections the server closed before the client left
        self.close_timeouts = 0   # orderly leaves the server did not answer with its close
        self.echo_missing = 0     # announcements never relayed back to their sender
        self.echo_missing_cases = []  # (client number, kind, seconds since announced, bytes read)
        self.bytes_read = 0
        self.notices = 0          # socket-error notices the churn clients received
        self.max_alive = 0
        self.error = None
        self.thread = threading.Thread(target=self.run, name="churn", daemon=True)

    def alive(self):
        return len(self.clients)

    # Joining.

    def join(self, now):
        self.number += 1
        kind = self.rng.choices([k for k, _ in KINDS], weights=[w for _, w in KINDS])[0]
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setblocking(False)
        code = sock.connect_ex(("127.0.0.1", self.port))
        if code not in (0, errno.EINPROGRESS):
            sock.close()
            self.connect_failures += 1
            return
        client = ChurnClient(self.number, kind, sock)
        self.clients[sock.fileno()] = client
        self.selector.register(sock, selectors.EVENT_WRITE, client)
        self.joins += 1
        self.max_alive = max(self.max_alive, len(self.clients))

    def connected(self, client, now):
        error = client.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
        if error:
            self.connect_failures += 1
            self.forget(client)
            return
        client.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.selector.modify(client.sock, selectors.EVENT_READ, client)
        client.state = "open"
        stay = self.rng.uniform(*self.args.stay)
        client.leave_at = now + stay
        if client.kind == "silent":
            return
        mac = f"50AC{client.number:08X}"
        name = f"churn{client.number}"
        announce = self.codec.packet("127.0.0.1", mac, name, 2, "1:soak")
        client.echo = announce
        client.announced_at = now
        packets = [(now, announce)]
        for i in range(self.rng.randint(1, 3)):
            at = now + self.rng.uniform(0.05, max(0.06, stay - 0.2))
            body = f"churn {client.number} line {i + 1}: the quick brown fox"
            packets.append((at, self.codec.packet("127.0.0.1", mac, name, 5, body)))
        packets.sort(key=lambda p: p[0])
        previous = now
        for at, data in packets:
            # A packet's pieces go out before the next packet begins.
            at = max(at, previous)
            if client.kind == "split":
                cut = self.rng.randint(1, len(data) - 1)
                client.plan.append((at, data[:cut]))
                at += self.rng.uniform(0.005, 0.15)
                client.plan.append((at, data[cut:]))
            else:
                client.plan.append((at, data))
            previous = at

    # Reading and writing.

    def readable(self, client):
        try:
            data = client.sock.recv(262144)
        except BlockingIOError:
            return
        except OSError:
            data = None
        if not data:
            if client.state == "closing":
                self.finish(client)
            else:
                self.dropped += 1
                self.finish(client, count_leave=False)
            return
        self.bytes_read += len(data)
        client.received += len(data)
        seen = client.notice_tail + data
        self.notices += seen.count(SOCKET_ERROR_NOTICE)
        client.notice_tail = seen[-(len(SOCKET_ERROR_NOTICE) - 1):]
        if client.echo is not None and not client.echoed:
            window = client.tail + data
            if client.echo in window:
                client.echoed = True
            else:
                client.tail = window[-(len(client.echo) - 1):]

    def write_due(self, client, now):
        while client.out or (client.plan and client.plan[0][0] <= now):
            if not client.out:
                client.out = client.plan.pop(0)[1]
            try:
                sent = client.sock.send(client.out)
            except BlockingIOError:
                return
            except OSError:
                self.dropped += 1
                self.finish(client, count_leave=False)
                return
            client.out = client.out[sent:]

    # Leaving.

    def leave(self, client, now):
        if client.echo is not None and not client.echoed:
            self.echo_missing += 1
            if len(self.echo_missing_cases) < 10:
                self.echo_missing_cases.append((client.number, client.kind,
                                                now - client.announced_at, client.received))
        client.echo = None
        if client.kind == "reset":
            client.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.finish(client)
            return
        try:
            client.sock.shutdown(socket.SHUT_WR)
        except OSError:
            self.dropped += 1
            self.finish(client, count_leave=False)
            return
        client.state = "closing"
        client.deadline = now + CLOSE_TIMEOUT

    def finish(self, client, count_leave=True):
        if count_leave:
            self.leaves += 1
            self.left_by[client.kind] += 1
        self.forget(client)

    def forget(self, client):
        self.clients.pop(client.sock.fileno(), None)
        try:
            self.selector.unregister(client.sock)
        except (KeyError, ValueError):
            pass
        client.sock.close()

    # The loop.

    def run(self):
        try:
            self.loop()
        except Exception as error:  # reported by the main thread
            self.error = f"{type(error).__name__}: {error}"
            for client in list(self.clients.values()):
                self.forget(client)

    def loop(self):
        interval = 1.0 / self.args.joins
        next_join = time.monotonic()
        while self.joining or self.clients:
            turn = time.monotonic()
            for key, _ in self.selector.select(timeout=TICK):
                client = key.data
                if client.sock.fileno() < 0:
                    continue
                if client.state == "connecting":
                    self.connected(client, time.monotonic())
                else:
                    self.readable(client)
            now = time.monotonic()
            for client in list(self.clients.values()):
                if client.sock.fileno() < 0:
                    continue
                if client.state == "connecting":
                    if now > client.deadline:
                        self.connect_failures += 1
                        self.forget(client)
                elif client.state == "open":
                    self.write_due(client, now)
                    if client.sock.fileno() >= 0 and now >= client.leave_at:
                        self.leave(client, now)
                elif client.state == "closing" and now > client.deadline:
                    self.close_timeouts += 1
                    self.finish(client)
            if self.joining:
                # A steady rate; after a stall of the machine no more than a second is made up.
                next_join = max(next_join, now - 1.0)
                while next_join <= now:
                    next_join += interval
                    if len(self.clients) >= self.args.max_alive:
                        self.skipped += 1
                    else:
                        self.join(now)
            # Reading each connection at most once per tick keeps the reads large and few.
            rest = TICK - (time.monotonic() - turn)
            if rest > 0:
                time.sleep(rest)


# ---------------------------------------------------------------- the run

def stop_process(process, timeout=15.0):
    """SIGTERM to a process this script started, by its PID; its exit code or None."""
    if process.poll() is not None:
        return process.returncode
    os.kill(process.pid, signal.SIGTERM)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.kill(process.pid, signal.SIGKILL)
        process.wait()
        return None


def exit_text(code):
    return f"was killed by signal {-code}" if code < 0 else f"exited with {code}"


def clock(seconds):
    seconds = int(round(seconds))
    return f"{seconds // 60}:{seconds % 60:02d}"


def kb(value):
    return "-" if value is None else f"{value:,}".replace(",", " ")


HEADER = (f"{'time':>6} {'RSS kB':>9} {'peak kB':>9} {'fds':>5} {'CPU %':>6} {'load':>5} "
          f"{'alive':>5} {'joins':>7} {'leaves':>7}  probe")


def line(elapsed, sample, cpu_percent, load, churn, probe_result):
    ok, detail = probe_result
    shown = f"ok {detail:.0f} ms" if ok else f"FAILED: {detail}"
    alive = churn.alive() if churn else 0
    joins = churn.joins if churn else 0
    leaves = churn.leaves if churn else 0
    cpu = "-" if cpu_percent is None else f"{cpu_percent:.1f}"
    return (f"{clock(elapsed):>6} {kb(sample.rss_kb):>9} {kb(sample.hwm_kb):>9} "
            f"{sample.fds if sample.fds is not None else '-':>5} {cpu:>6} {load:>5.2f} "
            f"{alive:>5} {joins:>7} {leaves:>7}  {shown}")


class Soak:
    def __init__(self, args):
        self.args = args
        self.build = pathlib.Path(args.build).resolve()
        self.faults = []
        self.rows = []
        self.server = None
        self.bench = None
        self.churn = None
        self.bench_record = None
        self.probes = 0

    def next_probe(self):
        self.probes += 1
        return self.probes

    def fault(self, text, say=True):
        self.faults.append(text)
        if say:
            print(f"soak: FAULT: {text}", flush=True)

    def server_alive(self):
        return self.server is not None and self.server.poll() is None

    def start_server(self, scratch):
        self.port = free_port()
        self.workdir = scratch / "workdir"
        shutil.copytree(REPO / "workdir", self.workdir)
        self.settings = self.workdir / SETTINGS
        original = self.settings.read_bytes() if self.settings.exists() else b""
        # The churn and the chat load come from 127.0.0.1 (more than MaxConnectionsPerAddress's
        # default); their senders keep to a person's pace, so the read limit stays.
        self.settings.write_bytes(patched_settings(original, self.port, input_rate=None))
        self.codec = Codec(self.settings.read_bytes())
        self.server_log = open(scratch / "server.out", "wb")
        self.server = subprocess.Popen(
            [str(self.build / "src" / "orvchatserver"), "--headless", "-C", str(self.workdir)],
            stdin=subprocess.PIPE, stdout=self.server_log, stderr=subprocess.STDOUT)
        if not wait_listening(self.port, self.server):
            code = self.server.poll()
            stop_process(self.server)
            print(f"soak: the server did not listen on 127.0.0.1:{self.port}"
                  + (f" (it exited with {code})" if code is not None else "")
                  + f"; see {scratch / 'server.out'}", file=sys.stderr)
            return False
        return True

    def checked_probe(self, when):
        """A probe; a failure or a slow answer is a fault."""
        result = probe(self.port, self.codec, self.next_probe(), self.args.probe_timeout)
        if not result[0]:
            self.fault(f"{when} the server did not answer a fresh client: {result[1]}")
        elif result[1] > self.args.slow * 1000:
            self.fault(f"{when} the server took {result[1]:.0f} ms to answer a fresh client "
                       f"(a stall: the welcome alone waits about 500 ms)")
        return result

    def settle_descriptors(self, target, seconds):
        """Waits until the server holds at most target descriptors; the last count."""
        deadline = time.monotonic() + seconds
        while True:
            count = Sample(self.server.pid).fds
            if count is None or count <= target or time.monotonic() > deadline:
                return count
            time.sleep(0.25)

    def report(self, start, previous):
        sample = Sample(self.server.pid)
        cpu = None
        if previous and previous.cpu_s is not None and sample.cpu_s is not None:
            span = sample.time - previous.time
            cpu = 100.0 * (sample.cpu_s - previous.cpu_s) / span if span > 0 else None
        load = load_average()
        result = self.checked_probe(f"at {clock(sample.time - start)}")
        self.rows.append((sample.time - start, sample, cpu, load, result))
        print(line(sample.time - start, sample, cpu, load, self.churn, result), flush=True)
        return sample

    def run(self, scratch):
        args = self.args
        if not self.start_server(scratch):
            return 4
        pid = self.server.pid
        print(f"server PID {pid} on 127.0.0.1:{self.port}, working folder {self.workdir}")
        # Idle figures: after one probe has come and gone, so that whatever the server opens
        # lazily for its first client is open.
        first = self.checked_probe("when idle")
        if not first[0]:
            stop_process(self.server)
            return 3
        time.sleep(1.0)
        idle = Sample(pid)
        self.idle = idle
        self.idle_descriptors = descriptor_list(pid)
        print(f"idle: RSS {kb(idle.rss_kb)} kB, peak {kb(idle.hwm_kb)} kB, "
              f"{idle.fds} descriptors {self.idle_descriptors}")
        total = args.minutes * 60.0
        print(f"load: {args.receivers} receivers, {args.senders} senders at {args.rate:g} "
              f"packets/s each, {args.size}-byte packets; churn: {args.joins:g} joins/s, "
              f"stays of {args.stay[0]:g} to {args.stay[1]:g} s, at most {args.max_alive} "
              f"alive; {clock(total)} in all, a line every {args.report:g} s", flush=True)

        bench_out = open(scratch / "bench.out", "w+")
        self.bench = subprocess.Popen(
            [str(self.build / "tools" / "orvchat-bench"), "--port", str(self.port),
             "--receivers", str(args.receivers), "--senders", str(args.senders),
             "--rate", str(args.rate), "--size", str(args.size),
             # Its window begins a few seconds before the churn (below) and ends after it.
             "--duration", str(total + 5),
             "--settings", str(self.settings), "--label", "soak", "--setup-timeout", "60"],
            stdout=bench_out, stderr=subprocess.STDOUT)
        # The generator starts its window once its clients are announced and the server has
        # been quiet for a moment: the churn begins after that, and after the list refresh
        # that follows the last accept by about three seconds.
        wanted = idle.fds + args.receivers + args.senders
        deadline = time.monotonic() + 60
        while (Sample(pid).fds or 0) < wanted and self.bench.poll() is None \
                and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(4.0)
        if self.bench.poll() is not None:
            bench_out.seek(0)
            self.fault(f"the chat load ended during its set-up (exit {self.bench.returncode}): "
                       f"{bench_out.read().strip()}")
            stop_process(self.server)
            return 3
        self.churn = Churn(self.port, self.codec, args, random.Random(args.seed))
        start = time.monotonic()
        self.churn.thread.start()

        print()
        print(HEADER)
        self.rows.append((0.0, idle, None, load_average(), first))
        print(line(0.0, idle, None, load_average(), None, first), flush=True)
        previous = idle
        next_report = start + args.report
        while True:
            now = time.monotonic()
            if now >= start + total:
                break
            if not self.server_alive():
                self.fault(f"the server {exit_text(self.server.returncode)} at "
                           f"{clock(now - start)}")
                break
            if self.churn.error:
                break
            if self.bench.poll() is not None:
                self.fault(f"the chat load ended early (exit {self.bench.returncode}) at "
                           f"{clock(now - start)}")
                break
            if now >= next_report:
                previous = self.report(start, previous)
                next_report += args.report
                continue
            time.sleep(min(0.5, next_report - now, start + total - now))

        # The end: no more joins, the churn's connections leave, the chat load finishes.
        self.churn.joining = False
        if not self.server_alive():
            stop_process(self.bench)
        self.churn.thread.join(timeout=args.stay[1] + CLOSE_TIMEOUT + 30)
        if self.churn.thread.is_alive():
            self.fault("the churn's connections did not all leave within their time")
        if self.churn.error:
            self.fault(f"the churn stopped: {self.churn.error}")
        try:
            self.bench.wait(timeout=90)
        except subprocess.TimeoutExpired:
            self.fault("the chat load did not end in time; stopped")
            stop_process(self.bench)
        bench_out.seek(0)
        bench_text = bench_out.read()
        bench_out.close()
        for text in bench_text.splitlines():
            if text.startswith("{"):
                self.bench_record = json.loads(text)
            elif text.strip():
                print(f"  [orvchat-bench] {text}")

        if not self.server_alive():
            if not any(f.startswith("the server ") and " at " in f for f in self.faults):
                self.fault(f"the server {exit_text(self.server.returncode)}")
            return self.summary(None, None)
        final_probe = self.checked_probe("after the load")
        fds = self.settle_descriptors(idle.fds, 30.0)
        final = Sample(pid)
        self.rows.append((final.time - start, final, None, load_average(), final_probe))
        print(line(final.time - start, final, None, load_average(), self.churn, final_probe)
              + "   (after the load)", flush=True)
        if fds is not None and fds > idle.fds:
            now_open = descriptor_list(pid)
            extra = {kind: count - self.idle_descriptors.get(kind, 0)
                     for kind, count in now_open.items()
                     if count > self.idle_descriptors.get(kind, 0)}
            self.fault(f"LEAK: descriptors did not come back to the idle count within 30 s: "
                       f"{fds} open, {idle.fds} when idle; more than when idle: {extra}")
        code = stop_process(self.server)
        if code != 0:
            self.fault("the server did not stop within 15 s of SIGTERM" if code is None
                       else f"the server exited with {code} after SIGTERM")
        return self.summary(final, code)

    def summary(self, final, exit_code):
        churn = self.churn
        bench = self.bench_record
        print()
        print("Summary")
        loaded = self.rows[1:-1] if final else self.rows[1:]
        loaded_samples = [row[1] for row in loaded if row[1].rss_kb is not None]
        print(f"  {'':<26} {'idle':>9} {'min':>9} {'max':>9} {'last':>9} {'after':>9}")

        def figure(label, key):
            values = [getattr(s, key) for s in loaded_samples]
            low = min(values) if values else None
            high = max(values) if values else None
            last = values[-1] if values else None
            after = getattr(final, key) if final else None
            print(f"  {label:<26} {kb(getattr(self.idle, key)):>9} {kb(low):>9} "
                  f"{kb(high):>9} {kb(last):>9} {kb(after):>9}")

        figure("RSS kB (VmRSS)", "rss_kb")
        figure("peak RSS kB (VmHWM)", "hwm_kb")
        figure("open descriptors", "fds")
        if loaded_samples:
            half = max(1, len(loaded_samples) // 2)
            first = sum(s.rss_kb for s in loaded_samples[:half]) / half
            second = loaded_samples[half:] or loaded_samples[-1:]
            second = sum(s.rss_kb for s in second) / len(second)
            print(f"  RSS under load: mean of the first half of the lines {kb(round(first))} kB, "
                  f"of the second half {kb(round(second))} kB")
        probes = [row[4] for row in self.rows]
        answered = [p[1] for p in probes if p[0]]
        print(f"  probes answered {len(answered)} of {len(probes)}"
              + (f", slowest {max(answered):.0f} ms" if answered else ""))
        if churn:
            kinds = ", ".join(f"{kind} {count}" for kind, count in churn.left_by.items())
            print(f"  churn: {churn.joins} joins, {churn.leaves} leaves ({kinds}), at most "
                  f"{churn.max_alive} alive, {churn.bytes_read / 1e6:.1f} MB read; dropped by "
                  f"the server {churn.dropped}, own announcement not back {churn.echo_missing}, "
                  f"orderly close not answered {churn.close_timeouts}, connect failures "
                  f"{churn.connect_failures}, joins skipped at the limit {churn.skipped}; "
                  f"socket-error notices received {churn.notices}")
            if churn.dropped:
                self.fault(f"the server closed {churn.dropped} churn connections before they "
                           f"left", say=False)
            for number, kind, seconds, received in churn.echo_missing_cases:
                print(f"    no own announcement: churn{number} ({kind}), left {seconds:.2f} s "
                      f"after announcing, {received} bytes read")
            if churn.echo_missing:
                self.fault(f"{churn.echo_missing} churn clients never got their announcement "
                           f"back", say=False)
            if churn.close_timeouts:
                self.fault(f"{churn.close_timeouts} orderly leaves were not answered by a "
                           f"close", say=False)
            if churn.connect_failures:
                self.fault(f"{churn.connect_failures} churn connections failed to connect",
                           say=False)
        if bench:
            print(f"  chat load: {kb(bench['sent'])} packets sent, {kb(bench['deliveries'])} "
                  f"deliveries ({kb(round(bench['deliveries_per_s']))}/s); lost {bench['lost']}, "
                  f"duplicates {bench['duplicates']}, malformed {bench['malformed']}, closed "
                  f"{bench['closed']}; latency p50 {bench['lat_p50_us'] / 1000:.2f} ms, p99 "
                  f"{bench['lat_p99_us'] / 1000:.2f} ms, max {bench['lat_max_us'] / 1000:.1f} ms; "
                  f"rate lag at most {bench.get('rate_max_lag', 0)} packets")
            if bench["lost"] or bench["duplicates"] or bench["malformed"] or bench["closed"]:
                self.fault("the chat load reported lost, doubled or garbled packets or closed "
                           "connections", say=False)
        elif self.bench:
            self.fault(f"the chat load gave no result (exit {self.bench.returncode})", say=False)
        logs = self.workdir / "logs"
        if logs.is_dir():
            size = sum(p.stat().st_size for p in logs.rglob("*") if p.is_file())
            print(f"  server log files: {size / 1e6:.1f} MB")
        if exit_code is not None:
            print(f"  server exit status after SIGTERM: {exit_code}")
        print()
        if self.faults:
            print("FAULTS:")
            for text in self.faults:
                print(f"  - {text}")
            return 3
        print("OK: the server stayed up and answering, descriptors back to the idle count, "
              "clean exit")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=str(REPO / "build" / "release"),
                        help="build folder (default build/release)")
    parser.add_argument("--minutes", type=float, default=10.0, help="length of the run (10)")
    parser.add_argument("--receivers", type=int, default=200, help="chat load receivers (200)")
    parser.add_argument("--senders", type=int, default=10, help="chat load senders (10)")
    parser.add_argument("--rate", type=float, default=50.0,
                        help="packets per second per sender (50)")
    parser.add_argument("--size", type=int, default=100, help="bytes per chat packet (100)")
    parser.add_argument("--joins", type=float, default=20.0, help="churn joins per second (20)")
    parser.add_argument("--stay", type=float, nargs=2, default=[1.0, 5.0],
                        metavar=("MIN", "MAX"), help="seconds a churn client stays (1 5)")
    parser.add_argument("--max-alive", type=int, default=200,
                        help="churn connections alive at once, at most (200)")
    parser.add_argument("--report", type=float, default=30.0,
                        help="seconds between report lines (30)")
    parser.add_argument("--probe-timeout", type=float, default=10.0,
                        help="seconds a probe may take before the server counts as not "
                             "answering (10)")
    parser.add_argument("--slow", type=float, default=3.0,
                        help="a probe slower than this many seconds counts as a stall (3)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the churn's choices (1)")
    parser.add_argument("--keep", action="store_true",
                        help="keep the scratch folder (server output, logs, bench output)")
    args = parser.parse_args()
    if args.minutes <= 0 or args.joins <= 0 or args.report <= 0 or args.max_alive <= 0 \
            or not 0 < args.stay[0] <= args.stay[1] or args.minutes > 24 * 60:
        parser.error("--minutes, --joins, --report, --max-alive and --stay must be positive "
                     "(and --minutes at most a day)")
    build = pathlib.Path(args.build)
    for binary in ("src/orvchatserver", "tools/orvchat-bench"):
        if not (build / binary).is_file():
            print(f"soak: {build / binary} is missing; build it first (cmake --build {build} "
                  f"--target orvchatserver orvchat-bench)", file=sys.stderr)
            return 1
    limit = raise_file_limit()
    needed = args.receivers + args.senders + args.max_alive + 64
    if limit < needed:
        print(f"soak: the open-file limit is {limit}; this run needs about {needed}",
              file=sys.stderr)
        return 1
    print(f"soak: {os.cpu_count()} CPUs, load average {load_average():.2f}, open-file limit "
          f"{limit}")
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="orvchat-soak-"))
    soak = Soak(args)
    try:
        code = soak.run(scratch)
    except KeyboardInterrupt:
        print("soak: interrupted", file=sys.stderr)
        code = 3
    finally:
        if soak.churn is not None:
            soak.churn.joining = False
        for process in (soak.bench, soak.server):
            if process is not None:
                stop_process(process)
    if args.keep or code != 0:
        print(f"scratch folder kept: {scratch}")
    else:
        shutil.rmtree(scratch, ignore_errors=True)
    return code


if __name__ == "__main__":
    sys.exit(main())
