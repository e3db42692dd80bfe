#!/usr/bin/env python3
"""The web console's API over real HTTP against the real orvchatserver on 127.0.0.1: logins,
the lock-out, CSRF, a kick, the event stream, /metrics, HTTPS, and bad input of every kind.

Usage: api_e2e_test.py SERVER CLIENT SOURCE_DIR [unittest arguments]"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import web_support
from web_support import Browser, Server, parse_metrics, wait_for

SERVER = CLIENT = SOURCE = None


class WebApi(unittest.TestCase):
    def start(self, **options):
        server = Server(SERVER, CLIENT, SOURCE, **options)
        self.addCleanup(server.stop)
        return server

    def test_login_wrong_password_and_lock_out(self):
        server = self.start()
        browser = Browser(server.web_port)
        self.assertEqual(browser.request("GET", "/api/users")[0], 401)
        for _ in range(5):
            status, _, value = browser.login("wrong")
            self.assertEqual(status, 401)
            self.assertEqual(value["error"], "Wrong password.")
        # The sixth try within the minute is refused, the right password too.
        status, response, value = browser.login()
        self.assertEqual(status, 429)
        self.assertLessEqual(int(response.getheader("Retry-After")), 60)
        self.assertIn("Too many wrong passwords", value["error"])
        console = server.console()
        self.assertIn("Web console: wrong password from 127.0.0.1", console)
        self.assertIn("its logins are refused for the rest of the minute", console)

    def test_session_cookie_csrf_and_logout(self):
        server = self.start()
        browser = Browser(server.web_port)
        status, response, value = browser.login()
        self.assertEqual(status, 200)
        cookie = response.getheader("Set-Cookie")
        self.assertIn("HttpOnly", cookie)
        self.assertIn("SameSite=Strict", cookie)
        self.assertNotIn("Secure", cookie)
        self.assertEqual(response.getheader("X-Frame-Options"), "DENY")
        self.assertIn("script-src 'self'", response.getheader("Content-Security-Policy"))
        self.assertEqual(browser.request("GET", "/api/status")[2]["listening"], True)
        # A change without the token, or with a wrong one, is refused and changes nothing.
        self.assertEqual(browser.request("POST", "/api/reload", csrf="")[0], 403)
        self.assertEqual(browser.request("POST", "/api/reload", csrf="0" * 64)[0], 403)
        self.assertNotIn("Settings reloaded", server.console())
        self.assertEqual(browser.request("POST", "/api/reload")[0], 200)
        wait_for(lambda: "Web console (127.0.0.1): reload" in server.console(), 5, "the note")
        self.assertEqual(browser.request("POST", "/api/logout")[0], 200)
        self.assertEqual(browser.request("GET", "/api/status")[0], 401)
        # The line is the engine's, written after the answer went out.
        wait_for(lambda: "Web console: 127.0.0.1 logged out" in server.console(), 5, "logout")

    def test_events_show_a_new_client_within_a_second_and_a_kick(self):
        server = self.start()
        browser = Browser(server.web_port)
        self.assertEqual(browser.login()[0], 200)
        events = browser.events()
        self.addCleanup(events.close)
        self.assertEqual(events.status, 200)
        self.assertEqual(events.response.getheader("Content-Type"), "text/event-stream")
        # The stream begins with the console so far.
        events.wait(lambda n, d: n == "console" and "Waiting for connections" in d["text"], 5,
                    "the start-up lines")
        started = time.monotonic()
        server.user("Борис", "00AABBCCDD01")
        _, user = events.wait(lambda n, d: n == "joined", 5, "the new user")
        self.assertLess(time.monotonic() - started, 1.0)
        self.assertEqual(user["name"], "Борис")
        self.assertEqual(user["mac"], "00AABBCCDD01")
        self.assertEqual(user["address"], "127.0.0.1")

        status, _, users = browser.request("GET", "/api/users")
        self.assertEqual(status, 200)
        self.assertEqual([u["name"] for u in users], ["Борис"])
        self.assertEqual(browser.request("POST", "/api/users/NOBODY/kick")[0], 404)
        status, _, kicked = browser.request("POST", "/api/users/00AABBCCDD01/kick")
        self.assertEqual(status, 200, kicked)
        self.assertTrue(kicked["done"])
        events.wait(lambda n, d: n == "console" and "Web console (127.0.0.1): kick 00AABBCCDD01"
                    in d["text"], 5, "the line naming the kick and the admin")
        events.wait(lambda n, d: n == "left" and d["mac"] == "00AABBCCDD01", 5, "the leave")
        wait_for(lambda: "Web console (127.0.0.1): kick 00AABBCCDD01" in server.console(), 5,
                 "the kick's line in the server's output")

        # Block, the stored blocks, unblock by entry, AFS and a message.
        server.user("Вера", "00AABBCCDD02")
        events.wait(lambda n, d: n == "joined", 5, "the second user")
        status, _, value = browser.request("POST", "/api/users/00AABBCCDD02/block", {"by": "mac"})
        self.assertEqual(status, 200, value)
        status, _, blocks = browser.request("GET", "/api/blocks")
        self.assertEqual([b["key"] for b in blocks], ["00AABBCCDD02"])
        self.assertEqual(blocks[0]["looksLike"], "mac")
        status, _, value = browser.request("POST", "/api/blocks/unblock", {"key": "00AABBCCDD02"})
        self.assertEqual(status, 200, value)
        self.assertEqual(browser.request("GET", "/api/blocks")[2], [])
        self.assertEqual(browser.request("POST", "/api/users/00AABBCCDD02/afs", {"value": 30})[0],
                         200)
        self.assertEqual(browser.request("POST", "/api/send", {"text": "Всем привет"})[0], 200)
        wait_for(lambda: "Operator message: Всем привет" in server.console(), 5, "the message")
        # A stop with the page still following: the stream is told, the server ends in order.
        started = time.monotonic()
        self.assertEqual(server.stop(), 0)
        self.assertLess(time.monotonic() - started, 5)
        events.wait(lambda n, d: n == "stopping", 5, "the stream's last word")

    def test_metrics_parse_without_login(self):
        server = self.start()
        server.user("anna", "00AABBCCDD03")
        browser = Browser(server.web_port)
        self.assertEqual(browser.login()[0], 200)
        wait_for(lambda: browser.request("GET", "/api/status")[2]["users"] == 1, 5, "the user")
        status, response, text = Browser(server.web_port).request("GET", "/metrics")
        self.assertEqual(status, 200)
        self.assertTrue(response.getheader("Content-Type").startswith("text/plain; version=0.0.4"))
        values = parse_metrics(text)
        self.assertEqual(values["orvchat_users_online"], 1)
        self.assertEqual(values["orvchat_connections"], 1)
        self.assertGreaterEqual(values["orvchat_packets_received_total"], 1)
        self.assertGreater(values["orvchat_bytes_received_total"], 0)
        self.assertGreaterEqual(values["orvchat_deliveries_total"], 1)
        self.assertEqual(values['orvchat_refused_total{kind="blocked"}'], 0)
        self.assertEqual(values["orvchat_slow_readers_dropped_total"], 0)
        self.assertGreater(values["orvchat_uptime_seconds"], 0)

    def test_metrics_can_be_turned_off_and_a_lan_address_without_https_is_warned_of(self):
        server = self.start(settings="<WebConsoleMetrics>\n0\n</WebConsoleMetrics>\n",
                            web_address="0.0.0.0")
        self.assertEqual(Browser(server.web_port).request("GET", "/metrics")[0], 404)
        self.assertIn("Warning: the web console listens on 0.0.0.0 without HTTPS",
                      server.console())

    def test_no_password_set_says_how_to_set_one(self):
        server = self.start(password="")
        self.assertIn("no password is set", server.console())
        status, _, value = Browser(server.web_port).login()
        self.assertEqual(status, 503)
        self.assertIn("--set-web-password", value["error"])
        # A short password is refused, and nothing is written.
        done = subprocess.run([SERVER, "--set-web-password", "-C", server.work], input=b"short\n",
                              capture_output=True, timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"shorter than 8 characters", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(server.work, "orvchatserver_web.pwhash")))

    def test_https_with_a_certificate(self):
        folder = tempfile.mkdtemp(prefix="orv-web-tls-")
        made = subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
             "-subj", "/CN=127.0.0.1", "-keyout", os.path.join(folder, "key.pem"),
             "-out", os.path.join(folder, "cert.pem")], capture_output=True, timeout=60)
        if made.returncode != 0:
            self.skipTest("openssl cannot make a certificate: %s" % made.stderr)
        server = self.start(settings=(
            "<WebConsoleCertificate>\n%s\n</WebConsoleCertificate>\n"
            "<WebConsoleKey>\n%s\n</WebConsoleKey>\n") % (os.path.join(folder, "cert.pem"),
                                                          os.path.join(folder, "key.pem")),
            web_address="0.0.0.0")
        self.assertIn("Web console on https://", server.console())
        self.assertNotIn("without HTTPS", server.console())
        browser = Browser(server.web_port, https=True)
        status, response, _ = browser.login()
        self.assertEqual(status, 200)
        self.assertIn("Secure", response.getheader("Set-Cookie"))
        self.assertEqual(browser.request("GET", "/api/status")[0], 200)
        # Plain HTTP on the HTTPS port gets no answer.
        self.assertRaises(Exception, Browser(server.web_port).request, "GET", "/api/status")

    def test_bad_input_gets_a_clear_answer_and_breaks_nothing(self):
        server = self.start()
        browser = Browser(server.web_port)
        self.assertEqual(browser.login()[0], 200)
        status, _, value = browser.request("POST", "/api/send", raw=b"{not json",
                                           headers={"Content-Type": "application/json"})
        self.assertEqual((status, value["error"]), (400, "The body is no JSON object."))
        status, _, value = browser.request("POST", "/api/send", raw=b"x" * 200000,
                                           headers={"Content-Type": "application/json"})
        self.assertEqual(status, 413)
        self.assertEqual(browser.request("GET", "/no/such/page")[0], 404)
        self.assertEqual(browser.request("GET", "/api/no-such-call")[0], 404)
        status, response, _ = browser.request("DELETE", "/api/users")
        self.assertEqual((status, response.getheader("Allow")), (405, "GET"))
        self.assertEqual(browser.request("GET", "/api/send")[0], 405)

        # A body without a length that grows too long.
        connection = browser.connect()
        connection.putrequest("POST", "/api/send")
        connection.putheader("Transfer-Encoding", "chunked")
        connection.putheader("Content-Type", "application/json")
        connection.putheader("Cookie", "orvchat_session=" + browser.cookie)
        connection.putheader("X-CSRF-Token", browser.csrf)
        connection.endheaders()
        for _ in range(20):
            connection.send(b"1000\r\n" + b"y" * 0x1000 + b"\r\n")
        connection.send(b"0\r\n\r\n")
        self.assertEqual(connection.getresponse().status, 413)
        connection.close()

        # Slow and half-open clients: headers never finished, connections left idle.
        idle = []
        for i in range(40):
            s = socket.create_connection(("127.0.0.1", server.web_port), timeout=5)
            if i % 2 == 0:
                s.sendall(b"GET /api/status HTTP/1.1\r\nHost: x\r\n")  # and nothing more
            idle.append(s)
        started = time.monotonic()
        self.assertEqual(browser.request("GET", "/api/status")[0], 200)
        self.assertLess(time.monotonic() - started, 2)

        # Hundreds of event streams that nobody reads: a fixed number is served, the rest
        # are refused (503, or the connection closed at the per-address bound).
        for s in idle:
            s.close()
        streams, refused = [], 0
        for _ in range(200):
            try:
                stream = browser.events()
                if stream.status == 200:
                    streams.append(stream)
                else:
                    refused += 1
                    stream.close()
            except (OSError, http_errors()):
                refused += 1
        self.assertEqual(len(streams), 32)
        self.assertEqual(refused, 168)
        # Meanwhile the chat is served, and the engine never waited for a browser.
        server.user("carl", "00AABBCCDD04")
        wait_for(lambda: [u["name"] for u in browser.request("GET", "/api/users")[2]] == ["carl"],
                 5, "the new user")
        for stream in streams:
            stream.close()
        wait_for(lambda: browser.events().status == 200, 10, "a stream after the others closed")
        self.assertEqual(server.stop(), 0)


def http_errors():
    import http.client
    return http.client.HTTPException


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    SERVER, CLIENT, SOURCE = sys.argv[1:4]
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
