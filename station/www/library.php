<?php
// The music library: its folders with their marks and colours, a folder's
// songs, a search by name, artist, title or album, changing a folder's marks and colours, removing a
// folder from the library, and importing a folder. Folders and songs are
// listed a page at a time (paging.inc); the songs ticked on one page stay
// ticked on the others until they are sent.
//
// An import goes in three steps: library.php?folder=... checks the folder
// (and asks first for a whole disk or a large tree), then
// library.php?add_dir=...&is_ads=..&is_jingle=.. makes the server import it
// before this page runs, and this page reads the outcome back and shows it
// on library.php?result=... , so that reloading never imports again. The
// check and every change here need the page's token (token.inc); the
// import's outcome is shown as it is, for the server has made it already.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/import.inc';
require __DIR__ . '/include/librarian.inc';
require __DIR__ . '/include/token.inc';
require __DIR__ . '/include/tags.inc';
require __DIR__ . '/include/paging.inc';
require __DIR__ . '/include/song_search.inc';

const CONFIRM_ABOVE_FILES = 1000;
// The order of the folders and of the songs, each page after the last row of the one before.
const FOLDER_KEYS = array(array('d.dir_order', 'dir_order', false), array('d.song_dir_id', 'song_dir_id', false));
const SONG_KEYS = array(array('s.song_name', 'song_name', true), array('s.song_id', 'song_id', false));

$error = '';
$db = library_open($error);

function mark_flags($kind)
{
    return array('music' => array(0, 0), 'ads' => array(1, 0), 'jingles' => array(0, 1), 'both' => array(1, 1))[$kind];
}

function kind_of($folder)
{
    $ads = (int)$folder['is_ads'] === 1;
    $jingle = (int)$folder['is_jingle'] === 1;
    return $ads && $jingle ? 'both' : ($ads ? 'ads' : ($jingle ? 'jingles' : 'music'));
}

function kind_select($name, $current, $label)
{
    $labels = array('music' => 'music', 'ads' => 'advertising', 'jingles' => 'jingles', 'both' => 'advertising and jingles');
    $html = '<select name="' . $name . '" aria-label="' . h($label) . '">';
    foreach ($labels as $kind => $label) {
        $html .= '<option value="' . $kind . '"' . ($kind === $current ? ' selected' : '') . '>' . h($label) . '</option>';
    }
    return $html . '</select>';
}

// --- Import: the check before, the outcome after -----------------------------

$import_kind = param('kind');
$import_kind = in_array($import_kind, array('music', 'ads', 'jingles', 'both'), true) ? $import_kind : null;
$is_ads = $import_kind !== null ? mark_flags($import_kind)[0] : (param('is_ads') === '1' ? 1 : 0);
$is_jingle = $import_kind !== null ? mark_flags($import_kind)[1] : (param('is_jingle') === '1' ? 1 : 0);
$confirm = null;
$problem = '';

if (isset($_GET['add_dir']) && param('add_dir') === null) {
    $problem = 'Nothing was imported.';
} elseif (($added = server_param('add_dir')) !== null) {
    if ($db !== false) {
        $known = int_param('known', 0, 999999999);
        forward_to('library.php?' . query_of(import_outcome($db, $added, $known)));
    }
} elseif (($folder = param('folder')) !== null && trim($folder) !== '') {
    // The check forwards straight on to the import, so it is a change too.
    require_token();
    $folder = trim($folder);
    $problem = folder_problem($folder);
    if ($problem === '' && $db !== false) {
        $known = folder_song_count($db, folder_id($db, stored_folder_name($folder)));
        $import = with_token('library.php',
            array('add_dir' => $folder, 'is_ads' => $is_ads, 'is_jingle' => $is_jingle, 'known' => $known));
        $large = !is_root_folder($folder) && count(tree_files($folder, false, CONFIRM_ABOVE_FILES + 1)) > CONFIRM_ABOVE_FILES;
        if (param('confirmed') !== '1' && (is_root_folder($folder) || $large)) {
            $confirm = array('url' => 'library.php?' . query_of($import), 'folder' => $folder,
                'why' => $large ? 'It holds more than ' . CONFIRM_ABOVE_FILES . ' files.' : 'It is the whole disk.');
        } else {
            forward_to('library.php?' . query_of($import));
        }
    }
}

// --- Changes to a folder ------------------------------------------------------

