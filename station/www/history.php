<?php
// The record of what went on air, for a chosen day or range of days (local
// time): history.php?from=YYYY-MM-DD&to=YYYY-MM-DD, today by default; with
// format=csv the same plays as a CSV file (UTF-8, a header row, one row a
// play) for royalty reports. The faults of the same days follow the plays.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/export.inc';

function day_param($name, $default)
{
    global $odd_input;
    $text = param($name);
    if ($text === null || $text === '') {
        return $default;
    }
    $day = DateTime::createFromFormat('!Y-m-d', $text);
    if ($day === false || $day->format('Y-m-d') !== $text) {
        $odd_input[] = '"' . $name . '" must be a day as YYYY-MM-DD; "' . $text . '" was left out.';
        return $default;
    }
    return $text;
}

$from = day_param('from', date('Y-m-d'));
$to = day_param('to', $from);
if ($to < $from) {
    list($from, $to) = array($to, $from);
}
$start = strtotime($from . ' 00:00:00');
$end = strtotime($to . ' 00:00:00 +1 day');

$error = '';
$db = library_open($error);
$plays = $db === false ? false : library_rows($db, 'select started, ended, song_name, dir_name, source, outcome '
    . 'from play_record where started >= ' . (int)$start . ' and started < ' . (int)$end . ' order by started, play_id');
$faults = $db === false ? false : library_rows($db, 'select started, ended, kind, detail from fault_record where started >= '
    . (int)$start . ' and started < ' . (int)$end . ' order by started, fault_id');
if ($plays === false && $error === '') {
    $error = 'The play record cannot be read: ' . odbc_errormsg($db);
}

function time_text($seconds)
{
    return (int)$seconds > 0 ? date('Y-m-d H:i:s', (int)$seconds) : '';
}

if (param('format') === 'csv' && $plays !== false) {
    header('Content-Type: text/csv; charset=utf-8');
    header('Content-Disposition: attachment; filename="plays-' . $from . ($to !== $from ? '-to-' . $to : '') . '.csv"');
    $out = fopen('php://output', 'w');
    csv_row($out, array('started', 'ended', 'song', 'folder', 'source', 'outcome'));
    foreach ($plays as $play) {
        csv_row($out, array(time_text($play['started']), time_text($play['ended']), $play['song_name'], $play['dir_name'],
            $play['source'], $play['outcome']));
    }
    fclose($out);
    exit;
}

page_top('History');
?>
<form method="get" action="history.php" id="range">
<p><label>From <input type="date" name="from" value="<?php echo h($from); ?>"></label>
<label>to <input type="date" name="to" value="<?php echo h($to); ?>"></label> <input type="submit" value="Show">
<a id="csv" href="history.php?<?php echo h(query_of(array('from' => $from, 'to' => $to, 'format' => 'csv'))); ?>">Export as CSV</a></p>
</form>
<?php if ($error !== ''): ?>
<p class="error"><?php echo h($error); ?></p>
<?php elseif (!$plays): ?>
<p class="note">No plays on record from <?php echo h($from); ?> to <?php echo h($to); ?>.</p>
<?php else: ?>
<table id="plays">
<tr><th>Started</th><th>Ended</th><th>Song</th><th>Folder</th><th>Source</th><th>Outcome</th></tr>
<?php foreach ($plays as $play): ?>
<tr><td><?php echo h(time_text($play['started'])); ?></td><td><?php echo h(time_text($play['ended'])); ?></td>
<td><?php echo h($play['song_name']); ?></td><td><?php echo h($play['dir_name']); ?></td>
<td><?php echo h($play['source']); ?></td><td><?php echo h($play['outcome']); ?></td></tr>
<?php endforeach; ?>
</table>
<?php endif; ?>
<?php if ($faults): ?>
<h2>Faults</h2>
<table id="fault-record">
<tr><th>Began</th><th>Passed</th><th>Fault</th></tr>
<?php foreach ($faults as $fault): ?>
<tr><td><?php echo h(time_text($fault['started'])); ?></td><td><?php echo h(time_text($fault['ended'])); ?></td>
<td><?php echo h($fault['detail']); ?></td></tr>
<?php endforeach; ?>
</table>
<?php endif; ?>
<?php page_bottom(); ?>
