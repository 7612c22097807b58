<?php
// Reports what the interpreter was given: its whole environment in order,
// its raw standard input and the fields PHP made of it.
header('Content-Type: text/plain');
foreach (getenv() as $name => $value) {
    echo "env $name=$value\n";
}
$input = file_get_contents('php://input');
echo 'input ', strlen($input), ' ', md5($input), "\n";
echo 'post ', json_encode($_POST), "\n";
