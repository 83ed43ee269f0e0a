#!/bin/sh
# Runs a command on the current X display with openbox managing its windows: Wine activates
# a new window only where a window manager hands out the focus.
openbox >/dev/null 2>&1 &
manager=$!
sleep 1
status=0
"$@" || status=$?
kill "$manager" 2>/dev/null
exit $status
