<?php
// Sending songs to the player. send.php?song[]=id... shows the ticked songs
// with their names and offers to send the ones the library has; the send
// itself is playlist.php?item0=id&item1=id..., after which playlist.php
// forwards here with the outcome (sent=1, or player=off or unknown). Songs
// put next from the library come here too (sent=1&next=1, from control.php).

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/token.inc';
require __DIR__ . '/include/tags.inc';

const MAX_SONGS = 500;  // the server reads item0 to item499

$ids = int_list_param('song');
$sent = param('sent') === '1';
$next = param('next') === '1';
$player = param('player');
$unknown = int_param('unknown', 0, MAX_SONGS);

$error = '';
$db = library_open($error);
$songs = $db === false ? array() : songs_by_id($db, $ids);
$tags = $db === false ? array() : tags_by_id($db, $ids);
$missing = 0;
$chosen = array();
foreach ($ids as $id) {
    if (isset($songs[$id]) && count($chosen) < MAX_SONGS) {
        $chosen[] = $id;
    } elseif (!isset($songs[$id])) {
        $missing++;
    }
}
$missing += (int)$unknown;
$send = array();
foreach ($chosen as $i => $id) {
    $send['item' . $i] = $id;
}

page_top($sent ? 'Sent to the player' : 'Send to the player');
if ($error !== ''): ?>
<p class="error"><?php echo h($error); ?></p>
<?php endif; ?>
<?php if ($sent): ?>
<p id="outcome" class="done">Sent <?php echo count($chosen); ?> song<?php echo count($chosen) === 1 ? '' : 's'; ?> to the player<?php
    echo $next ? ' to play next' : ''; ?>, in this order:</p>
<?php elseif ($player === 'off'): ?>
<p id="outcome" class="error">The player is not running: nothing was sent.</p>
<?php elseif ($player === 'unknown'): ?>
<p id="outcome" class="error">Sent to the player if it is running: the coming hour has no playlist, so the
page cannot tell whether the player took the songs.</p>
<?php elseif (!$chosen): ?>
<p id="outcome" class="note">No song was ticked.</p>
<?php else: ?>
<p>Send these songs to the player, in this order?</p>
<?php endif; ?>
<?php if ($missing > 0): ?>
<p class="error" id="missing"><?php echo $missing; ?> of the chosen songs are not in the library and
<?php echo $sent ? 'were' : 'are'; ?> not sent.</p>
<?php endif; ?>
<?php
// The player skips a song whose file it cannot find; say so now.
$gone = array_values(array_filter($chosen, function ($id) use ($songs) {
    return !is_file(rtrim($songs[$id]['song_name'], ' '));
}));
if ($gone): ?>
<p class="error" id="not-found">The player cannot find the file<?php echo count($gone) === 1 ? '' : 's'; ?> of <?php
    echo count($gone); ?> of these songs and <?php echo $sent ? 'skips' : 'would skip'; ?> <?php
    echo count($gone) === 1 ? 'it' : 'them'; ?>.</p>
<?php endif; ?>
<?php if ($chosen): ?>
<ol id="songs">
<?php foreach ($chosen as $id): ?>
<li><?php echo song_html($songs[$id]['song_name'], isset($tags[$id]) ? $tags[$id] : null); ?> <span class="note">(<?php
    echo h($songs[$id]['song_name']); ?>)</span><?php
    echo in_array($id, $gone, true) ? ' <span class="error missing-file">file not found</span>' : ''; ?></li>
<?php endforeach; ?>
</ol>
<?php endif; ?>
<p>
<?php if ($chosen && !$sent): ?>
<a id="send" href="playlist.php?<?php echo h(query_of(with_token('playlist.php', $send))); ?>"><?php echo $player ? 'Send again' : 'Send to the player'; ?></a> |
<?php endif; ?>
<a id="back" href="playlist.php">Back to the playlist</a></p>
<?php page_bottom(); ?>
