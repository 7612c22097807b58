"""The front page and the on-air page."""

import json
import os
import time

from selenium.webdriver.support.ui import WebDriverWait

from station import StationTest


class IndexTest(StationTest):
    def publish(self, updated):
        state = {"updated": updated, "device": "default",
                 "now": {"id": 1, "path": "/m/Morning Light.wav", "name": "Morning Light.wav", "source": "schedule",
                         "started": updated - 65, "position": 65.0, "length": 180.0},
                 "queue": [{"id": 2, "path": "/m/Iron Sky.mp3", "name": "Iron Sky.mp3", "source": "handoff"}],
                 "history": [{"id": 3, "path": "/m/Weather.mp3", "name": "Weather.mp3", "played": updated - 70}]}
        path = os.path.join(self.station.server_folder, "onair.json")
        with open(path + ".partial", "w") as file:
            json.dump(state, file)
        os.rename(path + ".partial", path)

    def test_the_front_page_shows_the_time_until_the_player_publishes_what_is_on_air(self):
        self.open("index.php")
        first = self.text("#time")
        self.find("a[href='schedule.php']")
        self.assertEqual(self.find_all("#onair"), [])
        WebDriverWait(self.browser, 20).until(lambda browser: self.text("#time") != first)  # the clock goes on

        self.publish(int(time.time()))
        self.open("index.php")
        self.assertIn("Morning Light.wav 1:05 of 3:00", self.text("#onair #now"))
        self.assertIn("Iron Sky.mp3", self.text("#onair"))
        self.station.sql("insert into play_record (play_key, started, ended, song_name, dir_name, source, outcome) "
                         "values ('p1', ?, ?, 'Weather.mp3', '/m/', 'scheduled', 'played')", int(time.time()) - 100,
                         int(time.time()) - 70)
        self.open("onair.php")
        self.assertIn("Weather.mp3", self.text("#played"))
        self.publish(int(time.time()) - 60)
        self.open("onair.php")
        self.assertIn("The player is not running", self.text("#player-state"))

    def test_the_on_air_page_follows_the_player_without_reloading(self):
        self.open("onair.php")
        self.assertIn("has not published", self.text("#live"))
        self.find("#refresh")  # without script, a link does what the update does
        self.browser.execute_script("window.stillTheSamePage = true")
        self.publish(int(time.time()))
        WebDriverWait(self.browser, 20).until(lambda browser: "Morning Light.wav" in self.text("#live"))
        self.assertTrue(self.browser.execute_script("return window.stillTheSamePage === true"))
