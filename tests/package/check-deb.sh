#!/usr/bin/env bash
# What an Ostrelin .deb holds, read from the file itself (dpkg-deb) with no
# system of its release needed: its name and version, its exact file list
# with owners and modes, the libraries its module needs, its dependency line
# naming that release's FFmpeg and libobs packages, its copyright and
# changelog, and lintian without errors (where lintian is installed).
#
#   check-deb.sh DEB...
#
# Ends with "deb-contents: N passed, M failed".
set -uo pipefail

# release  libavcodec    libavutil    libobs package  at least
releases="
deb12 libavcodec59 libavutil57 libobs0 29.0.2
deb13 libavcodec61 libavutil59 libobs0t64 30.2.3
sid libavcodec63 libavutil61 libobs0t64 32.2.2
"

. "$(dirname "$0")/../lib/checks.sh"
same() { [ "$1" = "$2" ] || { printf 'want:\n%s\ngot:\n%s\n' "$1" "$2"; return 1; }; }
matches() { grep -Eq -- "$2" <<<"$1" || { echo "\"$1\" does not match /$2/"; return 1; }; }
lacks() { ! grep -Eq -- "$2" <<<"$1" || { echo "\"$1\" matches /$2/"; return 1; }; }

repo=$(cd "$(dirname "$0")/../.." && pwd)
upstream=$(sed -nE 's/^project\(ostrelin VERSION ([0-9.]+).*/\1/p' "$repo/CMakeLists.txt")
locales=$(cd "$repo/data/locale" && ls -- *.ini)
plugins=usr/lib/x86_64-linux-gnu/obs-plugins
want_files=$( (echo "-rw-r--r-- root/root $plugins/ostrelin.so"
	echo "-rw-r--r-- root/root usr/share/doc/ostrelin/changelog.Debian.gz"
	echo "-rw-r--r-- root/root usr/share/doc/ostrelin/copyright"
	for f in $locales; do echo "-rw-r--r-- root/root usr/share/obs/obs-plugins/ostrelin/locale/$f"; done) | sort)

for deb in "$@"; do
	name=${deb##*/}
	release=$(sed -nE 's/^ostrelin_[0-9.]+-1~([a-z0-9]+)_amd64\.deb$/\1/p' <<<"$name")
	row=$(awk -v r="$release" '$1 == r' <<<"$releases")
	check "$name is named ostrelin_${upstream}-1~<release>_amd64.deb for a known release" test -n "$row"
	[ -n "$row" ] || continue
	read -r _ avcodec avutil libobs libobs_min <<<"$row"
	echo "--- $name: $avcodec, $avutil, $libobs (>= $libobs_min)"

	check "$name: Package ostrelin" same ostrelin "$(dpkg-deb -f "$deb" Package)"
	check "$name: Version $upstream-1~$release" same "$upstream-1~$release" "$(dpkg-deb -f "$deb" Version)"
	check "$name: Architecture amd64" same amd64 "$(dpkg-deb -f "$deb" Architecture)"
	check "$name: exactly the module, the language files and the two documents, owned by root" \
		same "$want_files" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $1, $2, $6 }' | sort)"

	unpacked=$(mktemp -d)
	dpkg-deb -x "$deb" "$unpacked"
	needed=$(objdump -p "$unpacked/$plugins/ostrelin.so" | awk '$1 == "NEEDED" { print $2 }')
	check "$name: the module needs ${avcodec#lib}'s library" matches "$needed" "^libavcodec\\.so\\.${avcodec#libavcodec}\$"
	check "$name: the module needs ${avutil#lib}'s library" matches "$needed" "^libavutil\\.so\\.${avutil#libavutil}\$"
	check "$name: the module needs libobs.so.0" matches "$needed" '^libobs\.so\.0$'
	check "$name: the module is stripped" bash -c "! objdump -h '$unpacked/$plugins/ostrelin.so' | grep -q '\\.debug_'"
	check "$name: copyright is machine-readable" matches "$(head -n 1 "$unpacked/usr/share/doc/ostrelin/copyright")" \
		'^Format: https://www\.debian\.org/doc/packaging-manuals/copyright-format/1\.0/$'
	check "$name: the changelog's entry is this version" \
		matches "$(zcat "$unpacked/usr/share/doc/ostrelin/changelog.Debian.gz" | head -n 1)" \
		"^ostrelin \\($upstream-1~$release\\) [a-z]+; urgency=medium\$"
	rm -rf "$unpacked"

	depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//')
	check "$name: depends on $avcodec" matches "$depends" "^$avcodec \\(>= [^)]+\\)\$"
	check "$name: depends on $avutil" matches "$depends" "^$avutil \\(>= [^)]+\\)\$"
	check "$name: depends on $libobs (>= $libobs_min)" matches "$depends" "^$libobs \\(>= ${libobs_min//./\\.}\\)\$"
	check "$name: depends on obs-studio" matches "$depends" '^obs-studio$'
	check "$name: no other FFmpeg or libobs package" same 3 "$(grep -cE '^lib(avcodec|avutil|obs)' <<<"$depends")"
	if command -v lintian >/dev/null; then
		check "$name: lintian reports no error" bash -c "! lintian '$deb' 2>/dev/null | grep '^E:'"
	fi
done

checks_summary deb-contents
