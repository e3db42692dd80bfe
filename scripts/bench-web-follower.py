#!/usr/bin/python3
"""Follows a web console the way an admin's open page does, for the benchmarks: the page in
headless Chromium on http://127.0.0.1:PORT/, logged in again whenever it asks (each run of
scripts/bench_matrix.py starts a new server), until it is stopped (SIGTERM, SIGINT).

Usage: /usr/bin/python3 scripts/bench-web-follower.py PORT PASSWORD
With: python3 scripts/bench_matrix.py BUILD --workdir DIR, DIR's settings holding
<WebConsole> 127.0.0.1:PORT </WebConsole> and its password set with --set-web-password."""

import os
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests", "web"))
from browser_test import start_browser  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402


def main():
    port, password = int(sys.argv[1]), sys.argv[2]
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    profile = tempfile.mkdtemp(prefix="orv-follower-")
    browser = start_browser(profile)
    logins = 0
    followed = 0  # quarter seconds the page was live
    try:
        # The page may not be there yet: the benchmark starts its first server later.
        try:
            browser.get("http://127.0.0.1:%d/" % port)
        except Exception:
            pass
        while not stop:
            try:
                if browser.find_element(By.ID, "login").is_displayed():
                    field = browser.find_element(By.ID, "password")
                    field.clear()
                    field.send_keys(password)
                    browser.find_element(By.ID, "login-button").click()
                    logins += 1
                elif browser.find_element(By.ID, "live").text == "live":
                    followed += 1
                else:
                    time.sleep(1)
                    if browser.find_element(By.ID, "live").text != "live":
                        browser.get("http://127.0.0.1:%d/" % port)
            except Exception:  # the server between two runs: try again
                time.sleep(1)
                try:
                    browser.get("http://127.0.0.1:%d/" % port)
                except Exception:
                    pass
            time.sleep(0.25)
    finally:
        browser.quit()
        shutil.rmtree(profile, ignore_errors=True)
        print("bench-web-follower: %d logins, live for %.1f s" % (logins, followed / 4))


if __name__ == "__main__":
    main()
