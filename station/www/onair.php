<?php
// What is on air, as the player publishes it in onair.json, with the buttons
// that steer it, and the last plays from the play record; what is on air
// follows every 5 s without the page reloading (a Refresh link without script).

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/onair.inc';
require __DIR__ . '/include/token.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/tags.inc';

const PLAYED_SHOWN = 50;

$control = param('control');
$control_texts = array('off' => array('The player is not running: nothing was changed.', true),
    'unknown' => array('That is not something the player can do.', true),
    'unreachable' => array('The player names no window the pages can reach (on Windows): nothing was changed.', true),
    'skip' => array('Skipped the song on air.', false), 'stop' => array('Stopped the station.', false),
    'resume' => array('The station plays again.', false), 'remove' => array('Removed the song.', false),
    'up' => array('Moved the song up.', false), 'down' => array('Moved the song down.', false),
    'next' => array('The song plays next.', false), 'seen' => array('Noted as seen.', false));

$error = '';
$db = library_open($error);
$played = false;
if ($db !== false) {
    // Each play as its song was named when it played; a library without play_detail has only the file names.
    $played = library_rows($db, 'select r.started, r.ended, r.song_name, r.dir_name, r.source, r.outcome, d.artist, d.title '
        . 'from play_record r left join play_detail d on d.play_key = r.play_key order by r.started desc, r.play_id desc '
        . 'limit ' . PLAYED_SHOWN);
    if ($played === false) {
        $played = library_rows($db, 'select started, ended, song_name, dir_name, source, outcome from play_record '
            . 'order by started desc, play_id desc limit ' . PLAYED_SHOWN);
    }
}

$state = onair_state();
page_top('On air');
if (isset($control_texts[$control])): ?>
<p class="<?php echo $control_texts[$control][1] ? 'error' : 'done'; ?>" id="control-outcome"><?php
    echo h($control_texts[$control][0]); ?></p>
<?php endif; ?>
<div id="live">
<?php if ($state === null): ?>
<p class="note" id="player-state">The player has not published what it plays yet.</p>
<?php else:
    echo onair_html($state, true), "\n";
endif; ?>
<h2>Played</h2>
<?php if ($played === false): ?>
<p class="error">The play record cannot be read<?php echo $error !== '' ? ': ' . h($error) : ''; ?>.</p>
<?php elseif (!$played): ?>
<p class="note">None.</p>
<?php else: ?>
<table id="played">
<tr><th>Started</th><th>Ended</th><th>Song</th><th>Outcome</th></tr>
<?php foreach ($played as $play): ?>
<tr><td><?php echo h(date('Y-m-d H:i:s', (int)$play['started'])); ?></td>
<td><?php echo h(date('H:i:s', (int)$play['ended'])); ?></td>
<td><?php echo song_html($play['song_name'], isset($play['title']) && $play['title'] !== '' ? $play : null,
    $play['song_name']); ?> <span class="note">(<?php echo h($play['source']); ?>)</span></td>
<td><?php echo h($play['outcome']); ?></td></tr>
<?php endforeach; ?>
</table>
<p><a href="history.php">The whole history</a></p>
<?php endif; ?>
</div>
<p><a href="onair.php" id="refresh">Refresh</a></p>
<?php echo live_parts_script('live', 5);
page_bottom();
