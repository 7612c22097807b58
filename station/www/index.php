<?php
// The station's front page: its name, the time, and the way to every page.

// The name shown on every visit; change it to the station's own.
$station_name = 'Demo Station';

function h($text)
{
    return htmlspecialchars($text, ENT_QUOTES, 'UTF-8');
}

// The interpreter is given no TZ, so without a date.timezone setting PHP
// would show UTC; take the machine's own zone where it can be read.
function station_timezone()
{
    $configured = ini_get('date.timezone');
    if ($configured) {
        return $configured;
    }
    $link = @readlink('/etc/localtime');
    if ($link !== false && ($at = strpos($link, 'zoneinfo/')) !== false) {
        $zone = substr($link, $at + strlen('zoneinfo/'));
        if (in_array($zone, timezone_identifiers_list(), true)) {
            return $zone;
        }
    }
    return 'UTC';
}

date_default_timezone_set(station_timezone());
$pages = array(
    'browse.php' => array('Browse folders', 'Look through the station\'s disks and import music folders.'),
    'library.php' => array('Music library', 'The folders and songs the playlist is made from.'),
    'playlist.php' => array('Playlist', 'The coming hour, and sending songs to the player.'),
    'set_guid.php' => array('Sound card', 'Choose the device the player plays on.'),
);
?>
<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title><?php echo h($station_name); ?></title>
<style>
body { font-family: sans-serif; margin: 1em 2em; }
.time { font-size: 120%; }
dt { margin-top: 0.6em; font-weight: bold; }
dd { margin-left: 1em; }
.note, dd { color: #666; }
</style>
</head>
<body>
<h1><?php echo h($station_name); ?></h1>
<p class="time" id="time"><?php echo h(date('l j F Y, H:i')); ?>&nbsp;
<span class="note">(<?php echo h(date_default_timezone_get()); ?>)</span></p>
<dl>
<?php foreach ($pages as $page => $about): ?>
<dt><a href="<?php echo h($page); ?>"><?php echo h($about[0]); ?></a></dt>
<dd><?php echo h($about[1]); ?></dd>
<?php endforeach; ?>
</dl>
</body>
</html>
