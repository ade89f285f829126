#!/usr/bin/env bash
# Roots of other Debian releases, made with mmdebstrap and kept in
# build/<name>-root; each is made again when it is missing or its package list
# or mmdebstrap's options change. Needs root and mmdebstrap (scripts/setup.sh
# installs it); nothing outside build/ changes, the system's apt sources
# included.
#
# Build roots, with OBS Studio, libobs, FFmpeg and their development files:
#   obs30     Debian 13 ("trixie"): OBS 30.2.3, FFmpeg 7.1
#   obs32     Debian unstable: OBS 32.2.2, FFmpeg 9
# Clean roots, as a user's machine before Ostrelin: apt, and only what the
# real-OBS test itself needs (a display, a websocket client, imagemagick);
# OBS Studio's packages are downloaded into apt's cache, not installed:
#   deb12     Debian 12 ("bookworm")
#   deb13     Debian 13 ("trixie")
#   sid       Debian unstable
#
#   debian-root.sh NAME make         make the root if needed; prints its path
#   debian-root.sh NAME check        (build roots) build Ostrelin in the root
#                                    (build/NAME, warnings as errors) and run
#                                    its tests there, the real-OBS test
#                                    included; ends with "NAME: N passed,
#                                    M failed" (the build is one)
#   debian-root.sh NAME run CMD...   run CMD in the root, the repository at /src
#   debian-root.sh NAME try CMD...   run CMD in a throwaway copy of the root
#                                    (an overlay: the root itself stays as made)
#
# Commands run in a mount namespace of their own (the root's /proc, /dev, /sys
# and /src mounts vanish with it); check's build and tests run in a network of
# their own with loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
. scripts/lib/common.sh
stamp=.ostrelin-root

usage() {
	echo "usage: $0 obs30|obs32|deb12|deb13|sid make | check | run CMD... | try CMD..." >&2
	exit 2
}
[ $# -ge 2 ] || usage
name=$1
command=$2
shift 2

# What the plug-in's build and its tests need, OBS Studio itself included.
build_packages=(
	obs-studio libobs-dev libavcodec-dev libavutil-dev ffmpeg libx264-dev
	cmake ninja-build g++ pkgconf libgtest-dev libgmock-dev dpkg-dev
	xvfb xauth adb python3 python3-websocket imagemagick iproute2 util-linux
)
# What the real-OBS test needs beside OBS Studio.
test_packages=(xvfb xauth python3 python3-websocket imagemagick iproute2 util-linux)

case "$name" in
obs30) suite=trixie kind=build ;;
obs32) suite=sid kind=build ;;
deb12) suite=bookworm kind=clean ;;
deb13) suite=trixie kind=clean ;;
sid) suite=sid kind=clean ;;
*) usage ;;
esac
root=$repo/build/$name-root
if [ "$kind" = build ]; then
	packages=("${build_packages[@]}")
	# patchelf renames libobs in a throwaway copy of the unstable root, the
	# way OBS's own builds and the Flatpak name it (tests/portable/).
	[ "$name" != obs32 ] || packages+=(patchelf)
else
	packages=("${test_packages[@]}")
fi
package_list=$(
	IFS=,
	echo "${packages[*]}"
)

# Debian's mirror, as the system's own apt sources name it.
debian_mirror_url() {
	"$repo/scripts/sid-apt.sh" --mirror
}

# mmdebstrap's options, the stamp's too. dpkg skips its fsync calls in the
# root (a throwaway copy's apt installs go faster; the root is made again
# rather than repaired).
root_options=(--variant=apt --aptopt='Acquire::Check-Valid-Until "false"' --dpkgopt=force-unsafe-io)

