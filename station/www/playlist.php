<?php
// The coming hour: the server hands this page 16 positions of candidate songs
// (file[p][], fileid[p][]) with each position's folder colours (dir_color[p],
// dir_bgcolor[p]). The operator ticks songs (playlist.php?pick[]=id...), checks
// the choice and sends it: playlist.php?item0=id&item1=id... makes the server
// hand the songs to the player before this page runs.

function h($text)
{
    return htmlspecialchars((string)$text, ENT_QUOTES, 'UTF-8');
}

// The server writes the colours as "#rrggbb"; anything else is not used.
function colour($value)
{
    return is_string($value) && preg_match('/^#[0-9A-Fa-f]{6}$/', $value) ? $value : '';
}

$names = isset($_POST['file']) && is_array($_POST['file']) ? $_POST['file'] : array();
$ids = isset($_POST['fileid']) && is_array($_POST['fileid']) ? $_POST['fileid'] : array();
$colours = isset($_POST['dir_color']) && is_array($_POST['dir_color']) ? $_POST['dir_color'] : array();
$backgrounds = isset($_POST['dir_bgcolor']) && is_array($_POST['dir_bgcolor']) ? $_POST['dir_bgcolor'] : array();

// Positions in order, each with its songs as id => name.
$positions = array();
foreach (range(0, 15) as $p) {
    $positions[$p] = array();
}
foreach ($names as $p => $list) {
    $list_ids = isset($ids[$p]) && is_array($ids[$p]) ? array_values($ids[$p]) : array();
    if (!is_array($list)) {
        continue;
    }
    foreach (array_values($list) as $i => $name) {
        if (isset($list_ids[$i]) && ctype_digit((string)$list_ids[$i])) {
            $positions[(int)$p][(int)$list_ids[$i]] = (string)$name;
        }
    }
}
ksort($positions);

function song_name($positions, $id)
{
    foreach ($positions as $songs) {
        if (isset($songs[$id])) {
            return $songs[$id];
        }
    }
    return 'song ' . $id;
}

// The songs that were sent (item0, item1, ...), and the songs ticked for sending.
$sent = array();
for ($i = 0; $i < 500 && isset($_GET['item' . $i]); $i++) {
    $sent[] = (string)$_GET['item' . $i];
}
$picked = array();
if (isset($_GET['pick']) && is_array($_GET['pick'])) {
    foreach ($_GET['pick'] as $id) {
        if (ctype_digit((string)$id) && count($picked) < 500) {
            $picked[] = (int)$id;
        }
    }
}
$send_query = array();
foreach ($picked as $i => $id) {
    $send_query['item' . $i] = $id;
}
?>
<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Playlist of the coming hour</title>
<style>
body { font-family: sans-serif; margin: 1em 2em; }
.position { margin: 0 0 10px 0; padding: 4px 8px; border: 1px solid #999; }
.position h2 { font-size: 1em; margin: 0 0 3px 0; }
.position ul { list-style: none; margin: 0; padding: 0; columns: 2; }
.error { color: #B00; }
.note { color: #666; }
</style>
</head>
<body>
<p><a href="index.php">Station</a> | <a href="library.php">Music library</a></p>
<h1>Playlist of the coming hour</h1>
<?php if (count($sent) > 0): ?>
<?php if (count($names) > 0): ?>
<p id="not-sent" class="error">The player is not running: nothing was sent.</p>
<?php else: ?>
<p id="sent">Sent <?php echo count($sent); ?> song<?php echo count($sent) === 1 ? '' : 's'; ?> to the player.</p>
<?php endif; ?>
<?php elseif (count($picked) > 0): ?>
<div id="picked">
<p>Send these songs to the player, in this order?</p>
<ol>
<?php foreach ($picked as $id): ?>
<li><?php echo h(song_name($positions, $id)); ?></li>
<?php endforeach; ?>
</ol>
<p><a id="send" href="playlist.php?<?php echo h(http_build_query($send_query)); ?>">Send to the player</a>
| <a href="playlist.php">Start again</a></p>
</div>
<?php endif; ?>
<?php if (count($names) === 0 && count($sent) === 0): ?>
<p class="note">No songs for the coming hour: the schedule has no enabled entry with folders for it,
or its folders have no songs.</p>
<?php elseif (count($names) > 0): ?>
<form method="get" action="playlist.php">
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
<ul>
<?php foreach ($songs as $id => $name): ?>
<li><label><input type="checkbox" name="pick[]" value="<?php echo (int)$id; ?>"> <?php echo h($name); ?></label></li>
<?php endforeach; ?>
</ul>
<?php endif; ?>
</div>
<?php endforeach; ?>
<p><input type="submit" value="Choose the ticked songs"></p>
</form>
<?php endif; ?>
</body>
</html>
