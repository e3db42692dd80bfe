#!/usr/bin/env python3
"""A newcomer in a big room: does it get the whole user list with the default write limit?

Runs the real server headless on a copy of workdir/ on 127.0.0.1 (nothing else is contacted),
fills its user table with USERS users spoken for by a few connections that keep reading (the
settings let each connection hold USERS / CONNECTIONS users), then lets one newcomer announce
itself and reads its user-list answer to the end. Prints the time the answer took, its size
next to the write limit, whether the newcomer is still connected, and the server's memory.

usage: bench_bigroom.py [--build DIR] [--users N] [--connections C] [--write-limit BYTES]
"""

import argparse
import pathlib
import selectors
import shutil
import socket
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "scripts"))
from bench_support import LIMITS_NOTE, free_port, patched_settings, raise_file_limit  # noqa: E402
from soak import Codec, Sample  # noqa: E402

TERMINATOR = b"//end"


def drain(selector, limit_s):
    """Reads whatever the filler connections have, for limit_s seconds."""
    deadline = time.monotonic() + limit_s
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return
        for key, _ in selector.select(timeout=min(left, 0.05)):
            try:
                if not key.fileobj.recv(1 << 20):
                    selector.unregister(key.fileobj)
            except OSError:
                selector.unregister(key.fileobj)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(REPO / "build" / "release"))
    parser.add_argument("--users", type=int, default=20000)
    parser.add_argument("--connections", type=int, default=20)
    parser.add_argument("--write-limit", type=int, default=0,
                        help="the server's --write-limit (default: its own default)")
    args = parser.parse_args()
    server_binary = pathlib.Path(args.build) / "src" / "orvchatserver"
    if not server_binary.exists():
        sys.exit(f"bench_bigroom: no server at {server_binary}; build it first")
    raise_file_limit()

    scratch = pathlib.Path(tempfile.mkdtemp(prefix="orv-bigroom-"))
    work = scratch / "work"
    shutil.copytree(REPO / "workdir", work)
    port = free_port()
    per_connection = -(-args.users // args.connections)
    settings = work / "orvchatserver.cfg"
    extra = f"<MaxUsersPerConnection>\n{per_connection}\n</MaxUsersPerConnection>\n"
    settings.write_bytes(patched_settings(settings.read_bytes(), port) + extra.encode())
    codec = Codec(settings.read_bytes())
    print(LIMITS_NOTE)

    command = [str(server_binary), "--headless", "-C", str(work), "--control", "none"]
    if args.write_limit:
        command += ["--write-limit", str(args.write_limit)]
    server = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.STDOUT)
    try:
        time.sleep(0.5)
        selector = selectors.DefaultSelector()
        fillers = []
        for _ in range(args.connections):
            sock = socket.create_connection(("127.0.0.1", port), timeout=10)
            sock.setblocking(False)
            selector.register(sock, selectors.EVENT_READ)
            fillers.append(sock)
        drain(selector, 0.7)

        # Status packets (type 4) make users without list answers of their own.
        made = 0
        start = time.monotonic()
        for c, sock in enumerate(fillers):
            batch = b"".join(
                codec.packet(f"10.{c // 250}.{c % 250}.{u % 250}", f"B16{c:04X}{u:05X}",
                             f"user {c}-{u}", 4, "1:in the big room")
                for u in range(min(per_connection, args.users - made)))
            made += min(per_connection, args.users - made)
            sock.setblocking(True)
            sock.sendall(batch)
            sock.setblocking(False)
            drain(selector, 0.01)
        # The last filler's last packet coming back to it means the table is full.
        drain(selector, 2.0)
        before = Sample(server.pid)
        filled_s = time.monotonic() - start

        newcomer = socket.create_connection(("127.0.0.1", port), timeout=30)
        mac = "NEWC0MER0001"
        newcomer.sendall(codec.packet("10.99.0.1", mac, "newcomer", 2, "1:hello"))
        asked = time.monotonic()
        raw = b""
        entries = 0
        blocks = 0
        list_bytes = 0
        done = False
        closed = False
        deadline = asked + 120
        while not done and time.monotonic() < deadline:
            drain(selector, 0)
            try:
                data = newcomer.recv(1 << 20)
            except socket.timeout:
                continue
            if not data:
                closed = True
                break
            raw += data
            decoded = codec.decode(raw)
            cut = decoded.rfind(TERMINATOR)
            if cut < 0:
                continue
            for text in decoded[:cut].split(TERMINATOR):
                fields = text.split(b"||")
                if len(fields) >= 7 and fields[5] == b"37" and fields[3] == mac.encode():
                    blocks += 1
                    list_bytes += len(text) + len(TERMINATOR)
                    entries += text.count(b"[IUL]")
                    if b"|U2|" + mac.encode() + b"|/U2|" in text:
                        done = True
            raw = raw[cut + len(TERMINATOR):]
        took = time.monotonic() - asked
        drain(selector, 0.5)
        # Still connected: a chat line of ours comes back.
        still = False
        if done and not closed:
            line = codec.packet("10.99.0.1", mac, "newcomer", 5, "still here")
            newcomer.sendall(line)
            seen = b""
            until = time.monotonic() + 10
            while time.monotonic() < until and not still:
                drain(selector, 0)
                try:
                    data = newcomer.recv(1 << 20)
                except socket.timeout:
                    continue
                if not data:
                    break
                seen = (seen + data)[-(len(line) * 4):]
                still = line in seen
        after = Sample(server.pid)
        print(f"users {args.users} over {args.connections} connections "
              f"(table filled in {filled_s:.1f} s)")
        print(f"newcomer's list: {'complete' if done else 'INCOMPLETE'}, {entries} entries in "
              f"{blocks} packets, {took:.2f} s; connection "
              f"{'still open' if still else 'closed or silent'}")
        limit = args.write_limit or (1 << 20)
        print(f"list answer {list_bytes // 1024} KiB against a write limit of {limit // 1024} KiB")
        print(f"server RSS before {before.rss_kb} kB, after {after.rss_kb} kB, "
              f"peak {after.hwm_kb} kB")
        return 0 if done and still else 1
    finally:
        try:
            server.stdin.write(b"/exit\n")
            server.stdin.flush()
            server.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            server.kill()
            server.wait()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
