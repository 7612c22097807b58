"""The schedule page and the playlist it makes."""

import time

from station import StationTest


class ScheduleTest(StationTest):
    # Not the machine's zone, and not a whole hour from it: the page's coming
    # hour must be the server's.
    tz = "Asia/Kathmandu"

    def test_an_entry_for_the_coming_hour_fills_the_playlist_with_its_folder(self):
        folder = self.station.make_songs("My Songs", ["Alpha.mp3", "Beta.mp3", "Gamma.wav"])
        self.import_folder(folder)
        self.open("schedule.php")
        self.find("#entry-form input[name='order[1]']").send_keys("1")
        self.find("#entry-form input[type=submit]").click()
        self.wait_for_url("result=added")
        self.assertEqual(self.text(".outcome"), "Added the entry.")
        entry = self.text("#entries tr.entry")
        self.assertIn("every day", entry)
        self.assertIn(folder + "/", entry)
        hour = self.station.sql("select play_time from playlist_info")[0][0]
        expected = (time.gmtime(time.time() + 5 * 3600 + 45 * 60).tm_hour + 1) % 24
        self.assertIn(hour, (expected, (expected + 1) % 24), "the coming hour in the station's zone")

        self.open("playlist.php")
        first = self.find("#position0")
        self.assertIn("From " + folder + "/ for %02d:00" % hour, first.text)
        for song in ("Alpha", "Beta", "Gamma"):
            self.assertIn(song, first.text)

    def test_entries_are_disabled_enabled_and_removed(self):
        folder = self.station.make_songs("Pop", ["A.mp3"])
        self.import_folder(folder)
        self.station.sql("insert into playlist_info (play_time, week_days, is_enable) values (7, 5, 1)")
        self.station.sql("insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1)")
        self.open("schedule.php")
        self.assertIn("07:00 Monday, Wednesday", self.text("#entries tr.entry"))
        self.find("#entries a[href*='action=disable']").click()
        self.wait_for_url("result=disabled")
        self.assertEqual(self.station.sql("select is_enable from playlist_info"), [(0,)])
        self.find("#entries a[href*='action=enable']").click()
        self.wait_for_url("result=enabled")
        self.find("#entries a[href*='action=remove']").click()
        self.find("#confirm-remove").click()
        self.wait_for_url("result=removed")
        self.assertEqual(self.station.sql("select count(*) from playlist_info, playlist"), [(0,)])
