<?php
// The schedule: which folders, in which order, make the playlist at which
// hour on which week days. Lists the entries of playlist_info by hour and
// week days with their folders from playlist in order; adds, edits, enables,
// disables and removes entries. After each change the page forwards to
// schedule.php?result=..., so that reloading never changes anything again.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/schedule.inc';
require __DIR__ . '/include/token.inc';

$error = '';
$db = library_open($error);
$action = param('action');
$id = int_param('id', 1, 2147483647);

// The folders in the order given: order[folder id] = place (blank: not used).
function chosen_folders()
{
    global $odd_input;
    $order = isset($_GET['order']) && is_array($_GET['order']) ? $_GET['order'] : array();
    $places = array();
    foreach ($order as $folder => $place) {
        if (!is_string($place) || trim($place) === '') {
            continue;
        }
        if (!preg_match('/^[0-9]{1,4}$/', trim($place)) || !ctype_digit((string)$folder)) {
            $odd_input[] = 'A folder\'s place must be a whole number; "' . (is_string($place) ? $place : 'a list')
                . '" was left out.';
            continue;
        }
        $places[(int)$folder] = (int)trim($place);
    }
    asort($places);
    return array_keys($places);
}

function save_entry($db, $id, &$problem)
{
    $hour = int_param('hour', 0, EVERY_HOUR);
    $days = 0;
    foreach (int_list_param('day') as $bit) {
        $days |= $bit & (EVERY_DAY - 1);
    }
    if (param('everyday') === '1') {
        $days = EVERY_DAY;
    }
    $folders = chosen_folders();
    $enabled = param('enabled') === '1' ? 1 : 0;
    if ($hour === null) {
        $problem = 'Choose the hour of the entry.';
    } elseif ($days === 0) {
        $problem = 'Choose at least one week day, or every day.';
    } elseif (!$folders) {
        $problem = 'Give at least one folder a place.';
    } else {
        $statements = array();
        if ($id === null) {
            $statements[] = "insert into playlist_info (play_time, week_days, is_enable) values ($hour, $days, $enabled)";
            $entry = '(select max(playinfo_id) from playlist_info)';
        } else {
            $statements[] = "update playlist_info set play_time=$hour, week_days=$days, is_enable=$enabled where playinfo_id=$id";
            $statements[] = "delete from playlist where playinfo_id=$id";
            $entry = $id;
        }
        foreach ($folders as $place => $folder) {
            $statements[] = 'insert into playlist (playinfo_id, song_dir_id, is_enable, dir_order) select ' . $entry
                . ', song_dir_id, 1, ' . ($place + 1) . ' from song_dir where song_dir_id=' . (int)$folder;
        }
        if (library_change($db, $statements, $problem)) {
            return true;
        }
        $problem = 'The schedule could not be saved: ' . $problem;
    }
    return false;
}

$problem = '';
$changing = $action === 'save' || ($id !== null && (in_array($action, array('enable', 'disable'), true)
    || ($action === 'remove' && param('confirmed') === '1')));
if ($changing) {
    require_token();
}
if ($db !== false && $action === 'save') {
    if (save_entry($db, $id, $problem)) {
        forward_to('schedule.php?' . query_of(array('result' => $id === null ? 'added' : 'saved')));
    }
} elseif ($db !== false && $id !== null && in_array($action, array('enable', 'disable'), true)) {
    $done = library_change($db, array('update playlist_info set is_enable=' . ($action === 'enable' ? 1 : 0)
        . ' where playinfo_id=' . $id), $problem);
    forward_to('schedule.php?' . query_of(array('result' => $done ? $action . 'd' : 'failed', 'reason' => $problem)));
} elseif ($db !== false && $id !== null && $action === 'remove' && param('confirmed') === '1') {
    $done = library_change($db, array('delete from playlist where playinfo_id=' . $id,
        'delete from playlist_info where playinfo_id=' . $id), $problem);
    forward_to('schedule.php?' . query_of(array('result' => $done ? 'removed' : 'failed', 'reason' => $problem)));
}

$entries = array();
$folders = array();
if ($db !== false) {
    foreach (library_rows($db, 'select playinfo_id, play_time, week_days, is_enable from playlist_info '
        . 'order by play_time, week_days, playinfo_id') ?: array() as $row) {
        $row['folders'] = library_rows($db, 'select playlist.song_dir_id, song_dir.dir_name, playlist.is_enable '
            . 'from playlist left join song_dir on playlist.song_dir_id = song_dir.song_dir_id where playlist.playinfo_id='
            . (int)$row['playinfo_id'] . ' order by playlist.dir_order') ?: array();
        $entries[(int)$row['playinfo_id']] = $row;
    }
    foreach (library_rows($db, 'select song_dir_id, dir_name from song_dir order by dir_order') ?: array() as $row) {
        $folders[(int)$row['song_dir_id']] = $row['dir_name'];
    }
}
$editing = $action === 'edit' && $id !== null && isset($entries[$id]) ? $entries[$id] : null;
$form = $editing ?: array('play_time' => coming_hour(), 'week_days' => EVERY_DAY, 'is_enable' => 1, 'folders' => array());
if ($action === 'save') {
    $form = array('play_time' => int_param('hour', 0, EVERY_HOUR), 'week_days' => 0, 'is_enable' => param('enabled') === '1',
        'folders' => array());
}
$places = array();
foreach ($form['folders'] as $place => $folder) {
    $places[(int)$folder['song_dir_id']] = $place + 1;
}
$results = array('added' => 'Added the entry.', 'saved' => 'Saved the entry.', 'enabled' => 'Enabled the entry.',
    'disabled' => 'Disabled the entry.', 'removed' => 'Removed the entry.');
