<?php
// What is on air, as the player publishes it in onair.json; the page reloads
// itself every 5 s.

require __DIR__ . '/include/page.inc';
require __DIR__ . '/include/onair.inc';

$state = onair_state();
page_top('On air', '<meta http-equiv="refresh" content="5">' . "\n");
if ($state === null): ?>
<p class="note" id="player-state">The player has not published what it plays yet.</p>
<?php else:
    echo onair_html($state, true), "\n";
endif;
page_bottom();
