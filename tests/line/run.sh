#!/bin/sh
# Runs the line tests against a PostgreSQL server of their own, made for this run in a
# temporary folder and dropped after it, on a port nobody else uses (several builds may
# test at once). 77: no server can start on this machine.
if ! command -v pg_virtualenv >/dev/null 2>&1; then
    echo "line tests: pg_virtualenv is missing (Debian: postgresql-common), so no server can start" >&2
    exit 77
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# Run as root, pg_virtualenv makes the cluster as the postgres user, who may not enter a
# clone in a private folder (a home folder, mktemp -d): its cluster goes where all may pass.
cluster=$(mktemp -d /tmp/qz-line.XXXXXX) || exit 1
chmod 755 "$cluster"
trap 'rm -rf "$cluster"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
TMPDIR=$cluster pg_virtualenv -t -c "-p $port" "$@"
