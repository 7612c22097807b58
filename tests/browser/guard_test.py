"""What a page on another site, or a connection Chromium keeps idle, can do
to the station: nothing, and not stall it."""

import functools
import http.server
import json
import os
import socket
import tempfile
import threading
import time

from station import StationTest, wait_for

ATTACKER_PORT = 9000


class AttackTest(StationTest):
    def serve_attacker(self, page):
        """Serves `page` as http://127.0.0.1:9000/attack.html, another origin."""
        folder = tempfile.mkdtemp(prefix="zv-attacker-")
        with open(os.path.join(folder, "attack.html"), "w") as out:
            out.write(page)
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass
        handler = functools.partial(Quiet, directory=folder)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", ATTACKER_PORT), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        self.browser.get("http://127.0.0.1:%d/attack.html" % ATTACKER_PORT)

    def refusals(self):
        return self.station.read("console.txt").count("\n---> Refused connection ")

    def test_a_cross_origin_post_and_a_plain_text_form_change_nothing(self):
        self.station.start_player_window()
        folder = self.station.make_songs("Stolen", ["One.mp3"])
        hidden = "GET /library.php?add_dir=%s&item0=1 HTTP/1.0\r\n\r\n" % folder
        # The fetch's body of 150 KB or more arrives in several reads, the
        # last one all body; the form's field name begins a request of its own.
        self.serve_attacker("""<html><body>
<form id="form" method="post" enctype="text/plain" action="http://127.0.0.1:8080/library.php">
<input type="hidden" name=%s value="x"></form>
<script>
fetch("http://127.0.0.1:8080/playlist.php", {method: "POST", mode: "no-cors", body: %s.repeat(4000)})
  .finally(() => document.getElementById("form").submit());
</script></body></html>""" % (json.dumps("x\r\n\r\n" + hidden), json.dumps(hidden)))
        wait_for(lambda: self.refusals() >= 2, "both requests to be refused")
        time.sleep(1)  # anything they could still cause
        self.assertEqual(self.station.sql("select count(*) from song"), [(0,)])
        self.assertEqual(self.station.player_messages(), [])


class IdleConnectionTest(StationTest):
    def test_a_page_opened_after_idling_shows_the_page(self):
        self.open("schedule.php")
        self.find("body")
        time.sleep(15)  # Chromium's spare connection has idled past the first wait
        self.open("library.php")
        self.find("#import-form")
        self.assertNotIn("HTTP ERROR 404", self.browser.page_source)

    def test_a_request_is_answered_while_an_idle_connection_is_open(self):
        idle = socket.create_connection(("127.0.0.1", 8080))
        self.addCleanup(idle.close)
        wait_for(lambda: "New socket" in self.station.read("console.txt"), "the idle connection to be accepted")
        start = time.monotonic()
        self.open("library.php")
        self.find("#import-form")
        print("\nanswered in %.3f s beside an idle connection" % (time.monotonic() - start))
        idle.setblocking(False)
        try:
            self.assertEqual(idle.recv(1, socket.MSG_PEEK), b"x", "the idle connection got something")
        except BlockingIOError:
            pass  # still open, nothing sent to it: as it should be
