<?php
// The record of what went on air, for a chosen day, range of days or month
// (local time): history.php?from=YYYY-MM-DD&to=YYYY-MM-DD or ?month=YYYY-MM,
// today by default, with each play's listeners and a chart of them. With
// format= the same plays as a file for royalty reports:
//   csv           one row a play (UTF-8, a header row);
//   soundexchange a Report of Use (ASCII): one row a recording with its
//                 performances;
//   music         a music report: one row a play with its writer and duration.
// The faults of the same days follow the plays. The page lists the plays a
// page at a time (history_list.inc).

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/tags.inc';
require __DIR__ . '/include/sound.inc';
require __DIR__ . '/include/export.inc';
require __DIR__ . '/include/reports.inc';
require __DIR__ . '/include/paging.inc';
require __DIR__ . '/include/history_list.inc';

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
$month = (string)param('month');
if ($month !== '') {
    $first = DateTime::createFromFormat('!Y-m', $month);
    if ($first === false || $first->format('Y-m') !== $month) {
        $odd_input[] = '"month" must be a month as YYYY-MM; "' . $month . '" was left out.';
    } else {
        $from = $first->format('Y-m-d');
        $to = $first->format('Y-m-t');
    }
}
if ($to < $from) {
    list($from, $to) = array($to, $from);
}
$start = strtotime($from . ' 00:00:00');
$end = strtotime($to . ' 00:00:00 +1 day');

// An export goes out row by row as the record gives them; when the record
// cannot be read, the page below says why.
$format = (string)param('format');
if (isset(REPORTS[$format]) && ($export_db = library_open($error)) !== false
    && export_plays($export_db, $format, $from, $to, $start, $end, sound_settings())) {
    exit;
}

$error = '';
$db = library_open($error);
$plays = $db === false ? false : play_page($db, $start, $end);
$faults = $db === false ? false : library_rows($db, 'select started, ended, kind, detail from fault_record where started >= '
    . (int)$start . ' and started < ' . (int)$end . ' order by started, fault_id limit ' . (PAGE_ROWS + 1));
if ($plays === false && $error === '') {
    $error = 'The play record cannot be read: ' . odbc_errormsg($db);
}

function time_text($seconds)
{
    return (int)$seconds > 0 ? date('Y-m-d H:i:s', (int)$seconds) : '';
}

$sound = sound_settings();
page_top('History');
$range = array('from' => $from, 'to' => $to);
?>
<form method="get" action="history.php" id="range">
<p><label>From <input type="date" name="from" value="<?php echo h($from); ?>"></label>
<label>to <input type="date" name="to" value="<?php echo h($to); ?>"></label> <input type="submit" value="Show">
<label>or the month <input type="month" name="month" value="<?php echo h(substr($from, 0, 7)); ?>"></label></p>
<p>Export: <a id="csv" href="history.php?<?php echo h(query_of($range + array('format' => 'csv'))); ?>">CSV</a> |
<a id="soundexchange" href="history.php?<?php echo h(query_of($range + array('format' => 'soundexchange'))); ?>">SoundExchange Report of Use</a> |
<a id="music-report" href="history.php?<?php echo h(query_of($range + array('format' => 'music'))); ?>">Music report</a>
<?php if ($sound['station_name'] === ''): ?>
<span class="note">(the reports name the station as settings.php sets it)</span>
<?php endif; ?></p>
</form>
<?php if ($error !== ''): ?>
<p class="error"><?php echo h($error); ?></p>
<?php elseif (!$plays['rows']): ?>
<p class="note">No plays on record from <?php echo h($from); ?> to <?php echo h($to); ?>.</p>
<?php else: ?>
<?php echo listeners_chart(chart_plays($db, $start, $end) ?: array(), $start, $end); ?>
<table id="plays">
<tr><th>Started</th><th>Ended</th><th>Song</th><th>Folder</th><th>Source</th><th>Outcome</th>
<th class="number" title="Listeners when it began, the most at one time, and those who heard it">Listeners</th></tr>
<?php foreach ($plays['rows'] as $play): ?>
<tr><td><?php echo h(time_text($play['started'])); ?></td><td><?php echo h(time_text($play['ended'])); ?></td>
<td><?php echo song_html($play['song_name'], $play['title'] !== '' ? $play : null); ?></td><td><?php echo h($play['dir_name']); ?></td>
<td><?php echo h($play['source']); ?></td><td><?php echo h($play['outcome']); ?></td>
<td class="number listeners"><?php echo $play['listeners_start'] === null ? '' : h($play['listeners_start'] . ' / '
    . $play['listeners_peak'] . ' / ' . performances($play)); ?></td></tr>
<?php endforeach; ?>
</table>
<?php echo page_links($plays, PLAY_KEYS, 'history.php', $range, 'play-pages'); ?>
<?php endif; ?>
<?php if ($faults): ?>
<h2>Faults</h2>
<table id="fault-record">
<tr><th>Began</th><th>Passed</th><th>Fault</th></tr>
<?php foreach (array_slice($faults, 0, PAGE_ROWS) as $fault): ?>
<tr><td><?php echo h(time_text($fault['started'])); ?></td><td><?php echo h(time_text($fault['ended'])); ?></td>
<td><?php echo h($fault['detail']); ?></td></tr>
<?php endforeach; ?>
</table>
<?php if (count($faults) > PAGE_ROWS): ?>
<p class="note">The first <?php echo PAGE_ROWS; ?> faults of these days are shown.</p>
<?php endif; ?>
<?php endif; ?>
<?php page_bottom(); ?>
