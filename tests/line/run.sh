#!/bin/sh
# Runs the line tests against a PostgreSQL server of their own, made for this run in a
# temporary folder and dropped after it, on a port nobody else uses (several builds may
# test at once). 77: no server can start on this machine.
if ! command -v pg_virtualenv >/dev/null 2>&1; then
    echo "line tests: pg_virtualenv is missing (Debian: postgresql-common), so no server can start" >&2
    exit 77
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
exec pg_virtualenv -t -c "-p $port" "$@"