$action = param('action');
$id = int_param('id', 1, 2147483647);
$changing = $id !== null && ($action === 'save' || ($action === 'remove' && param('confirmed') === '1'));
if ($changing) {
    require_token();
}
if ($db !== false && $changing) {
    $name = library_value($db, 'select dir_name from song_dir where song_dir_id=' . $id);
    $change_error = '';
    if ($name === null) {
        forward_to('library.php?' . query_of(array('result' => 'gone')));
    } elseif ($action === 'save') {
        $flags = mark_flags($import_kind ?: 'music');
        $colour = stored_colour(param('colour'));
        $background = stored_colour(param('background'));
        $sql = 'update song_dir set is_playlist=' . ($flags[0] || $flags[1] ? 0 : 1) . ', is_ads=' . $flags[0]
            . ', is_jingle=' . $flags[1]
            . ($colour === null ? '' : ", dir_color='" . $colour . "'")
            . ($background === null ? '' : ", dir_bgcolor='" . $background . "'") . ' where song_dir_id=' . $id;
        $done = library_change($db, array($sql), $change_error);
        forward_to('library.php?' . query_of(array('result' => $done ? 'saved' : 'not_saved', 'path' => $name,
            'reason' => $change_error)));
    } else {
        // The schedule's rows for the folder go with it, and what the
        // librarian keeps of its songs (missing ones, files' facts); the
        // files stay on the disk.
        $done = library_change($db, array('delete from playlist where song_dir_id=' . $id,
            'delete from song_file where song_id in (select song_id from song where song_dir_id=' . $id . ')',
            'delete from song_file_stamp where song_id in (select song_id from song where song_dir_id=' . $id . ')',
            'delete from song_missing where song_dir_id=' . $id, 'delete from song where song_dir_id=' . $id,
            'delete from song_dir where song_dir_id=' . $id, 'delete from folder_songs where song_dir_id=' . $id), $change_error);
        forward_to('library.php?' . query_of(array('result' => $done ? 'removed' : 'not_removed', 'path' => $name,
            'reason' => $change_error)));
    }
}

// --- What the page shows -------------------------------------------------------

$messages = outcome_messages($_GET);
$result = param('result');
$path = (string)param('path');
$reason = (string)param('reason');
$texts = array(
    'saved' => array('Saved the marks and colours of ' . $path . '.', false),
    'not_saved' => array('The marks and colours of ' . $path . ' could not be saved: ' . $reason, true),
    'removed' => array('Removed ' . $path . ' and its songs from the library; the files are still on the disk.', false),
    'not_removed' => array($path . ' could not be removed: ' . $reason, true),
    'gone' => array('That folder is not in the library any more.', true),
);
if (param('control') === 'none') {
    $messages[] = array('No song was ticked.', true);
}
if (isset($texts[$result])) {
    $messages[] = $texts[$result];
}
if ($problem !== '') {
    $messages[] = array($problem, true);
}

$folders = array();
$folder_page = null;
$songs = null;
$song_page = null;
$songs_query = array();
$songs_title = '';
$unindexed = 0;
$search = trim((string)param('search'));
$show = int_param('show', 1, 2147483647);
$removing = $action === 'remove' && $id !== null ? $id : null;
$librarian = null;
// The folder named by `show` or `id` (to be removed), on whichever page.
$named = null;
if ($db !== false) {
    $columns = 'd.song_dir_id, d.dir_order, d.is_playlist, d.is_ads, d.is_jingle, d.dir_name, d.play_count, '
        . 'd.dir_color, d.dir_bgcolor, coalesce((select c.songs from folder_songs c where c.song_dir_id = d.song_dir_id), 0) '
        . 'as songs';
    $folder_page = page_rows($db, "select $columns from song_dir d", array(), FOLDER_KEYS, page_place(FOLDER_KEYS));
    if ($folder_page === false) {
        $error = 'The music library cannot be read: ' . odbc_errormsg($db);
    } else {
        foreach ($folder_page['rows'] as $row) {
            $folders[(int)$row['song_dir_id']] = $row;
        }
    }
    $wanted = $show !== null && $search === '' ? $show : $removing;
    if ($wanted !== null) {
        $named = isset($folders[$wanted]) ? $folders[$wanted]
            : (library_rows($db, "select $columns from song_dir d where d.song_dir_id=" . $wanted) ?: array(null))[0];
    }
    $columns = 's.song_id, s.song_name, s.play_count, s.song_dir_id, s.sec_count, s.replay_gain, s.file_size';
    if ($search !== '') {
        $unindexed = song_search_catch_up($db);
        list($table, $found) = song_search_where($db, $search, SONG_KEYS, page_place(SONG_KEYS));
        $song_page = page_rows($db, "select $columns from $table", array($found), SONG_KEYS, page_place(SONG_KEYS));
        $songs_query = array('search' => $search);
        $songs_title = 'Songs whose name, artist, title or album holds "' . $search . '"';
    } elseif ($show !== null && $named !== null) {
        $song_page = page_rows($db, "select $columns from song s", array('s.song_dir_id=' . $show), SONG_KEYS,
            page_place(SONG_KEYS));
        $songs_query = array('show' => $show);
        $songs_title = 'Songs of ' . $named['dir_name'];
    }
    if ($song_page !== null) {
        $songs = $song_page === false ? array() : $song_page['rows'];
    }
    $librarian = librarian_status($db);
    $tags = $songs ? tags_by_id($db, array_column($songs, 'song_id')) : array();
    odbc_close($db);
}

