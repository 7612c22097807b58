<?php
// Sends its raw standard input back between markers, after the length the
// environment announced.
header('Content-Type: application/octet-stream');
echo 'length ', getenv('CONTENT_LENGTH'), "\n<<<", file_get_contents('php://input'), '>>>';
