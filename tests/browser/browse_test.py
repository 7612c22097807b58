"""The folder browser and the pages' answers to odd requests."""

import os

from station import StationTest


class BrowseTest(StationTest):
    def test_a_folder_of_1500_files_shows_every_file(self):
        folder = self.station.make_songs("Big", ["song %04d.mp3" % i for i in range(1500)])
        self.open("browse.php")
        self.find("input[name=open]").send_keys(folder)
        self.follow("input[type=submit]")
        self.assertEqual(len(self.find_all("#entries tr.file")), 1500)
        self.assertIn("song 1499.mp3", self.find_all("#entries tr.file")[-1].text)
        self.assertIn("Big/", self.text("h2"))

    def test_a_missing_folder_and_listed_parameters_get_plain_messages(self):
        missing = self.station.music + "/Gone Away"
        self.open("browse.php?dir=" + missing.replace(" ", "%20"))
        self.assertEqual(self.text("#problem"), "The folder " + missing + "/ does not exist.")
        self.assertEqual(self.find_all("#import"), [], "no import link for a folder that is not there")

        self.open("library.php?add_dir[]=x")
        self.assertIn('"add_dir" was given as a list', self.text(".odd-input"))
        self.open("browse.php?dir[]=x")
        self.assertIn('"dir" was given as a list', self.text(".odd-input"))
        self.assertNotIn("Fatal", self.browser.page_source)

    def test_a_name_that_is_not_utf8_shows_its_bytes_and_its_links_keep_them(self):
        folder = os.fsencode(self.station.music) + b"/caf\xe9"
        os.makedirs(folder)
        with open(folder + b"/s\xff.mp3", "wb") as song:
            song.write(b"\xff\xfb\x90\xc0" + bytes(413))
        self.open("browse.php?dir=" + self.station.music)
        self.assertEqual(self.text("#entries a[href*='caf%E9']"), "caf\\xE9/")
        self.follow("#entries a[href*='caf%E9']")
        self.assertEqual(self.text("#entries tr.file"), "s\\xFF.mp3")
        self.follow("#import a")
        self.wait_for_url("result=")
        self.assertIn("caf\\xE9/", self.text("#folders"))
        self.assertEqual(self.station.sql("select count(*) from song"), [(1,)])
