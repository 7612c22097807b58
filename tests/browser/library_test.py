"""Importing through the library page."""

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
