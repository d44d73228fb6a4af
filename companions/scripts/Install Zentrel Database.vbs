#!/bin/sh
# Install Zentrel Database: creates the access-control database Zentrel on the
# local database server and its tables from the schema beside this script
# (zentrel_tables.sql: APPS, APP_EXES, USERS, ALLOWED_APPS, ACCESS_REQUESTS,
# all empty, ids numbered from 1), through the server's command-line client
# osql.exe with Windows authentication. Run by the script host (wscript.exe),
# which puts windir\system32 first on PATH and names this script's Windows
# path in QUILLON_SCRIPT; takes no arguments. Ends with status 0 when the
# database and its tables were made, 1 otherwise (a database Zentrel that is
# already there is left alone).

set -u
me="Install Zentrel Database"

if [ -z "${QUILLON_MACHINE:-}" ] || [ -z "${QUILLON_SCRIPT:-}" ]; then
  printf '%s\n' "$me: run me through wscript.exe on a machine (QUILLON_MACHINE, QUILLON_SCRIPT)" >&2
  exit 2
fi
if ! command -v osql.exe >/dev/null 2>&1; then
  printf '%s\n' "$me: the database client osql.exe is not installed" >&2
  exit 1
fi

# The schema lies beside this script.
schema="${QUILLON_SCRIPT%\\*}\\zentrel_tables.sql"

# -b: a failing batch ends the client with status 1, so that an existing
# database is not filled a second time.
if ! osql.exe -E -b -Q "CREATE DATABASE Zentrel"; then
  printf '%s\n' "$me: could not create the database Zentrel" >&2
  exit 1
fi
if ! osql.exe -E -b -d Zentrel -i "$schema"; then
  printf '%s\n' "$me: could not create the tables from $schema" >&2
  exit 1
fi
printf '%s\n' "$me: created the database Zentrel with its tables"
