#!/bin/sh
# Runs the station in the foreground where systemd does not (a container):
# Icecast, the player and the web server, each as the station's user. Ctrl-C
# stops them all.
set -eu
station=/var/lib/zentavio
user=zentavio
programs=/usr/lib/zentavio
if [ "$(id -u)" != 0 ]; then
  echo "zentavio-station: run as root (sudo zentavio-station); the station itself runs as $user" >&2
  exit 1
fi
install -d -m 0700 -o "$user" -g "$user" /run/zentavio /run/zentavio/windows
install -d -m 0750 -o "$user" -g "$user" /var/log/zentavio
as_station() {
  setpriv --reuid="$user" --regid="$user" --init-groups --reset-env -- \
    env ZV_WINDOW_DIR=/run/zentavio/windows XDG_CONFIG_HOME="$station/config" "$@"
}
cd "$station/server"
umask 077

# The processes started here are held by their pids, never read from a file.
as_station /usr/bin/icecast2 -c /etc/zentavio/icecast.xml >/dev/null 2>&1 &
icecast=$!
(
  trap 'kill "$child" 2>/dev/null; exit 0' TERM
  while :; do
    as_station sh -c 'exec "$@" >>player.log 2>&1' player "$programs/station-player" &
    child=$!
    wait "$child" || true
    sleep 2
  done
) &
player=$!
as_station "$programs/zv-php-server" &
server=$!
# The shell runs its traps while it waits, so Ctrl-C or TERM stops all three.
trap 'kill "$server" "$player" "$icecast" 2>/dev/null; wait; exit 0' INT TERM
echo "zentavio-station: open http://127.0.0.1:8080/index.php (the stream: http://127.0.0.1:8010/stream.mp3)"
status=0
wait "$server" || status=$?
kill "$player" "$icecast" 2>/dev/null
wait
exit "$status"
