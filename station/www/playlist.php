<?php
// The coming hour: the server hands this page 16 positions of candidate songs
// (file[p][], fileid[p][]) with each position's folder colours (dir_color[p],
// dir_bgcolor[p]). Ticked songs go to send.php, which shows them and sends
// them with playlist.php?item0=id&item1=id...: the server hands the songs to
// the player before this page runs, and this page then forwards to the
// outcome on send.php, so that reloading never sends again. Any other query
// would make the server send the player an empty list, so no link here has one.
// The send link carries the token; the outcome is shown whether or not a
// hand-off had it, for the server has made it before this page runs.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/schedule.inc';
require __DIR__ . '/include/tags.inc';

// The server writes the colours as "#rrggbb"; anything else is not used.
function colour($value)
{
    return is_string($value) && preg_match('/^#[0-9A-Fa-f]{6}$/', $value) ? $value : '';
}

function posted($field)
{
    return isset($_POST[$field]) && is_array($_POST[$field]) ? $_POST[$field] : array();
}

$names = posted('file');
$ids = posted('fileid');
$colours = posted('dir_color');
$backgrounds = posted('dir_bgcolor');

$error = '';
$db = library_open($error);

// The songs of a hand-off, as the server read them.
$items = array();
for ($i = 0; $i < 500; $i++) {
    $value = server_param('item' . $i);
    if ($value !== null) {
        $items[] = $value;
    }
}
if ($items) {
    $known = array();
    foreach ($items as $value) {
        if (preg_match('/^[0-9]{1,9}$/', $value)) {
            $known[] = (int)$value;
        }
    }
    $songs = $db === false ? array() : songs_by_id($db, $known);
    // With the player running the server builds no playlist; an empty one is
    // told apart by the schedule.
    $handed_off = count($names) === 0 && $db !== false && coming_playlist_has_songs($db);
    // In the order sent, not the library's.
    $outcome = array('song' => array_values(array_filter($known, function ($id) use ($songs) {
        return isset($songs[$id]);
    })));
    if (count($names) > 0) {
        $outcome['player'] = 'off';
    } elseif (!$handed_off) {
        $outcome['player'] = 'unknown';
    } else {
        $outcome['sent'] = 1;
    }
    if (count($songs) < count($items)) {
        $outcome['unknown'] = count($items) - count($songs);
    }
    forward_to('send.php?' . query_of($outcome));
}

// Positions in order, each with its songs as id => name.
$positions = array_fill(0, 16, array());
foreach ($names as $p => $list) {
    $list_ids = isset($ids[$p]) && is_array($ids[$p]) ? array_values($ids[$p]) : array();
    if (!is_array($list) || !isset($positions[$p])) {
        continue;
    }
    foreach (array_values($list) as $i => $name) {
        if (isset($list_ids[$i]) && ctype_digit((string)$list_ids[$i])) {
            $positions[(int)$p][(int)$list_ids[$i]] = (string)$name;
        }
    }
}

// Each position's folder: the folder of its first song.
$first_songs = array();
foreach ($positions as $p => $songs) {
    if ($songs) {
        $first_songs[$p] = array_keys($songs)[0];
    }
}
$folder_of = array();
$entry = null;
$tags = array();
if ($db !== false) {
    $tags = tags_by_id($db, $positions ? array_merge(...array_map('array_keys', array_values($positions))) : array());
    $found = songs_by_id($db, array_values($first_songs));
    foreach ($first_songs as $p => $id) {
        $folder_of[$p] = isset($found[$id]) ? (string)$found[$id]['dir_name'] : '';
    }
    $entry = coming_entry($db);
}
$hour = sprintf('%02d:00', coming_hour());

page_top('Playlist of the coming hour', '<style>
.position { margin: 0 0 10px 0; padding: 4px 8px; border: 1px solid #999; }
.position h2 { font-size: 1em; margin: 0 0 3px 0; }
.position .source { margin: 0 0 3px 0; font-size: 90%; }
.position ul { list-style: none; margin: 0; padding: 0; columns: 2; }
</style>
');
?>
<p id="hour">For <?php echo h($hour); ?> to <?php echo h(sprintf('%02d:00', (coming_hour() + 1) % 24)); ?>
<?php if ($entry !== null): ?>, from the schedule entry for <?php echo h(hour_text($entry['play_time'])); ?> on
<?php echo h(days_text($entry['week_days'])); ?> (<a href="schedule.php">schedule</a>)<?php endif; ?>.</p>
<p class="note" id="hour-note">This is the coming hour's playlist. The player plays the schedule of the hour it
is now, and this hour's songs once that hour has come.</p>
<?php if ($error !== ''): ?>
<p class="error"><?php echo h($error); ?></p>
<?php endif; ?>
<?php if (count($names) === 0): ?>
<p class="note">No songs for the coming hour: the schedule has no enabled entry with folders for it,
or its folders have no songs.</p>
<?php else: ?>
<form method="get" action="send.php">
<?php foreach ($positions as $p => $songs): ?>
<?php
    $style = '';
    if (colour(isset($colours[$p]) ? $colours[$p] : '') !== '') {
        $style .= 'color: ' . colour($colours[$p]) . ';';
    }
    if (colour(isset($backgrounds[$p]) ? $backgrounds[$p] : '') !== '') {
        $style .= ' background: ' . colour($backgrounds[$p]) . ';';
    }
?>
<div class="position" id="position<?php echo (int)$p; ?>"<?php echo $style === '' ? '' : ' style="' . h(trim($style)) . '"'; ?>>
<h2>Position <?php echo (int)$p + 1; ?></h2>
<?php if (count($songs) === 0): ?>
<p class="note">No songs.</p>
<?php else: ?>
<p class="source">From <span class="folder"><?php echo h(isset($folder_of[$p]) ? $folder_of[$p] : ''); ?></span>
for <?php echo h($hour); ?></p>
<ul>
<?php foreach ($songs as $id => $name): ?>
<li><label><input type="checkbox" name="song[]" value="<?php echo (int)$id; ?>"> <?php
    echo song_html($name, isset($tags[$id]) ? $tags[$id] : null, $name); ?></label></li>
<?php endforeach; ?>
</ul>
<?php endif; ?>
</div>
<?php endforeach; ?>
<p><input type="submit" id="choose" value="Choose the ticked songs"></p>
</form>
<?php endif; ?>
<?php page_bottom(); ?>
