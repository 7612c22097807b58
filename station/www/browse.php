<?php
// Folder browser. Before this page runs, the server lists the folder named by
// "dir" into $_POST['dir'] (its sub-folders) and $_POST['file'] (its files).
// Folders whose name starts with "." or has "." as second character are not
// listed. The server decodes "%20" but keeps "+" as it is, so every link here
// encodes spaces as "%20".

function h($text)
{
    return htmlspecialchars($text, ENT_QUOTES, 'UTF-8');
}

function names($field)
{
    $names = isset($_POST[$field]) && is_array($_POST[$field]) ? $_POST[$field] : array();
    natcasesort($names);
    return $names;
}

function link_to($page, $query, $label)
{
    return '<a href="' . $page . '?' . h(http_build_query($query, '', '&', PHP_QUERY_RFC3986)) . '">' . h($label) . '</a>';
}

function import_link($folder, $is_ads, $is_jingle, $label)
{
    return link_to('library.php', array('add_dir' => $folder, 'is_ads' => $is_ads, 'is_jingle' => $is_jingle), $label);
}

$dir = isset($_GET['dir']) ? trim($_GET['dir']) : '';
// A browser sends a typed space as "+": ask again with "%20", so the server
// lists the folder that was typed.
$retype = isset($_SERVER['QUERY_STRING']) && strpos($_SERVER['QUERY_STRING'], '+') !== false;
// One slash form for links; the server accepts either separator.
$folder = $dir === '' ? '' : rtrim(str_replace('\\', '/', $dir), '/') . '/';
$folders = names('dir');
$files = names('file');
$parent = '';
if (strpos(rtrim($folder, '/'), '/') !== false) {
    $parent = rtrim(dirname(rtrim($folder, '/')), '/') . '/';
}
?>
<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Browse folders</title>
<?php if ($retype): ?>
<meta http-equiv="refresh" content="0; url=browse.php?dir=<?php echo h(rawurlencode($dir)); ?>">
<?php endif; ?>
<style>
body { font-family: sans-serif; margin: 1em 2em; }
table { border-collapse: collapse; }
td { padding: 2px 12px 2px 0; }
.folder a { font-weight: bold; }
.note { color: #666; }
</style>
</head>
<body>
<p><a href="index.php">Station</a></p>
<h1>Browse folders</h1>
<form method="get" action="browse.php">
<input type="text" name="dir" size="60" value="<?php echo h($folder); ?>">
<input type="submit" value="Open">
</form>
<?php if ($folder === ''): ?>
<p class="note">Type a folder, for example /srv/music or D:\Music, and open it.</p>
<?php else: ?>
<h2><?php echo h($folder); ?></h2>
<p>Import this folder and its sub-folders:
<?php echo import_link($folder, '0', '0', 'as music'); ?> |
<?php echo import_link($folder, '1', '0', 'as advertising'); ?> |
<?php echo import_link($folder, '0', '1', 'as jingles'); ?></p>
<table>
<?php if ($parent !== ''): ?>
<tr class="folder"><td><?php echo link_to('browse.php', array('dir' => $parent), '..'); ?></td></tr>
<?php endif; ?>
<?php foreach ($folders as $name): ?>
<tr class="folder"><td><?php echo link_to('browse.php', array('dir' => $folder . $name), $name . '/'); ?></td></tr>
<?php endforeach; ?>
<?php foreach ($files as $name): ?>
<tr><td><?php echo h($name); ?></td></tr>
<?php endforeach; ?>
</table>
<?php if (!$folders && !$files): ?>
<p class="note">Nothing to show: the folder is empty or cannot be opened.</p>
<?php endif; ?>
<?php endif; ?>
</body>
</html>
