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
if (param('renew_secret') !== null) {
    require_token();
    if (renew_station_secret()) {
        forward_to('settings.php?renewed=1');
    }
    $problems[] = 'A new secret could not be stored in the server folder.';
}
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
    if (!preg_match('/^[A-Za-z0-9.:\-\[\]]+$/D', $host)) {
        $problems[] = 'The server must be a host name or address.';
    }
    if (!preg_match('#^/[A-Za-z0-9._\-/]*$#D', $mount)) {
        $problems[] = 'The mount must begin with "/" and hold only letters, digits, ".", "_", "-" and "/".';
    }
    $new['stream_host'] = $host;
    $new['stream_mount'] = $mount;
    // A request without a name field (a script changing only the sound) keeps what is stored.
    foreach (STATION_TEXTS as $name => $label) {
        if (param($name) === null) {
            continue;
        }
        $new[$name] = trim((string)param($name));
        if (preg_match('/[\x00-\x1f\x7f]/', $new[$name]) || preg_match('//u', $new[$name]) !== 1) {
            $problems[] = $label . ' must be one line of text.';
        }
    }
    // An empty field keeps the stored password; clearing it is a choice of its own.
    $password = (string)param('stream_password');
    $clear = param('stream_password_clear') === '1';
    if (preg_match('/[\r\n]/', $password)) {
        $problems[] = 'The password must be one line.';
    }
    if ($password !== '' && $clear) {
        $problems[] = 'Type a new password or clear the stored one, not both.';
    }
    $moved = $host !== $settings['stream_host'] || $new['stream_port'] !== $settings['stream_port'];
    if ($moved && $password === '' && !$clear && stored_stream_password() !== '') {
        $problems[] = 'The stream now goes to another server or port: type its source password again. The stored '
            . 'password is only ever sent where it was typed for.';
    }
    if (!$problems) {
        $folder = server_folder();
        // The password first: the player never sends the old one to a new server.
        $saved = ($password === '' && !$clear) || replace_file($folder . '/' . STREAM_PASSWORD_FILE, $password);
        $text = '';
        foreach ($new as $name => $value) {
            $text .= $name . '=' . $value . "\n";
        }
        if ($saved && replace_file($folder . '/' . SOUND_SETTINGS_FILE, $text)) {
            forward_to('settings.php?saved=1');
        }
        $problems[] = 'The settings could not be stored in the server folder.';
    }
}

// Writes the file's new text beside it, readable by the station alone, and
// moves it over the old one, so a reader sees one whole text or the other.
function replace_file($file, $text)
{
    $old = umask(077);
    $written = file_put_contents($file . '.new', $text) !== false && chmod($file . '.new', 0600)
        && rename($file . '.new', $file);
    umask($old);
    return $written;
}

function checked($on)
{
    return $on ? ' checked' : '';
}

page_top('Sound and stream');
foreach ($problems as $problem) {
    echo '<p class="error">', h($problem), "</p>\n";
}
if (!$problems && param('saved') === '1') {
    echo '<p class="done" id="message">Saved; the player uses them from its next song.</p>', "\n";
}
if (!$problems && param('renewed') === '1') {
    echo '<p class="done" id="message">A new secret was made: every change link given out before has ended.</p>', "\n";
}
?>
<form method="get" action="settings.php" id="sound">
<?php echo token_input('settings.php'); ?>
<table>
<tr><td><label for="target_lufs">Target loudness (LUFS)</label></td><td><input id="target_lufs" name="target_lufs" value="<?php echo h($settings['target_lufs']); ?>" size="6">
<span class="note">−23 is EBU R128; −16 is common for streams. No song's true peak goes above −1 dBTP.</span></td></tr>
<tr><td><label for="crossfade_s">Crossfade (seconds)</label></td><td><input id="crossfade_s" name="crossfade_s" value="<?php echo h($settings['crossfade_s']); ?>" size="6">
<span class="note">0 for none; advertising and jingles are never faded.</span></td></tr>
<tr><td>Stream</td><td><label><input type="checkbox" name="stream_on" value="1"<?php echo checked($settings['stream_on'] === '1'); ?>> on</label></td></tr>
<tr><td><label for="stream_host">Icecast server</label></td><td><input id="stream_host" name="stream_host" value="<?php echo h($settings['stream_host']); ?>">
<label>port <input name="stream_port" value="<?php echo h($settings['stream_port']); ?>" size="6"></label></td></tr>
<tr><td><label for="stream_mount">Mount</label></td><td><input id="stream_mount" name="stream_mount" value="<?php echo h($settings['stream_mount']); ?>">
<span class="note">MP3 at this mount with ".mp3", Ogg Opus with ".opus"</span></td></tr>
<tr><td>Formats</td><td><label><input type="checkbox" name="stream_mp3" value="1"<?php echo checked($settings['stream_mp3'] === '1'); ?>> MP3</label>
<label><input type="checkbox" name="stream_opus" value="1"<?php echo checked($settings['stream_opus'] === '1'); ?>> Ogg Opus</label></td></tr>
<?php foreach (STATION_TEXTS as $name => $label): ?>
<tr><td><label for="<?php echo $name; ?>"><?php echo h($label); ?></label></td><td><input id="<?php echo $name; ?>" name="<?php echo $name; ?>" value="<?php echo h($settings[$name]); ?>" size="40"></td></tr>
<?php endforeach; ?>
<tr><td><label for="stream_password">Source password</label></td><td><input type="password" id="stream_password" name="stream_password" value="" autocomplete="new-password">
<span class="note">Left empty, the stored one stays.</span>
<label><input type="checkbox" name="stream_password_clear" value="1"> Clear the password</label></td></tr>
</table>
<p><input type="submit" name="save" value="Save"></p>
</form>
<script>
// The form goes out in the background, so the password never stands in the
// address bar or the browser's history; the outcome then replaces the page.
document.getElementById('sound').addEventListener('submit', function (event) {
    event.preventDefault();
    var fields = new URLSearchParams(new FormData(event.target));
    fields.set('save', 'Save');
    fetch('settings.php?' + fields.toString(), {credentials: 'same-origin'}).then(function (reply) {
        return reply.text();
    }).then(function (html) {
        var outcome = new DOMParser().parseFromString(html, 'text/html');
        var onward = outcome.title === 'Done' ? outcome.querySelector('body a') : null;
        if (onward) {
            location.replace(onward.getAttribute('href'));
        } else {
            document.open();
            document.write(html);
            document.close();
        }
    });
});
</script>
<form method="get" action="settings.php">
<?php echo token_input('settings.php'); ?>
<p><input type="submit" name="renew_secret" value="Renew the station's secret">
<span class="note">Every change link and open page's form given out so far stops working; pages opened anew work.</span></p>
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
