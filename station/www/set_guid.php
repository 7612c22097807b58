<?php
// Sound output devices. Before this page runs, the server writes 20 slots
// into $_POST: guid[i] (the GUID's 16 bytes in memory order as 32 hex
// digits), desc[i] and drvname[i]; a slot without a device has a GUID of 32
// zeros. Choosing a device stores it in sound_device.txt in the server folder
// for the player to read: the GUID, the device name and the description, one
// a line ("", "default" and "System default" for the system's default
// device; a missing file means the same).

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/token.inc';

function slot_text($field, $i)
{
    return isset($_POST[$field][$i]) && is_string($_POST[$field][$i]) ? $_POST[$field][$i] : '';
}

// {6B29FC40-CA47-1067-B31D-00DD010662DA} from 40fc296b47ca6710b31d00dd010662da.
function guid_text($hex)
{
    $b = str_split($hex, 2);
    return strtoupper('{' . $b[3] . $b[2] . $b[1] . $b[0] . '-' . $b[5] . $b[4] . '-' . $b[7] . $b[6] . '-'
        . $b[8] . $b[9] . '-' . implode('', array_slice($b, 10)) . '}');
}

$devices = array();
for ($i = 0; $i < 20; $i++) {
    $hex = slot_text('guid', $i);
    if (!preg_match('/^[0-9a-f]{32}$/', $hex) || $hex === str_repeat('0', 32)) {
        continue;
    }
    $devices[$hex] = array(
        'guid' => guid_text($hex),
        'desc' => slot_text('desc', $i),
        'name' => slot_text('drvname', $i),
    );
}

$default = array('guid' => '', 'name' => 'default', 'desc' => 'System default');
$choice_file = server_folder() . '/sound_device.txt';

// Written beside the final name and moved into place, so the player never
// reads half a choice.
function store_choice($file, $device)
{
    $text = $device['guid'] . "\n" . $device['name'] . "\n" . $device['desc'] . "\n";
    $partial = $file . '.partial';
    return @file_put_contents($partial, $text) === strlen($text) && @rename($partial, $file);
}

$message = '';
$choice = param('choose');
if ($choice !== null) {
    require_token();
    $device = $choice === 'default' ? $default : (isset($devices[$choice]) ? $devices[$choice] : null);
    if ($device === null) {
        $message = 'That device is not present any more; nothing was changed.';
    } else {
        forward_to('set_guid.php?' . query_of(array('chosen' => store_choice($choice_file, $device) ? 'yes' : 'no',
            'desc' => $device['desc'])));
    }
}
if (param('chosen') === 'yes') {
    $message = 'Chosen: ' . param('desc') . '. The player plays on it from its next song.';
} elseif (param('chosen') === 'no') {
    $message = 'The choice could not be stored in ' . $choice_file . '.';
}
$current = is_file($choice_file) ? file($choice_file, FILE_IGNORE_NEW_LINES) : array();
$current_guid = isset($current[0]) ? $current[0] : '';
$current_present = $current_guid === '';
foreach ($devices as $d) {
    $current_present = $current_present || $d['guid'] === $current_guid;
}
$rows = array('default' => $default) + $devices;
page_top('Sound card of the player', '<style>.current { font-weight: bold; } code { font-size: 90%; }</style>');
?>
<?php if ($message !== ''): ?>
<p id="message"><?php echo h($message); ?></p>
<?php endif; ?>
<table id="devices">
<tr><th>Device</th><th>Name</th><th>GUID</th><th></th></tr>
<?php foreach ($rows as $key => $d): ?>
<?php $is_current = $d['guid'] === $current_guid; ?>
<tr<?php echo $is_current ? ' class="current"' : ''; ?>>
<td><?php echo h($d['desc']); ?></td>
<td><code><?php echo h($d['name']); ?></code></td>
<td><code><?php echo h($d['guid']); ?></code></td>
<td><?php echo $is_current ? 'in use' : '<a href="set_guid.php?' . h(query_of(with_token('set_guid.php', array('choose' => $key)))) . '">Choose</a>'; ?></td>
</tr>
<?php endforeach; ?>
</table>
<?php if (!$devices): ?>
<p class="note">No sound output device besides the system's default was found.</p>
<?php endif; ?>
<?php if (!$current_present): ?>
<p class="note">The stored choice <code><?php echo h($current_guid); ?></code> is not among the present devices.</p>
<?php endif; ?>
<?php page_bottom(); ?>
