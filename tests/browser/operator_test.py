"""The operator's day with the real player: songs of a search sent in the
order ticked, the record of what played and its CSV."""

import csv
import io
import os
import subprocess
import time
import urllib.request

from station import StationTest, BASE, wait_for


def make_tones(folder, names):
    """Short tones the player can play, unlike the library's stand-in files."""
    os.makedirs(folder, exist_ok=True)
    for name in names:
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", os.path.join(folder, name), "synth", "0.3", "sine", "440"],
                       check=True)
    return folder


class OperatorTest(StationTest):
    def test_songs_of_a_search_play_in_the_order_ticked_and_are_on_record(self):
        folder = make_tones(os.path.join(self.station.music, "Überlänge Mix"),
                            ["Überlänge 1.wav", "überlänge 2.wav", "Ça 3.wav", "other.wav"])
        self.import_folder(folder)
        self.station.start_player()

        self.open("library.php?search=%C3%BCberl%C3%A4nge")
        names = [row.text for row in self.find_all("#songs tr td:nth-child(2)")]
        self.assertEqual(names, ["Überlänge 1", "überlänge 2"], "any letter's case, the file name, not the folder")
        self.open("library.php?search=%C3%A7a")
        self.assertEqual([row.text for row in self.find_all("#songs tr td:nth-child(2)")], ["Ça 3"])

        self.open("library.php?search=%C3%BCberl%C3%A4nge")
        boxes = self.find_all("#songs input.pick")
        boxes[1].click()
        boxes[0].click()
        self.follow("#put-end")
        self.wait_for_url("sent=1")
        self.assertEqual(self.text("#outcome"), "Sent 2 songs to the player, in this order:")
        self.assertEqual([item.text.split(" (")[0] for item in self.find_all("#songs li")], ["überlänge 2", "Überlänge 1"])

        paths = [os.path.join(folder, name) for name in ("überlänge 2.wav", "Überlänge 1.wav")]
        wait_for(lambda: self.station.read("player.txt").count("Play counted: ") >= 2, "both songs played")
        log = self.station.read("player.txt")
        self.assertLess(log.index("On air: " + paths[0]), log.index("On air: " + paths[1]))

        with urllib.request.urlopen(BASE + "history.php?format=csv") as reply:
            self.assertIn("text/csv", reply.headers["Content-Type"])
            rows = list(csv.reader(io.StringIO(reply.read().decode("utf-8"))))
        self.assertEqual(rows[0][:6], ["started", "ended", "song", "folder", "source", "outcome"])
        self.assertEqual([row[2:6] for row in rows[1:]], [["überlänge 2.wav", folder + "/", "sent", "played"],
                                                           ["Überlänge 1.wav", folder + "/", "sent", "played"]])

    def test_skip_and_stop_on_the_on_air_page(self):
        folder = self.station.make_songs("Pop", ["A.mp3", "B.mp3"])
        self.import_folder(folder)
        self.station.start_player()
        self.open("onair.php")
        self.follow("#stop")
        self.assertEqual(self.text("#control-outcome"), "Stopped the station.")
        wait_for(lambda: "Stopped by the operator" in self.station.read("player.txt"), "the stop")
        self.open("onair.php")
        self.assertEqual(self.text("#now"), "Stopped by the operator.")
        self.assertEqual(self.find_all("#faults"), [], "a stop is no fault")
        self.follow("#resume")
        wait_for(lambda: "Resumed by the operator" in self.station.read("player.txt"), "the resume")

    def test_a_song_name_that_is_a_formula_is_exported_as_text(self):
        name = '=HYPERLINK("http://x","y").wav'
        now = int(time.time())
        self.station.sql("insert into play_record (play_key, started, ended, song_id, song_name, dir_name, source, "
                         "outcome) values ('k1', ?, ?, 1, ?, '/music/Pop/', 'sent', 'played')", now, now + 3, name)
        with urllib.request.urlopen(BASE + "history.php?format=csv") as reply:
            rows = list(csv.reader(io.StringIO(reply.read().decode("utf-8"))))
        self.assertEqual(rows[1][2:6], ["'" + name, "/music/Pop/", "sent", "played"])

    def test_the_royalty_reports_follow_their_layouts(self):
        with open(os.path.join(self.station.server_folder, "sound_settings.txt"), "w", encoding="utf-8") as settings:
            settings.write("station_name=Radio Ü\ncall_letters=KZVS\ntransmission_category=B\n")
        now = int(time.time())
        for key, outcome, peak in (("k1", "played", 3), ("k2", "played", 4), ("k3", "failed", 9)):
            self.station.sql("insert into play_record (play_key, started, ended, song_id, song_name, dir_name, source, "
                             "outcome) values (?, ?, ?, 1, 'tagged.mp3', '/music/Pop/', 'sent', ?)", key, now, now + 185,
                             outcome)
            self.station.sql("insert into play_detail (play_key, artist, title, album, isrc, label, composer, "
                             "listeners_peak) values (?, 'Überlänge – Ça', '日本語', "
                             "'Album', 'USABC2100001', 'Label', 'Writer', ?)", key, peak)
        days = BASE + "history.php?from=2000-01-01&to=2099-12-31&format="

        with urllib.request.urlopen(days + "soundexchange") as reply:
            self.assertEqual(reply.headers["Content-Type"], "text/plain; charset=us-ascii")
            self.assertIn('filename="RadioUKZVS20000101_20991231_B.txt"', reply.headers["Content-Disposition"])
            lines = reply.read().decode("ascii").split("\r\n")
        self.assertEqual(lines, ["NAME_OF_SERVICE\tTRANSMISSION_CATEGORY\tFEATURED_ARTIST\tSOUND_RECORDING_TITLE\tISRC\t"
                                 "ALBUM_TITLE\tMARKETING_LABEL\tACTUAL_TOTAL_PERFORMANCES",
                                 "^Radio U (KZVS)^\t^B^\t^Uberlange - Ca^\t^???^\t^USABC2100001^\t^Album^\t^Label^\t7", ""],
                         "one recording, its two heard plays summed, in ASCII")

        with urllib.request.urlopen(days + "music") as reply:
            rows = list(csv.reader(io.StringIO(reply.read().decode("utf-8"))))
        self.assertEqual(rows[0], ["station", "date", "time", "title", "performer", "writer", "duration", "album", "label",
                                   "isrc", "plays"])
        self.assertEqual(len(rows), 3, "the failed play is left out")
        self.assertRegex(rows[1][1] + " " + rows[1][2], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")
        self.assertEqual([rows[1][0]] + rows[1][3:], ["Radio Ü (KZVS)", "日本語",
                                                       "Überlänge – Ça", "Writer", "3:05", "Album",
                                                       "Label", "USABC2100001", "2"])
