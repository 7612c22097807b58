"""The station's sound and stream settings, as the player reads them."""

import os
import socket
import stat
import time

from station import BASE, StationTest


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

    def type_into(self, fields):
        for name, value in fields:
            field = self.find("input[name=%s]" % name)
            field.clear()
            field.send_keys(value)
        self.follow("input[name=save]")

    def test_the_stored_password_stays_and_is_sent_only_where_it_was_typed_for(self):
        with open(os.path.join(self.station.server_folder, "stream_password.txt"), "w") as password:
            password.write("stored-secret-1\n")
        elsewhere = socket.socket()
        elsewhere.bind(("127.0.0.1", 0))
        elsewhere.listen()
        self.addCleanup(elsewhere.close)

        self.open("settings.php")
        self.type_into([("crossfade_s", "1")])
        self.wait_for_url("saved=1")
        self.assertEqual(self.browser.current_url, BASE + "settings.php?saved=1", "no password, no token")
        self.assertEqual(self.stored("stream_password.txt"), "stored-secret-1\n")
        self.assertIn("crossfade_s=1\n", self.stored("sound_settings.txt"))

        self.open("settings.php")
        self.type_into([("stream_port", str(elsewhere.getsockname()[1]))])
        self.assertIn("type its source password again", self.text("p.error"))
        self.assertIn("stream_port=8000\n", self.stored("sound_settings.txt"))
        elsewhere.setblocking(False)
        self.assertRaises(BlockingIOError, elsewhere.accept)

        self.type_into([("stream_port", "8100"), ("stream_password", "typed-secret-2")])
        self.wait_for_url("saved=1")
        self.assertEqual(self.stored("stream_password.txt"), "typed-secret-2")
        console = self.station.read("console.txt")
        self.assertNotIn("typed-secret-2", console)
        self.assertIn("stream_password=***", console)

    def test_a_token_ends_with_its_time_and_with_a_renewed_secret(self):
        change = "settings.php?save=Save&target_lufs=-23&crossfade_s=1&stream_host=127.0.0.1&stream_port=8000" \
                 "&stream_mount=/stream&token="
        self.open(change + self.station.token("settings.php", ends=int(time.time()) - 1))
        self.assertEqual(self.text("h1"), "Confirm the change")
        self.open("settings.php")
        token = self.find("#sound input[name=token]").get_attribute("value")
        self.follow("input[name=renew_secret]")
        self.wait_for_url("renewed=1")
        self.open(change + token)
        self.assertEqual(self.text("h1"), "Confirm the change")
        self.assertFalse(os.path.exists(os.path.join(self.station.server_folder, "sound_settings.txt")))

    def test_a_value_with_a_trailing_line_break_is_refused(self):
        self.open("settings.php?save=Save&target_lufs=-23&crossfade_s=1&stream_host=127.0.0.1%0A&stream_port=8000"
                  "&stream_mount=/stream%0A&token=" + self.station.token("settings.php"))
        self.assertEqual([p.text for p in self.find_all("p.error")],
                         ["The server must be a host name or address.",
                          'The mount must begin with "/" and hold only letters, digits, ".", "_", "-" and "/".'])

    def test_a_save_without_the_station_texts_keeps_them(self):
        with open(os.path.join(self.station.server_folder, "sound_settings.txt"), "w") as text:
            text.write("station_name=Radio Ü\ncall_letters=KZVS\n")
        self.open("settings.php?save=Save&target_lufs=-20&crossfade_s=1&stream_host=127.0.0.1&stream_port=8000"
                  "&stream_mount=/stream&station_genre=Jazz&token=" + self.station.token("settings.php"))
        self.wait_for_url("saved=1")
        stored = self.stored("sound_settings.txt")
        for line in ("target_lufs=-20\n", "station_name=Radio Ü\n", "call_letters=KZVS\n", "station_genre=Jazz\n"):
            self.assertIn(line, stored)
