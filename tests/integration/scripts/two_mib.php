<?php
// 2 MiB of text: far more than the connection's buffers hold at once.
echo str_repeat("0123456789abcdef", 131072);
