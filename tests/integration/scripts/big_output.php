<?php
// A line on standard error first, then 4 MiB holding every byte value.
fwrite(fopen('php://stderr', 'w'), "written to standard error\n");
header('Content-Type: application/octet-stream');
$block = '';
for ($i = 0; $i < 256; $i++) {
    $block .= chr($i);
}
echo str_repeat($block, 16384);
