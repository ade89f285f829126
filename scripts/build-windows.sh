#!/usr/bin/env bash
# Cross-builds the plug-in for 64-bit Windows with mingw-w64 and packs it as
# OBS on Windows finds a plug-in:
#   build/windows/ostrelin.dll
#   build/windows/ostrelin-windows-x64.zip
#     obs-plugins/64bit/ostrelin.dll
#     data/obs-plugins/ostrelin/locale/*.ini
# It compiles against this machine's libobs and FFmpeg headers unless told
# otherwise (see the README: building for another OBS). Extra arguments go to
# CMake's configure step, e.g. -DOSTRELIN_OBS_INCLUDE_DIR=<sdk>/include.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

out=build/windows
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
	-DCMAKE_BUILD_TYPE=Release -DOSTRELIN_WERROR=ON -DOSTRELIN_TESTS=OFF -DOSTRELIN_TOOLS=OFF \
	-DOSTRELIN_BENCH=OFF "$@" >/dev/null
cmake --build "$out" -j "$(nproc)"

tests/windows/check-dll.sh "$out/ostrelin.dll" cmake/windows/ostrelin.def

stage="$out/package"
rm -rf "$stage" "$out/ostrelin-windows-x64.zip"
mkdir -p "$stage/obs-plugins/64bit" "$stage/data/obs-plugins/ostrelin/locale"
cp "$out/ostrelin.dll" "$stage/obs-plugins/64bit/"
cp data/locale/*.ini "$stage/data/obs-plugins/ostrelin/locale/"
(cd "$stage" && zip -q -r -X ../ostrelin-windows-x64.zip obs-plugins data)
echo "built $out/ostrelin.dll and $out/ostrelin-windows-x64.zip"
