#!/usr/bin/env python3
"""The web console's page in a real browser (headless Chromium through chromium-driver and
Selenium) against the real server on 127.0.0.1: a wrong password refused, a login, a
connected client shown with its Cyrillic name as written, a kick from the row's menu, and
the kick's console line arriving live. Exits 77 (skipped) where no browser is installed.

Usage: browser_test.py SERVER CLIENT SOURCE_DIR [unittest arguments]"""

import os
import shutil
import sys
import tempfile
import time
import unittest

from web_support import PASSWORD, Server, wait_for

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions as ready
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as missing:  # pragma: no cover
    webdriver = None
    WHY_NOT = "python3-selenium is not installed (%s)" % missing

SERVER = CLIENT = SOURCE = None
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"


def start_browser(profile, width=1280, height=800):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--disable-dev-shm-usage", "--user-data-dir=" + profile,
                 "--window-size=%d,%d" % (width, height)):
        options.add_argument(flag)
    try:
        return webdriver.Chrome(service=Service(DRIVER), options=options)
    except Exception as failure:  # a busy machine: the driver's first start may time out
        print("browser test: Chromium did not start (%s); once more" % failure)
        return webdriver.Chrome(service=Service(DRIVER), options=options)


def log_in(browser, password):
    field = WebDriverWait(browser, 10).until(ready.visibility_of_element_located((By.ID, "password")))
    field.clear()
    field.send_keys(password)
    browser.find_element(By.ID, "login-button").click()


class WebPage(unittest.TestCase):
    def setUp(self):
        self.server = Server(SERVER, CLIENT, SOURCE)
        self.addCleanup(self.server.stop)
        self.profile = tempfile.mkdtemp(prefix="orv-chromium-")
        self.addCleanup(shutil.rmtree, self.profile, True)
        self.browser = start_browser(self.profile)
        self.addCleanup(self.browser.quit)
        self.wait = WebDriverWait(self.browser, 10)

    def text_of(self, element_id):
        return self.browser.find_element(By.ID, element_id).text

    def test_log_in_see_a_client_kick_it_and_see_the_line_live(self):
        browser = self.browser
        self.server.user("Анна", "00AABBCCDD10")
        browser.get("http://127.0.0.1:%d/" % self.server.web_port)

        # A wrong password is refused on the page.
        log_in(browser, "not the password")
        self.wait.until(lambda b: self.text_of("login-error") == "Wrong password.")
        self.assertFalse(browser.find_element(By.ID, "app").is_displayed())
        log_in(browser, PASSWORD)
        self.wait.until(ready.visibility_of_element_located((By.ID, "app")))

        # The client is in the list, its name as written, and the page is live.
        row = self.wait.until(ready.presence_of_element_located(
            (By.CSS_SELECTOR, '#users tbody tr[data-mac="00AABBCCDD10"]')))
        self.assertEqual(row.find_element(By.CSS_SELECTOR, ".c-name").text, "Анна")
        self.assertEqual(row.find_element(By.CSS_SELECTOR, ".c-address").text, "127.0.0.1")
        self.wait.until(lambda b: self.text_of("live") == "live")
        self.assertIn("Waiting for connections", self.text_of("console"))

        # Another one comes while the page looks.
        self.server.user("Борис", "00AABBCCDD11")
        self.wait.until(lambda b: "Борис" in self.text_of("users"))

        # Kick from the row's menu; the line naming it arrives on the page's console.
        row = browser.find_element(By.CSS_SELECTOR, '#users tbody tr[data-mac="00AABBCCDD10"]')
        row.find_element(By.CSS_SELECTOR, "button.row-menu").click()
        menu = self.wait.until(ready.visibility_of_element_located((By.ID, "menu")))
        kick = [b for b in menu.find_elements(By.CSS_SELECTOR, "button.item") if b.text == "Kick"]
        self.assertEqual(len(kick), 1, menu.text)
        kick[0].click()
        self.wait.until(lambda b: "Web console (127.0.0.1): kick 00AABBCCDD10" in
                        self.text_of("console"))
        self.wait.until(lambda b: "Kicked user at 127.0.0.1 (Анна)" in self.text_of("console"))
        self.wait.until(lambda b: "Анна" not in self.text_of("users"))
        self.assertIn("Борис", self.text_of("users"))
        wait_for(lambda: "Web console (127.0.0.1): kick 00AABBCCDD10" in self.server.console(), 5,
                 "the kick in the server's console")

        # Nothing the page asked for was refused, by its own policy or as missing (the wrong
        # password's 401 aside).
        errors = [entry for entry in browser.get_log("browser") if entry["level"] == "SEVERE"
                  and "/api/login - " not in entry["message"]]
        self.assertEqual(errors, [])


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    if webdriver is None or not os.path.exists(CHROMIUM) or not os.path.exists(DRIVER):
        print("browser test skipped: %s" % (WHY_NOT if webdriver is None else
                                             "no chromium or chromedriver installed"))
        sys.exit(77)
    SERVER, CLIENT, SOURCE = sys.argv[1:4]
    started = time.monotonic()
    result = unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2, exit=False).result
    print("browser test: %.1f s" % (time.monotonic() - started))
    sys.exit(0 if result.wasSuccessful() else 1)
