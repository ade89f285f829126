#!/usr/bin/env bash
# Shows the Ostrelin plug-in at work inside a headless OBS: installs what is
# needed, builds (build/release, CMakePresets.json's "release", the same
# build as scripts/test.sh's), and runs the plug-in in libobs under Xvfb
# against a phone.
#
#   scripts/run.sh                          the reference sender on loopback
#                                           (moving test picture with a tone)
#   scripts/run.sh --host ADDR [--port N]   a phone app over Wi-Fi (--port
#                                           alone: a phone at 127.0.0.1:N)
#   scripts/run.sh --usb [--serial S] [--port N]
#                                           a phone over USB (adb server)
#   options for all: --seconds N (default 10), --png PATH (default
#   ./ostrelin-last-picture.png), --width W --height H (the OBS canvas),
#   --quiet, --verbose
#   scripts/run.sh --build-only             sets up and builds, runs nothing
#
# The exit status is the host's: 0 when OBS received pictures and audio and
# the last picture was written as PNG.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build/release"

usage() {
	sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'
}

host_args=()
phone_given=false
build_only=false
while [ $# -gt 0 ]; do
	case "$1" in
	-h | --help)
		usage
		exit 0
		;;
	--host | --serial | --port)
		[ $# -ge 2 ] || { echo "run.sh: $1 needs a value" >&2; exit 2; }
		phone_given=true
		host_args+=("$1" "$2")
		shift 2
		;;
	--usb)
		phone_given=true
		host_args+=("$1")
		shift
		;;
	--seconds | --png | --width | --height)
		[ $# -ge 2 ] || { echo "run.sh: $1 needs a value" >&2; exit 2; }
		host_args+=("$1" "$2")
		shift 2
		;;
	--build-only)
		build_only=true
		shift
		;;
	--quiet | --verbose)
		host_args+=("$1")
		shift
		;;
	*)
		echo "run.sh: unknown option $1 (see --help)" >&2
		exit 2
		;;
	esac
done

"$repo/scripts/setup.sh" </dev/null

# One build at a time in build/release (a second run waits here). The
# preset names every option, so whatever configured the folder before, the
# tools are built.
mkdir -p "$build"
exec 9>"$build/.run.lock"
flock 9
(cd "$repo" && cmake --preset release </dev/null >/dev/null)
cmake --build "$build" -j "$(nproc)" --target ostrelin ostrelin-sender ostrelin-obs-host </dev/null
flock -u 9
! $build_only || exit 0

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrelin-run-XXXXXX")
sender_pid=""
# shellcheck disable=SC2317 # called from the traps and at the end
stop_sender() {
	if [ -n "$sender_pid" ]; then
		kill -TERM "$sender_pid" 2>/dev/null || true
		wait "$sender_pid" 2>/dev/null || true
		sender_pid=""
	fi
}
# shellcheck disable=SC2317
cleanup() {
	stop_sender
	rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if ! $phone_given; then
	"$build/tools/ostrelin-sender" --port 0 </dev/null >"$work/sender.log" 2>&1 &
	sender_pid=$!
	port=""
	for _ in $(seq 100); do
		port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/sender.log")
		[ -n "$port" ] && break
		kill -0 "$sender_pid" 2>/dev/null || break
		sleep 0.1
	done
	if [ -z "$port" ]; then
		echo "run.sh: the reference sender did not start:" >&2
		cat "$work/sender.log" >&2
		exit 1
	fi
	echo "reference sender listening on 127.0.0.1:$port (test picture with a 1000 Hz tone)"
	host_args+=(--host 127.0.0.1 --port "$port")
fi

status=0
xvfb-run -a "$build/tools/ostrelin-obs-host" "${host_args[@]}" </dev/null || status=$?
stop_sender
exit "$status"
