<?php
// Leaves a file beside itself when it runs.
touch(__DIR__ . '/ran');
