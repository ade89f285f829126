#!/usr/bin/env bash
# Ostrelin against OBS Studio 32 on Linux: a Debian unstable root holding OBS
# 32.2.2, libobs 32.2.2 and FFmpeg 9 with their development files, kept in
# build/obs32-root and made again when it is missing or its package list
# changes. Needs root and mmdebstrap (scripts/setup.sh installs it); nothing
# outside build/ changes, the system's apt sources included.
#
#   obs32-root.sh make         make the root if needed; prints its path
#   obs32-root.sh check        build Ostrelin in the root (build/obs32,
#                              warnings as errors) and run its tests there, the
#                              real-OBS test against OBS 32 included; ends with
#                              "obs32: N passed, M failed" (the build is one)
#   obs32-root.sh run CMD...   run CMD in the root, the repository at /src
#
# Commands run in a mount namespace of their own (the root's /proc, /dev, /sys
# and /src mounts vanish with it) and, for check, a network of their own with
# loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
root=$repo/build/obs32-root
stamp=.ostrelin-root

# What the plug-in's build and its tests need, OBS Studio itself included.
packages=(
	obs-studio libobs-dev libavcodec-dev libavutil-dev ffmpeg libx264-dev
	cmake ninja-build g++ pkgconf libgtest-dev libgmock-dev
	xvfb xauth adb python3 python3-websocket imagemagick iproute2 util-linux
)
package_list=$(
	IFS=,
	echo "${packages[*]}"
)

# Debian's mirror, as the system's own apt sources name it.
debian_mirror_url() {
	"$repo/scripts/sid-apt.sh" --mirror
}

make_root() {
	local want="sid $package_list"
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
	local fresh=$root.new started=$SECONDS
	rm -rf "$fresh" "$root"
	mkdir -p "$(dirname "$root")"
	echo "making the Debian unstable root in $root (packages: $package_list)" >&2
	if ! mmdebstrap --quiet --variant=apt --aptopt='Acquire::Check-Valid-Until "false"' \
		--include="$package_list" sid "$fresh" "$(debian_mirror_url)" </dev/null >"$root.log" 2>&1; then
		tail -n 30 "$root.log" >&2
		rm -rf "$fresh"
		return 1
	fi
	mkdir -p "$fresh/src"
	echo "$want" >"$fresh/$stamp"
	mv "$fresh" "$root"
	echo "root made in $((SECONDS - started)) s" >&2
	echo "$root"
}

# in_root [--net-isolated] CMD...: CMD in the root with the repository at /src.
in_root() {
	local unshare=(unshare --mount)
	if [ "$1" = --net-isolated ]; then
		unshare+=(--net)
		shift
	fi
	"${unshare[@]}" sh -euc '
		root=$1 repo=$2
		shift 2
		ip link set lo up 2>/dev/null || true
		mount --rbind /dev "$root/dev"
		mount -t proc proc "$root/proc"
		mount --rbind /sys "$root/sys"
		mount -t tmpfs tmpfs "$root/tmp"
		mount --bind "$repo" "$root/src"
		exec chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
			HOME=/root LANG=C.UTF-8 "$@"' sh "$root" "$repo" "$@"
}

check() {
	make_root >/dev/null
	local jobs log=build/obs32/ctest-summary.log
	jobs=$(nproc)
	mkdir -p build/obs32
	in_root dpkg-query -W -f='${Package} ${Version}\n' obs-studio libobs-dev libavcodec-dev g++ |
		sed 's/^/obs32 root: /'
	local started=$SECONDS
	if ! in_root --net-isolated sh -ec "cd /src
		cmake -S . -B build/obs32 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRELIN_WERROR=ON \
			-DOSTRELIN_BENCH=OFF >/dev/null
		cmake --build build/obs32 -j $jobs"; then
		echo "obs32 build: FAILED"
		echo "obs32: 0 passed, 1 failed"
		return 1
	fi
	echo "obs32 build: ok ($((SECONDS - started)) s)"
	local status=0
	in_root --net-isolated ctest --test-dir /src/build/obs32 -j "$jobs" --output-on-failure </dev/null | tee "$log" ||
		status=1
	local line total fails
	line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
	if [ -z "$line" ]; then
		echo "obs32: 1 passed, 1 failed"
		return 1
	fi
	total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
	fails=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
	echo "obs32: $((total - fails + 1)) passed, $fails failed"
	return $status
}

case "${1:-}" in
make) make_root ;;
check) check ;;
run)
	shift
	make_root >/dev/null
	in_root "$@"
	;;
*)
	echo "usage: $0 make | check | run CMD..." >&2
	exit 2
	;;
esac
