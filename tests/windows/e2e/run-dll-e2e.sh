#!/usr/bin/env bash
# Runs the Windows plug-in end to end under Wine against each libobs
# generation of the stand-in obs.dll (tests/windows/CMakeLists.txt): the real
# ostrelin.dll and that stand-in in one folder with the dll-e2e harness and no
# FFmpeg DLL, each case against the reference sender running natively on
# loopback (Wine's Winsock reaches it), or the harness itself as the phone,
# sending a fixture whose pictures must be ffmpeg's decode. For each generation it first checks
# that the folder holds no FFmpeg DLL and that the stand-in exports exactly the
# module's import list (plus its own standin_* calls).
#   obs29    libobs 29.0.2's headers, built as 29.0.2: every case
#   obs32    libobs 32.2.2's headers, built as 32.2.2: every case
#   obs32.1  libobs 32.2.2's headers, built as 32.1.0 (OBS 32.0 and 32.1's
#            version gate): the stream case
# The last line reads "dll-e2e: N passed, M failed", one count per case.
#   run-dll-e2e.sh <windows test build> <ostrelin.dll> <ostrelin-sender> [<generation>...]
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "$1" && pwd)
dll=$2
sender=$3
shift 3
generations=("$@")
[ ${#generations[@]} -gt 0 ] || generations=(obs29 obs32 obs32.1)

. "$root/tests/windows/wine-env.sh" "$build"
CHECKS_SAY_OK=yes
. "$root/scripts/lib/common.sh"

# case: the sender's extra options; "-": the case needs no sender (the
# harness plays the phone itself, streaming a fixture).
cases=(
	"stream|"
	"bad-magic|--bad-magic"
	"bad-codec|--bad-codec 3"
	"oversize|--oversize"
	"silent|--handshake-only"
	"h264|-"
	"h265|-"
)
run_case() {
	local name=$1 options=$2 port=0 out="$run/sender-$1.out" pid="" isolate=()
	[ "$name" = usb ] && [ "$#" -gt 2 ] && isolate=("${@:3}")
	if [ "$name" != usb ] && [ "$options" != - ]; then
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
	grep -E '^(FAILED|usb:|stream: statistics)' "$run/$name.log"
	tail -n 1 "$run/$name.log"
	check "dll-e2e $generation $name (Wine)" [ "$code" -eq 0 ]
}

listed=$(grep -E '^[A-Za-z_]' "$root/cmake/windows/obs.symbols" | sort)
# The differences, if any, go to stderr.
same_exports() { diff <(echo "$listed") <(echo "$exports") >&2; }
for generation in "${generations[@]}"; do
	run="$build/dll-e2e-$generation"
	rm -rf "$run"
	mkdir -p "$run/data/locale" "$run/config"
	cp "$build/$generation/dll-e2e.exe" "$build/$generation/obs.dll" "$dll" "$run/"
	cp "$root"/data/locale/*.ini "$run/data/locale/"

	dlls=$(cd "$run" && ls ./*.dll | sed 's:^\./::' | tr '[:upper:]' '[:lower:]' | sort | paste -sd' ')
	check "dll-e2e $generation: the folder holds obs.dll and ostrelin.dll only ($dlls)" [ "$dlls" = "obs.dll ostrelin.dll" ]
	exports=$(x86_64-w64-mingw32-objdump -p "$run/obs.dll" |
		sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NR > 1 && NF { print $NF }' | grep -v '^standin_' | sort)
	check "dll-e2e $generation: the stand-in obs.dll exports the module's import list" same_exports

	if [ "$generation" = obs32.1 ]; then
		run_case stream ""
		continue
	fi
	for c in "${cases[@]}"; do
		run_case "${c%%|*}" "${c#*|}"
	done
	# USB mode with nothing on the adb server's port: the forward is refused.
	# An adb server that anything on this machine starts meanwhile (a test of
	# the adb client does) would answer instead, so the case gets a network
	# namespace of its own, with only a loopback, wherever one can be made
	# (as root); otherwise it runs here while no adb server listens.
	if unshare -n true 2>/dev/null; then
		run_case usb "" unshare -n sh -c 'ip link set lo up && exec "$@"' sh
	elif ! ss -ltn 2>/dev/null | grep -q '127.0.0.1:5037 '; then
		run_case usb ""
	else
		echo "dll-e2e usb: an adb server is listening on 127.0.0.1:5037 and no network namespace can be made"
		check "dll-e2e $generation usb (Wine)" false
	fi
done
checks_summary dll-e2e
