<?php
// Steering the player: control.php?action=...&token=... sends one control
// message to the player's window (docs/player-control.md) and forwards back
// to the page it came from with the outcome.
//
//   skip, stop, resume                  the song on air, the station
//   remove, up, down, next  &key=K      a waiting song, by the key onair.json gives it
//   put_next, put_end  &song[]=id...    library songs, in the order given
//   seen  &fault=KEY                    the operator has seen a fault

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/onair.inc';
require __DIR__ . '/include/tags.inc';
require __DIR__ . '/include/token.inc';

require_token();

$messages = array('skip' => 2001, 'stop' => 2002, 'resume' => 2003, 'remove' => 2004, 'up' => 2005, 'down' => 2006,
    'next' => 2007, 'put_next' => 2008, 'put_end' => 2009, 'seen' => 2010);
$action = param('action');
$back = param('back');
$back = in_array($back, array('index.php', 'library.php', 'playlist.php', 'schedule.php', 'browse.php', 'set_guid.php',
    'history.php', 'send.php'), true) ? $back : 'onair.php';
$state = onair_state();
if (!isset($messages[$action])) {
    forward_to($back . '?' . query_of(array('control' => 'unknown')));
}

$data = '';
$outcome = array();
if ($action === 'seen') {
    $data = (string)param('fault');
} elseif ($action === 'put_next' || $action === 'put_end') {
    $ids = int_list_param('song');
    $error = '';
    $db = library_open($error);
    $songs = $db === false ? array() : songs_by_id($db, $ids);
    $paths = array();
    foreach ($ids as $id) {
        if (isset($songs[$id])) {
            $paths[] = $songs[$id]['song_name'];
        }
    }
    $data = implode("\n", $paths);
    if (!$paths) {
        forward_to('library.php?' . query_of(array('control' => 'none')));
    }
    // Songs put next show on the send outcome page, as songs sent do.
    $outcome = array('song' => array_values(array_filter($ids, function ($id) use ($songs) {
        return isset($songs[$id]);
    })), 'next' => $action === 'put_next' ? 1 : 0);
    $back = 'send.php';
} elseif (!in_array($action, array('skip', 'stop', 'resume'), true)) {
    $key = int_param('key', 1, 999999999);
    $data = $key === null ? '' : (string)$key;
}
$taken = player_running($state) && player_control($state, $messages[$action], $data);
if ($back === 'send.php') {
    $outcome[$taken ? 'sent' : 'player'] = $taken ? 1 : 'off';
} else {
    // Without the window's path (Windows) a page cannot reach the player.
    $outcome['control'] = $taken ? $action
        : ($state !== null && isset($state['window']) && $state['window'] === '' ? 'unreachable' : 'off');
}
forward_to($back . '?' . query_of($outcome));
