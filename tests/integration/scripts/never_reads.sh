#!/bin/sh
# Stands in for the interpreter: tells its pid, then never reads its input
# and never ends.
echo "pid $$"
exec /bin/sleep 3600
