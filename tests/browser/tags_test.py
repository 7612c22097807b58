"""Songs named by their tags once the player has read them."""

import json
import os
import struct
import subprocess
import time

from selenium.webdriver.support.ui import WebDriverWait

from station import StationTest, wait_for


def riff_info_wav(path, tags):
    """A short tone as WAV with a RIFF INFO list (IART, INAM ...) after its data."""
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", path, "synth", "0.3", "sine", "440"], check=True)
    info = b"INFO"
    for key, text in tags.items():
        value = text.encode() + b"\0"
        info += key.encode() + struct.pack("<I", len(value)) + value + (b"\0" if len(value) % 2 else b"")
    with open(path, "r+b") as wav:
        wav.seek(0, os.SEEK_END)
        wav.write(b"LIST" + struct.pack("<I", len(info)) + info)
        size = wav.tell()
        wav.seek(4)
        wav.write(struct.pack("<I", size - 8))


class TagsTest(StationTest):
    def test_songs_show_artist_and_title_and_are_found_by_artist(self):
        folder = os.path.join(self.station.music, "Tagged")
        os.makedirs(folder)
        tone = os.path.join(folder, "tone.wav")
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", tone, "synth", "0.3", "sine", "660"], check=True)
        subprocess.run(["lame", "--quiet", "--ta", "Nine Hundred", "--tt", "First Song", "--tl", "An Album", "--ty", "2019",
                        "--tv", "TSRC=USABC1900001", tone, os.path.join(folder, "03 - track.mp3")], check=True)
        os.rename(tone, os.path.join(folder, "untagged.wav"))
        riff_info_wav(os.path.join(folder, "info.wav"), {"IART": "Wave Artist", "INAM": "Wave Title"})
        self.import_folder(folder)
        self.station.start_player()
        wait_for(lambda: self.station.read("player.txt").count(" tags: ") >= 3, "the three songs' tags")

        self.open("library.php?show=1")
        songs = self.find_all("#songs span.song")
        self.assertEqual([(song.text, song.get_attribute("title")) for song in songs],
                         [("Nine Hundred – First Song", "03 - track.mp3"), ("Wave Artist – Wave Title", "info.wav"),
                          ("untagged", "untagged.wav")])
        self.open("library.php?search=nine%20HUNDRED")
        self.assertEqual([song.text for song in self.find_all("#songs span.song")], ["Nine Hundred – First Song"])
        self.assertEqual(self.station.sql("select isrc, album, year from song_tags where title = 'First Song'"),
                         [("USABC1900001", "An Album", 2019)])

    def test_the_front_page_follows_the_song_on_air_without_reloading(self):
        self.station.sql("insert into song (song_id, song_dir_id, song_name) values (1, 1, '/m/one.mp3'), "
                         "(2, 1, '/m/two.mp3')")
        self.station.sql("insert into song_tags (song_id, file_size, file_mtime, title, artist, length_ms) values "
                         "(1, 1, 1, 'First', 'Band', 200000), (2, 1, 1, '日本語', 'Band', 180000)")

        def publish(path):
            state = {"updated": int(time.time()), "device": "default",
                     "now": {"id": None, "path": path, "name": os.path.basename(path), "source": "handoff",
                             "started": int(time.time()) - 5, "position": 5.0, "length": None}, "queue": []}
            target = os.path.join(self.station.server_folder, "onair.json")
            with open(target + ".partial", "w") as file:
                json.dump(state, file)
            os.rename(target + ".partial", target)

        publish("/m/one.mp3")
        self.open("index.php")
        self.assertEqual(self.text("#now span.song"), "Band – First")
        # The player publishes every 2 s; so does this stand-in while the page waits.
        WebDriverWait(self.browser, 30).until(
            lambda browser: publish("/m/two.mp3") or self.text("#now span.song") == "Band – 日本語")
        self.assertEqual(self.find("#now span.song").get_attribute("title"), "two.mp3")
        self.assertIn("of 3:00", self.text("#now"))
