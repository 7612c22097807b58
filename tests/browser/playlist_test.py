"""Sending songs from the playlist to the player."""

from station import StationTest


class PlaylistTest(StationTest):
    def test_two_ticked_songs_reach_the_player_framed_once(self):
        folder = self.station.make_songs("Rock", ["%02d Song.mp3" % i for i in range(12)])
        self.import_folder(folder)
        self.station.sql("insert into playlist_info (play_time, week_days, is_enable) values (24, 128, 1)")
        self.station.sql("insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1)")
        self.station.start_player_window()

        self.open("playlist.php")
        boxes = self.find_all("#position0 input[type=checkbox]")
        names = [box.find_element("xpath", "..").text.strip() for box in boxes[:2]]
        boxes[0].click()
        boxes[1].click()
        self.follow("#choose")
        self.assertEqual([item.text.split(" (")[0] for item in self.find_all("#songs li")], names)
        self.assertEqual(self.station.player_messages(), [], "choosing sends nothing")

        self.follow("#send")
        self.wait_for_url("sent=1")
        self.assertEqual(self.text("#outcome"), "Sent 2 songs to the player, in this order:")
        self.assertEqual([item.text.split(" (")[0] for item in self.find_all("#songs li")], names)
        paths = [folder + "/" + name + ".mp3" for name in names]
        expected = [(1003, ""), (1001, paths[0]), (1001, paths[1]), (1002, "")]
        self.assertEqual(self.station.player_messages(), expected)

        self.browser.refresh()
        self.find("#outcome")
        self.assertEqual(self.station.player_messages(), expected, "a reload sends nothing")
        self.follow("#back")
        self.find("#position0")

    def test_the_sent_page_lists_the_songs_in_the_order_sent(self):
        folder = self.station.make_songs("Rock", ["A.mp3", "B.mp3", "C.mp3"])
        self.import_folder(folder)
        self.station.sql("insert into playlist_info (play_time, week_days, is_enable) values (24, 128, 1)")
        self.station.sql("insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1)")
        self.station.start_player_window()
        ids = {name: song_id for song_id, name in self.station.sql("select song_id, song_name from song")}
        order = [folder + "/C.mp3", folder + "/A.mp3", folder + "/B.mp3"]
        self.open("send.php?" + "&".join("song[]=%d" % ids[path] for path in order))
        self.follow("#send")
        self.wait_for_url("sent=1")
        self.assertEqual([item.text.split(" (")[0] for item in self.find_all("#songs li")], ["C", "A", "B"])
        self.assertEqual([text for number, text in self.station.player_messages() if number == 1001], order)