page_top('Music library');
foreach ($messages as $message): ?>
<p class="<?php echo $message[1] ? 'error' : 'done'; ?> outcome"><?php echo h($message[0]); ?></p>
<?php endforeach; ?>
<?php if ($confirm !== null): ?>
<div id="confirm">
<p>Import <?php echo h($confirm['folder']); ?> and everything below it? <?php echo h($confirm['why']); ?></p>
<p><a id="confirm-import" href="<?php echo h($confirm['url']); ?>">Yes, import it</a> |
<a href="library.php">No</a></p>
</div>
<?php endif; ?>
<?php if ($removing !== null && $named !== null): ?>
<div id="confirm">
<?php $count = (int)$named['songs']; ?>
<p>Remove <?php echo h($named['dir_name']); ?> and its <?php echo $count, $count === 1 ? ' song' : ' songs'; ?> from the library, and the folder from the schedule? The files stay on the disk.</p>
<p><a id="confirm-remove" href="library.php?<?php echo h(query_of(with_token('library.php',
    array('action' => 'remove', 'id' => $removing, 'confirmed' => '1')))); ?>">Yes, remove it</a> | <a href="library.php">No</a></p>
</div>
<?php endif; ?>
<form method="get" action="library.php" id="import-form">
<p>
<label for="import-folder">Folder to import</label>
<input type="text" id="import-folder" name="folder" size="60" placeholder="/srv/music/Ads" value=""><?php echo token_input('library.php'); ?>
<?php echo kind_select('kind', 'music', 'Kind of the folder'); ?>
<input type="submit" value="Import">
</p>
<p class="note">The folder and all its sub-folders are searched for .mp3 and .wav files.
Importing a folder again adds its new files and sets its marks anew.</p>
</form>
<form method="get" action="library.php" id="search-form">
<p><input type="text" name="search" size="30" value="<?php echo h($search); ?>" aria-label="Song to search for">
<input type="submit" value="Search songs"></p>
</form>
<?php if ($error !== ''): ?>
<p class="error"><?php echo h($error); ?></p>
<?php elseif (count($folders) === 0): ?>
<p class="note">The library has no folders yet.</p>
<?php else: ?>
<table id="folders">
<tr><th class="number">Order</th><th>Folder</th><th>Marks</th><th class="number">Songs</th>
<th class="number">Play count</th><th>Colours</th><th></th></tr>
<?php foreach ($folders as $folder_id => $folder): ?>
<tr class="folder" style="color: <?php echo css_colour($folder['dir_color']); ?>; background: <?php
    echo css_colour($folder['dir_bgcolor']); ?>">
