#!/bin/sh
# Runs the line tests against a PostgreSQL server of their own, made for this run and
# dropped after it. 77: no server can start on this machine.
if ! command -v pg_virtualenv >/dev/null 2>&1; then
    echo "line tests: pg_virtualenv is missing (Debian: postgresql-common), so no server can start" >&2
    exit 77
fi
exec pg_virtualenv "$@"
