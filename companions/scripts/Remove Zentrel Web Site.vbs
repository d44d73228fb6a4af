#!/bin/sh
# Remove Zentrel Web Site: takes down the administrative web site, i.e. the
# folder Inetpub\wwwroot\Zentrel on the system drive that the web site install
# leaves, through the machine's command interpreter (rmdir /s /q). Run by the
# script host (wscript.exe) with the machine's environment, which finds
# cmd.exe in windir\system32; takes no arguments. Ends with status 0 when the
# site is gone (or was never there) and 1 when it could not be removed.

set -u
me="Remove Zentrel Web Site"

if [ -z "${QUILLON_MACHINE:-}" ]; then
  printf '%s\n' "$me: QUILLON_MACHINE is not set" >&2
  exit 2
fi

# The web server's content lies on the system drive, the drive of windir.
system_drive="C:"
case "${windir:-}" in
  ?:*) system_drive=$(printf '%s' "$windir" | cut -c1-2) ;;
esac
site_windows="$system_drive\\Inetpub\\wwwroot\\Zentrel"

# The interpreter ends rmdir with status 2 when the folder is not there.
report=$(cmd.exe /c rmdir /s /q "$site_windows" 2>&1)
status=$?
case $status in
  0)
    printf '%s\n' "$me: removed $site_windows"
    exit 0
    ;;
  2)
    printf '%s\n' "$me: no web site at $site_windows"
    exit 0
    ;;
esac
[ -z "$report" ] || printf '%s\n' "$report" >&2
printf '%s\n' "$me: could not remove $site_windows" >&2
exit 1
