"""The one helper of the browser tests: a station made by station/setup-station,
the real server and php-cgi in it, tools/player-window as the player, and
headless Chromium through Selenium. Runs inside the namespaces tests/browser/run
makes: a network of its own (the server takes 127.0.0.1:8080) and mounts of its
own (the test's ODBC registration is put over /etc's, where php-cgi, started
with nothing of the test's environment, looks for it)."""

import hashlib
import hmac
import os
import shutil
import sqlite3
import subprocess
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("ZV_BUILD_DIR", os.path.join(SOURCE, "build"))
SCREENSHOTS = os.path.join(BUILD, "browser-screenshots")
BASE = "http://127.0.0.1:8080/"
_registration = None


def _odbc_registration():
    """One registration for the whole run: every station's data source is the
    same (base2.mdb in the server's folder)."""
    global _registration
    if _registration is None:
        _registration = tempfile.mkdtemp(prefix="zv-browser-odbc-")
    return _registration


def _mount_registration():
    for name in ("odbcinst.ini", "odbc.ini"):
        target = os.path.join("/etc", name)
        if not os.path.ismount(target):
            subprocess.run(["mount", "--bind", os.path.join(_registration, name), target], check=True)


def wait_for(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.05)


class Station:
    def __init__(self, tz=None, alsa_config=None, own_pages=None):
        self.root = tempfile.mkdtemp(prefix="zv-browser-")
        self.folder = os.path.join(self.root, "station")
        self.server_folder = os.path.join(self.folder, "server")
        self.music = os.path.join(self.root, "music")
        self.windows = tempfile.mkdtemp(prefix="zv-windows-")
        self.env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "TEMP": tempfile.gettempdir(),
                    "ZV_WINDOW_DIR": self.windows}
        if tz:
            self.env["TZ"] = tz
        if alsa_config:
            self.env["ALSA_CONFIG_PATH"] = os.path.join(self.root, "asound.conf")
            with open(self.env["ALSA_CONFIG_PATH"], "w") as config:
                config.write(alsa_config)
        for name, text in (own_pages or {}).items():  # setup-station leaves a www folder alone
            os.makedirs(os.path.join(self.server_folder, "www"), exist_ok=True)
            with open(os.path.join(self.server_folder, "www", name), "w") as page:
                page.write(text)
        setup = dict(self.env, ODBCSYSINI=_odbc_registration())
        subprocess.run([os.path.join(SOURCE, "station", "setup-station"), self.folder], env=setup, check=True,
                       stdout=subprocess.DEVNULL)
        _mount_registration()
        self.processes = []
        self.server = self._start([os.path.join(BUILD, "zv-php-server")], "console.txt", "Waiting for client to connect")

    def _start(self, command, output, ready):
        path = os.path.join(self.root, output)
        with open(path, "wb") as out:
            process = subprocess.Popen(command, cwd=self.server_folder, env=self.env, stdout=out,
                                       stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.processes.append(process)
        wait_for(lambda: ready in self.read(output), output + " to show " + ready)
        return process

    def read(self, name):
        with open(os.path.join(self.root, name), encoding="utf-8", errors="replace") as text:
            return text.read()

    def start_player_window(self):
        self._start([os.path.join(BUILD, "tools", "player-window")], "player.txt", "open\n")

    def start_player(self):
        """The real player, on ALSA's null device: songs follow one another at once."""
        self._start([os.path.join(BUILD, "player", "station-player"), "--default-device", "null"], "player.txt",
                    "window \"Zentavio Player\" open")

    def player_messages(self):
        """(dwData, text) of every message the player window received."""
        messages = []
        for line in self.read("player.txt").splitlines():
            if line.startswith("dwData="):
                fields = line.split(" ", 3)
                messages.append((int(fields[0].split("=")[1]), fields[3][len("text="):]))
        return messages

    def sql(self, statement, *values):
        with sqlite3.connect(os.path.join(self.server_folder, "base2.mdb"), timeout=10) as library:
            return library.execute(statement, values).fetchall()

    def make_songs(self, folder, names):
        os.makedirs(os.path.join(self.music, folder), exist_ok=True)
        for name in names:
            with open(os.path.join(self.music, folder, name), "wb") as song:
                song.write(b"\xff\xfb\x90\xc0" + bytes(413))
        return os.path.join(self.music, folder)

    def token(self, page, ends=None):
        """A change token for `page`, made as docs/pages-api.md tells a program to: the
        time it ends, and the HMAC of the page's name and that time."""
        with open(os.path.join(self.server_folder, "station-secret.txt"), "rb") as secret:
            key = secret.read().strip()
        ends = str(ends or int(time.time()) + 3600)
        return ends + "." + hmac.new(key, ("change:%s:%s" % (page, ends)).encode(), hashlib.sha256).hexdigest()[:32]

    def php_errors(self):
        with open(os.path.join(self.folder, "log", "php-errors.log"), encoding="utf-8", errors="replace") as log:
            return log.read()

    def keep_logs(self, prefix):
        """Copies the server's console, the player's output and the pages' error
        log to prefix + ".console.txt", ".player.txt" and ".php-errors.log",
        before close() removes the station; the paths of the copies."""
        kept = []
        for source, suffix in ((os.path.join(self.root, "console.txt"), ".console.txt"),
                               (os.path.join(self.root, "player.txt"), ".player.txt"),
                               (os.path.join(self.folder, "log", "php-errors.log"), ".php-errors.log")):
            if os.path.exists(source):
                shutil.copyfile(source, prefix + suffix)
                kept.append(prefix + suffix)
            elif os.path.exists(prefix + suffix):
                os.remove(prefix + suffix)  # an earlier failure's, which would mislead
        return kept

    def close(self):
        for process in self.processes:
            process.terminate()
            process.wait()
        shutil.rmtree(self.root, ignore_errors=True)
        shutil.rmtree(self.windows, ignore_errors=True)


class StationTest(unittest.TestCase):
    """A station and a browser for each test; a screenshot and the station's
    logs when it fails, and the station's PHP error log must stay empty."""

    tz = None
    alsa_config = None
    own_pages = None

    def setUp(self):
        self.station = Station(self.tz, self.alsa_config, self.own_pages)
        self.addCleanup(self.station.close)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,1000"):
            options.add_argument(argument)
        self.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.addCleanup(self.browser.quit)

    def _callTestMethod(self, method):
        try:
            method()
            self.assertEqual(self.station.php_errors(), "", "the station's PHP error log")
        except BaseException:
            os.makedirs(SCREENSHOTS, exist_ok=True)
            prefix = os.path.join(SCREENSHOTS, self.id().split(".", 1)[-1])
            self.browser.save_screenshot(prefix + ".png")
            print("\nscreenshot: " + prefix + ".png")
            for path in self.station.keep_logs(prefix):
                print("kept: " + path)
            raise

    def open(self, page):
        self.browser.get(BASE + page)

    def find(self, css):
        return WebDriverWait(self.browser, 20).until(
            expected_conditions.presence_of_element_located((By.CSS_SELECTOR, css)))

    def find_all(self, css):
        return self.browser.find_elements(By.CSS_SELECTOR, css)

    def text(self, css):
        """The element's text; a page that updates its parts may replace the
        element between finding and reading it, so it is found again."""
        for _ in range(20):
            try:
                return self.find(css).text
            except StaleElementReferenceException:
                continue
        return self.find(css).text

    def follow(self, css):
        """Clicks what leads to another page and waits until that page has
        loaded: a click returns before its navigation has even begun."""
        page = self.browser.find_element(By.TAG_NAME, "html")
        self.find(css).click()
        WebDriverWait(self.browser, 20).until(expected_conditions.staleness_of(page))
        WebDriverWait(self.browser, 20).until(
            lambda browser: browser.execute_script("return document.readyState") == "complete")

    def wait_for_url(self, part):
        WebDriverWait(self.browser, 20).until(lambda browser: part in browser.current_url)

    def import_folder(self, folder):
        """Imports through the library page, as an operator's link does."""
        self.open("library.php?folder=" + folder.replace(" ", "%20") + "&token=" + self.station.token("library.php"))
        self.wait_for_url("result=")
        self.assertIn("Imported", self.text(".outcome"))
