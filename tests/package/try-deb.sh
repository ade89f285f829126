#!/usr/bin/env bash
# The Ostrelin .deb tried as a user would, inside a throwaway copy of a clean
# root of a Debian release (scripts/debian-root.sh NAME try ...):
#
#   try-deb.sh NAME DEB SENDER LOG_TEXTS.py
#       apt-get installs the package with what it needs; OBS Studio runs the
#       installed module through the real-OBS test (tests/real-obs/run.sh
#       --installed); apt-get removes it and no file of it stays. Ends with
#       "package-NAME: N passed, M failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

CHECKS_SAY_OK=yes
. "$here/../../scripts/lib/common.sh"
status_of() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | tr -d ' '; }
log=/tmp/apt.log

name=$1 deb=$(realpath "$2") sender=$3 log_texts=$4
started=$SECONDS
check "apt-get install $deb" apt-get install -y -o Dpkg::Options::=--force-unsafe-io "$deb" >"$log" 2>&1 || tail -n 20 "$log"
echo "    apt-get installed $(grep -c '^Setting up ' "$log") packages in $((SECONDS - started)) s"
check "ostrelin is installed" test "$(status_of ostrelin)" = ii
check "OBS Studio came with it" test "$(status_of obs-studio)" = ii
echo "    $(dpkg-query -W -f='${Package} ${Version}\n' ostrelin obs-studio | tr '\n' ' ')"

# The package's files (not its folders), as dpkg lists them.
files=$(dpkg -L ostrelin | while read -r path; do [ -d "$path" ] || echo "$path"; done)
check "dpkg lists the module and its language files" \
	test "$(grep -cE '/obs-plugins/ostrelin\.so$|/obs/obs-plugins/ostrelin/locale/[a-z]{2}-[A-Z]{2}\.ini$' <<<"$files")" -eq \
	"$(ls "$here/../../data/locale" | wc -l | awk '{ print $1 + 1 }')"
check "the real-OBS test passes against the installed module" \
	bash "$here/../real-obs/run.sh" --installed "$sender" "$log_texts"

started=$SECONDS
check "apt-get remove ostrelin" apt-get remove -y ostrelin >"$log" 2>&1 || tail -n 20 "$log"
echo "    removed in $((SECONDS - started)) s"
check "ostrelin is no longer installed" test -z "$(status_of ostrelin | grep '^ii')"
left=$(while read -r path; do [ ! -e "$path" ] || echo "$path"; done <<<"$files")
check "no file of the package is left ($(wc -l <<<"$files") were installed)" test -z "$left"
[ -z "$left" ] || echo "$left"
check "nor its folders" bash -c '! ls -d /usr/share/obs/obs-plugins/ostrelin /usr/share/doc/ostrelin 2>/dev/null'
check "OBS Studio stays installed" test "$(status_of obs-studio)" = ii
checks_summary "package-$name"
