<?php
// The music library: its folders with their marks and colours, and a form to
// import a folder. The import itself is done by the server before this page
// runs (library.php?add_dir=...&is_ads=..&is_jingle=..); this page only reads.

function h($text)
{
    return htmlspecialchars((string)$text, ENT_QUOTES, 'UTF-8');
}

// Colours are stored with red in the low byte.
function css_colour($value)
{
    $value = (int)$value;
    return sprintf('#%02X%02X%02X', $value & 0xFF, ($value >> 8) & 0xFF, ($value >> 16) & 0xFF);
}

// The server names its library file in ODBC_CONNECT (DBQ). The same file is
// named as Database too, for drivers that take the file from there, since
// this page does not run in the server's folder.
function library_connection_string()
{
    $connect = (string)getenv('ODBC_CONNECT');
    if ($connect === '') {
        return '';
    }
    if (preg_match('/(?:^|;)DBQ=([^;]*)/i', $connect, $match)) {
        $connect = rtrim($connect, ';') . ';Database=' . $match[1] . ';';
    }
    return $connect;
}

// The folder as the server stores it: one separator of this platform between
// names and one at the end.
function stored_folder_name($folder)
{
    $folder = preg_replace('#[/\\\\]+#', DIRECTORY_SEPARATOR, $folder);
    return rtrim($folder, DIRECTORY_SEPARATOR) . DIRECTORY_SEPARATOR;
}

$added = isset($_GET['add_dir']) ? $_GET['add_dir'] : '';
$is_ads = isset($_GET['is_ads']) && substr($_GET['is_ads'], 0, 1) === '1';
$is_jingle = isset($_GET['is_jingle']) && substr($_GET['is_jingle'], 0, 1) === '1';

$folders = array();
$error = '';
$connect = library_connection_string();
$db = $connect === '' ? false : @odbc_connect($connect, '', '');
if ($db === false) {
    $error = $connect === '' ? 'The server did not name the library.' : odbc_errormsg();
} else {
    $result = @odbc_exec($db,
        'select d.song_dir_id, d.dir_order, d.is_playlist, d.is_ads, d.is_jingle, d.dir_name, d.play_count, '
        . 'd.dir_color, d.dir_bgcolor, (select count(*) from song s where s.song_dir_id = d.song_dir_id) as songs '
        . 'from song_dir d order by d.dir_order');
    if ($result === false) {
        $error = odbc_errormsg($db);
    } else {
        while ($row = odbc_fetch_array($result)) {
            $folders[] = $row;
        }
        odbc_free_result($result);
    }
    odbc_close($db);
}

function marks($folder)
{
    $marks = array();
    if ((int)$folder['is_playlist'] === 1) {
        $marks[] = 'music';
    }
    if ((int)$folder['is_ads'] === 1) {
        $marks[] = 'advertising';
    }
    if ((int)$folder['is_jingle'] === 1) {
        $marks[] = 'jingles';
    }
    return implode(', ', $marks);
}
?>
<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Music library</title>
<style>
body { font-family: sans-serif; margin: 1em 2em; }
table { border-collapse: collapse; }
th, td { padding: 3px 12px 3px 4px; text-align: left; }
th { border-bottom: 1px solid #999; }
.number { text-align: right; }
.error { color: #B00; }
.note { color: #666; }
</style>
</head>
<body>
<p><a href="index.php">Station</a> | <a href="browse.php">Browse folders</a></p>
<h1>Music library</h1>
<?php if ($added !== '' && $error === ''):
    $found = false;
    foreach ($folders as $folder) {
        $found = $found || $folder['dir_name'] === stored_folder_name($added);
    }
    if ($found): ?>
<p id="imported">Imported <?php echo h($added); ?> as <?php
    echo h(implode(' and ', array_filter(array($is_ads ? 'advertising' : '', $is_jingle ? 'jingles' : '')))
        ?: 'music'); ?>.</p>
<?php else: ?>
<p id="imported" class="error">Nothing was imported: <?php echo h($added); ?> holds no .mp3 or .wav files
that the server could read.</p>
<?php endif; endif; ?>
<form method="get" action="library.php">
<p>
<input type="text" name="add_dir" size="60" placeholder="/srv/music/Ads" value="">
<label><input type="checkbox" name="is_ads" value="1"> advertising</label>
<label><input type="checkbox" name="is_jingle" value="1"> jingles</label>
<input type="submit" value="Import">
</p>
<p class="note">The folder and all its sub-folders are searched for .mp3 and .wav files.
Importing a folder again adds its new files and sets its marks anew.</p>
</form>
<?php if ($error !== ''): ?>
<p class="error">The music library cannot be read: <?php echo h($error); ?></p>
<?php elseif (count($folders) === 0): ?>
<p class="note">The library has no folders yet.</p>
<?php else: ?>
<table>
<tr><th class="number">Order</th><th>Folder</th><th>Marks</th><th class="number">Songs</th>
<th class="number">Play count</th><th>Colours</th></tr>
<?php foreach ($folders as $folder): ?>
<tr class="folder" style="color: <?php echo css_colour($folder['dir_color']); ?>; background: <?php
    echo css_colour($folder['dir_bgcolor']); ?>">
<td class="number"><?php echo h($folder['dir_order']); ?></td>
<td class="name"><?php echo h($folder['dir_name']); ?></td>
<td class="marks"><?php echo h(marks($folder)); ?></td>
<td class="number"><?php echo h($folder['songs']); ?></td>
<td class="number"><?php echo h($folder['play_count']); ?></td>
<td><?php echo css_colour($folder['dir_color']) . ' on ' . css_colour($folder['dir_bgcolor']); ?></td>
</tr>
<?php endforeach; ?>
</table>
<?php endif; ?>
</body>
</html>
