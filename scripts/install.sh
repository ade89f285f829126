#!/usr/bin/env bash
# Installs the built Ostrelin plug-in where OBS Studio on Linux finds it.
#
#   scripts/install.sh [--user | --system] [--build-dir DIR]
#
#   --user    (default) for the current user:
#             $XDG_CONFIG_HOME/obs-studio/plugins/ostrelin/bin/64bit/ostrelin.so
#             $XDG_CONFIG_HOME/obs-studio/plugins/ostrelin/data/locale/*.ini
#             $XDG_CONFIG_HOME/obs-studio/plugins/ostrelin/data/manifest.json
#             ($XDG_CONFIG_HOME defaults to ~/.config)
#   --system  for every user (needs root), the packagers' layout:
#             $DESTDIR/usr/lib/<multiarch>/obs-plugins/ostrelin.so
#             $DESTDIR/usr/share/obs/obs-plugins/ostrelin/locale/*.ini
#             $DESTDIR/usr/share/obs/obs-plugins/ostrelin/manifest.json
#   --build-dir DIR
#             install the module built in DIR (default build/user; it is
#             built first when it is not there: the module alone, against
#             the libobs and FFmpeg development files installed, without the
#             tests, the tools or the developers' warnings-as-errors; nothing
#             is installed for it, the missing files are named instead)
#
# The layouts are those of cmake/install.cmake; scripts/uninstall.sh removes
# exactly these files.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
layout=user
build="$repo/build/user"
while [ $# -gt 0 ]; do
	case "$1" in
	--user) layout=user ;;
	--system) layout=system ;;
	--build-dir)
		[ $# -ge 2 ] || { echo "install.sh: --build-dir needs a folder" >&2; exit 2; }
		build=$2
		shift
		;;
	-h | --help)
		sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'
		exit 0
		;;
	*)
		echo "install.sh: unknown option $1 (see --help)" >&2
		exit 2
		;;
	esac
	shift
done

if [ "$layout" = user ]; then
	plugin_dir="${XDG_CONFIG_HOME:-$HOME/.config}/obs-studio/plugins/ostrelin"
	module_dest="$plugin_dir/bin/64bit/ostrelin.so"
	locale_dest="$plugin_dir/data/locale"
else
	multiarch=$(gcc -print-multiarch 2>/dev/null || true)
	module_dest="${DESTDIR:-}/usr/lib/${multiarch:-x86_64-linux-gnu}/obs-plugins/ostrelin.so"
	locale_dest="${DESTDIR:-}/usr/share/obs/obs-plugins/ostrelin/locale"
fi

module="$build/ostrelin.so"
manifest="$build/data/manifest.json"
if [ ! -f "$module" ] || [ ! -f "$manifest" ]; then
	echo "No module in $build yet: building it first."
	mkdir -p "$build"
	# CMakePresets.json's "user", with Ninja when it is there and Makefiles
	# otherwise (the presets name Ninja, which a command-line generator
	# overrides). CMake before 3.25 (Ubuntu 22.04's) reads no presets of
	# this version: the same options are given there by hand.
	generator=Ninja
	command -v ninja >/dev/null || generator="Unix Makefiles"
	configure=(cmake --preset user -G "$generator" -B "$(realpath "$build")")
	if ! (cd "$repo" && cmake --list-presets) >/dev/null 2>&1; then
		configure=(cmake -S "$repo" -B "$(realpath "$build")" -G "$generator" -DCMAKE_BUILD_TYPE=Release -DOSTRELIN_TESTS=OFF
			-DOSTRELIN_TOOLS=OFF -DOSTRELIN_BENCH=OFF)
	fi
	if ! (cd "$repo" && "${configure[@]}") </dev/null >"$build/configure.log" 2>&1; then
		tail -n 15 "$build/configure.log"
		cat >&2 <<'NEEDED'
install.sh: CMake could not configure the build (its own words are above). It needs a C++
compiler, CMake, make or Ninja, pkg-config and the development files of libobs and FFmpeg
(libavcodec, libavutil):
  Debian, Ubuntu:  sudo apt install build-essential cmake ninja-build pkg-config libobs-dev libavcodec-dev libavutil-dev
  Fedora:          sudo dnf install gcc-c++ cmake ninja-build pkgconf-pkg-config obs-studio-devel libavcodec-free-devel libavutil-free-devel
  Arch:            sudo pacman -S --needed base-devel cmake ninja obs-studio ffmpeg
NEEDED
		exit 1
	fi
	cmake --build "$build" -j "$(nproc)" --target ostrelin </dev/null
fi

install -D -m 0755 "$module" "$module_dest"
echo "installed $module_dest"
count=0
for ini in "$repo"/data/locale/*.ini; do
	install -D -m 0644 "$ini" "$locale_dest/${ini##*/}"
	count=$((count + 1))
done
echo "installed $count language files in $locale_dest/"
install -D -m 0644 "$manifest" "${locale_dest%/locale}/manifest.json"
echo "installed ${locale_dest%/locale}/manifest.json"
