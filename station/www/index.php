<?php
// The station's front page: its name, the time, what is on air once the
// player publishes it, and the way to every page.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/onair.inc';
require __DIR__ . '/include/library.inc';
require __DIR__ . '/include/tags.inc';
require __DIR__ . '/include/sound.inc';

// The name shown on every visit unless settings.php names the station.
$station_name = 'Demo Station';

$pages = array(
    'onair.php' => array('On air', 'The song on air, the next ones and the ones played.'),
    'browse.php' => array('Browse folders', 'Look through the station\'s disks and import music folders.'),
    'library.php' => array('Music library', 'The folders and songs the playlist is made from.'),
    'schedule.php' => array('Schedule', 'Which folders play at which hour on which days.'),
    'playlist.php' => array('Playlist', 'The coming hour, and sending songs to the player.'),
    'set_guid.php' => array('Sound card', 'Choose the device the player plays on.'),
    'settings.php' => array('Sound and stream', 'The station\'s loudness, crossfades and Icecast stream.'),
);
$sound = sound_settings();
$station_name = station_name($sound, $station_name);
$state = onair_state();
// What is on air is kept current from nowplaying.php (below), so the
// stream's player is never cut by a reload.
page_top($station_name);
?>
<p class="time"><span id="time" data-zone="<?php echo h(date_default_timezone_get()); ?>"><?php
    echo h(date('l j F Y, H:i:s')); ?></span>&nbsp;
<span class="note">(<?php echo h(date_default_timezone_get()); ?>)</span></p>
<script>
(function () {
  var clock = document.getElementById('time');
  var format = new Intl.DateTimeFormat('en-GB', {timeZone: clock.dataset.zone, weekday: 'long', day: 'numeric',
    month: 'long', year: 'numeric', hour: '2-digit', minute: '2-digit', second: '2-digit', hour12: false});
  function tick() {
    var parts = {};
    format.formatToParts(new Date()).forEach(function (part) { parts[part.type] = part.value; });
    clock.textContent = parts.weekday + ' ' + parts.day + ' ' + parts.month + ' ' + parts.year + ', ' + parts.hour
      + ':' + parts.minute + ':' + parts.second;
  }
  tick();
  setInterval(tick, 1000);
})();
</script>
<?php if ($sound['stream_on'] === '1'): ?>
<p id="stream">Listen: <a href="<?php echo h(stream_listen_url($sound)); ?>"><?php echo h(stream_listen_url($sound)); ?></a>
<?php
    $listeners = stream_listeners($sound);
    $states = stream_states();
    $mp3 = 'icecast://' . $sound['stream_host'] . ':' . $sound['stream_port'] . $sound['stream_mount'] . '.mp3';
    if (isset($states[$mp3]) && !$states[$mp3][0]) {
        echo '<span class="error">the stream is down since ', h(date('H:i:s', $states[$mp3][1])), ' (', h($states[$mp3][2]), ')</span>';
    } elseif ($listeners !== null) {
        echo '<span class="listeners">', h($listeners), $listeners === 1 ? ' listener' : ' listeners', '</span>';
    }
?></p>
<p><audio id="listen" controls preload="none" src="<?php echo h(stream_listen_url($sound)); ?>"></audio></p>
<?php endif; ?>
<?php if ($state !== null): ?>
<div id="onair"><?php echo onair_html($state, false); ?></div>
<script>
(function () {
  var now = document.getElementById('now');
  function clock(seconds) { return Math.floor(seconds / 60) + ':' + ('0' + seconds % 60).slice(-2); }
  // Untagged songs keep their file's name, as the page shows them.
  function name(song) {
    if (song.artist) return song.artist + ' \u2013 ' + song.title;
    return song.file.replace(/\.[^.]*$/, '') === song.title ? song.file : song.title;
  }
  function show(answer) {
    var playing = answer.now_playing;
    if (!playing) {
      now.textContent = answer.is_online ? 'Nothing is playing.' : 'The player is not running.';
      return;
    }
    var strong = document.createElement('strong'), song = document.createElement('span');
    song.className = 'song';
    song.title = playing.song.file;
    song.textContent = name(playing.song);
    strong.appendChild(song);
    now.replaceChildren(strong, ' ' + clock(playing.elapsed) + ' of ' + clock(playing.duration));
    var listeners = document.querySelector('#stream .listeners');
    if (listeners) listeners.textContent = answer.listeners.total + (answer.listeners.total === 1 ? ' listener' : ' listeners');
  }
  setInterval(function () {
    fetch('nowplaying.php').then(function (reply) { return reply.json(); }).then(show).catch(function () {});
  }, 10000);
})();
</script>
<?php endif; ?>
<dl>
<?php foreach ($pages as $page => $about): ?>
<dt><a href="<?php echo h($page); ?>"><?php echo h($about[0]); ?></a></dt>
<dd><?php echo h($about[1]); ?></dd>
<?php endforeach; ?>
</dl>
<style>.time { font-size: 120%; } dt { margin-top: 0.6em; font-weight: bold; } dd { margin-left: 1em; color: #666; }</style>
<?php page_bottom(); ?>
