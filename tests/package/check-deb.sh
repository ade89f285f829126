#!/usr/bin/env bash
# What the one Ostrelin .deb holds, read from the file itself (dpkg-deb), with
# no system of a release needed: its name and version, its exact file list
# with owners and modes, the libraries its module needs (no libobs, no
# FFmpeg), its dependency line, its copyright, notice and changelog, and
# lintian without an error or a warning but the overridden tag about the
# FFmpeg inside (where lintian is installed).
#
#   check-deb.sh DEB
#
# Ends with "deb-contents: N passed, M failed".
set -uo pipefail

same() { [ "$1" = "$2" ] || { printf 'want:\n%s\ngot:\n%s\n' "$1" "$2"; return 1; }; }
matches() { grep -Eq -- "$2" <<<"$1" || { echo "\"$1\" does not match /$2/"; return 1; }; }
lacks() { ! grep -Eq -- "$2" <<<"$1" || { echo "\"$1\" matches /$2/"; return 1; }; }

repo=$(cd "$(dirname "$0")/../.." && pwd)
. "$repo/scripts/lib/common.sh"
upstream=$(ostrelin_version)
locales=$(cd "$repo/data/locale" && ls -- *.ini)
plugins=usr/lib/x86_64-linux-gnu/obs-plugins
data=usr/share/obs/obs-plugins/ostrelin
want_files=$( (echo "-rw-r--r-- root/root $plugins/ostrelin.so"
	echo "-rw-r--r-- root/root $data/manifest.json"
	for f in $locales; do echo "-rw-r--r-- root/root $data/locale/$f"; done
	for f in changelog.Debian.gz copyright NOTICE; do echo "-rw-r--r-- root/root usr/share/doc/ostrelin/$f"; done
	echo "-rw-r--r-- root/root usr/share/lintian/overrides/ostrelin") | sort)

deb=$1
name=${deb##*/}
check "$name is named ostrelin_${upstream}-1_amd64.deb" same "ostrelin_${upstream}-1_amd64.deb" "$name"
check "Package ostrelin" same ostrelin "$(dpkg-deb -f "$deb" Package)"
check "Version $upstream-1" same "$upstream-1" "$(dpkg-deb -f "$deb" Version)"
check "Architecture amd64" same amd64 "$(dpkg-deb -f "$deb" Architecture)"
check "exactly the module, its data folder, the documents and the lintian override, owned by root" \
	same "$want_files" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $1, $2, $6 }' | sort)"

unpacked=$(mktemp -d)
dpkg-deb -x "$deb" "$unpacked"
needed=$(objdump -p "$unpacked/$plugins/ostrelin.so" | awk '$1 == "NEEDED" { print $2 }')
echo "    the module needs: $(echo $needed)"
check "the module needs no libobs and no FFmpeg library" lacks "$needed" '^lib(obs|av|sw)'
check "the module is stripped" bash -c "! objdump -h '$unpacked/$plugins/ostrelin.so' | grep -q '\\.debug_'"
check "the manifest names Ostrelin $upstream" grep -q "\"version\": \"$upstream\"" "$unpacked/$data/manifest.json"
check "copyright is machine-readable" matches "$(head -n 1 "$unpacked/usr/share/doc/ostrelin/copyright")" \
	'^Format: https://www\.debian\.org/doc/packaging-manuals/copyright-format/1\.0/$'
check "the notice names the FFmpeg inside" grep -qE '^ostrelin\.so contains FFmpeg [0-9]' \
	"$unpacked/usr/share/doc/ostrelin/NOTICE"
check "the notice lists the decoders and parsers its FFmpeg configure line enables, H.265's among them" \
	notice_lists_hevc "$unpacked/usr/share/doc/ostrelin/NOTICE"
check "the changelog's entry is this version" \
	matches "$(zcat "$unpacked/usr/share/doc/ostrelin/changelog.Debian.gz" | head -n 1)" \
	"^ostrelin \\($upstream-1\\) unstable; urgency=medium\$"
rm -rf "$unpacked"

depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//')
echo "    Depends: $(echo $depends)"
check "depends on obs-studio (>= 29)" matches "$depends" '^obs-studio \(>= 29\)$'
check "depends on glibc" matches "$depends" '^libc6 \(>= [^)]+\)$'
check "names no libobs and no FFmpeg package" lacks "$depends" '^lib(obs|av|sw)'
if command -v lintian >/dev/null; then
	report=$(lintian --show-overrides "$deb" 2>/dev/null)
	echo "$report" | sed 's/^/    /'
	check "lintian reports no error or warning" lacks "$report" '^[EW]:'
	check "lintian's tag about the FFmpeg inside is overridden" matches "$report" '^O: ostrelin: embedded-library '
fi
checks_summary deb-contents
