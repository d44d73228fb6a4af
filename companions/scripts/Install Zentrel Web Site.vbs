#!/bin/sh
# Install Zentrel Web Site: publishes the administrative web site, the folder
# Zentrel beside this script, as Inetpub\wwwroot\Zentrel on the system drive
# (the web server's root, so that the site answers at /Zentrel/), through the
# machine's command interpreter and its xcopy.exe. Run by the script host
# (wscript.exe), which names this script's Windows path in QUILLON_SCRIPT;
# takes no arguments. Ends with status 0 when the site is in place, 1 when
# the web server's root is missing or the copy failed.

set -u
me="Install Zentrel Web Site"

if [ -z "${QUILLON_MACHINE:-}" ] || [ -z "${QUILLON_SCRIPT:-}" ]; then
  printf '%s\n' "$me: run me through wscript.exe on a machine (QUILLON_MACHINE, QUILLON_SCRIPT)" >&2
  exit 2
fi

# The web server's content lies on the system drive, the drive of windir.
system_drive="C:"
case "${windir:-}" in
  ?:*) system_drive=$(printf '%s' "$windir" | cut -c1-2) ;;
esac
root_windows="$system_drive\\Inetpub\\wwwroot"
site_source="${QUILLON_SCRIPT%\\*}\\Zentrel"

if ! cmd.exe /c xcopy "$site_source" "$root_windows\\Zentrel\\" /E /I /Y /Q; then
  printf '%s\n' "$me: could not publish $site_source as $root_windows\\Zentrel" >&2
  exit 1
fi
printf '%s\n' "$me: published the site as $root_windows\\Zentrel"
