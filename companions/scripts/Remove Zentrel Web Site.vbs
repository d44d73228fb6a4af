#!/bin/sh
# Remove Zentrel Web Site: takes down the administrative web site, i.e. the
# folder Inetpub\wwwroot\Zentrel on the system drive that the web site install
# leaves. Run by the script host (wscript.exe) with the machine's environment;
# takes no arguments. Ends with status 0 when the site is gone (or was never
# there) and 1 when it could not be removed.

set -u
me="Remove Zentrel Web Site"

if [ -z "${QUILLON_MACHINE:-}" ]; then
  printf '%s\n' "$me: QUILLON_MACHINE is not set" >&2
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

# The web server's content lies on the system drive, the drive of windir.
system_drive="C:"
case "${windir:-}" in
  ?:*) system_drive=$(printf '%s' "$windir" | cut -c1-2) ;;
esac
site_windows="$system_drive\\Inetpub\\wwwroot\\Zentrel"
site=$(machine_path "$site_windows")

if [ ! -e "$site" ]; then
  printf '%s\n' "$me: no web site at $site_windows"
  exit 0
fi
if rm -rf -- "$site" && [ ! -e "$site" ]; then
  printf '%s\n' "$me: removed $site_windows"
  exit 0
fi
printf '%s\n' "$me: could not remove $site_windows" >&2
exit 1