$result = param('result');

page_top('Schedule');
?>
<?php if (isset($results[$result])): ?>
<p class="done outcome"><?php echo h($results[$result]); ?></p>
<?php elseif ($result === 'failed'): ?>
<p class="error outcome">The schedule could not be changed: <?php echo h(param('reason')); ?></p>
<?php endif; ?>
<?php foreach (array($error, $problem) as $message): if ($message !== ''): ?>
<p class="error"><?php echo h($message); ?></p>
<?php endif; endforeach; ?>
<p class="note">The playlist of the coming hour (<?php echo h(hour_text(coming_hour())); ?>) comes from the first
enabled entry for that hour whose days hold today, else from one for every hour.</p>
<?php if ($action === 'remove' && isset($entries[$id])): ?>
<p id="confirm">Remove the entry for <?php echo h(hour_text($entries[$id]['play_time'])); ?> on
<?php echo h(days_text($entries[$id]['week_days'])); ?>?
<a id="confirm-remove" href="schedule.php?<?php echo h(query_of(with_token('schedule.php',
    array('action' => 'remove', 'id' => $id, 'confirmed' => 1)))); ?>">Yes, remove it</a>
| <a href="schedule.php">No</a></p>
<?php endif; ?>
<?php if (!$entries): ?>
<p class="note">The schedule has no entries yet.</p>
<?php else: ?>
<table id="entries">
<tr><th>Hour</th><th>Days</th><th>Folders in order</th><th>State</th><th></th></tr>
<?php foreach ($entries as $entry_id => $entry): ?>
<tr class="entry">
<td><?php echo h(hour_text($entry['play_time'])); ?></td>
<td><?php echo h(days_text($entry['week_days'])); ?></td>
<td><ol><?php foreach ($entry['folders'] as $folder): ?>
<li><?php echo h($folder['dir_name'] === null ? 'a folder no longer in the library' : $folder['dir_name']); ?></li>
<?php endforeach; ?></ol></td>
<td><?php echo (int)$entry['is_enable'] === 1 ? 'enabled' : 'disabled'; ?></td>
<td><a href="schedule.php?<?php echo h(query_of(array('action' => 'edit', 'id' => $entry_id))); ?>">Edit</a> |
<a href="schedule.php?<?php echo h(query_of(with_token('schedule.php',
    array('action' => (int)$entry['is_enable'] === 1 ? 'disable' : 'enable', 'id' => $entry_id)))); ?>"><?php echo (int)$entry['is_enable'] === 1 ? 'Disable' : 'Enable'; ?></a> |
<a href="schedule.php?<?php echo h(query_of(array('action' => 'remove', 'id' => $entry_id))); ?>">Remove</a></td>
</tr>
<?php endforeach; ?>
</table>
<?php endif; ?>
<h2><?php echo $editing ? 'Edit the entry' : 'Add an entry'; ?></h2>
<?php if (!$folders): ?>
<p class="note">Import a folder on the <a href="library.php">library page</a> first.</p>
<?php else: ?>
<form method="get" action="schedule.php" id="entry-form">
<input type="hidden" name="action" value="save"><?php echo token_input('schedule.php'); ?>
<?php if ($editing): ?><input type="hidden" name="id" value="<?php echo (int)$id; ?>"><?php endif; ?>
<p><label for="entry-hour">Hour:</label> <select id="entry-hour" name="hour">
<?php for ($hour = 0; $hour <= EVERY_HOUR; $hour++): ?>
<option value="<?php echo $hour; ?>"<?php echo (int)$form['play_time'] === $hour ? ' selected' : ''; ?>><?php
    echo h(hour_text($hour)); ?></option>
<?php endfor; ?>
</select>
<label><input type="checkbox" name="enabled" value="1"<?php echo $form['is_enable'] ? ' checked' : ''; ?>> enabled</label></p>
<p>Days: <label><input type="checkbox" name="everyday" value="1"<?php
    echo ((int)$form['week_days'] & EVERY_DAY) ? ' checked' : ''; ?>> every day</label> or
<?php foreach (day_names() as $bit => $name): ?>
<label><input type="checkbox" name="day[]" value="<?php echo $bit; ?>"<?php
    echo ((int)$form['week_days'] & $bit) ? ' checked' : ''; ?>> <?php echo h($name); ?></label>
<?php endforeach; ?></p>
<p>Folders: give each folder of the entry its place (1, 2, 3 ...); leave the others blank.</p>
<table id="folder-places">
<?php foreach ($folders as $folder_id => $name): ?>
<tr><td><input type="text" size="3" name="order[<?php echo $folder_id; ?>]" value="<?php
    echo isset($places[$folder_id]) ? $places[$folder_id] : ''; ?>" aria-label="<?php echo h($name); ?>"></td>
<td><?php echo h($name); ?></td></tr>
<?php endforeach; ?>
</table>
<p><input type="submit" value="<?php echo $editing ? 'Save the entry' : 'Add the entry'; ?>">
<?php if ($editing): ?><a href="schedule.php">Cancel</a><?php endif; ?></p>
</form>
<?php endif; ?>
<?php page_bottom(); ?>