<td class="number"><?php echo h($folder['dir_order']); ?></td>
<td class="name"><a href="library.php?show=<?php echo $folder_id; ?>"><?php echo h($folder['dir_name']); ?></a></td>
<td class="marks"><?php echo h(folder_marks($folder)); ?></td>
<td class="number"><?php echo h($folder['songs']); ?></td>
<td class="number"><?php echo h($folder['play_count']); ?></td>
<td><form method="get" action="library.php" class="inline">
<input type="hidden" name="action" value="save"><input type="hidden" name="id" value="<?php echo $folder_id; ?>">
<?php echo token_input('library.php'); ?>
<?php echo kind_select('kind', kind_of($folder), 'Kind of ' . $folder['dir_name']); ?>
<input type="color" name="colour" value="<?php echo strtolower(css_colour($folder['dir_color'])); ?>" title="Text colour" aria-label="Text colour">
<input type="color" name="background" value="<?php echo strtolower(css_colour($folder['dir_bgcolor'])); ?>" title="Background" aria-label="Background colour">
<input type="submit" value="Save"></form></td>
<td><a href="library.php?<?php echo h(query_of(array('action' => 'remove', 'id' => $folder_id))); ?>">Remove</a></td>
</tr>
<?php endforeach; ?>
</table>
<?php echo page_links($folder_page, FOLDER_KEYS, 'library.php', array(), 'folder-pages'); ?>
<?php endif; ?>
<?php librarian_show($librarian); ?>
<?php if ($songs !== null): ?>
<h2 id="songs-title"><?php echo h($songs_title); ?></h2>
<?php if ($unindexed > 0): ?>
<p class="note" id="unindexed"><?php echo $unindexed; ?> songs added or changed lately are not searched yet; they are
with the next searches.</p>
<?php endif; ?>
<?php if (!$songs): ?>
<p class="note">No songs.</p>
<?php else: ?>
<form method="get" action="control.php" id="put-form">
<?php echo token_input('control.php'); ?>
<table id="songs">
<tr><th></th><th>Song</th><th>File</th><th class="number">Play count</th><th class="number">Length</th>
<th class="number" title="The gain that brings the song to -23 LUFS, held so its true peak stays at -1 dBTP">Loudness gain</th></tr>
<?php foreach ($songs as $song): ?>
<tr><td><input type="checkbox" class="pick" name="song[]" value="<?php echo (int)$song['song_id']; ?>"><span
class="pick-order note"></span></td><td><?php
    echo song_html($song['song_name'], isset($tags[(int)$song['song_id']]) ? $tags[(int)$song['song_id']] : null); ?></td><td><?php
    echo h($song['song_name']); ?></td>
<td class="number"><?php echo h($song['play_count']); ?></td>
<?php if ((int)$song['file_size'] > 0): ?>
<td class="number"><?php echo h(sprintf('%d:%02d', intdiv((int)$song['sec_count'], 60), (int)$song['sec_count'] % 60)); ?></td>
<td class="number"><?php echo h(sprintf('%+.1f dB', (float)$song['replay_gain'])); ?></td></tr>
<?php else: ?>
<td class="number note" colspan="2">not measured yet</td></tr>
<?php endif; ?>
<?php endforeach; ?>
</table>
<?php echo page_links($song_page, SONG_KEYS, 'library.php', $songs_query, 'song-pages'); ?>
<p id="ticked-elsewhere" class="note"></p>
<p>The ticked songs, in the order ticked:
<button type="submit" name="action" value="put_next" id="put-next">Play next</button>
<button type="submit" name="action" value="put_end" id="put-end">Play after the sent songs</button></p>
</form>
<script>
// The songs go to the player in the order they were ticked, on this page
// and the others of the library (kept for this tab until they are sent).
(function () {
  var form = document.getElementById('put-form');
  var KEPT = 'library-ticked';
  var order = [];
  try { order = JSON.parse(sessionStorage.getItem(KEPT) || '[]'); } catch (e) { order = []; }
  function boxes() { return form.querySelectorAll('input.pick'); }
  function show() {
    var here = 0;
    boxes().forEach(function (box) {
      var at = order.indexOf(box.value);
      box.checked = at >= 0;
      if (at >= 0) here++;
      box.nextElementSibling.textContent = at < 0 ? '' : ' ' + (at + 1);
    });
    var elsewhere = order.length - here;
    document.getElementById('ticked-elsewhere').textContent = elsewhere === 0 ? ''
      : elsewhere === 1 ? '1 song ticked on another page goes with them.'
      : elsewhere + ' songs ticked on other pages go with them.';
    try { sessionStorage.setItem(KEPT, JSON.stringify(order)); } catch (e) {}
  }
  form.addEventListener('change', function (event) {
    var box = event.target;
    if (!box.classList.contains('pick')) return;
    order = order.filter(function (other) { return other !== box.value; });
    if (box.checked) order.push(box.value);
    show();
  });
  form.addEventListener('submit', function () {
    order.forEach(function (id) {
      var field = document.createElement('input');
      field.type = 'hidden';
      field.name = 'song[]';
      field.value = id;
      form.appendChild(field);
    });
    boxes().forEach(function (box) { box.disabled = true; });
    try { sessionStorage.removeItem(KEPT); } catch (e) {}
  });
  show();
})();
</script>
<?php endif; ?>
<?php endif; ?>
<?php page_bottom(); ?>