make_root() {
	local want="$suite $kind $package_list ${root_options[*]}"
	if [ -f "$root/$stamp" ] && [ "$(cat "$root/$stamp")" = "$want" ]; then
		echo "$root"
		return
	fi
	command -v mmdebstrap >/dev/null || {
		echo "mmdebstrap is missing (see scripts/setup.sh)" >&2
		return 1
	}
	# Made beside its place and moved there whole, so that a broken attempt
	# never passes for a root.
	local fresh=$root.new started=$SECONDS options=()
	rm -rf "$fresh" "$root"
	mkdir -p "$(dirname "$root")"
	if [ "$kind" = clean ]; then
		# A clean root keeps apt's package lists and cache, so that installing
		# a package into it needs no "apt-get update" first.
		options=(--skip=cleanup/apt/lists,cleanup/apt/cache)
	fi
	echo "making the Debian $suite root in $root (packages: $package_list)" >&2
	if ! mmdebstrap --quiet "${root_options[@]}" "${options[@]}" \
		--include="$package_list" "$suite" "$fresh" "$(debian_mirror_url)" </dev/null >"$root.log" 2>&1; then
		tail -n 30 "$root.log" >&2
		rm -rf "$fresh"
		return 1
	fi
	mkdir -p "$fresh/src"
	if [ "$kind" = clean ] && ! in_root_at "$fresh" "" apt-get install -qq --download-only -y obs-studio \
		</dev/null >>"$root.log" 2>&1; then
		tail -n 30 "$root.log" >&2
		rm -rf "$fresh"
		return 1
	fi
	echo "$want" >"$fresh/$stamp"
	mv "$fresh" "$root"
	echo "root $name made in $((SECONDS - started)) s" >&2
	echo "$root"
}

# in_root_at ROOT OPTIONS CMD...: CMD in ROOT with the repository at /src.
# OPTIONS: "" or any of "net-isolated", "overlay" (the root's changes go to a
# temporary upper layer that vanishes afterwards).
in_root_at() {
	local at=$1 options=$2 unshare=(unshare --mount) upper=""
	shift 2
	case " $options " in *" net-isolated "*) unshare+=(--net) ;; esac
	case " $options " in *" overlay "*) upper=$(mktemp -d "$repo/build/$name-try.XXXXXX") ;; esac
	local status=0
	"${unshare[@]}" sh -euc '
		root=$1 repo=$2 upper=$3
		shift 3
		ip link set lo up 2>/dev/null || true
		if [ -n "$upper" ]; then
			mkdir "$upper/upper" "$upper/work" "$upper/merged"
			mount -t overlay overlay -o "lowerdir=$root,upperdir=$upper/upper,workdir=$upper/work" "$upper/merged"
			root=$upper/merged
		fi
		mount --rbind /dev "$root/dev"
		mount -t proc proc "$root/proc"
		mount --rbind /sys "$root/sys"
		mount -t tmpfs tmpfs "$root/tmp"
		mount --bind "$repo" "$root/src"
		exec chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
			HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"' sh "$at" "$repo" "$upper" "$@" || status=$?
	[ -z "$upper" ] || rm -rf "$upper"
	return $status
}

in_root() {
	local options=""
	if [ "${1:-}" = --net-isolated ]; then
		options=net-isolated
		shift
	fi
	in_root_at "$root" "$options" "$@"
}

# The build counts as one check, each test as one (the library's counter).
build_and_test() {
	[ "$kind" = build ] || usage
	make_root >/dev/null
	local jobs log=build/$name/ctest-summary.log
	jobs=$(nproc)
	mkdir -p "build/$name"
	in_root dpkg-query -W -f='${Package} ${Version}\n' obs-studio libobs-dev libavcodec-dev g++ |
		sed "s/^/$name root: /"
	local started=$SECONDS
	# The preset of the root's name (CMakePresets.json), read by the root's
	# own CMake.
	check "$name build" in_root --net-isolated sh -ec "cd /src
		cmake --preset $name >/dev/null
		cmake --build build/$name -j $jobs"
	if [ "$checks_failed" -ne 0 ]; then
		checks_summary "$name"
		return
	fi
	echo "$name build: ok ($((SECONDS - started)) s)"
	started=$SECONDS
	in_root --net-isolated ctest --test-dir "/src/build/$name" -j "$jobs" --output-on-failure </dev/null | tee "$log" ||
		true
	echo "$name tests: $((SECONDS - started)) s"
	local passed fails
	if read -r passed fails < <(ctest_counts "$log"); then
		checks_add "$passed" "$fails"
	else
		check "$name tests: a ctest summary in $log" false
	fi
	checks_summary "$name"
}

case "$command" in
make) make_root ;;
check) build_and_test ;;
run)
	make_root >/dev/null
	in_root "$@"
	;;
try)
	make_root >/dev/null
	in_root_at "$root" overlay "$@"
	;;
*) usage ;;
esac
