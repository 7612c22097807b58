<?php
// Starts three processes that would outlive the script, one of them in a
// session of its own, and names them.
$child = proc_open(['sleep', '60'], [], $pipes);
echo "pid ", proc_get_status($child)['pid'], "\n";
echo "pid ", trim(exec('sleep 60 > /dev/null 2>&1 & echo $!')), "\n";
echo "pid ", trim(exec("setsid sh -c 'echo \$\$; exec sleep 60 > /dev/null 2>&1' &")), "\n";
