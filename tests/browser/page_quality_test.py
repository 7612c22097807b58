"""Every page, as every operator meets it: axe-core finds nothing serious or
critical, tidy finds no error in its markup, and on a phone's 375 px it is
no wider than the screen."""

import os
import subprocess
import time
import urllib.request

from station import BASE, BUILD, StationTest

AXE = os.path.join(BUILD, "browser-npm", "node_modules", "axe-core", "axe.min.js")
PAGES = ("index.php", "onair.php", "library.php", "history.php", "schedule.php", "playlist.php", "browse.php",
         "settings.php", "set_guid.php", "send.php")


class PageQualityTest(StationTest):
    maxDiff = None

    def setUp(self):
        super().setUp()
        music = self.station.make_songs("Pop", ["Morning Light.mp3", "Iron Sky.mp3"])
        self.import_folder(music)
        now = int(time.time())
        self.station.sql("insert into play_record (play_key, started, ended, song_name, dir_name, source, outcome) "
                         "values ('p1', ?, ?, 'Iron Sky.mp3', ?, 'scheduled', 'played')", now - 100, now - 70,
                         music + "/")
        with open(AXE, encoding="utf-8") as script:
            self.axe = script.read()

    def test_no_page_has_a_serious_accessibility_fault(self):
        faults = []
        for page in PAGES:
            self.open(page)
            self.browser.execute_script(self.axe)
            result = self.browser.execute_async_script(
                "const done = arguments[arguments.length - 1];"
                "axe.run(document).then(r => done(r.violations.filter(v => v.impact === 'serious' ||"
                " v.impact === 'critical').map(v => v.id + ': ' + v.nodes.map(n => n.target.join(' ')).join(', '))))")
            faults += [page + " " + violation for violation in result]
        self.assertEqual(faults, [])

    def test_tidy_finds_no_error_in_any_page(self):
        faults = []
        for page in PAGES:
            with urllib.request.urlopen(BASE + page) as reply:  # the markup as sent, before any script
                source = reply.read()
            checked = subprocess.run(["tidy", "-errors", "-quiet"], input=source, capture_output=True)
            if checked.returncode > 1:
                faults.append(page + ": " + checked.stderr.decode(errors="replace"))
        self.assertEqual(faults, [])

    def test_no_page_is_wider_than_a_phone(self):
        self.browser.set_window_size(375, 800)
        wide = []
        for page in PAGES:
            self.open(page)
            width = self.browser.execute_script("return document.documentElement.scrollWidth")
            viewport = self.browser.execute_script("return window.innerWidth")
            if width > viewport:
                wide.append("%s is %d px wide at %d px" % (page, width, viewport))
        self.assertEqual(wide, [])
