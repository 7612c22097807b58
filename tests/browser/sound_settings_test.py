"""The station's sound and stream settings, as the player reads them."""

import os
import stat

from station import StationTest


class SoundSettingsTest(StationTest):
    def stored(self, name):
        with open(os.path.join(self.station.server_folder, name)) as text:
            return text.read()

    def test_settings_are_stored_for_the_player_and_the_password_never_shown(self):
        self.open("settings.php")
        for name, value in (("target_lufs", "-16"), ("crossfade_s", "2"), ("stream_host", "relay.example.org"),
                            ("stream_port", "8100"), ("stream_password", "hackme-42"), ("station_name", "Radio Ü")):
            field = self.find("input[name=%s]" % name)
            field.clear()
            field.send_keys(value)
        self.find("input[name=stream_on]").click()
        self.follow("input[name=save]")
        self.assertEqual(self.text("#message"), "Saved; the player uses them from its next song.")
        self.assertEqual(self.stored("sound_settings.txt"),
                         "target_lufs=-16\ncrossfade_s=2\nstream_on=1\nstream_host=relay.example.org\n"
                         "stream_port=8100\nstream_mount=/stream\nstream_mp3=1\nstream_opus=0\nstation_name=Radio Ü\n"
                         "station_description=\nstation_genre=\nstation_url=\ncall_letters=\ntransmission_category=\n")
        password = os.path.join(self.station.server_folder, "stream_password.txt")
        self.assertEqual(self.stored("stream_password.txt"), "hackme-42")
        self.assertEqual(stat.S_IMODE(os.stat(password).st_mode), 0o600)
        self.assertNotIn("hackme-42", self.browser.page_source)

        # A wrong value changes nothing and says why.
        self.open("settings.php")
        field = self.find("input[name=crossfade_s]")
        field.clear()
        field.send_keys("soon")
        self.follow("input[name=save]")
        self.assertIn("The crossfade time must be a number from 0 to 15.", self.text("p.error"))
        self.assertIn("crossfade_s=2\n", self.stored("sound_settings.txt"))
