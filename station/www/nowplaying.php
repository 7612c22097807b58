<?php
// What is on air, for programs (station widgets, apps, the front page): JSON
// with the station, its listeners now, the song on air, the next one and the
// last ten played. docs/nowplaying.md describes the fields.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/onair.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/tags.inc';
require __DIR__ . '/include/sound.inc';
require __DIR__ . '/include/reports.inc';

const HISTORY_PLAYS = 10;

$sound = sound_settings();
$state = onair_state();
$running = player_running($state);
$db = library_open($ignored);

$mounts = array();
$counts = $sound['stream_on'] === '1' ? mount_listeners($sound) : null;
foreach (array('.mp3' => 'stream_mp3', '.opus' => 'stream_opus') as $kind => $setting) {
    if ($sound['stream_on'] === '1' && $sound[$setting] === '1') {
        $mounts[] = array('name' => $sound['stream_mount'] . $kind,
            'url' => 'http://' . $sound['stream_host'] . ':' . $sound['stream_port'] . $sound['stream_mount'] . $kind,
            'format' => ltrim($kind, '.'), 'listeners' => array('current' => $counts === null ? 0 : $counts[$kind]));
    }
}
$listeners = 0;
foreach ($mounts as $mount) {
    $listeners += $mount['listeners']['current'];
}

// A song of onair.json with its tags.
function onair_song_json($song)
{
    $tags = onair_song_tags($song);
    return song_json($tags !== null ? $tags['song_id'] : (isset($song['id']) ? $song['id'] : 0),
        isset($song['path']) ? $song['path'] : '', $tags);
}

// The song's length in seconds: what the player measured, else its tags'.
function song_seconds($song)
{
    if (isset($song['length']) && is_numeric($song['length'])) {
        return (int)round($song['length']);
    }
    $tags = onair_song_tags($song);
    return $tags !== null ? (int)round($tags['length_ms'] / 1000) : 0;
}

$now_playing = null;
$next = null;
if ($running && $state !== null && empty($state['stopped'])) {
    $now = isset($state['now']) && is_array($state['now']) ? $state['now'] : null;
    if ($now !== null) {
        $duration = song_seconds($now);
        // The player publishes every 2 s; the song went on meanwhile.
        $elapsed = (int)floor((float)$now['position'] + max(0, time() - (int)$state['updated']));
        $elapsed = $duration > 0 ? min($elapsed, $duration) : $elapsed;
        $now_playing = array('sh_id' => isset($now['key']) ? (int)$now['key'] : 0, 'played_at' => (int)$now['started'],
            'duration' => $duration, 'elapsed' => $elapsed, 'remaining' => max(0, $duration - $elapsed),
            'is_request' => isset($now['source']) && $now['source'] === 'handoff', 'song' => onair_song_json($now));
    }
    $queue = isset($state['queue']) ? (array)$state['queue'] : array();
    if ($queue && is_array($queue[0])) {
        $next = array('duration' => song_seconds($queue[0]),
            'is_request' => isset($queue[0]['source']) && $queue[0]['source'] === 'handoff',
            'song' => onair_song_json($queue[0]));
    }
}

$history = array();
if ($db !== false) {
    $plays = library_rows($db, 'select r.started, r.ended, ' . RECORD_SONG_ID . ' as song_id, r.song_name, r.dir_name, r.source, d.artist, '
        . 'd.title, d.album, d.isrc, d.label, d.composer from play_record r left join play_detail d on d.play_key = r.play_key '
        . "where r.outcome in ('played', 'skipped', 'stopped') order by r.started desc, r.play_id desc limit " . HISTORY_PLAYS);
    $tags = $plays ? tags_by_id($db, array_column($plays, 'song_id')) : array();
    foreach ($plays ?: array() as $play) {
        $id = (int)$play['song_id'];
        // As the song was named when it played; its tags now where it has no such record.
        $named = $play['title'] !== null && $play['title'] !== '' ? $play : (isset($tags[$id]) ? $tags[$id] : null);
        $history[] = array('played_at' => (int)$play['started'], 'duration' => max(0, (int)$play['ended'] - (int)$play['started']),
            'playlist' => (string)$play['dir_name'], 'is_request' => $play['source'] === 'sent',
            'song' => song_json($id, $play['dir_name'] . $play['song_name'], $named));
    }
    odbc_close($db);
}

$answer = array(
    'station' => array('name' => station_name($sound), 'description' => $sound['station_description'],
        'genre' => $sound['station_genre'], 'url' => $sound['station_url'], 'call_letters' => $sound['call_letters'],
        'listen_url' => $mounts ? $mounts[0]['url'] : '', 'mounts' => $mounts),
    'listeners' => array('total' => $listeners, 'current' => $listeners),
    'is_online' => $running,
    'now_playing' => $now_playing,
    'playing_next' => $next,
    'song_history' => $history,
);
header('Content-Type: application/json');
echo json_encode($answer, JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_SLASHES | JSON_INVALID_UTF8_SUBSTITUTE), "\n";
