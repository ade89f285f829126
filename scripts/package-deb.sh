#!/usr/bin/env bash
# Builds ostrelin_<version>_<arch>.deb for the Debian release it runs in (the
# host, or a root of scripts/debian-root.sh: "debian-root.sh obs30 run
# /src/scripts/package-deb.sh --build-dir build/obs30"), from a module built
# there against that release's libobs and FFmpeg.
#
#   scripts/package-deb.sh [--build-dir DIR] [--out DIR]
#
#   --build-dir DIR  the build holding ostrelin.so (default build/release;
#                    built first when it is not there)
#   --out DIR        where the package goes (default build/packages)
#
# The version is the project's, with a Debian revision naming the release
# (2.2.1-1~deb12, 2.2.1-1~deb13, 2.2.1-1~sid), so that the three packages sit
# side by side and a newer release's sorts above an older one's. The files are
# those of scripts/install.sh --system; the dependencies are dpkg-shlibdeps's
# (the release's libobs, at least the version built against, libavcodec and
# libavutil packages) and obs-studio.
# SOURCE_DATE_EPOCH, when set, dates the changelog.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build/release
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

# The release: Debian 12 -> deb12, 13 -> deb13; unstable has no VERSION_ID.
. /etc/os-release
if [ -n "${VERSION_ID:-}" ]; then
	release=deb$VERSION_ID
	distribution=$VERSION_CODENAME
else
	release=sid
	distribution=unstable
fi
upstream=$(sed -nE 's/^project\(ostrelin VERSION ([0-9.]+).*/\1/p' "$repo/CMakeLists.txt")
version=$upstream-1~$release
arch=$(dpkg --print-architecture)
maintainer=$(sed -nE 's/^Upstream-Contact: //p' "$repo/packaging/deb/copyright")

work=$repo/build/deb/$release
pkg=$work/ostrelin
rm -rf "$work"
mkdir -p "$pkg/DEBIAN" "$work/debian" "$out"

DESTDIR=$pkg "$repo/scripts/install.sh" --system --build-dir "$build" </dev/null >/dev/null
module=$(find "$pkg/usr/lib" -name ostrelin.so)
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$module"
chmod 0644 "$module"

doc=$pkg/usr/share/doc/ostrelin
install -D -m 0644 "$repo/packaging/deb/copyright" "$doc/copyright"
date=$(date -R -u ${SOURCE_DATE_EPOCH:+-d "@$SOURCE_DATE_EPOCH"})
printf 'ostrelin (%s) %s; urgency=medium\n\n  * Ostrelin %s built for Debian %s.\n\n -- %s  %s\n' \
	"$version" "$distribution" "$upstream" "$distribution" "$maintainer" "$date" | gzip -9n >"$doc/changelog.Debian.gz"
chmod 0644 "$doc/changelog.Debian.gz"

# dpkg-shlibdeps reads the package's name from a debian/control beside it.
printf 'Source: ostrelin\n\nPackage: ostrelin\nArchitecture: %s\n' "$arch" >"$work/debian/control"
# (Its warnings about the diversions of a merged /usr say nothing about us.)
depends=$(cd "$work" && dpkg-shlibdeps -O -e"${module#"$work"/}" 2>"$work/shlibdeps.log" | sed -n 's/^shlibs:Depends=//p')
grep -vE 'diversions involved|^ diversion by ' "$work/shlibdeps.log" >&2 || true
[ -n "$depends" ] || { echo "package-deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
# libobs's symbols file asks only for the release that brought each symbol;
# the module declares the libobs it was built against, and newer libobs
# refuses a module built for a later one: at least the release's own libobs.
libobs=$(grep -oE 'libobs0[a-z0-9]*' <<<"$depends" | head -n 1)
libobs_version=$(dpkg-query -W -f='${Version}' "$libobs" | sed -E 's/^[0-9]+://; s/[+~-].*//')
depends=$(sed -E "s/$libobs \([^)]*\)/$libobs (>= $libobs_version)/" <<<"$depends")

cat >"$pkg/DEBIAN/control" <<EOF
Package: ostrelin
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$pkg" | cut -f1)
Depends: $depends, obs-studio
Section: video
Priority: optional
Description: phone camera source for OBS Studio
 Ostrelin turns a phone into a live camera for OBS Studio: the phone's app
 sends its pictures and sound over USB (through adb) or Wi-Fi, and an
 Ostrelin source in OBS shows them at once and sends camera controls, such
 as zoom, back to the phone.
EOF
(cd "$pkg" && find usr -type f -printf '%P\n' | sort | sed 's|^|usr/|' | xargs md5sum) >"$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums"

deb=$out/ostrelin_${version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "$deb"
