#!/usr/bin/env bash
# Builds ostrelin_<version>-1_amd64.deb, one package for Debian 12 and later
# and Ubuntu, from the portable module (scripts/build-portable.sh): it names
# no libobs and no FFmpeg library, so no release's upgrade removes what it
# needs.
#
#   scripts/package-deb.sh [--build-dir DIR] [--out DIR]
#
#   --build-dir DIR  the portable build (default build/portable; built
#                    first when it is not there)
#   --out DIR        where the package goes (default build/packages)
#
# Files: the module beside libobs's own plug-ins, its data folder (language
# files, manifest.json), and in /usr/share/doc/ostrelin the copyright, the
# notice saying which FFmpeg is inside, and the changelog; the lintian
# override for that FFmpeg. Depends: obs-studio (>= 29) and what
# dpkg-shlibdeps finds (glibc and the C++ runtime).
# SOURCE_DATE_EPOCH, when set, dates the changelog.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/lib/common.sh"
build=$repo/build/portable
out=$repo/build/packages
while [ $# -gt 0 ]; do
	case "$1" in
	--build-dir | --out)
		[ $# -ge 2 ] || { echo "package-deb.sh: $1 needs a folder" >&2; exit 2; }
		if [ "$1" = --build-dir ]; then build=$(realpath "$2"); else out=$2; fi
		shift
		;;
	*)
		echo "package-deb.sh: unknown option $1" >&2
		exit 2
		;;
	esac
	shift
done
if [ ! -f "$build/ostrelin.so" ] || [ ! -f "$build/licences/NOTICE.txt" ]; then
	"$repo/scripts/build-portable.sh" </dev/null >&2
fi

upstream=$(ostrelin_version)
version=$upstream-1
arch=amd64
multiarch=x86_64-linux-gnu
maintainer=$(sed -nE 's/^Upstream-Contact: //p' "$repo/packaging/deb/copyright")

work=$repo/build/deb
pkg=$work/ostrelin
rm -rf "$work"
mkdir -p "$pkg/DEBIAN" "$work/debian" "$out"

module=$pkg/usr/lib/$multiarch/obs-plugins/ostrelin.so
install -D -m 0644 "$build/ostrelin.so" "$module"
data=$pkg/usr/share/obs/obs-plugins/ostrelin
mkdir -p "$data"
cp -r "$build/data/." "$data/"
find "$data" -type d -exec chmod 0755 {} + -o -type f -exec chmod 0644 {} +

doc=$pkg/usr/share/doc/ostrelin
install -D -m 0644 "$repo/packaging/deb/copyright" "$doc/copyright"
install -m 0644 "$build/licences/NOTICE.txt" "$doc/NOTICE"
date=$(date -R -u ${SOURCE_DATE_EPOCH:+-d "@$SOURCE_DATE_EPOCH"})
# This version's entry, then the earlier packages' (packaging/deb/changelog-history).
{
	printf 'ostrelin (%s) unstable; urgency=medium\n\n' "$version"
	printf '  * Ostrelin %s: one package for Debian 12 and later and Ubuntu, from\n' "$upstream"
	printf '    the portable module, with its own decoders.\n\n -- %s  %s\n\n' "$maintainer" "$date"
	cat "$repo/packaging/deb/changelog-history"
} | gzip -9n >"$doc/changelog.Debian.gz"
chmod 0644 "$doc/changelog.Debian.gz"
install -D -m 0644 "$repo/packaging/deb/lintian-overrides" "$pkg/usr/share/lintian/overrides/ostrelin"

# dpkg-shlibdeps reads the package's name from a debian/control beside it.
# Its warning 1 (a symbol found in none of the libraries) is off: the
# module's libobs functions are found in the OBS process, on purpose.
printf 'Source: ostrelin\n\nPackage: ostrelin\nArchitecture: %s\n' "$arch" >"$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps --warnings=6 -O -e"${module#"$work"/}" 2>"$work/shlibdeps.log" |
	sed -n 's/^shlibs:Depends=//p')
grep -vE 'diversions involved|^ diversion by ' "$work/shlibdeps.log" >&2 || true
[ -n "$depends" ] || { echo "package-deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

cat >"$pkg/DEBIAN/control" <<CONTROL
Package: ostrelin
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$pkg" | cut -f1)
Depends: obs-studio (>= 29), $depends
Section: video
Priority: optional
Description: phone camera source for OBS Studio
 Ostrelin turns a phone into a live camera for OBS Studio: the phone's app
 sends its pictures and sound over USB (through adb) or Wi-Fi, and an
 Ostrelin source in OBS shows them at once and sends camera controls, such
 as zoom, back to the phone.
CONTROL
(cd "$pkg" && find usr -type f -printf '%P\n' | sort | sed 's|^|usr/|' | xargs md5sum) >"$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums"

deb=$out/ostrelin_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "$deb"
