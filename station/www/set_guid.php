<?php
// Sound output devices. Before this page runs, the server writes 20 slots
// into $_POST: guid[i] (the GUID's 16 bytes in memory order as 32 hex
// digits), desc[i] and drvname[i]; a slot without a device has a GUID of 32
// zeros. Choosing a device stores it in sound_device.txt in the server folder
// for the player to read: the GUID, the device name and the description, one
// a line.

function h($text)
{
    return htmlspecialchars($text, ENT_QUOTES, 'UTF-8');
}

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

$choice_file = __DIR__ . '/../sound_device.txt';
$message = '';
if (isset($_GET['choose'])) {
    $hex = (string)$_GET['choose'];
    if (!isset($devices[$hex])) {
        $message = 'That device is not present any more; nothing was changed.';
    } else {
        $d = $devices[$hex];
        $text = $d['guid'] . "\n" . $d['name'] . "\n" . $d['desc'] . "\n";
        $message = file_put_contents($choice_file, $text) === strlen($text)
            ? 'Chosen: ' . $d['desc'] . '. The choice is stored in sound_device.txt for the player.'
            : 'The choice could not be stored in ' . $choice_file . '.';
    }
}
$current = is_file($choice_file) ? file($choice_file, FILE_IGNORE_NEW_LINES) : array();
$current_guid = isset($current[0]) ? $current[0] : '';
$current_present = false;
foreach ($devices as $d) {
    $current_present = $current_present || $d['guid'] === $current_guid;
}
?>
<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Sound card</title>
<style>
body { font-family: sans-serif; margin: 1em 2em; }
table { border-collapse: collapse; }
th, td { padding: 2px 12px 2px 0; text-align: left; }
.current { font-weight: bold; }
.note { color: #666; }
code { font-size: 90%; }
</style>
</head>
<body>
<p><a href="index.php">Station</a></p>
<h1>Sound card of the player</h1>
<?php if ($message !== ''): ?>
<p><?php echo h($message); ?></p>
<?php endif; ?>
<?php if (!$devices): ?>
<p class="note">No sound output device was found.</p>
<?php else: ?>
<table>
<tr><th>Device</th><th>Name</th><th>GUID</th><th></th></tr>
<?php foreach ($devices as $hex => $d): ?>
<?php $is_current = $d['guid'] === $current_guid; ?>
<tr<?php echo $is_current ? ' class="current"' : ''; ?>>
<td><?php echo h($d['desc']); ?></td>
<td><code><?php echo h($d['name']); ?></code></td>
<td><code><?php echo h($d['guid']); ?></code></td>
<td><?php echo $is_current ? 'in use' : '<a href="set_guid.php?choose=' . h($hex) . '">Choose</a>'; ?></td>
</tr>
<?php endforeach; ?>
</table>
<?php endif; ?>
<?php if ($current_guid !== '' && !$current_present): ?>
<p class="note">The stored choice <code><?php echo h($current_guid); ?></code> is not among the present devices.</p>
<?php endif; ?>
</body>
</html>
