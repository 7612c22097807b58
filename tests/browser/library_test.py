"""Importing through the library page."""

import re

from station import StationTest


class LibraryTest(StationTest):
    def test_the_import_form_imports_a_folder_with_a_space(self):
        folder = self.station.make_songs("My Songs", ["One.mp3", "Two.wav", "cover.jpg"])
        self.open("library.php")
        self.find("#import-form input[name=folder]").send_keys(folder)
        self.find("#import-form input[type=submit]").click()
        self.wait_for_url("result=")
        self.assertEqual(self.text(".outcome"), "Imported 2 songs from " + folder
                         + " (2 songs of this folder in the library).")
        self.assertEqual(self.station.sql("select dir_name, is_playlist from song_dir"), [(folder + "/", 1)])
        self.assertIn(folder + "/", self.text("#folders"))
        # Reloading shows the outcome again and imports nothing.
        self.browser.refresh()
        self.assertIn("Imported 2 songs", self.text(".outcome"))
        self.assertEqual(self.station.sql("select count(*) from song"), [(2,)])

    def test_the_removal_asks_about_the_folder_and_its_songs(self):
        folder = self.station.make_songs("Two", ["One.mp3", "Two.mp3"])
        self.import_folder(folder)
        self.open("library.php?action=remove&id=1")
        self.assertIn("and its 2 songs from the library", self.text("#confirm"))

    def test_songs_ticked_on_several_pages_go_together_in_the_order_ticked(self):
        self.station.sql("insert into song_dir (song_dir_id, dir_order, dir_name) values (1, 1, '/m/')")
        self.station.sql("with recursive s(i) as (select 1 union all select i + 1 from s where i < 250) "
                         "insert into song (song_id, song_dir_id, song_name) select i, 1, printf('/m/%03d.mp3', i) from s")
        self.open("library.php?show=1")
        self.assertEqual(len(self.find_all("#songs input.pick")), 200, "a page of songs")
        self.find("#songs input.pick[value='150']").click()
        self.follow("#song-pages a[rel=next]")
        self.find("#songs input.pick[value='220']").click()
        self.assertEqual(self.text("#ticked-elsewhere"), "1 song ticked on another page goes with them.")
        self.follow("#song-pages a[rel=prev]")
        self.assertTrue(self.find("#songs input.pick[value='150']").is_selected())
        self.follow("#put-next")
        self.wait_for_url("send.php")
        self.assertEqual(re.findall(r"song%5B\d*%5D=(\d+)", self.browser.current_url), ["150", "220"])
