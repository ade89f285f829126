#!/usr/bin/env bash
# Installs every package that building, testing and running Ostrelin needs.
# Idempotent and quiet when everything is already there; needs root (or sudo).
set -euo pipefail

packages=(
	build-essential cmake ninja-build pkg-config clang-format
	libobs-dev libavcodec-dev libavutil-dev ffmpeg libx264-dev
	libgtest-dev libgmock-dev libbenchmark-dev
	xvfb xauth adb obs-studio
	g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
	wine wine64 zip nasm nsis
	python3 python3-websocket imagemagick iproute2 util-linux
	clang libclang-rt-14-dev libfuzzer-14-dev obs-plugins python3-matplotlib
	mmdebstrap lintian
)

missing=()
for pkg in "${packages[@]}"; do
	if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
		missing+=("$pkg")
	fi
done

if [ ${#missing[@]} -eq 0 ]; then
	exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
	sudo="sudo"
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq </dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
