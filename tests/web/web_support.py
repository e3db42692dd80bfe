"""What the web console's end-to-end tests share: a real orvchatserver in a fresh working
folder on 127.0.0.1 with its web console on, real orvchat-client users, and a small HTTP
client that keeps the session cookie and the CSRF token."""

import http.client
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import time

PASSWORD = "web console pass"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise AssertionError("waited %.1f s for %s" % (seconds, what))


class Server:
    """orvchatserver --headless with its web console on 127.0.0.1, stopped by stop()."""

    def __init__(self, binary, client, source_dir, settings="", web_address="127.0.0.1",
                 password=PASSWORD):
        self.binary = binary
        self.client_binary = client
        self.work = tempfile.mkdtemp(prefix="orv-web-")
        shutil.copytree(os.path.join(source_dir, "workdir"), self.work, dirs_exist_ok=True)
        self.port = free_port()
        self.web_port = free_port()
        path = os.path.join(self.work, "orvchatserver.cfg")
        with open(path, encoding="latin-1") as f:
            text = f.read()
        text = re.sub(r"<ServerPort>\r?\n.*?</ServerPort>",
                      "<ServerPort>\n%d\n</ServerPort>" % self.port, text, flags=re.S)
        text = re.sub(r"<ServerIP>\r?\n.*?</ServerIP>", "<ServerIP>\n127.0.0.1\n</ServerIP>",
                      text, flags=re.S)
        text += "\n<WebConsole>\n%s:%d\n</WebConsole>\n" % (web_address, self.web_port)
        text += settings
        with open(path, "w", encoding="latin-1") as f:
            f.write(text)
        if password:
            done = subprocess.run([binary, "--set-web-password", "-C", self.work],
                                  input=(password + "\n").encode(), capture_output=True,
                                  timeout=30)
            assert done.returncode == 0, done.stderr
        self.clients = []
        self.output_path = os.path.join(self.work, "server.out")
        self.output = open(self.output_path, "wb")
        self.process = subprocess.Popen(
            [binary, "--headless", "--control", "none", "-C", self.work],
            stdin=subprocess.PIPE, stdout=self.output, stderr=subprocess.STDOUT)
        wait_for(lambda: "Web console on" in self.console() or self.process.poll() is not None,
                 10, "the web console to start")
        assert self.process.poll() is None, self.console()

    def console(self):
        with open(self.output_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def user(self, name, mac):
        """A chat user: orvchat-client with its input held open, so it stays."""
        client = subprocess.Popen(
            [self.client_binary, "-n", name, "-m", mac, "127.0.0.1:%d" % self.port],
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            env=dict(os.environ, LANG="C.UTF-8"))
        self.clients.append(client)
        return client

    def stop(self):
        for client in self.clients:
            if client.poll() is None:
                client.kill()
            client.wait(5)
            client.stdin.close()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(5)
        self.output.close()
        if self.process.stdin:
            self.process.stdin.close()
        shutil.rmtree(self.work, ignore_errors=True)
        return self.process.returncode


class Browser:
    """HTTP requests as the page makes them: the session cookie and the CSRF token kept."""

    def __init__(self, port, https=False):
        self.port = port
        self.https = https
        self.cookie = ""
        self.csrf = ""

    def connect(self, timeout=10):
        if self.https:
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            return http.client.HTTPSConnection("127.0.0.1", self.port, timeout=timeout,
                                               context=context)
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def request(self, method, path, body=None, csrf=None, headers=None, raw=None):
        """(status, headers, parsed JSON or text)."""
        connection = self.connect()
        sent = dict(headers or {})
        if self.cookie:
            sent["Cookie"] = "orvchat_session=" + self.cookie
        token = self.csrf if csrf is None else csrf
        if method != "GET" and token:
            sent["X-CSRF-Token"] = token
        data = raw
        if body is not None:
            data = json.dumps(body).encode()
            sent.setdefault("Content-Type", "application/json")
        connection.request(method, path, body=data, headers=sent)
        response = connection.getresponse()
        payload = response.read().decode("utf-8")
        connection.close()
        kind = response.getheader("Content-Type", "")
        value = json.loads(payload) if kind.startswith("application/json") else payload
        return response.status, response, value

    def login(self, password=PASSWORD):
        status, response, value = self.request("POST", "/api/login", {"password": password})
        if status == 200:
            cookie = response.getheader("Set-Cookie")
            self.cookie = cookie.split(";")[0].split("=", 1)[1]
            self.csrf = value["csrf"]
        return status, response, value

    def events(self):
        """An open event stream: an iterator of (event, data) with a read timeout."""
        connection = self.connect(timeout=5)
        connection.request("GET", "/api/events",
                           headers={"Cookie": "orvchat_session=" + self.cookie})
        response = connection.getresponse()
        return EventStream(connection, response)


class EventStream:
    def __init__(self, connection, response):
        self.connection = connection
        self.response = response
        self.status = response.status

    def next(self, timeout=5):
        """The next (event, data) pair; comments and the retry line are skipped."""
        self.connection.sock.settimeout(timeout)
        name, data = None, None
        while True:
            line = self.response.fp.readline()
            if not line:
                raise EOFError("the event stream ended")
            line = line.decode("utf-8").rstrip("\n")
            if line.startswith("event: "):
                name = line[len("event: "):]
            elif line.startswith("data: "):
                data = json.loads(line[len("data: "):])
            elif line == "" and name is not None:
                return name, data

    def wait(self, accept, seconds, what):
        """Events until accept(name, data) is true, within seconds."""
        deadline = time.monotonic() + seconds
        seen = []
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %s within %.1f s; seen: %s" % (what, seconds, seen[-10:]))
            try:
                name, data = self.next(left)
            except socket.timeout:
                continue
            seen.append((name, data))
            if accept(name, data):
                return name, data

    def close(self):
        self.connection.close()


def parse_metrics(text):
    """{name or name{labels}: value} from the Prometheus text format; fails on any other line."""
    sample = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{[^}]*\})? ([0-9.eE+-]+|NaN)$')
    values = {}
    for line in text.splitlines():
        if line.startswith("# HELP ") or line.startswith("# TYPE ") or not line:
            continue
        match = sample.match(line)
        assert match, "not a sample line: %r" % line
        values[match.group(1) + (match.group(2) or "")] = float(match.group(3))
    return values
