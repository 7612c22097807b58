<?php
// Folder browser. Before this page runs, the server lists the folder named by
// "dir" into $_POST['dir'] (its sub-folders) and $_POST['file'] (its files).
// Folders whose name starts with "." or has "." as second character are not
// listed. The form sends its folder as "open" (a browser writes a space as
// "+", which the server would take literally); the page then asks again with
// "dir" percent-encoded.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/token.inc';

function names($field)
{
    $names = array();
    foreach (isset($_POST[$field]) && is_array($_POST[$field]) ? $_POST[$field] : array() as $name) {
        if (is_string($name)) {
            $names[] = $name;
        }
    }
    natcasesort($names);
    return $names;
}

function link_to($page, $query, $label)
{
    return '<a href="' . $page . '?' . h(query_of($query)) . '">' . h($label) . '</a>';
}

// The import starts on the library page, which checks the folder first.
function import_link($folder, $is_ads, $is_jingle, $label)
{
    return link_to('library.php', with_token('library.php',
        array('folder' => $folder, 'is_ads' => $is_ads, 'is_jingle' => $is_jingle)), $label);
}

// The size the interpreter takes a form body up to, in bytes.
function body_limit()
{
    $limit = trim((string)ini_get('post_max_size'));
    $units = array('k' => 1024, 'm' => 1048576, 'g' => 1073741824);
    $unit = strtolower(substr($limit, -1));
    return (int)$limit * (isset($units[$unit]) ? $units[$unit] : 1);
}

$opened = param('open');
if ($opened !== null && trim($opened) !== '') {
    forward_to('browse.php?' . query_of(array('dir' => trim($opened))));
}
if (param('dir') === null && isset($_GET['dir'])) {
    $dir = '';  // a list: noted by param(), and the server listed nothing
} else {
    $dir = (string)server_param('dir');
}
// One slash form for links; the server accepts either separator.
$folder = $dir === '' ? '' : rtrim(str_replace('\\', '/', $dir), '/') . '/';
$folders = names('dir');
$files = names('file');
$parent = '';
if (strpos(rtrim($folder, '/'), '/') !== false) {
    $parent = rtrim(dirname(rtrim($folder, '/')), '/') . '/';
}
$problem = '';
if ($folder !== '') {
    $length = isset($_SERVER['CONTENT_LENGTH']) ? (int)$_SERVER['CONTENT_LENGTH'] : 0;
    if (!file_exists($folder)) {
        $problem = 'The folder ' . $folder . ' does not exist.';
    } elseif (!is_dir($folder)) {
        $problem = rtrim($folder, '/') . ' is a file, not a folder.';
    } elseif (!is_readable($folder) || @opendir($folder) === false) {
        $problem = 'The folder ' . $folder . ' cannot be read.';
    } elseif ($length > body_limit()) {
        $problem = 'The folder ' . $folder . ' has too many entries to show on one page.';
    }
}

page_top('Browse folders');
?>
<form method="get" action="browse.php">
<input type="text" name="open" size="60" value="<?php echo h($folder); ?>" aria-label="Folder to open">
<input type="submit" value="Open">
</form>
<?php if ($folder === ''): ?>
<p class="note">Type a folder, for example /srv/music or D:\Music, and open it.</p>
<?php else: ?>
<h2><?php echo h($folder); ?></h2>
<?php if ($problem !== ''): ?>
<p class="error" id="problem"><?php echo h($problem); ?></p>
<?php else: ?>
<p id="import">Import this folder and its sub-folders:
<?php echo import_link($folder, '0', '0', 'as music'); ?> |
<?php echo import_link($folder, '1', '0', 'as advertising'); ?> |
<?php echo import_link($folder, '0', '1', 'as jingles'); ?></p>
<?php endif; ?>
<table id="entries">
<?php if ($parent !== ''): ?>
<tr class="folder"><td><?php echo link_to('browse.php', array('dir' => $parent), '..'); ?></td></tr>
<?php endif; ?>
<?php foreach ($folders as $name): ?>
<tr class="folder"><td><?php echo link_to('browse.php', array('dir' => $folder . $name), $name . '/'); ?></td></tr>
<?php endforeach; ?>
<?php foreach ($files as $name): ?>
<tr class="file"><td><?php echo h($name); ?></td></tr>
<?php endforeach; ?>
</table>
<?php if ($problem === '' && !$folders && !$files): ?>
<p class="note">The folder is empty.</p>
<?php elseif ($problem === ''): ?>
<p class="note"><?php echo count($folders); ?> folders, <?php echo count($files); ?> files.</p>
<?php endif; ?>
<?php endif; ?>
<?php page_bottom(); ?>
