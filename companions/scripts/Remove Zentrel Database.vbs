#!/bin/sh
# Remove Zentrel Database: drops the access-control database Zentrel through
# the database server's command-line client osql.exe (in windir\system32 once
# the database engine is installed), with Windows authentication. Run by the
# script host (wscript.exe) with the machine's environment; takes no
# arguments. Ends with the client's exit status, or 1 when there is no client.

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

# Prints the lower-case form of a text (ASCII letters, as the machine matches).
lower() {
  printf '%s' "$1" | tr 'ABCDEFGHIJKLMNOPQRSTUVWXYZ' 'abcdefghijklmnopqrstuvwxyz'
}

# Maps a Windows path "X:\a\b" onto the machine: drive X is drive_x below the
# machine root, and each element is matched against the existing entries of
# its folder without regard to letter case; an element that does not exist is
# kept as given. Empty elements are skipped.
machine_path() {
  drive=$(lower "$(printf '%s' "$1" | cut -c1)")
  rest=$(printf '%s' "$1" | cut -c3-)
  path="$QUILLON_MACHINE/drive_$drive"
  set -f
  saved_ifs=$IFS
  # One backslash: the Windows path separator.
  # shellcheck disable=SC1003,SC2141
  IFS='\'
  for element in $rest; do
    [ -n "$element" ] || continue
    wanted=$(lower "$element")
    found=$element
    set +f
    for entry in "$path"/* "$path"/.[!.]*; do
      [ -e "$entry" ] || continue
      name=${entry##*/}
      if [ "$(lower "$name")" = "$wanted" ]; then
        found=$name
        break
      fi
    done
    set -f
    path="$path/$found"
  done
  IFS=$saved_ifs
  set +f
  printf '%s\n' "$path"
}

client_windows="$windir\\system32\\osql.exe"
client=$(machine_path "$client_windows")
if [ ! -x "$client" ]; then
  printf '%s\n' "$me: the database client $client_windows is not installed" >&2
  exit 1
fi

"$client" -E -Q "DROP DATABASE Zentrel"
status=$?
if [ "$status" -eq 0 ]; then
  printf '%s\n' "$me: dropped the database Zentrel"
else
  printf '%s\n' "$me: the database client ended with status $status" >&2
fi
exit "$status"
