<?php
// Starts two processes that would outlive the script, and names them.
$child = proc_open(['sleep', '60'], [], $pipes);
echo "pid ", proc_get_status($child)['pid'], "\n";
echo "pid ", trim(exec('sleep 60 > /dev/null 2>&1 & echo $!')), "\n";
