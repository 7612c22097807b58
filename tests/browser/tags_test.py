"""Songs named by their tags once the player has read them."""

import os
import struct
import subprocess

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
