#!/usr/bin/env bash
# Runs the Windows plug-in end to end under Wine: the real ostrelin.dll, the
# stand-in obs.dll and FFmpeg's Windows DLLs in one folder with the dll-e2e
# harness, each case against the reference sender running natively on
# loopback (Wine's Winsock reaches it). First checks that the stand-in exports
# exactly the module's import list (plus its own standin_* calls).
# The last line reads "dll-e2e: N passed, M failed", one count per case.
#   run-dll-e2e.sh <windows test build> <ostrelin.dll> <FFmpeg DLL folder> <ostrelin-sender>
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "$1" && pwd)
dll=$2
ffmpeg=$3
sender=$4

export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

run="$build/dll-e2e"
rm -rf "$run"
mkdir -p "$run/data/locale" "$run/config"
cp "$build/dll-e2e.exe" "$build/obs.dll" "$dll" "$ffmpeg"/avcodec-*.dll "$ffmpeg"/avutil-*.dll "$run/"
cp "$root"/data/locale/*.ini "$run/data/locale/"

passed=0
failed=0
count() {
	if [ "$2" -eq 0 ]; then
		passed=$((passed + 1))
		echo "$1: ok"
	else
		failed=$((failed + 1))
		echo "$1: FAILED"
	fi
}

exports=$(x86_64-w64-mingw32-objdump -p "$run/obs.dll" |
	sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NR > 1 && NF { print $NF }' | grep -v '^standin_' | sort)
listed=$(grep -E '^[A-Za-z_]' "$root/cmake/windows/obs.symbols" | sort)
diff <(echo "$listed") <(echo "$exports") >&2
count "stand-in obs.dll exports the module's import list" $?

# case: the sender's extra options.
cases=(
	"stream|"
	"bad-magic|--bad-magic"
	"oversize|--oversize"
	"silent|--handshake-only"
)
run_case() {
	local name=$1 options=$2 port=0 out="$run/sender-$1.out" pid="" isolate=()
	[ "$name" = usb ] && [ "$#" -gt 2 ] && isolate=("${@:3}")
	if [ "$name" != usb ]; then
		: >"$out" # there before the loop below reads it
		# shellcheck disable=SC2086
		"$sender" --port 0 --width 320 --height 180 --fps 30 $options >"$out" 2>"$run/sender-$name.err" &
		pid=$!
		for _ in $(seq 100); do
			port=$(sed -nE 's/^listening on [0-9.]+:([0-9]+)$/\1/p' "$out")
			[ -n "$port" ] && break
			sleep 0.1
		done
	else
		: >"$out"
	fi
	timeout 180 "${isolate[@]}" wine "$run/dll-e2e.exe" "$name" "${port:-0}" "Z:${out//\//\\}" </dev/null >"$run/$name.log" 2>&1
	local code=$?
	[ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
	grep -E '^(FAILED|usb:)' "$run/$name.log"
	tail -n 1 "$run/$name.log"
	count "dll-e2e $name (Wine)" $code
}
for c in "${cases[@]}"; do
	run_case "${c%%|*}" "${c#*|}"
done
# USB mode with nothing on the adb server's port: the forward is refused. When
# this machine runs an adb server, the case gets a network namespace of its
# own, with only a loopback (needs root).
if ! ss -ltn 2>/dev/null | grep -q '127.0.0.1:5037 '; then
	run_case usb ""
elif unshare -n true 2>/dev/null; then
	run_case usb "" unshare -n sh -c 'ip link set lo up && exec "$@"' sh
else
	echo "dll-e2e usb: an adb server is listening on 127.0.0.1:5037 and no network namespace can be made"
	count "dll-e2e usb (Wine)" 1
fi
echo "dll-e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
