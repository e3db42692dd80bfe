#!/usr/bin/python3
"""Takes the README's pictures of the web console: docs/screenshot-web.png (a desk's width)
and docs/screenshot-web-phone.png (a phone's), headless Chromium against a real server on
127.0.0.1 with eight users with Cyrillic names, one blocked, one with an AFS value of its
own, and an operator message.

Usage: /usr/bin/python3 scripts/screenshot-web.py [BUILD]   (default build/dev; the build
needs orvchatserver and orvchat-client with the web console on)"""

import os
import shutil
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "web"))

from browser_test import log_in, start_browser  # noqa: E402
from web_support import PASSWORD, Browser, Server, wait_for  # noqa: E402

USERS = [("Анна", "00AABBCC0001"), ("Борис", "00AABBCC0002"), ("Вера", "00AABBCC0003"),
         ("Григорий", "00AABBCC0004"), ("Дарья", "00AABBCC0005"), ("Евгений", "00AABBCC0006"),
         ("Жанна", "00AABBCC0007"), ("Зоя", "00AABBCC0008")]


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "dev")
    server = Server(os.path.join(build, "src", "orvchatserver"),
                    os.path.join(build, "tools", "orvchat-client"), root)
    profile = tempfile.mkdtemp(prefix="orv-chromium-")
    browser = None
    try:
        for name, mac in USERS:
            server.user(name, mac)
        api = Browser(server.web_port)
        assert api.login()[0] == 200
        wait_for(lambda: len(api.request("GET", "/api/users")[2]) == len(USERS), 10, "the users")
        api.request("POST", "/api/users/00AABBCC0006/block", {"by": "mac"})
        api.request("POST", "/api/users/00AABBCC0003/afs", {"value": 25})
        api.request("POST", "/api/send", {"text": "Сервер перезапустится в 18:00"})

        for width, height, name in ((1280, 760, "screenshot-web.png"),
                                    (390, 844, "screenshot-web-phone.png")):
            browser = start_browser(profile, width, height)
            browser.get("http://127.0.0.1:%d/" % server.web_port)
            log_in(browser, PASSWORD)
            wait_for(lambda: "Зоя" in browser.find_element("id", "users").text, 10, "the list")
            time.sleep(0.5)
            path = os.path.join(root, "docs", name)
            browser.save_screenshot(path)
            print("screenshot-web:", path)
            browser.quit()
            browser = None
    finally:
        if browser:
            browser.quit()
        server.stop()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    main()
