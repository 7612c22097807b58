<?php
// Never ends by itself, and uses no CPU time that a time limit would count.
set_time_limit(0);
header('Content-Type: text/plain');
echo 'pid ', getmypid(), "\n";
while (ob_get_level() > 0) {
    ob_end_flush();
}
flush();
while (true) {
    usleep(100000);
}
