<?php
// The station's sound: the loudness every song is played at, the crossfade
// between music songs and the Icecast stream, and what the station calls
// itself there and in its reports. Stored in the server folder;
// the player takes them up at its next song.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/token.inc';
require __DIR__ . '/include/sound.inc';

$settings = sound_settings();
$problems = array();
$saved = false;
if (param('save') !== null) {
    require_token();
    $number = function ($name, $min, $max, $label) use (&$problems) {
        $value = param($name);
        if ($value === null || !is_numeric($value) || (float)$value < $min || (float)$value > $max) {
            $problems[] = $label . ' must be a number from ' . $min . ' to ' . $max . '.';
            return null;
        }
        return (string)(0 + $value);
    };
    $new = $settings;
    $new['target_lufs'] = $number('target_lufs', -40, -5, 'The target loudness');
    $new['crossfade_s'] = $number('crossfade_s', 0, 15, 'The crossfade time');
    $new['stream_port'] = $number('stream_port', 1, 65535, 'The port');
    $new['stream_on'] = param('stream_on') === '1' ? '1' : '0';
    $new['stream_mp3'] = param('stream_mp3') === '1' ? '1' : '0';
    $new['stream_opus'] = param('stream_opus') === '1' ? '1' : '0';
    $host = (string)param('stream_host');
    $mount = (string)param('stream_mount');
    if (!preg_match('/^[A-Za-z0-9.:\-\[\]]+$/', $host)) {
        $problems[] = 'The server must be a host name or address.';
    }
    if (!preg_match('#^/[A-Za-z0-9._\-/]*$#', $mount)) {
        $problems[] = 'The mount must begin with "/" and hold only letters, digits, ".", "_", "-" and "/".';
    }
    $new['stream_host'] = $host;
    $new['stream_mount'] = $mount;
    $password = param('stream_password');
    foreach (STATION_TEXTS as $name => $label) {
        $new[$name] = trim((string)param($name));
        if (preg_match('/[\x00-\x1f\x7f]/', $new[$name]) || preg_match('//u', $new[$name]) !== 1) {
            $problems[] = $label . ' must be one line of text.';
        }
    }
    if ($password !== null && preg_match('/[\r\n]/', $password)) {
        $problems[] = 'The password must be one line.';
    }
    if (!$problems) {
        $text = '';
        foreach ($new as $name => $value) {
            $text .= $name . '=' . $value . "\n";
        }
        $file = server_folder() . '/' . SOUND_SETTINGS_FILE;
        $saved = file_put_contents($file . '.new', $text) !== false && rename($file . '.new', $file);
        if ($saved && $password !== null) {
            $secret = server_folder() . '/' . STREAM_PASSWORD_FILE;
            $old = umask(077);
            $saved = file_put_contents($secret . '.new', $password) !== false && chmod($secret . '.new', 0600)
                && rename($secret . '.new', $secret);
            umask($old);
        }
        if ($saved) {
            $settings = $new;
        } else {
            $problems[] = 'The settings could not be stored in the server folder.';
        }
    }
}

function checked($on)
{
    return $on ? ' checked' : '';
}

page_top('Sound and stream');
foreach ($problems as $problem) {
    echo '<p class="error">', h($problem), "</p>\n";
}
if ($saved) {
    echo '<p class="done" id="message">Saved; the player uses them from its next song.</p>', "\n";
}
?>
<form method="get" action="settings.php">
<?php echo token_input('settings.php'); ?>
<table>
<tr><td>Target loudness (LUFS)</td><td><input name="target_lufs" value="<?php echo h($settings['target_lufs']); ?>" size="6">
<span class="note">−23 is EBU R128; −16 is common for streams. No song's true peak goes above −1 dBTP.</span></td></tr>
<tr><td>Crossfade (seconds)</td><td><input name="crossfade_s" value="<?php echo h($settings['crossfade_s']); ?>" size="6">
<span class="note">0 for none; advertising and jingles are never faded.</span></td></tr>
<tr><td>Stream</td><td><label><input type="checkbox" name="stream_on" value="1"<?php echo checked($settings['stream_on'] === '1'); ?>> on</label></td></tr>
<tr><td>Icecast server</td><td><input name="stream_host" value="<?php echo h($settings['stream_host']); ?>">
port <input name="stream_port" value="<?php echo h($settings['stream_port']); ?>" size="6"></td></tr>
<tr><td>Mount</td><td><input name="stream_mount" value="<?php echo h($settings['stream_mount']); ?>">
<span class="note">MP3 at this mount with ".mp3", Ogg Opus with ".opus"</span></td></tr>
<tr><td>Formats</td><td><label><input type="checkbox" name="stream_mp3" value="1"<?php echo checked($settings['stream_mp3'] === '1'); ?>> MP3</label>
<label><input type="checkbox" name="stream_opus" value="1"<?php echo checked($settings['stream_opus'] === '1'); ?>> Ogg Opus</label></td></tr>
<?php foreach (STATION_TEXTS as $name => $label): ?>
<tr><td><?php echo h($label); ?></td><td><input name="<?php echo $name; ?>" value="<?php echo h($settings[$name]); ?>" size="40"></td></tr>
<?php endforeach; ?>
<tr><td>Source password</td><td><input type="password" name="stream_password" value="" autocomplete="new-password">
<span class="note">Left empty, the stored one stays.</span></td></tr>
</table>
<p><input type="submit" name="save" value="Save"></p>
</form>
<?php
$states = stream_states();
if ($states) {
    echo "<h2>Streams</h2>\n<ul>\n";
    foreach ($states as $address => $state) {
        echo '<li>', h($address), ': ', $state[0] ? 'on air' : 'down (' . h($state[2]) . ')', ' since ',
            h(date('H:i:s', $state[1])), "</li>\n";
    }
    echo "</ul>\n";
}
page_bottom();
