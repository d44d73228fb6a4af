#!/bin/sh
# Remove Zentrel Database: drops the access-control database Zentrel through
# the database server's command-line client osql.exe (in windir\system32 once
# the database engine is installed), with Windows authentication. Run by the
# script host (wscript.exe) with the machine's environment, which puts
# windir\system32 and windir first on PATH; takes no arguments. Ends with the
# client's exit status, or 1 when there is no client.

set -u
me="Remove Zentrel Database"

if [ -z "${QUILLON_MACHINE:-}" ]; then
  printf '%s\n' "$me: QUILLON_MACHINE is not set" >&2
  exit 2
fi
if [ -z "${windir:-}" ]; then
  printf '%s\n' "$me: windir is not set" >&2
  exit 2
fi

if ! command -v osql.exe >/dev/null 2>&1; then
  printf '%s\n' "$me: the database client $windir\\system32\\osql.exe is not installed" >&2
  exit 1
fi

osql.exe -E -Q "DROP DATABASE Zentrel"
status=$?
if [ "$status" -eq 0 ]; then
  printf '%s\n' "$me: dropped the database Zentrel"
else
  printf '%s\n' "$me: the database client ended with status $status" >&2
fi
exit "$status"
