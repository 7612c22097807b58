"""The PHP settings setup-station makes, as the server's php-cgi reads them."""

import os
import socket

from station import StationTest

REPORT = """<?php
echo 'vars=', ini_get('max_input_vars'), ' fields=', count($_POST['file']), ' zone=', date_default_timezone_get(), "\\n";
echo $undefined_variable;
echo "end\\n";
"""


class SettingsTest(StationTest):
    tz = "America/St_Johns"
    own_pages = {"report.php": REPORT}

    def get(self, target):
        with socket.create_connection(("127.0.0.1", 8080)) as connection:
            connection.sendall(("GET " + target + " HTTP/1.0\r\n\r\n").encode())
            reply = b""
            while chunk := connection.recv(65536):
                reply += chunk
        return reply.decode()

    def test_settings_hold_every_field_log_errors_and_keep_the_zone(self):
        folder = self.station.make_songs("Many", ["%05d.mp3" % i for i in range(2500)])
        reply = self.get("/report.php?dir=" + folder)
        self.assertTrue(reply.startswith("HTTP/1.0 200 OK\nServer: ZentavioInternetTV\nCache-Control: no-cache\n"
                                         "Content-type: text/html; charset=UTF-8\r\n\r\n"), reply[:300])
        self.assertTrue(reply.endswith("vars=8388608 fields=2500 zone=America/St_Johns\nend\n"), reply[-300:])
        log = self.station.php_errors()
        self.assertIn("Undefined variable $undefined_variable", log)
        self.assertIn(os.path.join(self.station.folder, "server", "www", "report.php"), log)
        open(os.path.join(self.station.folder, "log", "php-errors.log"), "w").close()
