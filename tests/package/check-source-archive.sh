#!/usr/bin/env bash
# The source archive a release carries (scripts/release.sh): Ostrelin's
# source at the commit released, and the source of every library linked
# statically into its binaries, at the version inside them.
#   check-source-archive.sh DIST_DIR    (build/dist/ostrelin-<version>)
# Ends with "source-archive: N passed, M failed".
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
. "$repo/scripts/lib/common.sh"
dist=$1
version=$(ostrelin_version)
name=ostrelin-$version-source
archive=$dist/$name.tar.xz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
same_lines() { [ "$1" = "$2" ] || { diff <(echo "$1") <(echo "$2") | head -n 20; return 1; }; }

check "the release has $name.tar.xz" test -f "$archive"
tar -C "$work" -xf "$archive" 2>/dev/null
check "SHA256SUMS covers it" sh -c 'cd "$1" && grep -q " $2\$" SHA256SUMS && sha256sum --check --ignore-missing --quiet SHA256SUMS' \
	sh "$dist" "$name.tar.xz"
check "it holds Ostrelin's source exactly as committed" same_lines \
	"$(git -C "$repo" ls-tree -r --name-only HEAD | sort)" \
	"$(cd "$work/$name" && find . -type f ! -path './third-party/*' | sed 's|^\./||' | sort)"

# FFmpeg: what the Windows DLL and the portable module (and the .deb made
# from it) carry, by the source package version their builds name and the
# version their notices give.
ffmpeg=$work/$name/third-party/ffmpeg
built=$(cat "$repo/build/ffmpeg-linux/built-from" 2>/dev/null)
check "the Windows and Linux FFmpeg were built from one source package ($built)" \
	test -n "$built" -a "$built" = "$(cat "$repo/build/ffmpeg-windows/built-from" 2>/dev/null)"
dsc=$(ls "$ffmpeg"/ffmpeg_*.dsc 2>/dev/null | head -n 1)
check "it holds Debian's ffmpeg source package $built" test "$(sed -n 's/^Version: //p' "${dsc:-/none}")" = "$built"
files_ok() {
	# Every file the .dsc lists is there, with its SHA-256 sum.
	local sum size file count=0
	while read -r sum size file; do
		[ -f "$ffmpeg/$file" ] && [ "$(sha256sum <"$ffmpeg/$file" | cut -d' ' -f1)" = "$sum" ] || {
			echo "    $file missing or changed"
			return 1
		}
		count=$((count + 1))
	done < <(sed -n '/^Checksums-Sha256:/,/^[^ ]/p' "$dsc" | grep '^ ')
	[ "$count" -ge 2 ]
}
check "every file of that source package, with the sums its .dsc gives" files_ok
upstream=$(sed -nE 's/^(ostrelin\.(so|dll)) contains FFmpeg ([0-9.]+).*/\3/p' "$repo/build/portable/licences/NOTICE.txt" \
	2>/dev/null | head -n 1)
check "its upstream version is the FFmpeg the notice names (${upstream:-none})" \
	test -n "$upstream" -a -f "$ffmpeg/ffmpeg_$upstream.orig.tar.xz"
checks_summary source-archive
