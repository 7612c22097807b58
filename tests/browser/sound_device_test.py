"""Choosing the player's sound device."""

import os

from station import StationTest


class SoundDeviceTest(StationTest):
    alsa_config = """pcm.!default { type null hint { show on description "Station default" } }
pcm.studio { type null hint { show on description "Studio out|IOIDOutput" } }
"""

    def test_the_chosen_device_and_the_system_default_are_stored_for_the_player(self):
        choice = os.path.join(self.station.server_folder, "sound_device.txt")
        self.open("set_guid.php")
        self.find("#devices a[href*='choose=81ecaf3c']").click()
        self.wait_for_url("chosen=yes")
        self.assertEqual(self.text("#message"), "Chosen: Studio out. The player plays on it from its next song.")
        with open(choice) as stored:
            self.assertEqual(stored.read(), "{3CAFEC81-EB4F-5B8A-842B-13BD8ACDDE90}\nstudio\nStudio out\n")
        self.find("#devices a[href*='choose=default']").click()
        self.wait_for_url("desc=System")
        with open(choice) as stored:
            self.assertEqual(stored.read(), "\ndefault\nSystem default\n")
        self.assertIn("System default", self.text("#devices tr.current"))
